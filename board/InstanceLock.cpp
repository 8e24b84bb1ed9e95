#include "board/InstanceLock.h"

#include <fcntl.h>
#include <unistd.h>

namespace board {

bool InstanceLock::take(const std::string& path, int& holderPid)
{
    holderPid = 0;
    // Only the first program ever started on the root creates the file; a second one opens
    // it and writes nothing.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);   // never waits on a pipe there
    if (fd < 0)
        return true;
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(fd, F_SETLK, &lock) == 0)
        return true;              // kept open: closing it would drop the lock
    struct flock holder {};
    holder.l_type = F_WRLCK;
    holder.l_whence = SEEK_SET;
    if (::fcntl(fd, F_GETLK, &holder) == 0 && holder.l_type != F_UNLCK)
        holderPid = int(holder.l_pid);
    ::close(fd);
    return false;
}

} // namespace board

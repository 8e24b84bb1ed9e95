#include "core/store_room.h"

#include "board/Files.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

uint64_t StoreRoom::s_held = 0;
uint32_t StoreRoom::s_applied = 0;
bool StoreRoom::s_para = false;
bool StoreRoom::s_modes = false;

std::mutex& StoreRoom::lock()
{
    static std::mutex m;
    return m;
}

// The held file is made exactly `bytes` long with its blocks allocated (a sparse file holds
// nothing); false when the disc would not take it.
bool StoreRoom::resize(uint64_t bytes)
{
    const std::string path = board::Files::map(std::string(kPath));
    if (bytes == 0) {
        ::unlink(path.c_str());
        s_held = 0;
        return true;
    }
    if (bytes > s_held && board::Files::freeSpace(kPath) < bytes - s_held)
        return false;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    bool ok;
    if (bytes < s_held) {
        ok = ::ftruncate(fd, off_t(bytes)) == 0;
    } else {
        ok = ::posix_fallocate(fd, 0, off_t(bytes)) == 0;
        if (!ok) {
            // A file system without allocation calls: the bytes written out.
            std::vector<char> zeros(bytes - s_held, 0);
            ok = ::pwrite(fd, zeros.data(), zeros.size(), off_t(s_held)) == ssize_t(zeros.size());
        }
        ok = ok && ::fsync(fd) == 0;
        // Back to what was held; what a failed truncation leaves goes with the hold.
        if (!ok && ::ftruncate(fd, off_t(s_held)) != 0)
            s_held = bytes;
    }
    ::close(fd);
    if (ok)
        s_held = bytes;
    return ok;
}

int StoreRoom::hold(uint64_t bytes, bool modes, uint32_t applied)
{
    std::lock_guard<std::mutex> hold(lock());
    // A new promise replaces the old: its look at the disc counted the old hold as taken.
    resize(0);
    if (!resize(bytes)) {
        resize(0);
        s_para = s_modes = false;
        return ENOSPC;
    }
    s_applied = applied;
    s_para = true;
    s_modes = modes;
    return 0;
}

uint64_t StoreRoom::lend(uint64_t size)
{
    std::lock_guard<std::mutex> hold(lock());
    const uint64_t lent = std::min(size, s_held);
    if (lent)
        resize(s_held - lent);
    return lent;
}

void StoreRoom::settle(uint64_t lent, bool replaced)
{
    std::lock_guard<std::mutex> hold(lock());
    // Only while stores are still to come; a file that could not grow back holds less.
    if (lent && replaced && (s_para || s_modes))
        resize(s_held + lent);
}

void StoreRoom::para_saved(uint32_t applied, bool whole)
{
    std::lock_guard<std::mutex> hold(lock());
    if (s_para && (whole || applied != s_applied)) {
        s_para = false;
        drop_if_done();
    }
}

void StoreRoom::modes_synced()
{
    std::lock_guard<std::mutex> hold(lock());
    if (s_modes) {
        s_modes = false;
        drop_if_done();
    }
}

void StoreRoom::drop_if_done()
{
    if (!s_para && !s_modes)
        resize(0);
}

void StoreRoom::drop()
{
    std::lock_guard<std::mutex> hold(lock());
    s_para = s_modes = false;
    resize(0);
}

uint64_t StoreRoom::held()
{
    std::lock_guard<std::mutex> hold(lock());
    return s_held;
}

#include "board/Clock.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace board {

PassWake::PassWake() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

PassWake::~PassWake()
{
    if (fd_ >= 0)
        ::close(fd_);
}

void PassWake::end()
{
    // One write per pause ended, however many threads end it.
    if (!pending_.exchange(true) && fd_ >= 0) {
        const uint64_t one = 1;
        if (::write(fd_, &one, sizeof one) < 0) {
            // The counter cannot overflow at one write per pause; nothing to recover.
        }
    }
}

void PassWake::drain()
{
    uint64_t count = 0;
    if (::read(fd_, &count, sizeof count) < 0) {
        // Nothing written yet (an end() under way): its write ends the next pause early.
    }
}

bool PassWake::pollMs(uint64_t milliseconds)
{
    if (fd_ < 0) {
        Clock::sleepMs(milliseconds);            // no descriptor: a plain pause
        return pending_.exchange(false);
    }
    if (pending_.load()) {
        drain();
    } else {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, int(milliseconds)) > 0)
            drain();
    }
    return pending_.exchange(false);
}

} // namespace board

#include "tests/support/LockWaiter.h"

#include "tests/support/Emulation.h"

#include <chrono>
#include <fstream>
#include <sys/syscall.h>
#include <unistd.h>

namespace kel_test {

namespace {

// The scheduler state of a thread of this process ('S' sleeping, 'R' running ...).
char threadState(long tid)
{
    std::ifstream f("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string line;
    std::getline(f, line);
    const size_t close = line.rfind(')');   // the name may hold spaces and parentheses
    return close != std::string::npos && close + 2 < line.size() ? line[close + 2] : '?';
}

// The system call a sleeping thread is in, -1 when it cannot be read.
long threadSyscall(long tid)
{
    std::ifstream f("/proc/self/task/" + std::to_string(tid) + "/syscall");
    long nr = -1;
    f >> nr;
    return f ? nr : -1;
}

} // namespace

LockWaiter::LockWaiter(std::function<void()> writer)
    : thread_([this, writer] {
          tid_ = currentThreadId();
          writer();
          done_ = true;
      })
{
}

LockWaiter::~LockWaiter() { join(); }

void LockWaiter::join()
{
    if (thread_.joinable())
        thread_.join();
}

bool LockWaiter::waitsOnLock(std::string* why)
{
    for (int i = 0; i < 10000 && !tid_ && !done_; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return sleepsOnLock(tid_, &done_, why);
}

long currentThreadId() { return long(::syscall(SYS_gettid)); }

bool sleepsOnLock(long tid, const std::atomic<bool>* done, std::string* why)
{
    for (int i = 0; i < 10000; ++i) {
        if (done && *done) {
            if (why)
                *why = "the writer finished while the lock was held";
            return false;
        }
        // Under qemu-user the kernel reports the emulator's own call numbers, so there
        // sleeping at all is taken as the wait.
        if (tid && threadState(tid) == 'S' && (underEmulation() || threadSyscall(tid) == SYS_futex))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (why)
        *why = "the thread neither finished nor waited on a lock";
    return false;
}

} // namespace kel_test

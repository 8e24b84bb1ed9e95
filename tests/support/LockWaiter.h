#pragma once
// A writer run on a thread of its own while the test holds a lock, and a wait that ends
// once that thread sleeps in the kernel on a held lock (a futex): no guessed sleep decides
// whether the writer "had time" to get there.

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace kel_test {

// The kernel's number of the calling thread.
long currentThreadId();
// Waits until thread tid sleeps on a held lock: true then; false (with the reason in *why)
// when *done is set first, or after about ten seconds without either.
bool sleepsOnLock(long tid, const std::atomic<bool>* done = nullptr, std::string* why = nullptr);

class LockWaiter {
public:
    explicit LockWaiter(std::function<void()> writer);
    ~LockWaiter();   // joins
    LockWaiter(const LockWaiter&) = delete;
    LockWaiter& operator=(const LockWaiter&) = delete;

    // True once the writer sleeps on a lock before it has finished; false (with the reason
    // in *why) when it finished first, i.e. it took nothing the test holds, or after about
    // ten seconds without either.
    bool waitsOnLock(std::string* why = nullptr);
    bool finished() const { return done_; }
    void join();

private:
    std::atomic<long> tid_{0};
    std::atomic<bool> done_{false};
    std::thread thread_;
};

} // namespace kel_test

#pragma once
// A thread of its own that runs jobs one after the other, in the order in
// which they were posted. The senders use one each, so that a send never
// blocks the window and never overlaps another send of the same client.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace dz::peer {

class TWorker {
public:
    explicit TWorker(const char *name);
    // Drops what still waits, lets the running job end, and joins.
    ~TWorker();
    TWorker(const TWorker &) = delete;
    TWorker &operator=(const TWorker &) = delete;

    // Any thread: runs job on the worker after everything posted before.
    // Dropped once the worker is stopping.
    void Post(std::function<void()> job);
    // Any thread but the worker's: runs fn on the worker, after what was
    // posted before, and waits for it.
    void Call(const std::function<void()> &fn);
    // Drops the jobs that have not started.
    void DropPending();
    // Nothing waits and nothing runs.
    bool Idle() const;
    // Waits until Idle(), at most limit; true when it became idle.
    bool WaitIdle(std::chrono::milliseconds limit) const;

private:
    void Run(const char *name);

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::deque<std::function<void()>> jobs_;
    bool running_ = false;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace dz::peer

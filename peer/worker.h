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
    // Drops the posted jobs that still wait, runs the Call jobs that wait
    // (their callers are answered), lets the running job end, and joins.
    ~TWorker();
    TWorker(const TWorker &) = delete;
    TWorker &operator=(const TWorker &) = delete;

    // Any thread: runs job on the worker after everything posted before.
    // Dropped once the worker is stopping.
    void Post(std::function<void()> job);
    // Any thread but the worker's: runs fn on the worker, after what was
    // posted before, and waits for it. Never dropped, also while stopping.
    void Call(const std::function<void()> &fn);
    // Drops the posted jobs that have not started (never a Call's).
    void DropPending();
    // Nothing waits and nothing runs.
    bool Idle() const;
    // Jobs that wait (not the running one).
    std::size_t PendingCount() const;
    // Waits until Idle(), at most limit; true when it became idle.
    bool WaitIdle(std::chrono::milliseconds limit) const;

private:
    void Run(const char *name);

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    struct TJob {
        std::function<void()> run;
        bool call = false; // someone waits for it: never dropped
    };
    void DropPosted();

    std::deque<TJob> jobs_;
    bool running_ = false;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace dz::peer

#include "worker.h"

#include <pthread.h>

namespace dz::peer {

TWorker::TWorker(const char *name)
{
    thread_ = std::thread([this, name] { Run(name); });
}

TWorker::~TWorker()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        DropPosted();
    }
    changed_.notify_all();
    thread_.join();
}

void TWorker::Run(const char *name)
{
    pthread_setname_np(pthread_self(), name);
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
        if (jobs_.empty())
            return; // stopping, and nothing left that must run
        std::function<void()> job = std::move(jobs_.front().run);
        jobs_.pop_front();
        running_ = true;
        lock.unlock();
        try {
            job();
        } catch (...) {
            // A job reports its own failures.
        }
        job = nullptr; // what it captured goes on this thread
        lock.lock();
        running_ = false;
        changed_.notify_all();
    }
}

void TWorker::Post(std::function<void()> job)
{
    {
        std::lock_guard lock(mutex_);
        if (stopping_)
            return;
        jobs_.push_back({std::move(job), false});
    }
    changed_.notify_all();
}

void TWorker::Call(const std::function<void()> &fn)
{
    std::mutex doneMutex;
    std::condition_variable doneSignal;
    bool done = false;
    {
        std::lock_guard lock(mutex_);
        // Runs even while stopping: making and freeing what lives on the
        // worker must not be skipped.
        jobs_.push_back({[&] {
                             // Answered also when fn throws.
                             struct TAnswer {
                                 std::mutex &m;
                                 std::condition_variable &c;
                                 bool &d;
                                 ~TAnswer()
                                 {
                                     std::lock_guard doneLock(m);
                                     d = true;
                                     c.notify_all();
                                 }
                             } answer {doneMutex, doneSignal, done};
                             fn();
                         },
                         true});
    }
    changed_.notify_all();
    std::unique_lock doneLock(doneMutex);
    doneSignal.wait(doneLock, [&] { return done; });
}

void TWorker::DropPending()
{
    std::lock_guard lock(mutex_);
    DropPosted();
    changed_.notify_all();
}

void TWorker::DropPosted()
{
    std::erase_if(jobs_, [](const TJob &job) { return !job.call; });
}

bool TWorker::Idle() const
{
    std::lock_guard lock(mutex_);
    return jobs_.empty() && !running_;
}

std::size_t TWorker::PendingCount() const
{
    std::lock_guard lock(mutex_);
    return jobs_.size();
}

bool TWorker::WaitIdle(std::chrono::milliseconds limit) const
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return jobs_.empty() && !running_; });
}

} // namespace dz::peer

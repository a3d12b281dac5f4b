#include "orderedwork.h"

#include <utility>

namespace dz::peer {

TOrderedWork::TOrderedWork(TRunner runner)
    : runner_(std::move(runner)), shared_(std::make_shared<TShared>()), thread_(dz::net::CurrentThread())
{
    shared_->owner = this;
}

TOrderedWork::~TOrderedWork()
{
    // Drains already posted find no owner and do nothing; items still
    // waiting are dropped with the shared state.
    std::lock_guard lock(shared_->mutex);
    shared_->owner = nullptr;
    shared_->closed = true;
}

void TOrderedWork::Close()
{
    std::lock_guard lock(shared_->mutex);
    shared_->closed = true;
    shared_->pending.clear();
}

void TOrderedWork::Submit(std::function<void()> work)
{
    {
        std::lock_guard lock(shared_->mutex);
        if (shared_->closed)
            return;
        shared_->pending.push_back(std::move(work));
    }
    PostDrain();
}

void TOrderedWork::PostDrain()
{
    const std::weak_ptr<TShared> weak = shared_;
    dz::net::PostToThread(thread_, [weak] {
        const std::shared_ptr<TShared> shared = weak.lock();
        if (!shared)
            return;
        TOrderedWork *owner;
        {
            std::lock_guard lock(shared->mutex);
            owner = shared->owner;
        }
        if (owner)
            owner->Drain();
    });
}

void TOrderedWork::Drain()
{
    if (running_)
        return;
    running_ = true;
    for (;;) {
        std::function<void()> work;
        {
            std::lock_guard lock(shared_->mutex);
            if (shared_->closed || shared_->pending.empty())
                break;
            work = std::move(shared_->pending.front());
            shared_->pending.pop_front();
        }
        try {
            if (runner_)
                runner_(work);
            else
                work();
        } catch (...) {
            // The runner reports; nothing may stop the queue.
        }
        std::lock_guard lock(shared_->mutex);
        ++shared_->done;
    }
    running_ = false;
}

std::uint64_t TOrderedWork::DoneCount() const
{
    std::lock_guard lock(shared_->mutex);
    return shared_->done;
}

std::size_t TOrderedWork::PendingCount() const
{
    std::lock_guard lock(shared_->mutex);
    return shared_->pending.size();
}

} // namespace dz::peer

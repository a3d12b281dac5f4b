#include "OrderedWork.h"

#include <QTimer>

#include <algorithm>
#include <utility>

namespace {

// How often a held item looks again whether its predecessors have come.
constexpr int kRecheckMs = 20;

} // namespace

TOrderedWork::TOrderedWork(std::vector<TLiveNumbers> liveNumbers, TRunner runner,
                           std::chrono::milliseconds holdLimit)
    : liveNumbers_(std::move(liveNumbers)), runner_(std::move(runner)), holdLimit_(holdLimit),
      shared_(std::make_shared<TShared>()), thread_(dz::net::CurrentThread()),
      recheck_(std::make_unique<QTimer>())
{
    shared_->owner = this;
    recheck_->setSingleShot(true);
    recheck_->setInterval(kRecheckMs);
    QObject::connect(recheck_.get(), &QTimer::timeout, [this] { Drain(); });
}

TOrderedWork::~TOrderedWork()
{
    // Drains already posted find no owner and do nothing; items still
    // waiting are dropped with the shared state.
    shared_->owner = nullptr;
}

void TOrderedWork::Close()
{
    std::lock_guard lock(shared_->mutex);
    shared_->closed = true;
    shared_->pending.clear();
}

void TOrderedWork::Submit(std::uint64_t acceptNumber, std::function<void()> work)
{
    {
        std::lock_guard lock(shared_->mutex);
        if (shared_->closed)
            return;
        shared_->pending[acceptNumber] = TItem{std::move(work), std::chrono::steady_clock::now()};
        shared_->submitted.insert(acceptNumber);
    }
    PostDrain();
}

void TOrderedWork::PostDrain()
{
    const std::weak_ptr<TShared> weak = shared_;
    dz::net::PostToThread(thread_, [weak] {
        if (const std::shared_ptr<TShared> shared = weak.lock())
            if (shared->owner != nullptr)
                shared->owner->Drain();
    });
}

TOrderedWork::TBusy::TBusy(TOrderedWork &work) : work_(work)
{
    ++work_.busy_;
}

TOrderedWork::TBusy::~TBusy()
{
    // Posted rather than run here, so the operation that was busy finishes
    // (logs its own line, ...) before anything that arrived meanwhile.
    if (--work_.busy_ == 0)
        work_.PostDrain();
}

bool TOrderedWork::TakeNext(std::function<void()> &work, bool &held)
{
    // Accepts happen on this thread, so no connection appears between
    // reading these numbers and looking at the queue.
    std::vector<std::uint64_t> live;
    for (const TLiveNumbers &numbers : liveNumbers_) {
        const std::vector<std::uint64_t> some = numbers();
        live.insert(live.end(), some.begin(), some.end());
    }
    std::sort(live.begin(), live.end());

    std::lock_guard lock(shared_->mutex);
    if (shared_->closed)
        return false;
    // A connection that is no longer live blocks nothing, submitted or not.
    for (auto it = shared_->submitted.begin(); it != shared_->submitted.end();)
        it = std::binary_search(live.begin(), live.end(), *it) ? std::next(it) : shared_->submitted.erase(it);
    if (shared_->pending.empty())
        return false;
    auto head = shared_->pending.begin();
    const bool blocked = std::any_of(live.begin(), live.end(), [&](std::uint64_t n) {
        return n < head->first && shared_->submitted.count(n) == 0;
    });
    if (blocked && std::chrono::steady_clock::now() - head->second.queued < holdLimit_) {
        held = true;
        return false;
    }
    work = std::move(head->second.work);
    shared_->pending.erase(head);
    return true;
}

void TOrderedWork::Drain()
{
    if (busy_ > 0 || running_)
        return;
    running_ = true;
    for (;;) {
        std::function<void()> work;
        bool held = false;
        if (!TakeNext(work, held)) {
            if (held)
                recheck_->start();
            break;
        }
        try {
            runner_(work);
        } catch (...) {
            // The runner reports; nothing may stop the queue.
        }
        {
            std::lock_guard lock(shared_->mutex);
            ++shared_->done;
        }
        // An item that left a blocking call open (cannot happen with scoped
        // TBusy) would resume the queue when it ends.
        if (busy_ > 0)
            break;
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

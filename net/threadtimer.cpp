#include "threadtimer.h"

#include "net/notify.h"
#include "util/errors.h"

#include <QCoreApplication>
#include <QObject>
#include <QTimerEvent>

#include <mutex>

namespace dz::net {

// Shared by the timer and the QObject that receives its ticks; the object
// lives on the creating thread and may outlive the timer by a queued call.
struct TThreadTimer::Core {
    std::recursive_mutex mutex;
    TThreadTimer *owner = nullptr;
    TNotifyEvent handler;
    QObject *window = nullptr;
    ThreadRef thread = CurrentThread();
    int timerId = 0;

    // Runs on the window's thread with mutex held.
    void Apply()
    {
        if (!window)
            return;
        if (timerId) {
            window->killTimer(timerId);
            timerId = 0;
        }
        if (!owner || !window)
            return;
        if (owner->interval_ != 0 && owner->enabled_ && handler) {
            timerId = window->startTimer(static_cast<int>(owner->interval_.load()), Qt::PreciseTimer);
            if (timerId == 0)
                throw Exception("No Timer");
        }
    }
};

namespace {

class TimerWindow : public QObject {
public:
    explicit TimerWindow(std::function<void()> tick) : tick_(std::move(tick)) {}

protected:
    void timerEvent(QTimerEvent *) override { tick_(); }

private:
    std::function<void()> tick_;
};

} // namespace

TThreadTimer::TThreadTimer() : core_(std::make_shared<Core>())
{
    core_->owner = this;
    std::weak_ptr<Core> weak = core_;
    core_->window = new TimerWindow([weak] {
        if (auto core = weak.lock()) {
            std::lock_guard lock(core->mutex);
            if (core->owner)
                core->owner->Timer();
        }
    });
}

TThreadTimer::~TThreadTimer()
{
    enabled_ = false;
    QObject *window;
    {
        std::lock_guard lock(core_->mutex);
        core_->owner = nullptr;
        window = core_->window;
        core_->window = nullptr;
        core_->timerId = 0;
    }
    if (!window)
        return;
    // Deleting the window stops its timer; a window of another thread is
    // deleted by that thread.
    if (IsCurrentThread(core_->thread))
        delete window;
    else
        PostToThread(core_->thread, [window] { delete window; });
}

void TThreadTimer::SetEnabled(bool value)
{
    if (enabled_.exchange(value) != value)
        UpdateTimer();
}

void TThreadTimer::SetInterval(unsigned value)
{
    if (interval_.exchange(value) != value)
        UpdateTimer();
}

void TThreadTimer::SetOnTimer(TNotifyEvent handler)
{
    {
        std::lock_guard lock(core_->mutex);
        core_->handler = std::move(handler);
    }
    UpdateTimer();
}

bool TThreadTimer::Running() const
{
    std::lock_guard lock(core_->mutex);
    return core_->timerId != 0;
}

void TThreadTimer::Timer()
{
    TNotifyEvent handler;
    {
        std::lock_guard lock(core_->mutex);
        handler = core_->handler;
    }
    if (!handler)
        return;
    try {
        handler(this);
    } catch (...) {
        ReportCurrentException();
    }
}

void TThreadTimer::UpdateTimer()
{
    std::unique_lock lock(core_->mutex);
    QObject *window = core_->window;
    if (!window)
        return;
    if (IsCurrentThread(core_->thread)) {
        core_->Apply();
        return;
    }
    lock.unlock();
    std::weak_ptr<Core> weak = core_;
    PostToThread(core_->thread, [weak] {
        if (auto core = weak.lock()) {
            std::lock_guard guard(core->mutex);
            try {
                core->Apply();
            } catch (...) {
                ReportCurrentException();
            }
        }
    });
}

} // namespace dz::net

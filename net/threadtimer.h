#pragma once
// A timer that ticks on the event loop of the thread that created it. The
// socket component uses one as its time-out clock.

#include <atomic>
#include <functional>
#include <memory>

namespace dz::net {

class TThreadTimer {
public:
    using TNotifyEvent = std::function<void(TThreadTimer *Sender)>;

    // Enabled true, Interval 1000; no tick until OnTimer is set.
    TThreadTimer();
    virtual ~TThreadTimer();
    TThreadTimer(const TThreadTimer &) = delete;
    TThreadTimer &operator=(const TThreadTimer &) = delete;

    // A change of Enabled, Interval or OnTimer restarts the timer from zero;
    // setting Enabled or Interval to its current value changes nothing. It
    // runs while Enabled, Interval != 0 and OnTimer are all present.
    // Callable from any thread; the timer itself always runs on its creator's.
    // Raises dz::Exception "No Timer" when the platform refuses a timer.
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool value);
    unsigned Interval() const { return interval_; }
    void SetInterval(unsigned value);
    void SetOnTimer(TNotifyEvent handler);

    // Whether the platform timer is running now (for tests and diagnostics).
    bool Running() const;

protected:
    // One tick: raises OnTimer. An exception escaping the handler goes to the
    // application-wide report and no further.
    virtual void Timer();

private:
    struct Core;
    void UpdateTimer();

    std::atomic<bool> enabled_{true};
    std::atomic<unsigned> interval_{1000};
    std::shared_ptr<Core> core_;
};

} // namespace dz::net

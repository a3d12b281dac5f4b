#include "desktop/avahipoll.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <avahi-common/timeval.h>

#include <memory>
#include <type_traits>

// Avahi declares these as opaque structs for the main loop to define.
struct AvahiWatch {
    int fd = -1;
    AvahiWatchEvent wanted {};
    AvahiWatchEvent happened {};
    AvahiWatchCallback callback = nullptr;
    void *userdata = nullptr;
    std::unique_ptr<QSocketNotifier> read;
    std::unique_ptr<QSocketNotifier> write;
};

struct AvahiTimeout {
    AvahiTimeoutCallback callback = nullptr;
    void *userdata = nullptr;
    std::unique_ptr<QTimer> timer;
};

namespace dz::desktop {
namespace {

// A notifier or timer may be freed from inside its own signal: it goes
// quiet at once and is deleted when the event loop is back.
template <typename T>
void Retire(std::unique_ptr<T> &object)
{
    if (!object)
        return;
    QObject::disconnect(object.get(), nullptr, nullptr, nullptr);
    if constexpr (std::is_same_v<T, QSocketNotifier>)
        object->setEnabled(false); // its descriptor may be closed right after
    object.release()->deleteLater();
}

void Fire(AvahiWatch *w, AvahiWatchEvent event)
{
    w->happened = event;
    // The callback may free w: nothing of it is touched afterwards.
    w->callback(w, w->fd, event, w->userdata);
}

void WatchUpdate(AvahiWatch *w, AvahiWatchEvent event)
{
    w->wanted = event;
    const bool wantRead = (event & (AVAHI_WATCH_IN | AVAHI_WATCH_ERR | AVAHI_WATCH_HUP)) != 0;
    const bool wantWrite = (event & AVAHI_WATCH_OUT) != 0;
    if (wantRead && !w->read) {
        w->read = std::make_unique<QSocketNotifier>(w->fd, QSocketNotifier::Read);
        QObject::connect(w->read.get(), &QSocketNotifier::activated, [w] { Fire(w, AVAHI_WATCH_IN); });
    }
    if (wantWrite && !w->write) {
        w->write = std::make_unique<QSocketNotifier>(w->fd, QSocketNotifier::Write);
        QObject::connect(w->write.get(), &QSocketNotifier::activated, [w] { Fire(w, AVAHI_WATCH_OUT); });
    }
    if (w->read)
        w->read->setEnabled(wantRead);
    if (w->write)
        w->write->setEnabled(wantWrite);
}

AvahiWatch *WatchNew(const AvahiPoll *, int fd, AvahiWatchEvent event, AvahiWatchCallback callback, void *userdata)
{
    auto *w = new AvahiWatch;
    w->fd = fd;
    w->callback = callback;
    w->userdata = userdata;
    WatchUpdate(w, event);
    return w;
}

AvahiWatchEvent WatchGetEvents(AvahiWatch *w)
{
    return w->happened;
}

void WatchFree(AvahiWatch *w)
{
    Retire(w->read);
    Retire(w->write);
    delete w;
}

void TimeoutUpdate(AvahiTimeout *t, const struct timeval *tv)
{
    if (!tv) {
        t->timer->stop();
        return;
    }
    // avahi_age: microseconds since tv (negative while tv is ahead).
    const AvahiUsec ahead = -avahi_age(tv);
    t->timer->start(ahead <= 0 ? 0 : static_cast<int>((ahead + 999) / 1000));
}

AvahiTimeout *TimeoutNew(const AvahiPoll *, const struct timeval *tv, AvahiTimeoutCallback callback, void *userdata)
{
    auto *t = new AvahiTimeout;
    t->callback = callback;
    t->userdata = userdata;
    t->timer = std::make_unique<QTimer>();
    t->timer->setSingleShot(true);
    t->timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(t->timer.get(), &QTimer::timeout, [t] { t->callback(t, t->userdata); });
    TimeoutUpdate(t, tv);
    return t;
}

void TimeoutFree(AvahiTimeout *t)
{
    t->timer->stop();
    Retire(t->timer);
    delete t;
}

} // namespace

TAvahiPoll::TAvahiPoll()
{
    api_.userdata = this;
    api_.watch_new = WatchNew;
    api_.watch_update = WatchUpdate;
    api_.watch_get_events = WatchGetEvents;
    api_.watch_free = WatchFree;
    api_.timeout_new = TimeoutNew;
    api_.timeout_update = TimeoutUpdate;
    api_.timeout_free = TimeoutFree;
}

} // namespace dz::desktop

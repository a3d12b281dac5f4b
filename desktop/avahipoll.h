#pragma once
// The Avahi client library's main loop hooks (AvahiPoll) on Qt's event loop:
// watches become QSocketNotifiers, timeouts single-shot QTimers. Avahi ships
// no Qt 6 glue.
//
// Everything runs on the thread that made the adapter, while that thread
// runs its event loop; the adapter must outlive every Avahi object made
// with Api().

#include <avahi-common/watch.h>

namespace dz::desktop {

class TAvahiPoll {
public:
    TAvahiPoll();
    TAvahiPoll(const TAvahiPoll &) = delete;
    TAvahiPoll &operator=(const TAvahiPoll &) = delete;

    const AvahiPoll *Api() const { return &api_; }

private:
    AvahiPoll api_ {};
};

} // namespace dz::desktop

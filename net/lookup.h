#pragma once
// TNameLookup: an IPv4 name look-up the caller can stop waiting for.
//
// getaddrinfo cannot be cancelled, and a resolver that does not answer
// holds it for many seconds. So it runs on a detached thread that owns a
// copy of the name and a state shared with the waiter; a waiter that gives
// up (a cancel, its deadline, or its owner going away) leaves the thread
// to finish on its own, touching nothing but that state.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace dz::net {

class TNameLookup {
public:
    enum class TEnd { Answered, Canceled, TimedOut };

    // Starts looking up name.
    explicit TNameLookup(const std::string &name);

    // Waits for the answer until Cancel() or the deadline (none when
    // deadlineNs is 0; steady clock, nanoseconds).
    TEnd Wait(std::int64_t deadlineNs);
    // Any thread: ends the wait now (also one yet to begin).
    void Cancel();
    // After Answered: the first IPv4 address (network order), 0 for none.
    std::uint32_t Address() const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

} // namespace dz::net

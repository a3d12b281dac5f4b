#include "lookup.h"

#include <arpa/inet.h>
#include <condition_variable>
#include <mutex>
#include <netdb.h>
#include <pthread.h>
#include <thread>

namespace dz::net {

struct TNameLookup::State {
    std::mutex mutex;
    std::condition_variable changed;
    bool answered = false;
    bool canceled = false;
    std::uint32_t address = 0;
};

TNameLookup::TNameLookup(const std::string &name) : state_(std::make_shared<State>())
{
    // The thread owns its copies: the name, and the state it shares.
    std::thread([name, state = state_] {
        pthread_setname_np(pthread_self(), "dz-lookup");
        addrinfo hints {};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo *found = nullptr;
        std::uint32_t address = 0;
        if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) == 0 && found)
            address = reinterpret_cast<const sockaddr_in *>(found->ai_addr)->sin_addr.s_addr;
        if (found)
            ::freeaddrinfo(found);
        std::lock_guard lock(state->mutex);
        state->address = address;
        state->answered = true;
        state->changed.notify_all();
    }).detach();
}

TNameLookup::TEnd TNameLookup::Wait(std::int64_t deadlineNs)
{
    std::unique_lock lock(state_->mutex);
    const auto done = [&] { return state_->answered || state_->canceled; };
    if (deadlineNs == 0) {
        state_->changed.wait(lock, done);
    } else {
        const std::chrono::steady_clock::time_point deadline {std::chrono::nanoseconds(deadlineNs)};
        if (!state_->changed.wait_until(lock, deadline, done))
            return TEnd::TimedOut;
    }
    return state_->canceled ? TEnd::Canceled : TEnd::Answered;
}

void TNameLookup::Cancel()
{
    std::lock_guard lock(state_->mutex);
    state_->canceled = true;
    state_->changed.notify_all();
}

std::uint32_t TNameLookup::Address() const
{
    std::lock_guard lock(state_->mutex);
    return state_->address;
}

} // namespace dz::net

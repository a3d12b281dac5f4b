#pragma once

#include "net/notify.h"
#include "rawpeer.h"

#include <chrono>
#include <exception>
#include <functional>
#include <string>
#include <thread>

namespace dz::test {

// Pumps the calling thread until pred holds or the time runs out.
template <typename Pred>
bool PumpUntil(Pred pred, int timeoutMs = 5000)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        net::Pump();
        net::WaitForActivity(-1, 0, 2);
    }
    return true;
}

// The text of the exception f raises, or "<no exception>".
inline std::string ExceptionText(const std::function<void()> &f)
{
    try {
        f();
    } catch (const std::exception &e) {
        return e.what();
    }
    return "<no exception>";
}

} // namespace dz::test

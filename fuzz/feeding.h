#pragma once
// Feeds a framing the way the services do, in pieces, and checks what
// every feed promises: it takes no more than it is given, stops short only
// when the request is over, an empty feed changes nothing, a finished
// framing takes nothing more, and a reader that asks for no more than
// Wanted() has every byte taken.

#include "check.h"
#include "services/framing.h"

#include <algorithm>
#include <string_view>

namespace fuzz {

using dz::services::TFrameState;

enum class TAsk { Any, AtMostWanted };

// Feeds `in` until the framing is done or the bytes run out; returns how
// many bytes it took. nextSize gives piece sizes; after(framing) runs after
// every feed.
template <typename Framing, typename NextSize, typename After>
std::size_t FeedAll(Framing &f, std::string_view in, NextSize nextSize, TAsk ask, After after)
{
    std::size_t taken = 0;
    // Every piece but an empty one moves at least a byte, and empty ones never
    // come twice running.
    const std::size_t maxSteps = 2 * in.size() + 4;
    std::size_t steps = 0;
    for (; steps < maxSteps; ++steps) {
        const TFrameState before = f.State();
        const std::size_t wanted = f.Wanted();
        FUZZ_CHECK((before == TFrameState::NeedMore) == (wanted > 0));
        if (before != TFrameState::NeedMore) {
            FUZZ_CHECK(f.Feed(in.substr(taken)) == 0);
            FUZZ_CHECK(f.State() == before);
            break;
        }
        if (taken == in.size())
            break;
        std::size_t n = std::min(nextSize(), in.size() - taken);
        if (ask == TAsk::AtMostWanted)
            n = std::min(n, wanted);
        const std::size_t used = f.Feed(in.substr(taken, n));
        FUZZ_CHECK(used <= n);
        if (ask == TAsk::AtMostWanted)
            FUZZ_CHECK(used == n);
        if (used < n)
            FUZZ_CHECK(f.State() != TFrameState::NeedMore);
        if (n == 0)
            FUZZ_CHECK(f.State() == before && f.Wanted() == wanted);
        taken += used;
        after(f);
    }
    FUZZ_CHECK(steps < maxSteps);
    FUZZ_CHECK(f.State() != TFrameState::NeedMore || taken == in.size());
    return taken;
}

} // namespace fuzz

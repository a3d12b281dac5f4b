#pragma once
// How a transfer is getting on: bytes done of a total, the speed over the
// last few seconds, and the time left at that speed. Fed with samples by
// whoever shows it (at most ten times a second is plenty); no threads.

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>

namespace dz::peer {

class TProgressMeter {
public:
    using Clock = std::chrono::steady_clock;

    // A new transfer of total bytes (0 when not known), begun at now.
    void Start(std::int64_t total, Clock::time_point now);
    // done bytes so far at now. A sample below the last one is taken as the
    // last one: what is shown never goes back. The speed counts from the
    // first sample above 0 (a continued transfer starts with its kept part).
    void Sample(std::int64_t done, Clock::time_point now);

    std::int64_t Done() const { return done_; }
    std::int64_t Total() const { return total_; }
    // Whole percent of the total (100 for an empty transfer).
    int Percent() const;
    // Bytes a second over the last few seconds; nothing before two samples.
    std::optional<double> BytesPerSecond() const;
    // The time the rest takes at that speed.
    std::optional<std::chrono::seconds> TimeLeft() const;

private:
    struct TPoint {
        Clock::time_point when;
        std::int64_t done;
    };
    std::int64_t total_ = 0;
    std::int64_t done_ = 0;
    std::deque<TPoint> recent_;
};

} // namespace dz::peer

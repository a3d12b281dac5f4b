#include "progress.h"

#include <cmath>

namespace dz::peer {
namespace {

// The speed shown is the average over this window: steady enough to read,
// quick enough to follow a change of pace.
constexpr auto kWindow = std::chrono::seconds(3);

} // namespace

void TProgressMeter::Start(std::int64_t total, Clock::time_point now)
{
    total_ = total < 0 ? 0 : total;
    done_ = 0;
    recent_.clear();
    recent_.push_back({now, 0});
}

void TProgressMeter::Sample(std::int64_t done, Clock::time_point now)
{
    const bool first = done_ == 0;
    if (done > done_)
        done_ = done;
    if (total_ > 0 && done_ > total_)
        done_ = total_;
    // The speed counts from the first bytes seen: a continued file shows
    // its kept part as done at once, which no link could have moved.
    if (first && done_ > 0)
        recent_.clear();
    recent_.push_back({now, done_});
    // Keep one point older than the window, so the window is always spanned.
    while (recent_.size() > 2 && now - recent_[1].when >= kWindow)
        recent_.pop_front();
}

int TProgressMeter::Percent() const
{
    if (total_ <= 0)
        return 100;
    return static_cast<int>(done_ * 100 / total_);
}

std::optional<double> TProgressMeter::BytesPerSecond() const
{
    if (recent_.size() < 2)
        return std::nullopt;
    const auto span = std::chrono::duration<double>(recent_.back().when - recent_.front().when).count();
    if (span <= 0)
        return std::nullopt;
    return static_cast<double>(recent_.back().done - recent_.front().done) / span;
}

std::optional<std::chrono::seconds> TProgressMeter::TimeLeft() const
{
    const std::optional<double> speed = BytesPerSecond();
    if (!speed || *speed <= 0 || total_ <= 0)
        return std::nullopt;
    return std::chrono::seconds(static_cast<std::int64_t>(std::ceil(static_cast<double>(total_ - done_) / *speed)));
}

} // namespace dz::peer

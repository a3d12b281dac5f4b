// The progress meter: what is shown never goes back or past the total, and
// the speed and time left follow the last few seconds.

#include "peer/progress.h"

#include <gtest/gtest.h>

namespace {

using dz::peer::TProgressMeter;
using namespace std::chrono_literals;

TEST(ProgressTest, DoneNeverGoesBackNorPastTheTotal)
{
    TProgressMeter m;
    const auto t0 = TProgressMeter::Clock::time_point();
    m.Start(1000, t0);
    const struct {
        std::int64_t sample, shown;
        int percent;
    } rows[] = {{0, 0, 0}, {250, 250, 25}, {100, 250, 25}, {999, 999, 99}, {1200, 1000, 100}, {0, 1000, 100}};
    int i = 0;
    for (const auto &row : rows) {
        m.Sample(row.sample, t0 + std::chrono::milliseconds(100 * ++i));
        EXPECT_EQ(m.Done(), row.shown) << row.sample;
        EXPECT_EQ(m.Percent(), row.percent) << row.sample;
    }
    m.Start(0, t0);
    EXPECT_EQ(m.Percent(), 100) << "an empty file is done at once";
}

TEST(ProgressTest, SpeedAndTimeLeftFollowTheLastSeconds)
{
    TProgressMeter m;
    const auto t0 = TProgressMeter::Clock::time_point();
    m.Start(100'000'000, t0);
    EXPECT_FALSE(m.BytesPerSecond());
    EXPECT_FALSE(m.TimeLeft());
    // 1 MB a second for ten seconds...
    for (int s = 1; s <= 10; ++s)
        m.Sample(s * 1'000'000, t0 + std::chrono::seconds(s));
    ASSERT_TRUE(m.BytesPerSecond());
    EXPECT_NEAR(*m.BytesPerSecond(), 1e6, 1);
    EXPECT_EQ(*m.TimeLeft(), 90s);
    // ...then 10 MB a second: within the window the speed is the new one.
    for (int s = 11; s <= 14; ++s)
        m.Sample(10'000'000 + (s - 10) * 10'000'000, t0 + std::chrono::seconds(s));
    EXPECT_NEAR(*m.BytesPerSecond(), 1e7, 1);
    EXPECT_EQ(*m.TimeLeft(), 5s); // 50 MB left
    // A stall: the speed drops to nothing, no time left is promised.
    for (int s = 15; s <= 20; ++s)
        m.Sample(m.Done(), t0 + std::chrono::seconds(s));
    EXPECT_EQ(*m.BytesPerSecond(), 0);
    EXPECT_FALSE(m.TimeLeft());
}

TEST(ProgressTest, AContinuedTransferShowsItsKeptPartDoneButNotAsSpeed)
{
    TProgressMeter m;
    const auto t0 = TProgressMeter::Clock::time_point();
    m.Start(100'000'000, t0);
    m.Sample(0, t0 + 100ms); // the offer is being answered
    m.Sample(60'000'000, t0 + 200ms);
    EXPECT_EQ(m.Percent(), 60);
    m.Sample(62'000'000, t0 + 1200ms);
    ASSERT_TRUE(m.BytesPerSecond());
    EXPECT_NEAR(*m.BytesPerSecond(), 2e6, 1);
    EXPECT_EQ(*m.TimeLeft(), 19s);
}

} // namespace

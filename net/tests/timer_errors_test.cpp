#include "net/sockerrors.h"
#include "net/threadtimer.h"
#include "testutil.h"
#include "util/errors.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <cerrno>
#include <thread>

namespace dz::net {
namespace {

using test::PumpUntil;

TEST(SocketErrorText, TableUnknownAndZero)
{
    struct Case { unsigned number; std::string text; } cases[] = {
        {0, ""},
        {10004, "10004:Interrupted system call"},
        {10035, "10035:Operation would block"},
        {10047, "10047:Address family not supported by protocol family"},
        {10057, "10057:Socket is not connected"},
        {10061, "10061:Connection refused"},
        {10071, "10071:Too many levels of remote in path"},
        {10080, "Unknown Error No. 10080"}, // between 10071 and 10091
        {10091, "10091:Network subsystem is unavailable"},
        {11003, "11003:Non-Recoverable error: FORMERR, REFUSED, NOTIMP"},
        {11004, "11004:Valid name, no data record of requested type"},
        {1, "Unknown Error No. 1"},
        {65535, "Unknown Error No. 65535"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(SocketErrorText(c.number), c.text) << c.number;

    int known = 0;
    for (unsigned n = 1; n < 12000; ++n)
        if (SocketErrorText(n).rfind("Unknown", 0) != 0)
            ++known;
    EXPECT_EQ(known, 50);
}

TEST(SocketErrorText, PosixErrorsKeepTheirWindowsNumbers)
{
    struct Case { int err; int wsa; } cases[] = {
        {EAGAIN, 10035}, {EINPROGRESS, 10035}, {ENOTCONN, 10057}, {ECONNREFUSED, 10061},
        {ECONNRESET, 10054}, {EADDRINUSE, 10048}, {ETIMEDOUT, 10060}, {EHOSTUNREACH, 10065},
        {ENETUNREACH, 10051}, {EACCES, 10013}, {EPIPE, 10058}, {0, 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(WsaErrorFromErrno(c.err), c.wsa) << c.err;
    EXPECT_GT(WsaErrorFromErrno(EIO), 10000); // unknown to the table, still an error
}

TEST(ThreadTimer, TicksRepeatOnTheCreatingThread)
{
    TThreadTimer timer;
    timer.SetInterval(20);
    int ticks = 0;
    std::thread::id tickThread;
    timer.SetOnTimer([&](TThreadTimer *sender) {
        EXPECT_EQ(sender, &timer);
        tickThread = std::this_thread::get_id();
        ++ticks;
    });
    EXPECT_TRUE(timer.Running());
    EXPECT_TRUE(PumpUntil([&] { return ticks >= 3; }, 3000));
    EXPECT_EQ(tickThread, std::this_thread::get_id());
    timer.SetEnabled(false);
    EXPECT_FALSE(timer.Running());
    const int stopped = ticks;
    PumpUntil([] { return false; }, 100);
    EXPECT_EQ(ticks, stopped);
}

TEST(ThreadTimer, IntervalZeroAndMissingHandlerNeverTick)
{
    TThreadTimer timer;
    EXPECT_TRUE(timer.Enabled());
    EXPECT_EQ(timer.Interval(), 1000u);
    EXPECT_FALSE(timer.Running()); // no handler yet
    int ticks = 0;
    timer.SetInterval(0);
    timer.SetOnTimer([&](TThreadTimer *) { ++ticks; });
    EXPECT_FALSE(timer.Running());
    PumpUntil([] { return false; }, 60);
    EXPECT_EQ(ticks, 0);
}

TEST(ThreadTimer, SameValueDoesNotRestartNewValueDoes)
{
    TThreadTimer timer;
    int ticks = 0;
    timer.SetInterval(300);
    timer.SetOnTimer([&](TThreadTimer *) { ++ticks; });
    // Re-setting the current values 100 ms apart must not push the tick
    // back (a restart would put it at 500 ms or later).
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 2; ++i) {
        PumpUntil([] { return false; }, 100);
        timer.SetEnabled(true);
        timer.SetInterval(300);
    }
    EXPECT_TRUE(PumpUntil([&] { return ticks >= 1; }, 2000));
    EXPECT_LT(clock.elapsed(), 480);

    // A new interval starts a fresh, full period.
    ticks = 0;
    timer.SetInterval(200);
    clock.restart();
    EXPECT_TRUE(PumpUntil([&] { return ticks >= 1; }, 2000));
    EXPECT_GE(clock.elapsed(), 150);
}

TEST(ThreadTimer, ExceptionInHandlerReachesTheReport)
{
    std::string reported;
    auto old = SetExceptionReporter([&](const std::string &m) { reported = m; });
    {
        TThreadTimer timer;
        timer.SetInterval(10);
        timer.SetOnTimer([&](TThreadTimer *t) {
            t->SetEnabled(false);
            throw Exception("tick failed");
        });
        EXPECT_TRUE(PumpUntil([&] { return !reported.empty(); }, 2000));
    }
    SetExceptionReporter(old);
    EXPECT_EQ(reported, "tick failed");
}

TEST(ThreadTimer, ChangesFromAnotherThreadRunOnTheOwner)
{
    TThreadTimer timer;
    timer.SetEnabled(false);
    timer.SetInterval(10);
    int ticks = 0;
    timer.SetOnTimer([&](TThreadTimer *) { ++ticks; });
    std::thread([&] { timer.SetEnabled(true); }).join();
    EXPECT_TRUE(PumpUntil([&] { return ticks >= 2; }, 2000));
    std::thread([&] { timer.SetEnabled(false); }).join();
    PumpUntil([&] { return !timer.Running(); }, 1000);
    EXPECT_FALSE(timer.Running());
}

TEST(ThreadTimer, DestroyedOnAnotherThreadWhileRunning)
{
    auto *timer = new TThreadTimer;
    int ticks = 0;
    timer->SetInterval(5);
    timer->SetOnTimer([&](TThreadTimer *) { ++ticks; });
    PumpUntil([&] { return ticks > 0; }, 1000);
    std::thread([timer] { delete timer; }).join();
    const int before = ticks;
    PumpUntil([] { return false; }, 50);
    EXPECT_EQ(ticks, before);
}

} // namespace
} // namespace dz::net

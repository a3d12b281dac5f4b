// Destroying a listening server while its connections are busy: the
// destructor is bounded, and a connection thread it cuts loose calls only
// the handlers it holds, whose captures live as long as it does.

#include "net/tests/testutil.h"
#include "services/nmmsg.h"
#include "services/wire.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace dz::services {
namespace {

using Clock = std::chrono::steady_clock;

// What a handler captures: it must still be there when the handler runs.
struct TProbe {
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false;
    bool released = false;
    bool returned = false;
    template <typename Pred>
    bool WaitFor(Pred pred, int ms)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::milliseconds(ms), pred);
    }
    void Set(bool TProbe::*flag)
    {
        std::lock_guard lock(mutex);
        this->*flag = true;
        changed.notify_all();
    }
};

TEST(ServerTeardown, DestroyingAServerWhoseHandlerIsBusyIsBoundedAndTheHandlerKeepsWhatItHolds)
{
    auto probe = std::make_shared<TProbe>();
    auto server = std::make_unique<TNMMSGServ>();
    server->Port = 0;
    server->OnRequest = [probe](TNMMSGServ *, const std::string &, const std::string &) -> std::function<void()> {
        probe->Set(&TProbe::entered);
        probe->WaitFor([&] { return probe->released; }, 5000);
        probe->Set(&TProbe::returned);
        return {};
    };
    server->Loaded();
    const int port = server->LocalPort();
    std::weak_ptr<TProbe> watch = probe;
    probe.reset(); // from now on only the server and its connections hold it

    std::string reply = "pending";
    std::thread client([&] {
        test::RawFd fd = test::RawConnect(port);
        fd.Send("0001A0002hi");
        reply = fd.Recv(16, 8000);
    });
    auto held = watch.lock();
    ASSERT_TRUE(test::PumpUntil([&] {
        std::lock_guard lock(held->mutex);
        return held->entered;
    }));

    const auto start = Clock::now();
    server.reset();
    const auto took = Clock::now() - start;
    EXPECT_LT(took, std::chrono::seconds(2)) << "the destructor waited for a handler that does not return";

    // The connection cut loose still holds its handlers and their captures.
    held->Set(&TProbe::released);
    EXPECT_TRUE(held->WaitFor([&] { return held->returned; }, 5000));
    held.reset();
    client.join();
    EXPECT_EQ(reply, "") << "a cancelled connection sends no reply";
    // Once the thread has freed its connection object, nothing holds the probe.
    const auto end = Clock::now() + std::chrono::seconds(5);
    while (!watch.expired() && Clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_TRUE(watch.expired());
}

// A server being destroyed takes no new connection, and one accepted
// before is cancelled: its client learns at once (no reply), not after the
// idle limit.
TEST(ServerTeardown, StopServingCancelsWaitingConnectionsAndTakesNoMore)
{
    TNMMSGServ server;
    server.Port = 0;
    std::atomic<int> requests{0};
    server.OnRequest = [&](TNMMSGServ *, const std::string &, const std::string &) -> std::function<void()> {
        ++requests;
        return {};
    };
    server.Loaded();
    test::RawFd idle = test::RawConnect(server.LocalPort());
    ASSERT_TRUE(idle.valid());
    ASSERT_TRUE(test::PumpUntil([&] { return server.ConnectionCount() == 1; }));
    const auto start = Clock::now();
    EXPECT_TRUE(server.StopServing(std::chrono::seconds(2)));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(server.ConnectionCount(), 0U);
    EXPECT_EQ(idle.Recv(16, 2000), "");

    // A latecomer is refused (reset) without its request being served.
    std::string lateReply = "pending";
    std::atomic<bool> lateDone{false};
    std::thread late([&] {
        test::RawFd fd = test::RawConnect(server.LocalPort());
        fd.Send("0001A0002hi");
        lateReply = fd.Recv(16, 4000);
        lateDone = true;
    });
    EXPECT_TRUE(test::PumpUntil([&] { return lateDone.load(); }));
    late.join();
    EXPECT_EQ(lateReply, "");
    EXPECT_EQ(requests.load(), 0);
}

} // namespace
} // namespace dz::services

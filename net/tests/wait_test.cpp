// The waits that block on the socket itself: no pump, no event loop on the
// thread, woken by a cancel from elsewhere, bounded by the idle limit.

#include "net/notify.h"
#include "net/powersock.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <dirent.h>
#include <future>
#include <thread>

namespace dz::net {
namespace {

using test::ExceptionText;
using test::RawFd;
using test::RawListener;
using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point t)
{
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

int Descriptors()
{
    int n = 0;
    if (DIR *d = ::opendir("/proc/self/fd")) {
        while (::readdir(d))
            ++n;
        ::closedir(d);
    }
    return n;
}

// Runs f on a fresh thread that has no event loop of its own, as the
// connection threads and the send-queue threads do, and returns whether the
// thread still had no dispatcher at the end and left no descriptor behind
// (an event counter, a Qt event dispatcher's pipes).
bool OnPlainThread(const std::function<void()> &f)
{
    bool plain = false;
    { TPowersock poller; } // the process-wide poller's descriptor exists from here
    std::thread([&] {
        const int before = Descriptors();
        f();
        plain = !CurrentThreadHasDispatcher() && Descriptors() == before;
    }).join();
    return plain;
}

// A component made and used on a plain thread, the way a worker uses it.
struct Worker {
    std::unique_ptr<TPowersock> sock;
    RawFd peer;
    void Connect(const RawListener &listener, int idleLimit = 60000)
    {
        sock = std::make_unique<TPowersock>();
        sock->PumpWhileWaiting = false;
        sock->IdleLimit = idleLimit;
        sock->Host = "127.0.0.1";
        sock->Port = listener.port();
        auto accepted = std::async(std::launch::async, [&] { return listener.Accept(); });
        sock->Connect();
        peer = accepted.get();
    }
};

TEST(NonPumpingWait, AWorkerThreadNeedsNoEventLoop)
{
    RawListener listener;
    std::string got, line;
    int connects = 0, resolved = 0;
    const bool plain = OnPlainThread([&] {
        TPowersock sock;
        sock.PumpWhileWaiting = false;
        sock.OnConnect = [&](TPowersock *) { ++connects; };
        sock.OnHostResolved = [&](TPowersock *) { ++resolved; };
        sock.Host = "localhost"; // a synchronous look-up on this thread
        sock.Port = listener.port();
        auto accepted = std::async(std::launch::async, [&] { return listener.Accept(); });
        sock.Connect();
        RawFd peer = accepted.get();
        sock.Write("ping");
        EXPECT_EQ(peer.Recv(4), "ping");
        std::thread later([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            peer.Send("pong");
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            peer.Send("line\r\n");
        });
        got = sock.Read(4);
        line = sock.ReadLn();
        later.join();
        sock.Disconnect();
        EXPECT_TRUE(peer.WaitClosed());
    });
    EXPECT_TRUE(plain) << "a non-pumping component made a dispatcher on its thread";
    EXPECT_EQ(got, "pong");
    EXPECT_EQ(line, "line\r\n");
    EXPECT_EQ(connects, 1);
    EXPECT_EQ(resolved, 1);
}

TEST(NonPumpingWait, ConnectOutcomesAndTheRepairChance)
{
    const bool plain = OnPlainThread([&] {
        TPowersock sock;
        sock.PumpWhileWaiting = false;
        sock.Host = "127.0.0.1";
        sock.Port = test::UnusedPort();
        int failed = 0;
        sock.OnConnectionFailed = [&](TPowersock *) { ++failed; };
        EXPECT_EQ(ExceptionText([&] { sock.Connect(); }), "Connection Failed");
        EXPECT_EQ(sock.LastError(), 10061);
        EXPECT_EQ(failed, 1);
        sock.Host = std::string(70, 'x') + ".invalid";
        int asked = 0;
        sock.OnInvalidHost = [&](bool &handled) {
            ++asked;
            handled = true;
        };
        EXPECT_EQ(ExceptionText([&] { sock.Connect(); }), "Null Remote Address");
        EXPECT_EQ(asked, 1);
    });
    EXPECT_TRUE(plain);
}

TEST(NonPumpingWait, CancelFromAnotherThreadWakesEveryKindOfWait)
{
    RawListener listener;
    TMemoryStream big; // more than the socket buffers hold
    const std::string block(1 << 20, 'b');
    for (int i = 0; i < 64; ++i)
        big.Write(block.data(), static_cast<std::int64_t>(block.size()));
    struct Case {
        const char *name;
        std::function<void(TPowersock &)> wait;
        std::string error;
    } cases[] = {
        {"Read", [](TPowersock &s) { s.Read(16); }, "Socket send aborted"},
        {"ReadLn", [](TPowersock &s) { s.ReadLn(); }, "Socket readln aborted"},
        {"CaptureStream",
         [](TPowersock &s) {
             TMemoryStream m;
             s.CaptureStream(m, 10);
         },
         "Socket capture aborted"},
        {"SendStream to a peer that reads nothing", [&](TPowersock &s) { s.SendStream(big); }, "Socket send aborted"},
    };
    for (const auto &c : cases) {
        Worker w;
        w.Connect(listener);
        auto cancelled = Clock::now();
        std::thread canceller([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            cancelled = Clock::now();
            w.sock->CancelHandle()->Cancel();
        });
        const std::string error = ExceptionText([&] { c.wait(*w.sock); });
        const long late = MsSince(cancelled);
        canceller.join();
        EXPECT_EQ(error, c.error) << c.name;
        EXPECT_LT(late, 1000) << c.name << ": a cancel must wake the wait, not a poll round";
    }
}

TEST(NonPumpingWait, CancelWakesAConnectThatGetsNoAnswer)
{
    // A listener that never accepts, its queue filled: the next SYN goes unanswered.
    RawListener listener(0);
    const std::vector<RawFd> fillers = test::FillAcceptQueue(listener);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    TPowersock sock;
    sock.PumpWhileWaiting = false;
    sock.Host = "127.0.0.1";
    sock.Port = listener.port();
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        sock.Cancel();
    });
    const auto start = Clock::now();
    const std::string error = ExceptionText([&] { sock.Connect(); });
    canceller.join();
    if (error == "<no exception>")
        GTEST_SKIP() << "this network stack accepted past the queue limit";
    EXPECT_EQ(error, "Connection Canceled");
    EXPECT_LT(MsSince(start), 2000);

    // The idle limit ends such a connect too, and the time-out clock works
    // as a deadline.
    sock.IdleLimit = 300;
    EXPECT_EQ(ExceptionText([&] { sock.Connect(); }), "Connection idle for 300 ms: nothing was sent or received");
    sock.IdleLimit = 60000;
    sock.TimeOut = 300;
    const auto timed = Clock::now();
    EXPECT_EQ(ExceptionText([&] { sock.Connect(); }), "Connection Timed out");
    EXPECT_GE(MsSince(timed), 250);
    EXPECT_TRUE(sock.TimedOut());
}

TEST(IdleLimit, EndsAnIdleWaitButNotATrickle)
{
    RawListener listener;
    for (const bool pumping : {false, true}) {
        Worker w;
        w.Connect(listener, 300);
        w.sock->PumpWhileWaiting = pumping;
        const auto start = Clock::now();
        EXPECT_EQ(ExceptionText([&] { w.sock->Read(4); }), "Connection idle for 300 ms: nothing was sent or received")
            << pumping;
        EXPECT_GE(MsSince(start), 250) << pumping;
        EXPECT_LT(MsSince(start), 3000) << pumping;

        // One byte every 100 ms for more than three times the limit.
        Worker t;
        t.Connect(listener, 300);
        t.sock->PumpWhileWaiting = pumping;
        std::thread trickle([&] {
            for (int i = 0; i < 12; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                t.peer.Send("x");
            }
        });
        std::string got;
        EXPECT_EQ(ExceptionText([&] { got = t.sock->Read(12); }), "<no exception>") << pumping;
        trickle.join();
        EXPECT_EQ(got, std::string(12, 'x')) << pumping;
    }
}

TEST(IdleLimit, OnlyTimeSpentWaitingCounts)
{
    // A receiver busy elsewhere (its disk, say) for longer than the limit is
    // not idle: what counts is the time it waits on the socket.
    RawListener listener;
    Worker w;
    w.Connect(listener, 400);
    w.peer.Send("ab");
    EXPECT_EQ(w.sock->Read(1), "a");
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    EXPECT_EQ(w.sock->Read(1), "b");
    std::thread later([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        w.peer.Send("c");
    });
    EXPECT_EQ(w.sock->Read(1), "c");
    later.join();
}

TEST(ResetConnection, ThePeerSeesAResetNotAnEnd)
{
    RawListener listener;
    for (const bool pumping : {false, true}) {
        Worker w;
        w.Connect(listener);
        w.sock->PumpWhileWaiting = pumping;
        w.sock->Write("partial");
        EXPECT_EQ(w.peer.Recv(7), "partial");
        w.sock->ResetConnection();
        EXPECT_FALSE(w.sock->Connected());
        pollfd p {w.peer.get(), POLLIN, 0};
        ASSERT_EQ(::poll(&p, 1, 5000), 1);
        char byte;
        errno = 0;
        EXPECT_EQ(::recv(w.peer.get(), &byte, 1, 0), -1) << pumping;
        EXPECT_EQ(errno, ECONNRESET) << pumping;
        // The component connects again at once.
        auto accepted = std::async(std::launch::async, [&] { return listener.Accept(); });
        w.sock->Connect();
        EXPECT_TRUE(accepted.get().valid());
    }
}

TEST(ResetConnection, FromAnotherThreadWakesATransferAndResets)
{
    RawListener listener;
    Worker w;
    w.Connect(listener);
    std::thread cutter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        w.sock->Cancel();
        w.sock->ResetConnection();
    });
    EXPECT_EQ(ExceptionText([&] { w.sock->Read(4); }), "Socket send aborted");
    cutter.join();
    pollfd p {w.peer.get(), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 5000), 1);
    char byte;
    EXPECT_EQ(::recv(w.peer.get(), &byte, 1, 0), -1);
    EXPECT_EQ(errno, ECONNRESET);
}

TEST(CancelHandle, OutlivesItsComponent)
{
    std::shared_ptr<TCancelHandle> handle;
    {
        TPowersock sock;
        handle = sock.CancelHandle();
        handle->Cancel();
        EXPECT_TRUE(sock.Canceled());
    }
    handle->Cancel(); // nothing left to cancel: no effect, no crash
}

} // namespace
} // namespace dz::net

// Servers against idle, slow, flooding and vanishing connections: the idle
// limit, the cap on live connections, the count of threads and descriptors,
// and the message server's request hook.

#include "net/tests/testutil.h"
#include "services/nmmsg.h"
#include "services/nmstrm.h"
#include "services/wire.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <atomic>
#include <future>
#include <mutex>
#include <thread>

namespace dz::services {
namespace {

using test::ExceptionText;
using test::PumpUntil;
using test::RawFd;

int CountEntries(const char *folder)
{
    int n = 0;
    if (DIR *d = ::opendir(folder)) {
        while (const dirent *e = ::readdir(d))
            n += e->d_name[0] != '.';
        ::closedir(d);
    }
    return n;
}

// True while the peer has neither closed nor reset the connection.
bool StillOpen(const RawFd &fd)
{
    pollfd p {fd.get(), POLLIN | POLLRDHUP, 0};
    if (::poll(&p, 1, 0) == 0)
        return true;
    char buf[64];
    const ssize_t n = ::recv(fd.get(), buf, sizeof buf, MSG_DONTWAIT | MSG_PEEK);
    return n > 0 && !(p.revents & (POLLRDHUP | POLLHUP | POLLERR));
}

// Posts one message from a worker thread with a non-pumping client, so the
// test's own thread is free to pump the servers' accepts.
std::future<std::string> PostFromWorker(int port, const std::string &text)
{
    return std::async(std::launch::async, [port, text] {
        TNMMsg client;
        client.PumpWhileWaiting = false;
        client.Host = "127.0.0.1";
        client.Port = port;
        client.FromName = "LEGIT";
        return ExceptionText([&] { client.PostText(text); }) == "<no exception>" ? std::string("OK") : "failed";
    });
}

template <typename T>
bool PumpUntilReady(std::future<T> &f, int ms = 10000)
{
    return PumpUntil([&] { return f.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, ms);
}

struct Messages {
    TNMMSGServ server;
    std::mutex mutex;
    std::vector<std::string> seen;
    Messages(int maxConnections = 64, int idleLimit = 60000)
    {
        server.Port = 0;
        server.MaxConnections = maxConnections;
        server.IdleLimit = idleLimit;
        server.OnMSG = [this](TNMMSGServ *, const std::string &from, const std::string &msg) {
            std::lock_guard lock(mutex);
            seen.push_back(from + "|" + msg);
        };
        server.Loaded();
    }
    int port() const { return server.LocalPort(); }
    bool Saw(const std::string &line)
    {
        std::lock_guard lock(mutex);
        return std::find(seen.begin(), seen.end(), line) != seen.end();
    }
};

TEST(IdleLimit, AnIdleConnectionIsClosedAndASlowMessageIsServed)
{
    Messages ms(64, 300);
    RawFd idle = test::RawConnect(ms.port());
    auto closed = std::async(std::launch::async, [&] { return idle.WaitClosed(8000); });
    EXPECT_TRUE(PumpUntilReady(closed));
    EXPECT_TRUE(closed.get()) << "the idle connection stayed open";

    // One byte every 100 ms: never idle for 300 ms, so served however long.
    RawFd slow = test::RawConnect(ms.port());
    auto reply = std::async(std::launch::async, [&] {
        for (char c : std::string("0004SLOW0005hello")) {
            slow.Send(std::string(1, c));
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return slow.Recv(16, 5000);
    });
    EXPECT_TRUE(PumpUntilReady(reply));
    EXPECT_EQ(reply.get(), kReply);
    EXPECT_TRUE(ms.Saw("SLOW|hello"));
    EXPECT_TRUE(PumpUntil([&] { return ms.server.ConnectionCount() == 0; }, 8000))
        << "a client that never closes after the reply is cut by the idle limit";
}

TEST(Cycles, ThreeThousandConnectionsLeaveThreadsAndDescriptorsAsTheyWere)
{
    Messages ms;
    auto count = [](const char *folder) { return CountEntries(folder); };
    // Warm up: the poller thread and this thread's dispatcher exist from here.
    auto warm = PostFromWorker(ms.port(), "warm");
    ASSERT_TRUE(PumpUntilReady(warm));
    EXPECT_EQ(warm.get(), "OK");
    ASSERT_TRUE(PumpUntil([&] { return ms.server.ConnectionCount() == 0; }));
    PumpUntil([] { return false; }, 200);
    const int threads = count("/proc/self/task"), fds = count("/proc/self/fd");

    std::atomic<bool> done {false};
    std::thread cycles([&] {
        for (int i = 0; i < 3000; ++i) {
            RawFd fd = test::RawConnect(ms.port());
            if (i % 3 == 1)
                fd.Send("0001c0001x"); // some complete a request and close at once
            else if (i % 3 == 2)
                fd.Send("00"); // some close in the middle of a field
        }
        done = true;
    });
    EXPECT_TRUE(PumpUntil([&] { return done.load(); }, 120000));
    cycles.join();
    EXPECT_TRUE(PumpUntil([&] { return ms.server.ConnectionCount() == 0; }, 30000));
    EXPECT_TRUE(PumpUntil([&] { return count("/proc/self/task") == threads && count("/proc/self/fd") == fds; }, 30000))
        << "threads " << count("/proc/self/task") << " (were " << threads << "), descriptors "
        << count("/proc/self/fd") << " (were " << fds << ")";
}

TEST(Cap, ALegitimateMessageIsServedAmongIdleFloodsAndACompleteRequestIsNeverCut)
{
    Messages ms(8);
    // The oldest connection has its reply and keeps the connection open.
    RawFd complete = test::RawConnect(ms.port());
    complete.Send("0004DONE0004kept");
    auto completeReply = std::async(std::launch::async, [&] { return complete.Recv(16); });
    ASSERT_TRUE(PumpUntilReady(completeReply));
    EXPECT_EQ(completeReply.get(), kReply);

    std::vector<RawFd> idle;
    for (int i = 0; i < 40; ++i) {
        idle.push_back(test::RawConnect(ms.port()));
        PumpUntil([] { return false; }, 2);
    }
    ASSERT_TRUE(PumpUntil([&] { return ms.server.ConnectionCount() <= 8; }));
    auto legit = PostFromWorker(ms.port(), "through");
    // More idle ones keep arriving while it is served.
    for (int i = 0; i < 20; ++i) {
        idle.push_back(test::RawConnect(ms.port()));
        PumpUntil([] { return false; }, 2);
    }
    ASSERT_TRUE(PumpUntilReady(legit));
    EXPECT_EQ(legit.get(), "OK");
    EXPECT_TRUE(PumpUntil([&] { return ms.Saw("LEGIT|through"); }));
    EXPECT_TRUE(StillOpen(complete)) << "a connection whose request was complete was cut";
    EXPECT_LE(ms.server.ConnectionCount(), 8u);
    // Connections still in the listen queue look open to their clients until
    // the server has taken them (and cut the older idle ones for them).
    const auto open = [&] { return std::count_if(idle.begin(), idle.end(), [](const RawFd &fd) { return StillOpen(fd); }); };
    EXPECT_TRUE(PumpUntil([&] { return open() <= 7; })) << open() << ": the cut ones are the idle ones";
}

TEST(Cap, AMovingStreamIsNeverCutAndALegitimateStreamIsServed)
{
    TNMStrmServ server;
    server.Port = 0;
    server.MaxConnections = 4;
    std::atomic<int> delivered {0};
    server.OnMSG = [&](TNMStrmServ *, const std::string &, net::TStream &strm) {
        if (strm.Size() > 0)
            ++delivered;
    };
    server.Loaded();
    const int port = server.LocalPort();

    // The oldest: a stream that keeps moving, 1 KiB every 50 ms.
    RawFd moving = test::RawConnect(port);
    moving.Send("0006MOVING     65536");
    std::atomic<bool> stop {false};
    std::thread mover([&] {
        for (int i = 0; i < 63 && !stop; ++i) {
            moving.Send(std::string(1024, 'm'));
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    PumpUntil([] { return false; }, 150);
    std::vector<RawFd> idle;
    for (int i = 0; i < 30; ++i) {
        idle.push_back(test::RawConnect(port));
        PumpUntil([] { return false; }, 5);
    }
    auto legit = std::async(std::launch::async, [port] {
        TNMStrm client;
        client.PumpWhileWaiting = false;
        client.Host = "127.0.0.1";
        client.Port = port;
        net::TMemoryStream s;
        s.Write(std::string(100000, 'L').data(), 100000);
        return ExceptionText([&] { client.PostStream(s); });
    });
    ASSERT_TRUE(PumpUntilReady(legit));
    EXPECT_EQ(legit.get(), "<no exception>");
    mover.join();
    moving.Send(std::string(1024, 'm')); // the last KiB
    auto movingReply = std::async(std::launch::async, [&] { return moving.Recv(16); });
    ASSERT_TRUE(PumpUntilReady(movingReply));
    EXPECT_EQ(movingReply.get(), kReply) << "the moving stream was cut";
    EXPECT_TRUE(PumpUntil([&] { return delivered == 2; }));
}

TEST(Cap, ANewcomerIsRefusedWhenNoneMayBeCut)
{
    Messages ms(2);
    std::vector<RawFd> complete;
    for (int i = 0; i < 2; ++i) {
        complete.push_back(test::RawConnect(ms.port()));
        complete.back().Send("0001a0001b");
    }
    ASSERT_TRUE(PumpUntil([&] {
        std::lock_guard lock(ms.mutex);
        return ms.seen.size() == 2;
    }));
    RawFd newcomer = test::RawConnect(ms.port());
    auto closed = std::async(std::launch::async, [&] { return newcomer.WaitClosed(5000); });
    ASSERT_TRUE(PumpUntilReady(closed));
    EXPECT_TRUE(closed.get());
    for (const RawFd &fd : complete)
        EXPECT_TRUE(StillOpen(fd));
}

TEST(RequestHook, RunsBeforeTheReplyAndItsFunctionOnlyAfterAWrittenReply)
{
    Messages ms;
    std::mutex m;
    std::vector<std::string> order;
    std::atomic<std::uint32_t> peer {0};
    std::atomic<bool> stall {false};
    std::promise<void> clientGone;
    auto gone = clientGone.get_future().share();
    ms.server.OnRequest = [&](TNMMSGServ *sender, const std::string &from, const std::string &msg) {
        peer = sender->PeerAddress();
        {
            std::lock_guard lock(m);
            order.push_back("request " + from + "|" + msg);
        }
        if (stall) {
            gone.wait_for(std::chrono::seconds(5)); // the client resets meanwhile
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return std::function<void()>([&, msg] {
            std::lock_guard lock(m);
            order.push_back("after reply " + msg);
        });
    };
    ms.server.OnMSG = [&](TNMMSGServ *, const std::string &, const std::string &msg) {
        std::lock_guard lock(m);
        order.push_back("OnMSG " + msg);
    };
    auto ok = PostFromWorker(ms.port(), "one");
    ASSERT_TRUE(PumpUntilReady(ok));
    EXPECT_EQ(ok.get(), "OK");
    ASSERT_TRUE(PumpUntil([&] {
        std::lock_guard lock(m);
        return order.size() == 3;
    }));
    EXPECT_EQ(order, (std::vector<std::string> {"request LEGIT|one", "after reply one", "OnMSG one"}));
    EXPECT_EQ(peer.load(), htonl(INADDR_LOOPBACK));

    // The client resets before the reply can be written.
    stall = true;
    order.clear();
    RawFd fd = test::RawConnect(ms.port());
    fd.Send("0001r0003two");
    ASSERT_TRUE(PumpUntil([&] {
        std::lock_guard lock(m);
        return order.size() == 1;
    }));
    linger l {1, 0};
    ::setsockopt(fd.get(), SOL_SOCKET, SO_LINGER, &l, sizeof l);
    fd.Close();
    clientGone.set_value();
    EXPECT_TRUE(PumpUntil([&] { return ms.server.ConnectionCount() == 0; }));
    std::lock_guard lock(m);
    EXPECT_EQ(order, (std::vector<std::string> {"request r|two"}));
}

TEST(ListeningServer, OnDisconnectGetsTheConnectionObjectOnTheServersThread)
{
    Messages ms;
    std::vector<net::TPowersock *> senders;
    const auto self = std::this_thread::get_id();
    bool sameThread = true;
    ms.server.OnDisconnect = [&](net::TPowersock *sender) {
        senders.push_back(sender);
        sameThread = sameThread && std::this_thread::get_id() == self;
    };
    auto bye = PostFromWorker(ms.port(), "bye");
    ASSERT_TRUE(PumpUntilReady(bye));
    EXPECT_EQ(bye.get(), "OK");
    ASSERT_TRUE(PumpUntil([&] { return senders.size() == 1; }));
    EXPECT_NE(senders[0], &ms.server);
    EXPECT_TRUE(sameThread);
    EXPECT_TRUE(PumpUntil([&] { return ms.server.ConnectionCount() == 0; }));
}

} // namespace
} // namespace dz::services

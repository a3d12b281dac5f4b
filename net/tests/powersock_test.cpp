#include "net/powersock.h"
#include "net/sockerrors.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTimer>

#include <future>
#include <netinet/tcp.h>
#include <thread>

namespace dz::net {
namespace {

using test::ExceptionText;
using test::PumpUntil;
using test::RawFd;
using test::RawListener;

// A name the resolver rejects before asking any server: a label may hold
// at most 63 characters.
const std::string kUnresolvable = std::string(70, 'x') + ".invalid";

class PowersockTest : public ::testing::Test {
protected:
    // Connects sock to the listener and returns the server's end.
    RawFd ConnectTo(TPowersock &sock, const RawListener &listener)
    {
        sock.Host = "127.0.0.1";
        sock.Port = listener.port();
        auto accepted = std::async(std::launch::async, [&] { return listener.Accept(); });
        sock.Connect();
        return accepted.get();
    }
};

TEST_F(PowersockTest, ConnectTransferAndReconnect)
{
    RawListener listener;
    TPowersock sock;
    int connects = 0, disconnects = 0, resolved = 0;
    sock.OnConnect = [&](TPowersock *s) { EXPECT_EQ(s, &sock); ++connects; };
    sock.OnDisconnect = [&](TPowersock *) { ++disconnects; };
    sock.OnHostResolved = [&](TPowersock *) { ++resolved; };

    for (int round = 0; round < 3; ++round) {
        RawFd peer = ConnectTo(sock, listener);
        ASSERT_TRUE(peer.valid());
        EXPECT_TRUE(sock.Connected());
        sock.Write("hello " + std::to_string(round));
        EXPECT_EQ(peer.Recv(7), "hello " + std::to_string(round));
        ASSERT_TRUE(peer.Send("reply"));
        EXPECT_EQ(sock.Read(5), "reply");
        sock.Disconnect();
        EXPECT_FALSE(sock.Connected());
        EXPECT_TRUE(peer.WaitClosed());
    }
    EXPECT_EQ(connects, 3);
    EXPECT_EQ(disconnects, 3);
    EXPECT_EQ(resolved, 0) << "a dotted address needs no look-up";
}

TEST_F(PowersockTest, LingerOnlyOnTheFirstSocket)
{
    TPowersock sock;
    auto lingerOf = [&] {
        linger l {};
        socklen_t len = sizeof l;
        ::getsockopt(sock.SocketHandle(), SOL_SOCKET, SO_LINGER, &l, &len);
        return l.l_onoff != 0 && l.l_linger == 0;
    };
    EXPECT_TRUE(lingerOf());
    sock.Disconnect();
    EXPECT_NE(sock.SocketHandle(), kNoSocket);
    EXPECT_FALSE(lingerOf());
}

TEST_F(PowersockTest, AlreadyConnectedChangesNothing)
{
    RawListener listener;
    TPowersock sock;
    RawFd peer = ConnectTo(sock, listener);
    const auto handle = sock.SocketHandle();
    EXPECT_EQ(ExceptionText([&] { sock.Connect(); }), "Already connected");
    EXPECT_TRUE(sock.Connected());
    EXPECT_EQ(sock.SocketHandle(), handle);
    sock.Write("x");
    EXPECT_EQ(peer.Recv(1), "x");
}

TEST_F(PowersockTest, UnresolvableNameAndTheRepairChance)
{
    TPowersock sock;
    sock.Host = kUnresolvable;
    sock.Port = test::UnusedPort();
    int failed = 0;
    sock.OnConnectionFailed = [&](TPowersock *) { ++failed; };
    EXPECT_EQ(ExceptionText([&] { sock.Connect(); }), "Null Remote Address");

    // A handler that sets Handled without repairing is asked exactly once.
    int asked = 0;
    sock.OnInvalidHost = [&](bool &handled) {
        ++asked;
        handled = true;
    };
    EXPECT_EQ(ExceptionText([&] { sock.Connect(); }), "Null Remote Address");
    EXPECT_EQ(asked, 1);

    // A handler that leaves Handled false is asked once and the connect gives up.
    asked = 0;
    sock.OnInvalidHost = [&](bool &) { ++asked; };
    EXPECT_EQ(ExceptionText([&] { sock.Connect(); }), "Null Remote Address");
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(failed, 0) << "OnConnectionFailed belongs to the connect attempt itself";

    // A handler that repairs Host gets a working connection.
    RawListener listener;
    sock.Port = listener.port();
    sock.OnInvalidHost = [&](bool &handled) {
        sock.Host = "127.0.0.1";
        handled = true;
    };
    auto accepted = std::async(std::launch::async, [&] { return listener.Accept(); });
    sock.Connect();
    EXPECT_TRUE(sock.Connected());
    EXPECT_TRUE(accepted.get().valid());
}

TEST_F(PowersockTest, NameLookupResolvesLocalhostWithoutBlocking)
{
    RawListener listener;
    TPowersock sock;
    int resolved = 0;
    sock.OnHostResolved = [&](TPowersock *) { ++resolved; };
    sock.Host = "localhost";
    sock.Port = listener.port();
    auto accepted = std::async(std::launch::async, [&] { return listener.Accept(); });
    sock.Connect();
    EXPECT_EQ(resolved, 1);
    EXPECT_EQ(ntohl(sock.RemoteAddress().sin_addr.s_addr), INADDR_LOOPBACK);
    EXPECT_TRUE(accepted.get().valid());
}

TEST_F(PowersockTest, RefusedConnectionCarriesItsNumber)
{
    TPowersock sock;
    sock.Host = "127.0.0.1";
    sock.Port = test::UnusedPort();
    int failed = 0;
    sock.OnConnectionFailed = [&](TPowersock *) { ++failed; };
    EXPECT_EQ(ExceptionText([&] { sock.Connect(); }), "Connection Failed");
    EXPECT_EQ(failed, 1);
    EXPECT_EQ(sock.LastError(), 10061);
    EXPECT_EQ(sock.LookupErrorText(static_cast<std::uint16_t>(sock.LastError())), "10061:Connection refused");
    EXPECT_FALSE(sock.Connected());
    // The component stays usable.
    RawListener listener;
    RawFd peer = ConnectTo(sock, listener);
    EXPECT_TRUE(sock.Connected());
}

TEST_F(PowersockTest, ConnectTimesOutAgainstAFullAcceptQueue)
{
    // A listener that never accepts, its queue filled by plain connections.
    RawListener listener(0);
    const std::vector<RawFd> fillers = test::FillAcceptQueue(listener);
    PumpUntil([] { return false; }, 100);

    TPowersock sock;
    sock.Host = "127.0.0.1";
    sock.Port = listener.port();
    sock.TimeOut = 500;
    QElapsedTimer clock;
    clock.start();
    const std::string text = ExceptionText([&] { sock.Connect(); });
    const auto elapsed = clock.elapsed();
    if (text == "<no exception>")
        GTEST_SKIP() << "this network stack accepted past the queue limit";
    EXPECT_EQ(text, "Connection Timed out");
    EXPECT_GE(elapsed, 400);
    EXPECT_LT(elapsed, 3000);
    EXPECT_TRUE(sock.TimedOut());
}

TEST_F(PowersockTest, CancelWhileIdleFailsTheNextTransferOnce)
{
    RawListener listener;
    TPowersock sock;
    RawFd peer = ConnectTo(sock, listener);
    sock.Cancel();
    EXPECT_TRUE(sock.Canceled());
    EXPECT_EQ(ExceptionText([&] { sock.Write("lost"); }), "Socket send aborted");
    EXPECT_FALSE(sock.Canceled());
    sock.Write("kept");
    EXPECT_EQ(peer.Recv(4), "kept");

    // Connect clears a pending cancel.
    sock.Disconnect();
    sock.Cancel();
    auto accepted = std::async(std::launch::async, [&] { return listener.Accept(); });
    sock.Connect();
    EXPECT_TRUE(sock.Connected());
    accepted.get();
}

TEST_F(PowersockTest, CancelFromAnotherThreadEndsAWaitingRead)
{
    RawListener listener;
    TPowersock sock;
    RawFd peer = ConnectTo(sock, listener);
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        sock.Cancel();
    });
    EXPECT_EQ(ExceptionText([&] { sock.Read(16); }), "Socket send aborted");
    canceller.join();
    EXPECT_FALSE(sock.Canceled());
}

TEST_F(PowersockTest, CancelFromAHandlerRunByThePump)
{
    RawListener listener;
    TPowersock sock;
    RawFd peer = ConnectTo(sock, listener);
    QTimer::singleShot(50, [&] { sock.Cancel(); });
    EXPECT_EQ(ExceptionText([&] { sock.ReadLn(); }), "Socket readln aborted");
    QTimer::singleShot(50, [&] { sock.Abort(); });
    TMemoryStream stream;
    EXPECT_EQ(ExceptionText([&] { sock.CaptureStream(stream, 10); }), "Socket capture aborted");
}

TEST_F(PowersockTest, TimeOutEndsAWaitingReadLn)
{
    RawListener listener;
    TPowersock sock;
    RawFd peer = ConnectTo(sock, listener);
    sock.TimeOut = 200;
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(ExceptionText([&] { sock.ReadLn(); }), "Socket readln aborted");
    EXPECT_GE(clock.elapsed(), 150);
    EXPECT_TRUE(sock.TimedOut());
}

TEST_F(PowersockTest, PeerCloseClearsConnectedUnlessDataWaits)
{
    RawListener listener;
    {
        TPowersock sock;
        RawFd peer = ConnectTo(sock, listener);
        int disconnects = 0;
        sock.OnDisconnect = [&](TPowersock *s) { EXPECT_EQ(s, &sock); ++disconnects; };
        peer.Close();
        EXPECT_TRUE(PumpUntil([&] { return !sock.Connected(); }));
        EXPECT_EQ(disconnects, 1);
    }
    {
        TPowersock sock;
        RawFd peer = ConnectTo(sock, listener);
        peer.Send("unread");
        peer.Close();
        PumpUntil([] { return false; }, 200);
        EXPECT_TRUE(sock.Connected()) << "a close with data waiting is ignored";
        EXPECT_EQ(sock.Read(6), "unread");
        EXPECT_EQ(sock.Read(1), "");
    }
}

TEST_F(PowersockTest, StatusReportsFollowTheLevel)
{
    struct Case {
        int level;
        bool connecting, closeSocket;
    } cases[] = {{0, false, false}, {4, false, true}, {8, true, true}};
    for (const auto &c : cases) {
        TPowersock sock;
        std::vector<std::string> seen;
        sock.ReportLevel = c.level;
        sock.OnStatus = [&](TPowersock *s, const std::string &status) {
            EXPECT_EQ(s, &sock);
            seen.push_back(status);
        };
        sock.Host = "127.0.0.1";
        sock.Port = test::UnusedPort();
        ExceptionText([&] { sock.Connect(); });
        sock.Disconnect();
        auto has = [&](const std::string &t) { return std::find(seen.begin(), seen.end(), t) != seen.end(); };
        EXPECT_EQ(has("Connecting"), c.connecting) << c.level;
        EXPECT_EQ(has("Request Close Socket"), c.closeSocket) << c.level;
        EXPECT_EQ(seen.empty(), c.level == 0);
        if (c.level == 0)
            EXPECT_EQ(sock.LastStatus(), "");
        else
            EXPECT_EQ(sock.LastStatus(), "Request Close Socket");
    }
}

// A listening component as a server uses it.
struct TestListener : TPowersock {
    using TPowersock::AcceptHandler;
    using TPowersock::SetEventDone;
};

TEST_F(PowersockTest, ListenAcceptAndAFailedBindIsKept)
{
    TestListener server;
    server.Port = 0;
    server.Listen();
    EXPECT_EQ(server.ListenError(), 0);
    sockaddr_in a {};
    socklen_t len = sizeof a;
    ::getsockname(server.SocketHandle(), reinterpret_cast<sockaddr *>(&a), &len);
    const int port = ntohs(a.sin_port);

    int accepts = 0;
    SockPtr accepted;
    server.AcceptHandler = [&](TPowersock *) {
        ++accepts;
        server.SetEventDone(true);
        accepted = server.Accept();
    };
    RawFd client = test::RawConnect(port);
    ASSERT_TRUE(client.valid());
    EXPECT_TRUE(PumpUntil([&] { return accepts == 1; }));
    ASSERT_TRUE(accepted);
    EXPECT_EQ(ntohl(server.RemoteAddress().sin_addr.s_addr), INADDR_LOOPBACK);
    RawFd second = test::RawConnect(port);
    EXPECT_TRUE(PumpUntil([&] { return accepts == 2; })) << "accept notifications re-arm";

    TPowersock clash;
    clash.Port = port;
    clash.Listen();
    EXPECT_EQ(clash.ListenError(), 10048);

    TPowersock range;
    range.Port = 70000;
    EXPECT_EQ(ExceptionText([&] { range.Listen(); }), "Range check error");
}

TEST_F(PowersockTest, SocketLibraryCountPairsStartsAndStops)
{
    const int before = TPowersock::SocketLibraryUsers();
    {
        TPowersock a, b;
        EXPECT_EQ(TPowersock::SocketLibraryUsers(), before + 2);
    }
    EXPECT_EQ(TPowersock::SocketLibraryUsers(), before);
}

} // namespace
} // namespace dz::net

// The user's key file and TLS links over real loopback connections.

#include "net/identity.h"
#include "net/tls.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <future>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace dz::net;

namespace {

struct Fd {
    int fd = -1;
    explicit Fd(int f = -1) : fd(f) {}
    Fd(Fd &&o) noexcept : fd(o.fd) { o.fd = -1; }
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// A connected loopback TCP pair: {client, server}.
std::pair<Fd, Fd> TcpPair()
{
    Fd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(listener.fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(listener.fd, 4) != 0 ||
        ::getsockname(listener.fd, reinterpret_cast<sockaddr *>(&a), &len) != 0)
        throw std::runtime_error("no listener");
    Fd client(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (::connect(client.fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0)
        throw std::runtime_error("no connection");
    Fd server(::accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC));
    return {std::move(client), std::move(server)};
}

class TempDir {
public:
    TempDir()
    {
        char name[] = "/tmp/dz-tls-XXXXXX";
        path_ = ::mkdtemp(name);
        path_ += '/';
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    const std::string &Path() const { return path_; }

private:
    std::string path_;
};

// The text of what f raised: "" when it ran through, "refused: ..." for a
// refusal, "tls: ..." for another TLS failure.
std::string Outcome(const std::function<void()> &f)
{
    try {
        f();
    } catch (const ETlsRefused &e) {
        return std::string("refused: ") + e.what();
    } catch (const ETlsError &e) {
        return std::string("tls: ") + e.what();
    } catch (const std::exception &e) {
        return std::string("other: ") + e.what();
    }
    return "";
}

// Runs the server's part on a thread of its own and the client's here;
// both are bounded by their links' idle limit.
std::pair<std::string, std::string> RunPair(const std::function<void()> &client, const std::function<void()> &server)
{
    auto serverDone = std::async(std::launch::async, [&] { return Outcome(server); });
    const std::string c = Outcome(client);
    return {c, serverDone.get()};
}

class Tls : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        alice = new TIdentity(TIdentity::Generate("alice"));
        bob = new TIdentity(TIdentity::Generate("bob"));
    }
    static void TearDownTestSuite()
    {
        delete alice;
        delete bob;
    }
    static TIdentity *alice, *bob;
};
TIdentity *Tls::alice = nullptr;
TIdentity *Tls::bob = nullptr;

} // namespace

TEST(Identity, MadeOnceKeptPrivateAndRenewedWhenDamaged)
{
    TempDir dir;
    const std::string path = dir.Path() + TIdentity::kFileName;
    const TIdentity first = TIdentity::LoadOrCreate(dir.Path(), "host");
    EXPECT_TRUE(first.Stored());
    EXPECT_FALSE(first.Renewed());
    EXPECT_EQ(first.Fingerprint().size(), 64u);
    EXPECT_EQ(first.Fingerprint().find_first_not_of("0123456789abcdef"), std::string::npos);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    const TIdentity again = TIdentity::LoadOrCreate(dir.Path(), "host");
    EXPECT_EQ(again.Fingerprint(), first.Fingerprint());
    EXPECT_FALSE(again.Renewed());

    // Damaged in three ways: cut in the middle, another key's certificate, garbage.
    const std::string pem = [&] {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }();
    const std::string otherCert = [&] {
        TempDir other;
        TIdentity::LoadOrCreate(other.Path(), "other");
        std::ifstream in(other.Path() + TIdentity::kFileName);
        const std::string text(std::istreambuf_iterator<char>(in), {});
        return text.substr(text.find("-----BEGIN CERTIFICATE"));
    }();
    const std::string damages[] = {pem.substr(0, pem.size() / 2), pem.substr(0, pem.find("-----BEGIN CERTIFICATE")) + otherCert,
                                   std::string("\x00\xff not a key", 13)};
    std::string previous = first.Fingerprint();
    for (const std::string &damage : damages) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << damage;
        const TIdentity renewed = TIdentity::LoadOrCreate(dir.Path(), "host");
        EXPECT_TRUE(renewed.Renewed());
        EXPECT_TRUE(renewed.Stored());
        EXPECT_NE(renewed.Fingerprint(), previous);
        EXPECT_TRUE(std::filesystem::exists(path + ".damaged"));
        EXPECT_EQ(TIdentity::LoadOrCreate(dir.Path(), "host").Fingerprint(), renewed.Fingerprint());
        previous = renewed.Fingerprint();
    }
}

TEST_F(Tls, HandshakeAcceptsOnlyTheExpectedCertificates)
{
    TTlsContext aliceClient(TTlsContext::Role::Client, alice);
    TTlsContext bareClient(TTlsContext::Role::Client, nullptr);
    TTlsContext bobServer(TTlsContext::Role::Server, bob);
    const std::string rightForBob = alice->Fingerprint(), rightForAlice = bob->Fingerprint();
    const std::string wrong(64, 'a');
    struct Case {
        const char *name;
        TTlsContext *client;
        std::string clientExpects, serverExpects;
        const char *clientOutcome, *serverOutcome; // prefixes of Outcome
    } cases[] = {
        {"both pinned", &aliceClient, rightForAlice, rightForBob, "", ""},
        {"client expects another key", &aliceClient, wrong, rightForBob, "refused: Peer certificate refused: ", "tls: "},
        {"server expects another key", &aliceClient, rightForAlice, wrong, "tls: ", "refused: Peer certificate refused: "},
        {"client shows no certificate", &bareClient, rightForAlice, rightForBob, "tls: ",
         "refused: Peer presented no certificate"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto [cfd, sfd] = TcpPair();
        TTlsLink client(*c.client, cfd.fd, ExpectFingerprint(c.clientExpects));
        TTlsLink server(bobServer, sfd.fd, ExpectFingerprint(c.serverExpects));
        client.IdleLimitMs = server.IdleLimitMs = 5000;
        std::string heard;
        const auto [co, so] = RunPair(
            [&] {
                client.Handshake();
                client.WriteAll("ping", 4);
                char reply[4];
                client.ReadExact(reply, 4); // a server's refusal shows here at the latest
                heard.assign(reply, 4);
            },
            [&] {
                server.Handshake();
                char request[4];
                server.ReadExact(request, 4);
                server.WriteAll("pong", 4);
            });
        EXPECT_EQ(co.rfind(c.clientOutcome, 0), 0u) << co;
        EXPECT_EQ(so.rfind(c.serverOutcome, 0), 0u) << so;
        if (co.empty()) {
            EXPECT_EQ(heard, "pong");
            EXPECT_EQ(client.PeerFingerprint(), bob->Fingerprint());
            EXPECT_EQ(server.PeerFingerprint(), alice->Fingerprint());
        }
    }
}

TEST_F(Tls, SecondConnectionResumesAndIsStillChecked)
{
    TTlsContext clientContext(TTlsContext::Role::Client, alice);
    TTlsContext serverContext(TTlsContext::Role::Server, bob);
    // The third time the client no longer accepts bob's key: a resumed
    // session must not slip past the check.
    const std::string expected[] = {bob->Fingerprint(), bob->Fingerprint(), std::string(64, 'b')};
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        auto [cfd, sfd] = TcpPair();
        TTlsLink client(clientContext, cfd.fd, ExpectFingerprint(expected[round]), bob->Fingerprint());
        TTlsLink server(serverContext, sfd.fd, ExpectFingerprint(alice->Fingerprint()));
        client.IdleLimitMs = server.IdleLimitMs = 5000;
        const auto [co, so] = RunPair(
            [&] {
                client.Handshake();
                client.WriteAll("x", 1);
                char reply;
                client.ReadExact(&reply, 1); // takes the server's ticket too
            },
            [&] {
                server.Handshake();
                char request;
                server.ReadExact(&request, 1);
                server.WriteAll("y", 1);
            });
        if (round < 2) {
            EXPECT_EQ(co, "");
            EXPECT_EQ(so, "");
            EXPECT_EQ(client.Resumed(), round == 1);
            EXPECT_EQ(server.Resumed(), round == 1);
            EXPECT_EQ(server.PeerFingerprint(), alice->Fingerprint());
        } else {
            EXPECT_EQ(co.rfind("refused: Peer certificate refused: " + bob->Fingerprint(), 0), 0u) << co;
            EXPECT_NE(so, "");
        }
    }
}

TEST_F(Tls, FileArrivesByteIdentical)
{
#ifdef DIZARUZ_SANITIZED
    constexpr std::size_t kSize = std::size_t {8} << 20;
#else
    constexpr std::size_t kSize = std::size_t {64} << 20;
#endif
    TempDir dir;
    const std::string path = dir.Path() + "file.bin";
    std::string content(kSize + 1234, '\0'); // not a whole number of buffers
    std::mt19937_64 random(42);
    for (std::size_t i = 0; i + 8 <= content.size(); i += 8) {
        const std::uint64_t v = random();
        std::memcpy(&content[i], &v, 8);
    }
    std::ofstream(path, std::ios::binary) << content;
    Fd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));

    TTlsContext clientContext(TTlsContext::Role::Client, alice);
    TTlsContext serverContext(TTlsContext::Role::Server, bob);
    auto [cfd, sfd] = TcpPair();
    TTlsLink client(clientContext, cfd.fd, ExpectFingerprint(bob->Fingerprint()));
    TTlsLink server(serverContext, sfd.fd, ExpectFingerprint(alice->Fingerprint()));
    client.IdleLimitMs = server.IdleLimitMs = 10000;
    std::string received;
    std::int64_t reported = 0;
    const auto [co, so] = RunPair(
        [&] {
            client.Handshake();
            client.SendFile(file.fd, 0, static_cast<std::int64_t>(content.size()),
                            [&](std::int64_t n) { reported += n; });
            client.Close();
        },
        [&] {
            server.Handshake();
            std::vector<char> block(1 << 20);
            while (const std::size_t n = server.ReadSome(block.data(), block.size()))
                received.append(block.data(), n);
        });
    EXPECT_EQ(co, "");
    EXPECT_EQ(so, "");
    EXPECT_EQ(reported, static_cast<std::int64_t>(content.size()));
    EXPECT_TRUE(received == content) << "received " << received.size() << " of " << content.size() << " bytes";
}

TEST_F(Tls, FlippedByteInARecordResetsAndDeliversNothing)
{
    // client <-> relay <-> server; the relay flips one byte of the first
    // application record once both handshakes are done.
    TTlsContext clientContext(TTlsContext::Role::Client, alice);
    TTlsContext serverContext(TTlsContext::Role::Server, bob);
    auto [cfd, relayFromClient] = TcpPair();
    auto [relayToServer, sfd] = TcpPair();
    std::atomic<bool> flip {false}, stop {false};
    std::atomic<int> serverSideReset {0};
    std::thread relay([&, a = relayFromClient.fd, b = relayToServer.fd] {
        pollfd p[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
        char buffer[65536];
        for (int spins = 0; spins < 100000 && !stop; ++spins) {
            if (::poll(p, 2, 50) <= 0)
                continue;
            for (int i = 0; i < 2; ++i) {
                if ((p[i].revents & (POLLIN | POLLERR | POLLHUP)) == 0)
                    continue;
                const ssize_t n = ::recv(p[i].fd, buffer, sizeof buffer, MSG_DONTWAIT);
                if (n < 0 && errno == ECONNRESET && i == 1) {
                    serverSideReset = 1;
                    return;
                }
                if (n <= 0) {
                    if (n == 0 && i == 1)
                        serverSideReset = -1; // an orderly end: not what is wanted
                    if (n == 0)
                        return;
                    continue;
                }
                if (i == 0 && flip.exchange(false))
                    buffer[n / 2] ^= 0x01;
                ::send(p[1 - i].fd, buffer, static_cast<std::size_t>(n), MSG_NOSIGNAL);
            }
        }
    });
    TTlsLink client(clientContext, cfd.fd, ExpectFingerprint(bob->Fingerprint()));
    TTlsLink server(serverContext, sfd.fd, ExpectFingerprint(alice->Fingerprint()));
    client.IdleLimitMs = server.IdleLimitMs = 5000;
    std::size_t delivered = 0;
    const auto [co, so] = RunPair(
        [&] {
            client.Handshake();
            char ack;
            client.ReadExact(&ack, 1); // the server's handshake is done too
            flip = true;
            const std::string secret(1000, 's');
            client.WriteAll(secret.data(), secret.size());
        },
        [&] {
            server.Handshake();
            server.WriteAll("k", 1);
            char buffer[2000];
            delivered = server.ReadSome(buffer, sizeof buffer);
        });
    stop = serverSideReset != 0;
    relay.join();
    EXPECT_EQ(co, "");
    EXPECT_EQ(so.rfind("tls: TLS read failed", 0), 0u) << so;
    EXPECT_EQ(delivered, 0u);
    EXPECT_EQ(serverSideReset.load(), 1);
}

TEST(FirstByte, TellsTlsFromClearWithoutTakingIt)
{
    struct Case {
        const char *name;
        std::string send; // "" with close: the client closes at once
        bool close;
        TFirstByte expected;
    } cases[] = {
        {"ClientHello", std::string("\x16\x03\x01\x02\x00", 5), false, TFirstByte::Tls},
        {"clear message", "0005alpha", false, TFirstByte::Clear},
        {"clear stream with blanks", "   5alpha", false, TFirstByte::Clear},
        {"closed at once", "", true, TFirstByte::Closed},
        {"silent", "", false, TFirstByte::Waiting},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto [cfd, sfd] = TcpPair();
        if (!c.send.empty()) {
            ASSERT_EQ(::send(cfd.fd, c.send.data(), c.send.size(), 0), static_cast<ssize_t>(c.send.size()));
        }
        if (c.close) {
            ::close(cfd.fd);
            cfd.fd = -1;
        }
        EXPECT_EQ(PeekFirstByte(sfd.fd, c.expected == TFirstByte::Waiting ? 50 : 5000), c.expected);
        if (!c.send.empty()) {
            char first = 0;
            ASSERT_EQ(::recv(sfd.fd, &first, 1, 0), 1);
            EXPECT_EQ(first, c.send[0]); // still there for the parser
        }
    }
}

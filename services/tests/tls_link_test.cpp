// Both services over TLS: the first byte picks the way, each side checks the
// other's key before a byte of the request is read, a clear client is served
// as before, and a damaged record stores nothing.
#include "net/filestream.h"
#include "net/identity.h"
#include "net/tests/testutil.h"
#include "net/tls.h"
#include "services/nmmsg.h"
#include "services/nmstrm.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <future>
#include <thread>
#include <unistd.h>

namespace dz::services {
namespace {

using test::PumpUntil;

struct Keys {
    net::TIdentity server = net::TIdentity::Generate("SERVER");
    net::TIdentity client = net::TIdentity::Generate("CLIENT");
    std::shared_ptr<net::TTlsContext> serverContext =
        std::make_shared<net::TTlsContext>(net::TTlsContext::Role::Server, &server);
    std::shared_ptr<net::TTlsContext> clientContext =
        std::make_shared<net::TTlsContext>(net::TTlsContext::Role::Client, &client);
};

Keys &SharedKeys()
{
    static Keys keys;
    return keys;
}

// Runs f on a thread of its own while this one pumps (the servers accept
// on it); its exception text, or "".
std::string OffThread(const std::function<void()> &f)
{
    auto done = std::async(std::launch::async, [&] { return test::ExceptionText(f); });
    EXPECT_TRUE(PumpUntil([&] { return done.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 20000));
    const std::string text = done.get();
    return text == "<no exception>" ? std::string() : text;
}

struct MsgCase {
    const char *name;
    bool clientEncrypts;
    bool clientExpectsServerKey; // else another key
    bool serverAcceptsClientKey;
    bool delivered;
    const char *errorStart; // "" when none
};

TEST(TlsServices, MessageServerTakesTlsAndClearAndChecksBothKeys)
{
    Keys &keys = SharedKeys();
    const MsgCase cases[] = {
        {"clear client", false, true, true, true, ""},
        {"both keys right", true, true, true, true, ""},
        {"server shows a key the client did not expect", true, false, true, false, "Peer certificate refused"},
        {"server refuses the client's key", true, true, false, false, "TLS"},
    };
    for (const MsgCase &c : cases) {
        SCOPED_TRACE(c.name);
        std::mutex mutex;
        std::vector<std::pair<std::string, std::string>> got; // text, key seen
        TNMMSGServ server;
        server.Port = 0;
        server.TlsContext = keys.serverContext;
        const std::string clientKey = keys.client.Fingerprint();
        server.TlsAccepts = [&, accept = c.serverAcceptsClientKey](const std::string &fp, std::uint32_t address) {
            return accept && fp == clientKey && address == htonl(INADDR_LOOPBACK);
        };
        server.OnMSG = [&](TNMMSGServ *sender, const std::string &, const std::string &msg) {
            std::lock_guard lock(mutex);
            got.emplace_back(msg, sender->PeerFingerprint());
        };
        server.Loaded();
        std::string reply;
        const std::string error = OffThread([&] {
            TNMMsg client;
            client.PumpWhileWaiting = false;
            client.Host = "127.0.0.1";
            client.Port = server.LocalPort();
            client.FromName = "CLIENT";
            if (c.clientEncrypts) {
                client.TlsContext = keys.clientContext;
                client.TlsFingerprint = c.clientExpectsServerKey ? keys.server.Fingerprint() : clientKey;
            }
            reply = client.PostText("MSG|secret");
        });
        EXPECT_EQ(error.rfind(c.errorStart, 0), 0u) << error;
        if (c.delivered) {
            EXPECT_EQ(reply, "OK              ");
            ASSERT_TRUE(PumpUntil([&] {
                std::lock_guard lock(mutex);
                return !got.empty();
            }));
            std::lock_guard lock(mutex);
            EXPECT_EQ(got[0].first, "MSG|secret");
            EXPECT_EQ(got[0].second, c.clientEncrypts ? clientKey : std::string());
        }
        server.StopServing(std::chrono::seconds(2));
        std::lock_guard lock(mutex);
        EXPECT_EQ(got.size(), c.delivered ? 1u : 0u);
    }
}

class TempFile {
public:
    explicit TempFile(const std::string &bytes)
    {
        char name[] = "/tmp/dz-tls-XXXXXX";
        const int fd = ::mkstemp(name);
        path = name;
        ::close(fd);
        std::ofstream(path, std::ios::binary) << bytes;
    }
    ~TempFile() { std::remove(path.c_str()); }
    std::string path;
};

// A stream server that keeps what arrives whole, and the key it came with.
struct StreamServer {
    explicit StreamServer(const std::shared_ptr<net::TTlsContext> &context)
    {
        server.Port = 0;
        server.TlsContext = context;
        server.TlsAccepts = [](const std::string &, std::uint32_t) { return true; };
        server.OnMSG = [this](TNMStrmServ *, const std::string &, net::TStream &strm) {
            std::string bytes(static_cast<std::size_t>(strm.Size()), '\0');
            strm.Read(bytes.data(), strm.Size());
            std::lock_guard lock(mutex);
            stored.push_back(std::move(bytes));
        };
        server.Loaded();
    }
    std::size_t Count()
    {
        std::lock_guard lock(mutex);
        return stored.size();
    }
    TNMStrmServ server;
    std::mutex mutex;
    std::vector<std::string> stored;
};

std::string Pattern(std::size_t n)
{
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((i * 131) ^ (i >> 9));
    return s;
}

TEST(TlsServices, FilesGoWholeOverTlsAndTheSecondResumes)
{
    Keys &keys = SharedKeys();
    StreamServer server(keys.serverContext);
    const std::string bytes = Pattern(3u << 20);
    TempFile file(bytes);
    std::vector<bool> resumed;
    const std::string error = OffThread([&] {
        TNMStrm client;
        client.PumpWhileWaiting = false;
        client.Host = "127.0.0.1";
        client.Port = server.server.LocalPort();
        client.FromName = "CLIENT";
        client.TlsContext = keys.clientContext;
        client.TlsFingerprint = keys.server.Fingerprint();
        // Hashed, as between two copies: the hash follows the encrypted body.
        for (int i = 0; i < 2; ++i) {
            net::TFileStream stream(file.path);
            client.OnMessageSent = [&](net::TPowersock *sender) { resumed.push_back(sender->TlsResumed()); };
            if (client.PostStream(stream, {true, true}) != "OK              ")
                throw Exception("no reply");
        }
    });
    EXPECT_EQ(error, "");
    ASSERT_TRUE(PumpUntil([&] { return server.Count() == 2; }));
    for (const std::string &stored : server.stored)
        EXPECT_TRUE(stored == bytes);
    ASSERT_EQ(resumed.size(), 2u);
    EXPECT_FALSE(resumed[0]);
    EXPECT_TRUE(resumed[1]);
}

// Forwards a connection to port, flipping one byte the client sends at
// offset flipAt (counted from the first). Stops when either side closes.
class FlippingProxy {
public:
    FlippingProxy(int port, std::size_t flipAt) : port_(port), flipAt_(flipAt)
    {
        thread_ = std::thread([this] { Run(); });
    }
    ~FlippingProxy()
    {
        stop_ = true;
        thread_.join();
    }
    int port() const { return listener_.port(); }

private:
    void Run()
    {
        test::RawFd in = listener_.Accept(10000);
        if (!in.valid())
            return;
        test::RawFd out = test::RawConnect(port_);
        std::size_t forwarded = 0;
        char buffer[65536];
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!stop_ && std::chrono::steady_clock::now() < end) {
            pollfd p[2] = {{in.get(), POLLIN, 0}, {out.get(), POLLIN, 0}};
            if (::poll(p, 2, 50) <= 0)
                continue;
            for (int side = 0; side < 2; ++side) {
                if (!(p[side].revents & (POLLIN | POLLHUP | POLLERR)))
                    continue;
                const int from = side == 0 ? in.get() : out.get();
                const int to = side == 0 ? out.get() : in.get();
                const ssize_t n = ::recv(from, buffer, sizeof buffer, 0);
                if (n <= 0)
                    return; // closing both ends tells each side
                if (side == 0) {
                    if (flipAt_ >= forwarded && flipAt_ < forwarded + static_cast<std::size_t>(n))
                        buffer[flipAt_ - forwarded] ^= 0x20;
                    forwarded += static_cast<std::size_t>(n);
                }
                if (::send(to, buffer, static_cast<std::size_t>(n), MSG_NOSIGNAL) != n)
                    return;
            }
        }
    }
    test::RawListener listener_;
    int port_;
    std::size_t flipAt_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST(TlsServices, ADamagedRecordResetsAndStoresNothing)
{
    Keys &keys = SharedKeys();
    StreamServer server(keys.serverContext);
    const std::string bytes = Pattern(1u << 20);
    TempFile file(bytes);
    // Well past the handshake, inside the body's records.
    FlippingProxy proxy(server.server.LocalPort(), 300000);
    const std::string error = OffThread([&] {
        TNMStrm client;
        client.PumpWhileWaiting = false;
        client.IdleLimit = 10000;
        client.Host = "127.0.0.1";
        client.Port = proxy.port();
        client.FromName = "CLIENT";
        client.TlsContext = keys.clientContext;
        client.TlsFingerprint = keys.server.Fingerprint();
        net::TFileStream stream(file.path);
        client.PostStream(stream);
    });
    EXPECT_NE(error, "");
    // The server's connection has ended (reset) without storing.
    EXPECT_TRUE(PumpUntil([&] { return server.server.ConnectionCount() == 0; }));
    EXPECT_EQ(server.Count(), 0u);
}

} // namespace
} // namespace dz::services

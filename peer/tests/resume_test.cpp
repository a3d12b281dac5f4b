// Continuing a cut file between two copies over real loopback sockets, with
// a relay between the sender and the receiver's stream port that counts
// what crosses, holds a stream in its middle and cuts the link.

#include "peer/kept.h"
#include "peer/tests/sessiontools.h"

#include "net/tests/testutil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <thread>

namespace {

using dz::peer::TKeptKey;
using dz::test::Introduce;
using dz::test::PumpUntil;
using dz::test::RawFd;
using dz::test::Step;
namespace fs = std::filesystem;

void Reset(RawFd &fd)
{
    const linger hard {1, 0};
    ::setsockopt(fd.get(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    fd.Close();
}

// Relays each connection to target on loopback, one at a time. Counts the
// bytes going towards the target; after holdAfter of them it stops reading
// from the sender until the connection ends.
class TRelay {
public:
    // Listens at 127.0.0.2, where the sender looks for its peer.
    explicit TRelay(int target) : target_(target)
    {
        listener_ = RawFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in at {};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(0x7f000002);
        socklen_t size = sizeof at;
        if (::bind(listener_.get(), reinterpret_cast<sockaddr *>(&at), size) != 0 || ::listen(listener_.get(), 4) != 0 ||
            ::getsockname(listener_.get(), reinterpret_cast<sockaddr *>(&at), &size) != 0)
            ADD_FAILURE() << "no relay";
        port_ = ntohs(at.sin_port);
        thread_ = std::thread([this] { Run(); });
    }
    ~TRelay()
    {
        stop_ = true;
        thread_.join();
    }
    int port() const { return port_; }
    void HoldAfter(std::int64_t n) { holdAfter_ = n; }
    bool Holding() const { return holding_; }
    // Towards the target, on the connection now or last relayed.
    std::int64_t Forwarded() const { return forwarded_; }
    std::int64_t Connections() const { return connections_; }
    // Resets both sides of the connection now relayed.
    void Cut() { cut_ = true; }

private:
    void Run()
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!stop_ && std::chrono::steady_clock::now() < end) {
            pollfd p {listener_.get(), POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            RawFd client(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
            if (client.valid())
                Serve(client, end);
        }
    }
    void Serve(RawFd &client, std::chrono::steady_clock::time_point end)
    {
        RawFd server = dz::test::RawConnect(target_);
        forwarded_ = 0;
        holding_ = false;
        cut_ = false;
        ++connections_;
        bool clientDone = false, serverDone = false;
        std::vector<char> buffer(1 << 16);
        while (!stop_ && !(clientDone && serverDone) && std::chrono::steady_clock::now() < end) {
            if (cut_) {
                Reset(client);
                Reset(server);
                return;
            }
            holding_ = forwarded_ >= holdAfter_;
            pollfd p[2] = {{client.get(), static_cast<short>(clientDone || holding_ ? 0 : POLLIN), 0},
                           {server.get(), static_cast<short>(serverDone ? 0 : POLLIN), 0}};
            if (::poll(p, 2, 10) <= 0)
                continue;
            // One direction: the bytes moved, -1 when the connection is
            // over (a reset went the other way).
            const auto move = [&](RawFd &from, RawFd &to, std::size_t most, bool &done) -> ssize_t {
                const ssize_t n = ::recv(from.get(), buffer.data(), most, 0);
                if (n == 0) {
                    done = true;
                    ::shutdown(to.get(), SHUT_WR);
                } else if (n < 0 || !to.Send({buffer.data(), static_cast<std::size_t>(n)})) {
                    Reset(n < 0 ? to : from);
                    return -1;
                }
                return n;
            };
            // A held sender that goes away still cuts the connection.
            if (holding_ && (p[0].revents & (POLLERR | POLLHUP))) {
                Reset(server);
                return;
            }
            const auto most = static_cast<std::size_t>(
                std::min<std::int64_t>(static_cast<std::int64_t>(buffer.size()), holdAfter_ - forwarded_));
            const ssize_t up = p[0].events && p[0].revents ? move(client, server, most, clientDone) : 0;
            if (up < 0 || (p[1].events && p[1].revents && move(server, client, buffer.size(), serverDone) < 0))
                return;
            forwarded_ += up;
        }
    }

    RawFd listener_;
    int port_ = 0;
    const int target_;
    std::atomic<std::int64_t> holdAfter_{INT64_MAX};
    std::atomic<std::int64_t> forwarded_{0};
    std::atomic<std::int64_t> connections_{0};
    std::atomic<bool> holding_{false}, cut_{false}, stop_{false};
    std::thread thread_;
};

std::string ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string Pattern(std::size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    std::uint32_t x = seed * 2654435761u + 1;
    for (char &c : bytes) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        c = static_cast<char>(x);
    }
    return bytes;
}

timespec ModifiedOf(const std::string &path)
{
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mtim;
}

TKeptKey KeyOf(const std::string &path, const std::string &name)
{
    const timespec t = ModifiedOf(path);
    return {"127.0.0.1", name, static_cast<std::int64_t>(fs::file_size(path)),
            static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec};
}

// What the stream carries before its body: the preamble, the counted
// sender name "127.0.0.1", the size, the modification time and the start.
constexpr std::int64_t kHead = 4 + 4 + 9 + 10 + 20 + 20;
constexpr std::size_t kSize = 24u << 20;
constexpr std::int64_t kHeld = 7 << 20; // body bytes that arrive before the cut

struct TPair : dz::test::TFolderTest {
    using TFolderTest::Folder;
    void SetUp() override
    {
        TFolderTest::SetUp();
        a = std::make_unique<dz::test::TSessionSide>("127.0.0.1", Folder("a"));
        b = std::make_unique<dz::test::TSessionSide>("127.0.0.2", Folder("b"));
        relay = std::make_unique<TRelay>(b->StrmPort());
        ASSERT_TRUE(Introduce(*a, *b));
        a->session->Streams().Client().Port = relay->port();
        src = Folder("src") + "data.bin";
        bytes = Pattern(kSize, 7);
        std::ofstream(src, std::ios::binary) << bytes;
    }
    void TearDown() override
    {
        a.reset();
        b.reset();
        relay.reset();
    }
    // Sends src and cuts the stream once kHeld body bytes have arrived; true
    // once the receiver has kept them.
    bool SendAndCut(const std::function<void()> &cut)
    {
        relay->HoldAfter(kHead + kHeld);
        dz::peer::RunStep(a->session->Outbox(), a->session->Streams(), a->session->Core(), src,
                          [](const std::string &) {});
        if (!PumpUntil([&] { return relay->Holding() && b->session->Incoming().done == kHeld; }, 20000)) {
            ADD_FAILURE() << "held " << relay->Forwarded() << " received " << b->session->Incoming().done << " b: " << ::testing::PrintToString(b->shown);
            return false;
        }
        cut();
        // The hold ends with the connection: nothing more may arrive.
        const bool kept =
            PumpUntil([&] { return dz::peer::FindKept(Folder("b"), KeyOf(src, "data.bin")).has_value(); }, 20000);
        relay->HoldAfter(INT64_MAX);
        return kept;
    }
    std::unique_ptr<dz::test::TSessionSide> a, b;
    std::unique_ptr<TRelay> relay;
    std::string src, bytes;
};

class ResumeTest : public TPair {};

TEST_F(ResumeTest, ACutStreamContinuesWithOnlyTheRest)
{
    struct Case {
        const char *name;
        std::function<void(TPair &)> cut;
    } cases[] = {
        {"the sending copy closes", [](TPair &t) {
             t.a->session->Shutdown();
             t.a = std::make_unique<dz::test::TSessionSide>("127.0.0.1", t.Folder("a"));
         }},
        {"the link is cut", [](TPair &t) { t.relay->Cut(); }},
        {"the sender cancels", [](TPair &t) { t.a->session->Streams().Cancel(); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(Folder("b"));
        Folder("b");
        ASSERT_TRUE(SendAndCut([&] { c.cut(*this); }));
        const auto kept = dz::peer::FindKept(Folder("b"), KeyOf(src, "data.bin"));
        EXPECT_EQ(kept->length, kHeld);
        EXPECT_EQ(kept->hash.Digest(), dz::THasher::Of(std::string_view(bytes).substr(0, kHeld)));
        // Nothing of it is listed or stored under its name yet.
        EXPECT_FALSE(fs::exists(Folder("b") + "data.bin"));

        if (!a->session->Core().Introduced() || !b->session->Core().Introduced() ||
            a->session->Core().PeerCapabilities() != dz::peer::TPeerCore::OwnCapabilities())
            ASSERT_TRUE(Introduce(*a, *b));
        a->session->Streams().Client().Port = relay->port();
        const std::int64_t before = relay->Connections();
        EXPECT_EQ(Step(*a, src), "");
        EXPECT_EQ(relay->Connections(), before + 1);
        // The rest, its head and the hash; never the kept part again.
        EXPECT_GE(relay->Forwarded(), static_cast<std::int64_t>(kSize) - kHeld);
        EXPECT_LE(relay->Forwarded(), static_cast<std::int64_t>(kSize) - kHeld + kHead + 16);
        EXPECT_TRUE(ReadFile(Folder("b") + "data.bin") == bytes);
        EXPECT_TRUE(b->session->Verified("data.bin"));
        EXPECT_TRUE(fs::is_empty(dz::peer::KeptFolder(Folder("b"))));
    }
}

// A kept part that is not the beginning of what is sent now is never used:
// the file goes whole and arrives as it is.
TEST_F(ResumeTest, AKeptPartThatDoesNotMatchIsDroppedAndTheFileSentWhole)
{
    struct Case {
        const char *name;
        std::function<void(TPair &)> spoil;
    } cases[] = {
        // Both found only once the rest arrived: answered as a mismatch, sent again whole.
        {"damaged on the receiver's disk", [](TPair &t) {
             const std::string data = dz::peer::KeptPathsFor(t.Folder("b"), KeyOf(t.src, "data.bin")).data;
             std::fstream f(data, std::ios::in | std::ios::out | std::ios::binary);
             f.seekp(1000);
             f.put('\x5a' ^ t.bytes[1000]);
         }},
        // Same name, size and time, other bytes: the hash after the body differs.
        {"the sender's file changed under the same time", [](TPair &t) {
             const timespec times[2] = {ModifiedOf(t.src), ModifiedOf(t.src)};
             t.bytes[5000] ^= 0x21;
             std::ofstream(t.src, std::ios::binary) << t.bytes;
             ASSERT_EQ(::utimensat(AT_FDCWD, t.src.c_str(), times, 0), 0);
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(Folder("b"));
        Folder("b");
        ASSERT_TRUE(SendAndCut([&] { a->session->Streams().Cancel(); }));
        c.spoil(*this);
        const std::int64_t before = relay->Connections();
        EXPECT_EQ(Step(*a, src), "");
        EXPECT_EQ(relay->Connections(), before + 2);
        EXPECT_GE(relay->Forwarded(), static_cast<std::int64_t>(kSize));
        EXPECT_TRUE(ReadFile(Folder("b") + "data.bin") == bytes);
        EXPECT_TRUE(fs::is_empty(dz::peer::KeptFolder(Folder("b"))));
    }
}

class KeptTest : public dz::test::TFolderTest {};

// Records that are damaged or name another file are never taken.
TEST_F(KeptTest, OnlyAWholeRecordOfTheSameFileIsFound)
{
    const std::string folder = Folder("r");
    const TKeptKey key {"ALPHA", "f.bin", 100, 42};
    const std::string part(60, 'x');
    struct Case {
        const char *name;
        std::function<void(const dz::peer::TKeptPaths &)> spoil;
        TKeptKey asked;
        bool found;
    } cases[] = {
        {"as written", [](auto &) {}, key, true},
        {"another time", [](auto &) {}, {"ALPHA", "f.bin", 100, 43}, false},
        {"another peer", [](auto &) {}, {"BETA", "f.bin", 100, 42}, false},
        {"a record changed", [](const dz::peer::TKeptPaths &p) {
             std::string text = ReadFile(p.record);
             text[text.find("length ") + 7] = '5';
             std::ofstream(p.record, std::ios::binary) << text;
         }, key, false},
        {"data shorter than counted", [](const dz::peer::TKeptPaths &p) { fs::resize_file(p.data, 59); }, key, false},
        {"no data", [](const dz::peer::TKeptPaths &p) { fs::remove(p.data); }, key, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        fs::create_directories(dz::peer::KeptFolder(folder));
        const auto paths = dz::peer::KeptPathsFor(folder, key);
        std::ofstream(paths.data, std::ios::binary) << part;
        dz::THasher hash;
        hash.Update(part);
        ASSERT_TRUE(dz::peer::RecordKept(folder, key, 60, hash));
        c.spoil(paths);
        const auto found = dz::peer::FindKept(folder, c.asked);
        ASSERT_EQ(found.has_value(), c.found);
        if (found) {
            EXPECT_EQ(found->length, 60);
            EXPECT_EQ(found->hash.Digest(), hash.Digest());
            EXPECT_TRUE(dz::peer::KeptBytesIntact(found->data, 60, hash.Digest()));
        }
        dz::peer::ForgetKept(folder, key);
    }
}

TEST_F(KeptTest, TheCleanUpAtStartKeepsRecentPartsWithinTheirShare)
{
    const std::string folder = Folder("p");
    const auto keep = [&](const std::string &name, std::size_t size, int daysOld) {
        const TKeptKey key {"ALPHA", name, static_cast<std::int64_t>(size), 1};
        const auto paths = dz::peer::KeptPathsFor(folder, key);
        fs::create_directories(dz::peer::KeptFolder(folder));
        std::ofstream(paths.data, std::ios::binary) << std::string(size, 'k');
        dz::THasher hash;
        hash.Update(std::string(size, 'k'));
        EXPECT_TRUE(dz::peer::RecordKept(folder, key, static_cast<std::int64_t>(size), hash));
        const timespec when {std::time(nullptr) - daysOld * 86400 - 60, 0};
        const timespec times[2] = {when, when};
        ::utimensat(AT_FDCWD, paths.record.c_str(), times, 0);
        return key;
    };
    const auto present = [&](const TKeptKey &key) { return dz::peer::FindKept(folder, key).has_value(); };

    // Age: a week is the limit.
    const TKeptKey old = keep("old", 10, 8), recent = keep("recent", 10, 6);
    std::ofstream(dz::peer::KeptFolder(folder) + "0123.part") << "no record";
    std::ofstream(dz::peer::KeptFolder(folder) + "4567.rec.tmp") << "half written";
    EXPECT_EQ(dz::peer::PruneKept(folder), 2);
    EXPECT_FALSE(present(old));
    EXPECT_TRUE(present(recent));
    EXPECT_EQ(std::distance(fs::directory_iterator(dz::peer::KeptFolder(folder)), fs::directory_iterator()), 2);

    // Share: the oldest go until the rest fit.
    const TKeptKey newer = keep("newer", 1000, 1), newest = keep("newest", 1000, 0);
    const auto free = fs::space(folder).available;
    dz::peer::TKeptLimits limits;
    limits.share = 1500.0 / static_cast<double>(free);
    EXPECT_EQ(dz::peer::PruneKept(folder, limits), 2);
    EXPECT_FALSE(present(recent));
    EXPECT_FALSE(present(newer));
    EXPECT_TRUE(present(newest));
    // Nothing kept: nothing to do.
    EXPECT_EQ(dz::peer::PruneKept(Folder("none")), 0);
}

// A link in place of the kept folder leads nowhere: nothing is kept,
// taken or removed through it.
TEST_F(KeptTest, ALinkInPlaceOfTheKeptFolderIsNeverFollowed)
{
    const std::string folder = Folder("l"), elsewhere = Folder("elsewhere");
    const TKeptKey key {"ALPHA", "f.bin", 10, 1};
    fs::create_directory_symlink(elsewhere, dz::peer::KeptFolder(folder).substr(0, dz::peer::KeptFolder(folder).size() - 1));
    std::ofstream(elsewhere + fs::path(dz::peer::KeptPathsFor(folder, key).data).filename().string()) << "0123456789";
    EXPECT_FALSE(dz::peer::MakeKeptFolder(folder));
    EXPECT_FALSE(dz::peer::RecordKept(folder, key, 10, dz::THasher()));
    EXPECT_FALSE(dz::peer::FindKept(folder, key));
    EXPECT_EQ(dz::peer::PruneKept(folder, {std::chrono::seconds(0), 0.0}), 0);
    EXPECT_EQ(std::distance(fs::directory_iterator(elsewhere), fs::directory_iterator()), 1);
}

} // namespace

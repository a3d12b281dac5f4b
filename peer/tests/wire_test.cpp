// Between two copies over real loopback sockets and real folders: each
// stream carries its hash when both sides showed Hash (and only then), a
// damaged one is refused with its own answer and sent again once, and a
// stream that cannot fit is refused before a byte is written.

#include "peer/kept.h"
#include "peer/receive.h"
#include "peer/sendrun.h"
#include "peer/session.h"
#include "peer/tests/sessiontools.h"

#include "net/tests/testutil.h"
#include "services/nmmsg.h"
#include "services/nmstrm.h"
#include "services/wire.h"
#include "util/hash.h"
#include "util/space.h"
#include "util/tests/tmpfs.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

namespace {

using dz::peer::TEffect;
using dz::peer::TPeerSession;
using dz::services::kBitHash;
using dz::services::kBitSpace;
using dz::services::kHashMismatch;
using dz::services::kReply;
using dz::test::PumpUntil;
using dz::test::RawDialogue;
using dz::test::RawFd;
using dz::test::ReadFile;
using dz::test::StreamHeader;
using TSide = dz::test::TRawPeerSide;
namespace fs = std::filesystem;

std::string Preamble(unsigned bits)
{
    return dz::services::TStreamFraming::Preamble(bits);
}

std::string HashOf(const std::string &bytes)
{
    const auto b = dz::THasher::Of(bytes).Bytes();
    return {reinterpret_cast<const char *>(b.data()), b.size()};
}

// Also the temporary files of the sinks count.
long Entries(const std::string &folder)
{
    return std::distance(fs::directory_iterator(folder), fs::directory_iterator());
}

class WireTest : public dz::test::TFolderTest {};

using dz::test::Introduce;
using dz::test::Step;

TEST_F(WireTest, AFileBetweenTwoCopiesIsVerified)
{
    TSide a("127.0.0.1", Folder("a"));
    TSide b("127.0.0.2", Folder("b"));
    ASSERT_TRUE(Introduce(a, b));

    const std::string src = Folder("src") + "data.bin";
    std::string bytes(300000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 131 + (i >> 9));
    std::ofstream(src, std::ios::binary) << bytes;
    EXPECT_EQ(Step(a, src), "");
    ASSERT_TRUE(PumpUntil([&] { return b.Shows("Stored 127.0.0.1|data.bin"); }));
    EXPECT_TRUE(b.session->Verified("data.bin"));
    EXPECT_EQ(ReadFile(Folder("b") + "data.bin"), bytes);
}

// What a raw peer sends decides the answer; nothing damaged is stored.
TEST_F(WireTest, TheReceiverTakesOnlyAStreamWhoseHashMatches)
{
    const std::string body = "the bytes that left";
    std::string flipped = body;
    flipped[5] ^= 0x20;
    std::string badHash = HashOf(body);
    badHash[15] ^= 1;
    const std::string header = StreamHeader("PEER", static_cast<std::int64_t>(body.size()));
    const std::string hashed = Preamble(kBitHash) + header;
    struct Case {
        const char *what;
        std::string stream;
        std::string answer;
        bool verified;
    } cases[] = {
        {"matching hash", hashed + body + HashOf(body), kReply, true},
        {"a byte flipped on the way", hashed + flipped + HashOf(body), kHashMismatch, false},
        {"the hash itself damaged", hashed + body + badHash, kHashMismatch, false},
        // The stream says its layout: what the peer showed does not count.
        {"no preamble: today's layout", header + body, kReply, false},
    };
    for (const Case &c : cases) {
        const std::string folder = Folder(c.what);
        TSide b("127.0.0.2", folder);
        b.IntroducedTo("BigFiles|NoTick|Hash|Space|Folders");
        b.From("File_Start|got.txt");
        EXPECT_EQ(RawDialogue(b.StrmPort(), {{c.stream, 16}}), c.answer) << c.what;
        ASSERT_TRUE(b.Settled());
        if (c.answer == kReply) {
            EXPECT_EQ(Entries(folder), 1) << c.what;
            EXPECT_EQ(ReadFile(folder + "got.txt"), body) << c.what;
            EXPECT_TRUE(b.Shows("Stored PEER|got.txt")) << c.what;
        } else {
            EXPECT_EQ(Entries(folder), 0) << c.what;
            EXPECT_TRUE(b.Shows("Notice " + TPeerSession::MismatchNotice("PEER", "got.txt"))) << c.what;
            EXPECT_FALSE(b.Shows("Stored PEER|got.txt")) << c.what;
            // The name still waits: the sender's second try is stored under it.
            EXPECT_EQ(b.session->Core().Pending(), "got.txt") << c.what;
        }
        EXPECT_EQ(b.session->Verified("got.txt"), c.verified) << c.what;
    }
}

// The continuation byte by byte, from a raw sender: a cut body is kept only
// when its stream said it can be continued, and then offered with the hash
// of what arrived; a choice that is neither the offer nor 0 is a reset that
// keeps the part.
TEST_F(WireTest, ACutStreamIsKeptAndOfferedOnlyToASenderThatContinues)
{
    using dz::services::kBitResume;
    using dz::services::WideField;
    const std::string body = dz::THasher::Of("seed").Hex() + std::string(70000, 'b') + "end";
    const std::size_t half = 40000;
    const std::int64_t modified = 1'765'000'000'123'456'789;
    const std::string header = StreamHeader("PEER", static_cast<std::int64_t>(body.size()));
    const std::string none = WideField(0) + std::string(16, '\0');
    const dz::peer::TKeptKey key {"PEER", "got.bin", static_cast<std::int64_t>(body.size()), modified};
    struct Case {
        const char *what;
        std::string head; // up to the offer
        bool kept;
    } cases[] = {
        {"an original sender", header, false},
        {"hashed only", Preamble(kBitHash) + header, false},
        {"continuable", Preamble(kBitHash | kBitResume) + header + WideField(modified), true},
    };
    for (const Case &c : cases) {
        const std::string folder = Folder(c.what);
        TSide b("127.0.0.2", folder);
        b.IntroducedTo("Hash|Resume");
        b.From("File_Start|got.bin");
        const std::string offer = RawDialogue(
            b.StrmPort(), {{c.head, c.kept ? none.size() : 0}, {(c.kept ? WideField(0) : "") + body.substr(0, half), 0}},
            true);
        EXPECT_EQ(offer, c.kept ? none : "") << c.what;
        const auto kept = dz::peer::FindKept(folder, key);
        ASSERT_EQ(kept.has_value(), c.kept) << c.what;
        EXPECT_FALSE(b.Shows("Stored PEER|got.bin")) << c.what;
        if (!c.kept) {
            EXPECT_EQ(Entries(folder), 0) << c.what;
            continue;
        }
        const std::string offered = WideField(static_cast<std::int64_t>(half)) + HashOf(body.substr(0, half));
        EXPECT_EQ(RawDialogue(b.StrmPort(), {{c.head, offered.size()}, {WideField(7), 16}}), offered);
        EXPECT_EQ(RawDialogue(b.StrmPort(), {{c.head, offered.size()},
                                             {WideField(static_cast<std::int64_t>(half)) + body.substr(half) + HashOf(body), 16}}),
                  offered + kReply);
        ASSERT_TRUE(b.Settled());
        EXPECT_EQ(ReadFile(folder + "got.bin"), body);
        EXPECT_TRUE(b.session->Verified("got.bin"));
        EXPECT_FALSE(dz::peer::FindKept(folder, key).has_value());
    }
}

// A raw receiver that answers each stream from a list and records what came.
class TRawReceiver {
public:
    // hashed: a hash is to follow each body.
    TRawReceiver(std::vector<std::string> answers, bool hashed) : answers_(std::move(answers))
    {
        thread_ = std::thread([this, hashed] {
            for (const std::string &answer : answers_) {
                RawFd fd = listener_.Accept(10000);
                if (!fd.valid())
                    return;
                const std::string preamble = hashed ? fd.Recv(4) : "";
                const std::string nameLen = fd.Recv(4);
                const std::string header =
                    preamble + nameLen + fd.Recv(static_cast<std::size_t>(std::atoi(nameLen.c_str())) + 10);
                const std::size_t size = static_cast<std::size_t>(std::atoll(header.substr(header.size() - 10).c_str()));
                received_.push_back(header + fd.Recv(size + (hashed ? 16 : 0)));
                fd.Send(answer);
                // After the answer the sender closes and sends nothing more.
                if (!fd.RecvUntilClose(5000).empty())
                    received_.back() += "<more after the answer>";
            }
        });
    }
    ~TRawReceiver()
    {
        if (thread_.joinable())
            thread_.join();
    }
    int port() const { return listener_.port(); }
    // Waits for the thread (bounded by its accepts and reads): the streams
    // as they came.
    std::vector<std::string> Received()
    {
        thread_.join();
        return received_;
    }

private:
    dz::test::RawListener listener_;
    std::vector<std::string> answers_;
    std::vector<std::string> received_;
    std::thread thread_;
};

TEST_F(WireTest, TheSenderTriesAgainOnceThenFailsNamingTheFile)
{
    const std::string body = "payload of the file";
    const std::string src = Folder("src") + "f.bin";
    std::ofstream(src, std::ios::binary) << body;
    const std::string header = StreamHeader("127.0.0.1", static_cast<std::int64_t>(body.size()));
    const std::string hashed = Preamble(kBitHash) + header + body + HashOf(body);
    struct Case {
        const char *caps;
        std::vector<std::string> answers;
        std::string error;
        std::vector<std::string> streams; // as the receiver saw them
    } cases[] = {
        {"BigFiles|NoTick|Hash", {kHashMismatch, kReply}, "", {hashed, hashed}},
        {"Hash", {kHashMismatch, kHashMismatch}, dz::peer::TStreamSender::MismatchError("f.bin"), {hashed, hashed}},
        // An original receiver sees today's bytes, and its answer is final.
        {"", {kReply}, "", {header + body}},
        {"BigFiles", {kHashMismatch}, "", {header + body}},
        // Resume rides on Hash: without it, nothing changes.
        {"Resume", {kReply}, "", {header + body}},
    };
    for (const Case &c : cases) {
        TSide a("127.0.0.1", Folder("a"));
        a.IntroducedTo(c.caps);
        TRawReceiver peer(c.answers, c.streams.front() == hashed);
        a.session->Streams().Client().Port = peer.port();
        std::string opened = "pending", error = "pending";
        a.session->Streams().Open(src, [&](const std::string &e, std::int64_t) { opened = e; });
        a.session->Streams().Send([&](const std::string &e) { error = e; });
        ASSERT_TRUE(PumpUntil([&] { return error != "pending"; }, 15000)) << c.caps;
        EXPECT_EQ(opened, "") << c.caps;
        EXPECT_EQ(error, c.error) << c.caps;
        EXPECT_EQ(peer.Received(), c.streams) << c.caps;
    }
}

// The receive folder on a disk of 100 MiB, which keeps 64 MiB free.
class SpaceTest : public WireTest {
protected:
    void SetUp() override
    {
        WireTest::SetUp();
        disk = Folder("disk");
        small = std::make_unique<dz::testing::TSmallDisk>(disk, "100m");
        if (!small->Mounted())
            GTEST_SKIP() << "mounting a tmpfs needs root";
    }
    std::string disk;
    std::unique_ptr<dz::testing::TSmallDisk> small;
    static constexpr std::int64_t kBig = 50 << 20;
};

TEST_F(SpaceTest, AStreamThatCannotFitIsRefusedAfterItsHeader)
{
    const dz::TSpace space = dz::SpaceFor(disk, kBig);
    ASSERT_FALSE(space.fits());
    const std::string header = StreamHeader("PEER", kBig);
    const std::string refusal = dz::services::NoSpaceAnswer(kBig, space.free, space.reserve);
    struct Case {
        const char *caps;
        std::vector<std::pair<std::string, std::size_t>> steps;
        std::string answers;
    } cases[] = {
        // Any peer but a copy that showed Space: a reset after the header.
        {"BigFiles|NoTick|Hash", {{header, 16}}, ""},
        {"", {{header, 16}}, ""},
        {"Space", {{Preamble(kBitSpace) + header, refusal.size()}}, refusal},
    };
    for (const Case &c : cases) {
        TSide b("127.0.0.2", disk);
        b.IntroducedTo(c.caps);
        b.From("File_Start|big.bin");
        EXPECT_EQ(RawDialogue(b.StrmPort(), c.steps), c.answers) << c.caps;
        ASSERT_TRUE(b.Settled());
        EXPECT_EQ(Entries(disk), 0) << c.caps;
        EXPECT_TRUE(b.Shows("Notice " + dz::peer::SpaceRefusal("PEER", "big.bin", kBig, disk))) << c.caps;
    }
    // What fits goes ahead once the header is answered.
    TSide b("127.0.0.2", disk);
    b.IntroducedTo("Space|Hash");
    b.From("File_Start|small.txt");
    EXPECT_EQ(RawDialogue(b.StrmPort(),
                          {{Preamble(kBitHash | kBitSpace) + StreamHeader("PEER", 5), 16}, {"small" + HashOf("small"), 16}}),
              dz::services::kGo + kReply);
    EXPECT_EQ(ReadFile(disk + "small.txt"), "small");
}

TEST_F(SpaceTest, TheSenderIsToldWhatIsNeededAndWhatIsFree)
{
    TSide a("127.0.0.1", Folder("a"));
    TSide b("127.0.0.2", disk);
    ASSERT_TRUE(Introduce(a, b));
    const std::string src = Folder("src") + "big.bin";
    std::ofstream(src, std::ios::binary).close();
    fs::resize_file(src, kBig); // sparse: nothing of it is read
    const dz::TSpace space = dz::SpaceFor(disk, kBig);
    EXPECT_EQ(Step(a, src), dz::peer::TStreamSender::NoSpaceError("big.bin", kBig, space.free, space.reserve));
    EXPECT_EQ(Entries(disk), 0);
}

} // namespace

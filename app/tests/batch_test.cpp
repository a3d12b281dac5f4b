// Batches between two copies of ours go without the one-second tick; with a
// peer that never said it can take them, every row still costs a tick.

#include "Controls.h"
#include "PeerTools.h"

#include "peer/core.h"

#include <QLabel>
#include <QListView>
#include <QTimer>
#include <QToolButton>

#include <fstream>

namespace {

namespace fs = std::filesystem;
using namespace peer;
using BatchTest = TPeerTest;

TEST_F(BatchTest, TwoCopiesOfOursSendTwoHundredFilesWithoutTheTick)
{
    auto [a, b] = ConnectedPair();

    constexpr int kFiles = 200;
    fs::create_directories(FsFolder("src"));
    for (int i = 0; i < kFiles; ++i) {
        const std::string name = "f" + std::to_string(i) + ".txt";
        std::ofstream(FsFolder("src") + name) << "file number " << i;
        // Every tenth row is unchecked: it costs nothing and stays.
        AddRowUtf8(a->ListF_send, FsFolder("src") + name, true, i % 10 != 9);
    }
    const auto start = Clock::now();
    a->SB_sendClick();
    // Generous for a loaded machine; at one tick a row this would take 200 s.
    ASSERT_TRUE(PumpUntil([&] { return a->Label_YesSend->isHidden(); }, 100000));
    const auto took = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start).count();
    ASSERT_TRUE(PumpUntil([&] { return b->FreeFlag && b->Work().PendingCount() == 0; }));
    EXPECT_LT(took, 100);

    // Each file under its own name with its own bytes, each listed once, in order.
    std::vector<std::string> expectedRows;
    for (int i = 0; i < kFiles; ++i) {
        const std::string name = "f" + std::to_string(i) + ".txt";
        if (i % 10 == 9) {
            EXPECT_FALSE(fs::exists(FsFolder("in") + name)) << name;
            continue;
        }
        EXPECT_EQ(ReadFile("in", name), "file number " + std::to_string(i)) << name;
        expectedRows.insert(expectedRows.begin(), name);
    }
    const std::vector<std::string> rows = ListRows(b->ListF_recv);
    ASSERT_EQ(rows.size(), expectedRows.size());
    for (std::size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(rows[i].substr(rows[i].rfind(" | ") + 3), expectedRows[i]) << i;
    EXPECT_EQ(RowCount(a->ListF_send), kFiles / 10);
    // The progress row stayed through the batch; it goes with its end.
    EXPECT_TRUE(a->Panel_Progress->isHidden());
    EXPECT_TRUE(b->Panel_Progress->isHidden());
    for (const TAsked &m : dialogs->messages)
        ADD_FAILURE() << m.text.toStdString();
}

// A peer that never says it takes batches (as an original copy) gets one
// row per tick, also after a copy of ours had introduced itself before it.
TEST_F(BatchTest, APeerWithoutTheCapabilityGetsOneRowPerTick)
{
    TRawMsgPeer msgPeer;
    TRawStrmPeer strmPeer;
    auto a = MakeWindow("a", "127.0.0.1", "192.168.0.1");
    // A copy of ours first, then its goodbye, then an original at the same place.
    Introduce(*a);
    Deliver(*a, "Dizaruz_Can=BigFiles|NoTick|Hash|Space", "PEER");
    EXPECT_TRUE(a->Core().PeerCapabilities().noTick);
    Deliver(*a, "By=PEER|127.0.0.1", "PEER");
    EXPECT_FALSE(a->Core().PeerCapabilities().noTick);
    Introduce(*a, "127.0.0.1");
    EXPECT_FALSE(a->Core().PeerCapabilities().noTick);

    a->NMMsg1->Port = static_cast<quint16>(msgPeer.port());
    a->NMStrm1->Port = static_cast<quint16>(strmPeer.port());
    fs::create_directories(FsFolder("src"));
    for (const char *name : {"one.txt", "skip.txt", "two.txt"}) {
        std::ofstream(FsFolder("src") + name) << name;
        AddRowUtf8(a->ListF_send, FsFolder("src") + name, true, std::string(name) != "skip.txt");
    }
    a->Edit_RemoteComputerName->setText(QStringLiteral("127.0.0.1"));
    a->SB_sendClick();
    ASSERT_TRUE(PumpUntil([&] { return msgPeer.count() == 6; }, 15000));
    const std::vector<TMessage> m = msgPeer.messages();
    EXPECT_EQ(msgPeer.texts(), (std::vector<std::string>{"Send_Start", "File_Start|one.txt", "File_End|one.txt",
                                                         "File_Start|two.txt", "File_End|two.txt", "Send_End"}));
    // Send_Start, then a tick, File_Start; a tick for the unchecked row and
    // one for the next: at least two ticks; then one more before Send_End.
    const auto gap = [&](int from, int to) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(m[to].when - m[from].when).count();
    };
    EXPECT_GE(gap(0, 1), 900);
    EXPECT_GE(gap(2, 3), 1800);
    EXPECT_GE(gap(4, 5), 900);
}

} // namespace

// Files carried from the file and to the disk: cancel on either side, a
// disk that fills, progress that reaches the end and never goes back, and
// sizes refused before anything reaches the peer.

#include "Controls.h"
#include "PeerTools.h"
#include "peer/sendlist.h"

#include <QLabel>
#include <QListView>
#include <QProgressBar>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <sys/mount.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace peer;

// A file of the given size whose blocks are holes: cheap at any size.
void Sparse(const std::string &path, std::int64_t size)
{
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, size), 0);
    ::close(fd);
}

// A stream server that takes the header and then reads nothing more, until
// the client gives up; it tells how the connection ended.
class TStallingStrmPeer {
public:
    TStallingStrmPeer()
    {
        thread_ = std::thread([this] {
            dz::test::RawFd fd = listener_.Accept(20000);
            if (!fd.valid())
                return;
            const std::string len = fd.Recv(4);
            fd.Recv(static_cast<std::size_t>(std::atoi(len.c_str())) + 10);
            started_ = true;
            // Reading nothing, until the client ends the connection
            // (bounded): a reset shows as an error, an orderly end does not.
            pollfd p {fd.get(), POLLRDHUP, 0};
            ::poll(&p, 1, 20000);
            int error = 0;
            socklen_t size = sizeof error;
            ::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &size);
            reset_ = error == ECONNRESET;
            ended_ = true;
        });
    }
    ~TStallingStrmPeer() { thread_.join(); }
    int port() const { return listener_.port(); }
    bool started() const { return started_; }
    bool ended() const { return ended_; }
    bool reset() const { return reset_; }

private:
    dz::test::RawListener listener_;
    std::atomic<bool> started_{false}, ended_{false}, reset_{false};
    std::thread thread_;
};

class StreamingTest : public TPeerTest {
protected:
    std::string Src(const std::string &name)
    {
        fs::create_directories(FsFolder("src"));
        return FsFolder("src") + name;
    }
    std::vector<std::string> Names(const std::string &sub)
    {
        std::vector<std::string> names;
        for (const auto &e : fs::directory_iterator(FsFolder(sub)))
            names.push_back(e.path().filename().string());
        return names;
    }
};

TEST_F(StreamingTest, TheSenderStopsARunAndThePeerKeepsNothing)
{
    TRawMsgPeer msgPeer;
    TStallingStrmPeer strmPeer;
    auto a = MakeWindow("a", "127.0.0.1", "192.168.0.1");
    a->Core().SetAllHosts("127.0.0.1");
    a->NMMsg1->Port = static_cast<quint16>(msgPeer.port());
    a->NMStrm1->Port = static_cast<quint16>(strmPeer.port());
    Sparse(Src("big.bin"), 256 << 20);
    AddRowUtf8(a->ListF_send, Src("big.bin"), true, true);
    a->Edit_RemoteComputerName->setText(QStringLiteral("127.0.0.1"));
    a->show();
    a->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(a.get()));
    a->ListF_send->setFocus();

    a->SB_sendClick();
    ASSERT_TRUE(PumpUntil([&] { return strmPeer.started() && a->Session().Streams().BytesSent() > 0; }, 10000));
    EXPECT_TRUE(PumpUntil([&] { return !a->Panel_Progress->isHidden(); }));
    EXPECT_FALSE(a->Label_RunProgress->isHidden());
    // The window lives meanwhile: the peer's chat line shows at once.
    Deliver(*a, "MSG|still here?", "BETA");
    EXPECT_EQ(MemoLines(a->Memo_Mess).size(), 1u);
    QTest::keyClick(a->ListF_send, Qt::Key_Escape); // the user stops it
    ASSERT_TRUE(PumpUntil([&] { return strmPeer.ended() && msgPeer.count() == 3; }, 10000));
    EXPECT_TRUE(strmPeer.reset()) << "cut with a reset, not an orderly close";
    EXPECT_EQ(msgPeer.texts(), (std::vector<std::string>{"Send_Start", "File_Start|big.bin", "Send_End"}));
    EXPECT_TRUE(a->Label_YesSend->isHidden());
    EXPECT_TRUE(a->SB_send->isEnabled());
    ASSERT_EQ(RowCount(a->ListF_send), 1);
    EXPECT_TRUE(RowChecked(a->ListF_send, 0));
    PumpFor(200);
    for (const TAsked &m : dialogs->messages)
        ADD_FAILURE() << "a cancel is not an error: " << m.text.toStdString();
    EXPECT_TRUE(a->Panel_Progress->isHidden());
}

// Closing in the middle of a send: the file is cut, the peer hears
// "Send_End" and the goodbye, and the window is gone within two seconds,
// also when the peer has vanished and answers nothing.
TEST_F(StreamingTest, ClosingMidTransferCutsTheFileAndEndsQuickly)
{
    for (const bool peerGone : {false, true}) {
        TRawMsgPeer msgPeer;
        TStallingStrmPeer strmPeer;
        dz::test::RawListener deaf(0);
        auto a = MakeWindow("a", "127.0.0.1", "192.168.0.1");
        a->Core().SetAllHosts("127.0.0.1");
        a->NMMsg1->Port = static_cast<quint16>(msgPeer.port());
        a->NMStrm1->Port = static_cast<quint16>(strmPeer.port());
        Sparse(Src("big.bin"), 256 << 20);
        a->SendList().Clear();
        AddRowUtf8(a->ListF_send, Src("big.bin"), true, true);
        a->Edit_RemoteComputerName->setText(QStringLiteral("127.0.0.1"));
        a->Edit_RemoteComputerIP->setText(QStringLiteral("127.0.0.1"));
        a->SB_sendClick();
        ASSERT_TRUE(PumpUntil([&] { return strmPeer.started(); }, 10000));
        std::vector<dz::test::RawFd> fillers;
        if (peerGone) {
            // From now on the message port answers nobody.
            fillers = dz::test::FillAcceptQueue(deaf);
            a->NMMsg1->Port = static_cast<quint16>(deaf.port());
        }
        a->show();
        const auto start = Clock::now();
        EXPECT_TRUE(CloseWindow(*a));
        a.reset();
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        EXPECT_LT(took, 2000) << (peerGone ? "peer gone" : "peer there");
        EXPECT_TRUE(PumpUntil([&] { return strmPeer.ended(); }));
        EXPECT_TRUE(strmPeer.reset());
        if (!peerGone) {
            EXPECT_EQ(msgPeer.texts(), (std::vector<std::string>{"Send_Start", "File_Start|big.bin", "Send_End",
                                                                 "By=127.0.0.1|192.168.0.1"}));
        }
    }
}

TEST_F(StreamingTest, TheReceiverRefusesTheFileComingIn)
{
    auto b = MakeWindow("b", "127.0.0.2", "192.168.0.2");
    Introduce(*b);
    fs::create_directories(FsFolder("in"));
    b->ShowReceiveFolder(FsFolder("in"));
    Deliver(*b, "File_Start|big.bin");
    std::atomic<bool> done{false};
    std::string reply = "none";
    bool reset = false;
    std::thread sender([&] {
        dz::test::RawFd fd = dz::test::RawConnect(b->NMStrmServ1->LocalPort());
        fd.Send("0004PEER" + std::string(" 100000000") + std::string(1 << 20, 'x'));
        // Sends nothing more; waits for what the receiver does.
        pollfd p {fd.get(), POLLIN, 0};
        ::poll(&p, 1, 20000);
        char buf[16];
        const ssize_t n = ::recv(fd.get(), buf, sizeof buf, 0);
        reset = n < 0 && errno == ECONNRESET;
        reply = n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
        done = true;
    });
    ASSERT_TRUE(PumpUntil([&] { return b->Session().Incoming().done > 0 && !b->Panel_Progress->isHidden(); }, 10000));
    EXPECT_TRUE(b->ProgressBar_File->format().endsWith(QStringLiteral(" из 95,4 МБ")));
    b->SB_Cancel->click();
    ASSERT_TRUE(PumpUntil([&] { return done.load(); }, 10000));
    sender.join();
    EXPECT_TRUE(reset) << "refused with a reset";
    EXPECT_EQ(reply, "") << "and no reply";
    ASSERT_TRUE(PumpUntil([&] { return !b->Session().Incoming().active; }));
    EXPECT_TRUE(Names("in").empty()) << "no file and no temporary file";
    EXPECT_EQ(RowCount(b->ListF_recv), 0);
    EXPECT_TRUE(dialogs->notices.empty()) << "the user refused it: nothing to tell";
    EXPECT_TRUE(PumpUntil([&] { return b->Panel_Progress->isHidden(); }));
}

// The space is checked before a byte is written: a file larger than the
// room left is refused at once, and the sender is told the figures.
TEST_F(StreamingTest, AFileThatDoesNotFitLeavesNothingAndTheSenderKeepsItsRow)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a small file system needs root";
    fs::create_directories(FsFolder("small"));
    if (::mount("tmpfs", FsFolder("small").c_str(), "tmpfs", 0, "size=4m") != 0)
        GTEST_SKIP() << "tmpfs cannot be mounted here";
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount {FsFolder("small")};

    auto [a, b] = ConnectedPair();
    b->ShowReceiveFolder(FsFolder("small"));
    {
        std::ofstream out(Src("eight.bin"), std::ios::binary);
        const std::string block(1 << 20, 'z');
        for (int i = 0; i < 8; ++i)
            out << block;
    }
    AddRowUtf8(a->ListF_send, Src("eight.bin"), true, true);
    a->SB_sendClick();
    ASSERT_TRUE(PumpUntil([&] { return !dialogs->messages.empty(); }, 20000));
    ASSERT_TRUE(PumpUntil([&] { return a->Label_YesSend->isHidden() && b->FreeFlag; }, 10000));
    EXPECT_EQ(RowCount(a->ListF_send), 1) << "the sender keeps its row";
    EXPECT_TRUE(Names("small").empty()) << "no file and no temporary file";
    EXPECT_EQ(RowCount(b->ListF_recv), 0);
    ASSERT_FALSE(dialogs->notices.empty()) << "the receiving user is told";
    EXPECT_TRUE(dialogs->notices[0].text.contains(QStringLiteral("не сохранён"))) << dialogs->notices[0].text.toStdString();
    EXPECT_TRUE(dialogs->messages[0].text.contains(QStringLiteral("8,0 МБ"))) << dialogs->messages[0].text.toStdString();
}

TEST_F(StreamingTest, ProgressReachesTheEndAndNeverGoesBack)
{
    auto [a, b] = ConnectedPair();
    Sparse(Src("one.bin"), 96 << 20);
    Sparse(Src("two.bin"), 32 << 20);
    AddRowUtf8(a->ListF_send, Src("one.bin"), true, true);
    AddRowUtf8(a->ListF_send, Src("two.bin"), true, true);
    std::vector<int> sent, received;
    QObject::connect(a->ProgressBar_File, &QProgressBar::valueChanged, [&](int v) { sent.push_back(v); });
    QObject::connect(b->ProgressBar_File, &QProgressBar::valueChanged, [&](int v) { received.push_back(v); });
    a->SB_sendClick();
    ASSERT_TRUE(PumpUntil([&] { return a->Label_YesSend->isHidden() && RowCount(b->ListF_recv) == 2; }, 60000));
    for (const auto *values : {&sent, &received}) {
        ASSERT_FALSE(values->empty());
        EXPECT_EQ(values->back(), 1000) << "the end is reached";
        // Each file's values climb; a drop only where the next file begins.
        int drops = 0;
        for (std::size_t i = 1; i < values->size(); ++i)
            if ((*values)[i] < (*values)[i - 1])
                ++drops;
        EXPECT_LE(drops, 1);
    }
    EXPECT_EQ(fs::file_size(FsFolder("in") + "one.bin"), 96u << 20);
}

TEST_F(StreamingTest, SizesTooLargeForThePeerAreRefusedBeforeTheyAreAnnounced)
{
    TRawMsgPeer msgPeer;
    auto a = MakeWindow("a", "127.0.0.1", "192.168.0.1");
    Introduce(*a);
    a->NMMsg1->Port = static_cast<quint16>(msgPeer.port());
    a->Edit_RemoteComputerName->setText(QStringLiteral("127.0.0.1"));
    const struct {
        const char *name;
        std::int64_t size;
        bool peerTakesBigFiles;
        const char *limit;
    } rows[] = {
        {"three-gib.iso", 3LL << 30, false, "2 147 483 647"},
        {"ten-billion.img", 10'000'000'000LL, true, "9 999 999 999"},
    };
    std::size_t texts = 0;
    for (const auto &row : rows) {
        if (row.peerTakesBigFiles)
            Deliver(*a, "Dizaruz_Can=BigFiles|NoTick|Hash|Space", "PEER");
        Sparse(Src(row.name), row.size);
        a->SendList().Clear();
        AddRowUtf8(a->ListF_send, Src(row.name), true, true);
        const std::size_t before = dialogs->messages.size();
        a->SB_sendClick();
        ASSERT_TRUE(PumpUntil([&] { return dialogs->messages.size() > before && msgPeer.count() == texts + 2; }, 10000))
            << row.name;
        texts += 2;
        const QString text = dialogs->messages.back().text;
        EXPECT_TRUE(text.contains(QString::fromLatin1(row.name))) << text.toStdString();
        EXPECT_TRUE(text.contains(QString::fromUtf8(row.limit))) << text.toStdString();
        EXPECT_EQ(RowCount(a->ListF_send), 1);
    }
    // Nothing of either file was announced.
    EXPECT_EQ(msgPeer.texts(), (std::vector<std::string>{"Send_Start", "Send_End", "Send_Start", "Send_End"}));
}

} // namespace

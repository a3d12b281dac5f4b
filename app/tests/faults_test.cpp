// Faults a user meets with the send run, the one message client and the
// notices of work received from the peer.

#include "Controls.h"
#include "PeerTools.h"

#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QToolButton>

#include <fstream>

namespace {

using namespace peer;
using FaultsTest = TPeerTest;

TEST_F(FaultsTest, ARowDeletedWhileItsFileIsOnTheWayTouchesNoOtherRow)
{
    TRawMsgPeer msgPeer;
    // Each announcement takes a while, so the user can act meanwhile.
    msgPeer.beforeReply = [](const TMessage &m) {
        if (m.text.rfind("File_Start|", 0) == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
    };
    TRawStrmPeer strmPeer;
    auto a = MakeWindow("a", "127.0.0.1", "192.168.0.1");
    a->Core().SetAllHosts("127.0.0.1");
    a->NMMsg1->Port = static_cast<quint16>(msgPeer.port());
    a->NMStrm1->Port = static_cast<quint16>(strmPeer.port());
    std::filesystem::create_directories(FsFolder("src"));
    for (const char *name : {"A.txt", "B.txt", "C.txt"}) {
        std::ofstream(FsFolder("src") + name) << name;
        AddRow(a->ListF_send, dz::Utf8ToCp1251(FsFolder("src") + name), true, true);
    }
    a->Edit_RemoteComputerName->setText(QStringLiteral("127.0.0.1"));

    a->SB_sendClick();
    ASSERT_TRUE(PumpUntil([&] { return a->StepInFlight(); }));
    ASSERT_EQ(ItemIndex(a->ListF_send), 0);
    a->SB_FileDelClick(); // the user deletes A, whose file is on its way
    ASSERT_TRUE(PumpUntil([&] { return a->Label_YesSend->isHidden() && msgPeer.count() == 8; }, 15000));
    // A's step ends as A's; B and C go in their own steps.
    EXPECT_EQ(msgPeer.texts(), (std::vector<std::string>{"Send_Start", "File_Start|A.txt", "File_End|A.txt",
                                                         "File_Start|B.txt", "File_End|B.txt", "File_Start|C.txt",
                                                         "File_End|C.txt", "Send_End"}));
    EXPECT_EQ(RowCount(a->ListF_send), 0);
}

TEST_F(FaultsTest, AFailedStepLetsTheUserStartANewRunAtOnce)
{
    TRawMsgPeer msgPeer;
    auto a = MakeWindow("a", "127.0.0.1", "192.168.0.1");
    a->Core().SetAllHosts("127.0.0.1");
    a->NMMsg1->Port = static_cast<quint16>(msgPeer.port());
    a->NMStrm1->Port = static_cast<quint16>(dz::test::UnusedPort()); // the stream service is down
    std::filesystem::create_directories(FsFolder("src"));
    std::ofstream(FsFolder("src") + "x.txt") << "x";
    AddRow(a->ListF_send, dz::Utf8ToCp1251(FsFolder("src") + "x.txt"), true, true);
    a->Edit_RemoteComputerName->setText(QStringLiteral("127.0.0.1"));

    for (int run = 1; run <= 2; ++run) {
        a->SB_sendClick();
        ASSERT_TRUE(PumpUntil([&] { return dialogs->messages.size() == static_cast<std::size_t>(run); }));
        ASSERT_TRUE(PumpUntil([&] { return msgPeer.count() == 3u * static_cast<std::size_t>(run); }));
        EXPECT_TRUE(a->SB_send->isEnabled()) << run;
        EXPECT_TRUE(a->Label_YesSend->isHidden()) << run;
    }
    EXPECT_EQ(msgPeer.texts(), (std::vector<std::string>{"Send_Start", "File_Start|x.txt", "Send_End", "Send_Start",
                                                         "File_Start|x.txt", "Send_End"}));
    EXPECT_EQ(dialogs->messages[0].text, QStringLiteral("Connection Failed"));
    ASSERT_EQ(RowCount(a->ListF_send), 1);
    EXPECT_TRUE(RowChecked(a->ListF_send, 0));
}

// Enter pressed during a reply, the connect button, a chat line: one
// client, one exchange after the other, none lost, none refused.
TEST_F(FaultsTest, SendsThroughTheOneClientGoOutInTurn)
{
    TRawMsgPeer peer;
    peer.beforeReply = [](const TMessage &) { std::this_thread::sleep_for(std::chrono::milliseconds(50)); };
    auto f = MakeWindow("a", "ALPHA", "1.2.3.4");
    f->Core().SetAllHosts("127.0.0.1");
    f->NMMsg1->Port = static_cast<quint16>(peer.port());
    for (const char *line : {"one", "two", "three"}) {
        f->Edit_Mess->setText(QString::fromLatin1(line));
        f->SB_msgClick();
    }
    f->Edit_RemoteComputerName->setText(QStringLiteral("127.0.0.1"));
    f->SB_connectClick();
    ASSERT_TRUE(PumpUntil([&] { return peer.count() == 4 && MemoLines(f->Memo_Mess).size() == 3; }));
    EXPECT_EQ(peer.texts(), (std::vector<std::string>{"MSG|one", "MSG|two", "MSG|three", "ItsMe=ALPHA|1.2.3.4"}));
    for (const TAsked &m : dialogs->messages)
        ADD_FAILURE() << m.text.toStdString();
}

TEST(NoticeTest, TenFailuresMakeOneBoxThatWaitsForNobody)
{
    QWidget parent;
    TQtDialogs dialogs;
    for (int i = 1; i <= 10; ++i)
        dialogs.notice(&parent, QStringLiteral("Dizaruz"), QStringLiteral("failure %1").arg(i));
    const QList<QMessageBox *> boxes = parent.findChildren<QMessageBox *>(QStringLiteral("NoticeBox"));
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_TRUE(boxes[0]->isVisible());
    EXPECT_FALSE(boxes[0]->isModal());
    EXPECT_TRUE(boxes[0]->text().contains(QStringLiteral("failure 1\n")));
    EXPECT_TRUE(boxes[0]->text().endsWith(QStringLiteral("failure 10")));
    // Once closed, the next failure opens a fresh box.
    boxes[0]->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    dialogs.notice(&parent, QStringLiteral("Dizaruz"), QStringLiteral("later"));
    const QList<QMessageBox *> again = parent.findChildren<QMessageBox *>(QStringLiteral("NoticeBox"));
    ASSERT_EQ(again.size(), 1);
    EXPECT_EQ(again[0]->text(), QStringLiteral("later"));
}

} // namespace

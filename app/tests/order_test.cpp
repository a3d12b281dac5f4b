// Work from the two servers is shown on the GUI thread in the order in
// which the replies went out; a connection that has not finished its request
// holds nothing back, and requests that arrive while the window's own send
// waits are answered at once.

#include "Controls.h"
#include "PeerTools.h"

#include <QPlainTextEdit>
#include <QToolButton>

namespace {

using namespace peer;
using dz::test::RawConnect;
using dz::test::RawFd;

using OrderTest = TPeerTest;

std::vector<std::string> Lines(const TForm1 &f)
{
    return MemoLines(f.Memo_Mess);
}

// Opens a connection that has sent only part of its message, and waits
// until the window has accepted it (so its accept number is the smaller).
RawFd StartSlow(TForm1 &f, const dz::net::TNMGeneralServer &server, int port, const std::string &head)
{
    const std::size_t before = server.ConnectionCount();
    RawFd fd = RawConnect(port);
    EXPECT_TRUE(fd.Send(head));
    EXPECT_TRUE(PumpUntil([&] { return server.ConnectionCount() > before; }));
    (void)f;
    return fd;
}

TEST_F(OrderTest, MessagesAreHandledInTheOrderOfTheirReplies)
{
    auto f = MakeWindow("a", "ALPHA", "1.2.3.4");
    const std::string first = Framed("P", "MSG|first");
    RawFd slow = StartSlow(*f, *f->NMMSGServ1, MsgPort(*f), first.substr(0, 7));

    // The second connection is served whole, and shown, while the first
    // still waits for the rest of its message.
    RawFd fast = RawConnect(MsgPort(*f));
    ASSERT_TRUE(fast.Send(Framed("P", "MSG|second")));
    ASSERT_EQ(PumpForReply(fast), kReply);
    ASSERT_TRUE(PumpUntil([&] { return Lines(*f).size() == 1; }));

    ASSERT_TRUE(slow.Send(first.substr(7)));
    ASSERT_EQ(PumpForReply(slow), kReply);
    ASSERT_TRUE(PumpUntil([&] { return Lines(*f).size() == 2; }));
    EXPECT_EQ(Lines(*f), (std::vector<std::string>{"14:03:27|P | first", "14:03:27|P | second"}));
}

TEST_F(OrderTest, AnUnfinishedStreamHoldsBackNoLaterMessage)
{
    auto f = MakeWindow("a", "ALPHA", "1.2.3.4");
    // Sender name, then the size in ten characters, then the bytes.
    const std::string stream = "0001P" + std::string("         3") + "abc";
    Introduce(*f);
    RawFd slow = StartSlow(*f, *f->NMStrmServ1, f->NMStrmServ1->LocalPort(), stream.substr(0, 8));
    Deliver(*f, "Send_End");
    EXPECT_TRUE(f->SB_send->isEnabled());
    slow.Close();
}

TEST_F(OrderTest, AStalledConnectionDelaysNothing)
{
    auto f = MakeWindow("a", "ALPHA", "1.2.3.4");
    RawFd stalled = StartSlow(*f, *f->NMMSGServ1, MsgPort(*f), "00");
    const auto start = Clock::now();
    Deliver(*f, "MSG|not held");
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    // Generous for a loaded machine: the point is the absence of a hold.
    EXPECT_LT(waited, 1000);
    EXPECT_EQ(Lines(*f).size(), 1u);
    stalled.Close();
}

TEST_F(OrderTest, ARequestArrivingDuringTheWindowsOwnSendIsAnsweredAtOnce)
{
    auto f = MakeWindow("a", "ALPHA", "1.2.3.4");
    TRawMsgPeer peer;
    const int windowPort = MsgPort(*f);
    std::atomic<bool> delivered{false};
    // While the window's sender waits for the chat line's reply, the peer
    // asks a question; the window answers it through the same client, after
    // the chat line's exchange has ended.
    peer.beforeReply = [&](const TMessage &m) {
        if (m.text != "MSG|x")
            return;
        RawFd fd = RawConnect(windowPort);
        if (fd.Send(Framed("BETA", "I_Free=Yes")) && fd.Recv(16) == kReply)
            delivered = true;
    };
    Introduce(*f);
    f->NMMsg1->Port = peer.port();
    f->Edit_Mess->setText(QStringLiteral("x"));
    f->SB_msgClick();
    ASSERT_TRUE(PumpUntil([&] { return peer.count() == 2; }));
    EXPECT_TRUE(delivered);
    EXPECT_EQ(peer.texts(), (std::vector<std::string>{"MSG|x", "I_FreeToo=Yes"}));
    EXPECT_TRUE(PumpUntil([&] { return f->SB_send->isEnabled(); }));
}

TEST_F(OrderTest, AServerThatCannotListenIsReportedWithItsPort)
{
    dz::test::RawListener taken;
    auto f = MakeWindow("a", "ALPHA", "1.2.3.4", static_cast<quint16>(taken.port()));
    EXPECT_EQ(f->NMMSGServ1->ListenError(), 10048);
    EXPECT_EQ(f->NMStrmServ1->ListenError(), 0);
    EXPECT_TRUE(dialogs->messages.empty()); // told once the event loop runs
    PumpFor(50);
    ASSERT_EQ(dialogs->messages.size(), 1u);
    EXPECT_TRUE(dialogs->messages[0].text.contains(QString::number(taken.port())));
    EXPECT_TRUE(dialogs->messages[0].text.contains(QStringLiteral("10048")));
    EXPECT_EQ(dialogs->messages[0].text, f->ListenProblems());

    auto g = MakeWindow("b", "BETA", "1.2.3.4");
    PumpFor(50);
    EXPECT_TRUE(g->ListenProblems().isEmpty());
    EXPECT_EQ(dialogs->messages.size(), 1u);
}

} // namespace

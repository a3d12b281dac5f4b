// The peer control protocol and the chat: two windows talking over
// loopback, and raw sockets on either side of one window.

#include "Controls.h"
#include "PeerTools.h"

#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QTest>
#include <QToolButton>

namespace {

using namespace peer;

using ChatTest = TPeerTest;

std::string Cp(const std::string &utf8)
{
    return dz::Utf8ToCp1251(utf8);
}

std::vector<std::string> Lines(const TForm1 &f)
{
    return MemoLines(f.Memo_Mess);
}

TEST_F(ChatTest, TwoWindowsIntroduceChatSayGoodbyeAndMeetAgain)
{
    auto a = MakeWindow("a", "127.0.0.1", "192.168.0.1");
    auto b = MakeWindow("b", "127.0.0.2", "192.168.0.2");
    SendsTo(*a, *b);
    SendsTo(*b, *a);

    // Introduction: ItsMe, ItsMeToo, I_Free, I_FreeToo.
    a->Edit_RemoteComputerName->setText(QStringLiteral(" 127.0.0.2 "));
    a->SB_connectClick();
    ASSERT_TRUE(PumpUntil([&] { return a->SB_send->isEnabled() && b->SB_send->isEnabled(); }));
    EXPECT_EQ(a->Edit_RemoteComputerName->text(), QStringLiteral("127.0.0.2"));
    EXPECT_EQ(a->Edit_RemoteComputerIP->text(), QStringLiteral("192.168.0.2"));
    EXPECT_EQ(b->Edit_RemoteComputerName->text(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(b->Edit_RemoteComputerIP->text(), QStringLiteral("192.168.0.1"));
    EXPECT_TRUE(a->SB_msg->isEnabled());
    EXPECT_TRUE(b->SB_msg->isEnabled());
    ASSERT_TRUE(PumpUntil([&] { return a->NMStrmServ1->Host == "127.0.0.2"; })) << "the connect has ended";
    for (const auto *f : {a.get(), b.get()}) {
        const dz::peer::THosts hosts = f->Core().Hosts();
        EXPECT_EQ(hosts.msgFrom, TextOf(f->Edit_ThisComputerName));
        EXPECT_EQ(hosts.strmFrom, TextOf(f->Edit_ThisComputerName));
        const std::string peerName = f == a.get() ? "127.0.0.2" : "127.0.0.1";
        EXPECT_EQ(hosts.msgHost, peerName);
        EXPECT_EQ(hosts.strmHost, peerName);
        EXPECT_EQ(f->NMMSGServ1->Host, peerName);
        EXPECT_EQ(f->NMStrmServ1->Host, peerName);
    }
    const std::string iniA = ReadFile("a", "Dizaruz.ini");
    EXPECT_NE(iniA.find("ComputerName=127.0.0.2"), std::string::npos) << iniA;
    EXPECT_NE(iniA.find("ComputerIP=192.168.0.2"), std::string::npos) << iniA;
    // The accepted introduction is not stored on the receiving side.
    EXPECT_EQ(ReadFile("b", "Dizaruz.ini").find("ComputerName"), std::string::npos);

    // Chat both ways.
    a->Edit_Mess->setText(QStringLiteral("Привет"));
    a->SB_msgClick();
    EXPECT_TRUE(a->Edit_Mess->text().isEmpty());
    ASSERT_TRUE(PumpUntil([&] { return Lines(*a).size() == 1 && Lines(*b).size() == 1; }));
    clock->time = clock->time.addSecs(7);
    b->Edit_Mess->setText(QStringLiteral("Да"));
    b->SB_msgClick();
    ASSERT_TRUE(PumpUntil([&] { return Lines(*a).size() == 2 && Lines(*b).size() == 2; }));
    const std::vector<std::string> expected = {Cp("14:03:34|127.0.0.2 | Да"), Cp("14:03:27|127.0.0.1 | Привет")};
    EXPECT_EQ(Lines(*a), expected);
    EXPECT_EQ(Lines(*b), expected);
    const std::string file = expected[0] + "\r\n" + expected[1] + "\r\n";
    EXPECT_EQ(ReadFile("a", "~MSG.txt"), file);
    EXPECT_EQ(ReadFile("b", "~MSG.txt"), file);

    // Goodbye: a closes, b forgets it and is free again.
    a->show();
    EXPECT_TRUE(CloseWindow(*a));
    ASSERT_TRUE(PumpUntil([&] { return b->Edit_RemoteComputerIP->text().isEmpty(); }));
    EXPECT_TRUE(b->Edit_RemoteComputerName->text().isEmpty());
    EXPECT_FALSE(b->SB_msg->isEnabled());
    EXPECT_FALSE(b->SB_send->isEnabled());
    EXPECT_TRUE(b->FreeFlag);

    // A new introduction from another copy is accepted.
    auto c = MakeWindow("c", "127.0.0.3", "192.168.0.3");
    SendsTo(*c, *b);
    SendsTo(*b, *c);
    c->Edit_RemoteComputerName->setText(QStringLiteral("127.0.0.2"));
    c->SB_connectClick();
    ASSERT_TRUE(PumpUntil([&] { return c->SB_send->isEnabled() && b->SB_send->isEnabled(); }));
    EXPECT_EQ(b->Edit_RemoteComputerName->text(), QStringLiteral("127.0.0.3"));
    EXPECT_EQ(b->Edit_RemoteComputerIP->text(), QStringLiteral("192.168.0.3"));
    EXPECT_EQ(c->Edit_RemoteComputerIP->text(), QStringLiteral("192.168.0.2"));
    for (const TAsked &m : dialogs->messages)
        ADD_FAILURE() << m.text.toStdString();
}

// The connecting side: exact texts of ItsMe, I_FreeToo, MSG and By.
TEST_F(ChatTest, ConnectingSideSendsTheExactTexts)
{
    TRawMsgPeer peer;
    auto f = MakeWindow("a", "ALPHA", "192.168.0.1");
    f->NMMsg1->Port = peer.port();
    f->Edit_RemoteComputerName->setText(QStringLiteral("127.0.0.1"));
    f->SB_connectClick();
    ASSERT_TRUE(PumpUntil([&] { return peer.count() == 1; }));
    EXPECT_EQ(peer.messages()[0].from, "ALPHA");
    EXPECT_EQ(peer.messages()[0].text, "ItsMe=ALPHA|192.168.0.1");
    EXPECT_FALSE(f->SB_msg->isEnabled()); // the click itself enables nothing

    Deliver(*f, "ItsMeToo=10.0.0.2|x", "BETA"); // '=' only: the bar belongs to the address
    EXPECT_TRUE(f->SB_msg->isEnabled());
    EXPECT_EQ(f->Edit_RemoteComputerIP->text(), QStringLiteral("10.0.0.2|x"));
    Deliver(*f, "I_Free=Yes", "BETA");
    EXPECT_TRUE(f->SB_send->isEnabled());
    ASSERT_TRUE(PumpUntil([&] { return peer.count() == 3; }));
    // A copy of ours says what it can; an original ignores the word.
    EXPECT_EQ(peer.messages()[1].text, "Dizaruz_Can=BigFiles|NoTick|Hash|Space|Folders|Resume");
    EXPECT_EQ(peer.messages()[2].text, "I_FreeToo=Yes");

    f->Edit_Mess->setText(QStringLiteral("  a=b|c  "));
    f->SB_msgClick();
    ASSERT_TRUE(PumpUntil([&] { return !Lines(*f).empty(); }));
    ASSERT_EQ(peer.count(), 4u);
    EXPECT_EQ(peer.messages()[3].text, "MSG|a=b|c");
    EXPECT_EQ(Lines(*f), std::vector<std::string>{"14:03:27|ALPHA | a=b|c"});

    f->show();
    EXPECT_TRUE(CloseWindow(*f));
    ASSERT_EQ(peer.count(), 5u);
    EXPECT_EQ(peer.messages()[4].text, "By=ALPHA|192.168.0.1");
    EXPECT_TRUE(dialogs->messages.empty());
}

// The receiving side of an introduction, and its replies.
TEST_F(ChatTest, AcceptedIntroductionIsAnsweredOnceUntilGoodbye)
{
    TRawMsgPeer peer;
    auto f = MakeWindow("b", "BETA", "192.168.0.2");
    f->NMMsg1->Port = peer.port();

    Deliver(*f, "ItsMe=127.0.0.1|192.168.0.1", "ALPHA");
    ASSERT_TRUE(PumpUntil([&] { return peer.count() == 3; }));
    EXPECT_EQ(peer.texts(),
              (std::vector<std::string>{"ItsMeToo=192.168.0.2", "I_Free=Yes", "Dizaruz_Can=BigFiles|NoTick|Hash|Space|Folders|Resume"}));
    EXPECT_EQ(peer.messages()[0].from, "BETA");
    EXPECT_EQ(f->Edit_RemoteComputerName->text(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(f->Edit_RemoteComputerIP->text(), QStringLiteral("192.168.0.1"));
    EXPECT_TRUE(f->SB_msg->isEnabled());

    // Introduced: a repeated ItsMe gets no reply and changes nothing.
    Deliver(*f, "ItsMe=OTHER|10.9.9.9", "OTHER");
    PumpFor(100);
    EXPECT_EQ(peer.count(), 3u);
    EXPECT_EQ(f->Edit_RemoteComputerName->text(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(f->Core().Hosts().msgHost, "127.0.0.1");

    Deliver(*f, "You_Free");
    ASSERT_TRUE(PumpUntil([&] { return peer.count() == 4; }));
    EXPECT_EQ(peer.texts().back(), "I_Free=Yes");

    // By without fields frees the window for the next introduction.
    Deliver(*f, "By");
    EXPECT_TRUE(f->Edit_RemoteComputerIP->text().isEmpty());
    EXPECT_FALSE(f->SB_msg->isEnabled());
    Deliver(*f, "ItsMe", "NONAME"); // no fields: accepted with empty name and address
    EXPECT_TRUE(f->Edit_RemoteComputerName->text().isEmpty());
    EXPECT_TRUE(f->Edit_RemoteComputerIP->text().isEmpty());
    EXPECT_EQ(f->Core().Hosts().msgHost, "");
    // Its reply went to an empty host and failed without a word to the user
    // beyond the invalid-host box; the second reply was not tried.
    PumpFor(100);
    EXPECT_EQ(peer.count(), 4u);
    for (const TAsked &m : dialogs->messages)
        EXPECT_EQ(m.text, QStringLiteral("Некорректное имя компьютера или он недоступен"));
}

TEST_F(ChatTest, YesNoValuesOfIFree)
{
    TRawMsgPeer peer;
    auto f = MakeWindow("b", "BETA", "1.2.3.4");
    Introduce(*f);
    f->NMMsg1->Port = peer.port();
    const struct {
        const char *msg;
        bool enabled;
    } rows[] = {{"I_Free=yes", true},  {"I_FreeToo=No", false}, {"I_Free=Yes", true},
                {"I_Free=Y", false},   {"I_FreeToo=YES", true}, {"I_Free=No", false},
                {"I_Free= yes ", true}, {"I_Free", false},      {"I_FreeToo=|YES|", true},
                {"I_Free=", false}};
    std::size_t replies = 0;
    for (const auto &row : rows) {
        Deliver(*f, row.msg);
        EXPECT_EQ(f->SB_send->isEnabled(), row.enabled) << row.msg;
        if (std::string(row.msg).rfind("I_FreeToo", 0) != 0)
            ++replies;
    }
    ASSERT_TRUE(PumpUntil([&] { return peer.count() == replies; }));
    for (const std::string &t : peer.texts())
        EXPECT_EQ(t, "I_FreeToo=Yes");
}

TEST_F(ChatTest, ReceivingStateFollowsSendStartAndSendEnd)
{
    TRawMsgPeer peer;
    auto f = MakeWindow("b", "BETA", "1.2.3.4");
    Introduce(*f);
    f->NMMsg1->Port = peer.port();

    // Send_End without Send_Start: free, buttons on.
    Deliver(*f, "Send_End");
    EXPECT_TRUE(f->FreeFlag);
    EXPECT_TRUE(f->SB_send->isEnabled());
    EXPECT_TRUE(f->SB_Help->isEnabled());

    AddRow(f->ListF_recv, "old.txt", false);
    f->Label_RecivNow->setText(QStringLiteral("x"));
    Deliver(*f, "Send_Start");
    EXPECT_FALSE(f->FreeFlag);
    EXPECT_FALSE(f->Label_YesReciv->isHidden());
    EXPECT_FALSE(f->SB_send->isEnabled());
    EXPECT_FALSE(f->SB_Help->isEnabled());
    EXPECT_EQ(RowCount(f->ListF_recv), 0);
    EXPECT_TRUE(f->Label_RecivNow->text().isEmpty());

    Deliver(*f, "File_Start|a=b.txt");
    EXPECT_EQ(f->Label_RecivNow->text(), QStringLiteral("a=b.txt"));
    AddRow(f->ListF_recv, "a=b.txt", false);
    Deliver(*f, "Send_Start"); // ignored while receiving
    EXPECT_EQ(RowCount(f->ListF_recv), 1);
    EXPECT_EQ(f->Label_RecivNow->text(), QStringLiteral("a=b.txt"));
    Deliver(*f, "File_End|a=b.txt");
    EXPECT_EQ(f->Label_RecivNow->text(), QStringLiteral("a=b.txt"));

    // While receiving: an ItsMe under another name and ItsMeToo only enable chat, every report says No.
    Deliver(*f, "ItsMe=OTHER|10.0.0.1");
    EXPECT_TRUE(f->SB_msg->isEnabled());
    EXPECT_EQ(f->Edit_RemoteComputerIP->text(), QStringLiteral("127.0.0.1"));
    Deliver(*f, "ItsMeToo=10.0.0.1");
    EXPECT_EQ(f->Edit_RemoteComputerIP->text(), QStringLiteral("127.0.0.1"));
    Deliver(*f, "You_Free");
    Deliver(*f, "I_Free=Yes");
    ASSERT_TRUE(PumpUntil([&] { return peer.count() == 2; }));
    EXPECT_EQ(peer.texts(), (std::vector<std::string>{"I_Free=No", "I_FreeToo=No"}));
    Deliver(*f, "File_Start");
    EXPECT_TRUE(f->Label_RecivNow->text().isEmpty());

    // By while receiving ends the receiving state completely.
    Deliver(*f, "By=ALPHA|10.0.0.1");
    EXPECT_TRUE(f->FreeFlag);
    EXPECT_TRUE(f->Label_YesReciv->isHidden());
    EXPECT_TRUE(f->SB_Help->isEnabled());
    Deliver(*f, "Send_Start");
    Deliver(*f, "Send_End");
    EXPECT_TRUE(f->FreeFlag);
    EXPECT_TRUE(f->Label_YesReciv->isHidden());
    EXPECT_TRUE(f->SB_Help->isEnabled());
    EXPECT_TRUE(Lines(*f).empty()); // control messages are never logged
}

TEST_F(ChatTest, ReceivedMessagesTable)
{
    auto f = MakeWindow("b", "BETA", "1.2.3.4");
    const struct {
        const char *msg;
        const char *logged; // nullptr: nothing
    } rows[] = {
        {"MSG|hello", "hello"},
        {"MSG|a=b|c", "a"},
        {"MSG|=|x", "x"},
        {"MSG|=|", nullptr},
        {"MSG|", nullptr},
        {"MSG", nullptr},
        {" |MSG|hi", "hi"},
        {"=MSG=  spaced  ", "spaced"},
        {"msg|hi", nullptr},
        {"Msg|hi", nullptr},
        {"Unknown|hi", nullptr},
        {"", nullptr},
        {"MSG|By", "By"},
        {"MSG|Send_Start", "Send_Start"},
    };
    std::vector<std::string> expected;
    for (const auto &row : rows) {
        Deliver(*f, row.msg, "ALPHA");
        if (row.logged)
            expected.insert(expected.begin(), std::string("14:03:27|ALPHA | ") + row.logged);
        EXPECT_EQ(Lines(*f), expected) << row.msg;
    }
    // Commands quoted as chat change no state.
    EXPECT_TRUE(f->FreeFlag);
    EXPECT_TRUE(f->Label_YesReciv->isHidden());
    EXPECT_FALSE(f->SB_msg->isEnabled());
    std::string file;
    for (const std::string &line : expected)
        file += line + "\r\n";
    EXPECT_EQ(ReadFile("b", "~MSG.txt"), file);
}

TEST_F(ChatTest, EnterAnywhereSendsTheChatLineAndBlankSendsNothing)
{
    TRawMsgPeer peer;
    auto f = MakeWindow("a", "ALPHA", "1.2.3.4");
    f->Core().SetAllHosts("127.0.0.1");
    f->NMMsg1->Port = peer.port();
    f->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(f.get()));
    f->activateWindow();
    f->Edit_RemoteComputerName->setText(QStringLiteral("127.0.0.1"));
    f->Edit_RemoteComputerName->setFocus();

    f->Edit_Mess->setText(QStringLiteral("   "));
    QTest::keyClick(f->Edit_RemoteComputerName, Qt::Key_Return);
    EXPECT_TRUE(f->Edit_Mess->text().isEmpty());
    ASSERT_TRUE(f->Session().Outbox().WaitIdle(std::chrono::seconds(5))); // whatever was sent has arrived
    EXPECT_EQ(peer.count(), 0u);

    // Enter in the remote-name box sends the chat line; it does not connect.
    f->Edit_Mess->setText(QStringLiteral("one"));
    f->Edit_RemoteComputerName->setFocus();
    QTest::keyClick(f->Edit_RemoteComputerName, Qt::Key_Return);
    f->Edit_Mess->setText(QStringLiteral("two"));
    f->Memo_Mess->setFocus();
    QTest::keyClick(f->Memo_Mess, Qt::Key_Enter, Qt::KeypadModifier);
    ASSERT_TRUE(PumpUntil([&] { return peer.count() == 2; })) << peer.count() << " "
        << (dialogs->messages.empty() ? std::string() : dialogs->messages[0].text.toStdString());
    EXPECT_EQ(peer.texts(), (std::vector<std::string>{"MSG|one", "MSG|two"}));
    ASSERT_TRUE(PumpUntil([&] { return Lines(*f).size() == 2; }));
    EXPECT_TRUE(f->Edit_Mess->hasFocus());
}

TEST_F(ChatTest, ChatLineTooLongToFrameIsRefusedAndKept)
{
    TRawMsgPeer peer;
    auto f = MakeWindow("a", "ALPHA", "1.2.3.4");
    f->Core().SetAllHosts("127.0.0.1");
    f->NMMsg1->Port = peer.port();

    // Cyrillic letters are one byte each in Windows-1251.
    const QString tooLong = QString(dz::peer::TPeerCore::kMaxChatBytes + 1, QChar(0x0416));
    f->Edit_Mess->setText(tooLong);
    f->SB_msgClick();
    ASSERT_EQ(dialogs->messages.size(), 1u);
    EXPECT_TRUE(dialogs->messages[0].text.contains(QString::number(dz::peer::TPeerCore::kMaxChatBytes)));
    EXPECT_EQ(f->Edit_Mess->text(), tooLong);
    EXPECT_TRUE(Lines(*f).empty());
    ASSERT_TRUE(f->Session().Outbox().WaitIdle(std::chrono::seconds(5)));
    EXPECT_EQ(peer.count(), 0u);

    f->Edit_Mess->setText(tooLong.left(dz::peer::TPeerCore::kMaxChatBytes));
    f->SB_msgClick();
    ASSERT_TRUE(PumpUntil([&] { return peer.count() == 1; }));
    EXPECT_EQ(peer.messages()[0].text.size(), 9999u);
    EXPECT_TRUE(f->Edit_Mess->text().isEmpty());
}

TEST_F(ChatTest, FailedChatSendIsReportedAndTheLineKept)
{
    auto f = MakeWindow("a", "ALPHA", "1.2.3.4");
    f->Core().SetAllHosts("127.0.0.1");
    f->NMMsg1->Port = dz::test::UnusedPort();
    f->Edit_Mess->setText(QStringLiteral("lost?"));
    f->SB_msg->setEnabled(true);
    f->SB_msg->click();
    ASSERT_TRUE(PumpUntil([&] { return !dialogs->messages.empty(); }));
    EXPECT_EQ(dialogs->messages[0].text, QStringLiteral("Connection Failed"));
    EXPECT_EQ(f->Edit_Mess->text(), QStringLiteral("lost?"));
    EXPECT_TRUE(Lines(*f).empty());
}

TEST_F(ChatTest, ClearingTheChatAsksFirst)
{
    auto f = MakeWindow("a", "ALPHA", "1.2.3.4");
    Deliver(*f, "MSG|kept");
    const std::string file = ReadFile("a", "~MSG.txt");
    ASSERT_FALSE(file.empty());

    dialogs->confirmAnswers = {false};
    f->SpeedButton2Click();
    ASSERT_EQ(dialogs->confirms.size(), 1u);
    EXPECT_EQ(dialogs->confirms[0].caption, QStringLiteral("Confirm"));
    EXPECT_EQ(dialogs->confirms[0].text, QStringLiteral("Удалить все сообщения ?"));
    EXPECT_EQ(Lines(*f).size(), 1u);
    EXPECT_EQ(ReadFile("a", "~MSG.txt"), file);

    dialogs->confirmAnswers = {true};
    f->SpeedButton2Click();
    EXPECT_TRUE(Lines(*f).empty());
    EXPECT_TRUE(std::filesystem::exists(FsFolder("a") + "~MSG.txt"));
    EXPECT_EQ(ReadFile("a", "~MSG.txt"), "");
}

TEST_F(ChatTest, GoodbyeRules)
{
    TRawMsgPeer peer;
    auto f = MakeWindow("a", "ALPHA", "1.2.3.4");
    f->Core().SetAllHosts("127.0.0.1");
    f->NMMsg1->Port = peer.port();
    f->show();

    // No address: no goodbye.
    f->Edit_RemoteComputerName->setText(QStringLiteral("BETA"));
    EXPECT_TRUE(CloseWindow(*f));
    // An erased name: no goodbye either.
    f->show();
    f->Edit_RemoteComputerName->setText(QStringLiteral("  "));
    f->Edit_RemoteComputerIP->setText(QStringLiteral("10.0.0.2"));
    EXPECT_TRUE(CloseWindow(*f));
    EXPECT_TRUE(f->Edit_RemoteComputerName->text().isEmpty());
    // After an invalid host: none until the next connect.
    f->show();
    f->Edit_RemoteComputerName->setText(QStringLiteral("BETA"));
    f->Core().InvalidHost();
    EXPECT_TRUE(CloseWindow(*f));
    ASSERT_TRUE(f->Session().Outbox().WaitIdle(std::chrono::seconds(5)));
    EXPECT_EQ(peer.count(), 0u);
    EXPECT_TRUE(PumpUntil([&] { return f->InvalidHostCode == 1; })); // the core's fact, shown

    // The goodbye goes to the current Host, whatever the box says now. (A
    // connect to nowhere resets the code, and leaves the hosts as they were.)
    f->show();
    f->Core().Connect("");
    EXPECT_TRUE(CloseWindow(*f));
    ASSERT_EQ(peer.count(), 1u);
    EXPECT_EQ(peer.messages()[0].text, "By=ALPHA|1.2.3.4");
}

TEST_F(ChatTest, UndeliverableGoodbyeIsReportedAndTheWindowClosesAnyway)
{
    auto f = MakeWindow("a", "ALPHA", "1.2.3.4");
    f->Core().SetAllHosts("127.0.0.1");
    f->NMMsg1->Port = dz::test::UnusedPort();
    f->Edit_RemoteComputerName->setText(QStringLiteral("BETA"));
    f->Edit_RemoteComputerIP->setText(QStringLiteral("10.0.0.2"));
    f->show();
    EXPECT_TRUE(CloseWindow(*f));
    EXPECT_FALSE(f->isVisible());
    // Told in a notice that waits for nobody, so the process can end.
    EXPECT_TRUE(dialogs->messages.empty());
    ASSERT_EQ(dialogs->notices.size(), 1u);
    EXPECT_FALSE(dialogs->notices[0].text.isEmpty());
}

TEST_F(ChatTest, InvalidHostIsReportedAndSuppressesTheGoodbye)
{
    auto f = MakeWindow("a", "ALPHA", "1.2.3.4");
    bool handled = true;
    f->NMMsg1InvalidHost(handled);
    EXPECT_FALSE(handled);
    EXPECT_EQ(f->Core().InvalidHostCode(), 1);
    ASSERT_TRUE(PumpUntil([&] { return dialogs->messages.size() == 1; }));
    EXPECT_EQ(f->InvalidHostCode, 1);
    EXPECT_EQ(dialogs->messages[0].text, QStringLiteral("Некорректное имя компьютера или он недоступен"));
    // The client asks the window when a name does not resolve.
    f->Edit_RemoteComputerName->setText(QStringLiteral("no-such-host.invalid"));
    f->SB_connectClick();
    ASSERT_TRUE(PumpUntil([&] { return dialogs->messages.size() == 3; }, 20000));
    EXPECT_EQ(dialogs->messages[1].text, QStringLiteral("Некорректное имя компьютера или он недоступен"));
    EXPECT_EQ(dialogs->messages[2].text, QStringLiteral("Null Remote Address"));
    EXPECT_EQ(f->InvalidHostCode, 1);
    // A connect click resets the code before it sends.
    f->NMMsg1->Port = dz::test::UnusedPort();
    f->Edit_RemoteComputerName->setText(QStringLiteral("127.0.0.1"));
    f->SB_connectClick();
    EXPECT_EQ(f->InvalidHostCode, 0);
    ASSERT_TRUE(PumpUntil([&] { return dialogs->messages.size() == 4; }));
    EXPECT_EQ(dialogs->messages[3].text, QStringLiteral("Connection Failed"));
}

} // namespace

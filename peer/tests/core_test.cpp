// The protocol core on its own: every command word, the Yes/No values, the
// free flag's state table, the worked exchange between two cores, and
// messages handled from two threads at once.

#include "peer/core.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

using dz::peer::TEffect;
using dz::peer::TOutcome;
using dz::peer::TPeerCore;

std::vector<std::string> Describe(const std::vector<TEffect> &effects)
{
    std::vector<std::string> out;
    for (const TEffect &e : effects)
        out.push_back(e.Describe());
    return out;
}

std::vector<std::string> Rendered(const TPeerCore &core, const TOutcome &outcome)
{
    std::vector<std::string> out;
    for (const auto &m : outcome.send)
        out.push_back(core.Render(m));
    return out;
}

// A started core named BETA at 192.168.0.2.
struct Started {
    TPeerCore core;
    Started()
    {
        core.SetIdentity("BETA", "192.168.0.2");
        core.Start();
    }
};

using Strings = std::vector<std::string>;

TEST(CoreTest, EveryCommandWordOnAFreeCoreWithoutPeer)
{
    const struct {
        const char *msg;
        Strings effects;
        Strings sent;
    } rows[] = {
        {"MSG|hello", {"Chat ALPHA|hello"}, {}},
        {"ItsMe=ALPHA|192.168.0.1",
         {"SB_msg=1", "Edit_RemoteComputerName=ALPHA", "Edit_RemoteComputerIP=192.168.0.1", "Hosts=ALPHA|ALPHA"},
         {"ItsMeToo=192.168.0.2", "I_Free=Yes"}},
        {"ItsMeToo=192.168.0.1", {"SB_msg=1", "Edit_RemoteComputerIP=192.168.0.1", "Ini REMOTE/ComputerIP=192.168.0.1"},
         {}},
        {"By=ALPHA|192.168.0.1",
         {"Edit_RemoteComputerName=", "Edit_RemoteComputerIP=", "SB_send=0", "SB_msg=0", "FreeFlag=1"},
         {}},
        {"You_Free", {}, {"I_Free=Yes"}},
        {"I_Free=Yes", {"SB_send=1"}, {"I_FreeToo=Yes"}},
        {"I_FreeToo=No", {"SB_send=0"}, {}},
        {"File_Start|a=b.txt", {"Label_RecivNow=a=b.txt"}, {}},
        {"File_End|a.txt", {}, {}},
        {"Send_Start",
         {"FreeFlag=0", "Label_YesReciv=1", "SB_send=0", "SB_Help=0", "Label_RecivNow=", "ListF_recv cleared"},
         {}},
        {"Send_End", {"FreeFlag=1", "Label_YesReciv=0", "SB_send=1", "SB_Help=1", "Label_RecivNow="}, {}},
        {"Unknown=x", {}, {}},
        {"msg|lower case", {}, {}},
        {"", {}, {}},
    };
    for (const auto &row : rows) {
        Started s;
        const TOutcome outcome = s.core.Handle("ALPHA", 0, row.msg);
        EXPECT_EQ(Describe(outcome.effects), row.effects) << row.msg;
        EXPECT_EQ(Rendered(s.core, outcome), row.sent) << row.msg;
    }
}

TEST(CoreTest, FieldsAreReadWithTheirOwnDelimiters)
{
    const struct {
        const char *msg;
        Strings effects;
    } rows[] = {
        // Blanks and delimiters around the whole text do not count.
        {" |MSG|hi", {"Chat P|hi"}},
        {"=MSG=  spaced  ", {"Chat P|spaced"}},
        {"MSG|a=b|c", {"Chat P|a"}},
        {"MSG|=|x", {"Chat P|x"}},
        {"MSG|=|", {}},
        {"MSG", {}},
        {"MSG|By", {"Chat P|By"}},
        // One message makes one line, whatever it holds.
        {"MSG|line\r\n10:00:00|BOSS | fake", {"Chat P|line  10:00:00"}},
        {"MSG|tab\there\x01", {"Chat P|tab here"}},
        // ItsMeToo reads '=' alone: a bar belongs to the address.
        {"ItsMeToo=10.0.0.2|x", {"SB_msg=1", "Edit_RemoteComputerIP=10.0.0.2|x", "Ini REMOTE/ComputerIP=10.0.0.2|x"}},
        // File_Start reads '|' alone; missing fields are empty.
        {"File_Start|", {"Label_RecivNow="}},
        {"File_Start| spaced name.txt ", {"Label_RecivNow=spaced name.txt"}},
        {"ItsMe", {"SB_msg=1", "Edit_RemoteComputerName=", "Edit_RemoteComputerIP=", "Hosts=|"}},
    };
    for (const auto &row : rows) {
        Started s;
        EXPECT_EQ(Describe(s.core.Handle("P", 0, row.msg).effects), row.effects) << row.msg;
    }
}

TEST(CoreTest, YesNoValues)
{
    const struct {
        const char *value;
        bool yes;
    } rows[] = {{"Yes", true},  {"yes", true},   {"YES", true},  {" yes ", true}, {"|YES|", true},
                {"Y", false},   {"No", false},   {"", false},    {"yess", false}, {"да", false}};
    for (const auto &row : rows) {
        Started s;
        const TOutcome outcome = s.core.Handle("P", 0, std::string("I_FreeToo=") + row.value);
        EXPECT_EQ(Describe(outcome.effects), Strings{row.yes ? "SB_send=1" : "SB_send=0"}) << row.value;
    }
}

TEST(CoreTest, FreeFlagStateTable)
{
    const Strings bye = {"Edit_RemoteComputerName=", "Edit_RemoteComputerIP=", "SB_send=0", "SB_msg=0",
                         "FreeFlag=1"};
    const Strings end = {"FreeFlag=1", "Label_YesReciv=0", "SB_send=1", "SB_Help=1", "Label_RecivNow="};
    const struct {
        bool freeBefore;
        const char *msg;
        bool freeAfter;
        Strings effects;
    } rows[] = {
        {true, "Send_Start", false,
         {"FreeFlag=0", "Label_YesReciv=1", "SB_send=0", "SB_Help=0", "Label_RecivNow=", "ListF_recv cleared"}},
        {true, "Send_End", true, end},
        {true, "By", true, bye},
        {false, "Send_End", true, end},
        // A goodbye in the middle of a batch ends the receiving state.
        {false, "By", true, [&] {
             Strings all = bye;
             all.insert(all.end(), {"Label_YesReciv=0", "SB_Help=1", "Label_RecivNow="});
             return all;
         }()},
        {false, "Send_Start", false, {}},
    };
    for (const auto &row : rows) {
        Started s;
        if (!row.freeBefore)
            s.core.Handle("P", 0, "Send_Start");
        EXPECT_EQ(Describe(s.core.Handle("P", 0, row.msg).effects), row.effects) << row.freeBefore << row.msg;
        EXPECT_EQ(s.core.FreeFlag(), row.freeAfter) << row.freeBefore << row.msg;
    }
}

TEST(CoreTest, WhileReceivingAnIntroductionIsRefusedAndEveryReportSaysNo)
{
    Started s;
    s.core.Handle("P", 0, "Send_Start");
    const TOutcome itsMe = s.core.Handle("ALPHA", 0, "ItsMe=ALPHA|1.2.3.4");
    EXPECT_EQ(Describe(itsMe.effects), Strings{"SB_msg=1"});
    EXPECT_TRUE(itsMe.send.empty()) << "no reply to a refused introduction";
    EXPECT_EQ(Describe(s.core.Handle("ALPHA", 0, "ItsMeToo=1.2.3.4").effects), Strings{"SB_msg=1"});
    EXPECT_EQ(Rendered(s.core, s.core.Handle("P", 0, "You_Free")), Strings{"I_Free=No"});
    EXPECT_EQ(Rendered(s.core, s.core.Handle("P", 0, "I_Free=Yes")), Strings{"I_FreeToo=No"});
}

TEST(CoreTest, ARepeatedIntroductionIsIgnoredUntilGoodbye)
{
    Started s;
    s.core.Handle("ALPHA", 0, "ItsMe=ALPHA|1.1.1.1");
    const TOutcome again = s.core.Handle("OTHER", 0, "ItsMe=OTHER|2.2.2.2");
    EXPECT_TRUE(again.send.empty());
    EXPECT_EQ(s.core.RemoteName(), "ALPHA");
    EXPECT_EQ(s.core.Hosts().msgHost, "ALPHA");
    s.core.Handle("ALPHA", 0, "By");
    EXPECT_EQ(Rendered(s.core, s.core.Handle("OTHER", 0, "ItsMe=OTHER|2.2.2.2")),
              (Strings{"ItsMeToo=192.168.0.2", "I_Free=Yes"}));
    EXPECT_EQ(s.core.Hosts().strmHost, "OTHER");
    EXPECT_EQ(s.core.Hosts().strmFrom, "BETA");
}

TEST(CoreTest, TheFreeValueIsReadWhenTheMessageGoesOut)
{
    Started s;
    const TOutcome intro = s.core.Handle("ALPHA", 0, "ItsMe=ALPHA|1.1.1.1");
    ASSERT_EQ(intro.send.size(), 2u);
    // A batch starts between the decision and the send.
    s.core.Handle("ALPHA", 0, "Send_Start");
    EXPECT_EQ(s.core.Render(intro.send[1]), "I_Free=No");
}

TEST(CoreTest, TheUsersOwnActions)
{
    Started s;
    const TOutcome blank = s.core.Connect("");
    EXPECT_TRUE(blank.send.empty());
    EXPECT_EQ(Describe(blank.effects), Strings{"InvalidHostCode=0"});

    s.core.InvalidHost();
    EXPECT_EQ(s.core.InvalidHostCode(), 1);
    EXPECT_TRUE(s.core.Goodbye("ALPHA", "1.1.1.1").send.empty()) << "no goodbye after an invalid host";
    const TOutcome connect = s.core.Connect("ALPHA");
    EXPECT_EQ(s.core.InvalidHostCode(), 0);
    EXPECT_EQ(Rendered(s.core, connect), Strings{"ItsMe=BETA|192.168.0.2"});
    EXPECT_EQ(s.core.Hosts().msgHost, "ALPHA");
    EXPECT_EQ(s.core.Hosts().strmHost, "") << "the stream client follows only once the introduction went";
    EXPECT_EQ(Describe(s.core.Connected("ALPHA").effects),
              (Strings{"Hosts=ALPHA|ALPHA", "Ini REMOTE/ComputerName=ALPHA", "Ini REMOTE/ComputerIP="}));

    const struct {
        const char *name, *ip;
        bool goodbye;
    } closes[] = {{"ALPHA", "1.1.1.1", true}, {" ALPHA ", " 1.1.1.1 ", true}, {"", "1.1.1.1", false},
                  {"ALPHA", "  ", false}};
    for (const auto &c : closes)
        EXPECT_EQ(Rendered(s.core, s.core.Goodbye(c.name, c.ip)),
                  c.goodbye ? Strings{"By=BETA|192.168.0.2"} : Strings{})
            << c.name << "/" << c.ip;

    s.core.Handle("ALPHA", 0, "File_Start|x.txt");
    const TOutcome run = s.core.StartRun();
    EXPECT_EQ(Rendered(s.core, run), Strings{"Send_Start"});
    EXPECT_EQ(s.core.Pending(), "") << "a run of its own empties this copy's pending name";
    EXPECT_TRUE(s.core.FreeFlag()) << "sending does not change the free flag";
    EXPECT_EQ(Rendered(s.core, s.core.EndRun(true)), Strings{"Send_End"});
    EXPECT_TRUE(s.core.EndRun(false).send.empty());
}

// Two cores pass their messages to each other, as two copies would.
TEST(CoreTest, TheWorkedExchangeBetweenTwoCores)
{
    TPeerCore a, b;
    a.SetIdentity("ALPHA", "192.168.0.1");
    b.SetIdentity("BETA", "192.168.0.2");
    a.Start();
    b.Start();
    Strings wire; // "FROM>TO: text" in the order sent
    std::function<void(TPeerCore &, TPeerCore &, const TOutcome &)> deliver;
    deliver = [&](TPeerCore &from, TPeerCore &to, const TOutcome &outcome) {
        for (const auto &m : outcome.send) {
            const std::string text = from.Render(m);
            const std::string sender = from.Hosts().msgFrom;
            wire.push_back(sender + ": " + text);
            deliver(to, from, to.Handle(sender, 0, text));
        }
    };
    deliver(a, b, a.Connect("BETA"));
    deliver(a, b, a.Connected("BETA"));
    EXPECT_EQ(wire, (Strings{"ALPHA: ItsMe=ALPHA|192.168.0.1", "BETA: ItsMeToo=192.168.0.2",
                             "BETA: I_Free=Yes", "ALPHA: I_FreeToo=Yes"}));
    EXPECT_EQ(a.RemoteIP(), "192.168.0.2");
    EXPECT_EQ(b.RemoteName(), "ALPHA");
    EXPECT_EQ(b.RemoteIP(), "192.168.0.1");
    for (const TPeerCore *c : {&a, &b}) {
        const auto h = c->Hosts();
        const std::string peer = c == &a ? "BETA" : "ALPHA";
        EXPECT_EQ(h.msgHost, peer);
        EXPECT_EQ(h.strmHost, peer);
        EXPECT_EQ(h.strmServHost, peer);
    }

    const TOutcome chat = b.Handle("ALPHA", 0, "MSG|Привет");
    EXPECT_EQ(Describe(chat.effects), Strings{"Chat ALPHA|Привет"});

    wire.clear();
    deliver(a, b, a.StartRun());
    EXPECT_FALSE(b.FreeFlag());
    for (const char *name : {"a.txt", "b.txt"}) {
        deliver(a, b, {{{std::string("File_Start|") + name}}, {}});
        EXPECT_EQ(b.StreamTarget().pending, name);
        EXPECT_EQ(Describe(b.Stored("ALPHA", name).effects),
                  (Strings{std::string("Received ALPHA|") + name, "Label_RecivNow="}));
        deliver(a, b, {{{std::string("File_End|") + name}}, {}});
    }
    deliver(a, b, a.EndRun(true));
    EXPECT_TRUE(b.FreeFlag());
    EXPECT_EQ(wire.size(), 6u);

    wire.clear();
    deliver(a, b, a.Goodbye(a.RemoteName().empty() ? "BETA" : "BETA", a.RemoteIP()));
    EXPECT_EQ(wire, Strings{"ALPHA: By=ALPHA|192.168.0.1"});
    EXPECT_EQ(b.RemoteIP(), "");
    EXPECT_TRUE(b.FreeFlag());
}

// Effects reach the publisher in the order of the state changes, also when
// two connection threads hand in messages at once.
TEST(CoreTest, MessagesFromTwoThreadsAtOnce)
{
    TPeerCore core;
    core.SetIdentity("BETA", "192.168.0.2");
    std::vector<std::string> published;
    core.SetPublisher([&](std::vector<TEffect> effects) {
        for (const TEffect &e : effects)
            if (e.kind == TEffect::Kind::Free)
                published.push_back(e.Describe());
    });
    constexpr int kRounds = 2000;
    std::atomic<bool> go{false};
    auto hammer = [&](const char *msg) {
        while (!go) {
        }
        for (int i = 0; i < kRounds; ++i)
            core.Handle("P", 0, msg);
    };
    std::thread starts(hammer, "Send_Start");
    std::thread ends(hammer, "Send_End");
    go = true;
    starts.join();
    ends.join();
    // Each published free value must differ from... nothing, but the last
    // one published is the state the core ended in.
    ASSERT_FALSE(published.empty());
    EXPECT_EQ(published.back(), core.FreeFlag() ? "FreeFlag=1" : "FreeFlag=0");
    for (std::size_t i = 1; i < published.size(); ++i)
        if (published[i] == "FreeFlag=0")
            EXPECT_EQ(published[i - 1], "FreeFlag=1") << "Send_Start counts only on a free copy";
}

} // namespace

// The protocol core on its own: every command word, the Yes/No values, the
// free flag's state table, the worked exchange between two cores, and
// messages handled from two threads at once.

#include "peer/core.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <future>
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

const std::uint32_t kAlpha = ::inet_addr("192.168.0.1");
const std::uint32_t kBeta = ::inet_addr("192.168.0.2");
const std::uint32_t kStranger = ::inet_addr("10.9.9.9");

// A started core named BETA at 192.168.0.2; introduced: ALPHA at
// 192.168.0.1 has introduced itself (and what that did is forgotten).
struct Started {
    TPeerCore core;
    explicit Started(bool introduced = true)
    {
        core.SetIdentity("BETA", "192.168.0.2");
        core.Start();
        if (introduced)
            core.Handle("ALPHA", kAlpha, "ItsMe=ALPHA|192.168.0.1");
    }
    TOutcome From(const char *msg, std::uint32_t address = kAlpha) { return core.Handle("ALPHA", address, msg); }
};

using Strings = std::vector<std::string>;
const std::string kCan = "Dizaruz_Can=BigFiles|NoTick|Hash|Space|Folders|Resume";

TEST(CoreTest, EveryCommandWordFromTheIntroducedPeer)
{
    const struct {
        const char *msg;
        Strings effects;
        Strings sent;
    } rows[] = {
        {"MSG|hello", {"Chat ALPHA|hello"}, {}},
        // The peer itself again: it has started anew and is introduced again.
        {"ItsMe=ALPHA|192.168.0.1",
         {"CanSend=0", "Introduced=1", "PeerName=ALPHA", "PeerAddress=192.168.0.1",
          "Hosts=ALPHA|ALPHA"},
         {"ItsMeToo=192.168.0.2", "I_Free=Yes", kCan}},
        {"ItsMeToo=192.168.0.1", {"Introduced=1", "PeerAddress=192.168.0.1", "Remember REMOTE/ComputerIP=192.168.0.1"},
         {kCan}},
        {"By=ALPHA|192.168.0.1",
         {"PeerName=", "PeerAddress=", "CanSend=0", "Introduced=0", "Free=1"},
         {}},
        {"You_Free", {}, {"I_Free=Yes"}},
        {"I_Free=Yes", {"CanSend=1"}, {"I_FreeToo=Yes"}},
        {"I_FreeToo=No", {"CanSend=0"}, {}},
        {"File_Start|a=b.txt", {"Pending=a=b.txt"}, {}},
        {"File_End|a.txt", {}, {}},
        {"Send_Start",
         {"Free=0", "Receiving=1", "CanSend=0", "Idle=0", "Pending=", "BatchStarted"},
         {}},
        {"Send_End", {"Free=1", "Receiving=0", "CanSend=1", "Idle=1", "Pending="}, {}},
        {"Dizaruz_Can=BigFiles", {}, {}},
        {"Unknown=x", {}, {}},
        {"msg|lower case", {}, {}},
        {"", {}, {}},
    };
    for (const auto &row : rows) {
        Started s;
        const TOutcome outcome = s.From(row.msg);
        EXPECT_EQ(Describe(outcome.effects), row.effects) << row.msg;
        EXPECT_EQ(Rendered(s.core, outcome), row.sent) << row.msg;
    }
}

// Anyone else is heard only when chatting; the peer's state stays.
TEST(CoreTest, AStrangerChangesNothing)
{
    for (const char *msg : {"ItsMe=EVIL|10.9.9.9", "ItsMeToo=10.9.9.9", "By=EVIL|10.9.9.9", "You_Free", "I_Free=Yes",
                            "I_FreeToo=Yes", "File_Start|evil.txt", "File_End|x", "Send_Start", "Send_End",
                            "Dizaruz_Can=BigFiles|NoTick"}) {
        Started s;
        const TOutcome outcome = s.From(msg, kStranger);
        EXPECT_TRUE(outcome.effects.empty()) << msg;
        EXPECT_TRUE(outcome.send.empty()) << msg;
        EXPECT_EQ(s.core.RemoteName(), "ALPHA") << msg;
        EXPECT_TRUE(s.core.FreeFlag()) << msg;
        EXPECT_EQ(s.core.Pending(), "") << msg;
        EXPECT_FALSE(s.core.StreamTarget(kStranger).allowed) << msg;
        EXPECT_TRUE(s.core.StreamTarget(kAlpha).allowed) << msg;
    }
    Started s;
    EXPECT_EQ(Describe(s.From("MSG|hi", kStranger).effects), Strings{"Chat ALPHA|hi"});
}

// Without a peer: anyone may introduce itself, nothing else counts, and no
// stream is taken.
TEST(CoreTest, WithoutAPeerOnlyAnIntroductionCounts)
{
    for (const char *msg : {"ItsMeToo=10.9.9.9", "By", "You_Free", "I_Free=Yes", "File_Start|x.txt", "Send_Start",
                            "Send_End", "Dizaruz_Can=NoTick"}) {
        Started s(false);
        EXPECT_TRUE(s.From(msg).effects.empty()) << msg;
        EXPECT_TRUE(s.From(msg).send.empty()) << msg;
        EXPECT_FALSE(s.core.StreamTarget(kAlpha).allowed) << msg;
    }
    Started s(false);
    const TOutcome intro = s.From("ItsMe=ALPHA|192.168.0.1");
    EXPECT_EQ(Describe(intro.effects),
              (Strings{"Introduced=1", "PeerName=ALPHA", "PeerAddress=192.168.0.1",
                       "Hosts=ALPHA|ALPHA"}));
    EXPECT_EQ(Rendered(s.core, intro), (Strings{"ItsMeToo=192.168.0.2", "I_Free=Yes", kCan}));
    // Its announced address counts as the peer's as well.
    EXPECT_TRUE(s.core.StreamTarget(::inet_addr("192.168.0.1")).allowed);
    EXPECT_EQ(Describe(s.From("Send_Start", ::inet_addr("192.168.0.1")).effects).size(), 6u);
}

TEST(CoreTest, TheConnectingSideKnowsItsPeerFromItsAnswer)
{
    Started s(false);
    s.core.Connect("beta.lan");
    // The answer may come from any address of the peer's.
    const std::uint32_t answer = ::inet_addr("10.0.0.7");
    EXPECT_EQ(Rendered(s.core, s.From("ItsMeToo=192.168.0.7", answer)), Strings{kCan});
    EXPECT_EQ(s.core.RemoteIP(), "192.168.0.7");
    for (const std::uint32_t peer : {answer, ::inet_addr("192.168.0.7")})
        EXPECT_TRUE(s.core.StreamTarget(peer).allowed);
    // A second answer from someone else is not taken.
    EXPECT_TRUE(s.From("ItsMeToo=10.9.9.9", kStranger).effects.empty());
    EXPECT_EQ(s.core.RemoteIP(), "192.168.0.7");
    // The addresses its name resolves to are its own too.
    s.core.NoteResolved("beta.lan", kBeta);
    EXPECT_TRUE(s.core.StreamTarget(kBeta).allowed);
    s.core.NoteResolved("other", kStranger);
    EXPECT_FALSE(s.core.StreamTarget(kStranger).allowed);
}

TEST(CoreTest, AConnectToAKnownAddressKeepsTheNameAndMarksItsAnswer)
{
    const struct {
        const char *host, *expected;
    } rows[] = {{"10.0.0.7", "10.0.0.7"}, {"", "BETA-PC"}};
    for (const auto &row : rows) {
        Started s(false);
        s.core.Connect("BETA-PC", row.host);
        EXPECT_EQ(s.core.Hosts().msgHost, row.expected);
        EXPECT_EQ(Describe(s.core.Connected("BETA-PC", row.host).effects)[1], "Remember REMOTE/ComputerName=BETA-PC");
        EXPECT_EQ(s.core.Hosts().strmHost, row.expected);
        // Only the answer to this copy's own introduction is marked.
        const TOutcome answer = s.From("ItsMeToo=10.0.0.7", ::inet_addr("10.0.0.7"));
        ASSERT_EQ(answer.effects.size(), 3u);
        EXPECT_TRUE(answer.effects[2].on) << Describe(answer.effects)[2];
        EXPECT_FALSE(s.From("ItsMeToo=10.0.0.7", ::inet_addr("10.0.0.7")).effects[2].on) << "a second answer";
    }
}

TEST(CoreTest, ThePeersNameFallsBackOnTheAddressItsIntroductionCameFrom)
{
    Started s(false);
    EXPECT_EQ(s.core.FallbackAddress("ALPHA"), "") << "no peer yet";
    s.From("ItsMe=ALPHA|192.168.7.7", ::inet_addr("10.0.0.5"));
    EXPECT_EQ(s.core.FallbackAddress("ALPHA"), "10.0.0.5");
    EXPECT_EQ(s.core.FallbackAddress("OTHER"), "");
    s.From("By", ::inet_addr("10.0.0.5"));
    EXPECT_EQ(s.core.FallbackAddress("ALPHA"), "");
}

TEST(CoreTest, CapabilitiesComeOnlyFromThePeerAndAreForgotten)
{
    using dz::peer::TCapabilities;
    Started s;
    s.From("Dizaruz_Can=NoTick|Future", kStranger);
    EXPECT_EQ(s.core.PeerCapabilities(), TCapabilities{});
    s.From("Dizaruz_Can=NoTick|Future");
    EXPECT_EQ(s.core.PeerCapabilities(), (TCapabilities{false, true}));
    s.From("Dizaruz_Can=BigFiles|NoTick");
    EXPECT_EQ(s.core.PeerCapabilities(), (TCapabilities{true, true}));
    for (const char *forget : {"ItsMe=ALPHA|192.168.0.1", "ItsMeToo=192.168.0.1", "By"}) {
        s.From("Dizaruz_Can=BigFiles|NoTick");
        s.From(forget);
        EXPECT_EQ(s.core.PeerCapabilities(), TCapabilities{}) << forget;
    }
}

TEST(CoreTest, ACapabilityMessageOfAnyLengthIsReadToItsEnd)
{
    // Fields are counted modulo 256: the words up to field 255 are read, and
    // the reading ends however many follow. Handled on a thread of its own and
    // given ten seconds, so that a reading that never ends fails the test
    // (the core is then left behind to the spinning thread).
    using dz::peer::TCapabilities;
    auto *s = new Started;
    std::string msg = "Dizaruz_Can=";
    for (int i = 0; i < 252; ++i)
        msg += "x|";
    msg += "NoTick"; // field 254
    for (int i = 0; i < 300; ++i)
        msg += "|y";
    std::promise<void> handled;
    std::future<void> done = handled.get_future();
    std::thread([s, msg, handled = std::move(handled)]() mutable {
        s->From(msg.c_str());
        handled.set_value();
    }).detach();
    ASSERT_EQ(done.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(s->core.PeerCapabilities(), (TCapabilities{false, true}));
    delete s;
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
        {"ItsMeToo=10.0.0.2|x", {"Introduced=1", "PeerAddress=10.0.0.2|x", "Remember REMOTE/ComputerIP=10.0.0.2|x"}},
        // File_Start reads '|' alone; missing fields are empty.
        {"File_Start|", {"Pending="}},
        {"File_Start| spaced name.txt ", {"Pending=spaced name.txt"}},
        {"ItsMe", {"Introduced=1", "PeerName=", "PeerAddress=", "Hosts=|"}},
    };
    for (const auto &row : rows) {
        Started s(std::string(row.msg) == "ItsMe" ? false : true);
        EXPECT_EQ(Describe(s.core.Handle("P", kAlpha, row.msg).effects), row.effects) << row.msg;
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
        const TOutcome outcome = s.core.Handle("P", kAlpha, std::string("I_FreeToo=") + row.value);
        EXPECT_EQ(Describe(outcome.effects), Strings{row.yes ? "CanSend=1" : "CanSend=0"}) << row.value;
    }
}

TEST(CoreTest, FreeFlagStateTable)
{
    const Strings bye = {"PeerName=", "PeerAddress=", "CanSend=0", "Introduced=0",
                         "Free=1"};
    const Strings end = {"Free=1", "Receiving=0", "CanSend=1", "Idle=1", "Pending="};
    const struct {
        bool freeBefore;
        const char *msg;
        bool freeAfter;
        Strings effects;
    } rows[] = {
        {true, "Send_Start", false,
         {"Free=0", "Receiving=1", "CanSend=0", "Idle=0", "Pending=", "BatchStarted"}},
        {true, "Send_End", true, end},
        {true, "By", true, bye},
        {false, "Send_End", true, [&] {
             Strings all = {"BatchEnded ALPHA"};
             all.insert(all.end(), end.begin(), end.end());
             return all;
         }()},
        // A goodbye in the middle of a batch ends the receiving state.
        {false, "By", true, [&] {
             Strings all = bye;
             all.insert(all.end(), {"Receiving=0", "Idle=1", "Pending="});
             return all;
         }()},
        {false, "Send_Start", false, {}},
    };
    for (const auto &row : rows) {
        Started s;
        if (!row.freeBefore)
            s.From("Send_Start");
        EXPECT_EQ(Describe(s.From(row.msg).effects), row.effects) << row.freeBefore << row.msg;
        EXPECT_EQ(s.core.FreeFlag(), row.freeAfter) << row.freeBefore << row.msg;
    }
}

TEST(CoreTest, WhileReceivingAnIntroductionIsRefusedAndEveryReportSaysNo)
{
    Started s(false);
    s.core.Connect("ALPHA");
    s.From("ItsMeToo=192.168.0.1");
    s.From("Send_Start");
    // Another name from the peer's address is not the peer starting anew.
    const TOutcome itsMe = s.From("ItsMe=GAMMA|1.2.3.4");
    EXPECT_EQ(Describe(itsMe.effects), Strings{"Introduced=1"});
    EXPECT_TRUE(itsMe.send.empty()) << "no reply to a refused introduction";
    EXPECT_EQ(Describe(s.From("ItsMeToo=1.2.3.4").effects), Strings{"Introduced=1"});
    EXPECT_EQ(Rendered(s.core, s.From("You_Free")), Strings{"I_Free=No"});
    EXPECT_EQ(Rendered(s.core, s.From("I_Free=Yes")), Strings{"I_FreeToo=No"});
}

TEST(CoreTest, ARepeatedIntroductionIsIgnoredUntilGoodbye)
{
    Started s;
    const TOutcome again = s.From("ItsMe=OTHER|2.2.2.2", kStranger);
    EXPECT_TRUE(again.send.empty());
    EXPECT_EQ(s.core.RemoteName(), "ALPHA");
    EXPECT_EQ(s.core.Hosts().msgHost, "ALPHA");
    s.From("By");
    EXPECT_EQ(Rendered(s.core, s.From("ItsMe=OTHER|2.2.2.2", kStranger)),
              (Strings{"ItsMeToo=192.168.0.2", "I_Free=Yes", kCan}));
    EXPECT_EQ(s.core.Hosts().strmHost, "OTHER");
    EXPECT_EQ(s.core.Hosts().strmFrom, "BETA");
}

// A peer that crashed in the middle of a batch and introduces itself again
// ends that batch as its goodbye would and is introduced anew; any other
// computer is still not heard.
TEST(CoreTest, ThePeerStartingAnewIsIntroducedAgain)
{
    const Strings batchEnded = {"Free=1", "Receiving=0", "Idle=1", "Pending="};
    const Strings introduced = {"Introduced=1", "PeerName=ALPHA", "PeerAddress=192.168.0.9",
                                "Hosts=ALPHA|ALPHA"};
    const struct {
        const char *connectTo; // this copy introduced itself to that name; nullptr: ALPHA introduced itself
        const char *msg;
        std::uint32_t from;
        bool accepted;
    } rows[] = {
        {nullptr, "ItsMe=ALPHA|192.168.0.9", kAlpha, true},
        {"alpha", "ItsMe=ALPHA|192.168.0.9", kAlpha, true},
        {"alpha", "ItsMe=ALPHA|192.168.0.9", ::inet_addr("192.168.0.7"), true}, // the address it announced
        {"192.168.0.1", "ItsMe=ALPHA|192.168.0.9", kAlpha, true},             // known by the typed address
        {"192.168.0.1", "ItsMe=ALPHA|192.168.0.9", ::inet_addr("192.168.0.7"), false},
        {nullptr, "ItsMe=ALPHA|192.168.0.9", kStranger, false}, // its name, another computer
        {nullptr, "ItsMe=GAMMA|192.168.0.9", kAlpha, false},    // its address, another name
        {"alpha", "ItsMe=GAMMA|192.168.0.9", kAlpha, false},
    };
    for (const auto &row : rows) {
        Started s(!row.connectTo);
        if (row.connectTo) {
            s.core.Connect(row.connectTo);
            s.From("ItsMeToo=192.168.0.7");
        }
        s.From("Send_Start");
        s.From("File_Start|half.bin");
        const TOutcome outcome = s.From(row.msg, row.from);
        const std::string what = std::string(row.msg) + " to " + (row.connectTo ? row.connectTo : "-");
        if (row.accepted) {
            Strings effects = {"CanSend=0"};
            effects.insert(effects.end(), batchEnded.begin(), batchEnded.end());
            effects.insert(effects.end(), introduced.begin(), introduced.end());
            EXPECT_EQ(Describe(outcome.effects), effects) << what;
            EXPECT_EQ(Rendered(s.core, outcome), (Strings{"ItsMeToo=192.168.0.2", "I_Free=Yes", kCan})) << what;
            EXPECT_EQ(s.core.RemoteIP(), "192.168.0.9") << what;
            // Its new batch is taken.
            EXPECT_EQ(Describe(s.From("Send_Start", row.from).effects).size(), 6u) << what;
        } else {
            EXPECT_TRUE(outcome.send.empty()) << what;
            EXPECT_FALSE(s.core.FreeFlag()) << what;
            EXPECT_EQ(s.core.Pending(), "half.bin") << what;
            EXPECT_TRUE(s.core.StreamTarget(row.connectTo ? ::inet_addr("192.168.0.7") : kAlpha).allowed) << what;
            EXPECT_FALSE(s.core.StreamTarget(::inet_addr("192.168.0.9")).allowed) << what;
        }
    }
}

TEST(CoreTest, TheFreeValueIsReadWhenTheMessageGoesOut)
{
    Started s(false);
    const TOutcome intro = s.From("ItsMe=ALPHA|1.1.1.1");
    ASSERT_EQ(intro.send.size(), 3u);
    // A batch starts between the decision and the send.
    s.From("Send_Start");
    EXPECT_EQ(s.core.Render(intro.send[1]), "I_Free=No");
}

TEST(CoreTest, TheUsersOwnActions)
{
    Started s(false);
    const TOutcome blank = s.core.Connect("");
    EXPECT_TRUE(blank.send.empty());
    EXPECT_EQ(Describe(blank.effects), Strings{"InvalidHost=0"});

    s.core.InvalidHost();
    EXPECT_EQ(s.core.InvalidHostCode(), 1);
    EXPECT_TRUE(s.core.Goodbye("ALPHA", "1.1.1.1").send.empty()) << "no goodbye after an invalid host";
    const TOutcome connect = s.core.Connect("ALPHA");
    EXPECT_EQ(s.core.InvalidHostCode(), 0);
    EXPECT_EQ(Rendered(s.core, connect), Strings{"ItsMe=BETA|192.168.0.2"});
    EXPECT_EQ(s.core.Hosts().msgHost, "ALPHA");
    EXPECT_EQ(s.core.Hosts().strmHost, "") << "the stream client follows only once the introduction went";
    EXPECT_EQ(Describe(s.core.Connected("ALPHA").effects),
              (Strings{"Hosts=ALPHA|ALPHA", "Remember REMOTE/ComputerName=ALPHA", "Remember REMOTE/ComputerIP="}));

    const struct {
        const char *name, *ip;
        bool goodbye;
    } closes[] = {{"ALPHA", "1.1.1.1", true}, {" ALPHA ", " 1.1.1.1 ", true}, {"", "1.1.1.1", false},
                  {"ALPHA", "  ", false}};
    for (const auto &c : closes)
        EXPECT_EQ(Rendered(s.core, s.core.Goodbye(c.name, c.ip)),
                  c.goodbye ? Strings{"By=BETA|192.168.0.2"} : Strings{})
            << c.name << "/" << c.ip;

    s.From("ItsMeToo=192.168.0.1");
    s.From("File_Start|x.txt");
    EXPECT_EQ(s.core.Pending(), "x.txt");
    const TOutcome run = s.core.StartRun();
    EXPECT_EQ(Rendered(s.core, run), Strings{"Send_Start"});
    EXPECT_EQ(s.core.Pending(), "") << "a run of its own empties this copy's pending name";
    EXPECT_TRUE(s.core.FreeFlag()) << "sending does not change the free flag";
    EXPECT_EQ(Rendered(s.core, s.core.EndRun(true)), Strings{"Send_End"});
    EXPECT_TRUE(s.core.EndRun(false).send.empty());

    // A chat line goes whole up to what the length field can frame, and is refused beyond.
    const std::string longest(TPeerCore::kMaxChatBytes, 'x');
    EXPECT_EQ(Rendered(s.core, s.core.Chat(longest)), Strings{"MSG|" + longest});
    const TOutcome tooLong = s.core.Chat(longest + "y");
    EXPECT_TRUE(tooLong.send.empty());
    EXPECT_EQ(Describe(tooLong.effects), Strings{"ChatTooLong=9996"});
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
            deliver(to, from, to.Handle(sender, &from == &a ? kAlpha : kBeta, text));
        }
    };
    deliver(a, b, a.Connect("BETA"));
    deliver(a, b, a.Connected("BETA"));
    EXPECT_EQ(wire, (Strings{"ALPHA: ItsMe=ALPHA|192.168.0.1", "BETA: ItsMeToo=192.168.0.2", "ALPHA: " + kCan,
                             "BETA: I_Free=Yes", "ALPHA: I_FreeToo=Yes", "BETA: " + kCan}));
    EXPECT_EQ(a.PeerCapabilities(), dz::peer::TPeerCore::OwnCapabilities());
    EXPECT_EQ(b.PeerCapabilities(), dz::peer::TPeerCore::OwnCapabilities());
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

    const TOutcome chat = b.Handle("ALPHA", kAlpha, "MSG|Привет");
    EXPECT_EQ(Describe(chat.effects), Strings{"Chat ALPHA|Привет"});

    wire.clear();
    deliver(a, b, a.StartRun());
    EXPECT_FALSE(b.FreeFlag());
    for (const char *name : {"a.txt", "b.txt"}) {
        deliver(a, b, {{{std::string("File_Start|") + name}}, {}});
        EXPECT_EQ(b.StreamTarget(kAlpha).pending, name);
        EXPECT_EQ(Describe(b.Stored("ALPHA", name).effects),
                  (Strings{std::string("Stored ALPHA|") + name, "Pending="}));
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
    core.Handle("ALPHA", kAlpha, "ItsMe=ALPHA|192.168.0.1");
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
            core.Handle("P", kAlpha, msg);
    };
    std::thread starts(hammer, "Send_Start");
    std::thread ends(hammer, "Send_End");
    go = true;
    starts.join();
    ends.join();
    // Each published free value must differ from... nothing, but the last
    // one published is the state the core ended in.
    ASSERT_FALSE(published.empty());
    EXPECT_EQ(published.back(), core.FreeFlag() ? "Free=1" : "Free=0");
    for (std::size_t i = 1; i < published.size(); ++i)
        if (published[i] == "Free=0") {
            EXPECT_EQ(published[i - 1], "Free=1") << "Send_Start counts only on a free copy";
        }
}

} // namespace

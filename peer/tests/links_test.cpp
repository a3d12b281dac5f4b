// Two copies with keys: they pin each other at their first meeting and talk
// only over TLS after it; what claims a pinned name without its key is
// refused and told, and a copy without keys still talks in clear.
#include "peer/links.h"
#include "peer/sendrun.h"
#include "peer/tests/sessiontools.h"

#include "net/tests/testutil.h"
#include "net/tls.h"
#include "services/nmmsg.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <atomic>
#include <fstream>
#include <future>
#include <iterator>
#include <vector>

namespace {

using dz::peer::TLinkGuard;
using dz::peer::TLinkState;
using dz::peer::TPinNotice;
using dz::test::PumpUntil;

struct TKeyedSide {
    explicit TKeyedSide(const std::string &name, const std::string &folder, bool keyed = true)
        : identity(dz::net::TIdentity::Generate(name)),
          links(keyed ? std::make_shared<TLinkGuard>(identity, settings) : nullptr), side(name, folder, false, links)
    {
    }
    std::string Link(const std::string &peer, TLinkState state) const
    {
        return "Link " + peer + "=" + std::to_string(static_cast<int>(state));
    }
    std::string Notice(const std::string &peer, TPinNotice notice) const
    {
        return "PinNotice " + peer + "=" + std::to_string(static_cast<int>(notice));
    }
    dz::TSettingsStore settings; // in memory
    dz::net::TIdentity identity;
    std::shared_ptr<TLinkGuard> links;
    dz::test::TSessionSide side;
};

class LinksTest : public dz::test::TFolderTest {
protected:
    // a introduces itself to b and both wait until they can send.
    void Introduce(TKeyedSide &a, TKeyedSide &b)
    {
        a.side.SendsTo(b.side);
        b.side.SendsTo(a.side);
        auto &core = a.side.session->Core();
        a.side.session->Send(core.Connect("127.0.0.2"), [&](const std::string &) { core.Connected("127.0.0.2"); });
        ASSERT_TRUE(PumpUntil([&] { return a.side.Shows("CanSend=1") && b.side.Shows("CanSend=1"); }));
    }
    void Chat(TKeyedSide &from, const std::string &text)
    {
        std::string error = "pending";
        from.side.session->Send(from.side.session->Core().Chat(text), [&](const std::string &e) { error = e; });
        ASSERT_TRUE(PumpUntil([&] { return error != "pending"; }));
        EXPECT_EQ(error, "");
    }
};

// One message to port from a client of its own, over TLS when it has a key
// (expecting serverKey): the reply, or "" when refused.
std::string Post(int port, const std::string &from, const std::string &text, const dz::net::TIdentity *key = nullptr,
                 const std::string &serverKey = {})
{
    auto reply = std::async(std::launch::async, [&] {
        dz::services::TNMMsg client;
        client.PumpWhileWaiting = false;
        client.IdleLimit = 5000;
        client.Host = "127.0.0.1";
        client.Port = port;
        client.FromName = from;
        if (key) {
            client.TlsContext = std::make_shared<dz::net::TTlsContext>(dz::net::TTlsContext::Role::Client, key);
            client.TlsFingerprint = serverKey;
        }
        try {
            return client.PostText(text);
        } catch (...) {
            return std::string();
        }
    });
    EXPECT_TRUE(PumpUntil([&] { return reply.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 10000));
    return reply.get();
}

TEST_F(LinksTest, PinnedCopiesTalkEncryptedAndRefuseWhatLacksTheKey)
{
    TKeyedSide a("127.0.0.1", Folder("a"));
    TKeyedSide b("127.0.0.2", Folder("b"));
    Introduce(a, b);
    // Both pinned the other's key at once, and show it not yet confirmed.
    ASSERT_TRUE(PumpUntil([&] {
        return a.side.Shows(a.Link("127.0.0.2", TLinkState::EncryptedUnconfirmed)) &&
               b.side.Shows(b.Link("127.0.0.1", TLinkState::EncryptedUnconfirmed));
    }));
    const auto aPin = a.links->Pins().Find("127.0.0.2");
    const auto bPin = b.links->Pins().Find("127.0.0.1");
    ASSERT_TRUE(aPin && bPin);
    EXPECT_EQ(aPin->fingerprint, b.identity.Fingerprint());
    EXPECT_EQ(bPin->fingerprint, a.identity.Fingerprint());
    EXPECT_EQ(a.links->CodeFor(b.identity.Fingerprint()), b.links->CodeFor(a.identity.Fingerprint()));

    Chat(a, "over the link");
    ASSERT_TRUE(PumpUntil([&] { return b.side.Shows("Chat 127.0.0.1|over the link"); }));
    const std::string src = Folder("src") + "note.txt";
    std::ofstream(src, std::ios::binary) << "contents";
    std::string stepError = "pending";
    dz::peer::RunStep(a.side.session->Outbox(), a.side.session->Streams(), a.side.session->Core(), src,
                      [&](const std::string &e) { stepError = e; });
    ASSERT_TRUE(PumpUntil([&] { return stepError != "pending"; }, 10000));
    EXPECT_EQ(stepError, "");
    std::ifstream in(Folder("b") + "note.txt", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "contents");

    const dz::net::TIdentity stranger = dz::net::TIdentity::Generate("MALLORY");
    const std::string bKey = b.identity.Fingerprint();
    struct Case {
        const char *what;
        std::string from, text;
        const dz::net::TIdentity *key;
        TPinNotice notice;
        std::string about;
    } cases[] = {
        {"clear chat under the pinned name", "127.0.0.1", "MSG|forged", nullptr, TPinNotice::ClearClaimsPinnedName,
         "127.0.0.1"},
        {"clear introduction from its address, naming it", "MALLORY", "ItsMe=127.0.0.1|127.0.0.9", nullptr,
         TPinNotice::ClearFromPinnedAddress, "MALLORY"},
        {"the pinned name with another key", "127.0.0.1", "MSG|forged", &stranger, TPinNotice::KeyChanged,
         "127.0.0.1"},
        {"the pinned peer without its offer", "127.0.0.1", "Dizaruz_Can=BigFiles|NoTick", &a.identity,
         TPinNotice::Downgrade, "127.0.0.1"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Post(b.side.MsgPort(), c.from, c.text, c.key, bKey), "");
        EXPECT_TRUE(PumpUntil([&] { return b.side.Shows(b.Notice(c.about, c.notice)); }));
    }
    EXPECT_FALSE(b.side.Shows("Chat 127.0.0.1|forged"));
    EXPECT_EQ(b.side.session->Core().RemoteName(), "127.0.0.1");
    EXPECT_TRUE(b.side.session->Core().PeerCapabilities().hash);

    // The user takes the new key after comparing codes: it speaks for the name now.
    b.side.session->AcceptNewKey("127.0.0.1");
    const auto newPin = b.links->Pins().Find("127.0.0.1");
    ASSERT_TRUE(newPin);
    EXPECT_EQ(newPin->fingerprint, stranger.Fingerprint());
    EXPECT_EQ(Post(b.side.MsgPort(), "127.0.0.1", "MSG|new key", &stranger, bKey), "OK              ");
    EXPECT_TRUE(PumpUntil([&] { return b.side.Shows("Chat 127.0.0.1|new key"); }));
    // Forgotten: the next meeting pins anew.
    b.side.session->ForgetKey("127.0.0.1");
    EXPECT_FALSE(b.links->Pins().Find("127.0.0.1"));
}

// The orders in which a first meeting's messages can arrive, since each
// comes on a connection of its own: whatever the order, a key the window is
// told of is pinned by then, and what the peer sent in clear before it had
// this copy's key still passes.
TEST(LinkGuard, TellsTheWindowOfNoKeyItHasNotPinned)
{
    const dz::net::TIdentity own = dz::net::TIdentity::Generate("OWN");
    const dz::net::TIdentity peer = dz::net::TIdentity::Generate("PEER");
    const std::string key = peer.Fingerprint();
    const std::string offer = "Dizaruz_Can=BigFiles|" + dz::peer::TlsCapabilityWords(key);
    const std::uint32_t address = htonl(0x7f000002);
    struct Step {
        std::string link, text;
        bool pass;
    };
    const struct {
        const char *order;
        std::vector<Step> steps;
    } orders[] = {
        {"offer in clear, then TLS", {{"", "ItsMeToo=127.0.0.2", true}, {"", offer, true}, {key, "I_Free=1", true}}},
        {"TLS before the offer", {{"", "ItsMeToo=127.0.0.2", true}, {key, "I_Free=1", true}, {key, offer, true}}},
        {"TLS first, then clear", {{key, "I_Free=1", true}, {"", "MSG|clear", false}}},
        {"a stream over TLS first", {{key, "", true}, {key, offer, true}}},
        {"clear from the new peer's address under a name pinned before",
         {{"", offer, true}, {"", "MSG|from the new peer", true}, {"", "MSG|as OLD", false}}},
    };
    for (const auto &o : orders) {
        SCOPED_TRACE(o.order);
        dz::TSettingsStore settings;
        TLinkGuard guard(own, settings);
        guard.Pins().Pin("OLD", std::string(64, 'c'), "10.0.0.9");
        for (const Step &step : o.steps) {
            SCOPED_TRACE(step.text);
            const std::string from = step.text == "MSG|as OLD" ? "OLD" : "PEER";
            const TLinkGuard::TJudgement j = guard.Judge(from, address, step.link, step.text);
            EXPECT_EQ(j.pass, step.pass);
            for (const dz::peer::TEffect &fact : j.effects) {
                if (fact.kind != dz::peer::TEffect::Kind::Link || fact.number == static_cast<int>(TLinkState::Clear))
                    continue;
                const auto pin = guard.Pins().Find(fact.text);
                ASSERT_TRUE(pin) << fact.text;
                EXPECT_EQ(pin->fingerprint, fact.key);
            }
        }
        const auto pin = guard.Pins().Find("PEER");
        ASSERT_TRUE(pin);
        EXPECT_EQ(pin->fingerprint, key);
    }
}

TEST_F(LinksTest, AProxyWithItsOwnKeyBetweenPinnedCopiesIsRefusedOnBothSides)
{
    TKeyedSide a("127.0.0.1", Folder("a"));
    TKeyedSide b("127.0.0.2", Folder("b"));
    Introduce(a, b);
    ASSERT_TRUE(PumpUntil([&] { return b.side.Shows(b.Link("127.0.0.1", TLinkState::EncryptedUnconfirmed)); }));
    // Each side pins when the other's offer arrives: wait for both.
    ASSERT_TRUE(PumpUntil([&] { return a.side.Shows(a.Link("127.0.0.2", TLinkState::EncryptedUnconfirmed)); }));
    Chat(a, "direct"); // the pins are in force on both sides from here
    ASSERT_TRUE(PumpUntil([&] { return b.side.Shows("Chat 127.0.0.1|direct"); }));

    // The proxy ends a's links with its own key and passes on what it gets,
    // under a's name, with that key again.
    const dz::net::TIdentity proxyKey = dz::net::TIdentity::Generate("PROXY");
    std::atomic<int> relayed {0};
    dz::services::TNMMSGServ proxy;
    proxy.Port = 0;
    proxy.TlsContext = std::make_shared<dz::net::TTlsContext>(dz::net::TTlsContext::Role::Server, &proxyKey);
    proxy.TlsAccepts = [](const std::string &, std::uint32_t) { return true; };
    proxy.OnMSG = [&](dz::services::TNMMSGServ *, const std::string &, const std::string &) { ++relayed; };
    proxy.Loaded();
    a.side.session->Outbox().Client().Port = proxy.LocalPort();
    std::string error = "pending";
    a.side.session->Send(a.side.session->Core().Chat("through the proxy"), [&](const std::string &e) { error = e; });
    ASSERT_TRUE(PumpUntil([&] { return error != "pending"; }));
    EXPECT_EQ(error.rfind("Peer certificate refused: " + proxyKey.Fingerprint(), 0), 0u) << error;
    EXPECT_EQ(relayed.load(), 0);
    EXPECT_EQ(Post(b.side.MsgPort(), "127.0.0.1", "MSG|through the proxy", &proxyKey, b.identity.Fingerprint()), "");
    EXPECT_TRUE(PumpUntil([&] { return b.side.Shows(b.Notice("127.0.0.1", TPinNotice::KeyChanged)); }));
    EXPECT_FALSE(b.side.Shows("Chat 127.0.0.1|through the proxy"));
    proxy.StopServing(std::chrono::seconds(2));
}

TEST_F(LinksTest, ACopyWithoutKeysTalksInClearAndIsShownSo)
{
    TKeyedSide a("127.0.0.1", Folder("a"), false);
    TKeyedSide b("127.0.0.2", Folder("b"));
    Introduce(a, b);
    ASSERT_TRUE(PumpUntil([&] { return b.side.Shows(b.Link("127.0.0.1", TLinkState::Clear)); }));
    EXPECT_TRUE(b.side.Shows(b.Notice("127.0.0.1", TPinNotice::OlderCopy)));
    Chat(a, "in clear");
    EXPECT_TRUE(PumpUntil([&] { return b.side.Shows("Chat 127.0.0.1|in clear"); }));
    Chat(b, "back");
    EXPECT_TRUE(PumpUntil([&] { return a.side.Shows("Chat 127.0.0.2|back"); }));
    EXPECT_FALSE(b.links->Pins().Find("127.0.0.1"));
}

} // namespace

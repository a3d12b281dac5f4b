// The protocol core driven by a sequence of operations decoded from the
// input: messages from a few addresses with any sender name and text, the
// user's own actions, received streams, and Render of everything it sends.
// A window is kept from the effects alone and must always show the core's
// state; a message from an address that is not the peer's changes only
// what the protocol lets a stranger change.
//
// Input: operations one after another, each a letter and its arguments.
// A text runs to the next newline; a backslash takes the byte after it as
// it is ("\\\n" is a newline inside a text). An address is one byte: '0'
// none, '1' 192.168.0.1, '2' 192.168.0.2 (this copy), '3' 10.0.0.3, any other
// byte 10.1.0.<byte>. A byte that is no operation is skipped.
//   H addr sender message   a message (Handle)
//   C remote                the connect button      K remote  the introduction went
//   S                       a send run begins        E byte    it ends (odd: tell the peer)
//   G name ip               the goodbye              V         the name did not resolve
//   X                       start-up                 A         a stream is arriving
//   T addr                  a stream's target        D sender name  a stream was stored
//   N notice                a stream was not stored  R host addr    a name resolved
//   F host                  where the peer is        O folder  the receive folder
//   I name ip               this computer's name and address

#include "check.h"
#include "peer/core.h"
#include "util/text.h"

#include <arpa/inet.h>

#include <exception>
#include <string>
#include <vector>

namespace {

using dz::peer::TEffect;
using dz::peer::TOutcome;
using dz::peer::TOutgoing;
using dz::peer::TPeerCore;
using Kind = TEffect::Kind;

class TReader {
public:
    TReader(const std::uint8_t *data, std::size_t size) : data_(data), size_(size) {}
    bool More() const { return pos_ < size_; }
    std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    std::string Text()
    {
        std::string text;
        while (pos_ < size_) {
            const char c = static_cast<char>(data_[pos_++]);
            if (c == '\n')
                break;
            if (c == '\\' && pos_ < size_)
                text += static_cast<char>(data_[pos_++]);
            else
                text += c;
        }
        return text;
    }
    std::uint32_t Address()
    {
        const std::uint8_t b = Byte();
        switch (b) {
        case '0': return 0;
        case '1': return ::inet_addr("192.168.0.1");
        case '2': return ::inet_addr("192.168.0.2");
        case '3': return ::inet_addr("10.0.0.3");
        default: return htonl(0x0A010000u | b);
        }
    }

private:
    const std::uint8_t *data_;
    std::size_t size_, pos_ = 0;
};

bool OneLine(const std::string &s)
{
    for (const char c : s)
        if (static_cast<unsigned char>(c) < 32 || c == 127)
            return false;
    return true;
}

// What the window shows, kept from the effects alone.
struct TWindow {
    std::string remoteName, remoteIP, pending, msgServHost, strmServHost;
    bool free = true;

    void Apply(const std::vector<TEffect> &effects)
    {
        for (const TEffect &e : effects) {
            switch (e.kind) {
            case Kind::PeerName: remoteName = e.text; break;
            case Kind::PeerAddress: remoteIP = e.text; break;
            case Kind::Pending: pending = e.text; break;
            case Kind::Free: free = e.on; break;
            case Kind::Hosts: msgServHost = e.text, strmServHost = e.value; break;
            case Kind::Chat:
                FUZZ_CHECK(OneLine(e.text) && OneLine(e.value));
                FUZZ_CHECK(!e.value.empty() && e.value.front() != ' ' && e.value.back() != ' ');
                break;
            case Kind::Stored:
            case Kind::BatchEnded: FUZZ_CHECK(OneLine(e.text)); break;
            case Kind::InvalidHost: FUZZ_CHECK(e.number == 0 || e.number == 1); break;
            default: break;
            }
        }
    }
    void Matches(const TPeerCore &core) const
    {
        FUZZ_CHECK(remoteName == core.RemoteName());
        FUZZ_CHECK(remoteIP == core.RemoteIP());
        FUZZ_CHECK(pending == core.Pending());
        FUZZ_CHECK(free == core.FreeFlag());
        const dz::peer::THosts hosts = core.Hosts();
        FUZZ_CHECK(msgServHost == hosts.msgServHost && strmServHost == hosts.strmServHost);
    }
};

// The part of the state that a stranger must not change.
struct TGuarded {
    bool free, introduced;
    std::string remoteName, remoteIP, pending;
    dz::peer::TCapabilities caps;
    dz::peer::THosts hosts;

    explicit TGuarded(const TPeerCore &core)
        : free(core.FreeFlag()), introduced(core.Introduced()), remoteName(core.RemoteName()),
          remoteIP(core.RemoteIP()), pending(core.Pending()), caps(core.PeerCapabilities()), hosts(core.Hosts())
    {
    }
    bool operator==(const TGuarded &o) const
    {
        return free == o.free && introduced == o.introduced && remoteName == o.remoteName &&
               remoteIP == o.remoteIP && pending == o.pending && caps == o.caps &&
               hosts.msgHost == o.hosts.msgHost && hosts.msgServHost == o.hosts.msgServHost &&
               hosts.strmHost == o.hosts.strmHost && hosts.strmServHost == o.hosts.strmServHost &&
               hosts.msgFrom == o.hosts.msgFrom && hosts.strmFrom == o.hosts.strmFrom;
    }
};

struct TRun {
    TPeerCore core;
    TWindow window;
    std::vector<std::vector<TEffect>> published;
    // This copy's own introduction went and its answer has not come: the
    // first ItsMeToo from anywhere then counts.
    bool awaitingAnswer = false;

    TRun()
    {
        core.SetPublisher([this](std::vector<TEffect> effects) { published.push_back(std::move(effects)); });
        core.SetIdentity("BETA", "192.168.0.2");
        Take(core.Start(), true);
    }

    // Checks an outcome and shows it; published: the operation hands its
    // effects to the publisher as well.
    void Take(const TOutcome &outcome, bool publishes)
    {
        if (publishes) {
            FUZZ_CHECK(published.size() == 1 && published.front() == outcome.effects);
        } else {
            FUZZ_CHECK(published.empty());
        }
        published.clear();
        for (const TOutgoing &m : outcome.send) {
            const std::string text = core.Render(m);
            const std::string yesNo = core.FreeFlag() ? "Yes" : "No";
            switch (m.value) {
            case TOutgoing::Value::None: FUZZ_CHECK(text == m.text); break;
            case TOutgoing::Value::IFree: FUZZ_CHECK(text == "I_Free=" + yesNo); break;
            case TOutgoing::Value::IFreeToo: FUZZ_CHECK(text == "I_FreeToo=" + yesNo); break;
            }
        }
        for (const TEffect &e : outcome.effects)
            if (e.kind == Kind::PeerAddress)
                awaitingAnswer = false; // every way that ends the wait shows the address
        window.Apply(outcome.effects);
        window.Matches(core);
        FUZZ_CHECK(core.InvalidHostCode() == 0 || core.InvalidHostCode() == 1);
    }

    void Handle(std::uint32_t from, const std::string &sender, const std::string &msg)
    {
        const bool fromPeer = core.StreamTarget(from).allowed;
        const TGuarded before(core);
        const bool awaiting = awaitingAnswer;
        const TOutcome outcome = core.Handle(sender, from, msg);
        const std::string command = dz::ExtractField(dz::DelimEqBar(), msg, 1);
        const TGuarded after(core);
        if (!fromPeer && command != "MSG" && command != "ItsMe" && command != "ItsMeToo") {
            FUZZ_CHECK(outcome.effects.empty() && outcome.send.empty());
            FUZZ_CHECK(after == before);
        }
        if (!fromPeer && before.introduced && !awaiting) {
            // A stranger beside the peer: only a chat line.
            for (const TEffect &e : outcome.effects)
                FUZZ_CHECK(e.kind == Kind::Chat);
            FUZZ_CHECK(outcome.send.empty());
            FUZZ_CHECK(after == before);
        }
        // The peer introducing itself again has started anew: taken, it ends its batch.
        const bool restarted = fromPeer && before.introduced && command == "ItsMe" && !outcome.send.empty();
        if (restarted)
            FUZZ_CHECK(after.free && after.introduced);
        if (!before.free && !(fromPeer && command == "By") && !restarted) {
            // A batch on its way keeps its peer.
            FUZZ_CHECK(after.remoteName == before.remoteName && after.remoteIP == before.remoteIP);
        }
        if (fromPeer && command == "By")
            FUZZ_CHECK(!after.introduced && after.remoteName.empty() && after.remoteIP.empty() && after.free);
        Take(outcome, true);
    }

    void Step(TReader &in)
    {
        switch (in.Byte()) {
        case 'H': {
            const std::uint32_t from = in.Address();
            const std::string sender = in.Text();
            Handle(from, sender, in.Text());
            break;
        }
        case 'C': {
            const std::string remote = dz::TrimText(in.Text());
            const TOutcome outcome = core.Connect(remote);
            if (!remote.empty())
                awaitingAnswer = true;
            FUZZ_CHECK(core.InvalidHostCode() == 0);
            Take(outcome, true);
            break;
        }
        case 'K': Take(core.Connected(in.Text()), true); break;
        case 'S': Take(core.StartRun(), true); break;
        case 'E': Take(core.EndRun(in.Byte() & 1), true); break;
        case 'G': {
            const std::string name = in.Text();
            const TOutcome outcome = core.Goodbye(name, in.Text());
            FUZZ_CHECK(outcome.effects.empty() && outcome.send.size() <= 1);
            Take(outcome, false);
            break;
        }
        case 'V': Take(core.InvalidHost(), true); break;
        case 'X': Take(core.Start(), true); break;
        case 'A': Take(core.Arriving(), true); break;
        case 'T': {
            const auto target = core.StreamTarget(in.Address());
            FUZZ_CHECK(!target.allowed || core.Introduced());
            FUZZ_CHECK(target.pending == core.Pending() && target.folder == core.ReceiveFolder());
            break;
        }
        case 'D': {
            const std::string sender = in.Text();
            Take(core.Stored(sender, in.Text()), true);
            FUZZ_CHECK(core.Pending().empty());
            break;
        }
        case 'N': Take(core.NotStored(in.Text()), true); break;
        case 'R': {
            const std::string host = in.Text();
            const bool introduced = core.Introduced();
            core.NoteResolved(host, in.Address());
            FUZZ_CHECK(core.Introduced() == introduced);
            break;
        }
        case 'F': {
            const std::string where = core.FallbackAddress(in.Text());
            if (!where.empty()) {
                in_addr a {};
                FUZZ_CHECK(::inet_pton(AF_INET, where.c_str(), &a) == 1);
                FUZZ_CHECK(core.StreamTarget(a.s_addr).allowed);
            }
            break;
        }
        case 'O': core.SetReceiveFolder(in.Text()); break;
        case 'I': {
            const std::string name = in.Text();
            core.SetIdentity(name, in.Text());
            break;
        }
        default: break;
        }
        FUZZ_CHECK(published.empty());
        window.Matches(core);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    try {
        TRun run;
        TReader in(data, size);
        // Every step reads at least a byte.
        for (std::size_t steps = 0; in.More() && steps < size; ++steps)
            run.Step(in);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "exception out of the core: %s\n", e.what());
        std::abort();
    }
    return 0;
}

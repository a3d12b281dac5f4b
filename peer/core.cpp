#include "core.h"

#include "peer/pins.h"
#include "util/text.h"

#include <algorithm>
#include <arpa/inet.h>

#include <utility>

namespace dz::peer {
namespace {

using Kind = TEffect::Kind;

TEffect Text(Kind kind, std::string text)
{
    TEffect e {kind, std::move(text)};
    return e;
}

TEffect Switch(Kind kind, bool on)
{
    TEffect e {kind};
    e.on = on;
    return e;
}

TEffect Ini(std::string section, std::string key, std::string value)
{
    TEffect e {Kind::Remember, std::move(section), std::move(key), std::move(value)};
    return e;
}

TEffect Named(Kind kind, std::string who, std::string what)
{
    TEffect e {Kind::Chat, std::move(who), {}, std::move(what)};
    e.kind = kind;
    return e;
}

TEffect Number(Kind kind, int number)
{
    TEffect e {kind};
    e.number = number;
    return e;
}

// A dotted IPv4 address in network order, 0 for anything else.
std::uint32_t DottedAddress(const std::string &text)
{
    in_addr a {};
    return ::inet_pton(AF_INET, text.c_str(), &a) == 1 ? a.s_addr : 0;
}

bool IsYes(const std::string &msg)
{
    return UpperText(ExtractField(DelimEqBar(), msg, 2)) == "YES";
}

} // namespace

std::string TEffect::Describe() const
{
    const auto flag = [this](const char *name) { return std::string(name) + (on ? "=1" : "=0"); };
    switch (kind) {
    case Kind::PeerName:
        return "PeerName=" + text;
    case Kind::PeerAddress:
        return "PeerAddress=" + text;
    case Kind::Introduced:
        return flag("Introduced");
    case Kind::CanSend:
        return flag("CanSend");
    case Kind::Idle:
        return flag("Idle");
    case Kind::Receiving:
        return flag("Receiving");
    case Kind::Sending:
        return flag("Sending");
    case Kind::Pending:
        return "Pending=" + text;
    case Kind::BatchStarted:
        return "BatchStarted";
    case Kind::Chat:
        return "Chat " + text + "|" + value;
    case Kind::Remember:
        return "Remember " + text + "/" + key + "=" + value;
    case Kind::Stored:
        return "Stored " + text + "|" + value;
    case Kind::Free:
        return flag("Free");
    case Kind::InvalidHost:
        return "InvalidHost=" + std::to_string(number);
    case Kind::Hosts:
        return "Hosts=" + text + "|" + value;
    case Kind::Notice:
        return "Notice " + text;
    case Kind::BatchEnded:
        return "BatchEnded " + text;
    case Kind::Arriving:
        return "Arriving";
    case Kind::ChatTooLong:
        return "ChatTooLong=" + std::to_string(number);
    case Kind::Link:
        return "Link " + text + "=" + std::to_string(number);
    case Kind::PinNotice:
        return "PinNotice " + text + "=" + std::to_string(number);
    }
    return "?";
}

void TPeerCore::SetPublisher(TPublisher publisher)
{
    std::lock_guard lock(mutex_);
    publisher_ = std::move(publisher);
}

TOutcome TPeerCore::Finish(TOutcome outcome)
{
    if (publisher_)
        publisher_(outcome.effects);
    return outcome;
}

void TPeerCore::SetIdentity(const std::string &name, const std::string &ip)
{
    std::lock_guard lock(mutex_);
    thisName_ = name;
    thisIP_ = ip;
}

TOutcome TPeerCore::Start()
{
    std::lock_guard lock(mutex_);
    invalidHostCode_ = 0;
    free_ = true;
    return Finish({{},
                   {Number(Kind::InvalidHost, 0), Switch(Kind::Free, true), Switch(Kind::CanSend, false),
                    Switch(Kind::Introduced, false)}});
}

void TPeerCore::SetReceiveFolder(const std::string &folder)
{
    std::lock_guard lock(mutex_);
    receiveFolder_ = folder;
}

std::string TPeerCore::ReceiveFolder() const
{
    std::lock_guard lock(mutex_);
    return receiveFolder_;
}

TOutcome TPeerCore::Connect(const std::string &remote, const std::string &host)
{
    std::lock_guard lock(mutex_);
    invalidHostCode_ = 0;
    TOutcome outcome;
    outcome.effects = {Number(Kind::InvalidHost, 0)};
    if (remote.empty())
        return Finish(std::move(outcome));
    hosts_.msgFrom = thisName_;
    hosts_.msgHost = host.empty() ? remote : host;
    hosts_.msgServHost = hosts_.msgHost;
    awaitingToo_ = true;
    outcome.effects.push_back(ServerHosts());
    outcome.send = {{"ItsMe=" + thisName_ + "|" + thisIP_}};
    return Finish(std::move(outcome));
}

TOutcome TPeerCore::Connected(const std::string &remote, const std::string &host)
{
    std::lock_guard lock(mutex_);
    hosts_.strmFrom = thisName_;
    hosts_.strmHost = host.empty() ? remote : host;
    hosts_.strmServHost = hosts_.strmHost;
    // The address may still be empty or an older one; ItsMeToo writes it again.
    return Finish({{},
                   {ServerHosts(), Ini("REMOTE", "ComputerName", remote), Ini("REMOTE", "ComputerIP", remoteIP_)}});
}

TEffect TPeerCore::ServerHosts() const
{
    TEffect e {Kind::Hosts, hosts_.msgServHost};
    e.value = hosts_.strmServHost;
    return e;
}

TOutgoing TPeerCore::ChatMessage(const std::string &text)
{
    return {"MSG|" + text};
}

TOutcome TPeerCore::Chat(const std::string &text)
{
    std::lock_guard lock(mutex_);
    if (text.size() > static_cast<std::size_t>(kMaxChatBytes))
        return Finish({{}, {Number(Kind::ChatTooLong, static_cast<int>(text.size()))}});
    return Finish({{ChatMessage(text)}, {}});
}

TOutcome TPeerCore::StartRun()
{
    std::lock_guard lock(mutex_);
    pending_.clear();
    return Finish({{{"Send_Start"}},
                   {Switch(Kind::Sending, true), Switch(Kind::CanSend, false), Switch(Kind::Idle, false),
                    Text(Kind::Pending, "")}});
}

TOutcome TPeerCore::EndRun(bool tellPeer)
{
    std::lock_guard lock(mutex_);
    TOutcome outcome;
    if (tellPeer)
        outcome.send = {{"Send_End"}};
    outcome.effects = {Switch(Kind::CanSend, true), Switch(Kind::Idle, true),
                       Switch(Kind::Sending, false)};
    return Finish(std::move(outcome));
}

TOutcome TPeerCore::Goodbye(const std::string &nameBox, const std::string &ipBox)
{
    std::lock_guard lock(mutex_);
    TOutcome outcome;
    if (invalidHostCode_ > 0 || TrimText(nameBox).empty() || TrimText(ipBox).empty())
        return outcome;
    outcome.send = {{"By=" + thisName_ + "|" + thisIP_}};
    return outcome;
}

TOutcome TPeerCore::InvalidHost()
{
    std::lock_guard lock(mutex_);
    invalidHostCode_ = 1;
    return Finish({{}, {Number(Kind::InvalidHost, 1)}});
}

TOutgoing TPeerCore::FreeReport(TOutgoing::Value which) const
{
    return {{}, which};
}

std::string TPeerCore::Render(const TOutgoing &message) const
{
    if (message.value == TOutgoing::Value::None)
        return message.text;
    std::lock_guard lock(mutex_);
    const char *word = message.value == TOutgoing::Value::IFree ? "I_Free=" : "I_FreeToo=";
    return std::string(word) + (free_ ? "Yes" : "No");
}

void TPeerCore::SetAllHostsLocked(const std::string &host)
{
    hosts_.msgHost = hosts_.msgServHost = hosts_.strmHost = hosts_.strmServHost = host;
}

void TPeerCore::SetAllHosts(const std::string &host)
{
    std::lock_guard lock(mutex_);
    SetAllHostsLocked(host);
}

bool TPeerCore::FromPeer(std::uint32_t address) const
{
    return address != 0 &&
           std::find(peerAddresses_.begin(), peerAddresses_.end(), address) != peerAddresses_.end();
}

void TPeerCore::AddPeerAddress(std::uint32_t address)
{
    if (address != 0 && !FromPeer(address))
        peerAddresses_.push_back(address);
}

void TPeerCore::ForgetPeer()
{
    peerAddresses_.clear();
    awaitingToo_ = false;
    peerCaps_ = {};
}

std::string TPeerCore::CapabilityMessage(const TCapabilities &caps)
{
    std::string text = std::string(kCapabilityWord) + "=";
    if (caps.bigFiles)
        text += "BigFiles|";
    if (caps.noTick)
        text += "NoTick|";
    if (caps.hash)
        text += "Hash|";
    if (caps.space)
        text += "Space|";
    if (caps.folders)
        text += "Folders|";
    if (caps.resume)
        text += "Resume|";
    if (!caps.tls.empty())
        text += TlsCapabilityWords(caps.tls) + "|";
    text.pop_back();
    return text;
}

TOutcome TPeerCore::Handle(const std::string &sFrom, std::uint32_t fromAddress, const std::string &sMsg)
{
    std::lock_guard lock(mutex_);
    TOutcome out;
    auto &fx = out.effects;
    // The command word alone selects what happens.
    const std::string command = ExtractField(DelimEqBar(), sMsg, 1);
    const bool introduced = !peerAddresses_.empty();
    const bool fromPeer = FromPeer(fromAddress);
    TCapabilities own = OwnCapabilities();
    own.tls = ownKey_;
    const TOutgoing tellWhatWeCan {CapabilityMessage(own)};
    if (command == "MSG") {
        // Chat lines from anyone are shown; one message makes one line.
        const std::string text = TrimText(OneLine(ExtractField(DelimEqBar(), sMsg, 2)));
        if (!text.empty())
            fx.push_back(Named(Kind::Chat, OneLine(sFrom), text));
    } else if (command == "ItsMe") {
        // Anyone may introduce itself to a copy without a peer; with a peer,
        // only the peer is heard. The peer itself (its name, from one of its
        // addresses) introducing itself again has started anew, typically
        // after a crash that sent no goodbye: it is let go as its goodbye
        // would, so that the introduction below is taken.
        const std::string name = ExtractField(DelimEqBar(), sMsg, 2);
        const auto isPeersName = [&name](const std::string &known) {
            return !known.empty() && UpperText(known) == UpperText(name);
        };
        // A peer this copy knows only by the address the user typed has no
        // name to compare: that address must be the one it comes from.
        const bool knownByAddress = remoteName_.empty() && DottedAddress(hosts_.msgHost) == fromAddress;
        if (fromPeer && (isPeersName(remoteName_) || isPeersName(hosts_.msgHost) || knownByAddress)) {
            remoteName_.clear();
            remoteIP_.clear();
            ForgetPeer();
            fx.push_back(Switch(Kind::CanSend, false));
            if (!free_) {
                free_ = true;
                pending_.clear();
                fx.insert(fx.end(), {Switch(Kind::Free, true), Switch(Kind::Receiving, false),
                                     Switch(Kind::Idle, true), Text(Kind::Pending, "")});
            }
        }
        if (!introduced || fromPeer) {
            fx.push_back(Switch(Kind::Introduced, true));
            peerCaps_ = {};
            if (free_ && remoteIP_.empty()) {
                remoteName_ = ExtractField(DelimEqBar(), sMsg, 2);
                remoteIP_ = ExtractField(DelimEqBar(), sMsg, 3);
                ForgetPeer();
                AddPeerAddress(fromAddress);
                AddPeerAddress(DottedAddress(remoteIP_));
                hosts_.msgFrom = hosts_.strmFrom = thisName_;
                // The hosts take the name from the message, not the address.
                SetAllHostsLocked(remoteName_);
                fx.push_back(Text(Kind::PeerName, remoteName_));
                fx.push_back(Text(Kind::PeerAddress, remoteIP_));
                fx.push_back(ServerHosts());
                out.send = {{"ItsMeToo=" + thisIP_}, FreeReport(TOutgoing::Value::IFree), tellWhatWeCan};
            }
        }
    } else if (command == "ItsMeToo") {
        // The answer to this copy's own introduction, or the peer's.
        if (fromPeer || awaitingToo_) {
            fx.push_back(Switch(Kind::Introduced, true));
            peerCaps_ = {};
            if (free_) {
                // '=' alone delimits: a bar belongs to the address.
                remoteIP_ = ExtractField(DelimEq(), sMsg, 2);
                // Marked when it answers this copy's own introduction.
                TEffect remember = Ini("REMOTE", "ComputerIP", remoteIP_);
                remember.on = awaitingToo_;
                if (!fromPeer)
                    ForgetPeer();
                awaitingToo_ = false;
                AddPeerAddress(fromAddress);
                AddPeerAddress(DottedAddress(remoteIP_));
                fx.push_back(Text(Kind::PeerAddress, remoteIP_));
                fx.push_back(std::move(remember));
                out.send = {tellWhatWeCan};
            }
        }
    } else if (!fromPeer) {
        // Everything else that changes the state counts only from the peer.
    } else if (command == "By") {
        remoteName_.clear();
        remoteIP_.clear();
        ForgetPeer();
        // A goodbye in the middle of a batch ends the receiving state
        // completely; nothing else would ever end it.
        const bool wasReceiving = !free_;
        free_ = true;
        fx = {Text(Kind::PeerName, ""), Text(Kind::PeerAddress, ""), Switch(Kind::CanSend, false),
              Switch(Kind::Introduced, false), Switch(Kind::Free, true)};
        if (wasReceiving) {
            pending_.clear();
            fx.push_back(Switch(Kind::Receiving, false));
            fx.push_back(Switch(Kind::Idle, true));
            fx.push_back(Text(Kind::Pending, ""));
        }
    } else if (command == "You_Free") {
        out.send = {FreeReport(TOutgoing::Value::IFree)};
    } else if (command == "I_Free" || command == "I_FreeToo") {
        fx.push_back(Switch(Kind::CanSend, IsYes(sMsg)));
        if (command == "I_Free")
            out.send = {FreeReport(TOutgoing::Value::IFreeToo)};
    } else if (command == "File_Start") {
        // '|' alone delimits: a name may hold '='.
        pending_ = ExtractField(DelimBar(), sMsg, 2);
        pendingInFolder_ = false;
        fx.push_back(Text(Kind::Pending, pending_));
    } else if (command == kFolderFileWord) {
        // The rest of the message is the path, whatever it holds; it is
        // checked where it is used.
        const std::size_t bar = sMsg.find('|');
        pending_ = bar == std::string::npos ? std::string() : sMsg.substr(bar + 1);
        pendingInFolder_ = true;
        fx.push_back(Text(Kind::Pending, pending_));
    } else if (command == "Send_Start") {
        if (free_) {
            free_ = false;
            pending_.clear();
            fx = {Switch(Kind::Free, false), Switch(Kind::Receiving, true), Switch(Kind::CanSend, false),
                  Switch(Kind::Idle, false), Text(Kind::Pending, ""), TEffect {Kind::BatchStarted}};
        }
    } else if (command == "Send_End") {
        if (!free_)
            fx.push_back(Text(Kind::BatchEnded, OneLine(sFrom)));
        free_ = true;
        pending_.clear();
        fx.insert(fx.end(), {Switch(Kind::Free, true), Switch(Kind::Receiving, false), Switch(Kind::CanSend, true),
                             Switch(Kind::Idle, true), Text(Kind::Pending, "")});
    } else if (command == kCapabilityWord) {
        // ExtractField counts fields modulo 256: field 256 is the whole text
        // again, so a message of 254 words or more would never end the loop.
        for (int n = 2; n <= 255; ++n) {
            const std::string word = ExtractField(DelimEqBar(), sMsg, n);
            if (word.empty())
                break;
            if (word == "BigFiles")
                peerCaps_.bigFiles = true;
            else if (word == "NoTick")
                peerCaps_.noTick = true;
            else if (word == "Hash")
                peerCaps_.hash = true;
            else if (word == "Space")
                peerCaps_.space = true;
            else if (word == "Folders")
                peerCaps_.folders = true;
            else if (word == "Resume")
                peerCaps_.resume = true;
        }
        if (const TTlsCapability offer = ParseTlsCapability(sMsg); offer.Offered())
            peerCaps_.tls = offer.fingerprint;
    }
    // File_End and any other word: nothing.
    return Finish(std::move(out));
}

void TPeerCore::NoteResolved(const std::string &host, std::uint32_t address)
{
    std::lock_guard lock(mutex_);
    if (!peerAddresses_.empty() && !host.empty() && host == hosts_.msgHost)
        AddPeerAddress(address);
}

std::string TPeerCore::FallbackAddress(const std::string &host) const
{
    std::lock_guard lock(mutex_);
    const bool peersName = !host.empty() && (host == remoteName_ || host == hosts_.msgHost || host == hosts_.strmHost);
    if (!peersName || peerAddresses_.empty())
        return {};
    in_addr a {};
    a.s_addr = peerAddresses_.front();
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

TPeerCore::TStreamTarget TPeerCore::StreamTarget(std::uint32_t fromAddress) const
{
    std::lock_guard lock(mutex_);
    return {FromPeer(fromAddress), pending_, receiveFolder_, pendingInFolder_};
}

TOutcome TPeerCore::Stored(const std::string &sFrom, const std::string &name, const std::string &path,
                           bool verified)
{
    std::lock_guard lock(mutex_);
    pending_.clear();
    TEffect stored = Named(Kind::Stored, OneLine(sFrom), name);
    stored.key = path;
    stored.on = verified;
    return Finish({{}, {stored, Text(Kind::Pending, "")}});
}

TOutcome TPeerCore::NotStored(const std::string &notice)
{
    std::lock_guard lock(mutex_);
    TOutcome outcome;
    if (!notice.empty())
        outcome.effects = {Text(Kind::Notice, notice)};
    return Finish(std::move(outcome));
}

TOutcome TPeerCore::StoredInFolder()
{
    std::lock_guard lock(mutex_);
    pending_.clear();
    return Finish({{}, {Text(Kind::Pending, "")}});
}

bool TPeerCore::ReceivingFrom(std::uint32_t fromAddress) const
{
    std::lock_guard lock(mutex_);
    return FromPeer(fromAddress) && !free_;
}

TOutcome TPeerCore::Arriving()
{
    std::lock_guard lock(mutex_);
    return Finish({{}, {TEffect {Kind::Arriving}}});
}

THosts TPeerCore::Hosts() const
{
    std::lock_guard lock(mutex_);
    return hosts_;
}

bool TPeerCore::FreeFlag() const
{
    std::lock_guard lock(mutex_);
    return free_;
}

std::int32_t TPeerCore::InvalidHostCode() const
{
    std::lock_guard lock(mutex_);
    return invalidHostCode_;
}

std::string TPeerCore::RemoteName() const
{
    std::lock_guard lock(mutex_);
    return remoteName_;
}

std::string TPeerCore::RemoteIP() const
{
    std::lock_guard lock(mutex_);
    return remoteIP_;
}

TCapabilities TPeerCore::PeerCapabilities() const
{
    std::lock_guard lock(mutex_);
    return peerCaps_;
}

void TPeerCore::SetOwnKey(const std::string &fingerprint)
{
    std::lock_guard lock(mutex_);
    ownKey_ = fingerprint;
}

TOutcome TPeerCore::Tell(std::vector<TEffect> effects)
{
    std::lock_guard lock(mutex_);
    return Finish({{}, std::move(effects)});
}

bool TPeerCore::Introduced() const
{
    std::lock_guard lock(mutex_);
    return !peerAddresses_.empty();
}

std::string TPeerCore::Pending() const
{
    std::lock_guard lock(mutex_);
    return pending_;
}

} // namespace dz::peer

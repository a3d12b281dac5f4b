#pragma once
// TPeerCore: the state and the rules of the peer control protocol, without
// widgets and without sockets. It is the one place that knows whether this
// copy is free, who the peer is, under which host and sender names the four
// network components work, and which file the next received stream is.
//
// Every operation takes the core's lock, changes the state and returns a
// plain value: the messages to send to the peer, in order, and the effects
// the window must show, in order. The same effects are also handed, still
// under the lock, to the publisher (when one is set), so whoever shows them
// sees them in exactly the order in which the core made them, whatever
// thread made them.
//
// Texts are Windows-1251 byte strings, as on the wire.

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace dz::peer {

// One fact about the peer or this copy, as the core decided it. Whoever
// shows the session (a window, a command line) decides how it looks.
struct TEffect {
    enum class Kind {
        PeerName,     // the peer's name (`text`); empty: no peer
        PeerAddress,  // the peer's address as it announced it (`text`); empty: none
        Introduced,   // `on`: a peer is introduced and can be talked to
        CanSend,      // `on`: a send run may start (the peer is free and nothing goes either way)
        Idle,         // `on`: no batch goes either way
        Receiving,    // `on`: a batch from the peer is coming in
        Sending,      // `on`: this copy's send run is under way
        Pending,      // the name (`text`) of the file expected next; empty: none
        BatchStarted, // the peer began a batch: what was received before is not part of it
        Chat,         // a chat line from `text` saying `value`
        Remember,     // kept for the next start: section `text`, key `key`, value `value`;
                      // `on`: the peer's answer to this copy's own introduction
        Stored,       // a file from `text` stored under the name `value`, at the UTF-8 path `key`
        Free,         // `on`: this copy is not receiving a batch
        InvalidHost,  // `number`: 1 once the message client reported an unknown host
        Hosts,        // the servers' Host: message server `text`, stream server `value`
                      // (the clients take theirs from the core when they send)
        Notice,       // a failure of work received from the peer (UTF-8 `text`), shown without stopping later work
        BatchEnded,   // the peer `text` ended a batch this copy received (before Free says so)
        Arriving,     // a file from the peer has begun to arrive
        ChatTooLong,  // a chat line of `number` bytes was not sent: at most kMaxChatBytes go in one message
        Link,         // the link with the peer `text`: `number` a TLinkState, `key` its key ("" in clear),
                      // `value` the verification code both users compare ("" in clear)
        PinNotice,    // a message from `text` was refused or told about: `number` a TPinNotice, `key` the
                      // key it came with (a new key the user may accept), `value` that key's code
    };
    Kind kind;
    std::string text;
    std::string key;
    std::string value;
    bool on = false;
    int number = 0;

    bool operator==(const TEffect &) const = default;
    // A short text for tests and diagnostics, e.g. "CanSend=1", "Chat ALPHA|hi".
    std::string Describe() const;
};

// A message for the peer. I_Free and I_FreeToo carry FreeFlag as it is when
// the message goes out, not when it was decided.
struct TOutgoing {
    enum class Value { None, IFree, IFreeToo };
    std::string text; // sent as it is when value is None
    Value value = Value::None;

    bool operator==(const TOutgoing &) const = default;
};

// What a copy of ours tells its peer beyond the original protocol, in a
// message with a command word of its own that an original copy ignores:
// "Dizaruz_Can=" and the capabilities, joined by '|'.
struct TCapabilities {
    bool bigFiles = false; // takes streams above 2,147,483,647 bytes
    bool noTick = false;   // takes a batch without a tick between the files
    bool hash = false;     // sends and takes each stream's XXH3-128 after its bytes
    bool space = false;    // answers a stream's header with a go-ahead or a refusal for want of space
    bool folders = false;  // takes folders as trees, with names in UTF-8
    bool resume = false;   // keeps the part of a cut stream and continues it when the same file comes again
    std::string tls;       // encrypts: the fingerprint of its certificate (64 hex digits); "" when not
    bool operator==(const TCapabilities &) const = default;
};
inline constexpr const char *kCapabilityWord = "Dizaruz_Can";
// A folder between two copies with Folders, each word followed by '|' and a
// UTF-8 path: the folder begins (its name), a folder inside it, a file
// inside it (instead of File_Start; its stream follows), the folder ends.
inline constexpr const char *kFolderStartWord = "Dizaruz_Folder";
inline constexpr const char *kFolderDirWord = "Dizaruz_Dir";
inline constexpr const char *kFolderFileWord = "Dizaruz_File";
inline constexpr const char *kFolderEndWord = "Dizaruz_FolderEnd";

struct TOutcome {
    std::vector<TOutgoing> send;
    std::vector<TEffect> effects;
};

// The host and sender names of the four network components.
struct THosts {
    std::string msgHost, msgServHost, strmHost, strmServHost;
    std::string msgFrom, strmFrom;
};

class TPeerCore {
public:
    using TPublisher = std::function<void(std::vector<TEffect> effects)>;

    TPeerCore() = default;
    TPeerCore(const TPeerCore &) = delete;
    TPeerCore &operator=(const TPeerCore &) = delete;

    // Receives every outcome's effects under the lock (also empty ones, one
    // call per operation that changed or answered something). Set it before
    // any other thread calls in.
    void SetPublisher(TPublisher publisher);

    // --- This copy ------------------------------------------------------
    // This computer's name and address, as shown and as sent.
    void SetIdentity(const std::string &name, const std::string &ip);
    // Start-up: free, no invalid host; chat and send off.
    TOutcome Start();
    // The receive folder the user chose (a UTF-8 path).
    void SetReceiveFolder(const std::string &folder);
    std::string ReceiveFolder() const;

    // --- The user's own actions ----------------------------------------
    // The connect button with the trimmed remote name: resets the
    // invalid-host code; for a name, points the message client at host (a
    // known address; empty: the name itself) and returns the introduction.
    TOutcome Connect(const std::string &remote, const std::string &host = {});
    // The introduction was delivered: the stream client follows (to host,
    // or the name), and the name and the address known now are stored.
    TOutcome Connected(const std::string &remote, const std::string &host = {});
    // "MSG|" + text.
    static TOutgoing ChatMessage(const std::string &text);
    // The longest chat text: "MSG|" and it must fit the message service's
    // four-digit length field.
    static constexpr int kMaxChatBytes = 9999 - 4;
    // A chat line the user typed (trimmed, not empty): the message, or,
    // for a text too long to frame, nothing to send and ChatTooLong.
    TOutcome Chat(const std::string &text);
    // A send run begins: the indicators, and "Send_Start".
    TOutcome StartRun();
    // A send run is over (its last step, a failed step, or a cancel):
    // "Send_End" when the peer should hear it, and the buttons back.
    TOutcome EndRun(bool tellPeer);
    // The goodbye for the remote boxes as they stand (trimmed), or nothing
    // when either is empty or an invalid host was reported since the last
    // connect.
    TOutcome Goodbye(const std::string &nameBox, const std::string &ipBox);
    // The message client could not resolve its host.
    TOutcome InvalidHost();

    // --- The peer's messages -------------------------------------------
    // One message, as the message server read it. fromAddress: the IPv4
    // address (network order) it came from. Chat lines count from anyone;
    // an introduction from anyone while no peer is introduced; everything
    // else only from the introduced peer (and the first ItsMeToo after this
    // copy's own ItsMe). The peer's addresses: those its introduction came
    // from and announced, and those its name resolved to.
    TOutcome Handle(const std::string &sFrom, std::uint32_t fromAddress, const std::string &sMsg);
    // The message client reached host at address: when host is the
    // introduced peer's, the address is the peer's too.
    void NoteResolved(const std::string &host, std::uint32_t address);
    // Where to reach host when its name does not resolve: when it is the
    // introduced peer's name, the address its introduction came from (or
    // the one it announced), as dotted text; else empty.
    std::string FallbackAddress(const std::string &host) const;
    // The text of a message as it goes out now.
    std::string Render(const TOutgoing &message) const;

    // --- Received streams ----------------------------------------------
    // The pending name and the receive folder for a stream that has arrived.
    struct TStreamTarget {
        bool allowed = false; // from the introduced peer
        std::string pending;
        std::string folder;
        bool inFolder = false; // pending is a UTF-8 path inside the folder coming in
    };
    TStreamTarget StreamTarget(std::uint32_t fromAddress) const;
    // A stream was stored under name (Windows-1251) at path (UTF-8): listed,
    // and the pending name emptied. verified: its hash matched the sender's.
    TOutcome Stored(const std::string &sFrom, const std::string &name, const std::string &path = {},
                    bool verified = false);
    // A stream was not stored; notice: what the user is told ("" for nothing).
    TOutcome NotStored(const std::string &notice);
    // A stream from the peer has begun to arrive (the window starts showing it).
    TOutcome Arriving();
    // A file of a folder coming in was stored: the pending name emptied, no row.
    TOutcome StoredInFolder();
    // Whether a message from fromAddress comes from the introduced peer
    // while its batch comes in (what a folder's messages need).
    bool ReceivingFrom(std::uint32_t fromAddress) const;

    // --- Encrypted links -------------------------------------------------
    // This copy's key: its capability message offers TLS with it from now
    // on (without one, it offers none, as an older copy).
    void SetOwnKey(const std::string &fingerprint);
    // Publishes facts decided outside the core (the links' states and
    // refusals) in order with the core's own.
    TOutcome Tell(std::vector<TEffect> effects);

    // --- State, for the senders and for tests ---------------------------
    THosts Hosts() const;
    // What a connect and an accepted introduction do to the hosts; tests use
    // it to point a window at a peer without an introduction.
    void SetAllHosts(const std::string &host);
    bool FreeFlag() const;
    std::int32_t InvalidHostCode() const;
    std::string RemoteName() const;
    std::string RemoteIP() const;
    std::string Pending() const;
    // What the introduced peer has told of itself (nothing from an original).
    TCapabilities PeerCapabilities() const;
    // What this copy tells its peer.
    static TCapabilities OwnCapabilities() { return {true, true, true, true, true, true, {}}; }
    static std::string CapabilityMessage(const TCapabilities &caps);
    bool Introduced() const;

private:
    // Publishes and returns; call with the lock held.
    TOutcome Finish(TOutcome outcome);
    void SetAllHostsLocked(const std::string &host);
    TOutgoing FreeReport(TOutgoing::Value which) const;
    TEffect ServerHosts() const;
    bool FromPeer(std::uint32_t address) const;
    void AddPeerAddress(std::uint32_t address);
    void ForgetPeer();

    mutable std::mutex mutex_;
    TPublisher publisher_;

    std::string thisName_, thisIP_;
    bool free_ = true;
    std::int32_t invalidHostCode_ = 0;
    std::string remoteName_, remoteIP_;
    THosts hosts_;
    std::string pending_;
    bool pendingInFolder_ = false;
    std::string receiveFolder_;
    // Who the peer is: where its introduction came from and what it
    // announced. Empty: no peer.
    std::vector<std::uint32_t> peerAddresses_;
    bool awaitingToo_ = false; // this copy's ItsMe went; its answer introduces the peer
    TCapabilities peerCaps_;
    std::string ownKey_;
};

} // namespace dz::peer

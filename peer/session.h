#pragma once
// TPeerSession: one copy's side of the conversation with its peer, without
// widgets. It owns the four network components, the protocol core, the
// ordered hand-over of effects to the owner thread, and the two senders,
// and wires them together:
//
// - A message is handled by the core on its connection thread, when its
//   reply is about to go out; the core's effects are queued for the owner
//   thread in that order, and the messages it wants sent go to the outbox
//   only once the reply has been written.
// - A stream is stored on its connection thread under the pending name the
//   core holds; the window only lists it.
//
// Make it, and call everything but the documented exceptions, on the owner
// thread (the GUI's). The servers listen once Listen() has run.
//
// Closing: Shutdown (or the destructor) stops the work in one order: the
// senders (no invalid-host call after it returns, nothing more goes out,
// what is in flight is cut), then the servers (a connection thread still
// inside a handler or a disk write is cut loose), then the hand-over to the
// owner thread. A connection thread cut loose owns what it touches (the
// core, the configuration, its file), never the session, and nothing it
// does reaches the owner thread any more.

#include "peer/core.h"
#include "peer/orderedwork.h"
#include "peer/senders.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace dz::net {
class TPowersock;
class TStream;
} // namespace dz::net
namespace dz::services {
class IStreamSink;
class TNMMSGServ;
class TNMStrmServ;
} // namespace dz::services

namespace dz::peer {

class TLinkGuard;

// The file coming in from the peer, as far as it has come.
struct TIncoming {
    bool active = false;
    std::string name;       // as announced (Windows-1251)
    std::int64_t done = 0;  // bytes received
    std::int64_t total = 0; // bytes announced
};

struct TSessionConfig {
    std::uint16_t msgPort = 574;  // message service: listened on, and sent to on the peer
    std::uint16_t strmPort = 573; // stream service
    std::string fallbackFolder;   // ends in '/'; where a file goes when the receive folder is gone
    std::vector<std::string> ownFiles; // the program's own files: never replaced by a received one
    // Encrypted links with copies that offer them, and the pins; null: none
    // (this copy then offers nothing and talks in clear, as an older one).
    std::shared_ptr<TLinkGuard> links;
};

class TPeerSession {
public:
    // apply: shows one outcome's effects, on the owner thread, in order.
    // runner: how queued work is run there (the window's error report).
    using TApply = std::function<void(const std::vector<TEffect> &effects)>;
    TPeerSession(TSessionConfig config, TApply apply, TOrderedWork::TRunner runner = {});
    // Shutdown(kCloseWait) if no one did, then frees everything.
    ~TPeerSession();
    TPeerSession(const TPeerSession &) = delete;
    TPeerSession &operator=(const TPeerSession &) = delete;

    // Starts both servers listening on their ports.
    void Listen();

    // How long the destructor's Shutdown waits at most.
    static constexpr std::chrono::milliseconds kCloseWait {1500};
    // Owner thread, while everything the handlers touch still lives (the
    // window calls it first thing when it closes, before it lets go of
    // the session): stops the senders, the servers and the hand-over, in
    // that order, waiting at most limit in all (a name look-up or a connect
    // that hangs is left behind at once). After it returns the
    // invalid-host handlers are never called again, no effect is applied
    // and no done callback runs; the session may only be destroyed (Core(),
    // Config() and Incoming() still answer). True when every thread let go
    // in time. Only the first call does anything.
    bool Shutdown(std::chrono::milliseconds limit = kCloseWait);

    TPeerCore &Core();
    TOrderedWork &Work() { return *work_; }
    TOutbox &Outbox() { return *outbox_; }
    TStreamSender &Streams() { return *streams_; }
    services::TNMMSGServ &MsgServer() { return *msgServer_; }
    services::TNMStrmServ &StrmServer() { return *strmServer_; }
    const TSessionConfig &Config() const;

    // Sends what an outcome of the user's own action asks for; done on the
    // owner thread (also right away, with "", when there is nothing to send).
    void Send(const TOutcome &outcome, TDone done = {});

    // The user's actions on the pin of the peer `name` (owner thread): the
    // link facts that follow are published as the core's.
    void ConfirmKey(const std::string &name);
    void ForgetKey(const std::string &name);
    void AcceptNewKey(const std::string &name);

    // Any thread: the file coming in now, if any.
    TIncoming Incoming() const;
    // Refuses the file coming in now: the peer gets a reset and no reply,
    // nothing is stored.
    void CancelIncoming();

    // Any thread: whether the file stored last under name (Windows-1251, as
    // the Stored fact lists it) came with a hash that matched its bytes.
    // Set before the fact is published, so the owner thread may ask when it
    // shows the row.
    bool Verified(const std::string &name) const;

    // What the receiving user is told about a stream dropped for its name.
    static std::string DroppedNotice(const std::string &sFrom, const std::string &announced);
    // ... and about one whose hash did not match its bytes.
    static std::string MismatchNotice(const std::string &sFrom, const std::string &announced);
    // ... and about a path of a folder (UTF-8) refused, and why.
    static std::string PathNotice(const std::string &sFrom, const std::string &path, const std::string &why);

private:
    class TIncomingFile;
    // What the connection threads share with the session, and keep after it
    // has gone.
    struct TShared;
    // On a stream's connection thread, when its name and size have come:
    // where its bytes go, or nothing to refuse it.
    // Encrypts the servers and senders with config.links (constructor).
    void WireLinks();
    // On a connection thread, before the core sees a message (sMsg) or a
    // stream (sMsg ""): whether the pins let it pass; what the user is told
    // is published.
    static bool Admit(TShared &shared, net::TPowersock &connection, const std::string &sFrom,
                      const std::string &sMsg);
    // On a message's connection thread, before the core handles it: the
    // folder coming in is made, grown or ended on the disk.
    static void FolderMessage(TShared &shared, std::uint32_t from, const std::string &sFrom, const std::string &sMsg);
    static std::unique_ptr<services::IStreamSink> StartStream(const std::shared_ptr<TShared> &shared,
                                                              services::TNMStrmServ &connection,
                                                              const std::string &sFrom, std::int64_t size);

    std::shared_ptr<TShared> shared_;
    std::unique_ptr<TOrderedWork> work_;
    std::unique_ptr<TOutbox> outbox_;
    std::unique_ptr<TStreamSender> streams_;
    std::unique_ptr<services::TNMMSGServ> msgServer_;
    std::unique_ptr<services::TNMStrmServ> strmServer_;
    bool shutDown_ = false;
};

} // namespace dz::peer

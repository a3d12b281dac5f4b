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

#include "peer/core.h"
#include "peer/orderedwork.h"
#include "peer/senders.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace dz::net {
class TStream;
} // namespace dz::net
namespace dz::services {
class IStreamSink;
class TNMMSGServ;
class TNMStrmServ;
} // namespace dz::services

namespace dz::peer {

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
};

class TPeerSession {
public:
    // apply: shows one outcome's effects, on the owner thread, in order.
    // runner: how queued work is run there (the window's error report).
    using TApply = std::function<void(const std::vector<TEffect> &effects)>;
    TPeerSession(TSessionConfig config, TApply apply, TOrderedWork::TRunner runner = {});
    // Stops the servers first (no connection thread hands over anything
    // more), then the queue, then cuts the senders.
    ~TPeerSession();
    TPeerSession(const TPeerSession &) = delete;
    TPeerSession &operator=(const TPeerSession &) = delete;

    // Starts both servers listening on their ports.
    void Listen();

    TPeerCore &Core() { return core_; }
    TOrderedWork &Work() { return *work_; }
    TOutbox &Outbox() { return *outbox_; }
    TStreamSender &Streams() { return *streams_; }
    services::TNMMSGServ &MsgServer() { return *msgServer_; }
    services::TNMStrmServ &StrmServer() { return *strmServer_; }
    const TSessionConfig &Config() const { return config_; }

    // Sends what an outcome of the user's own action asks for; done on the
    // owner thread (also right away, with "", when there is nothing to send).
    void Send(const TOutcome &outcome, TDone done = {});

    // Any thread: the file coming in now, if any.
    TIncoming Incoming() const;
    // Refuses the file coming in now: the peer gets a reset and no reply,
    // nothing is stored.
    void CancelIncoming();

    // What the receiving user is told about a stream dropped for its name.
    static std::string DroppedNotice(const std::string &sFrom, const std::string &announced);

private:
    class TIncomingFile;
    // On a stream's connection thread, when its name and size have come:
    // where its bytes go, or nothing to refuse it.
    std::unique_ptr<services::IStreamSink> StartStream(services::TNMStrmServ &connection, const std::string &sFrom,
                                                       std::int64_t size);

    TSessionConfig config_;
    TApply apply_;
    TPeerCore core_;
    std::unique_ptr<TOrderedWork> work_;
    std::unique_ptr<TOutbox> outbox_;
    std::unique_ptr<TStreamSender> streams_;
    std::unique_ptr<services::TNMMSGServ> msgServer_;
    std::unique_ptr<services::TNMStrmServ> strmServer_;
    // The file coming in (the newest, when a stranger's overlaps the peer's).
    mutable std::mutex incomingMutex_;
    TIncomingFile *incoming_ = nullptr;
};

} // namespace dz::peer

#pragma once
// The two ways out to the peer, each on a thread of its own:
//
// TOutbox sends messages through the one message client. Batches go out in
// the order in which they were posted, one connection at a time (a copy of
// the original listens on its message port with a queue of one), and a
// failed message drops the rest of its batch.
//
// TStreamSender sends one file at a time through the stream client, while
// the message client stays free for chat.
//
// Both report to the thread that made them (the GUI's): a done callback runs
// there, when that thread pumps, with "" or the error's text. Nobody ever
// waits for a send inside a pump.

#include "peer/core.h"
#include "peer/folders.h"
#include "peer/worker.h"

#include "net/notify.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace dz::net {
class TFileStream;
class TPowersock;
class TTlsContext;
} // namespace dz::net
namespace dz::services {
class TNMMsg;
class TNMStrm;
} // namespace dz::services

namespace dz::peer {

using TDone = std::function<void(const std::string &error)>;

// What the senders share: the worker, the way back to the owner thread,
// the cut of what is in flight, and the repair of a name that does not
// resolve.
class TSenderBase {
public:
    // Called (on the sender's thread) when a host can be reached by no
    // means: not by its name, nor as "<name>.local", nor at the address its
    // introduction came from. Leave Handled false to give up. Setting or
    // clearing it waits for a call in progress: once it returns, the old
    // handler is never called again. So the handler must not wait for the
    // thread that sets it.
    void SetInvalidHostHandler(std::function<void(bool &Handled)> handler);

    // Owner thread: clears the invalid-host handler (as above), drops what
    // waits, cuts what is in flight and waits at most limit for the thread
    // to let go; true when it did. No done or opened callback runs after
    // it, and work posted afterwards only fails. The destructor does this
    // too, if no one did.
    bool Stop(std::chrono::milliseconds limit);

    // Owner thread, before the first exchange: every exchange with a host
    // for which keyFor gives a key is encrypted and takes only that key.
    void UseTls(std::shared_ptr<net::TTlsContext> context, std::function<std::string(const std::string &host)> keyFor);

protected:
    explicit TSenderBase(const char *name);
    virtual ~TSenderBase();

    // The client's OnInvalidHost: repairs its Host where the system's
    // resolver knows "<name>.local" (a look-up a cancel ends) or the core
    // knows the peer's address.
    void RepairHost(TPeerCore &core, net::TPowersock &client, bool &Handled);

    // Sets up a client made on the worker: it waits on its socket (the
    // worker has no event loop) and repairs the peer's host where it can.
    template <class Client>
    void Configure(Client &client, TPeerCore &core, std::uint16_t port)
    {
        client.Port = port;
        client.ReportLevel = 0;
        client.PumpWhileWaiting = false;
        client.OnInvalidHost = [this, &core, &client](bool &Handled) { RepairHost(core, client, Handled); };
    }

    // On the worker, once the client's Host is set: its TLS for this exchange.
    template <class Client>
    void Encrypt(Client &client)
    {
        client.TlsContext = tlsContext_;
        client.TlsFingerprint = keyFor_ ? keyFor_(client.Host) : std::string();
    }

    // Runs done(error) on the owner thread, unless the sender is gone by then.
    void Report(const TDone &done, const std::string &error);
    // Cancels the client's exchange until the worker is idle (bounded).
    bool CutInFlight(const std::function<void()> &cancel, std::chrono::milliseconds limit);
    // Cancels the client's exchange in flight (Stop repeats it).
    virtual void CancelInFlight() = 0;

    TWorker worker_;
    dz::net::ThreadRef owner_;
    std::atomic<bool> cancel_{false};
    // Cleared by Stop: reports still on their way find nobody.
    const std::shared_ptr<std::atomic<bool>> alive_ = std::make_shared<std::atomic<bool>>(true);
    std::atomic<bool> stopping_{false};
    std::mutex handlerMutex_; // held while the handler runs
    std::function<void(bool &Handled)> invalidHost_;
    std::shared_ptr<net::TTlsContext> tlsContext_;
    std::function<std::string(const std::string &host)> keyFor_;
};

class TOutbox : public TSenderBase {
public:
    // The client is made on the sender's thread, Port = port. OnInvalidHost
    // is called there.
    TOutbox(TPeerCore &core, std::uint16_t port);
    // Cuts what is in flight and ends the thread.
    ~TOutbox();

    // NMMsg1. Its Host and FromName are taken from the core before each
    // message; set Port and OnInvalidHost before the first batch.
    services::TNMMsg &Client() { return *client_; }

    // Any thread. The batch goes out after everything posted before.
    void Post(std::vector<TOutgoing> batch, TDone done = {});
    // Waits until everything posted has gone (or failed), at most limit.
    bool WaitIdle(std::chrono::milliseconds limit) const { return worker_.WaitIdle(limit); }
    // Drops what waits and cuts what is in flight.
    void CancelAll();

private:
    void CancelInFlight() override;

    TPeerCore &core_;
    std::unique_ptr<services::TNMMsg> client_;
};

class TStreamSender : public TSenderBase {
public:
    TStreamSender(TPeerCore &core, std::uint16_t port);
    ~TStreamSender();

    // NMStrm1; Host and FromName come from the core at each send.
    services::TNMStrm &Client() { return *client_; }

    // Opens the file at path (UTF-8) for the next Send; opened runs on the
    // owner thread with "" and the file's size (fixed now), or the error.
    void Open(const std::string &path, std::function<void(const std::string &error, std::int64_t size)> opened);
    // Sends the file opened last, from the file as the transfer goes; done
    // on the owner thread. The file is closed afterwards. To a peer that
    // showed Hash the file's XXH3-128 goes after it; when the receiver
    // answers that it differs, the file is sent once more, and a second
    // mismatch fails with MismatchError.
    void Send(TDone done);
    // A peer that showed Space answers the header first: a refusal for
    // want of space fails the step with NoSpaceError, before the file flows.
    // What the send step fails with after two mismatches (name: UTF-8).
    static std::string MismatchError(const std::string &name);
    // ... and when the receiver has no room for it (sizes in bytes).
    static std::string NoSpaceError(const std::string &name, std::uint64_t needed, std::uint64_t free,
                                    std::uint64_t reserve);
    // Puts files (of a folder walked, each at most kBatchFileMax bytes)
    // together as one batch stream for the next Send, to a peer that showed
    // Folders; opened as for Open, with the body's size.
    void OpenBatch(std::vector<TFolderEntry> files,
                   std::function<void(const std::string &error, std::int64_t size)> opened);
    // Lets go of an opened file that will not be sent.
    void Close();
    // Looks at path on the sender's thread, after what was posted before:
    // looked runs on the owner thread with the tree when path is a folder,
    // nullptr when it is anything else, or the error of a folder that
    // cannot be read.
    void Inspect(const std::string &path,
                 std::function<void(const std::string &error, std::shared_ptr<const TFolderTree> tree)> looked);
    // Cuts the file in flight (the peer keeps nothing of it).
    void Cancel();
    // Progress of the file in flight: bytes sent and the file's size (only
    // meaningful while Sending()).
    bool Sending() const { return sending_; }
    std::int64_t BytesSent() const;
    std::int64_t BytesTotal() const;

private:
    void CancelInFlight() override;

    void OpenWith(const std::string &shown, bool batch, std::function<std::unique_ptr<net::TFileStream>()> make,
                  std::function<void(const std::string &error, std::int64_t size)> opened);

    TPeerCore &core_;
    std::unique_ptr<services::TNMStrm> client_;
    std::unique_ptr<net::TFileStream> file_; // the sender's thread only
    bool batch_ = false;                     // file_ is a batch's body
    std::string shown_;                      // file_'s name in messages
    std::atomic<bool> sending_{false};
};

} // namespace dz::peer

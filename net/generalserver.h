#pragma once
// TNMGeneralServer: a socket component that listens on its Port and serves
// every accepted connection on a thread of its own. For each connection it
// makes a connection object, a fresh instance of the server's own class,
// gives it the accepted socket and runs its ServeConnection on the new
// thread; when that returns, the thread frees the object and ends.
//
// Threads: accepting and making connection objects happen on the thread
// that created the server (when it pumps); ServeConnection runs on the
// connection's thread, which never pumps (PumpWhileWaiting false: every
// wait blocks on the socket itself) and needs no event loop. ServerLock()
// is held while a connection object is made and while one is freed,
// across all servers of the process.
//
// Stopping: StopServing (and every destructor of a listening server, first
// thing) stops accepting, cancels every connection and waits for their
// threads, at most a bound. A connection object gets its own copies of the
// server's handlers when it is made (NewInstance), so a thread that
// outlives the wait still calls only what it owns; whatever a handler
// captures must be owned by it too (shared, never a raw pointer to the
// server's owner).
//
// Bounds: at most MaxConnections live connections per listening server
// (when a newcomer finds them all taken, the one that has waited longest
// without completing its request, and without bytes in the last second, is
// cut; if none may be cut, the newcomer is); a connection on which nothing
// moves for IdleLimit ms is cut. A connection whose service fails is cut
// with a reset (SO_LINGER 0), never closed in order.

#include "net/powersock.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace dz::net {

// The one lock of the process shared by all listening servers.
std::recursive_mutex &ServerLock();

class TNMGeneralServer : public TPowersock {
public:
    // With a listening server as owner the new object is a connection object
    // (no Connections list); otherwise it is a listening server.
    explicit TNMGeneralServer(TNMGeneralServer *owner = nullptr);
    // StopServing(ShutdownWait), if no one did before.
    ~TNMGeneralServer() override;

    // Raised after every accept notification, with the listening server as Sender.
    TNotifyEvent OnClientContact;
    // Encrypted connections. With a context set, a connection that begins
    // with a TLS ClientHello (0x16) is served over TLS 1.3: this side
    // presents its certificate and takes the client's only when
    // TlsAccepts(fingerprint, client's IPv4 address in network order) says
    // so, before the service reads a byte (a refusal resets the
    // connection). Any other first byte goes to the service in clear, as
    // without a context. Set both on the listening server before Loaded;
    // TlsAccepts runs on the connection's thread (see NewInstance for what
    // it may capture).
    std::shared_ptr<TTlsContext> TlsContext;
    std::function<bool(const std::string &fingerprint, std::uint32_t address)> TlsAccepts;
    // Live connections this listening server serves at once.
    int MaxConnections = 64;
    // How long the destructor waits for connection threads (ms).
    int ShutdownWait = 1000;

    // On a listening server, owner's thread: closes the listening socket,
    // cancels every live connection and waits up to limit for their
    // threads. Threads still running then (inside a handler or a disk
    // write) are cut loose: they end on their own and free their objects.
    // True when every thread had ended. Only the first call waits.
    bool StopServing(std::chrono::milliseconds limit);
    // Without waiting: stops accepting and cancels every live connection
    // (so that several servers can be stopped at once).
    void BeginStopServing();

    // Starts listening once the properties are set (Port, ReportLevel...).
    virtual void Loaded();
    // A server never opens an outgoing connection.
    void Connect() override {}
    // Cancels the blocking operation of every live connection.
    void Abort() override;
    // The service: read the request, reply, raise the event. Runs on the
    // connection's thread with the connection object as its subject.
    virtual void ServeConnection() {}

    // On a connection object: the listening server whose accept made it
    // (null once that server has gone).
    TNMGeneralServer *Server() const;
    // On a connection object: its place in the order of all accepts of the
    // process (1, 2, ...), across every server.
    std::uint64_t AcceptNumber() const { return acceptNumber_; }
    bool IsConnectionObject() const { return state_ == nullptr; }
    // Live connections of a listening server.
    std::size_t ConnectionCount() const;
    // The accept numbers of the live connections of a listening server (for
    // putting their work in accept order).
    std::vector<std::uint64_t> LiveAcceptNumbers() const;
    // On a connection object: the service has the whole request (the cap
    // never cuts such a connection).
    bool RequestComplete() const { return requestComplete_; }

protected:
    // The service marks its request complete.
    void MarkRequestComplete() { requestComplete_ = true; }
    // The class's own constructor, for connection objects.
    virtual std::unique_ptr<TNMGeneralServer> NewInstance(TNMGeneralServer *owner) = 0;

    // Waits until the client has closed its end (the socket shows the
    // close), or the connection is cancelled. Raises EIdleError when the
    // client keeps it open past the idle limit.
    void WaitForClientClose();

private:
    struct State;
    class ServeThread;

    void HandleAccept();
    // On the connection's thread, before the service: takes a TLS client
    // over TLS. Raises when the handshake fails or the key is refused.
    void BeginService();
    void StartConnection(SockPtr accepted, const sockaddr_in &peer);
    // With the list's lock held: makes room for one more connection, cutting
    // one that may be cut. False when none may.
    bool MakeRoom();

    // Shared with the connection threads, so a thread that outlives its
    // server's bounded wait still finds it.
    std::shared_ptr<State> state_;
    std::shared_ptr<State> serverState_; // on a connection object: its server's
    std::uint64_t acceptNumber_ = 0;
    std::int64_t acceptedNs_ = 0;
    std::atomic<bool> requestComplete_{false};
    bool evicted_ = false;    // cut to make room (guarded by the list's lock)
    bool clientClosed_ = false; // the service saw the client's close
};

} // namespace dz::net

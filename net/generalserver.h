#pragma once
// TNMGeneralServer: a socket component that listens on its Port and serves
// every accepted connection on a thread of its own. For each connection it
// makes a connection object, a fresh instance of the server's own class,
// gives it the accepted socket and runs its ServeConnection on the new
// thread; when that returns, the thread frees the object and ends.
//
// Threads: accepting and making connection objects happen on the thread
// that created the server (when it pumps); ServeConnection runs on the
// connection's thread. ServerLock() is held while a connection object is
// made and while one is freed, across all servers of the process.

#include "net/powersock.h"

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
    // Cancels live connections and waits for their threads (bounded) before
    // anything they use is freed.
    ~TNMGeneralServer() override;

    // Raised after every accept notification, with the listening server as Sender.
    TNotifyEvent OnClientContact;

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

protected:
    // The class's own constructor, for connection objects.
    virtual std::unique_ptr<TNMGeneralServer> NewInstance(TNMGeneralServer *owner) = 0;

    // Waits until the client has closed its end (the close notification
    // cleared Connected, or the socket shows the close), or the connection
    // is cancelled.
    void WaitForClientClose();

private:
    struct State;
    class ServeThread;

    void HandleAccept();
    void StartConnection(SockPtr accepted, const sockaddr_in &peer);

    // Shared with the connection threads, so a thread that outlives its
    // server's bounded wait still finds it.
    std::shared_ptr<State> state_;
    std::shared_ptr<State> serverState_; // on a connection object: its server's
    std::uint64_t acceptNumber_ = 0;
};

} // namespace dz::net

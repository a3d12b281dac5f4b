#include "generalserver.h"

#include "net/tls.h"

#include <algorithm>
#include <chrono>
#include <poll.h>
#include <pthread.h>
#include <thread>

namespace dz::net {

std::recursive_mutex &ServerLock()
{
    static std::recursive_mutex lock;
    return lock;
}

namespace {
std::atomic<std::uint64_t> acceptCounter{0};
// A connection whose bytes arrived this recently is moving: never cut to
// make room.
constexpr std::int64_t kMovingNs = 1'000'000'000;
constexpr int kAcceptsPerNotification = 64;

std::int64_t NowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
} // namespace

struct TNMGeneralServer::State {
    std::mutex mutex; // guards everything below (the Connections list's own lock)
    std::condition_variable threadEnded;
    std::vector<TNMGeneralServer *> connections;
    int liveThreads = 0;
    TNMGeneralServer *server = nullptr; // null once the server has stopped serving
    bool stopping = false;              // no more connections are taken
    bool stopped = false;               // StopServing has waited once
};

TNMGeneralServer::TNMGeneralServer(TNMGeneralServer *owner)
{
    if (!owner)
        state_ = std::make_shared<State>();
}

TNMGeneralServer::~TNMGeneralServer()
{
    StopServing(std::chrono::milliseconds(ShutdownWait));
    BeginDestroy();
    try {
        TNMGeneralServer::Abort();
    } catch (...) {
    }
}

void TNMGeneralServer::BeginStopServing()
{
    if (!state_)
        return;
    std::lock_guard lock(state_->mutex);
    state_->stopping = true;
    for (TNMGeneralServer *connection : state_->connections)
        connection->Cancel();
}

bool TNMGeneralServer::StopServing(std::chrono::milliseconds limit)
{
    if (!state_)
        return true;
    BeginStopServing();
    std::unique_lock lock(state_->mutex);
    if (state_->stopped)
        return state_->liveThreads == 0;
    state_->stopped = true;
    const bool ended = state_->threadEnded.wait_for(lock, limit, [&] { return state_->liveThreads == 0; });
    // Threads that still run are cut loose: they find no server, call only
    // the handlers they hold, and free their objects themselves.
    state_->connections.clear();
    state_->server = nullptr;
    return ended;
}

TNMGeneralServer *TNMGeneralServer::Server() const
{
    if (!serverState_)
        return nullptr;
    std::lock_guard lock(serverState_->mutex);
    return serverState_->server;
}

std::size_t TNMGeneralServer::ConnectionCount() const
{
    if (!state_)
        return 0;
    std::lock_guard lock(state_->mutex);
    return static_cast<std::size_t>(std::count_if(state_->connections.begin(), state_->connections.end(),
                                                   [](const TNMGeneralServer *c) { return !c->evicted_; }));
}

std::vector<std::uint64_t> TNMGeneralServer::LiveAcceptNumbers() const
{
    std::vector<std::uint64_t> numbers;
    if (!state_)
        return numbers;
    std::lock_guard lock(state_->mutex);
    for (const TNMGeneralServer *connection : state_->connections)
        if (!connection->evicted_)
            numbers.push_back(connection->acceptNumber_);
    return numbers;
}

void TNMGeneralServer::Loaded()
{
    std::lock_guard serverLock(ServerLock());
    {
        std::lock_guard lock(state_->mutex);
        state_->server = this;
    }
    AcceptHandler = [this](TPowersock *) { HandleAccept(); };
    Listen();
}

void TNMGeneralServer::Abort()
{
    if (!state_)
        return;
    std::lock_guard lock(state_->mutex);
    for (TNMGeneralServer *connection : state_->connections)
        connection->Cancel();
}

void TNMGeneralServer::HandleAccept()
{
    {
        std::lock_guard lock(ServerLock());
        // Every connection that waits is taken now, not one per round trip
        // through the poller: a burst of connections never overflows the
        // listen queue (whose overflow makes a client wait seconds for its
        // SYN to be sent again).
        for (int taken = 0; taken < kAcceptsPerNotification; ++taken) {
            try {
                SetEventDone(true);
                SockPtr accepted = Accept();
                StartConnection(std::move(accepted), RemoteAddress());
            } catch (...) {
                // A failed accept or set-up starts no thread; nothing is
                // reported. Nothing (more) waiting ends the round too.
                break;
            }
        }
    }
    if (OnClientContact)
        OnClientContact(this);
}

// Serves one connection object and frees it when its service ends.
class TNMGeneralServer::ServeThread {
public:
    static void Start(std::unique_ptr<TNMGeneralServer> connection, std::shared_ptr<State> state,
                      TNotifyEvent onDisconnect, ThreadRef serverThread)
    {
        std::thread([connection = std::move(connection), state = std::move(state), onDisconnect = std::move(onDisconnect),
                     serverThread = std::move(serverThread)]() mutable {
            pthread_setname_np(pthread_self(), "dz-connection");
            try {
                connection->BeginService();
                connection->ServeConnection();
            } catch (...) {
                // A failed service ends silently, and cuts the connection:
                // a reset, so that no peer takes it for a complete exchange.
                try {
                    connection->ResetConnection();
                } catch (...) {
                }
            }
            auto unlist = [state](TNMGeneralServer *c) {
                std::lock_guard listLock(state->mutex);
                auto &list = state->connections;
                list.erase(std::remove(list.begin(), list.end(), c), list.end());
            };
            if (connection->clientClosed_ && onDisconnect && serverThread) {
                // The listening server's OnDisconnect runs on its own thread
                // with the connection object as Sender, which lives until then.
                auto shared = std::make_shared<std::unique_ptr<TNMGeneralServer>>(std::move(connection));
                const bool posted = PostToThread(serverThread, [shared, state, onDisconnect, unlist] {
                    bool serverAlive;
                    {
                        std::lock_guard listLock(state->mutex);
                        serverAlive = state->server != nullptr;
                    }
                    if (serverAlive && *shared) {
                        try {
                            onDisconnect(shared->get());
                        } catch (...) {
                        }
                    }
                    std::lock_guard lock(ServerLock());
                    unlist(shared->get());
                    shared->reset();
                });
                if (!posted) {
                    std::lock_guard lock(ServerLock());
                    unlist(shared->get());
                    shared->reset();
                }
            } else {
                std::lock_guard lock(ServerLock());
                unlist(connection.get());
                connection.reset();
            }
            std::lock_guard listLock(state->mutex);
            --state->liveThreads;
            state->threadEnded.notify_all();
        }).detach();
    }
};

bool TNMGeneralServer::MakeRoom()
{
    auto &list = state_->connections;
    const auto live = std::count_if(list.begin(), list.end(), [](const TNMGeneralServer *c) { return !c->evicted_; });
    if (live < MaxConnections)
        return true;
    const std::int64_t now = NowNs();
    TNMGeneralServer *victim = nullptr;
    for (TNMGeneralServer *c : list) {
        if (c->evicted_ || c->requestComplete_)
            continue;
        const std::int64_t received = c->LastReceivedNs();
        if (received != 0 && now - received < kMovingNs)
            continue;
        if (!victim || c->acceptedNs_ < victim->acceptedNs_)
            victim = c;
    }
    if (!victim)
        return false;
    victim->evicted_ = true;
    victim->Cancel(); // its wait wakes, the service ends and resets
    return true;
}

void TNMGeneralServer::StartConnection(SockPtr accepted, const sockaddr_in &peer)
{
    {
        std::lock_guard lock(state_->mutex);
        if (state_->stopping || !MakeRoom()) {
            // Stopping, or full of connections that may not be cut: refuse
            // the newcomer.
            accepted->Reset();
            return;
        }
    }
    // Anything that fails here frees the connection object, and with it the
    // accepted socket: no half-made connection is left behind.
    std::unique_ptr<TNMGeneralServer> connection = NewInstance(this);
    connection->PumpWhileWaiting = false;
    connection->UnwatchSocket();
    connection->IdleLimit = IdleLimit;
    connection->SetConnected(true);
    connection->OnConnect = OnConnect;
    connection->TlsContext = TlsContext;
    connection->TlsAccepts = TlsAccepts;
    connection->AdoptSocket(std::move(accepted), peer);
    connection->serverState_ = state_;
    connection->acceptNumber_ = ++acceptCounter;
    connection->acceptedNs_ = NowNs();
    {
        std::lock_guard lock(state_->mutex);
        state_->connections.push_back(connection.get());
        ++state_->liveThreads;
    }
    try {
        ServeThread::Start(std::move(connection), state_, OnDisconnect, NotifyThread());
    } catch (...) {
        std::lock_guard lock(state_->mutex);
        --state_->liveThreads;
        state_->connections.pop_back();
        throw;
    }
}

void TNMGeneralServer::BeginService()
{
    if (!TlsContext)
        return;
    const SockPtr sock = CurrentSock();
    if (!sock)
        return;
    switch (PeekFirstByte(sock->fd(), IdleLimit > 0 ? IdleLimit : -1)) {
    case TFirstByte::Waiting:
        throw EIdleError("Connection idle: no request came");
    case TFirstByte::Tls: {
        const std::uint32_t address = PeerAddress();
        StartTls(*TlsContext, [accepts = TlsAccepts, address](const std::string &fingerprint) {
            return accepts && accepts(fingerprint, address);
        });
        break;
    }
    case TFirstByte::Clear:
    case TFirstByte::Closed:
        break; // the service reads (or finds the close) as it always has
    }
}

void TNMGeneralServer::WaitForClientClose()
{
    while (Connected() && !Canceled()) {
        const SockPtr sock = CurrentSock();
        if (!sock)
            return;
        pollfd p {sock->fd(), POLLRDHUP, 0};
        if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL))) {
            // A cancel shuts the receiving side down too: that is no close
            // of the client's.
            clientClosed_ = !Canceled();
            return;
        }
        WaitSocket(sock, POLLRDHUP);
    }
}

} // namespace dz::net

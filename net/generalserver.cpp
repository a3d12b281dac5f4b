#include "generalserver.h"

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
constexpr auto kShutdownWait = std::chrono::seconds(10);
} // namespace

struct TNMGeneralServer::State {
    std::mutex mutex; // guards everything below (the Connections list's own lock)
    std::condition_variable threadEnded;
    std::vector<TNMGeneralServer *> connections;
    int liveThreads = 0;
    TNMGeneralServer *server = nullptr; // null once the server has gone
};

TNMGeneralServer::TNMGeneralServer(TNMGeneralServer *owner)
{
    if (!owner)
        state_ = std::make_shared<State>();
}

TNMGeneralServer::~TNMGeneralServer()
{
    BeginDestroy();
    try {
        TNMGeneralServer::Abort();
    } catch (...) {
    }
    if (state_) {
        std::unique_lock lock(state_->mutex);
        if (!state_->threadEnded.wait_for(lock, kShutdownWait, [&] { return state_->liveThreads == 0; })) {
            // Threads that still run are cut loose: they find no server and
            // free their objects themselves.
            state_->connections.clear();
        }
        state_->server = nullptr;
    }
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
    return state_->connections.size();
}

std::vector<std::uint64_t> TNMGeneralServer::LiveAcceptNumbers() const
{
    std::vector<std::uint64_t> numbers;
    if (!state_)
        return numbers;
    std::lock_guard lock(state_->mutex);
    for (const TNMGeneralServer *connection : state_->connections)
        numbers.push_back(connection->acceptNumber_);
    return numbers;
}

void TNMGeneralServer::Loaded()
{
    ServerLock();
    state_->server = this;
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
        try {
            SetEventDone(true);
            SockPtr accepted = Accept();
            StartConnection(std::move(accepted), RemoteAddress());
        } catch (...) {
            // A failed accept or set-up starts no thread; nothing is reported.
        }
    }
    if (OnClientContact)
        OnClientContact(this);
}

// Serves one connection object and frees it when its service ends.
class TNMGeneralServer::ServeThread {
public:
    static void Start(std::unique_ptr<TNMGeneralServer> connection, std::shared_ptr<State> state)
    {
        std::thread([connection = std::move(connection), state = std::move(state)]() mutable {
            pthread_setname_np(pthread_self(), "dz-connection");
            try {
                connection->ServeConnection();
            } catch (...) {
                // A failed service ends silently; the connection closes below.
            }
            {
                std::lock_guard lock(ServerLock());
                {
                    std::lock_guard listLock(state->mutex);
                    auto &list = state->connections;
                    list.erase(std::remove(list.begin(), list.end(), connection.get()), list.end());
                }
                connection.reset();
            }
            std::lock_guard listLock(state->mutex);
            --state->liveThreads;
            state->threadEnded.notify_all();
        }).detach();
    }
};

void TNMGeneralServer::StartConnection(SockPtr accepted, const sockaddr_in &peer)
{
    // Anything that fails here frees the connection object, and with it the
    // accepted socket: no half-made connection is left behind.
    std::unique_ptr<TNMGeneralServer> connection = NewInstance(this);
    connection->SetConnected(true);
    connection->OnConnect = OnConnect;
    connection->OnDisconnect = OnDisconnect;
    connection->AdoptSocket(std::move(accepted), peer);
    connection->serverState_ = state_;
    connection->acceptNumber_ = ++acceptCounter;
    {
        std::lock_guard lock(state_->mutex);
        state_->connections.push_back(connection.get());
        ++state_->liveThreads;
    }
    try {
        ServeThread::Start(std::move(connection), state_);
    } catch (...) {
        std::lock_guard lock(state_->mutex);
        --state_->liveThreads;
        state_->connections.pop_back();
        throw;
    }
}

void TNMGeneralServer::WaitForClientClose()
{
    while (Connected() && !Canceled()) {
        const SockPtr sock = CurrentSock();
        if (!sock)
            return;
        pollfd p {sock->fd(), POLLRDHUP, 0};
        if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)))
            return;
        Pump();
        WaitForActivity(sock->fd(), POLLRDHUP, 2);
    }
}

} // namespace dz::net

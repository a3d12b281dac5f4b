#include "powersock.h"

#include "lookup.h"

#include "net/sockerrors.h"
#include "net/tlsbinding.h"
#include "util/system.h"

#include <QHostInfo>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace dz::net {
namespace {

std::atomic<int> socketLibraryUsers{0};

// The pause of the connection set-up loops; a notification posted to this
// thread ends it early.
constexpr int kPauseMs = 2;

// The longest a pumping wait sleeps between two pumps.
constexpr int kPumpWaitMs = 2;

bool ConnectErrorIsOutcome(int err)
{
    // Failures that an asynchronous connect reports later as its outcome.
    return err == ECONNREFUSED || err == ENETUNREACH || err == EHOSTUNREACH || err == ETIMEDOUT;
}

std::int64_t NowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

void TCancelHandle::Cancel()
{
    std::lock_guard lock(mutex_);
    if (owner_)
        owner_->Cancel();
}

TPowersock::TPowersock()
    : ioBuffer_(std::make_unique<char[]>(kIOBufferSize)),
      link_(std::make_shared<NotifyLink>(static_cast<INotifyTarget *>(this)))
{
    cancelHandle_->owner_ = this;
    // A component made on the window's thread (or one that already has a
    // dispatcher) gets its notifications and clock there, as the design
    // has it. One made on a worker thread gets neither unless it pumps:
    // such a thread needs no event loop at all.
    if (CurrentThreadHasDispatcher() || IsApplicationThread()) {
        link_->Bind();
        EnsureTimer();
    }
    InitSocket();
}

TPowersock::~TPowersock()
{
    BeginDestroy();
    try {
        TPowersock::Abort();
        Cancel();
    } catch (...) {
    }
    timer_.reset();
    destroying_ = true;
    try {
        CloseSocket();
    } catch (...) {
    }
    --socketLibraryUsers;
}

void TPowersock::BeginDestroy()
{
    if (componentDestroying_.exchange(true))
        return;
    {
        std::lock_guard lock(cancelHandle_->mutex_);
        cancelHandle_->owner_ = nullptr;
    }
    link_->Detach();
    if (timer_)
        timer_->SetOnTimer(nullptr);
}

void TPowersock::EnsureTimer()
{
    if (timer_)
        return;
    timer_ = std::make_unique<TThreadTimer>();
    timer_->SetEnabled(false);
    timer_->SetOnTimer([this](TThreadTimer *) { TimerTriggered(); });
}

void TPowersock::UnwatchSocket()
{
    if (const SockPtr sock = CurrentSock())
        sock->Select(nullptr, 0);
}

void TPowersock::EnsureNotifications()
{
    if (link_->Bound())
        return;
    link_->Bind();
    EnsureTimer();
    if (const SockPtr sock = CurrentSock())
        sock->Select(link_, kConnectionEvents);
}

void TPowersock::Arm(const SockPtr &sock, int mask)
{
    // A component that does not pump watches its socket itself: its close
    // must not be acted on by another thread behind its back.
    if (sock && PumpWhileWaiting && link_->Bound())
        sock->Select(link_, mask);
}

int TPowersock::SocketLibraryUsers()
{
    return socketLibraryUsers;
}

SockPtr TPowersock::NewSocket(int protocol)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, protocol);
    if (fd < 0)
        return nullptr;
    if (fd > 65535) {
        ::close(fd);
        throw ERangeError();
    }
    return std::make_shared<Sock>(fd);
}

void TPowersock::InitSocket()
{
    ReportStatus(8, "Initializing Winsock");
    ++socketLibraryUsers;
    try {
        SockPtr sock = NewSocket(IPPROTO_TCP);
        if (!sock)
            throw ESockError("no socket");
        // An abortive close for the first socket: closing it resets the
        // connection. Later sockets close gracefully.
        const linger lingerOption {1, 0};
        ::setsockopt(sock->fd(), SOL_SOCKET, SO_LINGER, &lingerOption, sizeof lingerOption);
        Arm(sock, kConnectionEvents);
        std::lock_guard lock(stateMutex_);
        sock_ = std::move(sock);
    } catch (...) {
        --socketLibraryUsers;
        throw ESockError("Initializaton of windows sockets failed");
    }
}

SockPtr TPowersock::CurrentSock() const
{
    std::lock_guard lock(stateMutex_);
    return sock_;
}

std::uint16_t TPowersock::SocketHandle() const
{
    std::lock_guard lock(stateMutex_);
    return sock_ ? static_cast<std::uint16_t>(sock_->fd()) : kNoSocket;
}

std::uint16_t TPowersock::LocalPort() const
{
    const SockPtr sock = CurrentSock();
    sockaddr_in local {};
    socklen_t length = sizeof local;
    if (!sock || ::getsockname(sock->fd(), reinterpret_cast<sockaddr *>(&local), &length) != 0)
        return 0;
    return ntohs(local.sin_port);
}

sockaddr_in TPowersock::RemoteAddress() const
{
    std::lock_guard lock(stateMutex_);
    return remote_;
}

std::string TPowersock::LastStatus() const
{
    std::lock_guard lock(stateMutex_);
    return lastStatus_;
}

void TPowersock::ReportStatus(std::uint8_t level, const std::string &text)
{
    if (static_cast<std::int32_t>(level) > ReportLevel)
        return;
    {
        std::lock_guard lock(stateMutex_);
        lastStatus_ = text;
    }
    if (componentDestroying_ || !OnStatus)
        return;
    try {
        OnStatus(this, text);
    } catch (...) {
    }
}

std::string TPowersock::LookupErrorText(std::uint16_t number)
{
    ReportStatus(8, "Looking Up Error Message");
    return SocketErrorText(number);
}

void TPowersock::CheckSocketError(std::uint16_t ignore)
{
    const int error = WSAGetLastError();
    lastError_ = error;
    if (error != ignore && error > 10000) {
        if (error > 65535)
            throw ERangeError();
        throw ESockError(LookupErrorText(static_cast<std::uint16_t>(error)));
    }
}

void TPowersock::HandleSocketMessage(int message, int event, int error, std::uint64_t tag,
                                     std::uint32_t address)
{
    try {
        if (message == kSocketMessage) {
            // A notification of a socket that has been closed since is stale.
            const SockPtr sock = CurrentSock();
            if (!sock || sock->generation() != tag)
                return;
            lastEventOK_ = error == 0;
            switch (event) {
            case FD_ACCEPT:
                connected_ = true;
                if (AcceptHandler)
                    AcceptHandler(this);
                break;
            case FD_CONNECT:
                if (error == 0) {
                    connected_ = true;
                    if (OnConnect)
                        OnConnect(this);
                } else {
                    lastError_ = error;
                }
                break;
            case FD_CLOSE:
                if (!DataAvailable())
                    CloseSocket();
                break;
            default:
                break;
            }
        } else if (message == kLookupMessage) {
            if (tag != lookupTag_)
                return;
            lastEventOK_ = error == 0;
            lookupAddress_ = address;
            eventDone_ = true;
        }
    } catch (...) {
        // Failures inside notifications are swallowed.
    }
}

bool TPowersock::DataAvailable()
{
    ReportStatus(8, "Data Available");
    const SockPtr sock = CurrentSock();
    if (!sock)
        return false;
    // A byte of its own, not IOBuffer: a connection thread may be using that.
    char byte;
    return ::recv(sock->fd(), &byte, 1, MSG_PEEK | MSG_DONTWAIT) >= 1;
}

void TPowersock::TimerOn()
{
    ReportStatus(8, "Timer On");
    timedOut_ = false;
    if (TimeOut < 0)
        throw ERangeError();
    if (!PumpWhileWaiting) {
        // A clock that runs with the same interval runs on, as a timer would.
        if (!deadlineOn_ || deadlineInterval_ != TimeOut) {
            deadlineInterval_ = TimeOut;
            deadlineOn_ = TimeOut > 0;
            deadlineNs_ = NowNs() + static_cast<std::int64_t>(TimeOut) * 1'000'000;
        }
        return;
    }
    EnsureNotifications();
    timer_->SetInterval(static_cast<unsigned>(TimeOut));
    timer_->SetEnabled(true);
}

void TPowersock::TimerOff()
{
    ReportStatus(8, "Timer Off");
    deadlineOn_ = false;
    if (timer_)
        timer_->SetEnabled(false);
}

bool TPowersock::DeadlinePassed() const
{
    return deadlineOn_ && NowNs() >= deadlineNs_;
}

void TPowersock::Moved(bool received)
{
    idleWaitedMs_ = 0;
    if (received)
        lastReceivedNs_.store(NowNs(), std::memory_order_relaxed);
}

void TPowersock::ThrowIdle()
{
    const std::string limit = IdleLimit % 1000 == 0 ? std::to_string(IdleLimit / 1000) + " seconds"
                                                    : std::to_string(IdleLimit) + " ms";
    throw EIdleError("Connection idle for " + limit + ": nothing was sent or received");
}

bool TPowersock::WaitSocket(const SockPtr &sock, short events)
{
    const int fd = sock ? sock->fd() : -1;
    const bool limited = IdleLimit > 0;
    if (limited && idleWaitedMs_ >= IdleLimit)
        ThrowIdle();
    const std::int64_t start = NowNs();
    if (PumpWhileWaiting) {
        // Sleep first, then pump: what the pump runs (a notification, a
        // tick, a cancel) is seen by the caller at once. The pump's slices
        // notice a cancel; a peer's half-close must not wake a wait to send
        // over and over.
        WaitForActivity(fd, (events & POLLOUT) ? static_cast<short>(events & ~POLLRDHUP) : events, kPumpWaitMs);
        Pump();
    } else {
        std::int64_t budgetMs = limited ? IdleLimit - idleWaitedMs_ : -1;
        if (deadlineOn_) {
            const std::int64_t left = (deadlineNs_ - start + 999'999) / 1'000'000;
            budgetMs = budgetMs < 0 ? std::max<std::int64_t>(left, 0) : std::clamp<std::int64_t>(left, 0, budgetMs);
        }
        {
            std::lock_guard lock(stateMutex_);
            waitingSock_ = sock;
        }
        // Cancel sets the flag before it looks for a waiting socket, so
        // either it sees this one or this wait sees the flag. It shuts the
        // receiving side down, which shows as POLLRDHUP.
        short want = events;
        while (!canceled_ && fd >= 0) {
            const std::int64_t spent = (NowNs() - start) / 1'000'000;
            std::int64_t slice = budgetMs < 0 ? -1 : std::max<std::int64_t>(budgetMs - spent, 0);
            const bool halfClosed = (events & POLLRDHUP) && !(want & POLLRDHUP);
            if (halfClosed)
                slice = slice < 0 ? 50 : std::min<std::int64_t>(slice, 50);
            pollfd p {fd, want, 0};
            const int rc = ::poll(&p, 1, static_cast<int>(slice));
            if (rc < 0 && errno == EINTR)
                continue;
            if (rc == 0) {
                if (halfClosed && (budgetMs < 0 || (NowNs() - start) / 1'000'000 < budgetMs))
                    continue;
                break;
            }
            // A peer that has closed its sending side while this side waits to
            // send: only a cancel is left to notice, in short slices.
            if (rc > 0 && (events & POLLOUT) && (p.revents & POLLRDHUP) &&
                !(p.revents & (POLLOUT | POLLERR | POLLHUP))) {
                want = static_cast<short>(want & ~POLLRDHUP);
                continue;
            }
            break;
        }
        {
            std::lock_guard lock(stateMutex_);
            waitingSock_.reset();
        }
        if (DeadlinePassed() && !canceled_)
            TimerTriggered();
    }
    idleWaitedMs_ += (NowNs() - start) / 1'000'000;
    if (canceled_)
        return false;
    if (limited && idleWaitedMs_ >= IdleLimit)
        ThrowIdle();
    return true;
}

void TPowersock::TimerTriggered()
{
    ReportStatus(8, "Timer Triggered");
    TimerOff();
    timedOut_ = true;
    eventDone_ = true;
    Abort();
}

void TPowersock::Abort()
{
    ReportStatus(8, "Abort");
    Cancel();
}

void TPowersock::Cancel()
{
    ReportStatus(8, "Canceling");
    canceled_ = true;
    std::lock_guard lock(stateMutex_);
    if (waitingSock_)
        ::shutdown(waitingSock_->fd(), SHUT_RD);
    if (lookup_)
        lookup_->Cancel();
}

void TPowersock::ResolveHost()
{
    ReportStatus(8, "Resolve Host");
    const in_addr_t dotted = ::inet_addr(Host.c_str());
    {
        std::lock_guard lock(stateMutex_);
        remote_.sin_addr.s_addr = dotted;
    }
    if (dotted != INADDR_NONE)
        return;
    {
        std::lock_guard lock(stateMutex_);
        remote_.sin_addr.s_addr = 0;
    }
    if (!PumpWhileWaiting) {
        ResolveWithoutPump();
        return;
    }
    EnsureNotifications();
    TimerOn();
    eventDone_ = false;
    const std::uint64_t tag = ++lookupTag_;
    std::weak_ptr<NotifyLink> weakLink = link_;
    const int lookupId = QHostInfo::lookupHost(
        QString::fromLatin1(Host.data(), static_cast<qsizetype>(Host.size())), link_->Context(),
        [weakLink, tag](const QHostInfo &info) {
            std::uint32_t address = 0;
            int error = info.error() == QHostInfo::NoError ? 0 : 11001;
            if (error == 0) {
                error = 11004; // a name without an IPv4 address
                for (const QHostAddress &a : info.addresses())
                    if (a.protocol() == QAbstractSocket::IPv4Protocol) {
                        address = htonl(a.toIPv4Address());
                        error = 0;
                        break;
                    }
            }
            if (auto link = weakLink.lock())
                link->Deliver(kLookupMessage, 0, error, tag, address);
        });
    while (!eventDone_ && !timedOut_ && !canceled_) {
        WaitForActivity(-1, 0, kPauseMs);
        Pump();
    }
    TimerOff();
    if (!eventDone_ || timedOut_) {
        QHostInfo::abortHostLookup(lookupId);
        ++lookupTag_; // a late answer is stale
    }
    if (timedOut_)
        throw ESockError("Host Lookup Timed Out");
    if (canceled_)
        throw ESockError("Host Lookup Canceled");
    if (!lastEventOK_)
        throw ESockError("Host Lookup Failed");
    {
        std::lock_guard lock(stateMutex_);
        remote_.sin_addr.s_addr = lookupAddress_;
    }
    if (OnHostResolved)
        OnHostResolved(this);
}

void TPowersock::ResolveWithoutPump()
{
    const std::uint32_t address = LookupIPv4(Host);
    lastEventOK_ = address != 0;
    if (!lastEventOK_)
        throw ESockError("Host Lookup Failed");
    {
        std::lock_guard lock(stateMutex_);
        remote_.sin_addr.s_addr = address;
    }
    if (OnHostResolved)
        OnHostResolved(this);
}

std::uint32_t TPowersock::LookupIPv4(const std::string &name)
{
    TimerOn();
    auto lookup = std::make_shared<TNameLookup>(name);
    {
        std::lock_guard lock(stateMutex_);
        lookup_ = lookup;
    }
    // A cancel that came before the look-up was listed.
    if (canceled_)
        lookup->Cancel();
    const TNameLookup::TEnd end = lookup->Wait(deadlineOn_ ? deadlineNs_ : 0);
    {
        std::lock_guard lock(stateMutex_);
        lookup_.reset();
    }
    TimerOff();
    if (end == TNameLookup::TEnd::TimedOut) {
        timedOut_ = true;
        throw ESockError("Host Lookup Timed Out");
    }
    if (end == TNameLookup::TEnd::Canceled || canceled_)
        throw ESockError("Host Lookup Canceled");
    return lookup->Address();
}

void TPowersock::Connect()
{
    ReportStatus(8, "Connecting");
    canceled_ = false;
    if (connected_)
        throw ESockError("Already connected");

    for (int repaired = 0;;) {
        try {
            ResolveHost();
        } catch (const ESockError &e) {
            const std::string message = e.what();
            if (message == "Host Lookup Timed Out" || message == "Host Lookup Canceled")
                throw;
        }
        if (RemoteAddress().sin_addr.s_addr != 0)
            break;
        if (repaired == 0 && OnInvalidHost) {
            bool handled = false;
            OnInvalidHost(handled);
            if (handled) {
                ++repaired;
                continue;
            }
        }
        throw ESockError("Null Remote Address");
    }

    sockaddr_in target;
    {
        std::lock_guard lock(stateMutex_);
        remote_.sin_family = AF_INET;
        remote_.sin_port = htons(static_cast<std::uint16_t>(Port & 0xFFFF));
        target = remote_;
    }
    eventDone_ = false;
    lastEventOK_ = true;

    SockPtr sock = CurrentSock();
    if (!sock)
        throw ESockError("Connection Failed");
    if (sock->ConnectAttempted()) {
        // An earlier attempt on this socket failed, and a POSIX socket cannot
        // try again: take a fresh one, or the component would stay unusable
        // after one unreachable peer.
        SockPtr fresh = NewSocket(0);
        if (!fresh)
            throw ESockError("Connection Failed");
        Arm(fresh, kConnectionEvents);
        {
            std::lock_guard lock(stateMutex_);
            sock_ = fresh;
        }
        sock->Shutdown();
        sock = std::move(fresh);
    }
    sock->SetConnectAttempted();
    idleWaitedMs_ = 0;
    if (PumpWhileWaiting)
        EnsureNotifications();
    if (::connect(sock->fd(), reinterpret_cast<const sockaddr *>(&target), sizeof target) != 0) {
        const int err = errno;
        if (ConnectErrorIsOutcome(err)) {
            lastError_ = WsaErrorFromErrno(err);
            lastEventOK_ = false;
        } else if (err != EINPROGRESS && err != EAGAIN) {
            WSASetLastError(WsaErrorFromErrno(err));
            CheckSocketError(WSAEWOULDBLOCK);
        }
    }
    if (lastEventOK_ && PumpWhileWaiting)
        sock->MarkConnecting();

    TimerOn();
    try {
        // A pumping component learns the outcome from its notification
        // (which sets Connected and raises OnConnect on the pump); one that
        // does not pump reads it from the socket.
        while (!connected_ && !timedOut_ && !canceled_ && lastEventOK_) {
            if (!PumpWhileWaiting) {
                if (ConnectOutcome(sock))
                    break;
                WaitSocket(sock, POLLOUT);
            } else {
                // Once the socket shows the outcome, only the notification
                // is awaited: sleep on the thread's queue, not the socket.
                pollfd p {sock->fd(), POLLOUT, 0};
                WaitSocket(::poll(&p, 1, 0) > 0 ? SockPtr() : sock, POLLOUT);
            }
        }
    } catch (const EIdleError &) {
        TimerOff();
        if (OnConnectionFailed)
            OnConnectionFailed(this);
        throw;
    }
    TimerOff();
    if (!timedOut_ && !canceled_ && lastEventOK_) {
        if (!PumpWhileWaiting) {
            connected_ = true;
            if (OnConnect)
                OnConnect(this);
        }
        return;
    }
    if (OnConnectionFailed)
        OnConnectionFailed(this);
    if (timedOut_)
        throw ESockError("Connection Timed out");
    if (canceled_)
        throw ESockError("Connection Canceled");
    throw ESockError("Connection Failed");
}

bool TPowersock::ConnectOutcome(const SockPtr &sock)
{
    pollfd p {sock->fd(), POLLOUT, 0};
    if (::poll(&p, 1, 0) <= 0)
        return false;
    int err = 0;
    socklen_t len = sizeof err;
    ::getsockopt(sock->fd(), SOL_SOCKET, SO_ERROR, &err, &len);
    if (err == 0 && !(p.revents & POLLOUT))
        err = ECONNREFUSED;
    if (err != 0) {
        lastError_ = WsaErrorFromErrno(err);
        lastEventOK_ = false;
    }
    return true;
}

void TPowersock::Disconnect()
{
    ReportStatus(8, "Disconnecting");
    CloseSocket();
}

void TPowersock::CloseSocket()
{
    ReportStatus(4, "Request Close Socket");
    CloseOrReset(false);
}

void TPowersock::ResetConnection()
{
    ReportStatus(8, "Reset Connection");
    CloseOrReset(true);
}

void TPowersock::CloseOrReset(bool reset)
{
    connected_ = false;
    SockPtr old;
    std::shared_ptr<TTlsBinding> tls;
    {
        std::lock_guard lock(stateMutex_);
        old = std::move(sock_);
        tls = std::move(tls_);
    }
    // An orderly end of an encrypted link says so (close_notify), so the
    // peer can tell it from a cut.
    if (tls && !reset) {
        try {
            tls->link->Close();
        } catch (...) {
        }
    }
    tls.reset();
    if (!old)
        return;
    // A transfer on another thread may still hold the socket: end the
    // connection for it now; the descriptor goes when its last user does,
    // so it can never be reused under that transfer.
    if (reset)
        old->Reset();
    else
        old->Shutdown();
    old.reset();
    if (!componentDestroying_ && OnDisconnect)
        OnDisconnect(this);
    if (destroying_)
        return;
    SockPtr fresh = NewSocket(0);
    if (!fresh)
        return;
    Arm(fresh, kConnectionEvents);
    std::lock_guard lock(stateMutex_);
    sock_ = std::move(fresh);
}

void TPowersock::AdoptSocket(SockPtr accepted, const sockaddr_in &peer)
{
    SockPtr old;
    {
        std::lock_guard lock(stateMutex_);
        old = std::move(sock_);
        sock_ = accepted;
        remote_ = peer;
    }
    Moved();
    Arm(accepted, kConnectionEvents);
}

void TPowersock::Listen()
{
    ReportStatus(8, "Listening");
    if (Port < 0 || Port > 65535)
        throw ERangeError();
    sockaddr_in local {};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<std::uint16_t>(Port));
    local.sin_addr.s_addr = ::inet_addr("0.0.0.0");
    {
        std::lock_guard lock(stateMutex_);
        remote_ = local;
    }
    eventDone_ = false;
    EnsureNotifications();
    const SockPtr sock = CurrentSock();
    if (!sock)
        return;
    // Lets a restarted program listen again at once (TIME_WAIT connections
    // of the last run); it does not let two programs share the port.
    const int one = 1;
    ::setsockopt(sock->fd(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    listenError_ = 0;
    if (::bind(sock->fd(), reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0)
        listenError_ = WsaErrorFromErrno(errno);
    sock->Select(link_, FD_ACCEPT);
    // A queue long enough that connections arriving together while the
    // accepting thread is busy are not dropped.
    if (::listen(sock->fd(), 1024) != 0 && listenError_ == 0)
        listenError_ = WsaErrorFromErrno(errno);
    if (listenError_ == 0)
        sock->MarkListening();
}

SockPtr TPowersock::Accept()
{
    ReportStatus(4, "Accepting");
    while (!eventDone_ && !canceled_) {
        WaitForActivity(-1, 0, kPauseMs);
        Pump();
    }
    if (canceled_)
        throw ESockError("Accepting Canceled");
    if (!lastEventOK_)
        throw ESockError("Error creating Data Connection");
    const SockPtr listener = CurrentSock();
    if (!listener)
        throw ERangeError();
    sockaddr_in peer {};
    socklen_t length = sizeof peer;
    const int fd = ::accept4(listener->fd(), reinterpret_cast<sockaddr *>(&peer), &length, SOCK_CLOEXEC);
    const int err = errno;
    listener->RearmAccept();
    if (fd < 0) {
        WSASetLastError(WsaErrorFromErrno(err));
        CheckSocketError(WSAEWOULDBLOCK);
        throw ERangeError(); // no connection was waiting after all
    }
    if (fd > 65535) {
        ::close(fd);
        throw ERangeError();
    }
    auto accepted = std::make_shared<Sock>(fd);
    accepted->MarkConnected();
    {
        std::lock_guard lock(stateMutex_);
        remote_ = peer;
    }
    return accepted;
}

std::string TPowersock::GetLocalIP()
{
    ReportStatus(8, "Getting Local IP");
    return LocalAddress();
}

} // namespace dz::net

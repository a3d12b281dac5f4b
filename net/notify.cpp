#include "notify.h"

#include "sockerrors.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QObject>
#include <QSocketNotifier>
#include <QThread>

#include <deque>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>

namespace dz::net {

// ---------------------------------------------------------------------------
// Per-thread dispatcher: a queue of work for the thread, and an eventfd that
// rings when work is queued. A socket notifier on the eventfd runs the queue
// from the thread's event loop or pump. The work itself passes through our
// own lock, never through Qt's event objects.

struct ThreadDispatcher {
    std::mutex mutex;
    std::deque<std::function<void()>> queue;
    bool alive = true;
    int wakeFd = -1;
    QObject *object = nullptr;
    std::thread::id thread;

    // Runs on the dispatcher's thread: the queued work, one at a time, so
    // work posted while an item runs (and pumps) keeps its order.
    void RunQueue()
    {
        std::uint64_t drained;
        [[maybe_unused]] auto n = ::read(wakeFd, &drained, sizeof drained);
        for (;;) {
            std::function<void()> fn;
            {
                std::lock_guard lock(mutex);
                if (queue.empty())
                    return;
                fn = std::move(queue.front());
                queue.pop_front();
            }
            try {
                fn();
            } catch (...) {
                // Posted work reports its own failures; nothing reaches Qt's loop.
            }
        }
    }
};

namespace {

// Owns the calling thread's dispatcher; retires it when the thread ends.
struct ThreadDispatcherHolder {
    ThreadRef dispatcher = std::make_shared<ThreadDispatcher>();

    ThreadDispatcherHolder()
    {
        dispatcher->thread = std::this_thread::get_id();
        dispatcher->wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (QCoreApplication::instance()) {
            // Make sure the thread has an event dispatcher, so that pumping
            // runs the queue also on threads that Qt did not start.
            QEventLoop ensureDispatcher;
        }
        dispatcher->object = new QObject;
        auto *notifier = new QSocketNotifier(dispatcher->wakeFd, QSocketNotifier::Read, dispatcher->object);
        ThreadDispatcher *d = dispatcher.get();
        QObject::connect(notifier, &QSocketNotifier::activated, notifier, [d] { d->RunQueue(); });
    }
    ~ThreadDispatcherHolder()
    {
        // Work still queued (the freeing of a timer's window, say) runs now;
        // nothing new is taken once the thread has ended.
        std::deque<std::function<void()>> left;
        {
            std::lock_guard lock(dispatcher->mutex);
            dispatcher->alive = false;
            left.swap(dispatcher->queue);
        }
        for (auto &fn : left) {
            try {
                fn();
            } catch (...) {
            }
        }
        delete dispatcher->object;
        dispatcher->object = nullptr;
        ::close(dispatcher->wakeFd);
    }
};

thread_local bool dispatcherMade = false;

ThreadDispatcherHolder &CurrentDispatcher()
{
    thread_local ThreadDispatcherHolder holder;
    dispatcherMade = true;
    return holder;
}

} // namespace

ThreadRef CurrentThread()
{
    return CurrentDispatcher().dispatcher;
}

bool CurrentThreadHasDispatcher()
{
    return dispatcherMade;
}

bool IsApplicationThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return app && app->thread() == QThread::currentThread();
}

bool IsCurrentThread(const ThreadRef &thread)
{
    return thread && thread->thread == std::this_thread::get_id();
}

bool PostToThread(const ThreadRef &thread, std::function<void()> fn)
{
    std::lock_guard lock(thread->mutex);
    if (!thread->alive)
        return false;
    thread->queue.push_back(std::move(fn));
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(thread->wakeFd, &one, sizeof one);
    return true;
}

// ---------------------------------------------------------------------------

NotifyLink::NotifyLink(INotifyTarget *target) : target_(target) {}

NotifyLink::~NotifyLink() = default;

void NotifyLink::Bind()
{
    std::lock_guard lock(threadMutex_);
    if (!thread_)
        thread_ = CurrentThread();
}

bool NotifyLink::Bound() const
{
    std::lock_guard lock(threadMutex_);
    return thread_ != nullptr;
}

ThreadRef NotifyLink::Thread() const
{
    std::lock_guard lock(threadMutex_);
    return thread_;
}

void NotifyLink::Detach()
{
    std::lock_guard lock(mutex_);
    target_ = nullptr;
}

void NotifyLink::Deliver(int message, int event, int error, std::uint64_t tag, std::uint32_t address)
{
    std::lock_guard lock(mutex_);
    if (!target_)
        return;
    try {
        target_->HandleSocketMessage(message, event, error, tag, address);
    } catch (...) {
        // Failures inside notifications are swallowed; nothing reaches Qt's loop.
    }
}

void NotifyLink::Post(int message, int event, int error, std::uint64_t tag, std::uint32_t address)
{
    const ThreadRef thread = Thread();
    if (!thread)
        return;
    std::weak_ptr<NotifyLink> weak = weak_from_this();
    PostToThread(thread, [weak, message, event, error, tag, address] {
        if (auto link = weak.lock())
            link->Deliver(message, event, error, tag, address);
    });
}

QObject *NotifyLink::Context() const
{
    const ThreadRef thread = Thread();
    return thread ? thread->object : nullptr;
}

void WaitForActivity(int fd, short events, int timeoutMs)
{
    const int wakeFd = CurrentDispatcher().dispatcher->wakeFd;
    pollfd fds[2];
    int count = 0;
    fds[count++] = {wakeFd, POLLIN, 0};
    if (fd >= 0)
        fds[count++] = {fd, events, 0};
    // The eventfd is not read here: the pump's socket notifier does that
    // when it runs the queue.
    ::poll(fds, static_cast<nfds_t>(count), timeoutMs);
}

void Pump()
{
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
}

// ---------------------------------------------------------------------------
// The poller: one thread for the whole process.

class Poller {
public:
    static Poller &Instance()
    {
        // Never destroyed: sockets may outlive static destruction at exit.
        static Poller *poller = new Poller;
        return *poller;
    }

    std::mutex mutex;

    void Add(Sock *sock)
    {
        std::lock_guard lock(mutex);
        socks_[sock->generation_] = sock;
    }

    void Remove(Sock *sock)
    {
        std::lock_guard lock(mutex);
        if (sock->inEpoll_)
            ::epoll_ctl(epoll_, EPOLL_CTL_DEL, sock->fd_, nullptr);
        sock->inEpoll_ = false;
        socks_.erase(sock->generation_);
    }

    // Called with mutex held: brings epoll's interest in line with what the
    // socket may still report.
    void Update(Sock *s)
    {
        std::uint32_t want = 0;
        switch (s->state_) {
        case Sock::State::Connecting:
            want = EPOLLOUT;
            break;
        case Sock::State::Listening:
            if (s->acceptArmed_ && (s->mask_ & FD_ACCEPT))
                want = EPOLLIN;
            break;
        case Sock::State::Connected:
            if (!s->closePosted_ && (s->mask_ & FD_CLOSE))
                want |= EPOLLRDHUP;
            break;
        default:
            break;
        }
        if (!s->link_)
            want = 0;
        if (want == 0) {
            if (s->inEpoll_)
                ::epoll_ctl(epoll_, EPOLL_CTL_DEL, s->fd_, nullptr);
            s->inEpoll_ = false;
            s->interest_ = 0;
            return;
        }
        if (s->inEpoll_ && want == s->interest_)
            return;
        epoll_event ev {};
        ev.events = want;
        ev.data.u64 = s->generation_;
        if (::epoll_ctl(epoll_, s->inEpoll_ ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, s->fd_, &ev) == 0) {
            s->inEpoll_ = true;
            s->interest_ = want;
        }
    }

private:
    Poller()
    {
        epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
        std::thread([this] { Run(); }).detach();
    }

    static int SocketError(int fd)
    {
        int err = 0;
        socklen_t len = sizeof err;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
        return err;
    }

    void Post(Sock *s, int event, int error)
    {
        s->link_->Post(kSocketMessage, event, WsaErrorFromErrno(error), s->generation_);
    }

    void Process(Sock *s, std::uint32_t revents)
    {
        if (!s->link_)
            return;
        switch (s->state_) {
        case Sock::State::Connecting:
            if (revents & (EPOLLOUT | EPOLLERR | EPOLLHUP)) {
                int err = SocketError(s->fd_);
                if (err == 0 && !(revents & EPOLLOUT))
                    err = ECONNREFUSED;
                s->state_ = err ? Sock::State::Failed : Sock::State::Connected;
                if (s->mask_ & FD_CONNECT)
                    Post(s, FD_CONNECT, err);
            }
            break;
        case Sock::State::Listening:
            if ((revents & EPOLLIN) && s->acceptArmed_) {
                s->acceptArmed_ = false;
                Post(s, FD_ACCEPT, 0);
            }
            break;
        case Sock::State::Connected: {
            const bool ended = revents & (EPOLLRDHUP | EPOLLHUP | EPOLLERR);
            if (ended && !s->closePosted_ && (s->mask_ & FD_CLOSE)) {
                int closeError = 0;
                if (revents & EPOLLERR)
                    closeError = SocketError(s->fd_);
                s->closePosted_ = true;
                Post(s, FD_CLOSE, closeError);
            }
            break;
        }
        default:
            break;
        }
        Update(s);
    }

    void Run()
    {
        epoll_event events[64];
        for (;;) {
            const int n = ::epoll_wait(epoll_, events, 64, -1);
            if (n < 0)
                continue;
            std::lock_guard lock(mutex);
            for (int i = 0; i < n; ++i) {
                const auto it = socks_.find(events[i].data.u64);
                if (it != socks_.end())
                    Process(it->second, events[i].events);
            }
        }
    }

    int epoll_ = -1;
    std::unordered_map<std::uint64_t, Sock *> socks_;
};

// ---------------------------------------------------------------------------

namespace {
std::atomic<std::uint64_t> nextGeneration{1};
}

Sock::Sock(int fd) : fd_(fd), generation_(nextGeneration++)
{
    const int flags = ::fcntl(fd_, F_GETFL, 0);
    ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
    Poller::Instance().Add(this);
}

Sock::~Sock()
{
    Poller::Instance().Remove(this);
    ::close(fd_);
}

void Sock::Select(const std::shared_ptr<NotifyLink> &link, int mask)
{
    auto &poller = Poller::Instance();
    std::lock_guard lock(poller.mutex);
    link_ = link;
    mask_ = mask;
    acceptArmed_ = true;
    poller.Update(this);
}

void Sock::MarkConnecting()
{
    auto &poller = Poller::Instance();
    std::lock_guard lock(poller.mutex);
    state_ = State::Connecting;
    poller.Update(this);
}

void Sock::MarkListening()
{
    auto &poller = Poller::Instance();
    std::lock_guard lock(poller.mutex);
    state_ = State::Listening;
    poller.Update(this);
}

void Sock::MarkConnected()
{
    auto &poller = Poller::Instance();
    std::lock_guard lock(poller.mutex);
    state_ = State::Connected;
    poller.Update(this);
}

void Sock::RearmAccept()
{
    auto &poller = Poller::Instance();
    std::lock_guard lock(poller.mutex);
    acceptArmed_ = true;
    poller.Update(this);
}

void Sock::Shutdown()
{
    ::shutdown(fd_, SHUT_RDWR);
}

void Sock::Reset()
{
    const linger abortive {1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    ::shutdown(fd_, SHUT_RD);
}

} // namespace dz::net

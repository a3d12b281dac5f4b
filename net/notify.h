#pragma once
// The platform back end of the socket component: non-blocking POSIX sockets
// whose events reach their component as Qt events on the thread that
// created the component, handled only when that thread pumps
// (QCoreApplication::processEvents).
//
// One process-wide poller thread watches the sockets of components that pump
// with epoll and keeps the notification model of an asynchronous Windows
// socket for what the components act on: one close event per connection,
// one incoming-connection event until the next accept, and the outcome of a
// connection attempt with its error number. Data to read is not notified:
// a blocking transfer watches its socket itself, so a connection costs
// nothing while bytes trickle in.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

class QObject;

namespace dz::net {

// Event codes and the two message numbers of a notification.
enum SocketEvent : int {
    FD_READ = 1,
    FD_OOB = 4,
    FD_ACCEPT = 8,
    FD_CONNECT = 16,
    FD_CLOSE = 32,
};
constexpr int kAllEvents = FD_READ | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE; // 61
// What a connecting or connected socket is watched for.
constexpr int kConnectionEvents = FD_CONNECT | FD_CLOSE;
constexpr int kSocketMessage = 1125;
constexpr int kLookupMessage = 1126;

// What a component implements to receive its notifications.
class INotifyTarget {
public:
    // message: kSocketMessage or kLookupMessage. For socket messages, tag is
    // the socket's generation; for look-ups, the look-up's number. For a
    // successful look-up, address is the IPv4 address in network order.
    virtual void HandleSocketMessage(int message, int event, int error, std::uint64_t tag,
                                     std::uint32_t address) = 0;

protected:
    ~INotifyTarget() = default;
};

// A thread that receives work posted from other threads: run in posting
// order on that thread when it pumps (or runs its event loop).
struct ThreadDispatcher;
using ThreadRef = std::shared_ptr<ThreadDispatcher>;
ThreadRef CurrentThread();
// Whether the calling thread has a dispatcher already (CurrentThread makes one).
bool CurrentThreadHasDispatcher();
// Whether the calling thread is the one that made the Qt application object.
bool IsApplicationThread();
bool IsCurrentThread(const ThreadRef &thread);
// Queues fn for the thread; false (and fn dropped) when the thread has ended.
bool PostToThread(const ThreadRef &thread, std::function<void()> fn);

// The link between a component and the notifications in flight for it. The
// component detaches on destruction; a notification that arrives later is
// dropped. Detach waits for a delivery in progress on another thread.
class NotifyLink : public std::enable_shared_from_this<NotifyLink> {
public:
    // Unbound: nothing is delivered until Bind. Always owned by a shared_ptr
    // (notifications in flight hold weak ones).
    explicit NotifyLink(INotifyTarget *target);
    ~NotifyLink();
    NotifyLink(const NotifyLink &) = delete;
    NotifyLink &operator=(const NotifyLink &) = delete;

    // Binds the link to the calling thread, which then receives its
    // notifications; nothing if it is bound already.
    void Bind();
    bool Bound() const;
    // The thread the link is bound to (null while unbound).
    ThreadRef Thread() const;
    void Detach();
    // Runs on the owner thread.
    void Deliver(int message, int event, int error, std::uint64_t tag, std::uint32_t address);
    // Queues a notification for the owner thread (any thread may call it).
    void Post(int message, int event, int error, std::uint64_t tag, std::uint32_t address = 0);
    // The owner thread's dispatcher object (for Qt calls that want a context).
    QObject *Context() const;

private:
    std::recursive_mutex mutex_; // held while a notification is delivered
    INotifyTarget *target_;
    // Its own lock: the poller posts while it holds its lock, and a delivery
    // (holding mutex_) may make a socket, which takes the poller's lock.
    mutable std::mutex threadMutex_;
    ThreadRef thread_;
};

// Sleeps until work is posted to the calling thread, the socket (when
// fd >= 0) is ready for the events, or timeoutMs has passed. events are
// poll(2) flags. Pump afterwards to run what was posted.
void WaitForActivity(int fd, short events, int timeoutMs);

// Pumps the calling thread's event queue once.
void Pump();

// One POSIX socket. Shared by the component and any transfer in flight, so
// the descriptor is released only when nothing can use it any more.
class Sock {
public:
    // Takes ownership of fd (non-blocking is set here).
    explicit Sock(int fd);
    ~Sock();
    Sock(const Sock &) = delete;
    Sock &operator=(const Sock &) = delete;

    int fd() const { return fd_; }
    std::uint64_t generation() const { return generation_; }

    // Directs the socket's events in mask to link (WSAAsyncSelect).
    void Select(const std::shared_ptr<NotifyLink> &link, int mask);
    // The socket state the poller watches for.
    void MarkConnecting();
    void MarkListening();
    void MarkConnected();
    // An accept re-enables the incoming-connection event.
    void RearmAccept();
    // Whether a connection attempt was made on this socket.
    bool ConnectAttempted() const { return connectAttempted_; }
    void SetConnectAttempted() { connectAttempted_ = true; }
    // Ends the connection for every user of the socket; the descriptor stays
    // valid until the last reference goes.
    void Shutdown();
    // Makes the final close abortive (SO_LINGER 0: a reset) and wakes every
    // wait on the socket without sending anything (shutdown of the
    // receiving side). The reset goes out when the last reference goes.
    void Reset();

private:
    friend class Poller;
    enum class State { Fresh, Connecting, Connected, Listening, Failed };

    const int fd_;
    const std::uint64_t generation_;
    // Guarded by the poller's lock.
    std::shared_ptr<NotifyLink> link_;
    int mask_ = 0;
    State state_ = State::Fresh;
    bool acceptArmed_ = true;
    bool closePosted_ = false;
    std::uint32_t interest_ = 0;
    bool inEpoll_ = false;
    std::atomic<bool> connectAttempted_{false};
};

} // namespace dz::net

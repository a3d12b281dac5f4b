#pragma once
// TPowersock: one IPv4 TCP socket offering blocking operations over a
// non-blocking socket, in one of two ways of waiting:
//
// - PumpWhileWaiting true (the default; the window's thread): each blocking
//   call loops until its flag or its data is there and pumps the calling
//   thread's event queue on every pass, so notifications, timer ticks and
//   the user interface keep being served while it waits. Connection made,
//   connection closed and incoming connections are notified on the thread
//   that created the component, when it pumps.
// - PumpWhileWaiting false (connection objects, worker threads): every wait
//   blocks in poll(2) on the socket itself, never pumps and needs no event
//   loop, event dispatcher or extra descriptor on its thread. Host look-ups
//   wait for a getaddrinfo on a thread of its own (TNameLookup), which a
//   cancel stops waiting for; the time-out clock is a deadline of the
//   wait, and OnConnect runs on the connecting thread. Cancel or Abort from
//   another thread wakes such a wait within milliseconds (by shutting down
//   the socket's receiving side).
//
// In both ways a connection on which no byte has moved for IdleLimit
// milliseconds (counting only time spent waiting on the socket) ends the
// waiting operation with EIdleError.
//
// Threads: blocking operations run on the calling thread; one component's
// blocking operations must not overlap, except that Cancel and Abort may be
// called from anywhere while another operation waits. Counters and Cancel
// are safe from any thread.

#include "net/notify.h"
#include "net/stream.h"
#include "net/threadtimer.h"
#include "util/errors.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <string>

namespace dz::net {

// Every socket-layer failure.
class ESockError : public Exception {
public:
    using Exception::Exception;
};
// A blocking operation ended because it was cancelled or timed out.
class EAbortError : public ESockError {
public:
    using ESockError::ESockError;
};
// No byte moved on the connection for IdleLimit milliseconds of waiting.
// Its text: "Connection idle for <n> seconds (<n> ms when not whole):
// nothing was sent or received".
class EIdleError : public ESockError {
public:
    using ESockError::ESockError;
};
// A value outside its range (a port above 65535, a text too long for the
// transfer buffer, a negative time-out...).
class ERangeError : public Exception {
public:
    ERangeError() : Exception("Range check error") {}
};

class TPowersock;
class TFileStream;
class TNameLookup;
class TTlsContext;
using TNotifyEvent = std::function<void(TPowersock *Sender)>;
using THandlerEvent = std::function<void(bool &Handled)>;
using TOnHostResolved = std::function<void(TPowersock *Sender)>;
using TOnStatus = std::function<void(TPowersock *Sender, const std::string &Status)>;

using SockPtr = std::shared_ptr<Sock>;

// Cancels one component's blocking operation from any thread, also after
// the component has gone (then it does nothing). Obtained with
// TPowersock::CancelHandle().
class TCancelHandle {
public:
    void Cancel();

private:
    friend class TPowersock;
    std::mutex mutex_;
    TPowersock *owner_ = nullptr;
};

constexpr int kIOBufferSize = 65536;
constexpr std::uint16_t kNoSocket = 0xFFFF;

class TPowersock : protected INotifyTarget {
public:
    // Raises ESockError "Initializaton of windows sockets failed" when no
    // socket can be made.
    TPowersock();
    virtual ~TPowersock();
    TPowersock(const TPowersock &) = delete;
    TPowersock &operator=(const TPowersock &) = delete;

    // Published properties and events. Set them on the creating thread.
    std::string Host; // a name or a dotted IPv4 address
    std::int32_t Port = 0;
    std::int32_t TimeOut = 0; // milliseconds, 0 = no time-out
    std::int32_t ReportLevel = 0;
    // How a blocking call waits (see the top of this file). Set it before
    // the first operation, on the thread that will use the component.
    bool PumpWhileWaiting = true;
    // Milliseconds of waiting with no byte moved after which the waiting
    // operation ends with EIdleError; 0 or less: no limit. Not TimeOut, which
    // bounds a whole operation: a transfer that keeps moving is never cut.
    std::int32_t IdleLimit = 60000;
    TNotifyEvent OnDisconnect;
    TNotifyEvent OnConnect;
    THandlerEvent OnInvalidHost;
    TOnHostResolved OnHostResolved;
    TOnStatus OnStatus;
    TNotifyEvent OnConnectionFailed;
    TNotifyEvent OnPacketRecvd; // per block received by CaptureStream
    TNotifyEvent OnPacketSent;  // per successful send of SendStream

    // Resolves Host (a dotted address needs no look-up), asks OnInvalidHost
    // at most once to repair it, and connects to Port. Raises ESockError
    // "Already connected", "Null Remote Address", "Host Lookup Timed Out",
    // "Host Lookup Canceled", "Connection Timed out", "Connection Canceled"
    // or "Connection Failed" (the refused/unreachable number is in LastError).
    virtual void Connect();
    // Closes the connection in order; a fresh socket takes its place at once.
    virtual void Disconnect();
    // Cuts the connection: an abortive close (SO_LINGER 0), so the peer sees
    // a reset, never an orderly end. Wakes a transfer waiting on the socket
    // on another thread; a fresh socket takes its place. Any thread.
    void ResetConnection();
    // Accepts the pending connection of a listening component (the caller
    // sets EventDone first). Raises "Accepting Canceled",
    // "Error creating Data Connection".
    virtual SockPtr Accept();
    // Writeln(command), then ReadLn into LastReply; ReplyNumber from its digits.
    virtual std::string Transaction(const std::string &command);
    // Cancels the operation in progress; clients also disconnect.
    virtual void Abort();

    void CloseSocket();
    // Sets Canceled: the running (or the next) blocking operation ends. Any
    // thread; wakes a non-pumping wait at once (its socket's receiving side
    // is shut down, so the connection is good for no more reading).
    void Cancel();
    // A handle that cancels this component's operations and outlives it.
    std::shared_ptr<TCancelHandle> CancelHandle() const { return cancelHandle_; }
    // Binds to all local addresses and Port and listens. A failure raises
    // nothing (the component then never sees a connection); its reason is
    // kept in ListenError.
    void Listen();
    std::string GetLocalIP();
    void ResolveHost();
    // Looks name up as a non-pumping ResolveHost does, without touching
    // Host: the IPv4 address in network order, 0 when none is found. Raises
    // ESockError "Host Lookup Canceled" / "Host Lookup Timed Out". For a
    // component that does not pump; the thread calling it waits.
    std::uint32_t LookupIPv4(const std::string &name);
    bool DataAvailable();
    void TimerOn();
    void TimerOff();
    void TimerTriggered();
    std::string LookupErrorText(std::uint16_t number);
    // Raises ESockError with the error text of the last failed socket call,
    // unless it is `ignore` or 10000 and below.
    void CheckSocketError(std::uint16_t ignore);
    void ReportStatus(std::uint8_t level, const std::string &text);

    // Blocking transfers: raw bytes, no conversion, no framing.
    // Canceled or timed out: EAbortError "Socket send aborted" (SendBuffer,
    // Write, Writeln, Read, SendStream), "Socket readln aborted" (ReadLn),
    // "Socket capture aborted" (CaptureStream).
    void SendBuffer(const char *data, std::uint16_t count); // count 0: up to the first zero byte
    void Write(const std::string &text);   // up to the first zero byte; 65,536 bytes or more: ERangeError
    void Writeln(const std::string &text); // text + CR LF
    // Exactly n bytes, or "" when the peer has closed before n bytes came.
    // Bytes are taken as they arrive: a cancelled Read loses what it took.
    std::string Read(std::uint16_t n);
    // Waits until at least one byte is there and takes up to most bytes into
    // buffer; 0 when the peer has closed. Canceled: EAbortError "Socket send
    // aborted".
    std::size_t ReadSome(char *buffer, std::size_t most);
    // One line through its line feed (CR LF kept); "" when the peer closes
    // first. A line longer than the transfer buffer raises ESockError.
    std::string ReadLn();
    // The stream's bytes from position from (0: its first) to its end, in
    // blocks of at most 64 KiB (a memory stream from where it holds them, a
    // TFileStream straight from the file). BytesSent starts at from, so a
    // continued transfer shows what went before as done. A TFileStream that
    // cannot be read to the end, or changes size meanwhile, raises
    // EFileError (see filestream.h).
    void SendStream(TStream &stream, std::int64_t from = 0);
    // Appends what arrives until the stream holds at least size bytes or the
    // peer closes; everything waiting is taken, even beyond size.
    void CaptureStream(TStream &stream, std::int64_t size);

    // Encrypts the connection in place: runs the TLS 1.3 handshake (both
    // sides presenting certificates) on the current socket, after which
    // every transfer above goes through the link. check decides about the
    // peer's certificate by its fingerprint; sessionKey (client) resumes an
    // earlier session with the same peer. Raises ETlsRefused when this
    // side refused the peer's key, ETlsError for any other failure; the
    // connection is then reset. Non-pumping components only.
    void StartTls(TTlsContext &context, std::function<bool(const std::string &)> check,
                  const std::string &sessionKey = {});
    // The connection is encrypted (StartTls succeeded on it).
    bool Encrypted() const;
    // The fingerprint of the certificate the peer showed; "" in clear.
    std::string PeerFingerprint() const;
    // The handshake resumed an earlier session.
    bool TlsResumed() const;

    // State.
    bool Connected() const { return connected_; }
    bool Canceled() const { return canceled_; }
    bool TimedOut() const { return timedOut_; }
    bool EventDone() const { return eventDone_; }
    bool LastEventOK() const { return lastEventOK_; }
    std::int32_t LastError() const { return lastError_; }
    std::string LastStatus() const;
    // Progress counters, readable from any thread while a transfer runs.
    std::int64_t BytesSent() const { return bytesSent_; }
    std::int64_t BytesTotal() const { return bytesTotal_; }
    std::int64_t BytesRecvd() const { return bytesRecvd_; }
    std::string LastReply() const { return lastReply_; }
    std::int16_t ReplyNumber() const { return replyNumber_; }
    sockaddr_in RemoteAddress() const;
    // The peer's IPv4 address in network order: the one connected to, or on
    // a connection object the client's. Any thread.
    std::uint32_t PeerAddress() const { return RemoteAddress().sin_addr.s_addr; }
    // When a byte last arrived on the connection (steady clock,
    // nanoseconds; 0 when none has). Any thread.
    std::int64_t LastReceivedNs() const { return lastReceivedNs_; }
    std::uint16_t SocketHandle() const;
    // The local port of the socket (after Listen on Port 0: the one chosen).
    std::uint16_t LocalPort() const;
    // The Windows Sockets number of a failed bind or listen, 0 when listening.
    std::int32_t ListenError() const { return listenError_; }
    char *IOBuffer() { return ioBuffer_.get(); }
    static int SocketLibraryUsers();

protected:
    void HandleSocketMessage(int message, int event, int error, std::uint64_t tag,
                             std::uint32_t address) override;

    // The framework's "being destroyed" state: no OnStatus, no OnDisconnect,
    // and no more notifications or ticks. Every derived destructor calls it
    // first, so that no notification can reach an object half destroyed
    // (it waits for one in progress on another thread).
    void BeginDestroy();
    bool ComponentDestroying() const { return componentDestroying_; }

    void SetConnected(bool value) { connected_ = value; }
    void SetEventDone(bool value) { eventDone_ = value; }
    void SetBytesTotal(std::int64_t value) { bytesTotal_ = value; }
    void SetBytesRecvd(std::int64_t value) { bytesRecvd_ = value; }
    void AddBytesRecvd(std::int64_t value) { bytesRecvd_ += value; }
    // Replaces this component's socket by an accepted one (from the peer at
    // `peer`) and, when it pumps, directs its close notification here.
    void AdoptSocket(SockPtr accepted, const sockaddr_in &peer);
    SockPtr CurrentSock() const;
    // Stops the notifications of the current socket (for a component that
    // has just been told not to pump).
    void UnwatchSocket();
    // The thread that receives this component's notifications (null if none).
    ThreadRef NotifyThread() const { return link_->Thread(); }

    // Called on every incoming-connection notification (listening servers).
    std::function<void(TPowersock *Sender)> AcceptHandler;

    // Waits until the socket shows one of events (poll flags), pumping or
    // not as PumpWhileWaiting says. False when the wait ended because of
    // Canceled (also by the time-out clock). Raises EIdleError when the idle
    // limit runs out. Every wait of the component goes through here.
    bool WaitSocket(const SockPtr &sock, short events);
    // Bytes moved (arrived, when received): the idle count starts again.
    void Moved(bool received = false);

private:
    struct TTlsBinding;
    std::shared_ptr<TTlsBinding> CurrentTls() const;
    // Runs a call on the TLS link, turning a failure that a cancel caused
    // into the clear transfer's EAbortError.
    template <class F> auto OnTls(F &&call);
    void InitSocket();
    SockPtr NewSocket(int protocol);
    // Directs the socket's notifications (mask) to this component when it
    // pumps; a non-pumping component has none.
    void Arm(const SockPtr &sock, int mask);
    // Binds the notifications to the calling thread if nothing has yet.
    void EnsureNotifications();
    void EnsureTimer();
    void CloseOrReset(bool reset);
    // Whether the connecting socket shows the outcome of its attempt (a
    // failure clears LastEventOK).
    bool ConnectOutcome(const SockPtr &sock);
    void ResolveWithoutPump();
    [[noreturn]] void ThrowIdle();
    bool DeadlinePassed() const;
    void SendFromFile(TFileStream &file, std::int64_t from);
    // Sends count bytes unless cancelled; false when a send took nothing
    // (the transfer then ends quietly). progress: counts them in BytesSent
    // and raises OnPacketSent per send.
    bool SendAll(const char *data, std::size_t count, bool progress);
    void Sent(std::int64_t count);
    // One send or receive on sock; -1 with the thread's socket error set on
    // failure (10057 when there is no socket).
    static long SendSome(const SockPtr &sock, const char *data, std::size_t count);
    static long RecvSome(const SockPtr &sock, char *buffer, std::size_t count, bool peek);

    // Pumps when a millisecond has passed since the last pump: a transfer
    // that is moving data keeps the thread responsive without paying for a
    // pump on every 64 KiB.
    void PumpNowAndThen();

    std::unique_ptr<char[]> ioBuffer_;
    std::int64_t lastPumpNs_ = 0;
    std::shared_ptr<NotifyLink> link_;
    std::unique_ptr<TThreadTimer> timer_; // made on first use in the pumping way
    std::shared_ptr<TCancelHandle> cancelHandle_ = std::make_shared<TCancelHandle>();

    // The idle count: milliseconds waited since a byte last moved.
    std::int64_t idleWaitedMs_ = 0;
    std::atomic<std::int64_t> lastReceivedNs_{0};
    // The time-out clock of a non-pumping wait.
    std::shared_ptr<TNameLookup> lookup_; // the look-up waited for (stateMutex_)
    bool deadlineOn_ = false;
    std::int32_t deadlineInterval_ = 0;
    std::int64_t deadlineNs_ = 0;

    std::atomic<std::int64_t> bytesSent_{0};
    std::atomic<std::int64_t> bytesTotal_{0};
    std::atomic<std::int64_t> bytesRecvd_{0};
    std::atomic<bool> canceled_{false};
    std::atomic<bool> destroying_{false};
    std::atomic<bool> componentDestroying_{false};
    std::atomic<std::int32_t> lastError_{0};
    std::atomic<bool> lastEventOK_{false};
    std::atomic<bool> timedOut_{false};
    std::atomic<bool> eventDone_{false};
    std::atomic<bool> connected_{false};
    std::atomic<std::int32_t> listenError_{0};

    mutable std::mutex stateMutex_; // sock_, remote_, lastStatus_, waitingSock_
    SockPtr sock_;
    std::shared_ptr<TTlsBinding> tls_; // the link over sock_, when encrypted
    SockPtr waitingSock_; // the socket a non-pumping wait blocks on
    sockaddr_in remote_ {};
    std::string lastStatus_;

    std::string lastReply_;
    std::int16_t replyNumber_ = 0;

    // The look-up in progress.
    std::uint64_t lookupTag_ = 0;
    std::uint32_t lookupAddress_ = 0;
};

} // namespace dz::net

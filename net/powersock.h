#pragma once
// TPowersock: one IPv4 TCP socket offering blocking operations over an
// asynchronous, non-blocking socket. Each blocking call loops until its flag
// or its data is there and pumps the calling thread's event queue on every
// pass, so notifications, timer ticks and the user interface keep being
// served while it waits. A wait with nothing to do sleeps (briefly, on the
// socket or the thread's notifications) instead of spinning.
//
// Threads: notifications (OnConnect, OnDisconnect, the accept handler, the
// time-out clock) run on the thread that created the component, when it
// pumps. Blocking operations run on the calling thread; one component's
// blocking operations must not overlap, except that Cancel and Abort may be
// called from anywhere while another operation waits.

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
// A value outside its range (a port above 65535, a text too long for the
// transfer buffer, a negative time-out...).
class ERangeError : public Exception {
public:
    ERangeError() : Exception("Range check error") {}
};

class TPowersock;
using TNotifyEvent = std::function<void(TPowersock *Sender)>;
using THandlerEvent = std::function<void(bool &Handled)>;
using TOnHostResolved = std::function<void(TPowersock *Sender)>;
using TOnStatus = std::function<void(TPowersock *Sender, const std::string &Status)>;

using SockPtr = std::shared_ptr<Sock>;

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
    // Closes the connection; a fresh socket takes its place at once.
    virtual void Disconnect();
    // Accepts the pending connection of a listening component (the caller
    // sets EventDone first). Raises "Accepting Canceled",
    // "Error creating Data Connection".
    virtual SockPtr Accept();
    // Writeln(command), then ReadLn into LastReply; ReplyNumber from its digits.
    virtual std::string Transaction(const std::string &command);
    // Cancels the operation in progress; clients also disconnect.
    virtual void Abort();

    void CloseSocket();
    // Sets Canceled: the running (or the next) blocking operation ends.
    void Cancel();
    // Binds to all local addresses and Port and listens. A failure raises
    // nothing (the component then never sees a connection); its reason is
    // kept in ListenError.
    void Listen();
    std::string GetLocalIP();
    void ResolveHost();
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
    std::string Read(std::uint16_t n);
    // One line through its line feed (CR LF kept); "" when the peer closes
    // first. A line longer than the transfer buffer raises ESockError.
    std::string ReadLn();
    // The stream's bytes from position 0 to its end, in blocks of at most 64 KiB.
    void SendStream(TStream &stream);
    // Appends what arrives until the stream holds at least size bytes or the
    // peer closes; everything waiting is taken, even beyond size.
    void CaptureStream(TStream &stream, std::int32_t size);

    // State.
    bool Connected() const { return connected_; }
    bool Canceled() const { return canceled_; }
    bool TimedOut() const { return timedOut_; }
    bool EventDone() const { return eventDone_; }
    bool LastEventOK() const { return lastEventOK_; }
    std::int32_t LastError() const { return lastError_; }
    std::string LastStatus() const;
    std::int32_t BytesSent() const { return bytesSent_; }
    std::int32_t BytesTotal() const { return bytesTotal_; }
    std::int32_t BytesRecvd() const { return bytesRecvd_; }
    std::string LastReply() const { return lastReply_; }
    std::int16_t ReplyNumber() const { return replyNumber_; }
    sockaddr_in RemoteAddress() const;
    // A connection object's peer: its IPv4 address, network order.
    std::uint32_t PeerAddress() const { return RemoteAddress().sin_addr.s_addr; }
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
    void SetBytesTotal(std::int32_t value) { bytesTotal_ = value; }
    void SetBytesRecvd(std::int32_t value) { bytesRecvd_ = value; }
    // Replaces this component's socket by an accepted one and directs its
    // events here.
    void AdoptSocket(SockPtr accepted, const sockaddr_in &peer);
    SockPtr CurrentSock() const;

    // Called on every incoming-connection notification (listening servers).
    std::function<void(TPowersock *Sender)> AcceptHandler;

private:
    void InitSocket();
    SockPtr NewSocket(int protocol);
    // One send or receive on sock; -1 with the thread's socket error set on
    // failure (10057 when there is no socket).
    static long SendSome(const SockPtr &sock, const char *data, std::size_t count);
    // rearm false: the caller is a bulk receive that re-enables the
    // data-to-read notification once, when it ends, instead of after every
    // block (a notification per block would cost a round trip through the
    // poller and the owner thread for nothing).
    static long RecvSome(const SockPtr &sock, char *buffer, std::size_t count, bool peek, bool rearm = true);

    // Pumps when a millisecond has passed since the last pump: a transfer
    // that is moving data keeps the thread responsive without paying for a
    // pump on every 64 KiB.
    void PumpNowAndThen();

    std::unique_ptr<char[]> ioBuffer_;
    std::int64_t lastPumpNs_ = 0;
    std::shared_ptr<NotifyLink> link_;
    std::unique_ptr<TThreadTimer> timer_;

    std::atomic<std::int32_t> bytesSent_{0};
    std::atomic<std::int32_t> bytesTotal_{0};
    std::atomic<std::int32_t> bytesRecvd_{0};
    std::atomic<bool> canceled_{false};
    std::atomic<bool> destroying_{false};
    std::atomic<bool> componentDestroying_{false};
    std::atomic<std::int32_t> lastError_{0};
    std::atomic<bool> lastEventOK_{false};
    std::atomic<bool> timedOut_{false};
    std::atomic<bool> eventDone_{false};
    std::atomic<bool> connected_{false};
    std::atomic<std::int32_t> listenError_{0};

    mutable std::mutex stateMutex_; // sock_, remote_, lastStatus_
    SockPtr sock_;
    sockaddr_in remote_ {};
    std::string lastStatus_;

    std::string lastReply_;
    std::int16_t replyNumber_ = 0;

    // The look-up in progress.
    std::uint64_t lookupTag_ = 0;
    std::uint32_t lookupAddress_ = 0;
};

} // namespace dz::net

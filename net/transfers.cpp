// The blocking transfers of TPowersock.

#include "powersock.h"

#include "net/filestream.h"
#include "net/nosigpipe.h"
#include "net/sockerrors.h"
#include "net/tlsbinding.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <csignal>
#include <poll.h>
#include <pthread.h>
#include <sys/sendfile.h>
#include <sys/socket.h>

namespace dz::net {
namespace {

// Runs TimerOff when a transfer ends, also by an exception.
struct TimerGuard {
    TPowersock &sock;
    ~TimerGuard()
    {
        try {
            sock.TimerOff();
        } catch (...) {
        }
    }
};

} // namespace

void TPowersock::PumpNowAndThen()
{
    const std::int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                 std::chrono::steady_clock::now().time_since_epoch())
                                 .count();
    if (now - lastPumpNs_ >= 1'000'000) {
        lastPumpNs_ = now;
        Pump();
    }
}

long TPowersock::SendSome(const SockPtr &sock, const char *data, std::size_t count)
{
    if (!sock) {
        WSASetLastError(WSAENOTCONN);
        return -1;
    }
    const ssize_t n = ::send(sock->fd(), data, count, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0)
        WSASetLastError(WsaErrorFromErrno(errno));
    return n;
}

long TPowersock::RecvSome(const SockPtr &sock, char *buffer, std::size_t count, bool peek)
{
    if (!sock) {
        WSASetLastError(WSAENOTCONN);
        return -1;
    }
    const ssize_t n = ::recv(sock->fd(), buffer, count, (peek ? MSG_PEEK : 0) | MSG_DONTWAIT);
    if (n < 0)
        WSASetLastError(WsaErrorFromErrno(errno));
    return n;
}

bool TPowersock::SendAll(const char *data, std::size_t count, bool progress)
{
    if (const auto tls = CurrentTls()) {
        if (canceled_ || count == 0)
            return true;
        OnTls([&] {
            tls->link->WriteAll(data, count);
            return 0;
        });
        Moved();
        if (progress)
            Sent(static_cast<std::int64_t>(count));
        return true;
    }
    std::size_t sent = 0;
    while (sent < count && !canceled_) {
        const SockPtr sock = CurrentSock();
        const long k = SendSome(sock, data + sent, count - sent);
        if (k == 0)
            return false;
        if (k < 0) {
            CheckSocketError(WSAEWOULDBLOCK);
            // The send buffer is full: wait until it drains.
            WaitSocket(sock, POLLOUT | POLLRDHUP);
            continue;
        }
        sent += static_cast<std::size_t>(k);
        Moved();
        if (progress)
            Sent(k);
    }
    return true;
}

void TPowersock::Sent(std::int64_t count)
{
    bytesSent_ += count;
    if (OnPacketSent)
        OnPacketSent(this);
    if (PumpWhileWaiting)
        PumpNowAndThen();
}

void TPowersock::SendBuffer(const char *data, std::uint16_t count)
{
    ReportStatus(4, "Sending Buffer");
    TimerOn();
    TimerGuard guard {*this};
    if (!canceled_) {
        std::size_t total = count;
        if (total == 0) {
            total = ::strnlen(data, kIOBufferSize);
            if (total > 65535)
                throw ERangeError();
        }
        SendAll(data, total, false);
    }
    if (canceled_) {
        canceled_ = false;
        throw EAbortError("Socket send aborted");
    }
}

void TPowersock::Write(const std::string &text)
{
    ReportStatus(8, "Write");
    if (text.size() >= static_cast<std::size_t>(kIOBufferSize))
        throw ERangeError();
    std::memcpy(ioBuffer_.get(), text.data(), text.size());
    ioBuffer_[text.size()] = '\0';
    SendBuffer(ioBuffer_.get(), 0);
}

void TPowersock::Writeln(const std::string &text)
{
    ReportStatus(8, "Writeln");
    Write(text + "\r\n");
}

std::size_t TPowersock::ReadSome(char *buffer, std::size_t most)
{
    if (const auto tls = CurrentTls()) {
        if (!canceled_) {
            const std::size_t k = OnTls([&] { return tls->link->ReadSome(buffer, most); });
            if (k > 0)
                Moved(true);
            return k;
        }
        canceled_ = false;
        throw EAbortError("Socket send aborted");
    }
    while (!canceled_) {
        const SockPtr sock = CurrentSock();
        const long k = RecvSome(sock, buffer, most, false);
        if (k >= 0) {
            if (k > 0)
                Moved(true);
            return static_cast<std::size_t>(k);
        }
        CheckSocketError(WSAEWOULDBLOCK);
        WaitSocket(sock, POLLIN | POLLRDHUP);
    }
    canceled_ = false;
    throw EAbortError("Socket send aborted");
}

std::string TPowersock::Read(std::uint16_t n)
{
    ReportStatus(8, "Read( " + std::to_string(n) + " )");
    if (n == 0)
        return {};
    // The bytes are taken as they come: waiting for all n to be there
    // would wake the thread on every byte of a slow sender.
    std::string result(n, '\0');
    std::size_t got = 0;
    while (got < n) {
        const std::size_t k = ReadSome(result.data() + got, n - got);
        if (k == 0)
            return {}; // the peer closed before n bytes came
        got += k;
    }
    return result;
}

std::string TPowersock::ReadLn()
{
    ReportStatus(8, "ReadLn");
    TimerOn();
    TimerGuard guard {*this};
    char *buffer = ioBuffer_.get();
    std::string result;
    std::size_t taken = 0;
    std::size_t lineEnd = 0;
    SockPtr sock;
    if (CurrentTls())
        throw ESockError("Lines are not read on an encrypted connection");
    while (!canceled_) {
        if (taken >= static_cast<std::size_t>(kIOBufferSize))
            throw ESockError("Socket readln line too long");
        sock = CurrentSock();
        const long k = RecvSome(sock, buffer + taken, kIOBufferSize - taken, true);
        if (k == 0)
            return {};
        if (k < 0) {
            lastError_ = WSAGetLastError();
            if (lastError_ == WSAENOTCONN)
                return {}; // nothing beyond the bytes already taken is read
            CheckSocketError(WSAEWOULDBLOCK);
        } else {
            const auto valid = taken + static_cast<std::size_t>(k);
            const void *lf = std::memchr(buffer + taken, '\n', static_cast<std::size_t>(k));
            if (lf) {
                lineEnd = static_cast<std::size_t>(static_cast<const char *>(lf) - buffer);
                result.resize(lineEnd + 1);
                const long got = RecvSome(sock, result.data() + taken, lineEnd + 1 - taken, false);
                result.resize(taken + static_cast<std::size_t>(got > 0 ? got : 0));
                Moved(true);
                return result;
            }
            // No line end yet: take what is there, so the next wait sleeps
            // until more comes.
            result.resize(valid);
            const long got = RecvSome(sock, result.data() + taken, static_cast<std::size_t>(k), false);
            if (got > 0) {
                taken += static_cast<std::size_t>(got);
                Moved(true);
            }
            result.resize(taken);
            continue;
        }
        WaitSocket(sock, POLLIN | POLLRDHUP);
    }
    canceled_ = false;
    throw EAbortError("Socket readln aborted");
}

std::string TPowersock::Transaction(const std::string &command)
{
    ReportStatus(8, "Transaction");
    replyNumber_ = 0;
    Writeln(command);
    lastReply_ = ReadLn();
    if (!lastReply_.empty()) {
        ReportStatus(1, lastReply_);
        std::size_t digits = 0;
        while (digits < lastReply_.size() && digits < 10 && lastReply_[digits] >= '0' && lastReply_[digits] <= '9')
            ++digits;
        if (digits > 0) {
            long long value = std::stoll(lastReply_.substr(0, digits));
            if (value > INT_MAX)
                value = 0;
            if (value > 32767)
                throw ERangeError();
            replyNumber_ = static_cast<std::int16_t>(value);
        }
    }
    return lastReply_;
}

void TPowersock::SendStream(TStream &stream, std::int64_t from)
{
    ReportStatus(8, "SendStream");
    from = std::clamp<std::int64_t>(from, 0, stream.Size());
    stream.SetPosition(from);
    if (!canceled_) {
        bytesSent_ = from;
        bytesTotal_ = stream.Size();
        if (auto *file = dynamic_cast<TFileStream *>(&stream)) {
            SendFromFile(*file, from);
        } else {
            // A memory stream is sent from where it holds its bytes; any
            // other stream is copied block by block through the I/O buffer.
            auto *memory = dynamic_cast<TMemoryStream *>(&stream);
            do {
                const char *buffer = ioBuffer_.get();
                std::size_t chunk = 0;
                if (memory) {
                    const std::span<const char> run = memory->ReadableRun(kIOBufferSize);
                    buffer = run.data();
                    chunk = run.size();
                    memory->Skip(static_cast<std::int64_t>(chunk));
                } else {
                    const std::int64_t left = stream.Size() - stream.Position();
                    chunk = static_cast<std::size_t>(
                        stream.Read(ioBuffer_.get(), left < kIOBufferSize ? left : kIOBufferSize));
                }
                if (!SendAll(buffer, chunk, true))
                    return;
                if (chunk == 0)
                    break;
            } while (stream.Position() < stream.Size() && !canceled_);
        }
    }
    if (canceled_) {
        canceled_ = false;
        throw EAbortError("Socket send aborted");
    }
}

void TPowersock::SendFromFile(TFileStream &file, std::int64_t from)
{
    const NoSigpipe noSigpipe;
    const std::int64_t size = file.Size();
    std::int64_t offset = from;
    if (const auto tls = CurrentTls()) {
        // In parts, so that a cancel and the last check of the file come
        // between them as they do in clear.
        while (offset < size && !canceled_) {
            const std::int64_t part = std::min<std::int64_t>(size - offset, 1 << 20);
            if (part == size - offset)
                file.CheckUnchanged();
            OnTls([&] {
                tls->link->SendFile(file.Handle(), offset, part, [this](std::int64_t n) {
                    Moved();
                    Sent(n);
                });
                return 0;
            });
            offset += part;
        }
        file.SetPosition(offset);
        if (!canceled_)
            file.CheckUnchanged();
        return;
    }
    while (offset < size && !canceled_) {
        const SockPtr sock = CurrentSock();
        if (!sock) {
            WSASetLastError(WSAENOTCONN);
            CheckSocketError(WSAEWOULDBLOCK);
            return;
        }
        // The file goes from the page cache to the socket without passing
        // through this process's memory.
        off_t at = static_cast<off_t>(offset);
        const std::size_t most = static_cast<std::size_t>(std::min<std::int64_t>(size - offset, 1 << 20));
        // Before the last bytes leave, make sure the file is still what was
        // announced: once they are out, the receiver stores the stream.
        if (static_cast<std::int64_t>(most) == size - offset)
            file.CheckUnchanged();
        const ssize_t k = ::sendfile(sock->fd(), file.Handle(), &at, most);
        if (k < 0) {
            const int err = errno;
            if (err == EAGAIN || err == EINTR) {
                WaitSocket(sock, POLLOUT | POLLRDHUP);
                continue;
            }
            if (err == EINVAL || err == EIO || err == EISDIR || err == EOVERFLOW)
                file.ThrowUnreadable();
            WSASetLastError(WsaErrorFromErrno(err));
            CheckSocketError(WSAEWOULDBLOCK);
            continue;
        }
        if (k == 0)
            file.ThrowChanged(); // the file ended before its size
        offset += k;
        Moved();
        Sent(k);
    }
    file.SetPosition(offset);
    if (!canceled_)
        file.CheckUnchanged();
}

void TPowersock::CaptureStream(TStream &stream, std::int64_t size)
{
    ReportStatus(8, "Capture Stream");
    bytesRecvd_ = 0;
    TimerOn();
    TimerGuard guard {*this};
    char *buffer = ioBuffer_.get();
    // A memory stream that is being filled at its end receives straight
    // into its own blocks; anything else through the I/O buffer.
    auto *memory = dynamic_cast<TMemoryStream *>(&stream);
    const bool encrypted = CurrentTls() != nullptr;
    if (encrypted) {
        while (!canceled_ && stream.Size() < size) {
            const std::size_t k = ReadSome(buffer, kIOBufferSize);
            if (k == 0)
                break;
            stream.Write(buffer, static_cast<std::int64_t>(k));
            bytesRecvd_ += static_cast<std::int64_t>(k);
            if (OnPacketRecvd)
                OnPacketRecvd(this);
        }
    }
    while (!encrypted && !canceled_ && stream.Size() < size) {
        const SockPtr sock = CurrentSock();
        const std::span<char> room = memory ? memory->AppendRoom(kIOBufferSize) : std::span<char>();
        const bool direct = !room.empty();
        const long k = RecvSome(sock, direct ? room.data() : buffer, direct ? room.size() : kIOBufferSize, false);
        if (k == 0)
            break;
        if (k > 0) {
            if (direct)
                memory->Appended(static_cast<std::size_t>(k));
            else
                stream.Write(buffer, k);
            bytesRecvd_ += k;
            Moved(true);
            if (OnPacketRecvd)
                OnPacketRecvd(this);
            TimerOn();
            if (PumpWhileWaiting)
                PumpNowAndThen();
        } else {
            lastError_ = WSAGetLastError();
            if (lastError_ == WSAENOTCONN)
                break;
            CheckSocketError(WSAEWOULDBLOCK);
            WaitSocket(sock, POLLIN | POLLRDHUP);
        }
    }
    if (canceled_) {
        canceled_ = false;
        throw EAbortError("Socket capture aborted");
    }
}

} // namespace dz::net

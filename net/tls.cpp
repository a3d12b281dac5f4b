#include "net/tls.h"

#include "net/nosigpipe.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace dz::net {
namespace {

// Where a link finds itself from inside OpenSSL's callbacks.
int LinkIndex()
{
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

// What a file travels in when the kernel does not encrypt: read once into
// pages of its own, encrypted from there in records of the full 16 KiB.
constexpr std::size_t kSendBuffer = std::size_t {256} << 10;

std::string OpenSslErrors()
{
    std::string text;
    char line[256];
    while (const unsigned long e = ERR_get_error()) {
        ERR_error_string_n(e, line, sizeof line);
        if (!text.empty())
            text += "; ";
        text += line;
    }
    return text;
}

std::string IdleText(int ms)
{
    const std::string amount = ms % 1000 == 0 ? std::to_string(ms / 1000) + " seconds" : std::to_string(ms) + " ms";
    return "Connection idle for " + amount + ": nothing was sent or received";
}

} // namespace

TFingerprintCheck ExpectFingerprint(std::string fingerprint)
{
    return [expected = std::move(fingerprint)](const std::string &seen) {
        return !expected.empty() && seen == expected;
    };
}

TTlsContext::TTlsContext(Role role, const TIdentity *identity) : role_(role)
{
    ctx_ = SSL_CTX_new(role == Role::Client ? TLS_client_method() : TLS_server_method());
    if (ctx_ == nullptr)
        throw Exception("Cannot set up TLS: " + OpenSslErrors());
    bool ok = SSL_CTX_set_min_proto_version(ctx_, TLS1_3_VERSION) == 1 &&
              SSL_CTX_set_max_proto_version(ctx_, TLS1_3_VERSION) == 1 &&
              // AES-GCM first: the processors of today do it in hardware.
              SSL_CTX_set_ciphersuites(ctx_, "TLS_AES_128_GCM_SHA256:TLS_AES_256_GCM_SHA384:"
                                             "TLS_CHACHA20_POLY1305_SHA256") == 1;
    // The kernel encrypts when it can (the tls module); otherwise nothing changes.
    SSL_CTX_set_options(ctx_, SSL_OP_ENABLE_KTLS | SSL_OP_NO_RENEGOTIATION);
    // Records are read many at a time, not a header and a body per call.
    SSL_CTX_set_read_ahead(ctx_, 1);
    SSL_CTX_set_default_read_buffer_len(ctx_, std::size_t {64} << 10);
    if (identity != nullptr)
        ok = ok && SSL_CTX_use_certificate(ctx_, identity->Certificate()) == 1 &&
             SSL_CTX_use_PrivateKey(ctx_, identity->Key()) == 1 && SSL_CTX_check_private_key(ctx_) == 1;
    // Every peer must show a certificate; Verify decides by its fingerprint.
    SSL_CTX_set_verify(ctx_, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, TTlsLink::Verify);
    if (role == Role::Server) {
        // Resumed sessions with client certificates need a context name;
        // one ticket is enough, as a client keeps only the newest.
        static const unsigned char kId[] = "Dizaruz";
        ok = ok && SSL_CTX_set_session_id_context(ctx_, kId, sizeof kId - 1) == 1;
        SSL_CTX_set_num_tickets(ctx_, 1);
    } else {
        SSL_CTX_set_session_cache_mode(ctx_, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
        SSL_CTX_sess_set_new_cb(ctx_, NewSession);
    }
    if (!ok) {
        const std::string errors = OpenSslErrors();
        SSL_CTX_free(ctx_);
        throw Exception("Cannot set up TLS: " + errors);
    }
}

TTlsContext::~TTlsContext()
{
    ForgetSessions();
    SSL_CTX_free(ctx_);
}

void TTlsContext::ForgetSessions(const std::string &sessionKey)
{
    std::lock_guard lock(mutex_);
    for (auto it = sessions_.begin(); it != sessions_.end();) {
        if (sessionKey.empty() || it->first == sessionKey) {
            SSL_SESSION_free(it->second);
            it = sessions_.erase(it);
        } else {
            ++it;
        }
    }
}

int TTlsContext::NewSession(SSL *ssl, SSL_SESSION *session)
{
    auto *link = static_cast<TTlsLink *>(SSL_get_ex_data(ssl, LinkIndex()));
    if (link == nullptr || link->sessionKey_.empty())
        return 0;
    TTlsContext &self = link->context_;
    std::lock_guard lock(self.mutex_);
    SSL_SESSION *&slot = self.sessions_[link->sessionKey_];
    if (slot != nullptr)
        SSL_SESSION_free(slot);
    slot = session;
    return 1; // the reference is ours now
}

SSL_SESSION *TTlsContext::TakeSession(const std::string &key)
{
    std::lock_guard lock(mutex_);
    const auto it = sessions_.find(key);
    if (it == sessions_.end())
        return nullptr;
    SSL_SESSION_up_ref(it->second);
    return it->second;
}

TTlsLink::TTlsLink(TTlsContext &context, int fd, TFingerprintCheck check, std::string sessionKey)
    : context_(context), fd_(fd), check_(std::move(check)), sessionKey_(std::move(sessionKey))
{
    ssl_ = SSL_new(context_.ctx_);
    if (ssl_ == nullptr || SSL_set_fd(ssl_, fd_) != 1) {
        SSL_free(ssl_);
        throw ETlsError("Cannot set up TLS: " + OpenSslErrors());
    }
    SSL_set_ex_data(ssl_, LinkIndex(), this);
    if (context_.role_ == TTlsContext::Role::Client) {
        SSL_set_connect_state(ssl_);
        if (!sessionKey_.empty()) {
            if (SSL_SESSION *session = context_.TakeSession(sessionKey_)) {
                SSL_set_session(ssl_, session);
                SSL_SESSION_free(session);
            }
        }
    } else {
        SSL_set_accept_state(ssl_);
    }
    // TLS writes whole records, and a handshake is several small flights
    // each waiting for the other side: Nagle's wait for an ACK only adds
    // a delayed-ACK pause to every connection.
    const int on = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    savedFlags_ = ::fcntl(fd_, F_GETFL);
    if (savedFlags_ >= 0 && (savedFlags_ & O_NONBLOCK) == 0)
        ::fcntl(fd_, F_SETFL, savedFlags_ | O_NONBLOCK);
}

TTlsLink::~TTlsLink()
{
    // OpenSSL spoils the session of a link freed without a shutdown; only
    // a failed link deserves that, not one its owner simply let go.
    if (!failed_)
        SSL_set_shutdown(ssl_, SSL_SENT_SHUTDOWN);
    SSL_free(ssl_);
    if (savedFlags_ >= 0 && (savedFlags_ & O_NONBLOCK) == 0)
        ::fcntl(fd_, F_SETFL, savedFlags_);
}

int TTlsLink::Verify(int preverified, X509_STORE_CTX *store)
{
    (void)preverified; // chains and dates mean nothing here: the fingerprint does
    auto *ssl = static_cast<SSL *>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto *link = ssl ? static_cast<TTlsLink *>(SSL_get_ex_data(ssl, LinkIndex())) : nullptr;
    if (link == nullptr)
        return 0;
    if (X509_STORE_CTX_get_error_depth(store) > 0)
        return 1;
    const std::string fingerprint = CertificateFingerprint(X509_STORE_CTX_get_current_cert(store));
    if (!fingerprint.empty() && fingerprint == link->peerFingerprint_)
        return 1; // called again for the same certificate
    bool accepted = false;
    try {
        accepted = !fingerprint.empty() && link->check_ && link->check_(fingerprint);
    } catch (...) {
        accepted = false;
    }
    if (accepted) {
        link->peerFingerprint_ = fingerprint;
        return 1;
    }
    link->refused_ = fingerprint.empty() ? std::string("?") : fingerprint;
    X509_STORE_CTX_set_error(store, X509_V_ERR_CERT_REJECTED);
    return 0;
}

void TTlsLink::Wait(short events)
{
    pollfd p {fd_, events, 0};
    for (;;) {
        const int n = ::poll(&p, 1, IdleLimitMs > 0 ? IdleLimitMs : -1);
        if (n > 0)
            return; // readiness, an error or a hang-up: the next call tells which
        if (n == 0) {
            Reset();
            throw EIdleError(IdleText(IdleLimitMs));
        }
        if (errno != EINTR)
            Fail("poll failed");
    }
}

void TTlsLink::Fail(const std::string &what)
{
    const int reason = ERR_GET_REASON(ERR_peek_error());
    const std::string errors = OpenSslErrors();
    Reset();
    if (!refused_.empty())
        throw ETlsRefused("Peer certificate refused: " + refused_);
    if (reason == SSL_R_PEER_DID_NOT_RETURN_A_CERTIFICATE)
        throw ETlsRefused("Peer presented no certificate");
    throw ETlsError("TLS " + what + (errors.empty() ? std::string() : ": " + errors));
}

int TTlsLink::Drive(Op op, const std::function<int()> &call)
{
    static const char *const kWhat[] = {"read failed", "write failed", "handshake failed", "close failed"};
    const NoSigpipe noSigpipe; // an alert into a reset connection must not end the program
    for (;;) {
        ERR_clear_error();
        errno = 0;
        const int r = call();
        if (r > 0)
            return r;
        const int e = SSL_get_error(ssl_, r);
        if (e == SSL_ERROR_WANT_READ)
            Wait(POLLIN);
        else if (e == SSL_ERROR_WANT_WRITE)
            Wait(POLLOUT);
        else if (e == SSL_ERROR_ZERO_RETURN && op == Op::Read)
            return 0;
        else if (e == SSL_ERROR_SYSCALL && errno == EINTR)
            continue;
        else if (e == SSL_ERROR_SYSCALL && errno == 0 && ERR_peek_error() == 0)
            Fail(std::string(kWhat[static_cast<int>(op)]) + ": the connection ended without close_notify");
        else
            Fail(kWhat[static_cast<int>(op)]);
    }
}

void TTlsLink::Handshake()
{
    Drive(Op::Handshake, [this] { return SSL_do_handshake(ssl_); });
    // A resumed session skips the certificate callback: its certificate
    // came with the session and is checked here the same way.
    const std::string fingerprint = CertificateFingerprint(SSL_get0_peer_certificate(ssl_));
    if (fingerprint.empty()) {
        Reset();
        throw ETlsRefused("Peer presented no certificate");
    }
    if (fingerprint != peerFingerprint_) {
        bool accepted = false;
        try {
            accepted = check_ && check_(fingerprint);
        } catch (...) {
            accepted = false;
        }
        if (!accepted) {
            Reset();
            throw ETlsRefused("Peer certificate refused: " + fingerprint);
        }
        peerFingerprint_ = fingerprint;
    }
}

bool TTlsLink::Resumed() const
{
    return SSL_session_reused(ssl_) == 1;
}

bool TTlsLink::KernelSend() const
{
    return BIO_get_ktls_send(SSL_get_wbio(ssl_)) != 0;
}

std::size_t TTlsLink::ReadSome(char *buffer, std::size_t most)
{
    if (most == 0)
        return 0;
    std::size_t n = 0;
    Drive(Op::Read, [&] { return SSL_read_ex(ssl_, buffer, most, &n); });
    return n;
}

void TTlsLink::ReadExact(char *buffer, std::size_t n)
{
    while (n > 0) {
        const std::size_t got = ReadSome(buffer, n);
        if (got == 0)
            throw ETlsError("TLS read failed: the peer closed before the end");
        buffer += got;
        n -= got;
    }
}

void TTlsLink::WriteAll(const char *data, std::size_t size)
{
    while (size > 0) {
        std::size_t n = 0;
        // A retried write must be the same call, which Drive repeats.
        Drive(Op::Write, [&] { return SSL_write_ex(ssl_, data, size, &n); });
        data += n;
        size -= n;
    }
}

void TTlsLink::SendFile(int fileFd, std::int64_t offset, std::int64_t count,
                        const std::function<void(std::int64_t)> &sent)
{
    if (KernelSend()) {
        while (count > 0) {
            const std::size_t part = static_cast<std::size_t>(std::min<std::int64_t>(count, std::int64_t {1} << 30));
            const int n = Drive(Op::Write, [&] {
                const ossl_ssize_t r = SSL_sendfile(ssl_, fileFd, offset, part, 0);
                return r > 0 ? static_cast<int>(r) : (r == 0 ? -1 : static_cast<int>(r));
            });
            offset += n;
            count -= n;
            if (sent)
                sent(n);
        }
        return;
    }
    if (!buffer_) {
        void *pages = std::aligned_alloc(4096, kSendBuffer);
        if (pages == nullptr)
            throw std::bad_alloc();
        buffer_ = std::unique_ptr<char, void (*)(void *)>(static_cast<char *>(pages), std::free);
    }
    while (count > 0) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::int64_t>(count, kSendBuffer));
        const ssize_t n = ::pread(fileFd, buffer_.get(), want, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            Reset();
            throw EFileError("Cannot read file");
        }
        WriteAll(buffer_.get(), static_cast<std::size_t>(n));
        offset += n;
        count -= n;
        if (sent)
            sent(n);
    }
}

void TTlsLink::Close()
{
    const NoSigpipe noSigpipe;
    for (int tries = 0; tries < 2; ++tries) {
        ERR_clear_error();
        const int r = SSL_shutdown(ssl_);
        if (r >= 0)
            return; // close_notify is out; the peer's own is not awaited
        if (SSL_get_error(ssl_, r) != SSL_ERROR_WANT_WRITE)
            return;
        Wait(POLLOUT);
    }
}

void TTlsLink::Reset()
{
    failed_ = true;
    SSL_set_quiet_shutdown(ssl_, 1);
    const linger hard {1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    // Disconnecting a TCP socket sends the reset now and keeps the
    // descriptor, which only its owner closes.
    sockaddr none {};
    none.sa_family = AF_UNSPEC;
    ::connect(fd_, &none, sizeof none);
}

TFirstByte PeekFirstByte(int fd, int waitMs)
{
    pollfd p {fd, POLLIN, 0};
    for (;;) {
        const int n = ::poll(&p, 1, waitMs);
        if (n == 0)
            return TFirstByte::Waiting;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return TFirstByte::Closed;
        unsigned char first = 0;
        const ssize_t got = ::recv(fd, &first, 1, MSG_PEEK);
        if (got == 1)
            return first == 0x16 ? TFirstByte::Tls : TFirstByte::Clear;
        if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
            continue;
        return TFirstByte::Closed;
    }
}

} // namespace dz::net

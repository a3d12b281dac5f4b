#pragma once
// TLS 1.3 links between two copies of Dizaruz, over a TCP socket that is
// already connected (or accepted). Both sides present their certificate
// (TIdentity) and each accepts the other's only by its fingerprint, through
// a check the caller gives (pinned or announced); no certificate authority
// takes part.
//
// Threads: a TTlsContext is shared by every link of its role and may be
// used from any thread. A TTlsLink belongs to the thread that drives it;
// its calls block (in poll(2) on the socket, never pumping) until done, the
// peer closes, or IdleLimitMs passes with no byte moving (EIdleError). A
// TPowersock's Cancel, which shuts the socket's receiving side down, ends a
// waiting call with ETlsError.
//
// A link never closes its descriptor: the socket's owner does. After any
// failure of a record (a corrupted or forged one, a refused key) the link
// has already reset the connection (the peer sees ECONNRESET) and the
// descriptor is good for nothing but closing.

#include "net/identity.h"
#include "net/powersock.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;
typedef struct ssl_session_st SSL_SESSION;
typedef struct x509_store_ctx_st X509_STORE_CTX;

namespace dz::net {

// A TLS failure: a handshake that did not complete, a record that did not
// authenticate, an end without the peer's close_notify (a cut that could
// hide a truncation).
class ETlsError : public ESockError {
public:
    using ESockError::ESockError;
};
// The peer's certificate was refused: none, or not the expected
// fingerprint. Its text: "Peer certificate refused: <fingerprint>" (or
// "Peer presented no certificate"); the window tells the user.
class ETlsRefused : public ETlsError {
public:
    using ETlsError::ETlsError;
};

// Decides about the peer's certificate by its fingerprint (64 lowercase
// hex digits): true accepts. Runs on the link's thread, during Handshake.
using TFingerprintCheck = std::function<bool(const std::string &fingerprint)>;
// A check that accepts exactly one fingerprint (a client that knows whom it
// connects to: the pinned or announced key); an empty one accepts nothing.
TFingerprintCheck ExpectFingerprint(std::string fingerprint);

// The settings of one role and, on a client, the sessions kept per peer for
// resumption; on a server, the key of its session tickets. One of each role
// per process, shared by both services, so that a ticket from one port
// resumes on the other. Outlives every link made from it.
class TTlsContext {
public:
    enum class Role { Client, Server };
    // identity: what this side presents; null presents nothing (only good
    // for a test of the refusal). Raises Exception when OpenSSL cannot set up.
    TTlsContext(Role role, const TIdentity *identity);
    ~TTlsContext();
    TTlsContext(const TTlsContext &) = delete;
    TTlsContext &operator=(const TTlsContext &) = delete;

    Role GetRole() const { return role_; }
    // Client: forgets the sessions kept for a peer (after its key changed
    // or its pin was forgotten), or all with an empty key.
    void ForgetSessions(const std::string &sessionKey = {});

private:
    friend class TTlsLink;
    static int NewSession(SSL *ssl, SSL_SESSION *session);
    SSL_SESSION *TakeSession(const std::string &key); // a reference the caller frees

    Role role_;
    SSL_CTX *ctx_ = nullptr;
    std::mutex mutex_;
    std::map<std::string, SSL_SESSION *> sessions_; // client: by peer
};

class TTlsLink {
public:
    // fd: a connected TCP socket, owned by the caller for the link's whole
    // life; it is made non-blocking (and given back its flags at the end)
    // and Nagle's algorithm is turned off (records go out whole).
    // sessionKey (client): the peer's key for resumption, typically its
    // pinned fingerprint; empty: no resumption.
    TTlsLink(TTlsContext &context, int fd, TFingerprintCheck check, std::string sessionKey = {});
    ~TTlsLink();
    TTlsLink(const TTlsLink &) = delete;
    TTlsLink &operator=(const TTlsLink &) = delete;

    // Milliseconds with no byte moved after which a call raises EIdleError.
    int IdleLimitMs = 60000;

    // Runs the handshake. Raises ETlsRefused when this side refuses the
    // peer's certificate, ETlsError on any other failure (among them the
    // peer refusing ours: on a server at once, on a client at its first
    // read, since TLS 1.3 lets a client finish before the server decides).
    void Handshake();

    // The peer's certificate fingerprint (after Handshake).
    const std::string &PeerFingerprint() const { return peerFingerprint_; }
    // True when Handshake resumed an earlier session (no key exchange).
    bool Resumed() const;
    // True when the kernel encrypts what this side sends (kTLS), so that
    // SendFile goes by SSL_sendfile.
    bool KernelSend() const;

    // Waits for at least one byte and takes up to most; 0 when the peer
    // has closed in order (close_notify).
    std::size_t ReadSome(char *buffer, std::size_t most);
    // Exactly n bytes; raises ETlsError when the peer closes first.
    void ReadExact(char *buffer, std::size_t n);
    void WriteAll(const char *data, std::size_t size);
    // count bytes of the file fd from offset: by SSL_sendfile when the
    // kernel encrypts, else read into a page-aligned buffer and written in
    // full-size records. sent (optional) hears each part's byte count.
    // Raises EFileError "Cannot read file" when the file ends early.
    void SendFile(int fileFd, std::int64_t offset, std::int64_t count,
                  const std::function<void(std::int64_t)> &sent = {});
    // Sends close_notify: the peer's ReadSome then returns 0.
    void Close();
    // Cuts the connection with a reset; the descriptor stays open.
    void Reset();

private:
    friend class TTlsContext;
    enum class Op { Read, Write, Handshake, Shutdown };
    // Waits for what SSL asked for; false when the op is over (its result
    // is then in result). Raises for failures.
    int Drive(Op op, const std::function<int()> &call);
    void Wait(short events);
    [[noreturn]] void Fail(const std::string &what);
    static int Verify(int preverified, X509_STORE_CTX *store);

    TTlsContext &context_;
    int fd_;
    int savedFlags_ = -1;
    TFingerprintCheck check_;
    std::string sessionKey_;
    SSL *ssl_ = nullptr;
    std::string peerFingerprint_;
    std::string refused_; // set by the verify callback
    bool failed_ = false;
    std::unique_ptr<char, void (*)(void *)> buffer_ {nullptr, nullptr};
};

// What the first byte of an accepted connection says.
enum class TFirstByte {
    Tls,     // 0x16: a TLS ClientHello
    Clear,   // anything else: today's protocol
    Closed,  // the client closed (or reset) before sending a byte
    Waiting, // nothing within waitMs
};
// Looks at the first byte without taking it (MSG_PEEK), waiting at most
// waitMs for it.
TFirstByte PeekFirstByte(int fd, int waitMs);

} // namespace dz::net

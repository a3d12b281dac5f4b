#include "senders.h"

#include "net/filestream.h"
#include "net/stream.h"
#include "services/nmmsg.h"
#include "services/nmstrm.h"
#include "services/wire.h"
#include "util/errors.h"
#include "util/files.h"
#include "util/problem.h"
#include "util/space.h"
#include "util/system.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <thread>
#include <utility>
#include <unistd.h>

namespace dz::peer {
namespace {

std::string TextOf(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception &e) {
        return e.what();
    } catch (...) {
        return "Unknown error";
    }
}

std::string DottedAddress(std::uint32_t networkOrder)
{
    char text[INET_ADDRSTRLEN] = {};
    in_addr a {};
    a.s_addr = networkOrder;
    ::inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

} // namespace

TSenderBase::TSenderBase(const char *name) : worker_(name), owner_(dz::net::CurrentThread()) {}

TSenderBase::~TSenderBase() = default;

void TSenderBase::Report(const TDone &done, const std::string &error)
{
    if (!done)
        return;
    dz::net::PostToThread(owner_, [alive = alive_, done, error] {
        if (*alive)
            done(error);
    });
}

void TSenderBase::SetInvalidHostHandler(std::function<void(bool &Handled)> handler)
{
    std::function<void(bool &)> old;
    {
        std::lock_guard lock(handlerMutex_);
        old = std::exchange(invalidHost_, std::move(handler));
    }
}

bool TSenderBase::Stop(std::chrono::milliseconds limit)
{
    stopping_ = true;
    cancel_ = true;
    *alive_ = false;
    SetInvalidHostHandler({});
    worker_.DropPending();
    return CutInFlight([this] { CancelInFlight(); }, limit);
}

void TSenderBase::RepairHost(TPeerCore &core, net::TPowersock &client, bool &Handled)
{
    Handled = false;
    // Home networks often have no DNS for bare names: ask the resolver for
    // the mDNS name, then fall back on where the peer's introduction came from.
    const std::string host = client.Host;
    std::string address;
    if (!host.empty() && host.find('.') == std::string::npos) {
        try {
            if (const std::uint32_t found = client.LookupIPv4(host + ".local"))
                address = DottedAddress(found);
        } catch (const net::ESockError &) {
            return; // cancelled or timed out: nobody is asked
        }
    }
    if (address.empty())
        address = core.FallbackAddress(host);
    if (!address.empty()) {
        client.Host = address;
        Handled = true;
        return;
    }
    if (stopping_)
        return;
    // Held while the handler runs: whoever clears it waits for this call.
    std::lock_guard lock(handlerMutex_);
    if (invalidHost_)
        invalidHost_(Handled);
}

void TSenderBase::UseTls(std::shared_ptr<net::TTlsContext> context,
                         std::function<std::string(const std::string &host)> keyFor)
{
    tlsContext_ = std::move(context);
    keyFor_ = std::move(keyFor);
}

bool TSenderBase::CutInFlight(const std::function<void()> &cancel, std::chrono::milliseconds limit)
{
    // A cancel that lands between two operations of the client is forgotten
    // by the next connect: repeat it until the worker has let go.
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (worker_.WaitIdle(std::chrono::milliseconds(5)))
            return true;
        if (std::chrono::steady_clock::now() >= end)
            return false;
        cancel();
    }
}

// ---------------------------------------------------------------------------

TOutbox::TOutbox(TPeerCore &core, std::uint16_t port) : TSenderBase("dz-outbox"), core_(core)
{
    worker_.Call([&] {
        client_ = std::make_unique<services::TNMMsg>();
        Configure(*client_, core_, port);
    });
}

TOutbox::~TOutbox()
{
    if (!stopping_)
        Stop(std::chrono::seconds(5));
    worker_.Call([this] { client_.reset(); });
}

void TOutbox::Post(std::vector<TOutgoing> batch, TDone done)
{
    worker_.Post([this, batch = std::move(batch), done = std::move(done)] {
        std::string error;
        for (const TOutgoing &message : batch) {
            if (stopping_ || cancel_) {
                error = "Canceled";
                break;
            }
            try {
                const THosts hosts = core_.Hosts();
                client_->Host = hosts.msgHost;
                client_->FromName = hosts.msgFrom;
                Encrypt(*client_);
                client_->PostText(core_.Render(message));
                core_.NoteResolved(hosts.msgHost, client_->RemoteAddress().sin_addr.s_addr);
            } catch (...) {
                error = TextOf(std::current_exception());
                break;
            }
        }
        Report(done, error);
    });
}

void TOutbox::CancelInFlight()
{
    client_->Cancel();
    client_->Abort();
}

void TOutbox::CancelAll()
{
    worker_.DropPending();
    cancel_ = true;
    client_->Cancel();
    client_->Abort();
    // Batches posted from now on go out again.
    worker_.Post([this] { cancel_ = false; });
}

// ---------------------------------------------------------------------------

TStreamSender::TStreamSender(TPeerCore &core, std::uint16_t port) : TSenderBase("dz-streams"), core_(core)
{
    worker_.Call([&] {
        client_ = std::make_unique<services::TNMStrm>();
        Configure(*client_, core_, port);
        // A cancel that came while the client was between two operations
        // still stops the transfer at its next send.
        client_->OnPacketSent = [this](dz::net::TPowersock *) {
            if (cancel_)
                client_->Cancel();
        };
    });
}

TStreamSender::~TStreamSender()
{
    if (!stopping_)
        Stop(std::chrono::seconds(5));
    worker_.Call([this] {
        file_.reset();
        client_.reset();
    });
}

void TStreamSender::Open(const std::string &path,
                         std::function<void(const std::string &error, std::int64_t size)> opened)
{
    OpenWith(FileNameOf(path), false, [path] { return std::make_unique<net::TFileStream>(path); }, std::move(opened));
}

void TStreamSender::OpenBatch(std::vector<TFolderEntry> files,
                              std::function<void(const std::string &error, std::int64_t size)> opened)
{
    const std::string shown = files.empty() ? std::string() : FileNameOf(files.front().path);
    OpenWith(shown, true, [files = std::move(files)] {
        // The batch's body is put together once, in memory, and then sent
        // as any file is.
        const TFd body(::memfd_create("dizaruz-batch", MFD_CLOEXEC));
        if (!body)
            throw EFileError("Cannot create file for a batch");
        WriteBatchBody(body.Get(), files);
        return std::make_unique<net::TFileStream>("/proc/self/fd/" + std::to_string(body.Get()));
    }, std::move(opened));
}

void TStreamSender::OpenWith(const std::string &shown, bool batch,
                             std::function<std::unique_ptr<net::TFileStream>()> make,
                             std::function<void(const std::string &error, std::int64_t size)> opened)
{
    worker_.Post([this, shown, batch, make = std::move(make), opened = std::move(opened)] {
        std::string error;
        std::int64_t size = 0;
        if (!stopping_)
            cancel_ = false; // a new file: a cancel of the last one is spent
        try {
            if (stopping_)
                throw dz::Exception("Canceled");
            batch_ = batch;
            shown_ = shown;
            file_ = make();
            size = file_->Size();
        } catch (...) {
            file_.reset();
            error = TextOf(std::current_exception());
        }
        dz::net::PostToThread(owner_, [alive = alive_, opened, error, size] {
            if (*alive)
                opened(error, size);
        });
    });
}

void TStreamSender::Inspect(
    const std::string &path,
    std::function<void(const std::string &error, std::shared_ptr<const TFolderTree> tree)> looked)
{
    worker_.Post([this, path, looked = std::move(looked)] {
        std::string error;
        std::shared_ptr<const TFolderTree> tree;
        try {
            if (IsFolder(path))
                tree = std::make_shared<const TFolderTree>(WalkFolder(path));
        } catch (...) {
            error = TextOf(std::current_exception());
        }
        dz::net::PostToThread(owner_, [alive = alive_, looked, error, tree] {
            if (*alive)
                looked(error, tree);
        });
    });
}

void TStreamSender::Close()
{
    worker_.Post([this] { file_.reset(); });
}

void TStreamSender::Send(TDone done)
{
    worker_.Post([this, done = std::move(done)] {
        std::string error;
        try {
            if (!file_)
                throw dz::Exception("No file to send");
            if (cancel_)
                throw dz::Exception("Canceled");
            const THosts hosts = core_.Hosts();
            client_->Host = hosts.strmHost;
            client_->FromName = hosts.strmFrom;
            Encrypt(*client_);
            // The reply means "stored": a receiver that cannot store the
            // file resets the connection, and that is an error here.
            const TCapabilities peer = core_.PeerCapabilities();
            const TCapabilities own = TPeerCore::OwnCapabilities();
            const bool hashed = peer.hash && own.hash;
            const services::TStreamLayout layout {hashed, peer.space && own.space, batch_,
                                                  hashed && !batch_ && peer.resume && own.resume};
            sending_ = true;
            // A mismatch is damage on the way or on one of the disks: one
            // more try, then the step fails.
            for (int attempt = 1;; ++attempt) {
                std::string answer;
                try {
                    answer = client_->PostStream(*file_, layout);
                } catch (const services::ENoSpace &e) {
                    throw dz::Exception(NoSpaceError(shown_, e.needed, e.free, e.reserve));
                }
                if (answer != services::kHashMismatch || !layout.hashed)
                    break;
                if (attempt == 2)
                    throw dz::Exception(MismatchError(shown_));
                if (cancel_)
                    throw dz::Exception("Canceled");
            }
        } catch (...) {
            error = TextOf(std::current_exception());
        }
        sending_ = false;
        file_.reset();
        if (!stopping_)
            cancel_ = false;
        Report(done, error);
    });
}

std::string TStreamSender::MismatchError(const std::string &name)
{
    return TProblem{TProblemKind::MismatchTwice, name, {}, {}}.Encode();
}

std::string TStreamSender::NoSpaceError(const std::string &name, std::uint64_t needed, std::uint64_t free,
                                        std::uint64_t reserve)
{
    return TProblem{TProblemKind::NoSpaceThere, name, {}, {needed, free, reserve}}.Encode();
}

void TStreamSender::CancelInFlight()
{
    client_->Cancel();
    client_->Abort();
}

void TStreamSender::Cancel()
{
    cancel_ = true;
    client_->Cancel();
    client_->Abort();
}

std::int64_t TStreamSender::BytesSent() const
{
    return client_->BytesSent();
}

std::int64_t TStreamSender::BytesTotal() const
{
    return client_->BytesTotal();
}

} // namespace dz::peer

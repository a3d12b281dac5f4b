#include "session.h"

#include "peer/links.h"
#include "peer/folders.h"
#include "peer/kept.h"
#include "peer/receive.h"

#include "net/stream.h"
#include "services/nmmsg.h"
#include "services/nmstrm.h"
#include "services/wire.h"
#include "util/codepage.h"
#include "util/errors.h"
#include "util/files.h"
#include "util/problem.h"
#include "util/filesink.h"
#include "util/space.h"
#include "util/text.h"

#include <algorithm>
#include <atomic>
#include <future>
#include <optional>

#include <utility>

namespace dz::peer {

struct TPeerSession::TShared {
    TSessionConfig config;
    TPeerCore core;
    // The way to the owner thread and out to the peer; cleared (under the
    // lock) when the session shuts down.
    std::mutex gateMutex;
    TOrderedWork *work = nullptr;
    TApply apply;
    TOutbox *outbox = nullptr;
    // The file coming in (the newest, when a stranger's overlaps the peer's).
    std::mutex incomingMutex;
    TIncomingFile *incoming = nullptr;
    // The names whose last stored file was verified by its hash.
    mutable std::mutex verifiedMutex;
    std::set<std::string> verified;
    // The folder coming in from the peer, if any.
    TFolderReceiver folders;
    void NoteStored(const std::string &name, bool hashed)
    {
        std::lock_guard lock(verifiedMutex);
        if (hashed)
            verified.insert(name);
        else
            verified.erase(name);
    }
};

TPeerSession::TPeerSession(TSessionConfig config, TApply apply, TOrderedWork::TRunner runner)
    : shared_(std::make_shared<TShared>())
{
    TShared &shared = *shared_;
    shared.config = std::move(config);
    work_ = std::make_unique<TOrderedWork>(std::move(runner));
    shared.work = work_.get();
    shared.apply = std::move(apply);
    // Called under the core's lock: the queue takes the effects in the
    // order in which the core made them, whatever thread made them. The
    // core lives in the shared state, so the raw pointer never dangles.
    shared.core.SetPublisher([state = &shared](std::vector<TEffect> effects) {
        std::lock_guard lock(state->gateMutex);
        if (state->work && state->apply)
            state->work->Submit([apply = state->apply, effects = std::move(effects)] { apply(effects); });
    });
    outbox_ = std::make_unique<TOutbox>(shared.core, shared.config.msgPort);
    streams_ = std::make_unique<TStreamSender>(shared.core, shared.config.strmPort);
    shared.outbox = outbox_.get();

    msgServer_ = std::make_unique<services::TNMMSGServ>();
    msgServer_->Port = shared.config.msgPort;
    msgServer_->ReportLevel = 0;
    msgServer_->OnRequest = [state = shared_](services::TNMMSGServ *Sender, const std::string &sFrom,
                                              const std::string &sMsg) -> std::function<void()> {
        if (!Admit(*state, *Sender, sFrom, sMsg))
            throw net::ESockError("Refused by the pins");
        FolderMessage(*state, Sender->PeerAddress(), sFrom, sMsg);
        TOutcome outcome = state->core.Handle(sFrom, Sender->PeerAddress(), sMsg);
        if (outcome.send.empty())
            return {};
        // Only once the reply has been written, and never after one that failed.
        return [state, send = std::move(outcome.send)] {
            std::lock_guard lock(state->gateMutex);
            if (state->outbox)
                state->outbox->Post(send);
        };
    };
    strmServer_ = std::make_unique<services::TNMStrmServ>();
    strmServer_->Port = shared.config.strmPort;
    strmServer_->ReportLevel = 0;
    strmServer_->OnStreamStart = [state = shared_](services::TNMStrmServ *Sender, const std::string &sFrom,
                                                   std::int64_t size) -> std::unique_ptr<services::IStreamSink> {
        if (!Admit(*state, *Sender, sFrom, {}))
            return nullptr;
        return StartStream(state, *Sender, sFrom, size);
    };
    if (shared.config.links)
        WireLinks();
}

void TPeerSession::WireLinks()
{
    const std::shared_ptr<TLinkGuard> links = shared_->config.links;
    shared_->core.SetOwnKey(links->OwnKey());
    // Any key may open a link; which name it may speak for is the pins'
    // decision, on the first message.
    const auto anyKey = [](const std::string &, std::uint32_t) { return true; };
    msgServer_->TlsContext = strmServer_->TlsContext = links->ServerContext();
    msgServer_->TlsAccepts = strmServer_->TlsAccepts = anyKey;
    const auto keyFor = [links](const std::string &host) { return links->KeyFor(host); };
    outbox_->UseTls(links->ClientContext(), keyFor);
    streams_->UseTls(links->ClientContext(), keyFor);
}

bool TPeerSession::Admit(TShared &shared, net::TPowersock &connection, const std::string &sFrom,
                         const std::string &sMsg)
{
    if (!shared.config.links)
        return true;
    TLinkGuard::TJudgement judgement =
        shared.config.links->Judge(sFrom, connection.PeerAddress(), connection.PeerFingerprint(), sMsg);
    if (!judgement.effects.empty())
        shared.core.Tell(std::move(judgement.effects));
    return judgement.pass;
}

void TPeerSession::ConfirmKey(const std::string &name)
{
    std::vector<TEffect> effects;
    if (shared_->config.links && shared_->config.links->Confirm(name, effects))
        shared_->core.Tell(std::move(effects));
}

void TPeerSession::ForgetKey(const std::string &name)
{
    std::vector<TEffect> effects;
    if (shared_->config.links && shared_->config.links->Forget(name, effects))
        shared_->core.Tell(std::move(effects));
}

void TPeerSession::AcceptNewKey(const std::string &name)
{
    std::vector<TEffect> effects;
    if (shared_->config.links && shared_->config.links->AcceptNewKey(name, effects))
        shared_->core.Tell(std::move(effects));
}

TPeerSession::~TPeerSession()
{
    Shutdown(kCloseWait);
    msgServer_.reset();
    strmServer_.reset();
    streams_.reset();
    outbox_.reset();
    work_.reset();
}

bool TPeerSession::Shutdown(std::chrono::milliseconds limit)
{
    if (shutDown_)
        return true;
    shutDown_ = true;
    const auto end = std::chrono::steady_clock::now() + limit;
    const auto left = [&] {
        return std::max(std::chrono::milliseconds(0),
                        std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()));
    };
    // The senders: both are told at once, then waited for.
    bool clean = streams_->Stop(std::chrono::milliseconds(0));
    clean = outbox_->Stop(left()) && clean;
    clean = streams_->Stop(left()) && clean;
    // The servers: every connection is cancelled at once, then waited for.
    msgServer_->BeginStopServing();
    strmServer_->BeginStopServing();
    clean = msgServer_->StopServing(left()) && clean;
    clean = strmServer_->StopServing(left()) && clean;
    // The hand-over: a thread cut loose reaches neither the owner thread nor
    // the outbox.
    {
        std::lock_guard lock(shared_->gateMutex);
        shared_->work = nullptr;
        shared_->apply = nullptr;
        shared_->outbox = nullptr;
    }
    work_->Close();
    return clean;
}

TPeerCore &TPeerSession::Core()
{
    return shared_->core;
}

const TSessionConfig &TPeerSession::Config() const
{
    return shared_->config;
}

void TPeerSession::Listen()
{
    msgServer_->Loaded();
    strmServer_->Loaded();
}

void TPeerSession::Send(const TOutcome &outcome, TDone done)
{
    if (outcome.send.empty()) {
        if (done)
            done({});
        return;
    }
    outbox_->Post(outcome.send, std::move(done));
}

std::string TPeerSession::DroppedNotice(const std::string &sFrom, const std::string &announced)
{
    return TProblem{TProblemKind::BadName, dz::ToQString(OneLine(announced)).toStdString(),
                    dz::ToQString(OneLine(sFrom)).toStdString(), {}}
        .Encode();
}

std::string TPeerSession::MismatchNotice(const std::string &sFrom, const std::string &announced)
{
    return TProblem{TProblemKind::Mismatch, dz::ToQString(OneLine(announced)).toStdString(),
                    dz::ToQString(OneLine(sFrom)).toStdString(), {}}
        .Encode();
}

std::string TPeerSession::PathNotice(const std::string &sFrom, const std::string &path, const std::string &why)
{
    return QStringLiteral("От %1 не принято «%2»: %3.")
        .arg(dz::ToQString(OneLine(sFrom)), QString::fromUtf8(OneLine(path).c_str()), QString::fromStdString(why))
        .toStdString();
}

void TPeerSession::FolderMessage(TShared &shared, std::uint32_t from, const std::string &sFrom,
                                 const std::string &sMsg)
{
    const TFolderMessage message = ParseFolderMessage(sMsg);
    if (!shared.core.ReceivingFrom(from)) {
        // Whatever ends a batch ends the folder in it too; a stranger changes nothing.
        if (message.word.empty() && shared.core.StreamTarget(from).allowed)
            shared.folders.End();
        return;
    }
    if (message.word.empty()) {
        const std::string command = ExtractField(DelimEqBar(), sMsg, 1);
        if (command == "Send_End" || command == "By" || command == "ItsMe")
            shared.folders.End();
        return;
    }
    try {
        if (message.word == kFolderStartWord) {
            const std::string folder = ReceiveFolderFor(shared.core.ReceiveFolder(), shared.config.fallbackFolder);
            const std::string made = shared.folders.Begin(message.path, folder, shared.config.ownFiles);
            // One row per folder, listed as soon as it exists, so that a
            // folder cut short is found too.
            shared.core.Stored(sFrom, FileNameToCp1251(QString::fromStdString(FileNameOf(made))), made);
        } else if (message.word == kFolderDirWord) {
            shared.folders.MakeFolder(message.path);
        } else if (message.word == kFolderEndWord) {
            shared.folders.End();
        }
    } catch (const std::exception &e) {
        shared.core.NotStored(PathNotice(sFrom, message.path, e.what()));
    }
}

bool TPeerSession::Verified(const std::string &name) const
{
    std::lock_guard lock(shared_->verifiedMutex);
    return shared_->verified.count(name) > 0;
}

// A file coming in: written to a temporary file in the receive folder as
// it arrives, and stored under the pending name, taken from the core when
// the last byte is in, before the reply goes. Lives on its connection
// thread, which owns it and what it touches (never the session); the
// window reads its progress. From a sender that can continue a cut stream,
// a cut leaves the part that arrived in the kept folder (peer/kept.h), and
// the next stream of the same file continues it.
class TPeerSession::TIncomingFile : public services::IStreamSink {
public:
    TIncomingFile(std::shared_ptr<TShared> shared, std::uint32_t from, std::string sFrom, std::int64_t size,
                  std::string folder, std::shared_ptr<net::TCancelHandle> cancel, const services::TStreamLayout &layout,
                  std::optional<TFolderReceiver::TTarget> inFolder = std::nullopt)
        : shared_(std::move(shared)), from_(from), sFrom_(std::move(sFrom)), size_(size), folder_(std::move(folder)),
          cancel_(std::move(cancel)), hashed_(layout.hashed), inFolder_(std::move(inFolder)),
          // A file inside a folder is never continued: its part would be
          // kept under a name that does not say where in the tree it goes.
          resume_(layout.resume && !inFolder_),
          file_(std::make_unique<TFileSink>(inFolder_ ? inFolder_->TempFolder() : folder_, TFileSink::Mode::Cached,
                                            TFileSink::BufferFor(size)))
    {
        const TPeerCore::TStreamTarget target = shared_->core.StreamTarget(from_);
        name_ = target.inFolder ? Utf8ToCp1251(target.pending) : target.pending;
        key_ = {sFrom_, name_, size_, layout.modified};
        if (resume_)
            kept_ = FindKept(folder_, key_);
        std::lock_guard lock(shared_->incomingMutex);
        shared_->incoming = this;
    }
    ~TIncomingFile() override
    {
        StopCheck();
        std::lock_guard lock(shared_->incomingMutex);
        if (shared_->incoming == this)
            shared_->incoming = nullptr;
    }

    std::span<char> Room() override { return file_->Room(); }
    void Filled(std::size_t n) override
    {
        try {
            file_->Filled(n);
        } catch (const std::exception &e) {
            Failed(e.what());
            throw;
        }
        done_ += static_cast<std::int64_t>(n);
    }
    void Commit() override
    {
        if (inFolder_) {
            // Inside a new folder nothing may be replaced, not even a file
            // the same folder sent twice.
            try {
                file_->Commit(inFolder_->FinalPath(), TFileSink::Replace::No);
            } catch (const std::exception &) {
                Failed(PathNotice(sFrom_, inFolder_->shown, "Cannot create file"));
                throw;
            }
            shared_->core.StoredInFolder();
            return;
        }
        // The name is the one File_Start gave last: the sender sent it, and
        // waited for its reply, before these bytes.
        const TPeerCore::TStreamTarget target = shared_->core.StreamTarget(from_);
        // A bare name from a copy with Folders is UTF-8 (Dizaruz_File without a '/').
        const TStorePlan plan = PlanStore(target.pending, folder_, shared_->config.fallbackFolder,
                                          shared_->config.ownFiles, target.inFolder);
        if (plan.name.empty()) {
            Failed(DroppedNotice(sFrom_, target.pending));
            throw EFileError("Refused");
        }
        try {
            file_->Commit(plan.path(), TFileSink::Replace::Yes);
        } catch (const std::exception &e) {
            Failed(e.what());
            throw;
        }
        if (continued_)
            ForgetKept(folder_, key_);
        const std::string listed =
            plan.utf8 ? FileNameToCp1251(QString::fromUtf8(plan.name.c_str())) : plan.name;
        shared_->NoteStored(listed, hashed_);
        shared_->core.Stored(sFrom_, listed, plan.path(), hashed_);
    }
    void Abandon() noexcept override
    {
        StopCheck();
        file_->Abandon();
        // A continued part that ends here is gone: so is its record.
        if (continued_)
            ForgetKept(folder_, key_);
    }
    void Mismatched() noexcept override
    {
        try {
            Failed(MismatchNotice(sFrom_, shared_->core.StreamTarget(from_).pending));
        } catch (...) {
        }
    }

    TKept Kept() override
    {
        if (!kept_)
            return {};
        // The kept bytes are read back while the sender reads its own and
        // the rest arrives: a part gone bad on the disk must not make a
        // wrong file.
        check_ = std::async(std::launch::async,
                            [path = kept_->data, length = kept_->length, hash = kept_->hash.Digest(), this] {
                                return KeptBytesIntact(path, length, hash, &stopCheck_);
                            });
        return {kept_->length, kept_->hash};
    }
    void StartAt(std::int64_t from) override
    {
        if (from == 0) {
            // The sender's file begins otherwise: what was kept is no part of it.
            StopCheck();
            check_ = {};
            if (kept_)
                ForgetKept(folder_, key_);
            kept_.reset();
            return;
        }
        file_->Abandon();
        try {
            file_ = TFileSink::Continue(kept_->data, from);
        } catch (...) {
            ForgetKept(folder_, key_);
            throw;
        }
        continued_ = true;
        done_ = from;
    }
    bool KeptIntact() override { return !check_.valid() || check_.get(); }
    void Keep(const THasher &hash) noexcept override
    {
        StopCheck();
        // A file the user refused is not kept; neither is one whose bytes
        // and hash disagree on their count.
        if (!resume_ || canceled_ || hash.Length() == 0 ||
            static_cast<std::int64_t>(hash.Length()) != file_->Size()) {
            Abandon();
            return;
        }
        if (!MakeKeptFolder(folder_)) {
            Abandon();
            return;
        }
        if (file_->Keep(KeptPathsFor(folder_, key_).data).empty() &&
            RecordKept(folder_, key_, static_cast<std::int64_t>(hash.Length()), hash))
            return;
        ForgetKept(folder_, key_);
    }

    TIncoming Progress() const { return {true, name_, done_, size_}; }
    void Cancel()
    {
        canceled_ = true;
        cancel_->Cancel();
    }

private:
    // The receiving user is told, unless the user refused the file.
    void Failed(const std::string &why)
    {
        if (!canceled_)
            shared_->core.NotStored(why);
    }
    void StopCheck() noexcept
    {
        stopCheck_ = true;
        if (check_.valid())
            check_.wait();
    }

    const std::shared_ptr<TShared> shared_;
    const std::uint32_t from_;
    const std::string sFrom_;
    const std::int64_t size_;
    const std::string folder_;
    std::shared_ptr<net::TCancelHandle> cancel_;
    const bool hashed_;
    const std::optional<TFolderReceiver::TTarget> inFolder_;
    const bool resume_;
    std::unique_ptr<TFileSink> file_;
    std::string name_;
    TKeptKey key_;
    std::optional<TKeptPart> kept_;
    bool continued_ = false; // file_ is the kept part
    std::atomic<bool> stopCheck_{false};
    std::future<bool> check_;
    std::atomic<std::int64_t> done_{0};
    std::atomic<bool> canceled_{false};
};

namespace {

// A stream refused for want of space, to a peer that waits for the answer
// to its header: it is told the numbers, and nothing of the body is read.
class TNoRoom : public services::IStreamSink {
public:
    explicit TNoRoom(const TSpace &space) : space_(space) {}
    std::span<char> Room() override { return {&unused_, 1}; }
    void Filled(std::size_t) override { throw EFileError("No room"); }
    void Commit() override { throw EFileError("No room"); }
    void Abandon() noexcept override {}
    std::string Refusal() const override
    {
        return services::NoSpaceAnswer(space_.needed, space_.free, space_.reserve);
    }

private:
    TSpace space_;
    char unused_ = 0;
};

} // namespace

std::unique_ptr<services::IStreamSink> TPeerSession::StartStream(const std::shared_ptr<TShared> &shared,
                                                                 services::TNMStrmServ &connection,
                                                                 const std::string &sFrom, std::int64_t size)
{
    TPeerCore &core = shared->core;
    const std::uint32_t from = connection.PeerAddress();
    const TPeerCore::TStreamTarget target = core.StreamTarget(from);
    if (!target.allowed)
        // Only the introduced peer's files are taken; a stranger learns
        // nothing (a reset), and the user is not troubled.
        return nullptr;
    const std::string folder = ReceiveFolderFor(target.folder, shared->config.fallbackFolder);
    try {
        if (!IsDriveWritable(folder))
            throw EFileError("Cannot create file " + folder + Cp1251ToUtf8(SafeReceivedName(target.pending)));
        // The stream's own preamble says what its sender does, whatever
        // this copy has heard of it so far.
        const services::TStreamLayout layout = connection.Layout();
        // Refused before a byte is written: a sender that waits for the
        // go-ahead is told the numbers, any other sees a reset.
        if (const std::string refusal = SpaceRefusal(sFrom, target.pending, size, folder); !refusal.empty()) {
            core.NotStored(refusal);
            if (!layout.awaitGo)
                return nullptr;
            const auto asked = static_cast<std::uint64_t>(std::max<std::int64_t>(size, 0));
            return std::make_unique<TNoRoom>(SpaceFor(folder, asked));
        }
        if (layout.batch) {
            // Files of the folder coming in, named inside the stream.
            auto batch = std::make_unique<TFolderBatchSink>(
                shared->folders, [state = shared, sFrom](const std::string &path, const std::string &why) {
                    state->core.NotStored(PathNotice(sFrom, path, why));
                });
            core.Arriving();
            return batch;
        }
        std::optional<TFolderReceiver::TTarget> inFolder;
        if (target.inFolder && target.pending.find('/') != std::string::npos) {
            try {
                inFolder = shared->folders.FileTarget(target.pending);
            } catch (const std::exception &e) {
                core.NotStored(PathNotice(sFrom, target.pending, e.what()));
                return nullptr;
            }
        }
        auto file = std::make_unique<TIncomingFile>(shared, from, sFrom, size, folder, connection.CancelHandle(),
                                                    layout, std::move(inFolder));
        core.Arriving();
        return file;
    } catch (const std::exception &e) {
        core.NotStored(e.what());
        return nullptr;
    }
}

TIncoming TPeerSession::Incoming() const
{
    std::lock_guard lock(shared_->incomingMutex);
    return shared_->incoming ? shared_->incoming->Progress() : TIncoming {};
}

void TPeerSession::CancelIncoming()
{
    std::lock_guard lock(shared_->incomingMutex);
    if (shared_->incoming)
        shared_->incoming->Cancel();
}

} // namespace dz::peer

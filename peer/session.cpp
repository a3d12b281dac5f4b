#include "session.h"

#include "peer/receive.h"

#include "net/stream.h"
#include "services/nmmsg.h"
#include "services/nmstrm.h"
#include "util/codepage.h"
#include "util/errors.h"
#include "util/files.h"
#include "util/filesink.h"
#include "util/text.h"

#include <atomic>

#include <utility>

namespace dz::peer {

TPeerSession::TPeerSession(TSessionConfig config, TApply apply, TOrderedWork::TRunner runner)
    : config_(std::move(config)), apply_(std::move(apply))
{
    work_ = std::make_unique<TOrderedWork>(std::move(runner));
    // Called under the core's lock: the queue takes the effects in the
    // order in which the core made them, whatever thread made them.
    core_.SetPublisher([work = work_.get(), apply = apply_](std::vector<TEffect> effects) {
        work->Submit([apply, effects = std::move(effects)] { apply(effects); });
    });
    outbox_ = std::make_unique<TOutbox>(core_, config_.msgPort);
    streams_ = std::make_unique<TStreamSender>(core_, config_.strmPort);

    msgServer_ = std::make_unique<services::TNMMSGServ>();
    msgServer_->Port = config_.msgPort;
    msgServer_->ReportLevel = 0;
    msgServer_->OnRequest = [this](services::TNMMSGServ *Sender, const std::string &sFrom,
                                   const std::string &sMsg) -> std::function<void()> {
        TOutcome outcome = core_.Handle(sFrom, Sender->PeerAddress(), sMsg);
        if (outcome.send.empty())
            return {};
        // Only once the reply has been written, and never after one that failed.
        return [this, send = std::move(outcome.send)] { outbox_->Post(send); };
    };
    strmServer_ = std::make_unique<services::TNMStrmServ>();
    strmServer_->Port = config_.strmPort;
    strmServer_->ReportLevel = 0;
    strmServer_->OnStreamStart = [this](services::TNMStrmServ *Sender, const std::string &sFrom, std::int64_t size) {
        return StartStream(*Sender, sFrom, size);
    };
}

TPeerSession::~TPeerSession()
{
    msgServer_.reset();
    strmServer_.reset();
    work_->Close();
    streams_.reset();
    outbox_.reset();
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
    return QStringLiteral("Файл от %1 не сохранён: недопустимое имя «%2».")
        .arg(dz::ToQString(OneLine(sFrom)), dz::ToQString(OneLine(announced)))
        .toStdString();
}

// A file coming in: written to a temporary file in the receive folder as
// it arrives, and stored under the pending name, taken from the core when
// the last byte is in, before the reply goes. Lives on its connection
// thread; the window reads its progress.
class TPeerSession::TIncomingFile : public services::IStreamSink {
public:
    TIncomingFile(TPeerSession &session, std::uint32_t from, std::string sFrom, std::int64_t size, std::string folder,
                  std::shared_ptr<net::TCancelHandle> cancel)
        : session_(session), from_(from), sFrom_(std::move(sFrom)), size_(size), folder_(std::move(folder)),
          cancel_(std::move(cancel)), file_(folder_)
    {
        name_ = session_.core_.StreamTarget(from_).pending;
        std::lock_guard lock(session_.incomingMutex_);
        session_.incoming_ = this;
    }
    ~TIncomingFile() override
    {
        std::lock_guard lock(session_.incomingMutex_);
        if (session_.incoming_ == this)
            session_.incoming_ = nullptr;
    }

    std::span<char> Room() override { return file_.Room(); }
    void Filled(std::size_t n) override
    {
        try {
            file_.Filled(n);
        } catch (const std::exception &e) {
            Failed(e.what());
            throw;
        }
        done_ += static_cast<std::int64_t>(n);
    }
    void Commit() override
    {
        // The name is the one File_Start gave last: the sender sent it, and
        // waited for its reply, before these bytes.
        const TPeerCore::TStreamTarget target = session_.core_.StreamTarget(from_);
        const TStorePlan plan =
            PlanStore(target.pending, folder_, session_.config_.fallbackFolder, session_.config_.ownFiles);
        if (plan.name.empty()) {
            Failed(DroppedNotice(sFrom_, target.pending));
            throw EFileError("Refused");
        }
        try {
            file_.Commit(plan.path(), TFileSink::Replace::Yes);
        } catch (const std::exception &e) {
            Failed(e.what());
            throw;
        }
        session_.core_.Stored(sFrom_, plan.name, plan.path());
    }
    void Abandon() noexcept override { file_.Abandon(); }

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
            session_.core_.NotStored(why);
    }

    TPeerSession &session_;
    const std::uint32_t from_;
    const std::string sFrom_;
    const std::int64_t size_;
    const std::string folder_;
    std::shared_ptr<net::TCancelHandle> cancel_;
    TFileSink file_;
    std::string name_;
    std::atomic<std::int64_t> done_{0};
    std::atomic<bool> canceled_{false};
};

std::unique_ptr<services::IStreamSink> TPeerSession::StartStream(services::TNMStrmServ &connection,
                                                                 const std::string &sFrom, std::int64_t size)
{
    const std::uint32_t from = connection.PeerAddress();
    const TPeerCore::TStreamTarget target = core_.StreamTarget(from);
    if (!target.allowed)
        // Only the introduced peer's files are taken; a stranger learns
        // nothing (a reset), and the user is not troubled.
        return nullptr;
    const std::string folder = ReceiveFolderFor(target.folder, config_.fallbackFolder);
    try {
        if (!IsDriveWritable(folder))
            throw EFileError("Cannot create file " + folder + Cp1251ToUtf8(SafeReceivedName(target.pending)));
        auto file = std::make_unique<TIncomingFile>(*this, from, sFrom, size, folder, connection.CancelHandle());
        core_.Arriving();
        return file;
    } catch (const std::exception &e) {
        core_.NotStored(e.what());
        return nullptr;
    }
}

TIncoming TPeerSession::Incoming() const
{
    std::lock_guard lock(incomingMutex_);
    return incoming_ ? incoming_->Progress() : TIncoming {};
}

void TPeerSession::CancelIncoming()
{
    std::lock_guard lock(incomingMutex_);
    if (incoming_)
        incoming_->Cancel();
}

} // namespace dz::peer

#include "session.h"

#include "peer/receive.h"

#include "net/stream.h"
#include "services/nmmsg.h"
#include "services/nmstrm.h"
#include "util/codepage.h"
#include "util/errors.h"
#include "util/files.h"
#include "util/text.h"

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
    strmServer_->OnStore = [this](services::TNMStrmServ *Sender, const std::string &sFrom,
                                  dz::net::TStream &strm) { StoreStream(Sender->PeerAddress(), sFrom, strm); };
}

TPeerSession::~TPeerSession()
{
    msgServer_.reset();
    strmServer_.reset();
    work_->Close();
    streams_.reset();
    outbox_.reset();
}

TIncoming TPeerSession::Incoming() const
{
    return {};
}

void TPeerSession::CancelIncoming() {}

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

void TPeerSession::StoreStream(std::uint32_t from, const std::string &sFrom, dz::net::TStream &strm)
{
    // On the stream's connection thread: the name is taken once, for both
    // the file and its row, and the writing never holds up the window.
    const TPeerCore::TStreamTarget target = core_.StreamTarget(from);
    if (!target.allowed)
        // Only the introduced peer's files are taken; a stranger learns
        // nothing, and the user is not troubled.
        throw EFileError("Refused");
    const TStorePlan plan = PlanStore(target.pending, target.folder, config_.fallbackFolder, config_.ownFiles);
    if (plan.name.empty()) {
        // Reported, since the sender counts the file as sent.
        core_.NotStored(DroppedNotice(sFrom, target.pending));
        return;
    }
    try {
        // Only a file that was stored is listed; one that could not be is
        // reported, since the sender already counts it as sent.
        if (!IsDriveWritable(plan.folder))
            throw EFileError("Cannot create file " + plan.path());
        auto &memory = dynamic_cast<dz::net::TMemoryStream &>(strm);
        WriteFileAtomic(plan.path(), memory.Pieces());
    } catch (const std::exception &e) {
        core_.NotStored(e.what());
        return;
    }
    core_.Stored(sFrom, plan.name);
}

} // namespace dz::peer

#include "sendrun.h"

#include "peer/foldersend.h"
#include "peer/session.h"
#include "util/codepage.h"
#include "util/files.h"
#include "util/problem.h"

#include <QCoreApplication>
#include <QThreadPool>
#include <QTimer>

#include <sys/stat.h>

namespace dz::peer {

TNextStep NextStep(int rows, int position, bool nextChecked)
{
    if (position >= rows - 1)
        return {TNextStep::Kind::End};
    return {nextChecked ? TNextStep::Kind::Send : TNextStep::Kind::Skip, position + 1};
}

std::string AnnouncedName(const std::string &path)
{
    const std::string name = FileNameOf(path);
    return FileNameToCp1251(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
}

void TStepControl::Cancel()
{
    canceled_ = true;
    streams_.Cancel();
}

namespace {

constexpr std::int64_t kOriginalLimit = 2'147'483'647LL;
constexpr std::int64_t kFieldLimit = 9'999'999'999LL;

} // namespace

std::string RefusedSize(const std::string &name, std::int64_t size, const TCapabilities &caps)
{
    const auto bytes = [](std::int64_t n) { return static_cast<std::uint64_t>(n); };
    if (size > kFieldLimit)
        return TProblem{TProblemKind::TooBigForProgram, name, {}, {bytes(size), bytes(kFieldLimit), 0}}.Encode();
    if (size > kOriginalLimit && !caps.bigFiles)
        return TProblem{TProblemKind::TooBigForPeer, name, {}, {bytes(size), bytes(kOriginalLimit), 0}}.Encode();
    return {};
}

namespace {

void SendFile(TOutbox &outbox, TStreamSender &streams, const TPeerCore &core,
              const std::shared_ptr<TStepControl> &control, const std::string &path, TDone done,
              std::function<void(std::int64_t size)> opened)
{
    const std::string name = AnnouncedName(path);
    // Nothing reaches the peer for a file that cannot be opened or is too
    // large for it; then the announcement, the contents, the end.
    streams.Open(path, [&outbox, &streams, &core, control, path, name, done, opened](const std::string &error,
                                                                                    std::int64_t size) {
        if (!error.empty())
            return done(error);
        if (opened)
            opened(size);
        if (const std::string refused = RefusedSize(FileNameOf(path), size, core.PeerCapabilities());
            !refused.empty() || control->Canceled()) {
            streams.Close();
            return done(refused.empty() ? std::string("Canceled") : refused);
        }
        // A copy with Folders takes the name exactly, in UTF-8.
        const std::string announce = core.PeerCapabilities().folders
                                         ? std::string(kFolderFileWord) + "|" + FileNameOf(path)
                                         : "File_Start|" + name;
        outbox.Post({{announce}}, [&outbox, &streams, control, name, done](const std::string &sent) {
            if (!sent.empty() || control->Canceled()) {
                streams.Close();
                return done(sent.empty() ? std::string("Canceled") : sent);
            }
            streams.Send([&outbox, control, name, done](const std::string &streamed) {
                if (!streamed.empty())
                    return done(control->Canceled() ? std::string("Canceled") : streamed);
                if (control->Canceled())
                    return done("Canceled");
                outbox.Post({{"File_End|" + name}}, done);
            });
        });
    });
}

} // namespace

std::shared_ptr<TStepControl> RunStep(TOutbox &outbox, TStreamSender &streams, const TPeerCore &core,
                                      const std::string &path, TDone done,
                                      std::function<void(std::int64_t size)> opened)
{
    auto control = std::make_shared<TStepControl>(streams);
    // A row may be a folder; whether it is, and what it holds, is read on
    // the sender's thread.
    streams.Inspect(path, [&outbox, &streams, &core, control, path, done,
                           opened](const std::string &error, std::shared_ptr<const TFolderTree> tree) {
        if (control->Canceled())
            return done("Canceled");
        if (!error.empty())
            return done(error);
        if (tree)
            return RunFolderStep(outbox, streams, core, control, path, std::move(tree), done, opened);
        SendFile(outbox, streams, core, control, path, done, opened);
    });
    return control;
}

TQtRunTimer::TQtRunTimer(QTimer &timer) : timer_(timer)
{
    timer_.setSingleShot(true);
    QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] {
        if (auto fire = std::exchange(fire_, {}))
            fire();
    });
}

TQtRunTimer::~TQtRunTimer()
{
    timer_.stop();
    QObject::disconnect(&timer_, &QTimer::timeout, &timer_, nullptr);
}

void TQtRunTimer::Start(std::chrono::milliseconds delay, std::function<void()> fire)
{
    fire_ = std::move(fire);
    timer_.start(delay);
}

void TQtRunTimer::Stop()
{
    timer_.stop();
    fire_ = {};
}

namespace {

// A folder's size is what its files hold.
std::int64_t SizeOf(const std::string &path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return 0;
    if (!S_ISDIR(st.st_mode))
        return static_cast<std::int64_t>(st.st_size);
    try {
        return WalkFolder(path).bytes;
    } catch (...) {
        return 0;
    }
}

} // namespace

TSendRunPort SessionPort(TPeerSession &session)
{
    TSendRunPort port;
    // The effects are shown before the call returns, as for any action of the user's own.
    port.begin = [&session](TDone done) {
        session.Send(session.Core().StartRun(), std::move(done));
        session.Work().Drain();
    };
    port.finish = [&session](bool tellPeer, TDone done) {
        session.Send(session.Core().EndRun(tellPeer), std::move(done));
        session.Work().Drain();
    };
    port.step = [&session](const std::string &path, std::function<void(std::int64_t)> opened, TDone done) {
        auto control =
            RunStep(session.Outbox(), session.Streams(), session.Core(), path, std::move(done), std::move(opened));
        return std::function<void()>([control] { control->Cancel(); });
    };
    port.noTick = [&session] { return session.Core().PeerCapabilities().noTick; };
    port.sizes = [](std::vector<std::string> paths, std::function<void(std::vector<std::int64_t>)> done) {
        // A list on a slow or network disk must not stop the window.
        QThreadPool::globalInstance()->start([paths = std::move(paths), done = std::move(done)] {
            std::vector<std::int64_t> sizes;
            sizes.reserve(paths.size());
            for (const std::string &path : paths)
                sizes.push_back(SizeOf(path));
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [done, sizes] { done(sizes); }, Qt::QueuedConnection);
        });
    };
    return port;
}

TSendRun::TSendRun(TSendListModel &list, IRunTimer &timer, TSendRunPort port, TListener listener)
    : list_(list), timer_(timer), port_(std::move(port)), listener_(std::move(listener))
{
    watches_[0] = QObject::connect(&list_, &QAbstractItemModel::rowsAboutToBeRemoved, &list_,
                                   [this](const QModelIndex &, int first, int last) { RowsGoing(first, last); });
    watches_[1] = QObject::connect(&list_, &QAbstractItemModel::modelAboutToBeReset, &list_,
                                   [this] { RowsGoing(0, list_.Count() - 1); });
}

TSendRun::~TSendRun()
{
    *alive_ = false;
    timer_.Stop();
    for (const QMetaObject::Connection &c : watches_)
        QObject::disconnect(c);
}

void TSendRun::RowsGoing(int first, int last)
{
    // The run goes on after the row before the first one removed.
    const int p = list_.RowOf(position_);
    if (position_ != 0 && p >= first && p <= last)
        position_ = list_.IdAt(first - 1);
}

bool TSendRun::Start()
{
    timer_.Stop();
    if (list_.Count() == 0)
        return false;
    if (cancelStep_)
        cancelStep_();
    cancelStep_ = {};
    const std::uint64_t run = ++run_;
    going_ = true;
    position_ = stepId_ = 0;
    totals_ = {};
    std::vector<std::string> paths;
    for (int row = 0; row < list_.Count(); ++row)
        if (list_.Checked(row))
            paths.push_back(list_.Path(row).toStdString());
    totals_.files = static_cast<int>(paths.size());
    if (port_.sizes && !paths.empty())
        port_.sizes(std::move(paths), [this, alive = std::weak_ptr<bool>(alive_), run](std::vector<std::int64_t> sizes) {
            if (alive.expired() || run != run_)
                return;
            for (const std::int64_t size : sizes)
                totals_.bytes += size;
            if (listener_.totalsChanged)
                listener_.totalsChanged();
        });
    port_.begin([this, alive = std::weak_ptr<bool>(alive_), run](const std::string &error) {
        if (alive.expired() || run != run_)
            return;
        if (!error.empty())
            // Nothing started: the user can try again at once.
            return Finish(false, error);
        NextTick();
    });
    return true;
}

void TSendRun::NextTick()
{
    // A copy of ours keeps the order of what it receives itself: the next
    // step follows at once. An original copy needs a second between a file
    // and the next announcement.
    timer_.Start(port_.noTick() ? std::chrono::milliseconds(0) : std::chrono::milliseconds(1000), [this] { Tick(); });
}

void TSendRun::Tick()
{
    timer_.Stop();
    if (!going_ || stepId_ != 0)
        return;
    for (;;) {
        const int p = position_ == 0 ? -1 : list_.RowOf(position_);
        const TNextStep next = NextStep(list_.Count(), p, list_.Checked(p + 1));
        switch (next.kind) {
        case TNextStep::Kind::End:
            return Finish(true, {}, true);
        case TNextStep::Kind::Skip:
            position_ = list_.IdAt(next.row);
            // Unchecked rows cost a tick each only with an original copy.
            if (port_.noTick())
                continue;
            return timer_.Start(std::chrono::milliseconds(1000), [this] { Tick(); });
        case TNextStep::Kind::Send:
            position_ = list_.IdAt(next.row);
            return StartStep(next.row);
        }
    }
}

void TSendRun::StartStep(int row)
{
    const TId id = list_.IdAt(row);
    stepId_ = id;
    stepSize_ = 0;
    if (listener_.stepStarted)
        listener_.stepStarted(id);
    const std::uint64_t run = run_;
    const std::weak_ptr<bool> alive = alive_;
    cancelStep_ = port_.step(
        list_.Path(row).toStdString(),
        [this, alive, run](std::int64_t size) {
            if (alive.expired() || run != run_)
                return;
            stepSize_ = size;
            if (listener_.opened)
                listener_.opened(size);
        },
        [this, alive, run, id](const std::string &error) {
            if (!alive.expired())
                StepDone(run, id, error);
        });
}

void TSendRun::StepDone(std::uint64_t run, TId id, const std::string &error)
{
    if (run != run_)
        return; // a step of a run that was stopped or started afresh
    cancelStep_ = {};
    stepId_ = 0;
    if (!error.empty()) {
        // The run ends at its row: the row stays, checked, for a later run.
        // The peer hears that the batch is over where the message service still works.
        if (listener_.stepEnded)
            listener_.stepEnded(id, false);
        return Finish(true, error);
    }
    ++totals_.filesDone;
    totals_.bytesDone += stepSize_;
    if (listener_.stepEnded)
        listener_.stepEnded(id, true);
    // The step finds its own row again, wherever it is now; a row deleted
    // meanwhile touches no other.
    if (const int p = list_.RowOf(id); p >= 0) {
        list_.Remove(p);
        if (listener_.listChanged)
            listener_.listChanged();
    }
    NextTick();
}

void TSendRun::Cancel()
{
    if (!going_)
        return;
    ++run_; // what the stopped step still reports is stale
    if (cancelStep_)
        cancelStep_();
    cancelStep_ = {};
    stepId_ = 0;
    Finish(true, {});
}

void TSendRun::Finish(bool tellPeer, const std::string &error, bool reportEnd)
{
    timer_.Stop();
    going_ = false;
    // A "Send_End" that cannot go out is told only at a run's normal end;
    // after a failure the user hears of that one.
    TDone done;
    if (reportEnd && listener_.failed)
        done = [alive = std::weak_ptr<bool>(alive_), this](const std::string &e) {
            if (!alive.expired() && !e.empty() && listener_.failed)
                listener_.failed(e);
        };
    port_.finish(tellPeer, std::move(done));
    if (listener_.ended)
        listener_.ended();
    if (!error.empty() && listener_.failed)
        listener_.failed(error);
}

} // namespace dz::peer

// File sending (a send run, one row per tick) and the listing of received
// files. The exchanges themselves run on the session's senders; the window
// keeps the list, the timer and the selection, which is the run's position.

#include "Clock.h"
#include "Controls.h"
#include "Form1.h"
#include "Guard.h"

#include "peer/progress.h"
#include "peer/sendrun.h"
#include "peer/session.h"
#include "util/codepage.h"
#include "util/errors.h"
#include "util/text.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QPointer>
#include <QProgressBar>
#include <QTimer>
#include <QToolButton>

#include <sys/stat.h>

namespace {

// Where a send-list row keeps the number by which its step finds it again.
constexpr int kStepRowRole = Qt::UserRole + 1;

// A size as the user reads it: "512 Б", "340 КБ", "12,5 МБ", "1,2 ГБ".
QString BytesText(qint64 bytes)
{
    const char *units[] = {"Б", "КБ", "МБ", "ГБ", "ТБ"};
    double value = static_cast<double>(bytes);
    int unit = 0;
    while (value >= 1024 && unit < 4) {
        value /= 1024;
        ++unit;
    }
    const int decimals = unit == 0 || value >= 100 ? 0 : 1;
    return QLocale(QLocale::Russian).toString(value, 'f', decimals) + QLatin1Char(' ') + QString::fromUtf8(units[unit]);
}

// Done and total in the total's unit: "0,5/3,0 ГБ", "340/512 КБ".
QString BytesPairText(qint64 done, qint64 total)
{
    const char *units[] = {"Б", "КБ", "МБ", "ГБ", "ТБ"};
    double scale = 1;
    int unit = 0;
    while (static_cast<double>(total) / scale >= 1024 && unit < 4) {
        scale *= 1024;
        ++unit;
    }
    const double t = static_cast<double>(total) / scale;
    const int decimals = unit == 0 || t >= 100 ? 0 : 1;
    const QLocale ru(QLocale::Russian);
    return ru.toString(static_cast<double>(done) / scale, 'f', decimals) + QLatin1Char('/') +
           ru.toString(t, 'f', decimals) + QLatin1Char(' ') + QString::fromUtf8(units[unit]);
}

// "0:42", "12:05", "1:02:03".
QString DurationText(std::chrono::seconds left)
{
    const qint64 s = left.count();
    if (s >= 3600)
        return QStringLiteral("%1:%2:%3").arg(s / 3600).arg(s / 60 % 60, 2, 10, QLatin1Char('0')).arg(s % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

qint64 FileSize(const std::string &path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<qint64>(st.st_size) : 0;
}

int RowNumbered(const QListWidget *list, quint64 number)
{
    for (int i = 0; i < list->count(); ++i)
        if (list->item(i)->data(kStepRowRole).toULongLong() == number)
            return i;
    return -1;
}

} // namespace

void TForm1::SB_sendClick()
{
    Timer1->stop();
    SetTextOf(Edit_RemoteComputerName, dz::TrimText(TextOf(Edit_RemoteComputerName)));
    if (TextOf(Edit_RemoteComputerName).empty() || ListF_send->count() == 0)
        return;
    // A new run: a step of the old one that is still on its way ends
    // without moving this one.
    if (step_)
        step_->Cancel();
    const quint64 run = ++run_;
    runGoing_ = true;
    // What the run has to carry: its checked rows as they stand now.
    runFiles_ = runFilesDone_ = 0;
    runBytes_ = runBytesDone_ = 0;
    for (int row = 0; row < ListF_send->count(); ++row)
        if (RowChecked(ListF_send, row)) {
            ++runFiles_;
            runBytes_ += FileSize(RowUtf8(ListF_send, row));
        }
    Label_RunProgress->show();
    ShowProgress();
    Timer_Progress->start();
    const dz::peer::TOutcome start = Core().StartRun();
    ShowDecided();
    const QPointer<TForm1> self(this);
    session_->Send(start, [self, run](const std::string &error) {
        if (!self || self->run_ != run)
            return;
        if (!error.empty()) {
            // Nothing started: the user can try again at once.
            self->session_->Send(self->Core().EndRun(false));
            self->ShowDecided();
            self->EndRunDisplay();
            return dz::ReportError(error);
        }
        SetItemIndex(self->ListF_send, -1);
        self->NextTick();
    });
}

void TForm1::NextTick()
{
    // A copy of ours keeps the order of what it receives itself: the next
    // step follows at once (the window serves its events in between). An
    // original copy needs a second between a file and the next
    // announcement.
    if (!Core().PeerCapabilities().noTick) {
        Timer1->start();
        return;
    }
    const QPointer<TForm1> self(this);
    const quint64 run = run_;
    QTimer::singleShot(0, this, [self, run] {
        if (self && self->run_ == run && self->runGoing_)
            RunGuarded([&] { self->Timer1Timer(); });
    });
}

void TForm1::Timer1Timer()
{
    Timer1->stop();
    int p = ItemIndex(ListF_send);
    dz::peer::TNextStep next = dz::peer::NextStep(ListF_send->count(), p, RowChecked(ListF_send, p + 1));
    // Unchecked rows cost a tick each only with an original copy.
    while (next.kind == dz::peer::TNextStep::Kind::Skip && Core().PeerCapabilities().noTick) {
        SetItemIndex(ListF_send, next.row);
        p = next.row;
        next = dz::peer::NextStep(ListF_send->count(), p, RowChecked(ListF_send, p + 1));
    }
    switch (next.kind) {
    case dz::peer::TNextStep::Kind::End:
        session_->Send(Core().EndRun(true), [](const std::string &error) {
            if (!error.empty())
                dz::ReportError(error);
        });
        ShowDecided();
        EndRunDisplay();
        return;
    case dz::peer::TNextStep::Kind::Skip:
        SetItemIndex(ListF_send, next.row);
        Timer1->start();
        return;
    case dz::peer::TNextStep::Kind::Send:
        break;
    }
    SetItemIndex(ListF_send, next.row);
    QListWidgetItem *item = ListF_send->item(next.row);
    const quint64 row = ++rowSerial_;
    item->setData(kStepRowRole, row);
    stepRow_ = row;
    const std::string path = RowUtf8(ListF_send, next.row);
    fileMeter_ = std::make_unique<dz::peer::TProgressMeter>();
    fileMeter_->Start(FileSize(path), std::chrono::steady_clock::now());
    meterForIncoming_ = false;
    const QPointer<TForm1> self(this);
    const quint64 run = run_;
    step_ = dz::peer::RunStep(session_->Outbox(), session_->Streams(), Core(), path,
                              [self, run, row](const std::string &error) {
                                  if (self)
                                      RunGuarded([&] { self->StepDone(run, row, error); });
                              });
}

void TForm1::StepDone(quint64 run, quint64 row, const std::string &error)
{
    if (run != run_)
        return; // a step of a run that was stopped or started afresh
    step_.reset();
    if (fileMeter_) {
        if (error.empty()) {
            // The file is there: the display reaches its end before it goes.
            fileMeter_->Sample(fileMeter_->Total(), std::chrono::steady_clock::now());
            ShowProgress();
            ++runFilesDone_;
            runBytesDone_ += fileMeter_->Total();
        }
        fileMeter_.reset();
    }
    stepRow_ = 0;
    if (!error.empty()) {
        // The run ends at its row: the row stays, checked, for a later run,
        // which the user can start at once. The peer hears that the batch
        // is over where the message service still works.
        Timer1->stop();
        session_->Send(Core().EndRun(true));
        ShowDecided();
        EndRunDisplay();
        return dz::ReportError(error);
    }
    // The step finds its own row again, wherever it is now; a row deleted
    // meanwhile touches no other.
    const int p = RowNumbered(ListF_send, row);
    if (p >= 0) {
        delete ListF_send->takeItem(p);
        SetItemIndex(ListF_send, p - 1);
        SaveListFileSoon(ListF_send);
    }
    ShowProgress();
    NextTick();
}

void TForm1::CancelRun()
{
    if (!runGoing_)
        return;
    Timer1->stop();
    ++run_; // what the stopped step still reports is stale
    if (step_)
        step_->Cancel();
    step_.reset();
    stepRow_ = 0;
    fileMeter_.reset();
    // The peer leaves its receiving state; the row stays, checked.
    session_->Send(Core().EndRun(true));
    ShowDecided();
    EndRunDisplay();
}

void TForm1::EndRunDisplay()
{
    runGoing_ = false;
    SaveChangedListFiles();
    Label_RunProgress->hide();
    ShowProgress();
}

void TForm1::SB_CancelClick()
{
    if (runGoing_)
        CancelRun();
    else
        session_->CancelIncoming();
}

void TForm1::Timer_ProgressTimer()
{
    const auto start = std::chrono::steady_clock::now();
    ShowProgress();
    ++progressCost_.updates;
    progressCost_.spent += std::chrono::steady_clock::now() - start;
}

void TForm1::ShowMeter(const std::string &name)
{
    const QString of = BytesText(fileMeter_->Done()) + QStringLiteral(" из ") + BytesText(fileMeter_->Total());
    ProgressBar_File->setValue(
        fileMeter_->Total() > 0 ? static_cast<int>(fileMeter_->Done() * 1000 / fileMeter_->Total()) : 1000);
    ProgressBar_File->setFormat(of);
    ProgressBar_File->setAccessibleDescription(QString::fromStdString(name) + QStringLiteral(": ") + of);
    ProgressBar_File->setToolTip(ProgressBar_File->accessibleDescription());
    QString speed;
    if (const auto bps = fileMeter_->BytesPerSecond())
        speed = BytesText(static_cast<qint64>(*bps)) + QStringLiteral("/с");
    if (const auto left = fileMeter_->TimeLeft())
        speed += QStringLiteral(" · ") + DurationText(*left);
    Label_Speed->setText(speed);
    Panel_Progress->show();
}

bool TForm1::KeepProgressShown() const
{
    // Between the files of a batch the row stays, showing the last file
    // done: hiding and showing it for each small file would lay out and
    // paint the whole window each time. A file refused or cut is not kept.
    if (runGoing_)
        return true;
    return lastIncomingStored_ && !Label_YesReciv->isHidden();
}

void TForm1::ShowProgress()
{
    const auto now = std::chrono::steady_clock::now();
    // The file on its way out, else the one coming in.
    std::optional<std::string> name;
    if (fileMeter_ && !meterForIncoming_ && stepRow_ != 0) {
        // The size was fixed when the file was opened; the counters belong
        // to this file only while it is being sent.
        if (session_->Streams().Sending())
            fileMeter_->Sample(session_->Streams().BytesSent(), now);
        name = RowUtf8(ListF_send, RowNumbered(ListF_send, stepRow_));
    } else if (const dz::peer::TIncoming in = session_->Incoming(); in.active) {
        if (!fileMeter_ || !meterForIncoming_ || fileMeter_->Total() != in.total) {
            fileMeter_ = std::make_unique<dz::peer::TProgressMeter>();
            fileMeter_->Start(in.total, now);
            meterForIncoming_ = true;
            lastIncomingStored_ = false;
        }
        fileMeter_->Sample(in.done, now);
        name = dz::Cp1251ToUtf8(in.name);
    } else if (meterForIncoming_) {
        fileMeter_.reset();
        meterForIncoming_ = false;
    }
    if (fileMeter_ && name)
        ShowMeter(*name);
    else if (!KeepProgressShown())
        Panel_Progress->hide();

    if (runGoing_) {
        const qint64 inFlight = fileMeter_ && !meterForIncoming_ ? fileMeter_->Done() : 0;
        Label_RunProgress->setText(QStringLiteral("%1/%2 · %3")
                                       .arg(runFilesDone_)
                                       .arg(runFiles_)
                                       .arg(BytesPairText(runBytesDone_ + inFlight, runBytes_)));
        Label_RunProgress->setToolTip(QStringLiteral("Файлов отправлено %1 из %2, %3 из %4")
                                          .arg(runFilesDone_)
                                          .arg(runFiles_)
                                          .arg(BytesText(runBytesDone_ + inFlight), BytesText(runBytes_)));
    }
    // Nothing moves and no run goes: no reason to keep looking.
    if (!runGoing_ && !fileMeter_ && !session_->Incoming().active)
        Timer_Progress->stop();
}

void TForm1::NMStrmServ1MSG(const std::string &sFrom, const std::string &name)
{
    // The file is stored: its display reaches the end before it goes.
    if (fileMeter_ && meterForIncoming_) {
        fileMeter_->Sample(fileMeter_->Total(), std::chrono::steady_clock::now());
        ShowMeter(dz::Cp1251ToUtf8(name));
        lastIncomingStored_ = true;
    }
    const QDateTime now = clock_->now();
    const QString when = QLocale::system().toString(now.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
                         TimeOfDayText(now.time());
    InsertRowUtf8(ListF_recv, 0,
                  (when + QStringLiteral(" | ") + dz::ToQString(sFrom) + QStringLiteral(" | ") + dz::ToQString(name))
                      .toStdString());
    SetItemIndex(ListF_recv, 0);
    SaveListFileSoon(ListF_recv);
}

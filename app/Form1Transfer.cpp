// File sending (a send run, one row per tick) and the listing of received
// files. The exchanges themselves run on the session's senders; the window
// keeps the list, the timer and the selection, which is the run's position.

#include "Clock.h"
#include "Controls.h"
#include "Form1.h"
#include "Guard.h"

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
#include <QTimer>
#include <QToolButton>

namespace {

// Where a send-list row keeps the number by which its step finds it again.
constexpr int kStepRowRole = Qt::UserRole + 1;

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
    const quint64 run = ++run_;
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
            return dz::ReportError(error);
        }
        SetItemIndex(self->ListF_send, -1);
        self->Timer1->start();
    });
}

void TForm1::Timer1Timer()
{
    Timer1->stop();
    const int p = ItemIndex(ListF_send);
    const dz::peer::TNextStep next = dz::peer::NextStep(ListF_send->count(), p, RowChecked(ListF_send, p + 1));
    switch (next.kind) {
    case dz::peer::TNextStep::Kind::End:
        session_->Send(Core().EndRun(true), [](const std::string &error) {
            if (!error.empty())
                dz::ReportError(error);
        });
        ShowDecided();
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
    const QPointer<TForm1> self(this);
    const quint64 run = run_;
    dz::peer::RunStep(session_->Outbox(), session_->Streams(), RowUtf8(ListF_send, next.row),
                      [self, run, row](const std::string &error) {
                          if (self)
                              RunGuarded([&] { self->StepDone(run, row, error); });
                      });
}

void TForm1::StepDone(quint64 run, quint64 row, const std::string &error)
{
    stepRow_ = 0;
    if (!error.empty()) {
        if (run != run_)
            return;
        // The run ends at its row: the row stays, checked, for a later run,
        // which the user can start at once. The peer hears that the batch
        // is over where the message service still works.
        Timer1->stop();
        session_->Send(Core().EndRun(true));
        ShowDecided();
        return dz::ReportError(error);
    }
    // The step finds its own row again, wherever it is now; a row deleted
    // meanwhile touches no other.
    const int p = RowNumbered(ListF_send, row);
    if (p >= 0) {
        delete ListF_send->takeItem(p);
        SetItemIndex(ListF_send, p - 1);
        SaveListFile(ListF_send);
    }
    if (run == run_)
        Timer1->start();
}

void TForm1::NMStrmServ1MSG(const std::string &sFrom, const std::string &name)
{
    const QDateTime now = clock_->now();
    const QString when = QLocale::system().toString(now.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
                         TimeOfDayText(now.time());
    InsertRowUtf8(ListF_recv, 0,
                  (when + QStringLiteral(" | ") + dz::ToQString(sFrom) + QStringLiteral(" | ") + dz::ToQString(name))
                      .toStdString());
    SetItemIndex(ListF_recv, 0);
    SaveListFile(ListF_recv);
}

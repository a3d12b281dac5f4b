#include "ProgressRow.h"

#include "Accessibility.h"
#include "AlignLayout.h"
#include "Guard.h"
#include "SizeText.h"
#include "Widgets.h"
#include "peer/progress.h"
#include "peer/sendrun.h"
#include "peer/session.h"
#include "util/codepage.h"

#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <chrono>

TProgressRow::TProgressRow(QWidget &form, TAlignLayout &formLayout, dz::peer::TPeerSession &session,
                           const dz::peer::TSendRun &run, const dz::peer::TSendListModel &list, QLabel &runLabel)
    : QObject(&form), session_(session), run_(run), list_(list), runLabel_(runLabel)
{
    using Align = TAlignLayout::Align;
    // A row of its own just above the status bar, there only while a file
    // moves, so the clock keeps its place and the figures have room.
    Panel_Progress = MakePanel(&form, "Panel_Progress", TBevel::Raised);
    formLayout.add(Panel_Progress, Align::Bottom, 24);
    SetAccessibleRole(Panel_Progress, QAccessible::Grouping);
    Panel_Progress->setAccessibleName(tr("Ход передачи"));
    auto *layout = new TAlignLayout(Panel_Progress);
    SB_Cancel = MakeButton(Panel_Progress, "SB_Cancel", TButtonPicture::Stop, QRect(0, 1, 23, 22),
                           tr("Прервать передачу (Esc)"), true);
    layout->add(SB_Cancel, Align::Right, 25);
    Label_Speed = MakeLabel(Panel_Progress, "Label_Speed", QString());
    Label_Speed->setAlignment(Qt::AlignCenter);
    Label_Speed->setAccessibleName(tr("Скорость и оставшееся время"));
    // Wide enough for the longest figures, so the row does not shift as they change.
    const QString longest = BytesText(1000LL << 20) + tr("/с") + QStringLiteral(" · ") +
                            DurationText(std::chrono::hours(100) - std::chrono::seconds(1));
    layout->add(Label_Speed, Align::Right, std::max(112, Label_Speed->fontMetrics().horizontalAdvance(longest) + 8));
    ProgressBar_File = new QProgressBar(Panel_Progress);
    ProgressBar_File->setObjectName(QStringLiteral("ProgressBar_File"));
    ProgressBar_File->setAccessibleName(tr("Передача файла"));
    ProgressBar_File->setRange(0, 1000);
    ProgressBar_File->setTextVisible(true);
    ProgressBar_File->setAlignment(Qt::AlignCenter);
    layout->add(ProgressBar_File, Align::Client);
    Panel_Progress->hide();

    Timer_Progress = MakeTimer(&form, "Timer_Progress");
    Timer_Progress->setInterval(100);
    connect(Timer_Progress, &QTimer::timeout, this, [this] { RunGuarded([this] { Timer_ProgressTimer(); }); });
}

TProgressRow::~TProgressRow() = default;

void TProgressRow::RunStarted()
{
    runLabel_.show();
    Show();
    Timer_Progress->start();
}

void TProgressRow::StepOpened(std::int64_t size)
{
    meter_ = std::make_unique<dz::peer::TProgressMeter>();
    meter_->Start(size, std::chrono::steady_clock::now());
    meterForIncoming_ = false;
}

void TProgressRow::StepEnded(const std::string &path, bool sent)
{
    if (meter_ && !meterForIncoming_ && sent) {
        // The file is there: the display reaches its end before it goes.
        meter_->Sample(meter_->Total(), std::chrono::steady_clock::now());
        ShowMeter(path);
    }
    if (!meterForIncoming_)
        meter_.reset();
}

void TProgressRow::RunEnded()
{
    runLabel_.hide();
    Show();
}

void TProgressRow::Arriving()
{
    // Shown while it comes in, ten times a second at most.
    Timer_Progress->start();
    Show();
}

void TProgressRow::Stored(const std::string &name)
{
    // The file is stored: its display reaches the end before it goes.
    if (meter_ && meterForIncoming_) {
        meter_->Sample(meter_->Total(), std::chrono::steady_clock::now());
        ShowMeter(dz::Cp1251ToUtf8(name));
        lastIncomingStored_ = true;
    }
}

void TProgressRow::BatchOver()
{
    lastIncomingStored_ = false;
    Show(); // the batch is over: its last file goes
}

void TProgressRow::Timer_ProgressTimer()
{
    const auto start = std::chrono::steady_clock::now();
    Show();
    ++cost_.updates;
    cost_.spent += std::chrono::steady_clock::now() - start;
}

void TProgressRow::ShowMeter(const std::string &name)
{
    const QString of = BytesText(meter_->Done()) + tr(" из ") + BytesText(meter_->Total());
    ProgressBar_File->setValue(meter_->Total() > 0 ? static_cast<int>(meter_->Done() * 1000 / meter_->Total())
                                                   : 1000);
    ProgressBar_File->setFormat(of);
    ProgressBar_File->setAccessibleDescription(QString::fromStdString(name) + QStringLiteral(": ") + of);
    ProgressBar_File->setToolTip(ProgressBar_File->accessibleDescription());
    QString speed;
    if (const auto bps = meter_->BytesPerSecond())
        speed = BytesText(static_cast<qint64>(*bps)) + tr("/с");
    if (const auto left = meter_->TimeLeft())
        speed += QStringLiteral(" · ") + DurationText(*left);
    Label_Speed->setText(speed);
    Panel_Progress->show();
}

bool TProgressRow::KeepShown() const
{
    // Between the files of a batch the row stays, showing the last file
    // done: hiding and showing it for each small file would lay out and
    // paint the whole window each time. A file refused or cut is not kept.
    if (run_.Going())
        return true;
    return lastIncomingStored_ && receiving && receiving();
}

void TProgressRow::Show()
{
    const auto now = std::chrono::steady_clock::now();
    // The file on its way out, else the one coming in.
    std::optional<std::string> name;
    if (meter_ && !meterForIncoming_ && run_.StepInFlight()) {
        // The counters belong to this file only while it is being sent.
        if (session_.Streams().Sending())
            meter_->Sample(session_.Streams().BytesSent(), now);
        name = list_.Path(list_.RowOf(run_.StepRow())).toStdString();
    } else if (const dz::peer::TIncoming in = session_.Incoming(); in.active) {
        if (!meter_ || !meterForIncoming_ || meter_->Total() != in.total) {
            meter_ = std::make_unique<dz::peer::TProgressMeter>();
            meter_->Start(in.total, now);
            meterForIncoming_ = true;
            lastIncomingStored_ = false;
        }
        meter_->Sample(in.done, now);
        name = dz::Cp1251ToUtf8(in.name);
    } else if (meterForIncoming_) {
        meter_.reset();
        meterForIncoming_ = false;
    }
    if (meter_ && name)
        ShowMeter(*name);
    else if (!KeepShown())
        Panel_Progress->hide();

    if (run_.Going()) {
        const auto &t = run_.Totals();
        const qint64 inFlight = meter_ && !meterForIncoming_ ? meter_->Done() : 0;
        runLabel_.setText(QStringLiteral("%1/%2 · %3")
                              .arg(t.filesDone)
                              .arg(t.files)
                              .arg(BytesPairText(t.bytesDone + inFlight, t.bytes)));
        runLabel_.setToolTip(tr("Файлов отправлено %1 из %2, %3 из %4")
                                 .arg(t.filesDone)
                                 .arg(t.files)
                                 .arg(BytesText(t.bytesDone + inFlight), BytesText(t.bytes)));
    }
    // Nothing moves and no run goes: no reason to keep looking.
    if (!run_.Going() && !meter_ && !session_.Incoming().active)
        Timer_Progress->stop();
}

#include "StatusBar.h"

#include "Accessibility.h"
#include "AlignLayout.h"
#include "Clock.h"
#include "Guard.h"
#include "Widgets.h"

#include <QFrame>
#include <QLabel>
#include <QLocale>
#include <QTimer>
#include <QToolButton>

TStatusBar::TStatusBar(QWidget &form, TAlignLayout &formLayout, std::shared_ptr<IClock> clock)
    : QObject(&form), clock_(std::move(clock))
{
    using Align = TAlignLayout::Align;
    Panel1 = MakePanel(&form, "Panel1", TBevel::Raised);
    formLayout.add(Panel1, Align::Bottom, 26);
    SetAccessibleRole(Panel1, QAccessible::StatusBar);
    Panel1->setAccessibleName(tr("Строка состояния"));
    auto *layout = new TAlignLayout(Panel1);
    Label_DateTime = MakeLabel(Panel1, "Label_DateTime", QStringLiteral("..."));
    Label_DateTime->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    Label_DateTime->setContentsMargins(4, 0, 4, 0);
    layout->add(Label_DateTime, Align::Left);
    Panel7 = MakePanel(Panel1, "Panel7", TBevel::Lowered);
    layout->add(Panel7, Align::Right, 25); // SB_Help and the bevel
    SB_Help = MakeButton(Panel7, "SB_Help", TButtonPicture::Help, QRect(1, 1, 23, 22), QString(), false,
                         tr("О программе"));
    Timer2 = MakeTimer(&form, "Timer2");
    connect(Timer2, &QTimer::timeout, this, [this] { RunGuarded([this] { Timer2Timer(); }); });
}

void TStatusBar::Start()
{
    Timer2->start();
}

void TStatusBar::Timer2Timer()
{
    // Stopped while it works, so the next tick comes a full second after this one.
    Timer2->stop();
    Label_DateTime->setText(ClockText(clock_->now(), QLocale()));
    Timer2->start();
}

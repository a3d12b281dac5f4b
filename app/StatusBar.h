#pragma once
// The status bar at the window's foot: the date and time, and the button
// of the about box. GUI thread only.

#include <QObject>

#include <memory>

class IClock;
class QFrame;
class QLabel;
class QTimer;
class QToolButton;
class QWidget;
class TAlignLayout;

class TStatusBar : public QObject {
public:
    // Docks the bar at the bottom of form's layout.
    TStatusBar(QWidget &form, TAlignLayout &formLayout, std::shared_ptr<IClock> clock);

    QFrame *Panel1;
    QLabel *Label_DateTime;
    QFrame *Panel7;
    QToolButton *SB_Help; // the about box; its click is the window's to wire
    QTimer *Timer2;       // the clock

    // Starts the clock.
    void Start();
    void Timer2Timer();

private:
    std::shared_ptr<IClock> clock_;
};

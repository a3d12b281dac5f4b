#pragma once
// The row above the status bar that shows a file on its way, out or in:
// a bar of bytes done, the speed and the time left, and the button that
// stops it; and the send run's figures on the send page. There only while
// a file moves (and between the files of a batch). GUI thread only.

#include <QObject>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

class QFrame;
class QLabel;
class QProgressBar;
class QTimer;
class QToolButton;
class QWidget;
class TAlignLayout;
namespace dz::peer {
class TPeerSession;
class TProgressMeter;
class TSendListModel;
class TSendRun;
} // namespace dz::peer

class TProgressRow : public QObject {
public:
    // Docks the row at the bottom of form's layout. runLabel: the send
    // run's figures (on the send page).
    TProgressRow(QWidget &form, TAlignLayout &formLayout, dz::peer::TPeerSession &session,
                 const dz::peer::TSendRun &run, const dz::peer::TSendListModel &list, QLabel &runLabel);
    ~TProgressRow() override;

    QFrame *Panel_Progress;
    QProgressBar *ProgressBar_File; // the file going out or coming in: bytes done of its size
    QLabel *Label_Speed;            // its speed and the time left
    QToolButton *SB_Cancel;         // stops the send run, or refuses the file coming in
    QTimer *Timer_Progress;         // ten times a second while something moves

    // Whether a batch from the peer is coming in (its last file stays shown till its end).
    std::function<bool()> receiving;

    // What happened, as the run and the session tell it.
    void RunStarted();
    void StepOpened(std::int64_t size);
    void StepEnded(const std::string &path, bool sent); // path: the file's, UTF-8
    void RunEnded();
    void Arriving();
    void Stored(const std::string &name); // Windows-1251, as announced
    void BatchOver();

    void Show();
    void Timer_ProgressTimer();
    // What showing the progress has cost so far: updates, and their time.
    struct TCost {
        quint64 updates = 0;
        std::chrono::nanoseconds spent {0};
    };
    const TCost &Cost() const { return cost_; }

private:
    void ShowMeter(const std::string &name);
    bool KeepShown() const;

    dz::peer::TPeerSession &session_;
    const dz::peer::TSendRun &run_;
    const dz::peer::TSendListModel &list_;
    QLabel &runLabel_;
    std::unique_ptr<dz::peer::TProgressMeter> meter_;
    bool meterForIncoming_ = false;
    bool lastIncomingStored_ = false; // the batch's last file came in whole
    TCost cost_;
};

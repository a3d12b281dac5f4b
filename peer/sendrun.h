#pragma once
// A send run, without widgets: "Send_Start", then one checked row of the
// send list per step ("File_Start", the contents, "File_End"), paced by a
// tick for an original peer, and "Send_End". The run's position is a row's
// id, never a view's selection, so rows added or removed meanwhile never
// move it to another row.
//
// Owner thread only (the window's), except where a comment says otherwise.

#include "peer/sendlist.h"
#include "peer/senders.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QTimer;

namespace dz::peer {

// What a tick of the run does, given the list as it stands.
struct TNextStep {
    enum class Kind {
        End,  // no row after the position: "Send_End", the run is over
        Skip, // the next row is unchecked: it becomes the position, nothing is sent
        Send, // the next row is checked: it becomes the position and its file goes
    };
    Kind kind;
    int row = -1; // the new position (Skip, Send)
};

// rows: how many rows the list has; position: the row the run passed last (-1: none);
// nextChecked: whether row position + 1 carries a check mark.
TNextStep NextStep(int rows, int position, bool nextChecked);

// The name a file (a UTF-8 path) is announced under: the last component of
// its path, as a Windows copy can take it (see FileNameToCp1251).
std::string AnnouncedName(const std::string &path);

// A step on its way, which the user may stop.
class TStepControl {
public:
    explicit TStepControl(TStreamSender &streams) : streams_(streams) {}
    // Nothing more of the step goes out, and the file on its way is cut.
    void Cancel();
    bool Canceled() const { return canceled_; }

private:
    TStreamSender &streams_;
    std::atomic<bool> canceled_{false};
};

// Why a file of size bytes may not go to a peer with caps ("" when it may):
// the size field carries at most 9,999,999,999, and an original copy takes
// at most 2,147,483,647. name: the file's name, for the text (UTF-8).
std::string RefusedSize(const std::string &name, std::int64_t size, const TCapabilities &caps);

// One step: the file is opened (its size fixed, and refused when too large
// for the peer), then "File_Start|" + name, the file's contents, and
// "File_End|" + name, each only after the previous one went through. done
// runs on the owner thread with "" when all went, else with the first
// failure's text ("Canceled" after a cancel).
// opened (when set) hears the file's size once it is open.
std::shared_ptr<TStepControl> RunStep(TOutbox &outbox, TStreamSender &streams, const TPeerCore &core,
                                      const std::string &path, TDone done,
                                      std::function<void(std::int64_t size)> opened = {});

// What paces a run: a single shot that a new Start replaces.
class IRunTimer {
public:
    virtual ~IRunTimer() = default;
    // fire runs once on the owner thread after delay (0: at the next turn of
    // the event loop), unless Stop or another Start comes first.
    virtual void Start(std::chrono::milliseconds delay, std::function<void()> fire) = 0;
    virtual void Stop() = 0;
};

// On a QTimer that the caller owns (and may show as busy).
class TQtRunTimer : public IRunTimer {
public:
    explicit TQtRunTimer(QTimer &timer);
    ~TQtRunTimer() override;
    void Start(std::chrono::milliseconds delay, std::function<void()> fire) override;
    void Stop() override;

private:
    QTimer &timer_;
    std::function<void()> fire_;
};

// What a run asks of the session. Every callback comes back on the owner thread.
struct TSendRunPort {
    // "Send_Start" and the state that goes with it.
    std::function<void(TDone done)> begin;
    // "Send_End" when tellPeer, and the state back.
    std::function<void(bool tellPeer, TDone done)> finish;
    // One step; returns how to stop it.
    std::function<std::function<void()>(const std::string &path, std::function<void(std::int64_t)> opened,
                                        TDone done)>
        step;
    // Whether the peer takes a batch without a tick between the files.
    std::function<bool()> noTick;
    // The sizes of files (UTF-8 paths), 0 for one that cannot be read; may
    // run them on another thread, done comes back on the owner thread.
    std::function<void(std::vector<std::string> paths, std::function<void(std::vector<std::int64_t>)> done)> sizes;
};

class TPeerSession;
// The port of a real session: the core decides, the senders carry it out,
// sizes are read on a pool thread.
TSendRunPort SessionPort(TPeerSession &session);

class TSendRun {
public:
    using TId = TSendListModel::TId;
    struct TTotals {
        int files = 0;           // checked rows when the run began
        int filesDone = 0;
        std::int64_t bytes = 0;  // their sizes, once read
        std::int64_t bytesDone = 0;
    };
    // What the run tells whoever shows it; every member may be empty.
    struct TListener {
        std::function<void(TId row)> stepStarted;     // the row's file begins to go
        std::function<void(std::int64_t size)> opened; // its size, once open
        std::function<void(TId row, bool sent)> stepEnded; // the row is still listed
        std::function<void()> listChanged;  // a sent row left the list
        std::function<void()> totalsChanged;
        std::function<void()> ended;        // the run is over (its end, a failure or a cancel)
        std::function<void(const std::string &error)> failed; // after ended, for the user
    };

    TSendRun(TSendListModel &list, IRunTimer &timer, TSendRunPort port, TListener listener = {});
    ~TSendRun();
    TSendRun(const TSendRun &) = delete;
    TSendRun &operator=(const TSendRun &) = delete;

    // Starts a run over the list from the top; a step of an older run still
    // on its way is stopped. False (and nothing happens) for an empty list.
    bool Start();
    // Stops the run: the file on its way is cut (the peer keeps nothing of
    // it), its row stays, checked, and the peer hears "Send_End".
    void Cancel();
    // One tick (the timer's; tests and a view may call it too).
    void Tick();

    bool Going() const { return going_; }
    bool StepInFlight() const { return stepId_ != 0; }
    TId StepRow() const { return stepId_; }
    // The last row the run passed (0: none yet).
    TId Position() const { return position_; }
    const TTotals &Totals() const { return totals_; }
    std::int64_t StepSize() const { return stepSize_; }

private:
    void NextTick();
    void StartStep(int row);
    void StepDone(std::uint64_t run, TId id, const std::string &error);
    void Finish(bool tellPeer, const std::string &error, bool reportEnd = false);
    void RowsGoing(int first, int last);

    TSendListModel &list_;
    IRunTimer &timer_;
    TSendRunPort port_;
    TListener listener_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    std::uint64_t run_ = 0; // a new run, or a cancel, makes what older steps report stale
    bool going_ = false;
    TId position_ = 0;
    TId stepId_ = 0;
    std::int64_t stepSize_ = 0;
    std::function<void()> cancelStep_;
    TTotals totals_;
    QMetaObject::Connection watches_[2];
};

} // namespace dz::peer

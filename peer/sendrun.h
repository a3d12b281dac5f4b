#pragma once
// A send run's stepping, without widgets. The window keeps the send list,
// the timer and the selection, which is the run's position; this decides
// what each tick does and carries out one step's exchanges.

#include "peer/senders.h"

#include <atomic>
#include <memory>
#include <string>

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

// rows: how many rows the list has; position: the selected row (-1: none);
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

// One step: "File_Start|" + name, the file's contents, "File_End|" + name,
// each only after the previous one went through. done runs on the owner
// thread with "" when all three went, else with the first failure's text
// ("Canceled" after a cancel).
std::shared_ptr<TStepControl> RunStep(TOutbox &outbox, TStreamSender &streams, const std::string &path, TDone done);

} // namespace dz::peer

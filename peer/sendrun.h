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

// Why a file of size bytes may not go to a peer with caps ("" when it may):
// the size field carries at most 9,999,999,999, and an original copy takes
// at most 2,147,483,647. name: the file's name, for the text (UTF-8).
std::string RefusedSize(const std::string &name, std::int64_t size, const TCapabilities &caps);

// One step: the file is opened (its size fixed, and refused when too large
// for the peer), then "File_Start|" + name, the file's contents, and
// "File_End|" + name, each only after the previous one went through. done
// runs on the owner thread with "" when all went, else with the first
// failure's text ("Canceled" after a cancel).
std::shared_ptr<TStepControl> RunStep(TOutbox &outbox, TStreamSender &streams, const TPeerCore &core,
                                      const std::string &path, TDone done);

} // namespace dz::peer

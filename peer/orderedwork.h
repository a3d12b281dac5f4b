#pragma once
// Work handed over by other threads, done on one thread (the GUI's) one item
// at a time, in the order in which it was submitted.
//
// The protocol core submits the effects of each message while it still
// holds its lock, at the moment the message's reply goes out; a sender sends
// its next message only after that reply. So the submission order is the
// order in which the peer sent, and nothing here ever waits for a connection
// that has not finished its request.
//
// Items never nest: an item that pumps does not start the next one; the
// queue goes on when the item returns.

#include "net/notify.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace dz::peer {

class TOrderedWork {
public:
    using TRunner = std::function<void(const std::function<void()> &work)>;

    // Call on the thread that is to run the work. runner: how an item is run
    // (the window runs it under its error report); items run plainly without one.
    explicit TOrderedWork(TRunner runner = {});
    ~TOrderedWork();
    TOrderedWork(const TOrderedWork &) = delete;
    TOrderedWork &operator=(const TOrderedWork &) = delete;

    // Owner thread: from now on nothing runs and submitted work is dropped.
    void Close();

    // Any thread: queues work behind everything submitted before.
    void Submit(std::function<void()> work);

    // Owner thread: runs every item waiting now (not inside another item).
    void Drain();

    // Items run so far and items waiting (for tests and diagnostics).
    std::uint64_t DoneCount() const;
    std::size_t PendingCount() const;

private:
    // Shared with the posted drains, which may outlive this object.
    struct TShared {
        std::mutex mutex;
        std::deque<std::function<void()>> pending;
        std::uint64_t done = 0;
        bool closed = false;
        TOrderedWork *owner = nullptr; // owner thread only
    };

    void PostDrain();

    TRunner runner_;
    std::shared_ptr<TShared> shared_;
    dz::net::ThreadRef thread_;
    bool running_ = false;
};

} // namespace dz::peer

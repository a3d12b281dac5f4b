#pragma once
// Work handed over by connection threads, done on the GUI thread one item
// at a time, in the order in which the servers accepted the connections.
//
// Submit() may be called from any thread. An item with accept number N runs
// only when no live connection with a smaller number (on any of the watched
// servers) can still submit: each live connection either has submitted
// already or has ended. A connection that stalls holds the items behind it
// for at most holdLimit; then they run anyway.
//
// Nothing runs while the window is inside one of its own blocking calls
// (a TBusy is alive), so a handler that replies through the shared message
// client never finds it connected; the queue drains once the last TBusy
// ends. Items also never nest: a handler that pumps does not start the next.

#include "net/notify.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

class QTimer;

class TOrderedWork {
public:
    using TLiveNumbers = std::function<std::vector<std::uint64_t>()>;
    using TRunner = std::function<void(const std::function<void()> &work)>;

    // Call on the GUI thread. liveNumbers: the accept numbers of the live
    // connections of every server whose work goes through this queue (called
    // on the GUI thread). runner: how an item is run (the window runs it
    // under its error report).
    TOrderedWork(std::vector<TLiveNumbers> liveNumbers, TRunner runner,
                 std::chrono::milliseconds holdLimit = std::chrono::milliseconds(2000));
    ~TOrderedWork();
    TOrderedWork(const TOrderedWork &) = delete;
    TOrderedWork &operator=(const TOrderedWork &) = delete;

    // GUI thread: from now on nothing runs and submitted work is dropped
    // (the window is going away).
    void Close();

    // Any thread. Queues work for the connection with this accept number.
    void Submit(std::uint64_t acceptNumber, std::function<void()> work);

    // GUI thread: while one exists, no item runs.
    class TBusy {
    public:
        explicit TBusy(TOrderedWork &work);
        ~TBusy();
        TBusy(const TBusy &) = delete;
        TBusy &operator=(const TBusy &) = delete;

    private:
        TOrderedWork &work_;
    };

    // GUI thread: runs every item that may run now.
    void Drain();

    // Items run so far and items waiting (for tests and diagnostics).
    std::uint64_t DoneCount() const;
    std::size_t PendingCount() const;

private:
    struct TItem {
        std::function<void()> work;
        std::chrono::steady_clock::time_point queued;
    };
    // Shared with the posted drains, which may outlive this object.
    struct TShared {
        std::mutex mutex;
        std::map<std::uint64_t, TItem> pending;
        std::set<std::uint64_t> submitted; // of connections that may still be live
        std::uint64_t done = 0;
        bool closed = false;
        TOrderedWork *owner = nullptr; // GUI thread only
    };

    void PostDrain();
    bool TakeNext(std::function<void()> &work, bool &held);

    std::vector<TLiveNumbers> liveNumbers_;
    TRunner runner_;
    std::chrono::milliseconds holdLimit_;
    std::shared_ptr<TShared> shared_;
    dz::net::ThreadRef thread_;
    std::unique_ptr<QTimer> recheck_; // while an item is held back
    int busy_ = 0;
    bool running_ = false;
};

// A worker never leaves a Call unanswered: dropping the posted jobs, or the
// worker's own end, runs a Call that waits instead of dropping it.

#include "peer/worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

namespace {

using dz::peer::TWorker;

struct TGate {
    std::mutex mutex;
    std::condition_variable changed;
    bool open = false;
    bool entered = false;
    void Wait()
    {
        std::unique_lock lock(mutex);
        entered = true;
        changed.notify_all();
        changed.wait_for(lock, std::chrono::seconds(5), [&] { return open; });
    }
    void WaitEntered()
    {
        std::unique_lock lock(mutex);
        changed.wait_for(lock, std::chrono::seconds(5), [&] { return entered; });
    }
    void Open()
    {
        std::lock_guard lock(mutex);
        open = true;
        changed.notify_all();
    }
};

// How the worker is left while a Call waits behind a busy job.
enum class TEnding { DropPending, Destroy };

class WorkerCallTest : public ::testing::TestWithParam<TEnding> {};

TEST_P(WorkerCallTest, ACallWaitingBehindABusyJobIsAnswered)
{
    auto *worker = new TWorker("dz-test");
    TGate gate;
    std::atomic<int> posted{0};
    worker->Post([&] { gate.Wait(); });
    gate.WaitEntered();
    std::atomic<bool> ran{false};
    std::promise<void> answered;
    std::thread caller([&] {
        worker->Call([&] { ran = true; });
        answered.set_value();
    });
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (worker->PendingCount() == 0 && std::chrono::steady_clock::now() < end)
        std::this_thread::yield();
    ASSERT_EQ(worker->PendingCount(), 1U);
    // Behind the Call: dropped by either ending.
    worker->Post([&] { ++posted; });
    std::thread ender;
    if (GetParam() == TEnding::DropPending) {
        worker->DropPending();
    } else {
        ender = std::thread([&] { delete worker; });
        // The destructor has dropped what it drops once the posted job is
        // gone (it then waits for the busy job).
        const auto dropped = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (worker->PendingCount() == 2 && std::chrono::steady_clock::now() < dropped)
            std::this_thread::yield();
    }
    gate.Open();
    const bool inTime = answered.get_future().wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    EXPECT_TRUE(inTime) << "the caller was left waiting";
    if (!inTime) {
        // Leave the stuck threads behind rather than hang the suite.
        caller.detach();
        if (ender.joinable())
            ender.detach();
        return;
    }
    caller.join();
    EXPECT_TRUE(ran.load());
    if (ender.joinable())
        ender.join();
    else
        delete worker;
    EXPECT_EQ(posted.load(), 0) << "a posted job survived the drop";
}

INSTANTIATE_TEST_SUITE_P(Endings, WorkerCallTest, ::testing::Values(TEnding::DropPending, TEnding::Destroy));

} // namespace

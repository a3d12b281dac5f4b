#pragma once
// TLatestWriter: writes state files on a worker thread, so the window's
// thread never waits on the disk. Per file, at most one write is in flight
// and the latest content wins: writes that a newer one overtook while they
// waited are never made.
//
// Write from the owner thread; a write job owns its data. A job that
// raises reports through dz::ReportError (from the worker's thread).

#include "peer/worker.h"

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace dz::peer {

class TLatestWriter {
public:
    using TJob = std::function<void()>;

    TLatestWriter();
    // Writes what still waits (bounded, see Flush), then stops.
    ~TLatestWriter();
    TLatestWriter(const TLatestWriter &) = delete;
    TLatestWriter &operator=(const TLatestWriter &) = delete;

    // Replaces a write of the same file that has not started.
    void Write(const std::string &file, TJob job);
    // Waits until every write made so far is done, at most limit; true when done.
    bool Flush(std::chrono::milliseconds limit = std::chrono::seconds(2));

private:
    void WriteNext(const std::string &file);

    std::mutex mutex_;
    std::map<std::string, TJob> waiting_;
    TWorker worker_;
};

} // namespace dz::peer

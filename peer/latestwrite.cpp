#include "latestwrite.h"

#include "util/errors.h"

#include <exception>

namespace dz::peer {

TLatestWriter::TLatestWriter() : worker_("state writer") {}

TLatestWriter::~TLatestWriter()
{
    Flush();
}

void TLatestWriter::Write(const std::string &file, TJob job)
{
    bool queued = false;
    {
        std::lock_guard lock(mutex_);
        auto [it, added] = waiting_.insert_or_assign(file, std::move(job));
        queued = !added;
    }
    if (!queued)
        worker_.Post([this, file] { WriteNext(file); });
}

void TLatestWriter::WriteNext(const std::string &file)
{
    TJob job;
    {
        std::lock_guard lock(mutex_);
        const auto it = waiting_.find(file);
        if (it == waiting_.end())
            return;
        job = std::move(it->second);
        waiting_.erase(it);
    }
    try {
        job();
    } catch (const std::exception &e) {
        ReportError(e.what());
    } catch (...) {
        ReportError("A state file could not be written");
    }
}

bool TLatestWriter::Flush(std::chrono::milliseconds limit)
{
    return worker_.WaitIdle(limit);
}

} // namespace dz::peer

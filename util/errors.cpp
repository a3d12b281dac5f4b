#include "errors.h"

#include "problem.h"

#include <cstdio>
#include <mutex>

namespace dz {
namespace {
std::mutex reporterMutex;
ExceptionReporter &Reporter()
{
    static ExceptionReporter reporter;
    return reporter;
}
} // namespace

ExceptionReporter SetExceptionReporter(ExceptionReporter reporter)
{
    std::lock_guard lock(reporterMutex);
    std::swap(Reporter(), reporter);
    return reporter;
}

void ReportError(const std::string &message)
{
    ExceptionReporter reporter;
    {
        std::lock_guard lock(reporterMutex);
        reporter = Reporter();
    }
    if (reporter)
        reporter(message);
    else
        std::fprintf(stderr, "Dizaruz: %s\n", PlainText(message).c_str());
}

void ReportCurrentException()
{
    try {
        throw;
    } catch (const std::exception &e) {
        ReportError(e.what());
    } catch (...) {
        ReportError("Unknown exception");
    }
}

} // namespace dz

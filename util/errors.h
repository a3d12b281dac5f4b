#pragma once
// The program's failures are exceptions that carry only a message text, in
// UTF-8 (a path in it is named as the file system has it).
// One application-wide report shows the text of an exception that nobody
// caught (the window installs a modal message box; the default prints it).

#include <exception>
#include <functional>
#include <stdexcept>
#include <string>

namespace dz {

class Exception : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// File and INI failures: "Cannot create file %s", "Cannot open file %s",
// "Unable to write to %s", "Unable to create directory".
class EFileError : public Exception {
public:
    using Exception::Exception;
};

using ExceptionReporter = std::function<void(const std::string &message)>;

// Installs the general error report; returns the previous one. Thread-safe.
ExceptionReporter SetExceptionReporter(ExceptionReporter reporter);
// Shows the message through the general error report.
void ReportError(const std::string &message);
// Reports the exception currently being handled (call inside a catch block).
void ReportCurrentException();

} // namespace dz

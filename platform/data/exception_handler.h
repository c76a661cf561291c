#pragma once
// Where an exception goes that must not interrupt the code that caught it (a failing filter
// callback must not end a scan, a failing notification must not end a stream close). The
// application installs a handler that shows the message; until then it is written to stderr.
// The silent abort is never passed on.
#include <exception>
#include <functional>

namespace platform::data {

using ExceptionHandler = std::function<void(const std::exception&)>;

// nullptr restores the default (stderr).
void SetExceptionHandler(ExceptionHandler handler);

// Call inside a catch block: hands the exception being handled to the handler.
void HandleException();

}  // namespace platform::data

#pragma once
// The data layer's exceptions: EDatabaseError for misuse and refused operations, and the
// silent abort that ends an operation without a message.
#include <exception>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>

namespace platform::data {

class EDatabaseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The silent exception: it unwinds like any other but the application's handler shows
// nothing for it. Deliberately not an EDatabaseError, so that no error event catches it.
class EAbort : public std::exception {
 public:
  const char* what() const noexcept override { return "Operation aborted"; }
};

[[noreturn]] void Abort();

// Raises EDatabaseError. With a component name the message reads "<name>: <message>", so
// that the operator sees which dataset refused.
[[noreturn]] void DatabaseError(const std::string& message, std::string_view component_name = {});

// Fills "%s" and "%d" placeholders in order (the argument is already text); "%%" is a percent
// sign. Missing arguments leave the placeholder empty; surplus ones are ignored.
std::string FormatText(std::string_view pattern, std::initializer_list<std::string_view> args);

}  // namespace platform::data

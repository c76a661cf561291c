#pragma once
// The one exception of the storage engine. Every raise site names its own native code, so a
// message seen by an operator points at exactly one place in the engine.
#include <cstdint>
#include <initializer_list>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

namespace orv {

// One argument of a formatted engine message: an integer, a float or a text. The kinds are
// kept apart because a placeholder that does not fit its argument is a formatting error,
// not a silent conversion.
class TORVFormatArg {
 public:
  template <class T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, char>, int> = 0>
  TORVFormatArg(T v) {  // NOLINT(google-explicit-constructor)
    if constexpr (std::is_unsigned_v<T> && sizeof(T) >= sizeof(int64_t))
      value_ = static_cast<uint64_t>(v);
    else
      value_ = static_cast<int64_t>(v);
  }
  TORVFormatArg(float v) : value_(static_cast<long double>(v)) {}
  TORVFormatArg(double v) : value_(static_cast<long double>(v)) {}
  TORVFormatArg(long double v) : value_(v) {}
  TORVFormatArg(char c) : value_(std::string(1, c)) {}
  TORVFormatArg(const char* s) : value_(std::string(s ? s : "")) {}
  TORVFormatArg(std::string s) : value_(std::move(s)) {}
  TORVFormatArg(std::string_view s) : value_(std::string(s)) {}

  const std::variant<int64_t, uint64_t, long double, std::string>& value() const { return value_; }

 private:
  std::variant<int64_t, uint64_t, long double, std::string> value_;
};

// Formats like the engine's message formatter: "%" [index ":"] ["-"] [width] ["." prec] type
// with the types d, u, x (integers), e, f, g, n (floats), s (texts) and "%%"; width and
// precision may be "*" (taken from an integer argument). Numbers use a point as decimal
// separator whatever the process settings. Returns false when the format is malformed, an
// argument is missing or does not fit its placeholder.
bool TryORVFormat(std::string_view format, std::span<const TORVFormatArg> args, std::string& out);

class EORVException : public std::runtime_error {
 public:
  // Message = ErrorMsg + " - Native error: " + the code zero-padded to five digits.
  EORVException(int32_t NativeErrorCode, const std::string& ErrorMsg);
  // Message = ErrorMsg formatted with Args (or ErrorMsg + " Arguments are invalid!" when that
  // fails) + " - Native error: " + the code right-aligned in five places.
  EORVException(int32_t NativeErrorCode, std::string_view ErrorMsg,
                std::initializer_list<TORVFormatArg> Args);
  EORVException(int32_t NativeErrorCode, std::string_view ErrorMsg,
                std::span<const TORVFormatArg> Args);

  int32_t NativeError() const noexcept { return native_error_; }
  // The whole text including the native-error suffix.
  std::string Message() const { return what(); }

 private:
  int32_t native_error_;
};

}  // namespace orv

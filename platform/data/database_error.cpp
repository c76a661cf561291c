#include "platform/data/database_error.h"

namespace platform::data {

void Abort() { throw EAbort(); }

void DatabaseError(const std::string& message, std::string_view component_name) {
  if (component_name.empty()) throw EDatabaseError(message);
  throw EDatabaseError(std::string(component_name) + ": " + message);
}

std::string FormatText(std::string_view pattern, std::initializer_list<std::string_view> args) {
  std::string out;
  out.reserve(pattern.size() + 32);
  auto next = args.begin();
  for (size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c == '%' && i + 1 < pattern.size()) {
      const char k = pattern[i + 1];
      if (k == '%') {
        out += '%';
        ++i;
        continue;
      }
      if (k == 's' || k == 'd') {
        if (next != args.end()) out += *next++;
        ++i;
        continue;
      }
    }
    out += c;
  }
  return out;
}

}  // namespace platform::data

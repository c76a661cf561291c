#pragma once
// Names of fields, parameters and indexes are compared without regard to case. The case
// mapping covers ASCII and the letters of the engine's 8-bit code page, independent of the
// process locale.
#include <string>
#include <string_view>

namespace platform::data {

bool SameText(std::string_view a, std::string_view b);
std::string UpperText(std::string_view utf8);
std::string TrimText(std::string_view text);

}  // namespace platform::data

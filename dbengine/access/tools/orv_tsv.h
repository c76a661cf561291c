#pragma once
// The tab-separated form in which the engine's command-line tools read and write rows: one row
// per line, fields separated by a tab, \N for NULL; text in UTF-8 with tab, line feed and
// backslash written \t, \n and \\; integers in decimal, doubles as %.17g, Booleans 1 and 0,
// dates YYYY-MM-DD, times HH:MM:SS and date-times YYYY-MM-DD HH:MM:SS, each followed by .mmm
// only when the milliseconds are not 0; BLOBs and byte columns in lowercase hex.
#include <string>
#include <string_view>
#include <vector>

namespace platform::data {
class TField;
}

namespace orv::tools {

// One field of a line, NULL kept apart from the empty text.
struct TsvField {
  bool null = false;
  std::string text;  // unescaped
};

std::string TsvEscape(std::string_view text);
// The fields of one line (without its line end). A backslash before any other character, or
// at the end of a field: std::invalid_argument.
std::vector<TsvField> TsvSplit(std::string_view line);
// The field's value in its TSV form (escaped).
std::string FormatTsvValue(platform::data::TField& Field);
// Sets the field from its TSV form (unescaped); a value the type cannot take:
// std::invalid_argument naming the field.
void ParseTsvValue(platform::data::TField& Field, const TsvField& Value);

}  // namespace orv::tools

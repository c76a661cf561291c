#include "dbengine/access/tools/orv_tsv.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "platform/base/datetime.h"
#include "platform/data/blob_field.h"
#include "platform/data/field.h"

namespace orv::tools {

using namespace platform::data;

namespace {

enum class Kind { Text, Memo, Integer, Float, Boolean, Date, Time, DateTime, Bytes };

Kind KindOf(const TField& Field) {
  switch (Field.DataType()) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftLargeint:
    case ftShortint:
    case ftByte:
    case ftLongWord: return Kind::Integer;
    case ftFloat:
    case ftCurrency:
    case ftBCD:
    case ftFMTBcd:
    case ftExtended:
    case ftSingle: return Kind::Float;
    case ftBoolean: return Kind::Boolean;
    case ftDate: return Kind::Date;
    case ftTime: return Kind::Time;
    case ftDateTime:
    case ftTimeStamp: return Kind::DateTime;
    case ftMemo:
    case ftFmtMemo:
    case ftWideMemo:
    case ftOraClob: return Kind::Memo;
    case ftBytes:
    case ftVarBytes:
    case ftBlob:
    case ftGraphic:
    case ftTypedBinary:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftOraBlob: return Kind::Bytes;
    default: return Kind::Text;
  }
}

[[noreturn]] void Invalid(const TField& Field, const std::string& Text, const char* What) {
  throw std::invalid_argument("'" + Text + "' is not a valid " + What + " for field '" + Field.FieldName() + "'");
}

std::string TwoDigits(int v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d", v);
  return buf;
}

std::string FormatTime(const platform::DateParts& p) {
  std::string out = TwoDigits(p.hour) + ":" + TwoDigits(p.minute) + ":" + TwoDigits(p.second);
  if (p.msec != 0) {
    char buf[8];
    std::snprintf(buf, sizeof buf, ".%03d", p.msec);
    out += buf;
  }
  return out;
}

std::string FormatDate(const platform::DateParts& p) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", p.year, p.month, p.day);
  return buf;
}

// Reads exactly the digits expected at pos; false when they are not there.
bool Digits(std::string_view s, size_t& pos, size_t count, int& value) {
  if (pos + count > s.size()) return false;
  value = 0;
  for (size_t i = 0; i < count; ++i) {
    const char c = s[pos + i];
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  pos += count;
  return true;
}

bool Expect(std::string_view s, size_t& pos, char c) {
  if (pos >= s.size() || s[pos] != c) return false;
  ++pos;
  return true;
}

bool ParseDatePart(std::string_view s, size_t& pos, platform::TDateTime& out) {
  int y = 0, m = 0, d = 0;
  return Digits(s, pos, 4, y) && Expect(s, pos, '-') && Digits(s, pos, 2, m) && Expect(s, pos, '-') &&
         Digits(s, pos, 2, d) && platform::TryEncodeDate(y, m, d, out);
}

bool ParseTimePart(std::string_view s, size_t& pos, platform::TDateTime& out) {
  int h = 0, n = 0, sec = 0, ms = 0;
  if (!(Digits(s, pos, 2, h) && Expect(s, pos, ':') && Digits(s, pos, 2, n) && Expect(s, pos, ':') &&
        Digits(s, pos, 2, sec)))
    return false;
  if (pos < s.size() && s[pos] == '.' && !(Expect(s, pos, '.') && Digits(s, pos, 3, ms))) return false;
  return platform::TryEncodeTime(h, n, sec, ms, out);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string TsvEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\\': out += "\\\\"; break;
      default: out += c;
    }
  }
  return out;
}

std::vector<TsvField> TsvSplit(std::string_view line) {
  std::vector<TsvField> fields(1);
  bool raw_null = false;  // the field so far is exactly "\N"
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '\t') {
      fields.back().null = raw_null;
      if (raw_null) fields.back().text.clear();
      fields.emplace_back();
      raw_null = false;
      continue;
    }
    if (c != '\\') {
      fields.back().text += c;
      raw_null = false;
      continue;
    }
    if (i + 1 >= line.size()) throw std::invalid_argument("a backslash ends the line");
    const char e = line[++i];
    switch (e) {
      case 't': fields.back().text += '\t'; break;
      case 'n': fields.back().text += '\n'; break;
      case '\\': fields.back().text += '\\'; break;
      case 'N': {
        const bool alone = fields.back().text.empty() && (i + 1 == line.size() || line[i + 1] == '\t');
        if (!alone) throw std::invalid_argument("\\N must stand alone in its field");
        raw_null = true;
        continue;
      }
      default: throw std::invalid_argument(std::string("unknown escape \\") + e);
    }
    raw_null = false;
  }
  fields.back().null = raw_null;
  if (raw_null) fields.back().text.clear();
  return fields;
}

std::string FormatTsvValue(TField& Field) {
  if (Field.IsNull()) return "\\N";
  switch (KindOf(Field)) {
    case Kind::Integer: return std::to_string(Field.AsLargeInt());
    case Kind::Float: {
      char buf[40];
      std::snprintf(buf, sizeof buf, "%.17g", Field.AsFloat());
      return buf;
    }
    case Kind::Boolean: return Field.AsBoolean() ? "1" : "0";
    case Kind::Date: return FormatDate(platform::DecodeDateTime(Field.AsDateTime()));
    case Kind::Time: return FormatTime(platform::DecodeDateTime(Field.AsDateTime()));
    case Kind::DateTime: {
      const platform::DateParts p = platform::DecodeDateTime(Field.AsDateTime());
      return FormatDate(p) + " " + FormatTime(p);
    }
    case Kind::Bytes: {
      static const char* hex = "0123456789abcdef";
      const std::vector<uint8_t> bytes = Field.AsBytes();
      std::string out;
      out.reserve(bytes.size() * 2);
      for (uint8_t b : bytes) {
        out += hex[b >> 4];
        out += hex[b & 15];
      }
      return out;
    }
    case Kind::Memo:
    case Kind::Text: return TsvEscape(Field.AsString());
  }
  return {};
}

void ParseTsvValue(TField& Field, const TsvField& Value) {
  if (Value.null) {
    Field.Clear();
    return;
  }
  const std::string& s = Value.text;
  switch (KindOf(Field)) {
    case Kind::Integer: {
      errno = 0;
      char* end = nullptr;
      const long long v = std::strtoll(s.c_str(), &end, 10);
      if (s.empty() || *end != '\0' || errno == ERANGE) Invalid(Field, s, "integer");
      Field.SetAsLargeInt(v);
      return;
    }
    case Kind::Float: {
      errno = 0;
      char* end = nullptr;
      const double v = std::strtod(s.c_str(), &end);
      if (s.empty() || *end != '\0' || errno == ERANGE) Invalid(Field, s, "number");
      Field.SetAsFloat(v);
      return;
    }
    case Kind::Boolean:
      if (s != "0" && s != "1") Invalid(Field, s, "Boolean (1 or 0)");
      Field.SetAsBoolean(s == "1");
      return;
    case Kind::Date: {
      platform::TDateTime d = 0;
      size_t pos = 0;
      if (!ParseDatePart(s, pos, d) || pos != s.size()) Invalid(Field, s, "date (YYYY-MM-DD)");
      Field.SetAsDateTime(d);
      return;
    }
    case Kind::Time: {
      platform::TDateTime t = 0;
      size_t pos = 0;
      if (!ParseTimePart(s, pos, t) || pos != s.size()) Invalid(Field, s, "time (HH:MM:SS)");
      Field.SetAsDateTime(t);
      return;
    }
    case Kind::DateTime: {
      platform::TDateTime d = 0, t = 0;
      size_t pos = 0;
      if (!ParseDatePart(s, pos, d) || !Expect(s, pos, ' ') || !ParseTimePart(s, pos, t) || pos != s.size())
        Invalid(Field, s, "date-time (YYYY-MM-DD HH:MM:SS)");
      Field.SetAsDateTime(d + t);
      return;
    }
    case Kind::Bytes: {
      if (s.size() % 2 != 0) Invalid(Field, s, "hex string");
      std::vector<uint8_t> bytes(s.size() / 2);
      for (size_t i = 0; i < bytes.size(); ++i) {
        const int hi = HexDigit(s[2 * i]), lo = HexDigit(s[2 * i + 1]);
        if (hi < 0 || lo < 0) Invalid(Field, s, "hex string");
        bytes[i] = static_cast<uint8_t>(hi << 4 | lo);
      }
      Field.SetAsBytes(bytes);
      return;
    }
    case Kind::Memo:
    case Kind::Text: Field.SetAsString(s); return;
  }
}

}  // namespace orv::tools

#include "capture/utils.h"

#include <algorithm>
#include <array>

namespace capture {

uint8_t CharHex(char c) {
  if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<uint8_t>(c - 'A' + 10);
  if (c >= 'a' && c <= 'f') return static_cast<uint8_t>(c - 'a' + 10);
  return 255;
}

std::string BytesToStr(const std::vector<uint8_t>& source) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(source.size() * 2);
  for (uint8_t b : source) {
    text += kDigits[b >> 4];
    text += kDigits[b & 15];
  }
  return text;
}

std::vector<uint8_t> StrToBytes(std::string_view source) {
  std::string text(source);
  if (text.size() % 2 != 0) text.insert(text.begin(), '0');
  std::vector<uint8_t> bytes(text.size() / 2, 0);
  for (size_t i = 0; i < bytes.size(); ++i) {
    const uint8_t hi = CharHex(text[2 * i]);
    const uint8_t lo = CharHex(text[2 * i + 1]);
    if (hi > 15 || lo > 15) break;
    bytes[i] = static_cast<uint8_t>(hi << 4 | lo);
  }
  return bytes;
}

std::string GUIDToStr(const platform::video::TGUID& source) {
  const auto b = source.Bytes();
  return BytesToStr(std::vector<uint8_t>(b.begin(), b.end()));
}

platform::video::TGUID StrToGUID(std::string_view source) {
  std::array<uint8_t, 16> b{};
  const std::vector<uint8_t> bytes = StrToBytes(source);
  std::copy_n(bytes.begin(), std::min<size_t>(bytes.size(), 16), b.begin());
  return platform::video::TGUID::FromBytes(b);
}

std::string CommaText(const std::vector<std::string>& entries) {
  std::string text;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (i > 0) text += ',';
    const std::string& e = entries[i];
    const bool quote = std::any_of(e.begin(), e.end(), [](char c) {
      return static_cast<unsigned char>(c) <= ' ' || c == ',' || c == '"';
    });
    if (!quote) {
      text += e;
      continue;
    }
    text += '"';
    for (char c : e) {
      if (c == '"') text += '"';
      text += c;
    }
    text += '"';
  }
  return text;
}

std::vector<std::string> ParseCommaText(std::string_view text) {
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  std::vector<std::string> entries;
  size_t p = 0;
  const size_t n = std::min(text.size(), text.find('\0'));  // a text ends at its first NUL
  while (p < n && blank(text[p])) ++p;
  while (p < n) {
    std::string entry;
    if (text[p] == '"') {
      ++p;
      while (p < n) {
        if (text[p] == '"') {
          if (p + 1 < n && text[p + 1] == '"') {
            entry += '"';
            p += 2;
            continue;
          }
          ++p;
          break;
        }
        entry += text[p++];
      }
    } else {
      while (p < n && !blank(text[p]) && text[p] != ',') entry += text[p++];
    }
    entries.push_back(std::move(entry));
    while (p < n && blank(text[p])) ++p;
    if (p < n && text[p] == ',') {
      if (p + 1 == n) entries.emplace_back();
      do {
        ++p;
      } while (p < n && blank(text[p]));
    }
  }
  return entries;
}

std::string ValueOf(const std::vector<std::string>& entries, std::string_view name, bool* found) {
  auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
  for (const std::string& e : entries) {
    const size_t eq = e.find('=');
    if (eq == std::string::npos || eq != name.size()) continue;
    bool same = true;
    for (size_t i = 0; i < eq && same; ++i) same = lower(e[i]) == lower(name[i]);
    if (!same) continue;
    if (found) *found = true;
    return e.substr(eq + 1);
  }
  if (found) *found = false;
  return {};
}

}  // namespace capture

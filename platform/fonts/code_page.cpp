#include "platform/fonts/code_page.h"

#include <iconv.h>

#include <array>
#include <map>
#include <mutex>

#include "platform/base/cp1252.h"

namespace platform {

namespace {

// The byte -> character table of one code page; 0 marks a byte that is no character alone.
using ByteTable = std::array<char32_t, 256>;

struct IconvCodePage {
  int codePage;
  const char* names[3];  // tried in order; converters differ between C libraries
};

constexpr IconvCodePage kIconvNames[] = {
    {874, {"CP874", "WINDOWS-874", "TIS-620"}}, {932, {"CP932", "SJIS", nullptr}},
    {936, {"CP936", "GBK", nullptr}},          {949, {"CP949", "UHC", "EUC-KR"}},
    {950, {"CP950", "BIG5", nullptr}},         {1250, {"CP1250", nullptr, nullptr}},
    {1251, {"CP1251", nullptr, nullptr}},      {1253, {"CP1253", nullptr, nullptr}},
    {1254, {"CP1254", nullptr, nullptr}},      {1255, {"CP1255", nullptr, nullptr}},
    {1256, {"CP1256", nullptr, nullptr}},      {1257, {"CP1257", nullptr, nullptr}},
    {1258, {"CP1258", nullptr, nullptr}},      {1361, {"JOHAB", nullptr, nullptr}},
    {10000, {"MACINTOSH", nullptr, nullptr}},
};

bool BuildTable(int codePage, ByteTable& table) {
  table.fill(0);
  if (codePage == 1252) {
    for (int b = 0; b < 256; ++b) table[static_cast<size_t>(b)] = Cp1252ToUnicode(static_cast<uint8_t>(b));
    return true;
  }
  const IconvCodePage* entry = nullptr;
  for (const IconvCodePage& e : kIconvNames) {
    if (e.codePage == codePage) entry = &e;
  }
  if (!entry) return false;
  for (const char* name : entry->names) {
    if (!name) break;
    iconv_t cd = iconv_open("UTF-32LE", name);
    if (cd == reinterpret_cast<iconv_t>(-1)) continue;
    for (int b = 0; b < 256; ++b) {
      char in = static_cast<char>(b);
      unsigned char out[8] = {};
      char* inp = &in;
      char* outp = reinterpret_cast<char*>(out);
      size_t inLeft = 1;
      size_t outLeft = sizeof out;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      if (iconv(cd, &inp, &inLeft, &outp, &outLeft) != static_cast<size_t>(-1) && inLeft == 0 &&
          sizeof out - outLeft == 4) {
        table[static_cast<size_t>(b)] = static_cast<char32_t>(out[0] | out[1] << 8 | out[2] << 16 | out[3] << 24);
      }
    }
    iconv_close(cd);
    // NUL converts to 0 anyway; keep it as the character it is.
    return true;
  }
  return false;
}

struct CodePageCache {
  std::mutex mutex;
  std::map<int, std::optional<ByteTable>> tables;
  std::map<int, std::map<char32_t, uint8_t>> reverse;

  const ByteTable* Table(int codePage) {
    auto it = tables.find(codePage);
    if (it == tables.end()) {
      ByteTable t;
      std::optional<ByteTable> entry;
      if (BuildTable(codePage, t)) entry = t;
      it = tables.emplace(codePage, entry).first;
      if (entry) {
        auto& rev = reverse[codePage];
        // The lowest byte wins where a code page maps two bytes to one character.
        for (int b = 255; b >= 0; --b) {
          if ((*entry)[static_cast<size_t>(b)] != 0 || b == 0) rev[(*entry)[static_cast<size_t>(b)]] = static_cast<uint8_t>(b);
        }
      }
    }
    return it->second ? &*it->second : nullptr;
  }
};

CodePageCache& Cache() {
  static CodePageCache cache;
  return cache;
}

}  // namespace

std::optional<char32_t> CodePageToUnicode(int codePage, uint8_t byte) {
  CodePageCache& c = Cache();
  std::lock_guard lock(c.mutex);
  const ByteTable* t = c.Table(codePage);
  if (!t) return std::nullopt;
  const char32_t u = (*t)[byte];
  if (u == 0 && byte != 0) return std::nullopt;
  return u;
}

std::optional<uint8_t> UnicodeToCodePage(int codePage, char32_t ch) {
  CodePageCache& c = Cache();
  std::lock_guard lock(c.mutex);
  if (!c.Table(codePage)) return std::nullopt;
  const auto& rev = c.reverse[codePage];
  auto it = rev.find(ch);
  if (it == rev.end()) return std::nullopt;
  return it->second;
}

}  // namespace platform

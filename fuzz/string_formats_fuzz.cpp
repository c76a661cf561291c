// Byte strings in the engine's text formats. Base64 (the one in real use) and the plain copy
// convert: any text decodes or is refused, any bytes encode and decode back to themselves.
// HEX, HEXL, UU and XX convert nothing and raise their fixed error for every input.
#include <stdexcept>

#include "dbengine/file/orv_cipher_util.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int len = static_cast<int>(std::min<size_t>(size, 1 << 20));
  for (int format : {orv::fmtCOPY, orv::fmtMIME64, orv::fmtDEFAULT}) {
    try {
      orv::FormatToStr(data, len, format);
    } catch (const orv::EStringFormat&) {
    }
    if (len == 0) continue;
    const std::string text = orv::StrToFormat(data, len, format);
    const std::string back = orv::FormatToStr(text, format);
    FUZZ_CHECK(back.size() == static_cast<size_t>(len) && std::memcmp(back.data(), data, back.size()) == 0);
  }
  for (int format : {orv::fmtHEX, orv::fmtHEXL, orv::fmtUU, orv::fmtXX}) {
    for (bool to_text : {false, true}) {
      try {
        to_text ? orv::StrToFormat(data, len, format) : orv::FormatToStr(data, len, format);
        FUZZ_CHECK(len == 0);
      } catch (const std::runtime_error&) {
        FUZZ_CHECK(len > 0);
      }
    }
  }
  return 0;
}

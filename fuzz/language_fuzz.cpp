// Language files: any bytes decode (byte-order mark or Windows-1252) into lines; sections and
// texts are looked up, a file read from disk gives the same lines as the bytes in memory.
#include "app/language.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  app::Language lang;
  lang.SetLines(app::SplitLines(app::DecodeTextFile(bytes)));
  for (const char* section : {"MAINMENU", "MESSAGES", "FRMDB", "DBERROR", "MMODES"}) lang.IndexOf(section);
  for (int i : {-1, 0, 1, 5, 40, 1 << 30}) {
    lang.GetLanguageString(i);
    lang.GetMessageString(i);
  }
  const std::string path = fuzz::ScratchFile("English.txt");
  fuzz::WriteFile(path, std::span<const uint8_t>(data, size));
  app::Language from_file;
  FUZZ_CHECK(from_file.LoadFromFile(path));
  FUZZ_CHECK(from_file.langStrings == lang.langStrings);
  return 0;
}

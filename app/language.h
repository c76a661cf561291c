#pragma once
// The language texts: every caption, hint and message of the application's own windows comes
// from one language file, "LANGUAGE\<name>.txt" in the home folder. The file is a list of
// lines; a section is a line holding only its name (MAINMENU, MEASRESULT, MAINPANEL, HINT,
// MESSAGES, FRMSETTINGS, FRMREPORT, FRMDB, DBERROR, MMODES) and a text is addressed as the
// section's line plus an offset, so a file must keep every line at its place.
//
// Texts are held as UTF-8. A file with a byte-order mark is UTF-8 or UTF-16 (either byte
// order); one without is Windows-1252.
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/text_file.h"

namespace app {

// Raised by LoadLanguage after it has told the operator that the language file is missing:
// the program ends with this exit code. Event handlers of the windows catch it and hand the
// code to the UI services (see THRMainFrm::Guarded).
struct EHalt {
  int code;
};

class Language {
 public:
  // Replaces the lines with those of `path`. False (lines unchanged, reason in `error`) when
  // the file cannot be read.
  bool LoadFromFile(const std::string& path, std::string* error = nullptr);
  void SetLines(std::vector<std::string> lines) { langStrings = std::move(lines); }
  void Clear() { langStrings.clear(); }

  // Index of the first line equal to s without regard to case, -1 when there is none.
  int IndexOf(std::string_view s) const;
  // Line i; for an i outside the lines the decimal i followed by " not found".
  std::string GetLanguageString(int i) const;
  // Line IndexOf("MESSAGES") + i with every "#" turned into a carriage return; without a
  // MESSAGES line the decimal i followed by " not found".
  std::string GetMessageString(int i) const;

  std::vector<std::string> langStrings;
};

// A language file is read like every text file of the program (platform/base/text_file.h):
// lines split at CR LF, LF or CR; a byte-order mark, else Windows-1252.
using platform::SplitLines;
using platform::DecodeTextFile;

// ---- The module's procedural interface, on the one process-wide list ----

Language& LanguageModule();
// Creates the list empty (at the main window's creation).
void CreateLanguage();
// Loads "LANGUAGE\<alang>.txt" of the program folder and returns true. A missing file shows
// "Language file <path> not found!" and raises EHalt{1}. A file that exists but cannot be
// read shows the reason, keeps the texts loaded before and returns false.
bool LoadLanguage(const std::string& alang);
int IndexOf(std::string_view s);
std::string GetLanguageString(int i);
std::string GetMessageString(int i);

// The path LoadLanguage reads for a language name.
std::string LanguageFilePath(const std::string& alang);

}  // namespace app

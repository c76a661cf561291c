#include "app/language.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "app/home_path.h"
#include "platform/base/cp1252.h"
#include "platform/ui/ui_services.h"

namespace app {
namespace {

// A language file is a few kilobytes; anything far larger is not one.
constexpr std::streamoff kMaxLanguageFileBytes = 16 << 20;

}  // namespace

bool Language::LoadFromFile(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error) *error = std::strerror(errno);
    return false;
  }
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size < 0 || size > kMaxLanguageFileBytes) {
    if (error) *error = size < 0 ? "the file cannot be read" : "the file is too large for a language file";
    return false;
  }
  in.seekg(0, std::ios::beg);
  std::string bytes(static_cast<size_t>(size), '\0');
  if (size > 0 && !in.read(bytes.data(), size)) {
    if (error) *error = "the file cannot be read";
    return false;
  }
  langStrings = SplitLines(DecodeTextFile(bytes));
  return true;
}

int Language::IndexOf(std::string_view s) const {
  const std::string wanted = UpperCaseName(s);
  for (size_t i = 0; i < langStrings.size(); ++i) {
    if (UpperCaseName(langStrings[i]) == wanted) return static_cast<int>(i);
  }
  return -1;
}

std::string Language::GetLanguageString(int i) const {
  // A negative index (an absent section with offset 0) is answered like one past the end
  // instead of reading before the list.
  if (i < 0 || static_cast<size_t>(i) >= langStrings.size()) return std::to_string(i) + " not found";
  return langStrings[static_cast<size_t>(i)];
}

std::string Language::GetMessageString(int i) const {
  const int s = IndexOf("MESSAGES");
  if (s < 0) return std::to_string(i) + " not found";
  std::string text = GetLanguageString(s + i);
  for (char& c : text) {
    if (c == '#') c = '\r';
  }
  return text;
}

Language& LanguageModule() {
  static Language language;
  return language;
}

void CreateLanguage() { LanguageModule().Clear(); }

std::string LanguageFilePath(const std::string& alang) {
  return ResolveInFolder(ProgramFolder(), "LANGUAGE/" + alang + ".txt");
}

bool LoadLanguage(const std::string& alang) {
  const std::string path = LanguageFilePath(alang);
  if (!FileExists(path)) {
    platform::ui::Services().ShowMessage("Language file " + path + " not found!");
    throw EHalt{1};
  }
  std::string error;
  if (!LanguageModule().LoadFromFile(path, &error)) {
    platform::ui::Services().ShowMessage("Language file " + path + " cannot be read: " + error);
    return false;
  }
  return true;
}

int IndexOf(std::string_view s) { return LanguageModule().IndexOf(s); }
std::string GetLanguageString(int i) { return LanguageModule().GetLanguageString(i); }
std::string GetMessageString(int i) { return LanguageModule().GetMessageString(i); }

}  // namespace app

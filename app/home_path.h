#pragma once
// The program's home folder and the paths inside it. The program's own files (ini files,
// language files, zero images, logos, templates) lie in the folder of the executable, and
// their names are written the Windows way in settings and files ("LANGUAGE\English.txt",
// "\DATABASE\QUIRVEL.GEN"). Such names are resolved here: either separator is accepted and
// every component is matched without regard to case, as the file system of the original did.
#include <string>
#include <string_view>

namespace app {

// The executable's own path and its folder (without a trailing separator).
std::string ProgramFile();
std::string ProgramFolder();

// Tests run from another folder than the home folder they work on: while an override is
// installed, ProgramFolder() returns it.
class ScopedProgramFolder {
 public:
  explicit ScopedProgramFolder(std::string folder);
  ~ScopedProgramFolder();
  ScopedProgramFolder(const ScopedProgramFolder&) = delete;
  ScopedProgramFolder& operator=(const ScopedProgramFolder&) = delete;

 private:
  std::string previous_;
  bool had_previous_;
};

// `relative` (separators "\" or "/", a leading separator allowed) inside `base`: each
// component names the existing entry whose name equals it, or failing that the first that
// equals it without regard to case; a component with no such entry is kept as written, so a
// missing file keeps a readable path. "." and ".." components are dropped: a name from a
// file or a setting never leads out of `base`.
std::string ResolveInFolder(const std::string& base, std::string_view relative);

// The folder part and the file part of a path, with either separator (the folder part
// without its trailing separator; empty when there is none).
std::string ExtractFilePath(std::string_view path);
std::string ExtractFileName(std::string_view path);

// Upper-cases ASCII letters and the Latin letters of Windows-1252 written as UTF-8.
std::string UpperCaseName(std::string_view name);
// Names compared the way the file system of the original compared them.
bool SameFileName(std::string_view a, std::string_view b);

bool FileExists(const std::string& path);       // a regular file (or a link to one)
bool DirectoryExists(const std::string& path);

// The file's modification date as this system's short date, "yyyy-mm-dd" (local time);
// empty when the file cannot be examined.
std::string FileDateText(const std::string& path);

}  // namespace app

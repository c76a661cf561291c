#include "app/home_path.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <mutex>
#include <optional>
#include <vector>

namespace app {
namespace {

std::mutex g_folder_mutex;
std::optional<std::string> g_folder_override;

bool IsSep(char c) { return c == '/' || c == '\\'; }

std::string StripTrailingSeps(std::string s) {
  while (s.size() > 1 && IsSep(s.back())) s.pop_back();
  return s;
}

// Upper case of one character given as UTF-8 starting at s[i]; advances i.
void AppendUpper(std::string_view s, size_t& i, std::string& out) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  if (c < 0x80) {
    out += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    ++i;
    return;
  }
  // Latin-1 supplement (the letters of Windows-1252 à..þ): C3 A0..C3 BE -> C3 80..C3 9E,
  // except the division sign C3 B7.
  if (c == 0xC3 && i + 1 < s.size()) {
    const unsigned char d = static_cast<unsigned char>(s[i + 1]);
    out += static_cast<char>(0xC3);
    out += static_cast<char>(d >= 0xA0 && d <= 0xBE && d != 0xB7 ? d - 0x20 : d);
    i += 2;
    return;
  }
  out += static_cast<char>(c);
  ++i;
}

}  // namespace

std::string ProgramFile() {
  std::vector<char> buf(4096);
  const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n <= 0) return {};
  return std::string(buf.data(), static_cast<size_t>(n));
}

std::string ProgramFolder() {
  {
    std::lock_guard lock(g_folder_mutex);
    if (g_folder_override) return *g_folder_override;
  }
  return ExtractFilePath(ProgramFile());
}

ScopedProgramFolder::ScopedProgramFolder(std::string folder) {
  std::lock_guard lock(g_folder_mutex);
  had_previous_ = g_folder_override.has_value();
  if (had_previous_) previous_ = *g_folder_override;
  g_folder_override = StripTrailingSeps(std::move(folder));
}

ScopedProgramFolder::~ScopedProgramFolder() {
  std::lock_guard lock(g_folder_mutex);
  if (had_previous_) {
    g_folder_override = previous_;
  } else {
    g_folder_override.reset();
  }
}

std::string UpperCaseName(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  size_t i = 0;
  while (i < name.size()) AppendUpper(name, i, out);
  return out;
}

bool SameFileName(std::string_view a, std::string_view b) { return UpperCaseName(a) == UpperCaseName(b); }

std::string ResolveInFolder(const std::string& base, std::string_view relative) {
  std::string path = StripTrailingSeps(base);
  size_t i = 0;
  while (i < relative.size()) {
    while (i < relative.size() && IsSep(relative[i])) ++i;
    size_t j = i;
    while (j < relative.size() && !IsSep(relative[j])) ++j;
    const std::string component(relative.substr(i, j - i));
    i = j;
    if (component.empty() || component == "." || component == "..") continue;
    const std::string exact = path + "/" + component;
    struct stat st {};
    if (::lstat(exact.c_str(), &st) == 0) {
      path = exact;
      continue;
    }
    std::string found;
    if (DIR* dir = ::opendir(path.c_str())) {
      const std::string wanted = UpperCaseName(component);
      while (dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        if (UpperCaseName(name) == wanted) {
          found = name;
          break;
        }
      }
      ::closedir(dir);
    }
    path += "/" + (found.empty() ? component : found);
  }
  return path;
}

std::string ExtractFilePath(std::string_view path) {
  const size_t pos = path.find_last_of("/\\");
  if (pos == std::string_view::npos) return {};
  if (pos == 0) return std::string(path.substr(0, 1));
  return std::string(path.substr(0, pos));
}

std::string ExtractFileName(std::string_view path) {
  const size_t pos = path.find_last_of("/\\");
  return std::string(pos == std::string_view::npos ? path : path.substr(pos + 1));
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string FileDateText(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return {};
  std::tm local{};
  const std::time_t t = st.st_mtime;
  if (!::localtime_r(&t, &local)) return {};
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d", &local);
  return buf;
}

}  // namespace app

#include "platform/ini/profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace platform {
namespace {

// Case folding of the code page: ASCII, the Latin-1 letters and the four pairs Windows-1252
// adds in 0x80..0x9F. Names are matched with it, never with the C locale.
uint8_t FoldCase(uint8_t c) {
  if (c >= 'A' && c <= 'Z') return static_cast<uint8_t>(c + 0x20);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<uint8_t>(c + 0x20);
  switch (c) {
    case 0x8A: return 0x9A;  // Š
    case 0x8C: return 0x9C;  // Œ
    case 0x8E: return 0x9E;  // Ž
    case 0x9F: return 0xFF;  // Ÿ
    default: return c;
  }
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

std::string_view Unquote(std::string_view v) {
  if (v.size() > 1 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    return v.substr(1, v.size() - 2);
  }
  return v;
}

std::string ErrnoText(const std::string& what, const std::string& path, int err) {
  return what + " \"" + path + "\": " + std::strerror(err);
}

// One physical line: [begin, contentEnd) is its text, [contentEnd, end) its line break.
struct Line {
  size_t begin = 0;
  size_t contentEnd = 0;
  size_t end = 0;
};

struct Entry {
  std::string_view key;
  std::string_view value;  // trimmed, quotes still on
  size_t line = 0;
};

struct Section {
  std::string_view name;
  size_t header = 0;    // line index of "[name]"
  size_t endLine = 0;   // first line after the section
  std::vector<Entry> entries;
};

// The parsed view of a file's bytes. Views point into `text`, which must outlive it.
struct Document {
  std::string_view text;
  std::vector<Line> lines;
  std::vector<Section> sections;
  std::string eol = "\r\n";

  explicit Document(std::string_view bytes) : text(bytes) {
    size_t pos = 0;
    // A byte-order mark from an editor that saved UTF-8 must not hide the first section.
    if (text.substr(0, 3) == "\xEF\xBB\xBF") pos = 3;
    bool eolKnown = false;
    while (pos < text.size()) {
      Line l;
      l.begin = pos;
      size_t nl = text.find('\n', pos);
      if (nl == std::string_view::npos) {
        l.contentEnd = l.end = text.size();
      } else {
        l.contentEnd = (nl > pos && text[nl - 1] == '\r') ? nl - 1 : nl;
        l.end = nl + 1;
        if (!eolKnown) {
          eol = (l.contentEnd == nl) ? "\n" : "\r\n";
          eolKnown = true;
        }
      }
      lines.push_back(l);
      pos = l.end;
    }
    for (size_t i = 0; i < lines.size(); ++i) {
      std::string_view s = Trim(text.substr(lines[i].begin, lines[i].contentEnd - lines[i].begin));
      if (s.empty() || s.front() == ';') continue;
      if (s.front() == '[') {
        size_t close = s.rfind(']');
        if (close != std::string_view::npos) {
          if (!sections.empty()) sections.back().endLine = i;
          Section sec;
          sec.name = Trim(s.substr(1, close - 1));
          sec.header = i;
          sections.push_back(sec);
          continue;
        }
      }
      if (sections.empty()) continue;  // lines before the first section belong to none
      Entry e;
      e.line = i;
      size_t eq = s.find('=');
      if (eq == std::string_view::npos) {
        e.key = s;
      } else {
        e.key = Trim(s.substr(0, eq));
        e.value = Trim(s.substr(eq + 1));
      }
      sections.back().entries.push_back(e);
    }
    if (!sections.empty()) sections.back().endLine = lines.size();
  }

  const Section* FindSection(std::string_view name) const {
    name = Trim(name);
    for (const Section& s : sections) {
      if (ProfileNamesEqual(s.name, name)) return &s;
    }
    return nullptr;
  }

  static const Entry* FindKey(const Section& sec, std::string_view key) {
    key = Trim(key);
    for (const Entry& e : sec.entries) {
      if (ProfileNamesEqual(e.key, key)) return &e;
    }
    return nullptr;
  }
};

enum class ReadState { Ok, Missing, Failed };

// Reads the whole file. A missing file (or a missing folder on its path) is not a failure.
ReadState ReadFile(const std::string& path, std::string& bytes, std::string* error) {
  bytes.clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    int err = errno;
    if (err == ENOENT || err == ENOTDIR) return ReadState::Missing;
    if (error) *error = ErrnoText("Cannot open profile", path, err);
    return ReadState::Failed;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    int err = S_ISDIR(st.st_mode) ? EISDIR : (errno ? errno : EINVAL);
    ::close(fd);
    if (error) *error = ErrnoText("Cannot read profile", path, err);
    return ReadState::Failed;
  }
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      int err = errno;
      ::close(fd);
      bytes.clear();
      if (error) *error = ErrnoText("Cannot read profile", path, err);
      return ReadState::Failed;
    }
    bytes.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return ReadState::Ok;
}

// Replaces `path` with `bytes` through a temporary file in the same folder and one rename.
bool ReplaceFile(const std::string& path, const std::string& bytes, std::string* error) {
  std::string target = path;
  struct stat lst {};
  if (::lstat(path.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
    // Write through a link to the file it names rather than replacing the link.
    if (char* real = ::realpath(path.c_str(), nullptr)) {
      target = real;
      std::free(real);
    }
  }
  mode_t mode = 0644;
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0) mode = st.st_mode & 07777;

  std::string tmpl = target + ".XXXXXX";
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = ErrnoText("Cannot write profile", path, errno);
    return false;
  }
  auto fail = [&](int err) {
    ::close(fd);
    ::unlink(name.data());
    if (error) *error = ErrnoText("Cannot write profile", path, err);
    return false;
  };
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(errno);
    }
    done += static_cast<size_t>(n);
  }
  if (::fchmod(fd, mode) != 0) return fail(errno);
  if (::fsync(fd) != 0) return fail(errno);
  if (::close(fd) != 0) {
    int err = errno;
    ::unlink(name.data());
    if (error) *error = ErrnoText("Cannot write profile", path, err);
    return false;
  }
  if (::rename(name.data(), target.c_str()) != 0) {
    int err = errno;
    ::unlink(name.data());
    if (error) *error = ErrnoText("Cannot write profile", path, err);
    return false;
  }
  return true;
}

std::string CutToBuffer(std::string_view s, int bufferLength) {
  if (bufferLength <= 0) return {};
  size_t room = static_cast<size_t>(bufferLength) - 1;
  return std::string(s.substr(0, room));
}

bool HasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

// Loads the file for a change; a file that exists but cannot be read is never overwritten.
bool LoadForChange(const std::string& path, std::string& bytes, std::string* error) {
  return ReadFile(path, bytes, error) != ReadState::Failed;
}

}  // namespace

bool ProfileNamesEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldCase(static_cast<uint8_t>(a[i])) != FoldCase(static_cast<uint8_t>(b[i]))) return false;
  }
  return true;
}

std::string GetPrivateProfileString(std::string_view section, std::string_view key, std::string_view def,
                                    int bufferLength, const std::string& path, std::string* error) {
  std::string bytes;
  if (ReadFile(path, bytes, error) == ReadState::Ok) {
    Document doc(bytes);
    if (const Section* sec = doc.FindSection(section)) {
      if (const Entry* e = Document::FindKey(*sec, key)) return CutToBuffer(Unquote(e->value), bufferLength);
    }
  }
  while (!def.empty() && def.back() == ' ') def.remove_suffix(1);
  return CutToBuffer(def, bufferLength);
}

int32_t GetPrivateProfileInt(std::string_view section, std::string_view key, int32_t def, const std::string& path,
                             std::string* error) {
  std::string v = GetPrivateProfileString(section, key, "", INT_MAX, path, error);
  if (v.empty()) return def;
  size_t i = 0;
  while (i < v.size() && IsBlank(v[i])) ++i;
  bool negative = false;
  if (i < v.size() && (v[i] == '-' || v[i] == '+')) negative = v[i++] == '-';
  int64_t n = 0;
  for (; i < v.size() && v[i] >= '0' && v[i] <= '9'; ++i) {
    n = n * 10 + (v[i] - '0');
    if (n > int64_t{INT32_MAX} + 1) n = int64_t{INT32_MAX} + 1;
  }
  if (negative) n = -n;
  if (n > INT32_MAX) n = INT32_MAX;
  return static_cast<int32_t>(n);
}

bool WritePrivateProfileString(std::string_view section, std::string_view key, std::string_view value,
                               const std::string& path, std::string* error) {
  section = Trim(section);
  key = Trim(key);
  if (section.empty() || section.find(']') != std::string_view::npos || HasLineBreak(section) ||
      key.find('=') != std::string_view::npos || HasLineBreak(key) || HasLineBreak(value) ||
      (!key.empty() && (key.front() == ';' || key.front() == '['))) {
    if (error) *error = "Profile names and values must be single lines without '=' in a key or ']' in a section";
    return false;
  }
  std::string bytes;
  if (!LoadForChange(path, bytes, error)) return false;
  Document doc(bytes);
  std::string out;
  const std::string& eol = doc.eol;
  std::string line = std::string(key) + "=" + std::string(value);

  if (const Section* sec = doc.FindSection(section)) {
    if (const Entry* e = Document::FindKey(*sec, key)) {
      const Line& l = doc.lines[e->line];
      out.append(bytes, 0, l.begin);
      out.append(e->key);  // keep the spelling the file already has
      out.append("=").append(value);
      out.append(bytes, l.contentEnd, std::string::npos);
    } else {
      // After the last entry of the section, so blank lines and comments before the next
      // section stay where they are.
      size_t after = sec->entries.empty() ? sec->header : sec->entries.back().line;
      const Line& l = doc.lines[after];
      out.append(bytes, 0, l.end);
      if (l.end == l.contentEnd) {
        out.append(eol).append(line);  // the file ended without a line break; keep it so
      } else {
        out.append(line).append(eol);
      }
      out.append(bytes, l.end, std::string::npos);
    }
  } else {
    out = bytes;
    if (!out.empty() && out.back() != '\n') out.append(eol);
    out.append("[").append(section).append("]").append(eol).append(line).append(eol);
  }
  return ReplaceFile(path, out, error);
}

bool DeletePrivateProfileKey(std::string_view section, std::string_view key, const std::string& path,
                             std::string* error) {
  std::string bytes;
  ReadState state = ReadFile(path, bytes, error);
  if (state == ReadState::Failed) return false;
  if (state == ReadState::Missing) return true;
  Document doc(bytes);
  const Section* sec = doc.FindSection(section);
  if (!sec) return true;
  std::vector<bool> drop(doc.lines.size(), false);
  bool any = false;
  for (const Entry& e : sec->entries) {
    if (ProfileNamesEqual(e.key, Trim(key))) drop[e.line] = any = true;
  }
  if (!any) return true;
  std::string out;
  out.append(bytes, 0, doc.lines.empty() ? bytes.size() : doc.lines[0].begin);
  for (size_t i = 0; i < doc.lines.size(); ++i) {
    if (!drop[i]) out.append(bytes, doc.lines[i].begin, doc.lines[i].end - doc.lines[i].begin);
  }
  return ReplaceFile(path, out, error);
}

bool DeletePrivateProfileSection(std::string_view section, const std::string& path, std::string* error) {
  std::string bytes;
  ReadState state = ReadFile(path, bytes, error);
  if (state == ReadState::Failed) return false;
  if (state == ReadState::Missing) return true;
  Document doc(bytes);
  const Section* sec = doc.FindSection(section);
  if (!sec) return true;
  size_t from = doc.lines[sec->header].begin;
  size_t to = sec->endLine < doc.lines.size() ? doc.lines[sec->endLine].begin : bytes.size();
  std::string out = bytes.substr(0, from) + bytes.substr(to);
  return ReplaceFile(path, out, error);
}

std::vector<std::string> GetPrivateProfileSectionNames(const std::string& path, std::string* error) {
  std::vector<std::string> names;
  std::string bytes;
  if (ReadFile(path, bytes, error) != ReadState::Ok) return names;
  Document doc(bytes);
  for (const Section& s : doc.sections) {
    if (doc.FindSection(s.name) == &s) names.emplace_back(s.name);
  }
  return names;
}

std::vector<std::string> GetPrivateProfileKeys(std::string_view section, const std::string& path,
                                               std::string* error) {
  std::vector<std::string> keys;
  std::string bytes;
  if (ReadFile(path, bytes, error) != ReadState::Ok) return keys;
  Document doc(bytes);
  const Section* sec = doc.FindSection(section);
  if (!sec) return keys;
  for (const Entry& e : sec->entries) {
    if (!e.key.empty() && Document::FindKey(*sec, e.key) == &e) keys.emplace_back(e.key);
  }
  return keys;
}

}  // namespace platform

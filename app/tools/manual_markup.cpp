#include "app/tools/manual_markup.h"

#include <cctype>
#include <cstdio>
#include <map>
#include <optional>
#include <utility>

#include "platform/base/cp1252.h"

namespace app::manual {

SourceError::SourceError(const std::string& source_name, int line, const std::string& message)
    : std::runtime_error(source_name + ":" + std::to_string(line) + ": " + message), line_(line) {}

std::string PlainText(const Inline& text) {
  std::string out;
  for (const Span& s : text) out += s.text;
  return out;
}

namespace {

constexpr std::string_view kEscapable = "*_`|#->@/\\[";

std::string CodePointName(char32_t cp) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(cp));
  return buf;
}

// Checks that a line is well-formed UTF-8 and that every character can be printed.
void CheckCharacters(std::string_view line, const std::string& name, int number) {
  size_t i = 0;
  while (i < line.size()) {
    const auto b0 = static_cast<unsigned char>(line[i]);
    char32_t cp = 0;
    size_t len = 0;
    if (b0 < 0x80) cp = b0, len = 1;
    else if ((b0 & 0xE0) == 0xC0) cp = b0 & 0x1F, len = 2;
    else if ((b0 & 0xF0) == 0xE0) cp = b0 & 0x0F, len = 3;
    else if ((b0 & 0xF8) == 0xF0) cp = b0 & 0x07, len = 4;
    else throw SourceError(name, number, "the text is not valid UTF-8");
    if (i + len > line.size()) throw SourceError(name, number, "the text is not valid UTF-8");
    for (size_t k = 1; k < len; ++k) {
      const auto b = static_cast<unsigned char>(line[i + k]);
      if ((b & 0xC0) != 0x80) throw SourceError(name, number, "the text is not valid UTF-8");
      cp = cp << 6 | (b & 0x3F);
    }
    // Overlong forms and surrogates are not UTF-8 either.
    static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[len] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
      throw SourceError(name, number, "the text is not valid UTF-8");
    if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) {
      throw SourceError(name, number,
                        "control character " + CodePointName(cp) +
                            (cp == '\t' ? " (a tab): indent with blanks" : "") + " cannot be printed");
    }
    if (platform::UnicodeToCp1252(cp, '?') == '?' && cp != '?') {
      throw SourceError(name, number,
                        "the character " + CodePointName(cp) + " \"" + std::string(line.substr(i, len)) +
                            "\" is not in the manual fonts' character set (Windows-1252)");
    }
    i += len;
  }
}

bool IsBlank(std::string_view s) { return s.find_first_not_of(' ') == std::string_view::npos; }

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  return TrimRight(s);
}

// A numbered item's number ("12" of "12. text"), or nothing.
std::optional<std::string> ItemNumber(std::string_view line) {
  size_t i = 0;
  while (i < line.size() && std::isdigit(static_cast<unsigned char>(line[i]))) ++i;
  if (i == 0 || i + 1 >= line.size() || line[i] != '.' || line[i + 1] != ' ') return std::nullopt;
  return std::string(line.substr(0, i));
}

// Text gathered from one or more source lines, with the line each piece came from.
struct Gathered {
  std::string text;
  std::vector<std::pair<size_t, int>> starts;  // (offset in text, source line)

  void Add(std::string_view piece, int line) {
    if (!text.empty()) {
      // A line ending in an odd number of backslashes breaks there; otherwise lines join
      // with one blank.
      size_t backslashes = 0;
      while (backslashes < text.size() && text[text.size() - 1 - backslashes] == '\\') ++backslashes;
      if (backslashes % 2 == 1) {
        text.back() = '\n';
      } else {
        text += ' ';
      }
    }
    starts.emplace_back(text.size(), line);
    text += piece;
  }
  int LineAt(size_t offset) const {
    int line = starts.empty() ? 0 : starts.front().second;
    for (const auto& [at, l] : starts)
      if (at <= offset) line = l;
    return line;
  }
};

// Heading titles and their numbers, for the references [[Title]]. A title that several
// headings share cannot be referred to (its number is empty).
using References = std::map<std::string, std::string>;

// refs is null where references are not allowed (in headings).
Inline ParseInline(const Gathered& g, const std::string& name, bool allow_breaks, const References* refs) {
  Inline out;
  Span style;
  std::string buffer;
  size_t bold_at = 0, italic_at = 0, code_at = 0;
  const auto flush = [&] {
    if (buffer.empty()) return;
    if (!out.empty() && out.back().bold == style.bold && out.back().italic == style.italic &&
        out.back().code == style.code) {
      out.back().text += buffer;
    } else {
      Span s = style;
      s.text = buffer;
      out.push_back(std::move(s));
    }
    buffer.clear();
  };
  const std::string& s = g.text;
  for (size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '\n' && !allow_breaks) throw SourceError(name, g.LineAt(i), "a line break is not allowed here");
    if (style.code) {
      if (c == '`') {
        flush();
        style.code = false;
      } else {
        buffer += c;
      }
      continue;
    }
    if (c == '\\') {
      if (i + 1 >= s.size() || kEscapable.find(s[i + 1]) == std::string_view::npos) {
        const std::string what = i + 1 >= s.size() ? std::string("the end of the text") : std::string(1, s[i + 1]);
        throw SourceError(name, g.LineAt(i),
                          "a backslash cannot escape " + what + " (escape one of * _ ` | # - > @ / \\ [)");
      }
      buffer += s[++i];
    } else if (c == '[' && i + 1 < s.size() && s[i + 1] == '[') {
      // A reference: the number of the heading with that title.
      if (!refs) throw SourceError(name, g.LineAt(i), "a heading cannot refer to another heading");
      const size_t end = s.find("]]", i + 2);
      if (end == std::string::npos) throw SourceError(name, g.LineAt(i), "\"[[\" is not closed");
      const std::string title = s.substr(i + 2, end - i - 2);
      const auto it = refs->find(title);
      if (it == refs->end()) throw SourceError(name, g.LineAt(i), "no heading is called \"" + title + "\"");
      if (it->second.empty()) throw SourceError(name, g.LineAt(i), "several headings are called \"" + title + "\"");
      buffer += it->second;
      i = end + 1;
    } else if (c == '*' && i + 1 < s.size() && s[i + 1] == '*') {
      flush();
      style.bold = !style.bold;
      bold_at = i++;
    } else if (c == '_' && i + 1 < s.size() && s[i + 1] == '_') {
      flush();
      style.italic = !style.italic;
      italic_at = i++;
    } else if (c == '`') {
      flush();
      style.code = true;
      code_at = i;
    } else {
      buffer += c;
    }
  }
  if (style.code) throw SourceError(name, g.LineAt(code_at), "\"`\" is not closed");
  if (style.bold) throw SourceError(name, g.LineAt(bold_at), "\"**\" is not closed");
  if (style.italic) throw SourceError(name, g.LineAt(italic_at), "\"__\" is not closed");
  flush();
  return out;
}

// The cells of a table row "| a | b |", split at the bars no backslash escapes.
std::vector<std::string> SplitRow(std::string_view line, const std::string& name, int number) {
  line = Trim(line);
  if (line.size() < 2 || line.back() != '|' || line[line.size() - 2] == '\\')
    throw SourceError(name, number, "a table row begins and ends with \"|\"");
  std::vector<std::string> cells;
  std::string cell;
  for (size_t i = 1; i + 1 < line.size(); ++i) {
    if (line[i] == '\\' && i + 2 < line.size()) {
      cell += line[i];
      cell += line[++i];
    } else if (line[i] == '|') {
      cells.emplace_back(Trim(cell));
      cell.clear();
    } else {
      cell += line[i];
    }
  }
  cells.emplace_back(Trim(cell));
  return cells;
}

bool IsRuleRow(const std::vector<std::string>& cells) {
  for (const std::string& c : cells) {
    std::string_view v = c;
    if (!v.empty() && v.front() == ':') v.remove_prefix(1);
    if (!v.empty() && v.back() == ':') v.remove_suffix(1);
    if (v.size() < 3 || v.find_first_not_of('-') != std::string_view::npos) return false;
  }
  return true;
}

class Parser {
 public:
  Parser(const std::string& name) : name_(name) {}

  Source Run(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    int number = 0;
    size_t at = 0;
    while (at <= text.size()) {
      size_t end = text.find('\n', at);
      if (end == std::string_view::npos) end = text.size();
      std::string_view line = text.substr(at, end - at);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      ++number;
      CheckCharacters(line, name_, number);
      Line(TrimRight(line), number);
      if (end == text.size()) break;
      at = end + 1;
    }
    Close();
    ParsePending();
    if (src_.title.empty()) throw SourceError(name_, 1, "the source has no @title");
    return std::move(src_);
  }

 private:
  enum class Open { None, Paragraph, Item, Note, Table };

  void Line(std::string_view line, int number) {
    if (line.substr(0, 2) == "//") return;
    if (IsBlank(line)) {
      Close();
      return;
    }
    if (line.front() == '@') {
      Directive(line, number);
      return;
    }
    if (line.front() == '#') {
      Heading(line, number);
      return;
    }
    if (!seen_heading_) throw SourceError(name_, number, "text before the first heading (only @ lines may come first)");
    if (line.front() == '|') {
      if (open_ != Open::Table) Start(Open::Table, BlockKind::Table, number);
      std::vector<std::string> cells = SplitRow(line, name_, number);
      if (IsRuleRow(cells)) return;
      Block& b = src_.blocks.back();
      if (!b.rows.empty() && cells.size() != b.rows.front().size()) {
        throw SourceError(name_, number,
                          "this row has " + std::to_string(cells.size()) + " cells, the table's first row " +
                              std::to_string(b.rows.front().size()));
      }
      b.rows.emplace_back(cells.size());
      for (size_t c = 0; c < cells.size(); ++c) {
        Gathered g;
        g.Add(cells[c], number);
        pending_.push_back({src_.blocks.size() - 1, b.rows.size() - 1, c, std::move(g), false});
      }
      return;
    }
    if (line.front() == '>' && (line.size() == 1 || line[1] == ' ')) {
      if (open_ != Open::Note) Start(Open::Note, BlockKind::Note, number);
      text_.Add(Trim(line.substr(1)), number);
      return;
    }
    if (line.substr(0, 2) == "- ") {
      Start(Open::Item, BlockKind::Bullet, number);
      text_.Add(Trim(line.substr(2)), number);
      return;
    }
    if (const auto n = ItemNumber(line)) {
      Start(Open::Item, BlockKind::Numbered, number);
      src_.blocks.back().number = *n;
      text_.Add(Trim(line.substr(n->size() + 2)), number);
      return;
    }
    const bool indented = line.substr(0, 2) == "  ";
    switch (open_) {
      case Open::Item:
        if (!indented)
          throw SourceError(name_, number,
                            "a list item continues on lines indented by two blanks; leave a blank line before "
                            "a new paragraph");
        text_.Add(Trim(line), number);
        return;
      case Open::Note:
        throw SourceError(name_, number, "every line of a note begins with \">\"");
      case Open::Table:
        throw SourceError(name_, number, "a table row begins and ends with \"|\"");
      case Open::Paragraph:
        text_.Add(Trim(line), number);
        return;
      case Open::None:
        if (indented) throw SourceError(name_, number, "an indented line continues nothing");
        Start(Open::Paragraph, BlockKind::Paragraph, number);
        text_.Add(Trim(line), number);
        return;
    }
  }

  void Directive(std::string_view line, int number) {
    if (seen_heading_) throw SourceError(name_, number, "@ lines belong before the first heading");
    Close();
    size_t n = 1;
    while (n < line.size() && std::isalpha(static_cast<unsigned char>(line[n]))) ++n;
    const std::string key(line.substr(1, n - 1));
    const std::string value(Trim(line.substr(n)));
    if (n < line.size() && line[n] != ' ') throw SourceError(name_, number, "an @ line is \"@name value\"");
    if (value.empty()) throw SourceError(name_, number, "@" + key + " needs a value");
    std::string* target = nullptr;
    if (key == "title") target = &src_.title;
    else if (key == "subtitle") target = &src_.subtitle;
    else if (key == "version") target = &src_.version;
    else if (key == "contents") target = &src_.contents;
    else if (key == "footer") target = &src_.footer;
    else if (key == "page") target = &src_.page;
    if (key == "line") {
      src_.title_lines.push_back(value);
      return;
    }
    if (!target) throw SourceError(name_, number, "unknown @" + key);
    if (seen_.find("@" + key + " ") != std::string::npos) throw SourceError(name_, number, "@" + key + " is given twice");
    seen_ += "@" + key + " ";
    if (key == "page" && value.find("{page}") == std::string::npos)
      throw SourceError(name_, number, "@page needs {page} where the page number goes");
    if (key == "version" && value.find("{version}") == std::string::npos)
      throw SourceError(name_, number, "@version needs {version} where the version goes");
    *target = value;
  }

  void Heading(std::string_view line, int number) {
    Close();
    size_t level = 0;
    while (level < line.size() && line[level] == '#') ++level;
    if (level > 3) throw SourceError(name_, number, "headings have at most three levels (###)");
    if (level == line.size()) throw SourceError(name_, number, "the heading has no text");
    if (line[level] != ' ')
      throw SourceError(name_, number, "a heading's # is followed by a blank (write \\# for a text beginning with #)");
    const std::string_view title = Trim(line.substr(level));
    if (level > static_cast<size_t>(depth_) + 1) {
      throw SourceError(name_, number,
                        "a level-" + std::to_string(level) + " heading needs a level-" + std::to_string(level - 1) +
                            " heading before it");
    }
    depth_ = static_cast<int>(level);
    ++counters_[level - 1];
    for (size_t k = level; k < 3; ++k) counters_[k] = 0;
    std::string num;
    for (size_t k = 0; k < level; ++k) num += (k ? "." : "") + std::to_string(counters_[k]);
    Gathered g;
    g.Add(title, number);
    Block b;
    b.kind = BlockKind::Heading;
    b.line = number;
    b.level = static_cast<int>(level);
    b.number = num;
    b.text = ParseInline(g, name_, false, nullptr);
    const std::string plain = PlainText(b.text);
    const bool shared = refs_.count(plain) > 0;
    refs_[plain] = shared ? "" : num;
    src_.blocks.push_back(std::move(b));
    seen_heading_ = true;
  }

  void Start(Open kind, BlockKind block, int number) {
    Close();
    open_ = kind;
    Block b;
    b.kind = block;
    b.line = number;
    src_.blocks.push_back(std::move(b));
  }

  // The text of a block is read once all headings are known (it may refer to later ones).
  void Close() {
    if (open_ == Open::Paragraph || open_ == Open::Item || open_ == Open::Note)
      pending_.push_back({src_.blocks.size() - 1, 0, 0, std::move(text_), true});
    text_ = Gathered();
    open_ = Open::None;
  }

  void ParsePending() {
    for (Pending& p : pending_) {
      Block& b = src_.blocks[p.block];
      Inline text = ParseInline(p.text, name_, p.breaks, &refs_);
      if (b.kind == BlockKind::Table) b.rows[p.row][p.cell] = std::move(text);
      else b.text = std::move(text);
    }
  }

  struct Pending {
    size_t block, row, cell;
    Gathered text;
    bool breaks;
  };

  const std::string& name_;
  Source src_;
  Open open_ = Open::None;
  Gathered text_;
  std::vector<Pending> pending_;
  References refs_;
  bool seen_heading_ = false;
  int depth_ = 0;
  int counters_[3] = {0, 0, 0};
  std::string seen_;
};

}  // namespace

Source ParseSource(std::string_view text, const std::string& name) { return Parser(name).Run(text); }

}  // namespace app::manual

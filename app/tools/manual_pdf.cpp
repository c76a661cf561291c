#include "app/tools/manual_pdf.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <stdexcept>
#include <tuple>
#include <vector>

#include "pdfwriter/mrvx_doc.h"
#include "platform/base/cp1252.h"

namespace app::manual {
namespace {

using pdfwriter::TColor;
using pdfwriter::TFontStyles;
using pdfwriter::TMorvex;
using pdfwriter::TMRVXPage;
using pdfwriter::TMRVXParagraph;

// ---- the page ----
// A4 in points, y downwards from the top edge (the writer's caller coordinates).
constexpr float kPageW = 595, kPageH = 842;
constexpr float kLeft = 72, kRight = 531;  // the text column
constexpr float kTop = 80;                 // first line of a page
constexpr float kBottom = 770;             // no line goes below this
constexpr float kHeaderY = 40, kHeaderRule = 54, kFooterRule = 790, kFooterY = 797;

// ---- type ----
const char* const kSans = "Arial";
const char* const kMono = "DejaVu Sans Mono";
constexpr float kBody = 10, kBodyLine = 14;
constexpr float kTable = 9, kTableLine = 12;
constexpr float kSmall = 8;
constexpr float kTocLine = 13;
struct HeadingStyle {
  float size, line, before, after;
};
constexpr HeadingStyle kHeading[4] = {{0, 0, 0, 0}, {20, 26, 0, 16}, {13.5f, 18, 14, 5}, {11, 15, 10, 3}};

// Colours as the writer takes them: 0x00BBGGRR.
constexpr TColor Rgb(int r, int g, int b) { return static_cast<TColor>(r | g << 8 | b << 16); }
constexpr TColor kBlack = Rgb(0, 0, 0);
constexpr TColor kAccent = Rgb(22, 62, 118);      // headings, title, note bars
constexpr TColor kGray = Rgb(110, 110, 110);      // running header and footer
constexpr TColor kRule = Rgb(160, 160, 160);      // rules and table lines
constexpr TColor kNoteFill = Rgb(234, 241, 249);  // note boxes
constexpr TColor kHeadFill = Rgb(218, 227, 238);  // table heading rows

std::string Ansi(std::string_view utf8) { return platform::Utf8ToCp1252(utf8); }

// A text string of the document (outline titles): hexadecimal UTF-16BE with its byte-order
// mark, so that every character reaches the viewer as written.
std::string Utf16Hex(std::string_view utf8) {
  static const char* digits = "0123456789ABCDEF";
  std::string hex = "FEFF";
  for (char16_t c : platform::Utf8ToUtf16(utf8)) {
    for (int shift = 12; shift >= 0; shift -= 4) hex += digits[(c >> shift) & 0xF];
  }
  return hex;
}

// The same as raw bytes for the information dictionary (plain ASCII stays as it is).
std::string PdfTextString(std::string_view utf8) {
  if (std::all_of(utf8.begin(), utf8.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
    return std::string(utf8);
  std::string out = "\xFE\xFF";
  for (char16_t c : platform::Utf8ToUtf16(utf8)) {
    out += static_cast<char>(c >> 8);
    out += static_cast<char>(c & 0xFF);
  }
  return out;
}

std::string Replace(std::string text, std::string_view key, std::string_view value) {
  for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + value.size()))
    text.replace(at, key.size(), value);
  return text;
}

TFontStyles StyleOf(const Span& s) {
  return static_cast<TFontStyles>((s.bold ? pdfwriter::fsBold : 0) | (s.italic ? pdfwriter::fsItalic : 0));
}

// Writes spans into the active paragraph of a document, each in its face. The fixed-width
// face is sized so that its ascent equals the text face's: the writer places text by its top,
// and equal ascents keep the baselines of one line level.
class SpanWriter {
 public:
  explicit SpanWriter(TMorvex& doc) : doc_(doc) {}

  void SetFont(const Span& s, float size) {
    TMRVXPage& page = *doc_.CurrentPage();
    if (s.code) page.SetFont(kMono, 0, size * MonoScale(), 0, false);
    else page.SetFont(kSans, StyleOf(s), size, 0, false);
  }

  void Write(const Inline& text, float size) {
    for (const Span& s : text) {
      SetFont(s, size);
      doc_.CurrentParagraph()->ShowText(Ansi(s.text));
    }
    doc_.CurrentParagraph()->NewLine();
  }

  // The width of one line of spans (no wrapping).
  float Width(const Inline& text, float size) {
    float w = 0;
    for (const Span& s : text) {
      SetFont(s, size);
      w += doc_.CurrentPage()->TextWidth(std::string_view(Ansi(s.text)));
    }
    return w;
  }

  // The widest word of the spans.
  float WidestWord(const Inline& text, float size) {
    float widest = 0;
    for (const Span& s : text) {
      SetFont(s, size);
      const std::string t = Ansi(s.text);
      size_t at = 0;
      while (at < t.size()) {
        size_t end = t.find_first_of(" \n", at);
        if (end == std::string::npos) end = t.size();
        widest = std::max(widest, doc_.CurrentPage()->TextWidth(std::string_view(t).substr(at, end - at)));
        at = end + 1;
      }
    }
    return widest;
  }

 private:
  float MonoScale() {
    if (mono_scale_ == 0) {
      TMRVXPage& page = *doc_.CurrentPage();
      page.SetFont(kSans, 0, 100, 0, false);
      const float sans = page.TextHeight("H");
      page.SetFont(kMono, 0, 100, 0, false);
      const float mono = page.TextHeight("H");
      mono_scale_ = mono > 0 ? sans / mono : 1;
    }
    return mono_scale_;
  }

  TMorvex& doc_;
  float mono_scale_ = 0;
};

// Paragraph formats by their margins, made once per document.
class Formats {
 public:
  explicit Formats(TMorvex& doc) : doc_(doc) {}
  int Get(float left, float right_edge, float line, float bottom_limit) {
    const auto key = std::make_tuple(left, right_edge, line, bottom_limit);
    if (auto it = map_.find(key); it != map_.end()) return it->second;
    TMRVXParagraph p;
    p.LeftMargin = left;
    p.RightMargin = kPageW - right_edge;
    p.TopMargin = kTop;
    p.BottomMargin = kPageH - bottom_limit;
    p.WordWrap = true;
    p.LineHeight = line;
    return map_[key] = doc_.CreateParagraph(p);
  }

 private:
  TMorvex& doc_;
  std::map<std::tuple<float, float, float, float>, int> map_;
};

// Measures how high text set between two margins becomes, by setting it on a page of a
// document of its own that never breaks: the paragraph itself decides the line breaks, so the
// measure and the print cannot disagree.
class Measurer {
 public:
  Measurer() : spans_(doc_), formats_(doc_) {
    doc_.Launcher = nullptr;
    doc_.SetAutoLaunch(false);
    doc_.SetStandardFontEmulation(false);
    doc_.SetOutputStream(&sink_);
    doc_.BeginDoc();
  }

  float Height(const Inline& text, float size, float line, float left, float right_edge) {
    doc_.BeginParagraph(formats_.Get(left, right_edge, line, 1e9f));
    doc_.CurrentParagraph()->SetCurrentLine(0);
    spans_.Write(text, size);
    const float h = doc_.CurrentParagraph()->CurrentLine();
    doc_.EndParagraph();
    return h;
  }
  float Width(const Inline& text, float size) { return spans_.Width(text, size); }
  float WidestWord(const Inline& text, float size) { return spans_.WidestWord(text, size); }

 private:
  TMorvex doc_;
  std::string sink_;
  SpanWriter spans_;
  Formats formats_;
};

// Column widths that fill the text column: columns that fit their widest cell on one line
// within a fair share get that width, the others share the rest by their wish, but never
// below their widest word (unless even the words do not fit, then everything shrinks).
std::vector<float> ColumnWidths(const std::vector<float>& natural, const std::vector<float>& least, float avail) {
  const size_t cols = natural.size();
  std::vector<float> width(cols, 0);
  float sum_natural = 0, sum_least = 0;
  for (size_t c = 0; c < cols; ++c) {
    sum_natural += natural[c];
    sum_least += least[c];
  }
  if (sum_least > avail) {
    for (size_t c = 0; c < cols; ++c) width[c] = least[c] * avail / sum_least;
    return width;
  }
  if (sum_natural <= avail) {
    for (size_t c = 0; c < cols; ++c) width[c] = natural[c] + (avail - sum_natural) * natural[c] / sum_natural;
    return width;
  }
  std::vector<bool> fixed(cols, false);
  float remaining = avail;
  for (bool changed = true; changed;) {
    changed = false;
    size_t open = 0;
    for (size_t c = 0; c < cols; ++c) open += fixed[c] ? 0 : 1;
    if (open == 0) break;
    const float share = remaining / static_cast<float>(open);
    for (size_t c = 0; c < cols; ++c) {
      if (!fixed[c] && natural[c] <= share) {
        width[c] = natural[c];
        remaining -= natural[c];
        fixed[c] = changed = true;
      }
    }
  }
  // The wide columns: by their wish, at least their widest word.
  float wish = 0;
  for (size_t c = 0; c < cols; ++c) wish += fixed[c] ? 0 : natural[c];
  float used = 0;
  for (size_t c = 0; c < cols; ++c) {
    if (fixed[c]) continue;
    width[c] = std::max(least[c], remaining * natural[c] / wish);
    used += width[c];
  }
  if (used > remaining) {
    // The minimums pushed past the column: take the excess from what lies above them.
    float slack = 0;
    for (size_t c = 0; c < cols; ++c) slack += fixed[c] ? 0 : width[c] - least[c];
    const float cut = used - remaining;
    for (size_t c = 0; c < cols; ++c)
      if (!fixed[c] && slack > 0) width[c] -= cut * (width[c] - least[c]) / slack;
  }
  return width;
}

// Where a heading landed: its page (0-based) and the top of its text.
struct Target {
  int page = 0;
  float y = 0;
  bool operator==(const Target&) const = default;
};

// One pass over the source into one document. The first pass only learns where the
// headings land; the second prints the table of contents with those pages.
class Layout {
 public:
  Layout(const Source& src, const PdfOptions& opt, TMorvex& doc, Measurer& measure, const std::vector<Target>* targets)
      : src_(src), opt_(opt), doc_(doc), measure_(measure), targets_(targets), spans_(doc), formats_(doc) {}

  std::vector<Target> Run() {
    doc_.BeginDoc();
    TitlePage();
    if (!src_.contents.empty()) Contents();
    for (size_t i = 0; i < src_.blocks.size(); ++i) {
      const Block& b = src_.blocks[i];
      const Block* next = i + 1 < src_.blocks.size() ? &src_.blocks[i + 1] : nullptr;
      switch (b.kind) {
        case BlockKind::Heading: Heading(i); break;
        case BlockKind::Paragraph: Paragraph(i); break;
        case BlockKind::Bullet:
        case BlockKind::Numbered: Item(b, next); break;
        case BlockKind::Note: Note(b); break;
        case BlockKind::Table: Table(i); break;
      }
      SyncPages();
    }
    Frames();
    return found_;
  }

 private:
  // ---- pages ----

  void NewPage() {
    doc_.AddPage();
    y_ = kTop;
    SyncPages();
  }
  // Pages the paragraphs added on their own belong to the chapter being written.
  void SyncPages() {
    while (static_cast<int>(chapter_of_page_.size()) < doc_.PagesCount()) chapter_of_page_.push_back(chapter_);
  }
  // Makes room for h points below the current line, on a new page when they do not fit.
  void Need(float h) {
    if (y_ + h > kBottom && y_ > kTop) NewPage();
  }
  TMRVXPage& Page() { return *doc_.CurrentPage(); }

  void Color(TColor c) { Page().SetRGBColor(c); }
  void Font(TFontStyles style, float size) { Page().SetFont(kSans, style, size, 0, false); }
  void Text(float x, float y, std::string_view utf8) { Page().TextOut(x, y, 0, Ansi(utf8)); }
  float TextWidth(std::string_view utf8) { return Page().TextWidth(std::string_view(Ansi(utf8))); }
  void HLine(float x0, float x1, float y, float width, TColor c) {
    Page().SetLineWidth(width);
    Page().SetRGBStrokeColor(c);
    Page().MoveTo(x0, y);
    Page().LineTo(x1, y);
    Page().Stroke();
  }
  void FillRect(float x, float y, float w, float h, TColor c) {
    Page().SetRGBFillColor(c);
    Page().Rectangle(x, y, w, h);
    Page().Fill();
  }

  // Flows spans from the current line between two margins (onto new pages when they reach the
  // bottom limit) and moves the current line below them.
  void Flow(const Inline& text, float size, float line, float left, float right_edge, float bottom = kBottom) {
    doc_.BeginParagraph(formats_.Get(left, right_edge, line, bottom));
    doc_.CurrentParagraph()->SetCurrentLine(y_);
    spans_.Write(text, size);
    y_ = doc_.CurrentParagraph()->CurrentLine();
    doc_.EndParagraph();
  }

  // ---- title page and contents ----

  void TitlePage() {
    chapter_of_page_.push_back("");
    // A tone wedge of halftone dots, light to dark, as on a test form.
    const float pitch = 17;
    const int cols = 27, rows = 8;
    Color(kAccent);
    for (int r = 0; r < rows; ++r) {
      for (int c = 0; c < cols; ++c) {
        const double coverage = 0.03 + 0.92 * c / (cols - 1);
        const float radius = static_cast<float>(pitch * std::sqrt(coverage / M_PI));
        Page().Circle(kLeft + 8 + c * pitch, 120 + r * pitch, std::min(radius, pitch * 0.62f));
        Page().Fill();
      }
    }
    Color(kAccent);
    Font(pdfwriter::fsBold, 40);
    Text(kLeft, 300, src_.title);
    HLine(kLeft, kRight, 356, 1.5f, kAccent);
    float y = 372;
    if (!src_.subtitle.empty()) {
      Color(kBlack);
      Font(pdfwriter::fsBold, 22);
      Text(kLeft, y, src_.subtitle);
      y += 40;
    }
    Color(kBlack);
    Font(0, 12);
    for (const std::string& line : src_.title_lines) {
      Text(kLeft, y, line);
      y += 18;
    }
    if (!src_.version.empty() && !opt_.version.empty()) {
      Color(kGray);
      Font(0, 11);
      Text(kLeft, 740, Replace(src_.version, "{version}", opt_.version));
    }
  }

  // The table of contents: chapters and sections with their pages, each line a link.
  void Contents() {
    chapter_ = src_.contents;
    NewPage();
    Outline(1, src_.contents);
    Color(kAccent);
    Font(pdfwriter::fsBold, kHeading[1].size);
    Text(kLeft, y_, src_.contents);
    y_ += kHeading[1].line;
    HLine(kLeft, kRight, y_ - 4, 1, kAccent);
    y_ += kHeading[1].after - 4;
    size_t heading = 0;
    for (const Block& b : src_.blocks) {
      if (b.kind != BlockKind::Heading) continue;
      const size_t index = heading++;
      if (b.level > 2) continue;
      const bool chapter = b.level == 1;
      const float gap = chapter && index > 0 ? 5 : 0;
      Need(gap + kTocLine);
      y_ += y_ > kTop ? gap : 0;
      const float indent = chapter ? 0 : 22;
      Color(kBlack);
      Font(chapter ? pdfwriter::fsBold : 0, kBody);
      Text(kLeft + indent, y_, b.number);
      const float text_x = kLeft + indent + (chapter ? 22 : 30);
      const std::string title = PlainText(b.text);
      Text(text_x, y_, title);
      const std::string page = targets_ ? std::to_string((*targets_)[index].page + 1) : "0";
      const float page_w = TextWidth(page);
      Text(kRight - page_w, y_, page);
      // Dots lead from the title to the page numbers, on one grid for all lines so that they
      // stand in columns, and end before the widest page number.
      Font(chapter ? pdfwriter::fsBold : 0, kBody);
      const float from = text_x + TextWidth(title) + 6;
      Font(0, kBody);
      const float dot_w = TextWidth(". ");
      const float start = kLeft + std::ceil((from - kLeft) / dot_w) * dot_w;
      const float end = kRight - TextWidth("000") - 4;
      const int dots = static_cast<int>((end - start) / dot_w);
      if (dots > 0) {
        std::string leader;
        for (int i = 0; i < dots; ++i) leader += ". ";
        Color(kGray);
        Text(start, y_, leader);
      }
      // The line links to its heading once the heading's page exists (Frames).
      if (targets_) links_.push_back({doc_.CurrentPageNumber(), y_, (*targets_)[index]});
      y_ += kTocLine;
    }
  }

  // ---- blocks ----

  void Outline(int level, const std::string& title) {
    pdfwriter::TMRVXDocOutlineObject* parent = doc_.OutlineRoot();
    if (level >= 2 && outline_[1]) parent = outline_[1];
    if (level >= 3 && outline_[2]) parent = outline_[2];
    auto* entry = parent->AddChild(Ansi(title), kLeft, std::max(0.0f, y_ - 10));
    entry->LinkedObj->AddValue("Title", std::make_unique<pdfwriter::TMRVXStringObject>(nullptr, Utf16Hex(title), true));
    outline_[level] = entry;
    for (int k = level + 1; k < 4; ++k) outline_[k] = nullptr;
  }

  // ---- what a block needs ----

  static Inline HeadingText(const Block& b) {
    Inline text;
    Span number;
    number.bold = true;
    number.text = b.number + "   ";
    text.push_back(number);
    for (Span s : b.text) {
      s.bold = true;
      text.push_back(std::move(s));
    }
    return text;
  }

  struct TableGeometry {
    std::vector<float> width;  // per column
    std::vector<float> row_h;  // per row, the heading row first
    float total = 0;
  };
  static constexpr float kCellPad = 4, kCellVPad = 3;

  static Inline RowText(const Block& b, size_t row, size_t col) {
    Inline t = b.rows[row][col];
    if (row == 0)
      for (Span& s : t) s.bold = true;  // the heading row
    return t;
  }

  const TableGeometry& Geometry(const Block& b) {
    if (auto it = tables_.find(&b); it != tables_.end()) return it->second;
    const size_t cols = b.rows.front().size();
    // Column widths: what the cells want on one line, and their widest words.
    std::vector<float> natural(cols, 0), least(cols, 0);
    for (size_t r = 0; r < b.rows.size(); ++r) {
      for (size_t c = 0; c < cols; ++c) {
        const Inline t = RowText(b, r, c);
        natural[c] = std::max(natural[c], measure_.Width(t, kTable) + 2 * kCellPad + 1);
        least[c] = std::max(least[c], measure_.WidestWord(t, kTable) + 2 * kCellPad + 1);
      }
    }
    TableGeometry g;
    g.width = ColumnWidths(natural, least, kRight - kLeft);
    for (size_t r = 0; r < b.rows.size(); ++r) {
      float x = kLeft, h = 0;
      for (size_t c = 0; c < cols; ++c) {
        h = std::max(h, measure_.Height(RowText(b, r, c), kTable, kTableLine, x + kCellPad,
                                        x + g.width[c] - kCellPad));
        x += g.width[c];
      }
      g.row_h.push_back(h + 2 * kCellVPad);
      g.total += g.row_h.back();
    }
    return tables_[&b] = g;
  }

  float ItemHeight(const Block& b) { return measure_.Height(b.text, kBody, kBodyLine, kLeft + 18, kRight); }
  float NoteBox(const Block& b) {
    return measure_.Height(b.text, kBody, kBodyLine, kLeft + 14, kRight - 8) + 2 * kNotePad - 3;
  }
  static constexpr float kNotePad = 6;

  // Whether a paragraph introduces the block after it ("... as follows:"): then the two stay
  // together as far as they can.
  bool Introduces(size_t i) const {
    const std::vector<Block>& blocks = src_.blocks;
    if (blocks[i].kind != BlockKind::Paragraph || i + 1 >= blocks.size()) return false;
    if (blocks[i + 1].kind == BlockKind::Heading) return false;
    const std::string plain = PlainText(blocks[i].text);
    return !plain.empty() && plain.back() == ':';
  }

  // The height block i needs at least on the page where it begins: the first two lines of
  // running text (a short introducing paragraph whole, with what it introduces), a whole note
  // or short table, the first two rows of a long table.
  float FirstNeed(size_t i) {
    const Block& b = src_.blocks[i];
    switch (b.kind) {
      case BlockKind::Paragraph: {
        const float h = measure_.Height(b.text, kBody, kBodyLine, kLeft, kRight);
        if (Introduces(i) && h <= 5 * kBodyLine) return h + 6 + FirstNeed(i + 1);
        return std::min(h, 2 * kBodyLine);
      }
      case BlockKind::Bullet:
      case BlockKind::Numbered: return std::min(ItemHeight(b), 2 * kBodyLine);
      case BlockKind::Note: {
        const float box = NoteBox(b);
        return box <= kBottom - kTop ? box : 2 * kBodyLine;
      }
      case BlockKind::Table: {
        const TableGeometry& g = Geometry(b);
        if (g.total <= 0.4f * (kBottom - kTop)) return g.total;
        return g.row_h[0] + (g.row_h.size() > 1 ? g.row_h[1] : 0);
      }
      case BlockKind::Heading: break;
    }
    const HeadingStyle& st = kHeading[b.level];
    return st.before + measure_.Height(HeadingText(b), st.size, st.line, kLeft, kRight) + st.after +
           2 * kBodyLine;
  }

  // ---- blocks ----

  void Heading(size_t i) {
    const Block& b = src_.blocks[i];
    const HeadingStyle& st = kHeading[b.level];
    const Inline text = HeadingText(b);
    const float h = measure_.Height(text, st.size, st.line, kLeft, kRight);
    if (b.level == 1) {
      chapter_ = b.number + "  " + PlainText(b.text);
      NewPage();
    } else {
      // A heading keeps the beginning of what follows it.
      Need(st.before + h + st.after + (i + 1 < src_.blocks.size() ? FirstNeed(i + 1) : 0));
      if (y_ > kTop) y_ += st.before;
    }
    found_.push_back({doc_.CurrentPageNumber(), y_});
    Outline(b.level, b.number + " " + PlainText(b.text));
    Color(kAccent);
    Flow(text, st.size, st.line, kLeft, kRight);
    if (b.level == 1) {
      HLine(kLeft, kRight, y_ - 4, 1, kAccent);
    }
    Color(kBlack);
    y_ += st.after;
  }

  void Paragraph(size_t i) {
    const Block& b = src_.blocks[i];
    Need(FirstNeed(i));
    Color(kBlack);
    Flow(b.text, kBody, kBodyLine, kLeft, kRight);
    y_ += 6;
  }

  void Item(const Block& b, const Block* next) {
    const float text_x = kLeft + 18;
    Need(std::min(ItemHeight(b), 2 * kBodyLine));
    Color(kBlack);
    Font(0, kBody);
    if (b.kind == BlockKind::Bullet) {
      Text(kLeft + 5, y_, "\xE2\x80\xA2");  // •
    } else {
      const std::string label = b.number + ".";
      Text(text_x - 5 - TextWidth(label), y_, label);
    }
    Flow(b.text, kBody, kBodyLine, text_x, kRight);
    const bool more = next && next->kind == b.kind;
    y_ += more ? 2 : 8;
  }

  void Note(const Block& b) {
    const float text_x = kLeft + 14, right = kRight - 8;
    const float box = NoteBox(b);
    if (box <= kBottom - kTop) {
      // A note stays on one page, in its box.
      Need(box);
      FillRect(kLeft, y_, kRight - kLeft, box, kNoteFill);
      FillRect(kLeft, y_, 3, box, kAccent);
      y_ += kNotePad;
      Color(kBlack);
      Flow(b.text, kBody, kBodyLine, text_x, right);
      y_ += kNotePad - 3 + 8;
    } else {
      Need(2 * kBodyLine);
      Color(kBlack);
      Flow(b.text, kBody, kBodyLine, text_x, right);
      y_ += 8;
    }
  }

  void Table(size_t i) {
    const Block& b = src_.blocks[i];
    const TableGeometry& g = Geometry(b);
    const size_t cols = b.rows.front().size();
    const auto draw_row = [&](size_t r) {
      const float top = y_;
      if (r == 0) FillRect(kLeft, top, kRight - kLeft, g.row_h[r], kHeadFill);
      float x = kLeft;
      for (size_t c = 0; c < cols; ++c) {
        y_ = top + kCellVPad;
        Color(kBlack);
        // The row was measured to fit: the paragraph may not break the page here.
        Flow(RowText(b, r, c), kTable, kTableLine, x + kCellPad, x + g.width[c] - kCellPad, kPageH);
        x += g.width[c];
      }
      Page().SetLineWidth(0.5f);
      Page().SetRGBStrokeColor(kRule);
      x = kLeft;
      for (size_t c = 0; c < cols; ++c) {
        Page().Rectangle(x, top, g.width[c], g.row_h[r]);
        Page().Stroke();
        x += g.width[c];
      }
      y_ = top + g.row_h[r];
    };
    Need(FirstNeed(i));
    draw_row(0);
    for (size_t r = 1; r < b.rows.size(); ++r) {
      if (y_ + g.row_h[r] > kBottom) {
        NewPage();
        draw_row(0);  // the heading row again on every page of the table
      }
      draw_row(r);
    }
    Color(kBlack);
    y_ += 10;
  }

  // ---- running header and footer ----

  void Frames() {
    const int pages = doc_.PagesCount();
    for (int i = 1; i < pages; ++i) {
      doc_.SetCurrentPageNum(i);
      Font(0, kSmall);
      Color(kGray);
      Text(kLeft, kHeaderY, src_.title);
      const std::string& chapter = chapter_of_page_[static_cast<size_t>(i)];
      Text(kRight - TextWidth(chapter), kHeaderY, chapter);
      HLine(kLeft, kRight, kHeaderRule, 0.5f, kRule);
      HLine(kLeft, kRight, kFooterRule, 0.5f, kRule);
      Font(0, kSmall);
      Color(kGray);
      Text(kLeft, kFooterY, src_.footer);
      const std::string page =
          Replace(Replace(src_.page, "{page}", std::to_string(i + 1)), "{pages}", std::to_string(pages));
      Text(kRight - TextWidth(page), kFooterY, page);
      for (const Link& link : links_) {
        if (link.page != i) continue;
        Page().SetGoToObject(link.target.page, kLeft, std::max(0.0f, link.target.y - 8), Page().XProjection(kLeft),
                             Page().YProjection(link.y - 2), Page().XProjection(kRight),
                             Page().YProjection(link.y + kTocLine - 2));
      }
    }
  }

  const Source& src_;
  const PdfOptions& opt_;
  TMorvex& doc_;
  Measurer& measure_;
  const std::vector<Target>* targets_;
  SpanWriter spans_;
  Formats formats_;
  float y_ = kTop;
  std::string chapter_;
  std::vector<std::string> chapter_of_page_;
  pdfwriter::TMRVXDocOutlineObject* outline_[4] = {nullptr, nullptr, nullptr, nullptr};
  std::vector<Target> found_;
  std::map<const Block*, TableGeometry> tables_;
  struct Link {
    int page;
    float y;
    Target target;
  };
  std::vector<Link> links_;
};

void Describe(TMorvex& doc, const Source& src) {
  doc.Launcher = nullptr;
  doc.SetAutoLaunch(false);
  // Every face embedded: the manual looks the same in every viewer, umlauts included.
  doc.SetStandardFontEmulation(false);
  doc.Title = PdfTextString(src.title + (src.subtitle.empty() ? "" : " " + src.subtitle));
  doc.Subject = PdfTextString(src.subtitle);
  doc.Author = "QUIRVEL";
  doc.Keywords = "QUIRVEL manual";
  doc.PageMode = pdfwriter::TMRVXPageMode::pmUseOutlines;
}

// Both passes; the second writes into out, or into the file path when out is null.
void Render(const Source& src, const PdfOptions& opt, std::string* out, const std::string& path) {
  Measurer measure;
  std::vector<Target> targets;
  {
    std::string scratch;
    TMorvex first(opt.clock);
    Describe(first, src);
    first.SetOutputStream(&scratch);
    targets = Layout(src, opt, first, measure, nullptr).Run();
  }
  TMorvex doc(opt.clock);
  Describe(doc, src);
  if (out) doc.SetOutputStream(out);
  else doc.FileName = path;
  const std::vector<Target> placed = Layout(src, opt, doc, measure, &targets).Run();
  // The contents have the same lines in both passes, so nothing after them can move.
  if (placed != targets) throw std::logic_error("the headings moved between the two layout passes");
  doc.EndDoc();
}

}  // namespace

std::string RenderPdf(const Source& source, const PdfOptions& options) {
  std::string out;
  Render(source, options, &out, "");
  return out;
}

void WritePdf(const Source& source, const PdfOptions& options, const std::string& path) {
  Render(source, options, nullptr, path);
}

}  // namespace app::manual

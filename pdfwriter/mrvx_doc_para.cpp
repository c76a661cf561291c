// Paragraphs (part of the MRVXDoc module): running text flowed into lines between the margins
// of a paragraph format, measured with the current font's glyph widths, and continued on a
// new page at the top margin when it reaches the bottom margin.
#include <algorithm>
#include <type_traits>
#include <vector>

#include "pdfwriter/mrvx_doc.h"

namespace pdfwriter {
namespace {

// The text split at its line breaks (CR LF, LF or CR).
template <typename View>
std::vector<View> SplitLines(View text) {
  std::vector<View> parts;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    parts.push_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  parts.push_back(text.substr(start));
  return parts;
}

}  // namespace

// ---- the document's paragraph formats ----

int TMorvex::CreateParagraph(TMRVXJustificationType Justification, float Indention, float LeftMargin,
                             float RightMargin, float TopMargin, float BottomMargin) {
  TMRVXParagraph p;
  p.Justification = Justification;
  p.Indention = Indention;
  p.LeftMargin = LeftMargin;
  p.RightMargin = RightMargin;
  p.TopMargin = TopMargin;
  p.BottomMargin = BottomMargin;
  return CreateParagraph(p);
}

int TMorvex::CreateParagraph(const TMRVXParagraph& Format) {
  FParas.push_back(Format);
  return static_cast<int>(FParas.size());
}

void TMorvex::BeginParagraph(int Index) {
  if (Index < 0 || Index > static_cast<int>(FParas.size())) throw EMRVXError("Incorrect paragraph index.");
  if (Index == 0) {  // names no format: no paragraph is active afterwards
    EndParagraph();
    return;
  }
  const TMRVXParagraph& format = FParas[static_cast<size_t>(Index - 1)];
  FActivePara = Index;
  FCurrentParaLine = format.TopMargin;
  FNewParaLine = true;
  FPrevParaOffset = 0;
  FCurrentParagraph = std::make_unique<TMRVXPara>(this, format);
}

void TMorvex::EndParagraph() {
  FCurrentParagraph.reset();
  FActivePara = 0;
}

// ---- the paragraph ----

TMRVXPara::TMRVXPara(TMorvex* Parent, const TMRVXParagraph& Format) : TMRVXParagraph(Format), FParent(Parent) {}

void TMRVXPara::CheckActive() const {
  if (FParent->FActivePara < 1) throw EMRVXError("Current paragraph is nil");
  if (!FParent->CurrentPage()) throw EMRVXError("The document has not been started.");
}

void TMRVXPara::SetJustification(TMRVXJustificationType Value) {
  TMRVXParagraph::Justification = Value;
  FParent->FNewParaLine = true;
}

float TMRVXPara::CurrentLine() const { return FParent->FCurrentParaLine; }
void TMRVXPara::SetCurrentLine(float Value) { FParent->FCurrentParaLine = Value; }

void TMRVXPara::NewLine() {
  CheckActive();
  FParent->FNewParaLine = true;
  FParent->FPrevParaOffset = 0;
  FParent->FCurrentParaLine += LineHeight > 0 ? LineHeight : FParent->CurrentPage()->TextHeight("W");
}

void TMRVXPara::ShowText(std::string_view Text) {
  std::string line;
  float x = 0;
  InternShowText(Text, line, x);
}

void TMRVXPara::ShowUnicodeText(std::u16string_view Text) {
  std::u16string line;
  float x = 0;
  InternShowUnicodeText(Text, line, x);
}

void TMRVXPara::InternShowText(std::string_view Text, std::string& APrText, float& APrVax) {
  std::string_view last;
  Flow(Text, last, APrVax, false);
  APrText.assign(last);
}

void TMRVXPara::InternShowUnicodeText(std::u16string_view Text, std::u16string& APrText, float& APrVax) {
  std::u16string_view last;
  Flow(Text, last, APrVax, true);
  APrText.assign(last);
}

template <typename Str>
void TMRVXPara::Flow(Str Text, Str& APrText, float& APrVax, bool Unicode) {
  CheckActive();
  TMorvex& doc = *FParent;
  const std::vector<Str> segments = SplitLines(Text);
  bool first_segment = true;
  for (size_t seg = 0; seg < segments.size(); ++seg) {
    Str text = segments[seg];
    if (seg > 0) {
      // A line break ends the line: an open line (or an empty one, for a blank line) moves
      // down, a closed one only starts a new paragraph line.
      if (doc.FPrevParaOffset != 0 || segments[seg - 1].empty()) NewLine();
      else doc.FNewParaLine = true;
    }
    if (text.empty()) continue;

    float d = 0;  // the current line's offset below FCurrentParaLine within this call
    float x = 0;
    float width_of_last = 0;
    Str line;
    bool first_line = true;
    while (!text.empty()) {
      TMRVXPage& page = *doc.CurrentPage();
      const float h = LineHeight > 0 ? LineHeight : page.TextHeight("W");
      const float width = page.Width();
      float avail = width - LeftMargin - RightMargin;
      if (doc.FNewParaLine) avail -= Indention;
      else if (doc.FPrevParaOffset != 0) avail = width - doc.FPrevParaOffset - RightMargin;
      const bool continuing = !doc.FNewParaLine && doc.FPrevParaOffset != 0;

      // The longest front of the text that fits (at least one character, so that the loop
      // always advances); widths only grow with the length, so a binary search finds it.
      const auto measure = [&page](Str s) { return page.TextWidth(s); };
      size_t lo = 1, hi = text.size();
      if (measure(text.substr(0, 1)) <= avail) {
        while (lo < hi) {
          const size_t mid = lo + (hi - lo + 1) / 2;
          if (measure(text.substr(0, mid)) <= avail) lo = mid;
          else hi = mid - 1;
        }
      }
      size_t take = lo, skip = lo;
      if (WordWrap && take < text.size() && text[take] != ' ') {
        // Break after the last blank that fits; a word longer than a whole line is still
        // broken inside, but one that does not fit the rest of an open line goes to the next.
        size_t blank = take;
        while (blank > 0 && text[blank - 1] != ' ') --blank;
        if (blank > 0) {
          take = blank;
          while (take > 0 && text[take - 1] == ' ') --take;
          skip = blank;
        } else if (continuing) {
          take = skip = 0;
        }
      }
      if (WordWrap && take > 0 && take < text.size()) {
        // A wrapped line ends without its blanks, and the next one starts without them.
        while (skip < text.size() && text[skip] == ' ') ++skip;
        while (take > 0 && text[take - 1] == ' ') --take;
      }
      if (WordWrap && Justification() != TMRVXJustificationType::jtLeft) {
        // Blanks at the end of a right-justified or centred line would move it off its place.
        while (take > 0 && text[take - 1] == ' ') --take;
        if (take == 0 && text.find_first_not_of(' ') == Str::npos) skip = text.size();
      }
      const auto break_page = [&] {
        if (text.empty() || !(page.Height() - BottomMargin < doc.FCurrentParaLine + d + h)) return;
        // The rest goes onto a new page, at the top margin, in the same font.
        const TMRVXFontSelection font = page.CurrentFont();
        const float size = font.Size * static_cast<float>(doc.DocScale());
        doc.AddPage();
        doc.FCurrentParaLine = TopMargin;
        doc.FPrevParaOffset = 0;
        doc.CurrentPage()->SetFont(font.Name, font.Style, size, font.Charset, font.IsVertical);
        d = 0;
      };
      if (take == 0) {
        text = text.substr(skip);
        if (skip == 0) {
          // Nothing of the next word fits the open line: it starts the next one.
          doc.FPrevParaOffset = 0;
          d += h;
          break_page();
        }
        continue;
      }
      line = text.substr(0, take);
      text = text.substr(skip);
      width_of_last = measure(line);

      switch (Justification()) {
        case TMRVXJustificationType::jtCenter:
          if (!Unicode && first_line && first_segment) NewLine();
          // Centred between the two margins.
          x = (width + LeftMargin - RightMargin) / 2 - width_of_last / 2;
          break;
        case TMRVXJustificationType::jtRight:
          if (doc.FPrevParaOffset != 0) NewLine();
          x = width - RightMargin - width_of_last;
          break;
        case TMRVXJustificationType::jtLeft:
          if (doc.FNewParaLine) {
            x = Indention + LeftMargin;
          } else if (doc.FPrevParaOffset != 0) {
            x = doc.FPrevParaOffset;
            doc.FPrevParaOffset = 0;
          } else {
            x = LeftMargin;
          }
          break;
      }
      if constexpr (std::is_same_v<Str, std::string_view>) page.TextOut(x, doc.FCurrentParaLine + d, 0, line);
      else page.UnicodeTextOut(x, doc.FCurrentParaLine + d, 0, line);
      d += h;
      doc.FNewParaLine = false;
      first_line = false;

      break_page();
    }

    if (!Unicode) {
      if (Justification() == TMRVXJustificationType::jtLeft) {
        // The last line stays current, so that the next text can continue on it.
        const float h = LineHeight > 0 ? LineHeight : doc.CurrentPage()->TextHeight("W");
        doc.FCurrentParaLine += d - h;
        doc.FPrevParaOffset = x + width_of_last;
      } else {
        doc.FCurrentParaLine += d;
        doc.FPrevParaOffset = 0;
      }
    } else {
      doc.FCurrentParaLine += d;
      doc.FPrevParaOffset = 0;
    }
    APrText = line;
    APrVax = x;
    first_segment = false;
  }
}

template void TMRVXPara::Flow<std::string_view>(std::string_view, std::string_view&, float&, bool);
template void TMRVXPara::Flow<std::u16string_view>(std::u16string_view, std::u16string_view&, float&, bool);

}  // namespace pdfwriter

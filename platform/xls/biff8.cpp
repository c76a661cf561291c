#include "platform/xls/biff8.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/base/byte_order.h"
#include "platform/base/cp1252.h"

namespace platform::xls {
namespace {

constexpr uint16_t kBiff8Version = 0x0600;
constexpr uint16_t kSubstreamGlobals = 0x0005;
constexpr uint16_t kSubstreamWorksheet = 0x0010;
constexpr uint16_t kCodePageUtf16 = 1200;
constexpr uint16_t kFirstCustomFormat = 164;
constexpr uint16_t kColourAuto = 0x7FFF;
// Fill colours: the window's text colour over its background, no pattern.
constexpr uint16_t kPlainPatternColours = 64 | (65 << 7);

void PutChars(TRecordData& d, std::u16string_view s, bool compressed) {
  for (char16_t c : s) {
    if (compressed) {
      d.U8(static_cast<uint8_t>(c));
    } else {
      d.U16(c);
    }
  }
}

// An XF record: font, number format, the protection/style word and the alignment byte; no
// borders, no fill.
TRecordData XFRecord(uint16_t font, uint16_t format, bool style_xf, uint8_t used_attributes) {
  TRecordData d;
  d.U16(font);
  d.U16(format);
  // Locked; a style XF has the style bit and no parent (0xFFF), a cell XF the Normal style (0).
  d.U16(style_xf ? 0xFFF5 : 0x0001);
  d.U8(0x20);  // general horizontal alignment, bottom vertical alignment, no wrap
  d.U8(0);     // no rotation
  d.U8(0);     // no indent, no shrink, context reading order
  d.U8(static_cast<uint8_t>(used_attributes << 2));
  d.U32(0);  // no borders
  d.U32(0);  // no border colours, no fill pattern
  d.U16(kPlainPatternColours);
  return d;
}

// The first record of a substream.
TRecordData BOFRecord(uint16_t substream) {
  TRecordData d;
  d.U16(kBiff8Version);
  d.U16(substream);
  d.U16(0x0DBB);         // build
  d.U16(0x07CC);         // year
  d.U32(0);              // file history
  d.U32(kBiff8Version);  // lowest version that can read every record
  return d;
}

}  // namespace

// ---------------------------------------------------------------- record data

void TRecordData::U16(uint16_t v) {
  uint8_t b[2];
  StoreLE16(b, v);
  Append(b, 2);
}

void TRecordData::U32(uint32_t v) {
  uint8_t b[4];
  StoreLE32(b, v);
  Append(b, 4);
}

void TRecordData::F64(double v) {
  uint64_t bits = 0;
  std::memcpy(&bits, &v, 8);
  uint8_t b[8];
  StoreLE64(b, bits);
  Append(b, 8);
}

void TRecordData::ShortString(std::u16string_view s) {
  if (s.size() > 255) throw EBiffError("Text too long for a short string");
  const bool compressed = IsCompressible(s);
  U8(static_cast<uint8_t>(s.size()));
  U8(compressed ? 0 : 1);
  PutChars(*this, s, compressed);
}

void TRecordData::String(std::u16string_view s) {
  if (s.size() > 0xFFFF) throw EBiffError("Text too long for a string");
  const bool compressed = IsCompressible(s);
  U16(static_cast<uint16_t>(s.size()));
  U8(compressed ? 0 : 1);
  PutChars(*this, s, compressed);
}

void TBiffStream::Record(uint16_t id, const uint8_t* data, size_t size) {
  if (size > kMaxRecordData) throw EBiffError("Record longer than 8224 bytes");
  uint8_t h[4];
  StoreLE16(h, id);
  StoreLE16(h + 2, static_cast<uint16_t>(size));
  bytes_.insert(bytes_.end(), h, h + 4);
  if (size > 0) bytes_.insert(bytes_.end(), data, data + size);
}

void TBiffStream::PatchU32(size_t offset, uint32_t v) {
  if (offset + 4 > bytes_.size()) throw EBiffError("Patch outside the record stream");
  StoreLE32(&bytes_[offset], v);
}

bool IsCompressible(std::u16string_view s) {
  return std::all_of(s.begin(), s.end(), [](char16_t c) { return c <= 0xFF; });
}

// ---------------------------------------------------------------- RK numbers

bool EncodeRK(double value, uint32_t& rk) {
  if (!std::isfinite(value) || (value == 0 && std::signbit(value))) return false;
  // A whole number in 30 bits.
  if (value == std::trunc(value) && value >= -(1 << 29) && value < (1 << 29)) {
    rk = (static_cast<uint32_t>(static_cast<int32_t>(value)) << 2) | 2u;
    return true;
  }
  // The top 30 bits of the double, the rest zero.
  uint64_t bits = 0;
  std::memcpy(&bits, &value, 8);
  if ((bits & 0x3FFFFFFFFull) == 0) {
    rk = static_cast<uint32_t>(bits >> 32);
    return true;
  }
  // A whole number of hundredths (prices, percentages with two decimals).
  const double hundred = value * 100;
  if (hundred == std::trunc(hundred) && hundred >= -(1 << 29) && hundred < (1 << 29)) {
    const uint32_t candidate = (static_cast<uint32_t>(static_cast<int32_t>(hundred)) << 2) | 3u;
    if (DecodeRK(candidate) == value) {
      rk = candidate;
      return true;
    }
  }
  return false;
}

double DecodeRK(uint32_t rk) {
  double v = 0;
  if (rk & 2u) {
    v = static_cast<double>(static_cast<int32_t>(rk) >> 2);
  } else {
    const uint64_t bits = static_cast<uint64_t>(rk & 0xFFFFFFFCu) << 32;
    std::memcpy(&v, &bits, 8);
  }
  return (rk & 1u) ? v / 100 : v;
}

// ---------------------------------------------------------------- shared strings

uint32_t TSharedStrings::Add(const std::u16string& s) {
  if (total_ == UINT32_MAX) throw EBiffError("Too many text cells");
  ++total_;
  auto [it, added] = index_.try_emplace(s, static_cast<uint32_t>(strings_.size()));
  if (added) strings_.push_back(&it->first);
  return it->second;
}

void TSharedStrings::Write(TBiffStream& out) const {
  // EXTSST: every dsst-th string's position, in at most 128 buckets.
  const uint32_t unique = Unique();
  const uint32_t dsst = std::max<uint32_t>(8, (unique + 127) / 128);
  struct Bucket {
    uint32_t stream_pos;
    uint16_t record_offset;
  };
  std::vector<Bucket> buckets;

  TRecordData rec;
  uint16_t rec_id = kRecSST;
  size_t rec_start = out.Size();
  auto flush = [&] {
    out.Record(rec_id, rec);
    rec.Clear();
    rec_id = kRecContinue;
    rec_start = out.Size();
  };

  rec.U32(total_);
  rec.U32(unique);
  for (uint32_t i = 0; i < unique; ++i) {
    const std::u16string& s = *strings_[i];
    const bool compressed = IsCompressible(s);
    const size_t unit = compressed ? 1 : 2;
    // The count and option byte, with at least the first character, start in one record.
    if (rec.Size() + 3 + (s.empty() ? 0 : unit) > kMaxRecordData) flush();
    if (i % dsst == 0)
      buckets.push_back({static_cast<uint32_t>(rec_start + 4 + rec.Size()), static_cast<uint16_t>(4 + rec.Size())});
    rec.U16(static_cast<uint16_t>(s.size()));
    rec.U8(compressed ? 0 : 1);
    size_t done = 0;
    for (;;) {
      const size_t fit = std::min(s.size() - done, (kMaxRecordData - rec.Size()) / unit);
      PutChars(rec, std::u16string_view(s).substr(done, fit), compressed);
      done += fit;
      if (done == s.size()) break;
      flush();
      rec.U8(compressed ? 0 : 1);  // the characters go on with their own option byte
    }
  }
  flush();

  TRecordData ext;
  ext.U16(static_cast<uint16_t>(dsst));
  for (const Bucket& b : buckets) {
    ext.U32(b.stream_pos);
    ext.U16(b.record_offset);
    ext.U16(0);
  }
  out.Record(kRecExtSST, ext);
}

// ---------------------------------------------------------------- workbook

TBiff8Workbook::TBiff8Workbook(std::u16string sheet_name, const TXLSFont& default_font)
    : sheet_name_(std::move(sheet_name)) {
  CheckSheetName(sheet_name_);
  AddFont(default_font);
}

void TBiff8Workbook::CheckSheetName(const std::u16string& name) {
  if (name.empty() || name.size() > 31) throw EBiffError("A sheet name must have 1 to 31 characters");
  if (name.find_first_of(u":\\/?*[]") != std::u16string::npos)
    throw EBiffError("A sheet name must not contain any of : \\ / ? * [ ]");
}

uint16_t TBiff8Workbook::AddFont(const TXLSFont& font) {
  if (font.Name.empty() || Utf8ToUtf16(font.Name).size() > 255) throw EBiffError("Invalid font name");
  if (font.Size < 1 || font.Size > 409) throw EBiffError("Font size must be 1 to 409 points");
  if (fonts_.size() >= 500) throw EBiffError("Too many fonts");
  fonts_.push_back(font);
  // Font index 4 does not exist in this format: the fifth font is number 5.
  const size_t i = fonts_.size() - 1;
  return static_cast<uint16_t>(i < 4 ? i : i + 1);
}

uint16_t TBiff8Workbook::AddNumberFormat(const std::u16string& format) {
  for (const auto& [index, text] : formats_)
    if (text == format) return index;
  if (format.empty() || format.size() > 255) throw EBiffError("Invalid number format");
  const auto index = static_cast<uint16_t>(kFirstCustomFormat + formats_.size());
  formats_.emplace_back(index, format);
  return index;
}

uint16_t TBiff8Workbook::AddCellFormat(uint16_t font, uint16_t number_format) {
  if (cell_xfs_.size() >= 4000) throw EBiffError("Too many cell formats");
  cell_xfs_.push_back({font, number_format});
  return static_cast<uint16_t>(kDefaultXF + cell_xfs_.size());
}

void TBiff8Workbook::SetColumnWidth(uint16_t col, uint16_t width) {
  if (col >= kMaxColumns) throw EBiffError("Column out of range");
  widths_[col] = width;
}

TRecordData TBiff8Workbook::Cell(uint32_t row, uint16_t col, uint16_t xf) {
  if (row >= kMaxRows || col >= kMaxColumns) throw EBiffError("Cell outside the worksheet");
  if (xf > kDefaultXF + cell_xfs_.size()) throw EBiffError("Unknown cell format");
  if (any_cell_ && (row < last_row_ || (row == last_row_ && col <= last_col_)))
    throw EBiffError("Cells must be added in row order");
  any_cell_ = true;
  last_row_ = row;
  last_col_ = col;
  first_row_ = std::min(first_row_, row);
  first_col_ = std::min(first_col_, col);
  max_col_ = std::max(max_col_, col);
  // Every cell record starts with its position and format.
  TRecordData d;
  d.U16(static_cast<uint16_t>(row));
  d.U16(col);
  d.U16(xf);
  return d;
}

void TBiff8Workbook::Number(uint32_t row, uint16_t col, uint16_t xf, double value) {
  uint32_t rk = 0;
  if (!EncodeRK(value, rk)) return Float(row, col, xf, value);
  TRecordData d = Cell(row, col, xf);
  d.U32(rk);
  cells_.Record(kRecRK, d);
}

void TBiff8Workbook::Float(uint32_t row, uint16_t col, uint16_t xf, double value) {
  TRecordData d = Cell(row, col, xf);
  d.F64(value);
  cells_.Record(kRecNumber, d);
}

void TBiff8Workbook::Text(uint32_t row, uint16_t col, uint16_t xf, const std::u16string& text) {
  if (text.size() > kMaxCellText) throw EBiffError("Text longer than 32767 characters");
  TRecordData d = Cell(row, col, xf);
  d.U32(sst_.Add(text));
  cells_.Record(kRecLabelSST, d);
}

void TBiff8Workbook::Boolean(uint32_t row, uint16_t col, uint16_t xf, bool value) {
  TRecordData d = Cell(row, col, xf);
  d.U8(value ? 1 : 0);
  d.U8(0);
  cells_.Record(kRecBoolErr, d);
}

void TBiff8Workbook::Error(uint32_t row, uint16_t col, uint16_t xf, uint8_t code) {
  TRecordData d = Cell(row, col, xf);
  d.U8(code);
  d.U8(1);
  cells_.Record(kRecBoolErr, d);
}

void TBiff8Workbook::WriteGlobals(TBiffStream& out, size_t& boundsheet_offset_field) const {
  out.Record(kRecBOF, BOFRecord(kSubstreamGlobals));
  TRecordData d;

  d.Clear();
  d.U16(kCodePageUtf16);
  out.Record(kRecCodePage, d);

  d.Clear();
  d.U16(0x0168);  // window position and size (twips)
  d.U16(0x001E);
  d.U16(0x4000);
  d.U16(0x2000);
  d.U16(0x0038);  // horizontal and vertical scroll bars, sheet tabs
  d.U16(0);       // active sheet
  d.U16(0);       // first visible tab
  d.U16(1);       // selected sheets
  d.U16(0x0258);  // tab bar width ratio
  out.Record(kRecWindow1, d);

  d.Clear();
  d.U16(0);  // dates count from 1900
  out.Record(kRecDateMode, d);

  // Readers expect at least four fonts before the gap at index 4.
  std::vector<TXLSFont> fonts = fonts_;
  while (fonts.size() < 4) fonts.push_back(fonts_[0]);
  for (const TXLSFont& f : fonts) {
    d.Clear();
    d.U16(static_cast<uint16_t>(f.Size * 20));  // twips
    // Bit 0 repeats the bold weight for readers of the older versions, which look there.
    d.U16(static_cast<uint16_t>((f.Bold ? 0x0001 : 0) | (f.Italic ? 0x0002 : 0)));
    d.U16(kColourAuto);
    d.U16(f.Bold ? 700 : 400);
    d.U16(0);  // no super- or subscript
    d.U8(0);   // no underline
    d.U8(0);   // family not given
    d.U8(0);   // character set: the one of the font
    d.U8(0);
    d.ShortString(Utf8ToUtf16(f.Name));
    out.Record(kRecFont, d);
  }

  for (const auto& [index, text] : formats_) {
    d.Clear();
    d.U16(index);
    d.String(text);
    out.Record(kRecFormat, d);
  }

  // The 15 style formats (Normal and the built-in outline styles), then the default cell
  // format, then ours.
  out.Record(kRecXF, XFRecord(0, 0, true, 0));
  for (int i = 1; i < 15; ++i) out.Record(kRecXF, XFRecord(0, 0, true, 0x3D));  // only the font is their own
  out.Record(kRecXF, XFRecord(0, 0, false, 0));
  for (const CellXF& x : cell_xfs_) out.Record(kRecXF, XFRecord(x.font, x.format, false, 0x03));

  d.Clear();
  d.U16(0x8000);  // built-in style of XF 0
  d.U8(0);        // Normal
  d.U8(0xFF);
  out.Record(kRecStyle, d);

  d.Clear();
  d.U32(0);  // the sheet's position, patched once known
  d.U8(0);   // visible
  d.U8(0);   // worksheet
  d.ShortString(sheet_name_);
  boundsheet_offset_field = out.Size() + 4;
  out.Record(kRecBoundSheet, d);

  sst_.Write(out);
  out.Record(kRecEOF, nullptr, 0);
}

void TBiff8Workbook::WriteSheet(TBiffStream& out) const {
  out.Record(kRecBOF, BOFRecord(kSubstreamWorksheet));
  TRecordData d;

  for (const auto& [col, width] : widths_) {
    d.Clear();
    d.U16(col);
    d.U16(col);
    d.U16(width);
    d.U16(kDefaultXF);
    d.U16(0);  // visible, no outline
    d.U16(0);
    out.Record(kRecColInfo, d);
  }

  d.Clear();
  d.U32(any_cell_ ? first_row_ : 0);
  d.U32(any_cell_ ? last_row_ + 1 : 0);  // one past the last used row
  d.U16(any_cell_ ? first_col_ : 0);
  d.U16(any_cell_ ? static_cast<uint16_t>(max_col_ + 1) : 0);
  d.U16(0);
  out.Record(kRecDimensions, d);

  out.Append(cells_);

  d.Clear();
  // Grid lines, headers, zero values, default header colour, outline symbols, selected,
  // shown in the window.
  d.U16(0x06B6);
  d.U16(0);   // top row
  d.U16(0);   // left column
  d.U32(64);  // header colour: the window text colour
  d.U16(0);   // zoom of the page-break preview: default
  d.U16(0);   // zoom of the normal view: default
  d.U32(0);
  out.Record(kRecWindow2, d);

  out.Record(kRecEOF, nullptr, 0);
}

std::vector<uint8_t> TBiff8Workbook::Build() const {
  TBiffStream globals;
  size_t boundsheet_field = 0;
  WriteGlobals(globals, boundsheet_field);
  if (globals.Size() > UINT32_MAX) throw EBiffError("Workbook too large");
  globals.PatchU32(boundsheet_field, static_cast<uint32_t>(globals.Size()));
  // The sheet adds its cells and at most a few kilobytes around them.
  TBiffStream out;
  out.Reserve(globals.Size() + cells_.Size() + 16 * widths_.size() + 256);
  out.Append(globals);
  WriteSheet(out);
  return std::move(out.Bytes());
}

}  // namespace platform::xls

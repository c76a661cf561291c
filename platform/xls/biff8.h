#pragma once
// The binary workbook format of .xls files (BIFF8): a stream of records, each a 16-bit id, a
// 16-bit length and at most 8,224 bytes of data. A workbook is the globals substream (fonts,
// number formats, cell formats, the sheet list and the shared strings) followed by one
// substream per sheet. TBiff8Workbook builds a workbook of one worksheet; the cells are
// given in row order, the way they are stored.
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace platform::xls {

class EBiffError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Record ids used here.
enum : uint16_t {
  kRecEOF = 0x000A,
  kRecDateMode = 0x0022,
  kRecFont = 0x0031,
  kRecContinue = 0x003C,
  kRecWindow1 = 0x003D,
  kRecCodePage = 0x0042,
  kRecColInfo = 0x007D,
  kRecBoundSheet = 0x0085,
  kRecXF = 0x00E0,
  kRecSST = 0x00FC,
  kRecLabelSST = 0x00FD,
  kRecExtSST = 0x00FF,
  kRecDimensions = 0x0200,
  kRecNumber = 0x0203,
  kRecBoolErr = 0x0205,
  kRecWindow2 = 0x023E,
  kRecRK = 0x027E,
  kRecStyle = 0x0293,
  kRecFormat = 0x041E,
  kRecBOF = 0x0809,
};

// The largest data part of one record; longer contents go on in CONTINUE records.
constexpr size_t kMaxRecordData = 8224;
// A worksheet's grid.
constexpr uint32_t kMaxRows = 65536;
constexpr uint32_t kMaxColumns = 256;
// The longest text a cell holds.
constexpr size_t kMaxCellText = 32767;
// Error values of BOOLERR cells.
constexpr uint8_t kErrorNum = 0x24;  // #NUM!

// Little-endian field-by-field builder of record data.
class TRecordData {
 public:
  void U8(uint8_t v) { bytes_.push_back(v); }
  void U16(uint16_t v);
  void U32(uint32_t v);
  void F64(double v);
  void Append(const uint8_t* p, size_t n) { bytes_.insert(bytes_.end(), p, p + n); }
  // An 8-bit count of characters, the option byte and the characters (a sheet or font name).
  void ShortString(std::u16string_view s);
  // A 16-bit count, the option byte and the characters (a number format).
  void String(std::u16string_view s);
  const std::vector<uint8_t>& Bytes() const { return bytes_; }
  size_t Size() const { return bytes_.size(); }
  void Clear() { bytes_.clear(); }

 private:
  std::vector<uint8_t> bytes_;
};

// A sequence of records.
class TBiffStream {
 public:
  // Refuses data longer than kMaxRecordData: such contents must be split by their writer.
  void Record(uint16_t id, const TRecordData& data) { Record(id, data.Bytes().data(), data.Size()); }
  void Record(uint16_t id, const uint8_t* data, size_t size);
  size_t Size() const { return bytes_.size(); }
  void PatchU32(size_t offset, uint32_t v);
  void Append(const TBiffStream& other) { bytes_.insert(bytes_.end(), other.bytes_.begin(), other.bytes_.end()); }
  std::vector<uint8_t>& Bytes() { return bytes_; }
  void Reserve(size_t n) { bytes_.reserve(n); }

 private:
  std::vector<uint8_t> bytes_;
};

// Whether every unit fits in one byte, so the text can be stored compressed (8 bits a
// character: the low byte of each UTF-16 unit).
bool IsCompressible(std::u16string_view s);

// The 30-bit RK form of a number when it has one that reads back as exactly the same double.
bool EncodeRK(double value, uint32_t& rk);
// The number an RK value stands for (what a reader computes).
double DecodeRK(uint32_t rk);

// The shared string table: every text cell refers to one entry by index.
class TSharedStrings {
 public:
  // The index of the text (added when new); counts one more reference.
  uint32_t Add(const std::u16string& s);
  uint32_t Total() const { return total_; }
  uint32_t Unique() const { return static_cast<uint32_t>(strings_.size()); }
  const std::u16string& operator[](uint32_t i) const { return *strings_.at(i); }
  // The SST record with as many CONTINUE records as it needs, then EXTSST. A string's count
  // and option byte never straddle two records; its characters may, and then the next record
  // starts with a fresh option byte.
  void Write(TBiffStream& out) const;

 private:
  std::unordered_map<std::u16string, uint32_t> index_;
  std::vector<const std::u16string*> strings_;  // in index order, pointing into index_'s keys
  uint32_t total_ = 0;
};

struct TXLSFont {
  std::string Name = "Arial";  // UTF-8
  int Size = 10;               // points
  bool Bold = false;
  bool Italic = false;
  bool operator==(const TXLSFont&) const = default;
};

// A workbook of one worksheet.
class TBiff8Workbook {
 public:
  // The default font is font 0, used by the default cell format (XF 15).
  TBiff8Workbook(std::u16string sheet_name, const TXLSFont& default_font);

  // Names are 1 to 31 characters, none of : \ / ? * [ ].
  static void CheckSheetName(const std::u16string& name);

  // A further font; returns its index for AddCellFormat.
  uint16_t AddFont(const TXLSFont& font);
  // A number format such as "yyyy-mm-dd"; returns its index (164 upwards).
  uint16_t AddNumberFormat(const std::u16string& format);
  // A cell format with a font and a number format; returns its XF index.
  uint16_t AddCellFormat(uint16_t font, uint16_t number_format);
  static constexpr uint16_t kDefaultXF = 15;

  // Column width in 1/256 of the width of the default font's zero.
  void SetColumnWidth(uint16_t col, uint16_t width);

  // Cells, in row order and, within a row, in column order.
  void Number(uint32_t row, uint16_t col, uint16_t xf, double value);
  // A number that is always stored as NUMBER (dates: readers tell them by their format).
  void Float(uint32_t row, uint16_t col, uint16_t xf, double value);
  void Text(uint32_t row, uint16_t col, uint16_t xf, const std::u16string& text);
  void Boolean(uint32_t row, uint16_t col, uint16_t xf, bool value);
  void Error(uint32_t row, uint16_t col, uint16_t xf, uint8_t code);

  const TSharedStrings& SharedStrings() const { return sst_; }

  // The Workbook stream.
  std::vector<uint8_t> Build() const;

 private:
  // Checks and records the cell's place; returns the record data's start (row, column, XF).
  TRecordData Cell(uint32_t row, uint16_t col, uint16_t xf);
  void WriteGlobals(TBiffStream& out, size_t& boundsheet_offset_field) const;
  void WriteSheet(TBiffStream& out) const;

  std::u16string sheet_name_;
  std::vector<TXLSFont> fonts_;
  std::vector<std::pair<uint16_t, std::u16string>> formats_;
  struct CellXF {
    uint16_t font, format;
  };
  std::vector<CellXF> cell_xfs_;
  std::map<uint16_t, uint16_t> widths_;
  TSharedStrings sst_;
  TBiffStream cells_;
  bool any_cell_ = false;
  uint32_t last_row_ = 0, first_row_ = UINT32_MAX;
  int last_col_ = -1;
  uint16_t first_col_ = UINT16_MAX, max_col_ = 0;
};

}  // namespace platform::xls

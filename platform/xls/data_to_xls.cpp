#include "platform/xls/data_to_xls.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/base/cp1252.h"
#include "platform/base/datetime.h"
#include "platform/xls/compound_file.h"

namespace platform::xls {
namespace {

using data::TDataSet;
using data::TField;

enum class CellKind { kEmpty, kText8, kTextWide, kInteger, kLargeInt, kFloat, kDate, kTime, kDateTime, kBoolean };

CellKind KindOf(data::TFieldType type) {
  switch (type) {
    case data::ftString:
    case data::ftFixedChar:
    case data::ftGuid:
    case data::ftMemo:
    case data::ftFmtMemo:
    case data::ftOraClob:
      return CellKind::kText8;
    case data::ftWideString:
    case data::ftFixedWideChar:
    case data::ftWideMemo:
      return CellKind::kTextWide;
    case data::ftSmallint:
    case data::ftInteger:
    case data::ftWord:
    case data::ftAutoInc:
    case data::ftShortint:
    case data::ftByte:
    case data::ftLongWord:
      return CellKind::kInteger;
    case data::ftLargeint:
      return CellKind::kLargeInt;
    case data::ftFloat:
    case data::ftCurrency:
    case data::ftExtended:
    case data::ftSingle:
      return CellKind::kFloat;
    case data::ftDate:
      return CellKind::kDate;
    case data::ftTime:
      return CellKind::kTime;
    case data::ftDateTime:
    case data::ftTimeStamp:
      return CellKind::kDateTime;
    case data::ftBoolean:
      return CellKind::kBoolean;
    default:
      // Pictures and other BLOB data, byte fields and whatever has no cell form.
      return CellKind::kEmpty;
  }
}

// 70000 -> "70,000" for messages.
std::string Grouped(uint64_t n) {
  std::string digits = std::to_string(n);
  for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) digits.insert(static_cast<size_t>(i), ",");
  return digits;
}

// The characters a number takes in the General format (at most 11).
size_t NumberWidth(double v) {
  char buf[32];
  const int n = std::snprintf(buf, sizeof buf, "%.10g", v);
  return static_cast<size_t>(std::clamp(n, 1, 11));
}

// Day 1 of the sheet's calendar is 1900-01-01, and its day 60 is a 29 February 1900 that
// never was; from 1900-03-01 on the day numbers equal TDateTime's.
constexpr double kFirstSheetDay = 2;     // TDateTime of 1900-01-01
constexpr double kFirstCommonDay = 61;   // TDateTime of 1900-03-01

std::string DateText(TDateTime dt, bool with_time) {
  const DateParts p = DecodeDateTime(dt);
  char buf[40];
  if (with_time) {
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour, p.minute,
                  p.second);
  } else {
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", p.year, p.month, p.day);
  }
  return buf;
}

// Keeps the dataset where the caller had it, whatever the export does meanwhile.
class PositionGuard {
 public:
  explicit PositionGuard(TDataSet& ds) : ds_(ds) {
    if (!ds_.Active()) {
      ds_.Open();
      opened_ = true;
    } else if (ds_.BookmarkAvailable()) {
      bookmark_ = ds_.GetBookmark();
    }
    ds_.DisableControls();
  }
  ~PositionGuard() {
    try {
      if (opened_) {
        ds_.Close();
      } else if (!bookmark_.empty() && ds_.BookmarkValid(bookmark_)) {
        ds_.GotoBookmark(bookmark_);
      }
    } catch (...) {
      // The record may have gone meanwhile; the export's own result stands.
    }
    try {
      ds_.EnableControls();
    } catch (...) {
    }
  }
  PositionGuard(const PositionGuard&) = delete;
  PositionGuard& operator=(const PositionGuard&) = delete;

 private:
  TDataSet& ds_;
  bool opened_ = false;
  data::TBookmark bookmark_;
};

std::string ErrnoText(const char* what, const std::filesystem::path& file, int err) {
  return std::string(what) + " \"" + file.string() + "\": " + std::strerror(err);
}

void WriteAll(int fd, const uint8_t* data, size_t size, const std::filesystem::path& file) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, data + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw EXLSError(ErrnoText("Cannot write file", file, errno));
    }
    if (n == 0) throw EXLSError(ErrnoText("Cannot write file", file, EIO));
    done += static_cast<size_t>(n);
  }
}

// Writes the compound file to a new file beside the target and renames it over the target,
// so that readers only ever see the old file or the complete new one.
void ReplaceFile(const std::filesystem::path& file, const TCompoundFileWriter& content) {
  std::filesystem::path target = file;
  struct stat lst {};
  if (::lstat(file.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
    // Replace the file a link names, not the link.
    if (char* real = ::realpath(file.c_str(), nullptr)) {
      target = real;
      std::free(real);
    }
  }
  static std::atomic<unsigned> counter{0};
  std::string tmp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    tmp = target.string() + ".~" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) throw EXLSError(ErrnoText("Cannot create file", file, errno));
  auto fail = [&](const char* what, int err) {
    ::close(fd);
    ::unlink(tmp.c_str());
    throw EXLSError(ErrnoText(what, file, err));
  };
  try {
    content.WriteTo([&](const uint8_t* data, size_t size) { WriteAll(fd, data, size, file); });
  } catch (...) {
    ::close(fd);
    ::unlink(tmp.c_str());
    throw;
  }
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::fchmod(fd, st.st_mode & 07777) != 0)
    fail("Cannot write file", errno);
  if (::fsync(fd) != 0) fail("Cannot write file", errno);
  if (::close(fd) != 0) {
    const int err = errno;
    ::unlink(tmp.c_str());
    throw EXLSError(ErrnoText("Cannot write file", file, err));
  }
  if (::rename(tmp.c_str(), target.c_str()) != 0) {
    const int err = errno;
    ::unlink(tmp.c_str());
    throw EXLSError(ErrnoText("Cannot create file", file, err));
  }
}

}  // namespace

TCompoundFileWriter TDataToXLS::BuildFile() {
  if (DataSet == nullptr) throw EXLSError("No dataset to export");
  const std::u16string sheet_name = Utf8ToUtf16(SheetName);
  if (StartRow < 0 || StartCol < 0 || static_cast<uint32_t>(StartRow) >= kMaxRows ||
      static_cast<uint32_t>(StartCol) >= kMaxColumns)
    throw EXLSError("The first cell lies outside the worksheet");
  if (MaxRowsPerSheet < 0) throw EXLSError("The row limit must not be negative");

  try {
    TBiff8Workbook book(sheet_name, DetailFont);
    const uint16_t header_xf = book.AddCellFormat(book.AddFont(HeaderFont), 0);
    const uint16_t datetime_xf = book.AddCellFormat(0, book.AddNumberFormat(Utf8ToUtf16(DateTimeFormat)));
    const uint16_t date_xf = book.AddCellFormat(0, book.AddNumberFormat(Utf8ToUtf16(DateFormat)));
    const uint16_t time_xf = book.AddCellFormat(0, book.AddNumberFormat(Utf8ToUtf16(TimeFormat)));
    const uint16_t detail_xf = TBiff8Workbook::kDefaultXF;

    TDataSet& ds = *DataSet;
    PositionGuard guard(ds);

    struct Column {
      TField* field;
      CellKind kind;
      uint16_t col;
      size_t width;  // characters
    };
    std::vector<Column> columns;
    for (int i = 0; i < ds.FieldCount(); ++i) {
      TField* f = ds.Fields()[i];
      if (!f->Visible()) continue;
      columns.push_back({f, KindOf(f->DataType()), 0, 0});
    }
    if (static_cast<size_t>(StartCol) + columns.size() > kMaxColumns)
      throw EXLSError("The table has " + std::to_string(columns.size()) + " columns, but a worksheet holds at most " +
                      std::to_string(kMaxColumns - static_cast<uint32_t>(StartCol)) +
                      " from its first column. No file was written.");
    for (size_t c = 0; c < columns.size(); ++c) columns[c].col = static_cast<uint16_t>(StartCol + c);

    uint32_t row = static_cast<uint32_t>(StartRow);
    if (ShowHeader) {
      for (Column& c : columns) {
        const std::u16string label = Utf8ToUtf16(c.field->DisplayLabel());
        if (label.size() > kMaxCellText) throw EXLSError("Column title longer than 32767 characters");
        if (!label.empty()) book.Text(row, c.col, header_xf, label);
        c.width = label.size();
      }
      ++row;
    }
    const uint32_t first_data_row = row;
    const uint64_t room = std::min<uint64_t>(static_cast<uint64_t>(MaxRowsPerSheet), kMaxRows - first_data_row);

    uint64_t records = 0;
    for (ds.First(); !ds.Eof(); ds.Next()) {
      if (records == room) {
        // Count the rest for the message; nothing has been written yet.
        while (!ds.Eof()) {
          ++records;
          ds.Next();
        }
        throw EXLSError("The table has " + Grouped(records) + " rows, but a worksheet holds at most " + Grouped(room) +
                        (ShowHeader ? " rows below its header" : " rows") + ". No file was written: filter the table to fewer rows or export "
                        "it as text.");
      }
      for (Column& c : columns) {
        if (c.kind == CellKind::kEmpty || c.field->IsNull()) continue;
        TField& f = *c.field;
        switch (c.kind) {
          case CellKind::kText8:
          case CellKind::kTextWide: {
            const std::u16string text =
                c.kind == CellKind::kText8 ? Cp1252ToUtf16(f.AsAnsiString()) : f.AsWideString();
            if (text.size() > kMaxCellText)
              throw EXLSError("Row " + Grouped(records + 1) + ", column \"" + f.DisplayLabel() + "\": a text of " +
                              Grouped(text.size()) + " characters is longer than the 32,767 a cell holds. " +
                              "No file was written.");
            if (!text.empty()) book.Text(row, c.col, detail_xf, text);
            c.width = std::max(c.width, text.size());
            break;
          }
          case CellKind::kInteger:
          case CellKind::kFloat: {
            const double v = c.kind == CellKind::kInteger ? static_cast<double>(f.AsLargeInt()) : f.AsFloat();
            if (std::isfinite(v)) {
              book.Number(row, c.col, detail_xf, v);
              c.width = std::max(c.width, NumberWidth(v));
            } else {
              book.Error(row, c.col, detail_xf, kErrorNum);
              c.width = std::max<size_t>(c.width, 6);
            }
            break;
          }
          case CellKind::kLargeInt: {
            const int64_t v = f.AsLargeInt();
            constexpr int64_t kExact = int64_t{1} << 53;  // doubles hold every whole number up to here
            if (v >= -kExact && v <= kExact) {
              book.Number(row, c.col, detail_xf, static_cast<double>(v));
              c.width = std::max(c.width, NumberWidth(static_cast<double>(v)));
            } else {
              const std::string text = std::to_string(v);
              book.Text(row, c.col, detail_xf, Utf8ToUtf16(text));
              c.width = std::max(c.width, text.size());
            }
            break;
          }
          case CellKind::kTime:
            book.Float(row, c.col, time_xf, f.AsDateTime());
            c.width = std::max(c.width, TimeFormat.size());
            break;
          case CellKind::kDate:
          case CellKind::kDateTime: {
            const bool dt = c.kind == CellKind::kDateTime;
            const TDateTime v = f.AsDateTime();
            if (v >= kFirstCommonDay) {
              book.Float(row, c.col, dt ? datetime_xf : date_xf, v);
            } else if (v >= kFirstSheetDay) {
              book.Float(row, c.col, dt ? datetime_xf : date_xf, v - 1);
            } else {
              // Before the sheet's calendar: kept as text rather than lost.
              book.Text(row, c.col, detail_xf, Utf8ToUtf16(DateText(v, dt)));
            }
            c.width = std::max(c.width, (dt ? DateTimeFormat : DateFormat).size());
            break;
          }
          case CellKind::kBoolean:
            book.Boolean(row, c.col, detail_xf, f.AsBoolean());
            c.width = std::max<size_t>(c.width, 5);
            break;
          case CellKind::kEmpty:
            break;
        }
      }
      ++records;
      ++row;
    }

    if (AutoFitColumns) {
      for (const Column& c : columns) {
        // A little more than the characters (the header is bold), at most 255 characters.
        const size_t chars = std::min<size_t>(c.width + 2, 255);
        book.SetColumnWidth(c.col, static_cast<uint16_t>(chars * 256));
      }
    }

    TCompoundFileWriter file;
    file.AddStream(u"Workbook", book.Build());
    return file;
  } catch (const EBiffError& e) {
    throw EXLSError(std::string("Cannot write the workbook: ") + e.what());
  } catch (const ECompoundFileError& e) {
    throw EXLSError(std::string("Cannot write the workbook: ") + e.what());
  }
}

std::vector<uint8_t> TDataToXLS::SaveDatasetToBytes() { return BuildFile().Build(); }

void TDataToXLS::SaveDatasetAs(const std::filesystem::path& filename) {
  if (filename.empty()) throw EXLSError("No file name given");
  // Everything that can refuse the export happens here, before the file is touched.
  const TCompoundFileWriter file = BuildFile();
  ReplaceFile(filename, file);
}

}  // namespace platform::xls

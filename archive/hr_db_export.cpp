#include "archive/hr_db_export.h"

#include <array>
#include <cmath>
#include <strings.h>

#include "analysis/mymath.h"
#include "archive/hr_db_data.h"
#include "platform/base/number_format.h"
#include "platform/base/scope_exit.h"
#include "platform/base/text_file.h"
#include "platform/data/dataset.h"
#include "platform/data/date_time_text.h"
#include "platform/data/field.h"

namespace archive {

namespace {

using namespace platform::data;

// A text written into a cell: no TAB, CR or LF of its own.
void AppendCellText(std::string& out, std::string_view text) {
  for (char c : text) out += (c == '\t' || c == '\r' || c == '\n') ? ' ' : c;
}

}  // namespace

bool IsValueColumn(const std::string& fieldName) {
  // The job texts are typed by the operator ("007" is a job, not the number 7), the others
  // are names and paths.
  static constexpr std::array<const char*, 6> kTextColumns = {"Algorithm", "PDF", "JOBID", "Plate", "Operator",
                                                              "Info"};
  for (const char* c : kTextColumns)
    if (::strcasecmp(c, fieldName.c_str()) == 0) return false;
  return true;
}

std::string ExportCellText(TField& field) {
  if (field.IsBlob() || field.IsNull()) return {};
  switch (field.DataType()) {
    case ftFloat:
      return platform::StrFloat(field.AsFloat(), 10, 3);
    case ftWord:
      // Read as a double like every value of the original's export, hence rounded.
      return platform::IntToStr(RoundHalfEven(field.AsFloat()));
    case ftSmallint:
    case ftInteger:
    case ftAutoInc:
    case ftShortint:
    case ftByte:
    case ftLongWord:
    case ftLargeint:
      return platform::IntToStr(field.AsLargeInt());
    case ftString:
    case ftFixedChar: {
      std::string text = field.AsString();
      double v = 0;
      if (IsValueColumn(field.FieldName()) && analysis::IsVal(text, v))
        return analysis::MFTStr(v, platform::TFloatFormat::ffFixed, 5, 2);
      return text;
    }
    case ftDateTime:
    case ftTimeStamp:
      return DateTimeToStr(field.AsDateTime());
    case ftDate:
      return DateToStr(field.AsDateTime());
    case ftTime:
      return TimeToStr(field.AsDateTime());
    default:
      return {};
  }
}

void SaveToTxT(const std::string& Filename, TDataSet& mytable) {
  TFields& fields = mytable.Fields();
  std::string out = "\xEF\xBB\xBF";
  for (int i = 0; i < fields.Count(); ++i) {
    AppendCellText(out, fields[i]->FieldName());
    out += '\t';
  }
  out += "\r\n";

  // Where the table was, for a failure: the caller's view stays as it was.
  TBookmark before;
  if (mytable.BookmarkAvailable()) before = mytable.GetBookmark();
  mytable.DisableControls();
  platform::ScopeExit enable([&] { mytable.EnableControls(); });
  try {
    for (mytable.First(); !mytable.Eof(); mytable.Next()) {
      for (int i = 0; i < fields.Count(); ++i) {
        AppendCellText(out, ExportCellText(*fields[i]));
        out += '\t';
      }
      out += "\r\n";
    }
    platform::ReplaceFile(Filename, std::string_view(out));
  } catch (...) {
    try {
      if (!before.empty() && mytable.BookmarkValid(before)) mytable.GotoBookmark(before);
    } catch (...) {
      // The row may have gone meanwhile; the export's own error is the one to report.
    }
    throw;
  }
}

void ConfigureArchiveXLS(platform::xls::TDataToXLS& writer, TDataSet* table, const std::string& sheetName) {
  writer.DataSet = table;
  writer.SheetName = sheetName;
  writer.ShowHeader = true;
  writer.StartRow = 0;
  writer.StartCol = 0;
  writer.AutoFitColumns = true;
  writer.MaxRowsPerSheet = 65535;
  writer.HeaderFont = {"Arial", 10, true, false};
  writer.DetailFont = {"Arial", 10, false, false};
}

}  // namespace archive

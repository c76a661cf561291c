#pragma once
// TDataToXLS: writes the rows of a dataset as one worksheet of an .xls workbook (BIFF8 in a
// compound file). The first row holds the fields' display labels in the header font, each
// record below it one row in the detail font; columns follow the dataset's visible fields.
//
// Cells by field type: numbers as numbers; dates, times and date-times as numbers in a date
// format (readers show and convert them as dates); booleans as logical cells; 8-bit strings
// (Windows-1252) and wide strings as texts; NULL values, BLOB data other than memo text and
// byte fields as empty cells. A number a sheet cannot hold (infinite, not a number) becomes
// the #NUM! error; a whole number beyond 2^53, and a date before 1900, become texts, so that
// no value changes on the way.
//
// The file appears whole or not at all: the workbook is built in memory, written to a
// temporary file beside the target and renamed over it. A dataset with more rows than a
// worksheet holds, a text longer than a cell holds or a write error raises EXLSError and
// leaves the target as it was.
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/data/dataset.h"
#include "platform/xls/biff8.h"
#include "platform/xls/compound_file.h"

namespace platform::xls {

class EXLSError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TDataToXLS {
 public:
  TDataToXLS() = default;
  explicit TDataToXLS(data::TDataSet* dataset) : DataSet(dataset) {}

  // The dataset to write; a closed one is opened for the export and closed again. Its
  // current record is restored afterwards.
  data::TDataSet* DataSet = nullptr;
  // The worksheet's name (UTF-8): 1 to 31 characters, none of : \ / ? * [ ].
  std::string SheetName = "Sheet1";
  // Whether the first row holds the fields' display labels.
  bool ShowHeader = true;
  // The cell of the header's first column (0-based).
  int StartRow = 0;
  int StartCol = 0;
  // Column widths fitted to the longest text of each column.
  bool AutoFitColumns = true;
  // The most records one sheet takes; a larger dataset is refused as a whole.
  int MaxRowsPerSheet = 65535;
  TXLSFont HeaderFont{"Arial", 10, true, false};
  TXLSFont DetailFont{"Arial", 10, false, false};
  // Number formats of the date and time cells.
  std::string DateTimeFormat = "yyyy-mm-dd hh:mm:ss";
  std::string DateFormat = "yyyy-mm-dd";
  std::string TimeFormat = "hh:mm:ss";

  // Writes the workbook to the file (created or replaced).
  void SaveDatasetAs(const std::filesystem::path& filename);
  // The workbook file's bytes.
  std::vector<uint8_t> SaveDatasetToBytes();

 private:
  TCompoundFileWriter BuildFile();
};

}  // namespace platform::xls

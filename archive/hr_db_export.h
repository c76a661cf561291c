#pragma once
// The archive's text export: a table as it presents its rows (active index, current filter)
// written as tab-separated UTF-8 text. The archive window's export button and the settings
// window's scheduled export both write it through SaveToTxT.
//
// Layout: the byte-order mark EF BB BF; a header line of the field names; one line per row.
// Every cell, the last one included, is followed by a TAB and every line ends with CR LF, so
// every line has exactly one TAB per column. Cells:
// - 8-byte floating point: 3 decimals, right-aligned to 10 characters ("    12.500");
// - integers of every width and sign: the value in decimal (a 16-bit unsigned column holds
//   whole numbers; it is still rounded, ties to even, as the values are read as doubles);
// - measured values (the 8-bit text columns other than the job and bookkeeping columns
//   Algorithm, PDF, JOBID, Plate, Operator and Info): a text that reads as a number is written
//   as that number with 2 decimals and no unit ("12.30%" gives 12.30), any other text as it is;
// - job and bookkeeping texts: exactly as stored ("007" stays 007);
// - date-time: the short date and the long time with a blank between, the time left out at
//   exactly midnight; a date column the date, a time column the time;
// - NULL values and every other type (booleans, wide texts, pictures and other BLOBs): empty.
// A TAB, CR or LF inside a text becomes a blank, so that no text can add a column or a line.
#include <stdexcept>
#include <string>

#include "platform/xls/data_to_xls.h"

namespace platform::data {
class TDataSet;
class TField;
}  // namespace platform::data

namespace archive {

// Whether the text column holds measured values (reformatted as numbers in the export).
bool IsValueColumn(const std::string& fieldName);

// The export's text of the current record's field (without the TAB).
std::string ExportCellText(platform::data::TField& field);

// Writes the table (open, in browse state) to Filename, created or replaced. The file appears
// whole or not at all: on success the table stands past its last row, the last row being the
// current record (the scheduled export reads the newest exported DateTime there). When the file
// cannot be created or written, the exception (platform::ETextFileError) names the file and
// the reason, whatever was at Filename before is unchanged, and the table is where it was.
void SaveToTxT(const std::string& Filename, platform::data::TDataSet& mytable);

// The spreadsheet export of one archive tab: the worksheet (LAMS, PLATE, STRUCTURE or FILM)
// of the table's rows under a header row of the display labels, from the first cell, columns
// fitted, at most 65,535 rows (more are refused with a message before anything is written),
// header Arial 10 bold, rows Arial 10. Dates are date cells, the measured value texts texts.
void ConfigureArchiveXLS(platform::xls::TDataToXLS& writer, platform::data::TDataSet* table,
                         const std::string& sheetName);

}  // namespace archive

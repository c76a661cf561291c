#include "platform/data/data_types.h"

namespace platform::data {

const char* FieldTypeName(TFieldType type) {
  static const char* const kNames[kFieldTypeCount] = {
      "Unknown",   "String",     "SmallInt",    "Integer",      "Word",      "Boolean",     "Float",
      "Currency",  "BCD",        "Date",        "Time",         "DateTime",  "Bytes",       "VarBytes",
      "AutoInc",   "Blob",       "Memo",        "Graphic",      "FmtMemo",   "ParadoxOle",  "DBaseOle",
      "TypedBinary", "Cursor",   "FixedChar",   "WideString",   "LargeInt",  "ADT",         "Array",
      "Reference", "DataSet",    "OraBlob",     "OraClob",      "Variant",   "Interface",   "IDispatch",
      "Guid",      "TimeStamp",  "FMTBcd",      "FixedWideChar", "WideMemo", "OraTimeStamp", "OraInterval",
      "LongWord",  "Shortint",   "Byte",        "Extended",     "Connection", "Params",     "Stream",
      "TimeStampOffset", "Object", "Single"};
  const auto i = static_cast<unsigned>(type);
  return i < kFieldTypeCount ? kNames[i] : "Unknown";
}

bool IsBlobFieldType(TFieldType type) {
  switch (type) {
    case ftBlob:
    case ftMemo:
    case ftGraphic:
    case ftFmtMemo:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftTypedBinary:
    case ftOraBlob:
    case ftOraClob:
    case ftWideMemo:
      return true;
    default:
      return false;
  }
}

}  // namespace platform::data

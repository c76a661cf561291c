#pragma once
// The vocabulary of the data layer: field types, dataset states and events, record buffers,
// bookmarks and the option sets of the dataset operations.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/data/enum_set.h"

namespace platform::data {

// Field types with the ordinals the engine reports in its messages ("Unknown DataType: '%d'").
enum TFieldType : uint8_t {
  ftUnknown = 0, ftString, ftSmallint, ftInteger, ftWord, ftBoolean, ftFloat, ftCurrency, ftBCD, ftDate,
  ftTime, ftDateTime, ftBytes, ftVarBytes, ftAutoInc, ftBlob, ftMemo, ftGraphic, ftFmtMemo, ftParadoxOle,
  ftDBaseOle, ftTypedBinary, ftCursor, ftFixedChar, ftWideString, ftLargeint, ftADT, ftArray, ftReference,
  ftDataSet, ftOraBlob, ftOraClob, ftVariant, ftInterface, ftIDispatch, ftGuid, ftTimeStamp, ftFMTBcd,
  ftFixedWideChar, ftWideMemo, ftOraTimeStamp, ftOraInterval, ftLongWord, ftShortint, ftByte, ftExtended,
  ftConnection, ftParams, ftStream, ftTimeStampOffset, ftObject, ftSingle
};
constexpr int kFieldTypeCount = ftSingle + 1;

// "String", "Integer", ... (the type's name without the prefix).
const char* FieldTypeName(TFieldType type);
// The BLOB kinds (byte data, memo, graphic and their relatives).
bool IsBlobFieldType(TFieldType type);

enum TFieldKind : uint8_t { fkData, fkCalculated, fkLookup, fkInternalCalc };

enum TDataSetState : uint8_t {
  dsInactive, dsBrowse, dsEdit, dsInsert, dsSetKey, dsCalcFields, dsFilter, dsNewValue, dsOldValue, dsCurValue,
  dsBlockRead, dsInternalCalc, dsOpening
};

// Notifications from a dataset to its data sources and links. The integer that goes with an
// event is a TField* for deFieldChange and deFocusControl, the scroll amount for
// deDataSetScroll, and 0 otherwise.
enum TDataEvent : uint8_t {
  deFieldChange, deRecordChange, deDataSetChange, deDataSetScroll, deLayoutChange, deUpdateRecord,
  deUpdateState, deCheckBrowseMode, dePropertyChange, deFieldListChange, deFocusControl
};

enum TGetMode : uint8_t { gmCurrent, gmNext, gmPrior };
enum TGetResult : uint8_t { grOK, grBOF, grEOF, grError };
enum TBookmarkFlag : uint8_t { bfCurrent, bfBOF, bfEOF, bfInserted };

enum TResyncModeItem : uint8_t { rmExact, rmCenter };
using TResyncMode = EnumSet<TResyncModeItem>;

enum TDataAction : uint8_t { daFail, daAbort, daRetry };
enum TBlobStreamMode : uint8_t { bmRead, bmWrite, bmReadWrite };

enum TLocateOption : uint8_t { loCaseInsensitive, loPartialKey };
using TLocateOptions = EnumSet<TLocateOption>;

enum TFilterOption : uint8_t { foCaseInsensitive, foNoPartialCompare };
using TFilterOptions = EnumSet<TFilterOption>;

enum TIndexOption : uint8_t { ixPrimary, ixUnique, ixDescending, ixCaseInsensitive, ixExpression, ixNonMaintained };
using TIndexOptions = EnumSet<TIndexOption>;

enum TAlignment : uint8_t { taLeftJustify, taRightJustify, taCenter };

// A record buffer belongs to the dataset that allocated it; its layout is the dataset's.
using TRecordBuffer = uint8_t*;

// A bookmark is the byte string the dataset gives for a record (empty: none).
using TBookmark = std::vector<uint8_t>;

// The platform's SQL time stamp (the native form of time stamp fields): 16 bytes.
struct TSQLTimeStamp {
  int16_t Year = 0;
  uint16_t Month = 0;
  uint16_t Day = 0;
  uint16_t Hour = 0;
  uint16_t Minute = 0;
  uint16_t Second = 0;
  uint32_t Fractions = 0;  // milliseconds
  bool operator==(const TSQLTimeStamp&) const = default;
};
static_assert(sizeof(TSQLTimeStamp) == 16);

}  // namespace platform::data

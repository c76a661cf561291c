#pragma once
// Field types and conversions: the SQL type table that maps column types to storage types,
// dataset field types and SQL names; the stored date and time forms; type groups; SQL LIKE
// matching; ISO date and time texts and the engine's date and time texts.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "dbengine/storage/orv_types.h"
#include "platform/base/datetime.h"

namespace orv {

using platform::TDateTime;

// The dataset field types by their ordinals (the data layer's TFieldType has the same
// values); only those the SQL type table names. Messages report a dataset type by ordinal.
namespace dsft {
inline constexpr uint8_t ftUnknown = 0, ftString = 1, ftSmallint = 2, ftInteger = 3, ftWord = 4, ftBoolean = 5,
                         ftFloat = 6, ftCurrency = 7, ftBCD = 8, ftDate = 9, ftTime = 10, ftDateTime = 11,
                         ftBytes = 12, ftVarBytes = 13, ftAutoInc = 14, ftBlob = 15, ftMemo = 16, ftGraphic = 17,
                         ftFmtMemo = 18, ftParadoxOle = 19, ftDBaseOle = 20, ftTypedBinary = 21, ftFixedChar = 23,
                         ftWideString = 24, ftLargeint = 25, ftOraBlob = 30, ftOraClob = 31, ftGuid = 35,
                         ftTimeStamp = 36, ftWideMemo = 39;
}  // namespace dsft

struct TSQLFieldType {
  std::string_view SqlName;
  TORVAdvancedFieldType AdvancedFieldType;
  TORVBaseFieldType BaseFieldType;
  uint8_t FieldType;  // dataset field type ordinal (dsft)
};

// Every lookup takes the first matching row, so the order of the rows decides the mappings.
extern const std::array<TSQLFieldType, 62> SQLFieldTypes;

TORVBaseFieldType AdvancedFieldTypeToBaseFieldType(TORVAdvancedFieldType AdvancedFieldType);
TORVAdvancedFieldType BaseFieldTypeToAdvancedFieldType(TORVBaseFieldType BaseFieldType);
// No row (or aftUnknown): 30289 "Unknown DataType: '<ordinal>'".
TORVAdvancedFieldType FieldTypeToORVAdvFieldType(uint8_t FieldType);
uint8_t ORVAdvFieldTypeToFieldType(TORVAdvancedFieldType AdvancedFieldType);
std::string AftToStr(TORVAdvancedFieldType AdvancedFieldType);
std::string BftToStr(TORVBaseFieldType BaseFieldType);
// The column type of an SQL type name, compared without regard to case; False when none.
bool SQLNameToAdvancedFieldType(std::string_view Name, TORVAdvancedFieldType& AdvancedFieldType);

// ---- Stored date and time forms -----------------------------------------------------------
inline constexpr int32_t MinDate = -2146790054;

TDateTime ORVDateToDate(int32_t ORVDate);
int32_t DateToORVDate(TDateTime Date);
TDateTime ORVTimeToTime(int32_t ORVTime);
// The time of day in milliseconds, rounded to the nearest (ties to even). A plain time is
// at most 86,399,999 ms (-86,399,999 before 1899-12-30): a time that rounds up to midnight
// stays on its day.
int32_t TimeToORVTime(TDateTime Time);
TDateTime ORVDateTimeToDateTime(const TORVDateTime& ORVDateTime);
// A time of day that rounds up to midnight carries into the date.
TORVDateTime DateTimeToORVDateTime(TDateTime DateTime);

// ---- Type groups --------------------------------------------------------------------------
bool IsBLOBFieldType(TORVBaseFieldType t);
bool IsBLOBFieldType(TORVAdvancedFieldType t);
bool IsStringFieldType(TORVBaseFieldType t);
bool IsStringFieldType(TORVAdvancedFieldType t);
bool IsWideStringFieldType(TORVBaseFieldType t);
bool IsWideStringFieldType(TORVAdvancedFieldType t);
bool IsBytesFieldType(TORVAdvancedFieldType t);
bool IsAutoincFieldType(TORVAdvancedFieldType t);
bool IsNumericFieldType(TORVBaseFieldType t);
bool IsNumericFieldType(TORVAdvancedFieldType t);
bool IsDateTimeFieldType(TORVBaseFieldType t);
bool IsDateTimeFieldType(TORVAdvancedFieldType t);
bool IsSizebleFieldType(TORVAdvancedFieldType t);
bool IsConvertableFieldType(TORVAdvancedFieldType t);
bool IsIntegerFieldType(TORVBaseFieldType t);
bool IsFloatFieldType(TORVBaseFieldType t);

// ---- LIKE ---------------------------------------------------------------------------------
inline constexpr char WildCardMultipleChar = '%';
inline constexpr char WildCardSingleChar = '_';

// SQL LIKE over zero-terminated texts: "%" matches any run of characters (also none), "_"
// one character; with IsPatternEscaped the escape character makes the next pattern character
// ordinary ("%" and "_" are wildcards even when they are the escape character; an escape at
// the very end of the pattern matches nothing). Other characters compare one by one in the
// engine's collation, without case when bIgnoreCase.
bool IsStrMatchPattern(const char* StrPtr, const char* PatternPtr, bool IsPatternEscaped, char EscapeChar,
                       bool bIgnoreCase);
bool IsWideStrMatchPattern(const char16_t* StrPtr, const char16_t* PatternPtr, bool IsPatternEscaped,
                           char16_t EscapeChar, bool bIgnoreCase);

// ---- ISO date and time texts --------------------------------------------------------------

// One digit group starting at the 1-based position Pos; Pos ends one character past what
// stopped the digits. True when exactly DigitsCount digits were read.
bool ExtractNumericPart(std::string_view DateTimeStr, int32_t DigitsCount, uint16_t& Value, int32_t& Pos);
// "YYYY-MM-DD", "HH:MM:SS" and "YYYY-MM-DD HH:MM:SS" (any one separator after each group).
// False when the text has another form; an impossible date or time raises the platform's
// conversion error.
bool ISODateStrToDate(std::string_view DateStr, TDateTime& Date);
bool ISOTimeStrToTime(std::string_view TimeStr, TDateTime& Time);
bool ISOTimeStampStrToDateTime(std::string_view TimeStampStr, TDateTime& DateTime);

// ---- The engine's date and time texts -----------------------------------------------------
// Values converted to text and back use one fixed form, whatever the process's locale:
// dates "yyyy-mm-dd", times "hh:nn:ss" with ".zzz" when there are milliseconds, date-times
// the date, a blank and the time (left out at midnight).
std::string DateToEngineText(TDateTime Value);
std::string TimeToEngineText(TDateTime Value);
std::string DateTimeToEngineText(TDateTime Value);
// Reading: a date is year, month and day separated by any one of " -./" (a two-digit year
// is 1950..2049); a time h:n[:s[.z]]; a date-time a date, blanks or a "T", and an optional
// time. Blanks around the text are allowed. False for anything else.
bool TryEngineTextToDate(std::string_view Text, TDateTime& Value);
bool TryEngineTextToTime(std::string_view Text, TDateTime& Value);
bool TryEngineTextToDateTime(std::string_view Text, TDateTime& Value);

}  // namespace orv

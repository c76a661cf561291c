#pragma once
// The engine's typed, nullable value and its type algebra: conversions between the storage
// types, arithmetic with the NULL rules, and the comparison of value buffers that every
// ordering of the engine (B-tree keys, joins, grouping, constraints) goes through.
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "dbengine/storage/orv_types.h"
#include "platform/base/datetime.h"
#include "platform/base/stream.h"

namespace orv {

using platform::TDateTime;

// The locale the UTF-16 comparisons are made in (the user's default; nothing changes it).
inline constexpr uint32_t DefaultLocaleToCompareWideStrings = 0x400;

// ---- 10-byte extended reals ---------------------------------------------------------------
// The stored form of bftExtended is the x87 80-bit layout (64-bit mantissa with explicit
// integer bit, 15-bit biased exponent, sign), little-endian, whatever long double is here.
void ExtendedToBytes(long double Value, uint8_t* Bytes);
long double BytesToExtended(const uint8_t* Bytes);

// ---- A small variant of our own for AsVariant ---------------------------------------------
// VType takes the OLE variant type codes the dataset layer speaks.
enum : uint16_t {
  varEmpty = 0, varNull = 1, varSmallint = 2, varInteger = 3, varSingle = 4, varDouble = 5, varCurrency = 6,
  varDate = 7, varOleStr = 8, varDispatch = 9, varError = 10, varBoolean = 11, varVariant = 12, varUnknown = 13,
  varShortInt = 16, varByte = 17, varWord = 18, varLongWord = 19, varInt64 = 20, varString = 256, varUString = 258,
};

struct TORVVarValue {
  uint16_t VType = varEmpty;
  // integers (every width), floats and dates (days as TDateTime), Boolean, 8-bit and UTF-16 text
  std::variant<std::monostate, int64_t, double, bool, std::string, std::u16string> Value;

  static TORVVarValue Null() { return {varNull, std::monostate{}}; }
  static TORVVarValue Int(uint16_t vtype, int64_t v) { return {vtype, v}; }
  static TORVVarValue Float(uint16_t vtype, double v) { return {vtype, v}; }
  static TORVVarValue Bool(bool v) { return {varBoolean, v}; }
  static TORVVarValue Ansi(std::string v) { return {varString, std::move(v)}; }
  static TORVVarValue Wide(std::u16string v) { return {varOleStr, std::move(v)}; }
  bool IsNull() const { return VType == varNull || VType == varEmpty; }
};

// ---- Type algebra -------------------------------------------------------------------------

// The type two operands are converted to; bftUnknown when they do not combine. The order of
// a and b matters where a float meets bftCurrency.
TORVBaseFieldType GetCommonDataType(TORVBaseFieldType a, TORVBaseFieldType b, bool ForCompare);
TORVAdvancedFieldType GetCommonDataType(TORVAdvancedFieldType a, TORVAdvancedFieldType b, bool ForCompare);

// A new MemoryManager buffer holding the value converted to NewDataType, and its size; the
// source is untouched. DataSize -1: strings are read up to their terminator, fixed-size
// types need no size; a size given bounds every read of the source. A pair without a
// conversion raises 30052, a value that does not convert 30051.
void* CastToNewBuffer(const void* Buffer, int32_t DataSize, TORVBaseFieldType DataType, TORVBaseFieldType NewDataType,
                      int32_t& NewDataSize);
void* CastToNewBuffer(const void* Buffer, int32_t DataSize, TORVBaseFieldType DataType, TORVBaseFieldType NewDataType);

// Buffer1 against Buffer2 in their common type; NULLs give the three NULL results. A partial
// length of 0 or more compares text values only that far.
TORVCompareResult CompareValueBuffers(const void* Buffer1, const void* Buffer2, TORVBaseFieldType BaseFieldType1,
                                      TORVBaseFieldType BaseFieldType2, bool IsField1Null, bool IsField2Null,
                                      int32_t PartialCompareLength, bool IgnoreCase, uint32_t LocaleID);
// -1, 0 or 1, NULL before every value. The B-tree key comparisons use it.
int32_t CompareValueBuffersForOrder(const void* Buffer1, const void* Buffer2, TORVBaseFieldType BaseFieldType1,
                                    TORVBaseFieldType BaseFieldType2, bool IsField1Null, bool IsField2Null,
                                    int32_t PartialCompareLength, bool IgnoreCase, uint32_t LocaleID);
// As above with the buffers' sizes in bytes (-1 unknown): text is never read past its size.
TORVCompareResult CompareSizedValueBuffers(const void* Buffer1, int32_t Size1, const void* Buffer2, int32_t Size2,
                                           TORVBaseFieldType BaseFieldType1, TORVBaseFieldType BaseFieldType2,
                                           bool IsField1Null, bool IsField2Null, int32_t PartialCompareLength,
                                           bool IgnoreCase, uint32_t LocaleID);
int32_t CompareResultForOrder(TORVCompareResult Result);

// ---- TORVVariant --------------------------------------------------------------------------

class TORVVariant {
 public:
  explicit TORVVariant(TORVBaseFieldType DataType = bftUnknown);
  // Parameters of the SQL layer derive from values.
  virtual ~TORVVariant();
  TORVVariant(const TORVVariant&) = delete;
  TORVVariant& operator=(const TORVVariant&) = delete;

  TORVBaseFieldType DataType() const { return FDataType; }
  int32_t DataSize() const { return FDataSize; }
  const void* pData() const { return FPData; }
  bool IsDataLinked() const { return FIsDataLinked; }
  bool IsNull() const { return GetIsNull(); }
  bool GetIsNull() const { return FIsNull || !FPData; }

  // Frees an owned buffer; afterwards a NULL value of DataType without a buffer.
  void Clear(TORVBaseFieldType DataType);
  // Only the NULL flag: type and buffer stay, so that a later setter reuses the buffer.
  void SetNull(TORVBaseFieldType DataType = bftUnknown);
  // A NULL value takes the type; a value is converted, or cleared to the type when it
  // cannot be (nothing is raised).
  void SetDataType(TORVBaseFieldType DataType);
  // Converts in place; a NULL value only changes its type.
  void Cast(TORVBaseFieldType NewDataType);
  // With CopyDataFlag the data is copied, without it the value links to Source's buffer.
  void Assign(const TORVVariant& Source, bool CopyDataFlag);
  void SetData(const void* Buffer, int32_t Size, TORVBaseFieldType DataType, bool CopyDataFlag);
  // False for NULL and for an empty text; MaxSize -1 unchecked, else a larger value: 20056.
  bool CopyDataToAddress(void* Buffer, int32_t MaxSize = -1) const;
  // Characters of a text value; -1 for NULL or another type.
  int32_t StrLen() const;

  bool IsNumericDataType() const;
  bool IsStringDataType() const;
  bool IsWideStringDataType() const;
  bool IsBlobDataType() const;
  bool IsDateTimeDataType() const;

  void TryToReduceWideStringToAnsiString();

  // Type byte, NULL byte (0 = a value follows, else 0xFF), then Int32 size and the bytes.
  void SaveToStream(platform::TStream& Stream) const;
  void LoadFromStream(platform::TStream& Stream);

  // Getters convert from the stored type; on a NULL value a text getter gives the empty text
  // and every other getter raises 30016. Setters store in the value's own type when it has
  // one (converting), else in their own; an empty text makes the value NULL.
  int8_t GetDataAsSignedInt8() const;
  int16_t GetDataAsSignedInt16() const;
  int32_t GetDataAsSignedInt32() const;
  int64_t GetDataAsSignedInt64() const;
  uint8_t GetDataAsUnsignedInt8() const;
  uint16_t GetDataAsUnsignedInt16() const;
  uint32_t GetDataAsUnsignedInt32() const;
  float GetDataAsSingle() const;
  double GetDataAsDouble() const;
  long double GetDataAsExtended() const;
  std::string GetDataAsAnsiString() const;
  std::u16string GetDataAsWideString() const;
  int32_t GetDataAsORVDate() const;
  int32_t GetDataAsORVTime() const;
  TORVDateTime GetDataAsORVDateTime() const;
  TDateTime GetDataAsTDate() const;
  TDateTime GetDataAsTTime() const;
  TDateTime GetDataAsTDateTime() const;
  bool GetDataAsBoolean() const;
  double GetDataAsCurrency() const;
  TORVVarValue GetDataAsVariant() const;

  void SetDataAsSignedInt8(int8_t Value);
  void SetDataAsSignedInt16(int16_t Value);
  void SetDataAsSignedInt32(int32_t Value);
  void SetDataAsSignedInt64(int64_t Value);
  void SetDataAsUnsignedInt8(uint8_t Value);
  void SetDataAsUnsignedInt16(uint16_t Value);
  void SetDataAsUnsignedInt32(uint32_t Value);
  void SetDataAsSingle(float Value);
  void SetDataAsDouble(double Value);
  void SetDataAsExtended(long double Value);
  void SetDataAsAnsiString(std::string_view Value);
  void SetDataAsWideString(std::u16string_view Value);
  void SetDataAsORVDate(int32_t Value);
  void SetDataAsORVTime(int32_t Value);
  void SetDataAsORVDateTime(const TORVDateTime& Value);
  void SetDataAsTDate(TDateTime Value);
  void SetDataAsTTime(TDateTime Value);
  void SetDataAsTDateTime(TDateTime Value);
  void SetDataAsBoolean(bool Value);
  void SetDataAsCurrency(double Value);
  // Null or Empty give NULL; an unsupported type code raises 30113.
  void SetDataAsVariant(const TORVVarValue& Value);

  // Self := -Self; Self := Self op Value (the NULL rules and the common type decide).
  void InvertValue();
  void Add(const TORVVariant& Value);
  void Sub(const TORVVariant& Value);
  void Mul(const TORVVariant& Value);
  void Division(const TORVVariant& Value);
  TORVCompareResult Compare(const TORVVariant& Value, bool TrueFalseNullLogic, bool CaseInsensitive,
                            bool PartialKey) const;

 private:
  // Stores Size bytes of Raw (the value in its buffer form) given in ValueType.
  void SetDataValue(const void* Raw, int32_t Size, TORVBaseFieldType ValueType);
  // Converts the value to ValueType into Result (Size bytes); raises 30016 on NULL.
  void GetFixedValue(void* Result, int32_t Size, TORVBaseFieldType ValueType) const;
  void SetText8(std::string_view Text, TORVBaseFieldType ValueType);
  void TakeBuffer(void* Buffer, int32_t Size, TORVBaseFieldType DataType);
  void ArithmeticPrologue(const TORVVariant& Value);
  void Arithmetic(const TORVVariant& Value, char Operator);

  TORVBaseFieldType FDataType = bftUnknown;
  int32_t FDataSize = 0;
  void* FPData = nullptr;
  bool FIsDataLinked = false;
  bool FIsNull = true;
};

}  // namespace orv

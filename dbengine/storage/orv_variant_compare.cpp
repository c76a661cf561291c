// The comparison of two value buffers: the one ordering behind B-tree keys, joins, grouping,
// DISTINCT and constraint checks.
#include <cmath>
#include <memory>
#include <string>

#include "dbengine/storage/orv_converts.h"
#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_memory.h"
#include "dbengine/storage/orv_str_utils.h"
#include "dbengine/storage/orv_variant.h"
#include "dbengine/storage/orv_variant_buffer.h"

namespace orv {

namespace vb = value_buffer;

namespace {

struct FreeBuffer {
  void operator()(void* p) const { MemoryManager().FreeMem(p); }
};
using OwnedBuffer = std::unique_ptr<void, FreeBuffer>;

template <class T>
TORVCompareResult Order(T a, T b) {
  if (a == b) return cmprEqual;
  return a > b ? cmprGreater : cmprLower;
}

// Floats order numerically; a NaN (which no comparison of numbers places) sorts after every
// number and equals another NaN, so that keys holding one still form a total order.
template <class T>
TORVCompareResult OrderFloat(T a, T b) {
  const bool na = std::isnan(a), nb = std::isnan(b);
  if (na || nb) return na && nb ? cmprEqual : (na ? cmprGreater : cmprLower);
  return Order(a, b);
}

int32_t CountFor(const void* p, int32_t size, int32_t partial, bool wide) {
  if (size < 0) return partial;  // unbounded: the comparison stops at the terminator
  const int32_t chars = wide ? vb::TextLength<char16_t>(p, size) : vb::TextLength<char>(p, size);
  return partial >= 0 && partial < chars ? partial : chars;
}

TORVCompareResult FromCStr(int r, int32_t code) {
  switch (r) {
    case CSTR_LESS_THAN: return cmprLower;
    case CSTR_EQUAL: return cmprEqual;
    case CSTR_GREATER_THAN: return cmprGreater;
    default:
      if (code == 30045) throw EORVException(30045, "Unknown return code: %d", {r});
      throw EORVException(30046,
                          "Unicode is not supported by this version of Windows. Please put the Microsoft Layer for "
                          "Unicode, the file unicows.dll, into the application's folder");
  }
}

TORVCompareResult CompareWide(const void* p1, int32_t s1, const void* p2, int32_t s2, int32_t partial, uint32_t flags) {
  // Keys hold wide text at any byte offset: the units are copied into aligned storage first.
  int32_t n1 = vb::TextLength<char16_t>(p1, s1);
  int32_t n2 = vb::TextLength<char16_t>(p2, s2);
  if (partial >= 0) {
    n1 = std::min(n1, partial);
    n2 = std::min(n2, partial);
  }
  char16_t small1[128], small2[128];
  std::u16string big1, big2;
  char16_t* w1 = small1;
  char16_t* w2 = small2;
  if (n1 > 128) {
    big1.resize(static_cast<size_t>(n1));
    w1 = big1.data();
  }
  if (n2 > 128) {
    big2.resize(static_cast<size_t>(n2));
    w2 = big2.data();
  }
  vb::CopyWide(w1, p1, n1);
  vb::CopyWide(w2, p2, n2);
  return FromCStr(CompareStringW(DefaultLocaleToCompareWideStrings, flags, w1, n1, w2, n2), 30046);
}

}  // namespace

TORVCompareResult CompareSizedValueBuffers(const void* Buffer1, int32_t Size1, const void* Buffer2, int32_t Size2,
                                           TORVBaseFieldType BaseFieldType1, TORVBaseFieldType BaseFieldType2,
                                           bool IsField1Null, bool IsField2Null, int32_t PartialCompareLength,
                                           bool IgnoreCase, uint32_t LocaleID) {
  if (IsField1Null && IsField2Null) return cmprBothNull;
  if (IsField1Null) return cmprLeftNull;
  if (IsField2Null) return cmprRightNull;

  TORVBaseFieldType type = BaseFieldType1;
  const void* p1 = Buffer1;
  const void* p2 = Buffer2;
  OwnedBuffer own1, own2;
  if (BaseFieldType1 != BaseFieldType2 || BaseFieldType1 == bftClob || BaseFieldType1 == bftWideClob) {
    type = GetCommonDataType(BaseFieldType1, BaseFieldType2, true);
    if (type == bftUnknown)
      throw EORVException(30044, "Cannot compare Incompatible DataTypes: '%s' and '%s'",
                          {BftToStr(BaseFieldType1), BftToStr(BaseFieldType2)});
    if (!p1 || !p2) throw EORVException(30140, "Value is Null");
    if (BaseFieldType1 != type) {
      own1.reset(CastToNewBuffer(p1, Size1, BaseFieldType1, type, Size1));
      p1 = own1.get();
    }
    if (BaseFieldType2 != type) {
      own2.reset(CastToNewBuffer(p2, Size2, BaseFieldType2, type, Size2));
      p2 = own2.get();
    }
  }
  if (!p1 || !p2) throw EORVException(30140, "Value is Null");

  const uint32_t flags = SORT_STRINGSORT | (IgnoreCase ? NORM_IGNORECASE : 0);
  switch (type) {
    case bftChar:
    case bftVarchar:
    case bftBytes:
      return FromCStr(CompareStringA(LocaleID, flags, static_cast<const char*>(p1),
                                     CountFor(p1, Size1, PartialCompareLength, false), static_cast<const char*>(p2),
                                     CountFor(p2, Size2, PartialCompareLength, false)),
                      30045);
    case bftWideChar:
    case bftWideVarchar: return CompareWide(p1, Size1, p2, Size2, PartialCompareLength, flags);
    case bftSignedInt8: return Order(vb::Load<int8_t>(p1), vb::Load<int8_t>(p2));
    case bftSignedInt16: return Order(vb::Load<int16_t>(p1), vb::Load<int16_t>(p2));
    case bftSignedInt32:
    case bftDate:
    case bftTime: return Order(vb::Load<int32_t>(p1), vb::Load<int32_t>(p2));
    case bftSignedInt64: return Order(vb::Load<int64_t>(p1), vb::Load<int64_t>(p2));
    case bftUnsignedInt8: return Order(vb::Load<uint8_t>(p1), vb::Load<uint8_t>(p2));
    case bftUnsignedInt16: return Order(vb::Load<uint16_t>(p1), vb::Load<uint16_t>(p2));
    case bftUnsignedInt32: return Order(vb::Load<uint32_t>(p1), vb::Load<uint32_t>(p2));
    case bftDateTime: {
      const TORVCompareResult r = Order(vb::Load<int32_t>(p1), vb::Load<int32_t>(p2));
      if (r != cmprEqual) return r;
      return Order(vb::Load<int32_t>(static_cast<const uint8_t*>(p1) + 4),
                   vb::Load<int32_t>(static_cast<const uint8_t*>(p2) + 4));
    }
    case bftSingle: return OrderFloat(vb::Load<float>(p1), vb::Load<float>(p2));
    case bftDouble:
    case bftCurrency: return OrderFloat(vb::Load<double>(p1), vb::Load<double>(p2));
    case bftExtended:
      return OrderFloat(BytesToExtended(static_cast<const uint8_t*>(p1)), BytesToExtended(static_cast<const uint8_t*>(p2)));
    case bftLogical: return Order(vb::Load<uint16_t>(p1) != 0, vb::Load<uint16_t>(p2) != 0);
    default: throw EORVException(30047, "Unknown DataType: '%s'", {BftToStr(type)});
  }
}

TORVCompareResult CompareValueBuffers(const void* Buffer1, const void* Buffer2, TORVBaseFieldType BaseFieldType1,
                                      TORVBaseFieldType BaseFieldType2, bool IsField1Null, bool IsField2Null,
                                      int32_t PartialCompareLength, bool IgnoreCase, uint32_t LocaleID) {
  return CompareSizedValueBuffers(Buffer1, -1, Buffer2, -1, BaseFieldType1, BaseFieldType2, IsField1Null, IsField2Null,
                                  PartialCompareLength, IgnoreCase, LocaleID);
}

int32_t CompareResultForOrder(TORVCompareResult Result) {
  switch (Result) {
    case cmprLower:
    case cmprLeftNull: return -1;
    case cmprGreater:
    case cmprRightNull: return 1;
    default: return 0;
  }
}

int32_t CompareValueBuffersForOrder(const void* Buffer1, const void* Buffer2, TORVBaseFieldType BaseFieldType1,
                                    TORVBaseFieldType BaseFieldType2, bool IsField1Null, bool IsField2Null,
                                    int32_t PartialCompareLength, bool IgnoreCase, uint32_t LocaleID) {
  return CompareResultForOrder(CompareValueBuffers(Buffer1, Buffer2, BaseFieldType1, BaseFieldType2, IsField1Null,
                                                   IsField2Null, PartialCompareLength, IgnoreCase, LocaleID));
}

TORVCompareResult TORVVariant::Compare(const TORVVariant& Value, bool TrueFalseNullLogic, bool CaseInsensitive,
                                       bool PartialKey) const {
  const TORVCompareResult r =
      CompareSizedValueBuffers(FPData, FDataSize, Value.FPData, Value.FDataSize, FDataType, Value.FDataType, GetIsNull(),
                               Value.GetIsNull(), PartialKey ? Value.StrLen() : -1, CaseInsensitive, 0x400);
  if (TrueFalseNullLogic) return r;
  switch (r) {
    case cmprLeftNull: return cmprLower;
    case cmprRightNull: return cmprGreater;
    case cmprBothNull: return cmprEqual;
    default: return r;
  }
}

}  // namespace orv

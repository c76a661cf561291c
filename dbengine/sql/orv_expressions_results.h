#pragma once
// How the expression nodes store a result in their value object. A setter of TORVVariant
// keeps a type the value already has (converting into it), so the nodes give the value its
// result type first; a value that already has the type keeps its buffer, so that evaluating a
// node again allocates nothing.
#include <cstdint>

#include "dbengine/storage/orv_variant.h"

namespace orv {

inline void SetNullResult(TORVVariant& Value, TORVBaseFieldType DataType) {
  if (Value.DataType() != DataType || Value.IsDataLinked())
    Value.Clear(DataType);
  else
    Value.SetNull(DataType);
}

inline void SetInt32Result(TORVVariant& Value, int32_t Result) {
  if (Value.DataType() != bftSignedInt32 || Value.IsDataLinked()) Value.Clear(bftSignedInt32);
  Value.SetDataAsSignedInt32(Result);
}

inline void SetInt64Result(TORVVariant& Value, int64_t Result) {
  if (Value.DataType() != bftSignedInt64 || Value.IsDataLinked()) Value.Clear(bftSignedInt64);
  Value.SetDataAsSignedInt64(Result);
}

inline void SetDoubleResult(TORVVariant& Value, double Result) {
  if (Value.DataType() != bftDouble || Value.IsDataLinked()) Value.Clear(bftDouble);
  Value.SetDataAsDouble(Result);
}

// A value that is not NULL read as a Boolean, without a conversion when it is one already.
inline bool ReadBoolean(const TORVVariant& v) {
  if (v.DataType() == bftLogical && v.DataSize() == 2) {
    const auto* p = static_cast<const uint8_t*>(v.pData());
    return (p[0] | p[1]) != 0;
  }
  return v.GetDataAsBoolean();
}

// The value as a 32-bit integer; beyond that range (or not a number) the engine's integer
// overflow, since a conversion would be undefined.
int32_t ToInt32OrOverflow(long double x);

}  // namespace orv

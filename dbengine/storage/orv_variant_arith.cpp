// Arithmetic on values in place: unary minus and the four operators with the NULL rules.
#include <limits>
#include <stdexcept>
#include <type_traits>

#include "dbengine/storage/orv_const.h"
#include "dbengine/storage/orv_converts.h"
#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_variant.h"

namespace orv {

namespace {

int32_t OperatorCode(char op) {
  switch (op) {
    case '+': return 30124;
    case '-': return 30125;
    case '*': return 30126;
    default: return 30127;
  }
}

[[noreturn]] void NotNumeric(char op) {
  throw EORVException(OperatorCode(op), "Not numeric argument in numeric operator '%s'", {std::string(1, op)});
}

// Integers wrap within their width (the arithmetic is done modulo 2^64 and cut); division
// truncates toward zero.
template <class T>
T IntegerOp(T a, T b, char op) {
  const auto ua = static_cast<uint64_t>(a);
  const auto ub = static_cast<uint64_t>(b);
  switch (op) {
    case '+': return static_cast<T>(ua + ub);
    case '-': return static_cast<T>(ua - ub);
    case '*': return static_cast<T>(ua * ub);
    default:
      if (b == 0) throw std::domain_error("Division by zero");
      if constexpr (std::is_signed_v<T>) {
        if constexpr (sizeof(T) == 8) {
          if (a == std::numeric_limits<T>::min() && b == -1) throw std::overflow_error("Integer overflow");
        }
        return static_cast<T>(static_cast<int64_t>(a) / static_cast<int64_t>(b));
      } else {
        return static_cast<T>(a / b);
      }
  }
}

template <class T>
T FloatOp(T a, T b, char op) {
  switch (op) {
    case '+': return a + b;
    case '-': return a - b;
    case '*': return a * b;
    default:
      if (b == 0) throw std::domain_error("Floating point division by zero");
      return a / b;
  }
}

TORVDateTime DateTimeOp(TORVDateTime a, TORVDateTime b, char op) {
  int64_t date = 0, time = 0;
  switch (op) {
    case '+':
      date = int64_t{a.Date} + b.Date;
      time = int64_t{a.Time} + b.Time;
      break;
    case '-':
      date = int64_t{a.Date} - b.Date;
      time = int64_t{a.Time} - b.Time;
      if (time < 0) {
        // Whole days are borrowed so that the time lies in 0 .. 86399999.
        const int64_t days = (-time + MILSECS_IN_DAY - 1) / MILSECS_IN_DAY;
        date -= days;
        time += days * MILSECS_IN_DAY;
      }
      break;
    case '*':
      date = int64_t{a.Date} * b.Date;
      time = int64_t{a.Time} * b.Time;
      break;
    default:
      if (b.Date == 0 || b.Time == 0) throw std::domain_error("Division by zero");
      date = int64_t{a.Date} / b.Date;
      time = int64_t{a.Time} / b.Time;
      break;
  }
  if (time >= MILSECS_IN_DAY) {
    date += time / MILSECS_IN_DAY;
    time %= MILSECS_IN_DAY;
  }
  return {static_cast<int32_t>(static_cast<uint32_t>(date)), static_cast<int32_t>(time)};
}

}  // namespace

void TORVVariant::InvertValue() {
  if (GetIsNull()) return;
  switch (FDataType) {
    case bftSignedInt8: SetDataAsSignedInt8(static_cast<int8_t>(-GetDataAsSignedInt8())); return;
    case bftSignedInt16: SetDataAsSignedInt16(static_cast<int16_t>(-GetDataAsSignedInt16())); return;
    case bftSignedInt32: {
      const int32_t v = GetDataAsSignedInt32();
      if (v == std::numeric_limits<int32_t>::min()) throw std::overflow_error("Integer overflow");
      SetDataAsSignedInt32(-v);
      return;
    }
    case bftDate: {
      const int32_t v = GetDataAsORVDate();
      if (v == std::numeric_limits<int32_t>::min()) throw std::overflow_error("Integer overflow");
      SetDataAsORVDate(-v);
      return;
    }
    case bftSignedInt64: {
      const int64_t v = GetDataAsSignedInt64();
      if (v == std::numeric_limits<int64_t>::min()) throw std::overflow_error("Integer overflow");
      SetDataAsSignedInt64(-v);
      return;
    }
    case bftUnsignedInt8: SetDataAsUnsignedInt8(static_cast<uint8_t>(0u - GetDataAsUnsignedInt8())); return;
    case bftUnsignedInt16: SetDataAsUnsignedInt16(static_cast<uint16_t>(0u - GetDataAsUnsignedInt16())); return;
    case bftUnsignedInt32: SetDataAsUnsignedInt32(0u - GetDataAsUnsignedInt32()); return;
    case bftSingle: SetDataAsSingle(-GetDataAsSingle()); return;
    case bftDouble: SetDataAsDouble(-GetDataAsDouble()); return;
    case bftExtended: SetDataAsExtended(-GetDataAsExtended()); return;
    case bftCurrency: SetDataAsCurrency(-GetDataAsCurrency()); return;
    case bftLogical: SetDataAsBoolean(!GetDataAsBoolean()); return;
    default: throw EORVException(30123, "Cannot invert value with not numeric type '%s'", {BftToStr(FDataType)});
  }
}

void TORVVariant::Arithmetic(const TORVVariant& Value, char Operator) {
  Cast(GetCommonDataType(FDataType, Value.FDataType, false));
  switch (FDataType) {
    case bftChar:
    case bftVarchar:
      if (Operator != '+') NotNumeric(Operator);
      SetDataAsAnsiString(GetDataAsAnsiString() + Value.GetDataAsAnsiString());
      return;
    case bftWideChar:
    case bftWideVarchar:
      if (Operator != '+') NotNumeric(Operator);
      SetDataAsWideString(GetDataAsWideString() + Value.GetDataAsWideString());
      return;
    case bftSignedInt8:
      SetDataAsSignedInt8(IntegerOp(GetDataAsSignedInt8(), Value.GetDataAsSignedInt8(), Operator));
      return;
    case bftSignedInt16:
      SetDataAsSignedInt16(IntegerOp(GetDataAsSignedInt16(), Value.GetDataAsSignedInt16(), Operator));
      return;
    case bftSignedInt32:
      SetDataAsSignedInt32(IntegerOp(GetDataAsSignedInt32(), Value.GetDataAsSignedInt32(), Operator));
      return;
    case bftSignedInt64:
      SetDataAsSignedInt64(IntegerOp(GetDataAsSignedInt64(), Value.GetDataAsSignedInt64(), Operator));
      return;
    case bftUnsignedInt8:
      SetDataAsUnsignedInt8(IntegerOp(GetDataAsUnsignedInt8(), Value.GetDataAsUnsignedInt8(), Operator));
      return;
    case bftUnsignedInt16:
      SetDataAsUnsignedInt16(IntegerOp(GetDataAsUnsignedInt16(), Value.GetDataAsUnsignedInt16(), Operator));
      return;
    case bftUnsignedInt32:
      SetDataAsUnsignedInt32(IntegerOp(GetDataAsUnsignedInt32(), Value.GetDataAsUnsignedInt32(), Operator));
      return;
    case bftDate: SetDataAsORVDate(IntegerOp(GetDataAsORVDate(), Value.GetDataAsORVDate(), Operator)); return;
    case bftTime: SetDataAsORVTime(IntegerOp(GetDataAsORVTime(), Value.GetDataAsORVTime(), Operator)); return;
    case bftSingle: SetDataAsSingle(FloatOp(GetDataAsSingle(), Value.GetDataAsSingle(), Operator)); return;
    case bftDouble: SetDataAsDouble(FloatOp(GetDataAsDouble(), Value.GetDataAsDouble(), Operator)); return;
    case bftExtended: SetDataAsExtended(FloatOp(GetDataAsExtended(), Value.GetDataAsExtended(), Operator)); return;
    case bftCurrency: SetDataAsCurrency(FloatOp(GetDataAsCurrency(), Value.GetDataAsCurrency(), Operator)); return;
    case bftDateTime:
      SetDataAsORVDateTime(DateTimeOp(GetDataAsORVDateTime(), Value.GetDataAsORVDateTime(), Operator));
      return;
    case bftLogical: SetDataAsBoolean(GetDataAsBoolean() || Value.GetDataAsBoolean()); return;
    default: NotNumeric(Operator);
  }
}

void TORVVariant::Add(const TORVVariant& Value) {
  if (Value.GetIsNull()) {
    // NULL acts as the empty text for texts and as NULL for everything else.
    if (!IsStringDataType()) SetNull(FDataType);
    return;
  }
  if (GetIsNull()) {
    if (IsStringDataType()) Assign(Value, true);
    return;
  }
  Arithmetic(Value, '+');
}

void TORVVariant::Sub(const TORVVariant& Value) {
  if (Value.GetIsNull()) {
    SetNull(FDataType);
    return;
  }
  if (GetIsNull()) return;
  Arithmetic(Value, '-');
}

void TORVVariant::Mul(const TORVVariant& Value) {
  if (Value.GetIsNull()) {
    SetNull(FDataType);
    return;
  }
  if (GetIsNull()) return;
  Arithmetic(Value, '*');
}

void TORVVariant::Division(const TORVVariant& Value) {
  if (Value.GetIsNull()) {
    SetNull(FDataType);
    return;
  }
  if (GetIsNull()) return;
  try {
    Arithmetic(Value, '/');
  } catch (const EORVException&) {
    throw;
  } catch (const std::exception& e) {
    throw EORVException(30128, "Division error: %s", {std::string(e.what())});
  }
}

}  // namespace orv

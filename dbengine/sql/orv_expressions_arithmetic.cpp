// Arithmetic and the math functions of expressions.
#include <cmath>
#include <limits>
#include <mutex>
#include <random>
#include <stdexcept>

#include "dbengine/sql/orv_decimal_rounding.h"
#include "dbengine/sql/orv_expressions_functions.h"
#include "dbengine/sql/orv_expressions_results.h"
#include "dbengine/storage/orv_const.h"
#include "dbengine/storage/orv_converts.h"
#include "dbengine/storage/orv_except.h"

namespace orv {

// ---- RAND's generator -----------------------------------------------------------------------

namespace {

struct RandState {
  std::mutex lock;
  std::mt19937 generator{std::random_device{}()};
};

RandState& Rand() {
  static RandState state;
  return state;
}

}  // namespace

void SetRandSeed(uint32_t Seed) {
  std::lock_guard<std::mutex> guard(Rand().lock);
  Rand().generator.seed(Seed);
}

int32_t RandomBelow(int32_t n) {
  if (n <= 0) throw EORVException(30620, "The argument of RAND must be positive, but it is %d", {n});
  std::lock_guard<std::mutex> guard(Rand().lock);
  return std::uniform_int_distribution<int32_t>(0, n - 1)(Rand().generator);
}

// ---- Helpers --------------------------------------------------------------------------------

int32_t ToInt32OrOverflow(long double x) {
  // Beyond the 32-bit range (or not a number) a conversion would be undefined: it is the
  // same overflow the value layer reports for integers.
  if (!(x >= -2147483648.0L && x <= 2147483647.0L)) throw std::overflow_error("Integer overflow");
  return static_cast<int32_t>(x);
}

namespace {

double CheckedResult(double x, double r, const char* Function) {
  // A domain error or an overflow of the function is an error, not a NaN or an infinity in the
  // result.
  if ((std::isnan(r) && !std::isnan(x)) || (std::isinf(r) && std::isfinite(x)))
    throw EORVException(30623, "Invalid argument for function '%s': %g", {Function, x});
  return r;
}

const char* MathName(TORVDataOperator op) {
  switch (op) {
    case doACOS: return "ACOS";
    case doASIN: return "ASIN";
    case doATAN: return "ATAN";
    case doCOS: return "COS";
    case doEXP: return "EXP";
    case doLOG: return "LOG";
    case doSIN: return "SIN";
    case doSQRT: return "SQRT";
    case doPOWER: return "POWER";
    default: return "unknown";
  }
}

}  // namespace

// ---- Evaluation -----------------------------------------------------------------------------

TORVVariant& TORVExprNodeArithmetic::GetDataValue() {
  switch (Operator) {
    case doADD: AddData(); break;
    case doSUB: SubData(); break;
    case doMUL: MulData(); break;
    case doDIV: DivData(); break;
    case doABS: GetABSValue(); break;
    case doACOS: MathFunction([](double x) { return std::acos(x); }); break;
    case doASIN: MathFunction([](double x) { return std::asin(x); }); break;
    case doATAN: MathFunction([](double x) { return std::atan(x); }); break;
    case doCOS: MathFunction([](double x) { return std::cos(x); }); break;
    case doEXP: MathFunction([](double x) { return std::exp(x); }); break;
    case doLOG: MathFunction([](double x) { return std::log(x); }); break;
    case doSIN: MathFunction([](double x) { return std::sin(x); }); break;
    case doSQRT: MathFunction([](double x) { return std::sqrt(x); }); break;
    case doCEIL: SetInt32Result(Value, ToInt32OrOverflow(std::ceil(Operand(0).GetDataValue().GetDataAsDouble()))); break;
    case doFLOOR:
      SetInt32Result(Value, ToInt32OrOverflow(std::floor(Operand(0).GetDataValue().GetDataAsDouble())));
      break;
    case doPOWER: {
      const double x = Operand(0).GetDataValue().GetDataAsDouble();
      const double y = Operand(1).GetDataValue().GetDataAsDouble();
      SetDoubleResult(Value, CheckedResult(std::isnan(y) ? y : x, std::pow(x, y), "POWER"));
      break;
    }
    case doRAND: SetInt32Result(Value, RandomBelow(Operand(0).GetDataValue().GetDataAsSignedInt32())); break;
    case doROUND: GetROUNDValue(); break;
    case doSIGN: {
      const double x = Operand(0).GetDataValue().GetDataAsDouble();
      SetInt32Result(Value, (x > 0) - (x < 0));
      break;
    }
    case doSQR: {
      const TORVVariant& v = Operand(0).GetDataValue();
      Value.Assign(v, true);
      Value.Mul(v);
      break;
    }
    default: throw EORVException(30121, "Unknown operator: '%s'", {GetOperatorName(Operator)});
  }
  return Value;
}

void TORVExprNodeArithmetic::AddData() {
  Value.Assign(Operand(0).GetDataValue(), true);
  for (int32_t i = 1; i < ChildCount(); ++i) Value.Add(Operand(i).GetDataValue());
}

void TORVExprNodeArithmetic::SubData() {
  // a - b is parsed as a + (-b): this node only negates.
  Value.Assign(Operand(0).GetDataValue(), true);
  Value.InvertValue();
}

void TORVExprNodeArithmetic::MulData() {
  Value.Assign(Operand(0).GetDataValue(), true);
  for (int32_t i = 1; i < ChildCount(); ++i) Value.Mul(Operand(i).GetDataValue());
}

void TORVExprNodeArithmetic::DivData() {
  Value.Assign(Operand(0).GetDataValue(), true);
  Value.Division(Operand(1).GetDataValue());
}

void TORVExprNodeArithmetic::GetABSValue() {
  // The result takes the type the value has as a variant: integers keep their width, the
  // floating types become doubles, the date types date-times.
  const TORVVariant& v = Operand(0).GetDataValue();
  if (v.IsNull()) {
    SetNullResult(Value, v.DataType());
    return;
  }
  TORVVarValue var = v.IsStringDataType() ? TORVVarValue::Float(varDouble, v.GetDataAsDouble()) : v.GetDataAsVariant();
  if (auto* i = std::get_if<int64_t>(&var.Value)) {
    if (*i < 0) {
      if (*i == std::numeric_limits<int64_t>::min()) throw std::overflow_error("Integer overflow");
      *i = -*i;
      // The magnitude of the smallest integer of a width needs the next wider one.
      if (var.VType == varShortInt && *i > 127) var.VType = varSmallint;
      if (var.VType == varSmallint && *i > 32767) var.VType = varInteger;
      if (var.VType == varInteger && *i > 2147483647) var.VType = varInt64;
    }
  } else if (auto* d = std::get_if<double>(&var.Value)) {
    *d = std::fabs(*d);
  }
  Value.Clear(bftUnknown);
  Value.SetDataAsVariant(var);
}

void TORVExprNodeArithmetic::MathFunction(double (*Function)(double)) {
  const double x = Operand(0).GetDataValue().GetDataAsDouble();
  SetDoubleResult(Value, CheckedResult(x, Function(x), MathName(Operator)));
}

void TORVExprNodeArithmetic::GetROUNDValue() {
  const double x = Operand(0).GetDataValue().GetDataAsDouble();
  if (ChildCount() == 1) {
    SetInt32Result(Value, ToInt32OrOverflow(DecimalRoundDbl(x, 0, drHalfEven)));
    return;
  }
  const int32_t n = Operand(1).GetDataValue().GetDataAsSignedInt32();
  tDecimalRoundingCtrl mode = drHalfEven;
  if (ChildCount() > 2) {
    const int32_t word = Operand(2).GetDataValue().GetDataAsSignedInt32();
    switch (word) {
      case rwHALFEVEN: mode = drHalfEven; break;
      case rwHALFPOS: mode = drHalfPos; break;
      case rwHALFNEG: mode = drHalfNeg; break;
      case rwHALFDOWN: mode = drHalfDown; break;
      case rwHALFUP: mode = drHalfUp; break;
      case rwRNDNEG: mode = drRndNeg; break;
      case rwRNDPOS: mode = drRndPos; break;
      case rwRNDDOWN: mode = drRndDown; break;
      case rwRNDUP: mode = drRndUp; break;
      default: {
        const std::string name = word >= 0 && word <= ORVMaxSQLReservedWords
                                     ? std::string(ORVSQLReservedWords[static_cast<size_t>(word)])
                                     : std::to_string(word);
        throw EORVException(30621, "Unknown rounding mode '%s' in function ROUND", {name});
      }
    }
  }
  SetDoubleResult(Value, static_cast<double>(DecimalRoundDbl(x, n, mode)));
}

// ---- Types ----------------------------------------------------------------------------------

TORVAdvancedFieldType TORVExprNodeArithmetic::GetDataType() {
  switch (Operator) {
    case doABS:
    case doSQR: return Operand(0).GetDataType();
    case doCEIL:
    case doFLOOR:
    case doRAND:
    case doSIGN: return aftInteger;
    case doROUND: return ChildCount() == 1 ? aftInteger : aftDouble;
    case doACOS:
    case doASIN:
    case doATAN:
    case doCOS:
    case doEXP:
    case doLOG:
    case doPOWER:
    case doSIN:
    case doSQRT: return aftDouble;
    default: return TORVExprNode::GetDataType();
  }
}

}  // namespace orv

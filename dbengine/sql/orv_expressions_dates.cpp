// The date functions of expressions: the current date and time (from the process clock, so
// that tests can hold it still), TODATE, TOSTRING and EXTRACT.
#include <cmath>

#include "dbengine/sql/orv_expressions_functions.h"
#include "dbengine/sql/orv_expressions_results.h"
#include "dbengine/storage/orv_except.h"
#include "platform/base/clock.h"
#include "platform/base/datetime.h"

namespace orv {

TORVExprNodeDateFunction::TORVExprNodeDateFunction(TORVDataOperator Op) : TORVExprNode(Op, true, false) {}

TORVExprNodeDateFunction::TORVExprNodeDateFunction(TORVDataOperator Op, TORVExprNodePtr Node,
                                                   const std::string& FormatStr)
    : TORVExprNode(Op, std::move(Node), true, false), DateFormater(std::make_unique<TDateFormater>(FormatStr)) {}

TORVExprNodeDateFunction::TORVExprNodeDateFunction(TORVDataOperator Op, TORVDateTimeExtractField ExtractField,
                                                   TORVExprNodePtr ExtractSource)
    : TORVExprNode(Op, std::move(ExtractSource), true, false), ExtractDateTimeField(ExtractField) {}

TORVVariant& TORVExprNodeDateFunction::GetDataValue() {
  switch (Operator) {
    case doSYSDATE:
      Value.Clear(bftDateTime);
      Value.SetDataAsTDateTime(platform::GetClock().Now());
      break;
    case doCURRENT_DATE:
      Value.Clear(bftDate);
      Value.SetDataAsTDate(std::trunc(platform::GetClock().Now()));
      break;
    case doCURRENT_TIME: {
      const TDateTime now = platform::GetClock().Now();
      Value.Clear(bftTime);
      Value.SetDataAsTTime(now - std::trunc(now));
      break;
    }
    case doTODATE: ToDate(); break;
    case doTOSTRING: ToString(); break;
    case doEXTRACT: Extract(); break;
    default: throw EORVException(30130, "Unknown operator: '%s'", {GetOperatorName(Operator)});
  }
  return Value;
}

void TORVExprNodeDateFunction::ToDate() {
  SetNullResult(Value, bftDateTime);
  const TORVVariant& v = Operand(0).GetDataValue();
  if (v.IsNull()) return;
  const TDateTime d = DateFormater->ToDate(v.GetDataAsAnsiString());
  // A text with a date and no time gives a date, one with a time and no date a time; 0 itself
  // (no date, no time) is the date 1899-12-30.
  const double whole = std::trunc(d);
  const double fraction = d - whole;
  if (fraction == 0) {
    Value.Clear(bftDate);
    Value.SetDataAsTDate(d);
  } else if (whole == 0) {
    Value.Clear(bftTime);
    Value.SetDataAsTTime(d);
  } else {
    Value.Clear(bftDateTime);
    Value.SetDataAsTDateTime(d);
  }
}

void TORVExprNodeDateFunction::ToString() {
  SetNullResult(Value, bftVarchar);
  const TORVVariant& v = Operand(0).GetDataValue();
  if (v.IsNull()) return;
  Value.SetDataAsAnsiString(DateFormater->ToString(v.GetDataAsTDateTime()));
}

void TORVExprNodeDateFunction::Extract() {
  SetNullResult(Value, bftUnsignedInt16);
  const TORVVariant& v = Operand(0).GetDataValue();
  if (v.IsNull()) return;
  int part = 0;
  switch (ExtractDateTimeField) {
    case dtefHour:
    case dtefMinute:
    case dtefSecond: {
      int hour = 0, minute = 0, second = 0, msec = 0;
      platform::DecodeTime(v.GetDataAsTTime(), hour, minute, second, msec);
      part = ExtractDateTimeField == dtefHour ? hour : ExtractDateTimeField == dtefMinute ? minute : second;
      break;
    }
    default: {
      int year = 0, month = 0, day = 0;
      platform::DecodeDate(v.GetDataAsTDate(), year, month, day);
      part = ExtractDateTimeField == dtefYear ? year : ExtractDateTimeField == dtefMonth ? month : day;
      break;
    }
  }
  Value.SetDataAsUnsignedInt16(static_cast<uint16_t>(part));
}

TORVAdvancedFieldType TORVExprNodeDateFunction::GetDataType() {
  switch (Operator) {
    case doSYSDATE: return aftDateTime;
    case doCURRENT_DATE: return aftDate;
    case doCURRENT_TIME: return aftTime;
    case doTODATE: return DateFormater->GetDataType();
    case doTOSTRING: return aftString;
    case doEXTRACT: return aftWord;
    default: throw EORVException(30287, "Unknown operator: '%s'", {GetOperatorName(Operator)});
  }
}

int32_t TORVExprNodeDateFunction::GetDataSize() {
  return Operator == doTOSTRING ? DateFormater->GetStringMaxSize() : 0;
}

}  // namespace orv

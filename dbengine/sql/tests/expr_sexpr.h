#pragma once
// Expression trees written as S-expressions, so that a test states the whole shape the parser
// built in one line: (AND (= Age 5) (<>[2v] Name 'abc')).
//   constants   5 (32-bit), 5L (64-bit), 1.5, 'text' (8-bit), N'text' (wide), TRUE, DATE'2024-01-31',
//               TIME'10:00:00', TIMESTAMP'2024-01-31 10:00:00', NULL (integer), NULL:<type>
//   fields      Name, T.Name
//   comparisons (op[flags] left right): flags 2v (two-valued), p (partial), ci (without case);
//               quantified (op ALL|ANY left subquery)
//   Boolean     AND OR NOT IN NOT-IN EXISTS BETWEEN NOT-BETWEEN IS-NULL IS-NOT-NULL, LIKE and
//               NOT-LIKE with [ci] and [esc=c]
//   functions   (+ ...) (- x) (* a b) (/ a b) (|| ...) (UPPER x) (CAST x TYPE [size])
//               (COALESCE ...) (CASE [input] (WHEN w r) ... (ELSE e)) (COUNT *) (SUM DISTINCT x)
//               (EXTRACT YEAR x) (TODATE x 'fmt') SYSDATE ROWNUM (MIMETOBIN 'x') ...
//   anything else (a subquery double) is written (SELECT).
#include <cstdio>
#include <string>

#include "dbengine/sql/orv_expressions_aggregates.h"
#include "dbengine/sql/orv_expressions_functions.h"
#include "dbengine/sql/orv_expressions_nodes.h"
#include "dbengine/storage/orv_converts.h"
#include "platform/base/cp1252.h"

namespace orv::testing {

inline std::string OperatorText(TORVDataOperator op) {
  switch (op) {
    case doNOTIN: return "NOT-IN";
    case doNOTBETWEEN: return "NOT-BETWEEN";
    case doNOTLIKE: return "NOT-LIKE";
    case doISNULL: return "IS-NULL";
    case doISNOTNULL: return "IS-NOT-NULL";
    case doIN: return "IN";
    case doEXISTS: return "EXISTS";
    case doBETWEEN: return "BETWEEN";
    case doPOS: return "POS";
    case doMIMETOBIN: return "MIMETOBIN";
    case doLENGTH: return "LENGTH";
    case doSUBSTRING: return "SUBSTRING";
    case doABS: return "ABS";
    case doACOS: return "ACOS";
    case doASIN: return "ASIN";
    case doATAN: return "ATAN";
    case doCEIL: return "CEIL";
    case doCOS: return "COS";
    case doEXP: return "EXP";
    case doFLOOR: return "FLOOR";
    case doLOG: return "LOG";
    case doPOWER: return "POWER";
    case doRAND: return "RAND";
    case doROUND: return "ROUND";
    case doSIGN: return "SIGN";
    case doSIN: return "SIN";
    case doSQR: return "SQR";
    case doSQRT: return "SQRT";
    default: return GetOperatorName(op);
  }
}

inline std::string ConstText(const TORVVariant& v) {
  const TORVBaseFieldType t = v.DataType();
  if (v.IsNull()) return t == bftSignedInt32 ? "NULL" : "NULL:" + BftToStr(t);
  char buffer[64];
  switch (t) {
    case bftSignedInt32: return std::to_string(v.GetDataAsSignedInt32());
    case bftSignedInt64: return std::to_string(v.GetDataAsSignedInt64()) + "L";
    case bftDouble:
      std::snprintf(buffer, sizeof buffer, "%.15g", v.GetDataAsDouble());
      return buffer;
    case bftLogical: return v.GetDataAsBoolean() ? "TRUE" : "FALSE";
    case bftDate: return "DATE'" + DateToEngineText(v.GetDataAsTDate()) + "'";
    case bftTime: return "TIME'" + TimeToEngineText(v.GetDataAsTTime()) + "'";
    case bftDateTime: return "TIMESTAMP'" + DateTimeToEngineText(v.GetDataAsTDateTime()) + "'";
    default: break;
  }
  if (v.IsWideStringDataType()) return "N'" + platform::Utf16ToUtf8(v.GetDataAsWideString()) + "'";
  if (v.IsStringDataType()) return "'" + platform::Cp1252ToUtf8(v.GetDataAsAnsiString()) + "'";
  return BftToStr(t) + ":" + platform::Cp1252ToUtf8(v.GetDataAsAnsiString());
}

inline std::string SExpr(const TORVExprNode* n);

inline std::string Children(const TORVExprNode* n, int32_t from = 0) {
  std::string s;
  for (int32_t i = from; i < n->ChildCount(); ++i) s += " " + SExpr(n->Child(i));
  return s;
}

inline std::string Flags(std::initializer_list<std::pair<bool, const char*>> flags) {
  std::string s;
  for (const auto& [on, name] : flags)
    if (on) s += (s.empty() ? "" : ",") + std::string(name);
  return s.empty() ? s : "[" + s + "]";
}

inline std::string SExpr(const TORVExprNode* n) {
  if (!n) return "nil";
  if (auto* c = dynamic_cast<const TORVExprNodeConst*>(n)) return ConstText(c->Value);
  if (auto* f = dynamic_cast<const TORVExprNodeField*>(n))
    return f->FTableName.empty() ? f->FFieldName : f->FTableName + "." + f->FFieldName;
  if (auto* c = dynamic_cast<const TORVExprNodeComparison*>(n)) {
    std::string head = GetOperatorName(c->Operator) +
                       Flags({{!c->F3ValueLogic, "2v"}, {c->FPartialKey, "p"}, {c->FCaseInsensitive, "ci"}});
    if (c->FQuantifier != qUNDEFINED) head += c->FQuantifier == qALL ? " ALL" : " ANY";
    return "(" + head + Children(c) + ")";
  }
  if (auto* b = dynamic_cast<const TORVExprNodeBoolean*>(n)) {
    std::string head = OperatorText(b->Operator);
    if (b->Operator == doLIKE || b->Operator == doNOTLIKE)
      head += Flags({{b->FCaseInsensitive, "ci"}, {!b->EscapeStr.empty(), ("esc=" + b->EscapeStr).c_str()}});
    return "(" + head + Children(b) + ")";
  }
  if (auto* d = dynamic_cast<const TORVExprNodeDateFunction*>(n)) {
    switch (d->Operator) {
      case doSYSDATE: return "SYSDATE";
      case doCURRENT_DATE: return "CURRENT_DATE";
      case doCURRENT_TIME: return "CURRENT_TIME";
      case doEXTRACT: {
        static const char* parts[] = {"YEAR", "MONTH", "DAY", "HOUR", "MINUTE", "SECOND"};
        return std::string("(EXTRACT ") + parts[d->ExtractDateTimeField] + Children(d) + ")";
      }
      default: {
        std::string format;
        if (d->DateFormater)
          for (const TDateFormatToken& t : d->DateFormater->Tokens()) format += t.Text;
        return std::string(d->Operator == doTODATE ? "(TODATE" : "(TOSTRING") + Children(d) + " '" + format + "')";
      }
    }
  }
  if (auto* c = dynamic_cast<const TORVExprNodeCast*>(n))
    return "(CAST " + SExpr(c->Child(0)) + " " + AftToStr(c->FCastType) +
           (c->LCastSizeNode ? " " + SExpr(c->LCastSizeNode) : std::string()) + ")";
  if (auto* c = dynamic_cast<const TORVExprNodeCase*>(n)) {
    if (c->FIsCoalesceExpression) return "(COALESCE" + Children(c) + ")";
    std::string s = "(CASE";
    if (c->FInputExpression) s += " " + SExpr(c->FInputExpression);
    for (size_t i = 0; i < c->FWhenExpressions.size(); ++i)
      s += " (WHEN " + SExpr(c->FWhenExpressions[i]) + " " +
           (i < c->FResultExpressions.size() ? SExpr(c->FResultExpressions[i]) : "nil") + ")";
    if (c->FElseResultExpression) s += " (ELSE " + SExpr(c->FElseResultExpression) + ")";
    return s + ")";
  }
  if (auto* s = dynamic_cast<const TORVExprNodeSystem*>(n))
    return s->Operator == doROWNUM ? "ROWNUM" : "(LASTAUTOINC " + s->FTableName + " " + s->FColumnName + ")";
  if (auto* a = dynamic_cast<const TORVExprNodeAggregated*>(n)) {
    if (a->Operator == doCOUNTALL) return "(COUNT *)";
    return "(" + GetOperatorName(a->Operator) + (a->distinct ? " DISTINCT" : "") + Children(a) + ")";
  }
  if (dynamic_cast<const TORVExprNodeArithmetic*>(n) || dynamic_cast<const TORVExprNodeStringFunction*>(n) ||
      dynamic_cast<const TORVExprNodeBlob*>(n))
    return "(" + OperatorText(n->Operator) + Children(n) + ")";
  return "(SELECT)";
}

}  // namespace orv::testing

// The string functions of expressions. 8-bit texts stay 8-bit and wide texts wide; case
// mapping goes through the engine's case tables, so UPPER agrees with the case-insensitive
// comparisons and indexes.
#include <algorithm>
#include <string>

#include "dbengine/sql/orv_expressions_functions.h"
#include "dbengine/sql/orv_expressions_results.h"
#include "dbengine/storage/orv_const.h"
#include "dbengine/storage/orv_converts.h"
#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_str_utils.h"
#include "dbengine/storage/orv_variant_buffer.h"

namespace orv {

namespace {

template <class Text>
Text Trimmed(const Text& s, bool left, bool right) {
  size_t begin = 0, end = s.size();
  if (left)
    while (begin < end && static_cast<uint32_t>(s[begin]) <= ' ') ++begin;
  if (right)
    while (end > begin && static_cast<uint32_t>(s[end - 1]) <= ' ') --end;
  return s.substr(begin, end - begin);
}

// Characters of a text value (the text may be shorter than its buffer: a field of a record).
int32_t TextLength(const TORVVariant& v) {
  if (v.IsNull()) return 0;
  if (v.IsWideStringDataType()) return value_buffer::TextLength<char16_t>(v.pData(), v.DataSize());
  if (v.IsStringDataType()) return value_buffer::TextLength<char>(v.pData(), v.DataSize());
  return static_cast<int32_t>(v.GetDataAsAnsiString().size());
}

// Count characters from the 1-based Start; a start below 1 counts as 1, a negative count takes
// nothing.
template <class Text>
Text Cut(const Text& s, int64_t Start, int64_t Count) {
  const int64_t from = std::max<int64_t>(Start, 1) - 1;
  if (Count <= 0 || from >= static_cast<int64_t>(s.size())) return Text();
  return s.substr(static_cast<size_t>(from), static_cast<size_t>(std::min<int64_t>(Count, static_cast<int64_t>(s.size()) - from)));
}

}  // namespace

bool TORVExprNodeStringFunction::InitStringValue() {
  Value.Assign(Operand(0).GetDataValue(), true);
  if (!Value.IsStringDataType()) Value.Cast(bftVarchar);
  return !Value.IsNull();
}

TORVVariant& TORVExprNodeStringFunction::GetDataValue() {
  switch (Operator) {
    case doCONCAT: Concat(); break;
    case doUPPER:
    case doLOWER: CaseMap(); break;
    case doTRIM:
    case doLTRIM:
    case doRTRIM: Trim(); break;
    case doLENGTH: Length(); break;
    case doPOS: Pos(); break;
    case doSUBSTRING: Substring(); break;
    default: throw EORVException(30131, "Unknown operator: '%s'", {GetOperatorName(Operator)});
  }
  return Value;
}

void TORVExprNodeStringFunction::Concat() {
  // A NULL operand counts as the empty text (TORVVariant.Add keeps a text beside NULL).
  InitStringValue();
  for (int32_t i = 1; i < ChildCount(); ++i) Value.Add(Operand(i).GetDataValue());
}

void TORVExprNodeStringFunction::CaseMap() {
  if (!InitStringValue()) return;
  const bool upper = Operator == doUPPER;
  if (Value.IsWideStringDataType()) {
    const std::u16string s = Value.GetDataAsWideString();
    Value.SetDataAsWideString(upper ? WideUpperCase(s) : WideLowerCase(s));
  } else {
    const std::string s = Value.GetDataAsAnsiString();
    Value.SetDataAsAnsiString(upper ? AnsiUpperCase(s) : AnsiLowerCase(s));
  }
}

void TORVExprNodeStringFunction::Trim() {
  if (!InitStringValue()) return;
  const bool left = Operator != doRTRIM, right = Operator != doLTRIM;
  if (Value.IsWideStringDataType())
    Value.SetDataAsWideString(Trimmed(Value.GetDataAsWideString(), left, right));
  else
    Value.SetDataAsAnsiString(Trimmed(Value.GetDataAsAnsiString(), left, right));
}

void TORVExprNodeStringFunction::Length() {
  // The length of NULL, like that of the empty text, is 0.
  SetInt32Result(Value, TextLength(Operand(0).GetDataValue()));
}

void TORVExprNodeStringFunction::Pos() {
  const TORVVariant& sub = Operand(0).GetDataValue();
  const TORVVariant& text = Operand(1).GetDataValue();
  size_t found = std::string::npos;
  if (sub.IsWideStringDataType() || text.IsWideStringDataType()) {
    const std::u16string s = sub.GetDataAsWideString(), t = text.GetDataAsWideString();
    if (!s.empty()) found = t.find(s);
  } else {
    const std::string s = sub.GetDataAsAnsiString(), t = text.GetDataAsAnsiString();
    if (!s.empty()) found = t.find(s);
  }
  SetInt32Result(Value, found == std::string::npos ? 0 : static_cast<int32_t>(found) + 1);
}

void TORVExprNodeStringFunction::Substring() {
  const int32_t start = Operand(1).GetDataValue().GetDataAsSignedInt32();
  const int64_t count =
      ChildCount() > 2 ? Operand(2).GetDataValue().GetDataAsSignedInt32() : TextLength(Operand(0).GetDataValue());
  if (!InitStringValue()) return;
  if (Value.IsWideStringDataType())
    Value.SetDataAsWideString(Cut(Value.GetDataAsWideString(), start, count));
  else
    Value.SetDataAsAnsiString(Cut(Value.GetDataAsAnsiString(), start, count));
}

// ---- Types and sizes ------------------------------------------------------------------------

TORVAdvancedFieldType TORVExprNodeStringFunction::GetDataType() {
  switch (Operator) {
    case doUPPER:
    case doLOWER:
    case doTRIM:
    case doLTRIM:
    case doRTRIM:
    case doSUBSTRING: {
      const TORVAdvancedFieldType t = Operand(0).GetDataType();
      if (IsStringFieldType(t)) return t;
      const TORVBaseFieldType base = AdvancedFieldTypeToBaseFieldType(t);
      if (base == bftClob) return aftString;
      if (base == bftWideClob) return aftWideString;
      return t;
    }
    case doLENGTH:
    case doPOS: return aftInteger;
    default: return TORVExprNode::GetDataType();
  }
}

int32_t TORVExprNodeStringFunction::GetDataSize() {
  switch (Operator) {
    case doCONCAT: {
      // Every operand becomes a text of the result's type; the CAST nodes stay in the tree.
      const TORVAdvancedFieldType t = GetDataType();
      std::vector<TORVExprNode*> operands;
      for (auto& c : Children) operands.push_back(c.get());
      int32_t size = 0;
      for (TORVExprNode* c : operands) {
        if (!c) continue;
        if (c->GetDataType() != t && !dynamic_cast<TORVExprNodeCast*>(c)) c = WrapChildInCast(c, t);
        size += c->GetDataSize();
      }
      return size;
    }
    case doUPPER:
    case doLOWER:
    case doTRIM:
    case doLTRIM:
    case doRTRIM: return Operand(0).GetDataSize();
    case doSUBSTRING: {
      const int32_t size = Operand(0).GetDataSize();
      if (size != 0 || !IsStringFieldType(GetDataType())) return size;
      if (ChildCount() > 2) return std::max(Operand(2).GetDataValue().GetDataAsSignedInt32(), 0);
      return DEFAULT_BLOB_TO_STRING_FIELD_SIZE;
    }
    default: return 0;
  }
}

}  // namespace orv

// CAST, CASE and COALESCE.
#include <algorithm>

#include "dbengine/sql/orv_expressions_functions.h"
#include "dbengine/sql/orv_expressions_results.h"
#include "dbengine/storage/orv_const.h"
#include "dbengine/storage/orv_converts.h"
#include "dbengine/storage/orv_except.h"

namespace orv {

namespace {

bool IsCastStringTarget(TORVAdvancedFieldType t) {
  return t == aftChar || t == aftString || t == aftWideChar || t == aftWideString || t == aftGuid;
}

}  // namespace

// ---- CAST -----------------------------------------------------------------------------------

TORVExprNodeCast::TORVExprNodeCast(TORVExprNodePtr Node, TORVAdvancedFieldType CastType, TORVExprNodePtr CastSizeNode)
    : TORVExprNode(doCAST, std::move(Node), true, false), FCastType(CastType) {
  if (CastSizeNode) {
    LCastSizeNode = CastSizeNode.get();
    AddChild(std::move(CastSizeNode));
  }
}

int32_t TORVExprNodeCast::CastSize() {
  return LCastSizeNode ? LCastSizeNode->GetDataValue().GetDataAsSignedInt32() : DEFAULT_BLOB_TO_STRING_FIELD_SIZE;
}

TORVVariant& TORVExprNodeCast::GetDataValue() {
  Value.Assign(Operand(0).GetDataValue(), true);
  Value.Cast(AdvancedFieldTypeToBaseFieldType(FCastType));
  if (!IsCastStringTarget(FCastType) || Value.IsNull()) return Value;
  // A text longer than the size keeps its first characters; a negative size keeps none.
  const int32_t size = std::max(CastSize(), 0);
  if (Value.IsWideStringDataType()) {
    const std::u16string s = Value.GetDataAsWideString();
    if (static_cast<int64_t>(s.size()) > size) Value.SetDataAsWideString(s.substr(0, static_cast<size_t>(size)));
  } else {
    const std::string s = Value.GetDataAsAnsiString();
    if (static_cast<int64_t>(s.size()) > size) Value.SetDataAsAnsiString(s.substr(0, static_cast<size_t>(size)));
  }
  return Value;
}

int32_t TORVExprNodeCast::GetDataSize() {
  if (LCastSizeNode) return std::max(CastSize(), 0);
  if (!IsCastStringTarget(FCastType)) return 0;
  const TORVAdvancedFieldType operand = Operand(0).GetDataType();
  switch (operand) {
    case aftChar:
    case aftString:
    case aftWideChar:
    case aftWideString:
    case aftBytes:
    case aftVarBytes:
    case aftBlob:
    case aftGraphic: return Operand(0).GetDataSize();
    case aftShortint:
    case aftAutoIncShortint: return 4;
    case aftSmallint:
    case aftAutoIncSmallint: return 6;
    case aftInteger:
    case aftAutoInc:
    case aftAutoIncInteger: return 11;
    case aftLargeint:
    case aftAutoIncLargeint: return 20;
    case aftByte:
    case aftAutoIncByte: return 3;
    case aftWord:
    case aftAutoIncWord:
    case aftBoolean: return 5;
    case aftCardinal:
    case aftAutoIncCardinal: return 10;
    case aftSingle:
    case aftDouble:
    case aftExtended:
    case aftDate:
    case aftTime:
    case aftDateTime:
    case aftTimeStamp: return 26;
    case aftCurrency: return 21;
    case aftMemo:
    case aftFormattedMemo:
    case aftWideMemo: return DEFAULT_BLOB_TO_STRING_FIELD_SIZE;
    case aftGuid: return 38;
    default: throw EORVException(30466, "Unsupported data type '%s'", {AftToStr(operand)});
  }
}

// ---- CASE and COALESCE ----------------------------------------------------------------------

TORVExprNodeCase::TORVExprNodeCase() : TORVExprNode(doUNDEFINED, true, false) {}

std::unique_ptr<TORVExprNodeCase> TORVExprNodeCase::CreateSimpleCase(TORVExprNodePtr InputExpression) {
  std::unique_ptr<TORVExprNodeCase> node(new TORVExprNodeCase());
  node->FInputExpression = InputExpression.get();
  node->AddChild(std::move(InputExpression));
  return node;
}

std::unique_ptr<TORVExprNodeCase> TORVExprNodeCase::CreateSearchedCase() {
  return std::unique_ptr<TORVExprNodeCase>(new TORVExprNodeCase());
}

std::unique_ptr<TORVExprNodeCase> TORVExprNodeCase::CreateCoalesce(std::vector<TORVExprNodePtr> Nodes) {
  std::unique_ptr<TORVExprNodeCase> node(new TORVExprNodeCase());
  node->FIsCoalesceExpression = true;
  for (auto& n : Nodes) {
    node->FCoalesceNodes.push_back(n.get());
    node->AddChild(std::move(n));
  }
  return node;
}

void TORVExprNodeCase::AddWhenExpression(TORVExprNodePtr Node) {
  FWhenExpressions.push_back(Node.get());
  AddChild(std::move(Node));
}

void TORVExprNodeCase::AddResultExpression(TORVExprNodePtr Node) {
  FResultExpressions.push_back(Node.get());
  AddChild(std::move(Node));
}

void TORVExprNodeCase::SetElseResultExpression(TORVExprNodePtr Node) {
  FElseResultExpression = Node.get();
  AddChild(std::move(Node));
}

TORVExprNode* TORVExprNodeCase::Selected() {
  if (FIsCoalesceExpression) {
    for (TORVExprNode* n : FCoalesceNodes)
      if (!n->GetDataValue().IsNull()) return n;
    return nullptr;
  }
  const size_t branches = std::min(FWhenExpressions.size(), FResultExpressions.size());
  if (FInputExpression) {
    // Two-valued: a NULL input matches a NULL WHEN value.
    const TORVVariant& input = FInputExpression->GetDataValue();
    for (size_t i = 0; i < branches; ++i)
      if (input.Compare(FWhenExpressions[i]->GetDataValue(), false, true, false) == cmprEqual)
        return FResultExpressions[i];
  } else {
    // A condition that is NULL is not true: the next WHEN is tried.
    for (size_t i = 0; i < branches; ++i) {
      const TORVVariant& condition = FWhenExpressions[i]->GetDataValue();
      if (!condition.IsNull() && condition.GetDataAsBoolean()) return FResultExpressions[i];
    }
  }
  return FElseResultExpression;
}

TORVVariant& TORVExprNodeCase::GetDataValue() {
  TORVExprNode* selected = Selected();
  if (!selected) {
    Value.Clear(Value.DataType());
    return Value;
  }
  // Linked, not copied: the branch's value object holds the result.
  Value.Assign(selected->GetDataValue(), false);
  return Value;
}

TORVAdvancedFieldType TORVExprNodeCase::GetDataType() {
  const std::vector<TORVExprNode*>& values = FIsCoalesceExpression ? FCoalesceNodes : FResultExpressions;
  TORVAdvancedFieldType t = aftUnknown;
  for (size_t i = 0; i < values.size(); ++i)
    t = i == 0 ? values[i]->GetDataType() : GetCommonDataType(t, values[i]->GetDataType(), false);
  if (!FIsCoalesceExpression && FElseResultExpression && !values.empty())
    t = GetCommonDataType(t, FElseResultExpression->GetDataType(), false);
  return t;
}

int32_t TORVExprNodeCase::GetDataSize() {
  const TORVAdvancedFieldType t = GetDataType();
  int32_t size = 0;
  const auto fit = [&](TORVExprNode*& node) {
    if (!node) return;
    if (node->GetDataType() != t && !dynamic_cast<TORVExprNodeCast*>(node)) node = WrapChildInCast(node, t);
    size = std::max(size, node->GetDataSize());
  };
  if (FIsCoalesceExpression) {
    for (TORVExprNode*& n : FCoalesceNodes) fit(n);
  } else {
    for (TORVExprNode*& n : FResultExpressions) fit(n);
    fit(FElseResultExpression);
  }
  return size;
}

}  // namespace orv

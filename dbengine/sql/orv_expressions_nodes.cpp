#include "dbengine/sql/orv_expressions_nodes.h"

#include <algorithm>
#include <cstring>

#include "dbengine/sql/orv_expressions_functions.h"
#include "dbengine/sql/orv_expressions_results.h"
#include "dbengine/storage/orv_converts.h"
#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_memory.h"
#include "dbengine/storage/orv_str_utils.h"
#include "dbengine/storage/orv_variant_buffer.h"
#include "platform/base/cp1252.h"

namespace orv {

// ---- TORVExprNode ---------------------------------------------------------------------------

TORVExprNode::TORVExprNode(bool CaseInsensitive, bool PartialKey)
    : FCaseInsensitive(CaseInsensitive), FPartialKey(PartialKey) {}

TORVExprNode::TORVExprNode(TORVDataOperator Op, bool CaseInsensitive, bool PartialKey)
    : Operator(Op), FCaseInsensitive(CaseInsensitive), FPartialKey(PartialKey) {}

TORVExprNode::TORVExprNode(TORVDataOperator Op, TORVExprNodePtr Node, bool CaseInsensitive, bool PartialKey)
    : TORVExprNode(Op, CaseInsensitive, PartialKey) {
  AddChild(std::move(Node));
}

TORVExprNode::TORVExprNode(TORVDataOperator Op, TORVExprNodePtr Node1, TORVExprNodePtr Node2, bool CaseInsensitive,
                           bool PartialKey)
    : TORVExprNode(Op, CaseInsensitive, PartialKey) {
  AddChild(std::move(Node1));
  AddChild(std::move(Node2));
}

TORVExprNode::TORVExprNode(TORVDataOperator Op, TORVExprNodePtr Node1, TORVExprNodePtr Node2, TORVExprNodePtr Node3,
                           bool CaseInsensitive, bool PartialKey)
    : TORVExprNode(Op, CaseInsensitive, PartialKey) {
  AddChild(std::move(Node1));
  AddChild(std::move(Node2));
  AddChild(std::move(Node3));
}

TORVExprNode::~TORVExprNode() = default;

TORVExprNode& TORVExprNode::Operand(int32_t i) const {
  TORVExprNode* node = Child(i);
  if (!node) throw EORVException(30625, "Operand %d of operator '%s' is missing", {i + 1, GetOperatorName(Operator)});
  return *node;
}

void TORVExprNode::PatchWideStrings() {
  for (auto& c : Children)
    if (c) c->PatchWideStrings();
}

void TORVExprNode::ResetSubqueryFieldValues() {}
TORVVariant* TORVExprNode::GetSubqueryFieldValue(int32_t /*FieldNo*/) { return nullptr; }

bool TORVExprNode::IsAggregated() {
  return std::any_of(Children.begin(), Children.end(), [](const TORVExprNodePtr& c) { return c && c->IsAggregated(); });
}

bool TORVExprNode::IsAggregatedCountAll() { return false; }

void TORVExprNode::Init() {
  for (auto& c : Children)
    if (c) c->Init();
}

void TORVExprNode::Accumulate() {
  for (auto& c : Children)
    if (c) c->Accumulate();
}

void TORVExprNode::SetCountAll(int32_t /*RecordCount*/) {}

void TORVExprNode::AssignAO(IORVAO* AO, IORVAO* ParentQueryAO, TORVCursor* ParentCursor) {
  for (auto& c : Children)
    if (c) c->AssignAO(AO, ParentQueryAO, ParentCursor);
}

void TORVExprNode::AssignCursor(TORVCursor* Cursor, IORVAO* ParentQueryAO, TORVCursor* ParentCursor) {
  for (auto& c : Children)
    if (c) c->AssignCursor(Cursor, ParentQueryAO, ParentCursor);
}

void TORVExprNode::AssignCursorBuffer(const void* Buffer, bool ApplyToParentQueryFields) {
  for (auto& c : Children)
    if (c) c->AssignCursorBuffer(Buffer, ApplyToParentQueryFields);
}

TORVAdvancedFieldType TORVExprNode::GetDataType() {
  TORVAdvancedFieldType result = aftUnknown;
  bool first = true;
  for (auto& c : Children) {
    if (!c) continue;
    const TORVAdvancedFieldType t = c->GetDataType();
    result = first ? t : GetCommonDataType(result, t, false);
    first = false;
  }
  if (result == aftUnknown) throw EORVException(30283, "Cannot determine expression type");
  return result;
}

int32_t TORVExprNode::GetDataSize() {
  if (!IsStringFieldType(AdvancedFieldTypeToBaseFieldType(GetDataType()))) return 0;
  if (Operator != doADD && Operator != doCONCAT && Operator != doCAST) return 0;
  int32_t size = 0;
  for (auto& c : Children)
    if (c) size += c->GetDataSize();
  return size;
}

int32_t TORVExprNode::GetPrecision() { return 0; }

bool TORVExprNode::CanBeAssigned(IORVAO* AO, IORVAO* ParentQueryAO, TORVCursor* ParentCursor, bool ForHavingClause) {
  for (auto& c : Children)
    if (c && !c->CanBeAssigned(AO, ParentQueryAO, ParentCursor, ForHavingClause)) return false;
  return true;
}

bool TORVExprNode::CanUseIndex(int32_t, TORVSearchCondition, const TORVIndexDef*, int32_t) { return false; }
void TORVExprNode::AddAsIndexScanCondition(TORVScanSearchConditionArray&, const TORVIndexDef*, TORVExpression*) {}
void TORVExprNode::ExtendIndexScanCondition(TORVScanSearchCondition&, const TORVIndexDef*, TORVExpression*) {}
bool TORVExprNode::IsJoinCondition(IORVAO*, IORVAO*) { return false; }

void TORVExprNode::ReplacePseudonyms(const std::vector<TORVSelectListItem>& SelectList) {
  for (auto& c : Children)
    if (c) c->ReplacePseudonyms(SelectList);
}

bool TORVExprNode::CanBeUsedInGroupBy(const std::string& GroupByFields) {
  for (auto& c : Children)
    if (c && !c->CanBeUsedInGroupBy(GroupByFields)) return false;
  return true;
}

TORVExprNode* TORVExprNode::WrapChildInCast(TORVExprNode* Node, TORVAdvancedFieldType DataType) {
  for (auto& c : Children) {
    if (c.get() != Node) continue;
    c = std::make_unique<TORVExprNodeCast>(std::move(c), DataType, nullptr);
    return c.get();
  }
  return Node;
}

// ---- Constants ------------------------------------------------------------------------------

TORVAdvancedFieldType TORVExprNodeConst::GetDataType() { return BaseFieldTypeToAdvancedFieldType(Value.DataType()); }

int32_t TORVExprNodeConst::GetDataSize() {
  if (Value.IsNull() || !Value.IsStringDataType()) return 0;
  return Value.IsWideStringDataType() ? 2 * Value.StrLen() : Value.StrLen();
}

bool TORVExprNodeConst::IsLikePatternEqualToPartialComparePattern() const {
  if (Value.IsNull() || !Value.IsStringDataType() || Value.StrLen() < 2) return false;
  if (Value.IsWideStringDataType()) {
    const std::u16string s = Value.GetDataAsWideString();
    return s.find(u'%') == s.size() - 1;
  }
  const std::string s = Value.GetDataAsAnsiString();
  return s.find('%') == s.size() - 1;
}

void TORVExprNodeConst::TruncateForPartialCompare() {
  if (Value.IsNull() || !Value.IsStringDataType()) return;
  if (Value.IsWideStringDataType()) {
    std::u16string s = Value.GetDataAsWideString();
    if (!s.empty()) s.pop_back();
    Value.SetDataAsWideString(s);
  } else {
    std::string s = Value.GetDataAsAnsiString();
    if (!s.empty()) s.pop_back();
    Value.SetDataAsAnsiString(s);
  }
}

namespace {

// Whether a text equals its upper-case (or lower-case) form in the engine's case mapping.
bool HasCase(const TORVVariant& v, bool upper) {
  if (v.IsNull() || !v.IsStringDataType()) return false;
  if (v.IsWideStringDataType()) {
    const std::u16string s = v.GetDataAsWideString();
    return s == (upper ? WideUpperCase(s) : WideLowerCase(s));
  }
  const std::string s = v.GetDataAsAnsiString();
  return s == (upper ? AnsiUpperCase(s) : AnsiLowerCase(s));
}

}  // namespace

bool TORVExprNodeConst::IsUpperCase() const { return HasCase(Value, true); }
bool TORVExprNodeConst::IsLowerCase() const { return HasCase(Value, false); }

// ---- Field references -----------------------------------------------------------------------

TORVExprNodeField::TORVExprNodeField(TORVCursor* Cursor, const std::string& FieldName, const std::string& TableName)
    : TORVExprNode(true, false), FTableName(TableName), FFieldName(FieldName) {
  if (Cursor) AssignCursor(Cursor, nullptr, nullptr);
}

TORVVariant& TORVExprNodeField::GetDataValue() {
  if (!LRecordBuffer) {
    Value.SetNull(Value.DataType());
    if (!LAO || FFieldNo == -1) throw EORVException(30196, "Dataset and AO not assigned");
    LAO->GetFieldValue(Value, FFieldNo, true, true);
    return Value;
  }
  const auto* record = static_cast<const uint8_t*>(LRecordBuffer);
  if (CheckNullFlag(FFieldNo, record)) {
    SetNullResult(Value, FBaseFieldType);
    return Value;
  }
  if (FBaseFieldType == bftClob || FBaseFieldType == bftWideClob) {
    ReadBlobText();
    return Value;
  }
  // Linked, not copied: the value is valid as long as the buffer holds this record.
  Value.SetData(record + FFieldOffsetInBuffer, FFieldSize, FBaseFieldType, false);
  return Value;
}

void TORVExprNodeField::ReadBlobText() {
  // The cursor opens BLOB streams on its current record; it is pointed at the record under
  // test only while the stream is created. The cursor owns the stream: closing the field's
  // BLOB releases it together with what the cursor cached for the record.
  void* saved = LCursor->FCurrentRecordBuffer;
  LCursor->FCurrentRecordBuffer = const_cast<void*>(LRecordBuffer);
  TORVStream* stream = nullptr;
  try {
    stream = LCursor->InternalCreateBlobStream(false, false, FFieldNo, bomRead, false);
  } catch (...) {
    LCursor->FCurrentRecordBuffer = saved;
    throw;
  }
  LCursor->FCurrentRecordBuffer = saved;
  std::string bytes;
  try {
    if (stream) {
      const int64_t size = stream->GetSize();
      stream->Seek(0, platform::soBeginning);
      bytes.resize(static_cast<size_t>(std::max<int64_t>(size, 0)));
      stream->ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    }
  } catch (...) {
    LCursor->InternalCloseBLOB(FFieldNo);
    throw;
  }
  LCursor->InternalCloseBLOB(FFieldNo);
  if (FBaseFieldType == bftClob) {
    Value.Clear(bftVarchar);
    Value.SetDataAsAnsiString(bytes);
  } else {
    std::u16string text(bytes.size() / 2, u'\0');
    value_buffer::CopyWide(text.data(), bytes.data(), static_cast<int32_t>(text.size()));
    Value.Clear(bftWideVarchar);
    Value.SetDataAsWideString(text);
  }
}

bool TORVExprNodeField::FindFieldInCursor(TORVCursor* Cursor, int32_t& FieldNo) const {
  FieldNo = -1;
  if (!Cursor || !Cursor->FFieldDefs) return false;
  const auto by_name = [&](const std::string& name) {
    if (name.empty()) return -1;
    int32_t no = Cursor->FFieldDefs->GetDefNumberByName(name);
    if (no == -1 && Cursor->FVisibleFieldDefs) {
      const int32_t visible = Cursor->FVisibleFieldDefs->GetDefNumberByName(name);
      if (visible != -1) no = Cursor->FVisibleFieldDefs->GetDef(visible)->FieldNoReference;
    }
    return no;
  };
  FieldNo = by_name(FFieldName);
  if (FieldNo == -1) FieldNo = by_name(FFieldNameInAO);
  return FieldNo != -1;
}

bool TORVExprNodeField::TryAssignAO(IORVAO* AOToAssign) {
  if (!AOToAssign) return false;
  TORVIntegerArray numbers(0, 100, 10);
  AOToAssign->FieldExists(FFieldName, FTableName, !FScanOnlyVisibleFieldsInAO, &numbers, true,
                          FScanOnlyVisibleFieldsInAO);
  if (numbers.ItemCount < 1) return false;
  FFieldNo = numbers[0];
  FFieldNameInAO = AOToAssign->GetFieldNameByColumnNo(FFieldNo);
  FFieldOffsetInBuffer = 0;
  FFieldType = AOToAssign->GetFieldType(FFieldNo);
  FBaseFieldType = AdvancedFieldTypeToBaseFieldType(FFieldType);
  FFieldSize = AOToAssign->GetFieldSize(FFieldNo);
  FFieldPrecision = AOToAssign->GetFieldPrecision(FFieldNo);
  return true;
}

void TORVExprNodeField::AssignCursor(TORVCursor* Cursor, IORVAO* ParentQueryAO, TORVCursor* ParentCursor) {
  if (!Cursor) throw EORVException(30202, "Value is Null");
  if (ParentQueryAO) LAO = nullptr;
  if (ParentCursor) LCursor = nullptr;
  int32_t no = -1;
  if (FGetFromParent) {
    if (FindFieldInCursor(ParentCursor, no)) {
      LCursor = ParentCursor;
    } else if (TryAssignAO(ParentQueryAO)) {
      // Read from the outer operator's row: no cursor buffer may stand in for it.
      LAO = ParentQueryAO;
      LCursor = nullptr;
      LRecordBuffer = nullptr;
      return;
    } else {
      return;  // the outer query binds it later
    }
  } else {
    LAO = nullptr;
    LCursor = nullptr;
    if (FindFieldInCursor(Cursor, no))
      LCursor = Cursor;
    else if (FindFieldInCursor(ParentCursor, no))
      LCursor = ParentCursor;
  }
  if (!LAO && !LCursor) throw EORVException(30115, "Field '%s' not found", {FFieldName});
  if (!LCursor) return;
  FFieldNo = no;
  const TORVFieldDef* def = LCursor->FFieldDefs->GetDef(no);
  FFieldOffsetInBuffer = def->MemoryOffset;
  FFieldType = def->AdvancedFieldType;
  FBaseFieldType = def->BaseFieldType;
  FFieldSize = def->MemoryDataSize;
  AssignCursorBuffer(LCursor->FCurrentRecordBuffer, FGetFromParent);
}

void TORVExprNodeField::AssignCursorBuffer(const void* Buffer, bool ApplyToParentQueryFields) {
  // A reference bound to an operator's columns reads them from the operator; a record buffer
  // would be read with the layout of no cursor.
  if (ApplyToParentQueryFields == FGetFromParent && LCursor) LRecordBuffer = Buffer;
}

void TORVExprNodeField::AssignAO(IORVAO* AO, IORVAO* ParentQueryAO, TORVCursor* ParentCursor) {
  LCursor = nullptr;
  LRecordBuffer = nullptr;
  if (TryAssignAO(AO)) {
    LAO = AO;
  } else if (TryAssignAO(ParentQueryAO)) {
    LAO = ParentQueryAO;
  } else if (FGetFromParent && ParentCursor) {
    AssignCursor(ParentCursor, ParentQueryAO, ParentCursor);
  }
  if (!LAO && !LCursor) throw EORVException(30197, "Field '%s' not found", {FTableName + "." + FFieldName});
}

TORVAdvancedFieldType TORVExprNodeField::GetDataType() {
  TORVAdvancedFieldType t = aftUnknown;
  if (LCursor && LCursor->FFieldDefs && FFieldNo >= 0 && FFieldNo < LCursor->FFieldDefs->GetCount())
    t = LCursor->FFieldDefs->GetDef(FFieldNo)->AdvancedFieldType;
  else if (LAO && FFieldNo >= 0)
    t = LAO->GetFieldType(FFieldNo);
  if (t == aftUnknown) throw EORVException(30284, "Cannot determine expression type");
  return t;
}

bool TORVExprNodeField::CanBeAssigned(IORVAO* AO, IORVAO* ParentQueryAO, TORVCursor* ParentCursor,
                                      bool ForHavingClause) {
  FGetFromParent = false;
  bool found = false;
  if (AO) {
    TORVIntegerArray numbers(0, 100, 10);
    AO->FieldExists(FFieldName, FTableName, false, &numbers, ForHavingClause, false);
    found = numbers.ItemCount == 1;
  }
  if (!found && ParentQueryAO) {
    TORVIntegerArray numbers(0, 100, 10);
    ParentQueryAO->FieldExists(FFieldName, FTableName, false, &numbers, ForHavingClause, false);
    found = numbers.ItemCount == 1;
    FGetFromParent = found;
  }
  if (!found && ParentCursor) {
    int32_t no = -1;
    found = FindFieldInCursor(ParentCursor, no);
    FGetFromParent = found;
  }
  if (found) FScanOnlyVisibleFieldsInAO = ForHavingClause;
  return found;
}

void TORVExprNodeField::ReplacePseudonyms(const std::vector<TORVSelectListItem>& SelectList) {
  // Every item is visited: a later match overrides an earlier one.
  std::string field = FFieldName, table = FTableName;
  for (const TORVSelectListItem& item : SelectList) {
    if (item.IsExpression) continue;
    if (AnsiUpperCase(item.Pseudonym) != AnsiUpperCase(FFieldName)) continue;
    if (!FTableName.empty() && AnsiUpperCase(item.TableName) != AnsiUpperCase(FTableName)) continue;
    field = item.FieldName;
    table = item.TableName;
  }
  FFieldName = field;
  FTableName = table;
}

bool TORVExprNodeField::CanBeUsedInGroupBy(const std::string& GroupByFields) {
  std::vector<std::string> names;
  FillFieldNames(names, GroupByFields);
  return std::find(names.begin(), names.end(), AnsiUpperCase(FFieldName)) != names.end();
}

void TORVExprNodeField::FillItem(TORVSelectListItem& Item) const {
  Item.TableName = FTableName;
  Item.FieldName = FFieldName;
}

// ---- Comparisons ----------------------------------------------------------------------------

TORVExprNodeComparison::TORVExprNodeComparison(TORVDataOperator Op, TORVExprNodePtr Node1, TORVExprNodePtr Node2,
                                               bool TrueFalseNullLogic, bool CaseInsensitive, bool PartialKey)
    : TORVExprNode(Op, std::move(Node1), std::move(Node2), CaseInsensitive, PartialKey),
      F3ValueLogic(TrueFalseNullLogic) {
  Value.Clear(bftLogical);
}

TORVExprNodeComparison::TORVExprNodeComparison(TORVDataOperator Op, TORVQuantifier Quantifier, TORVExprNodePtr Node1,
                                               TORVExprNodePtr Node2, bool TrueFalseNullLogic, bool CaseInsensitive,
                                               bool PartialKey)
    : TORVExprNodeComparison(Op, std::move(Node1), std::move(Node2), TrueFalseNullLogic, CaseInsensitive,
                             PartialKey) {
  FQuantifier = Quantifier;
}

TORVVariant& TORVExprNodeComparison::GetDataValue() {
  return FQuantifier != qUNDEFINED ? GetDataValueByQuantifiedCompare() : GetDataValueByCompare();
}

TORVCastMemo::~TORVCastMemo() { Free(); }

void TORVCastMemo::Free() {
  if (cast_) MemoryManager().FreeMem(cast_);
  cast_ = nullptr;
}

const void* TORVCastMemo::Get(const TORVVariant& Value, TORVBaseFieldType Type, int32_t& Size) {
  const auto* bytes = static_cast<const char*>(Value.pData());
  const size_t n = static_cast<size_t>(std::max(Value.DataSize(), 0));
  if (!cast_ || from_ != Value.DataType() || to_ != Type || source_.size() != n ||
      std::memcmp(source_.data(), bytes, n) != 0) {
    Free();
    // Forgotten first: a conversion that fails leaves nothing that could match later.
    source_.clear();
    int32_t size = 0;
    cast_ = CastToNewBuffer(bytes, Value.DataSize(), Value.DataType(), Type, size);
    cast_size_ = size;
    from_ = Value.DataType();
    to_ = Type;
    source_.assign(bytes, n);
  }
  Size = cast_size_;
  return cast_;
}

namespace {
bool IsFixedSizeType(TORVBaseFieldType t) {
  return IsNumericFieldType(t) || IsDateTimeFieldType(t) || t == bftLogical;
}
}  // namespace

int32_t TORVExprNodeComparison::ConstantSide() {
  if (FSideChecked[0] != Child(0) || FSideChecked[1] != Child(1)) {
    FSideChecked[0] = Child(0);
    FSideChecked[1] = Child(1);
    FConstantSide = dynamic_cast<const TORVExprNodeConst*>(Child(1))   ? 1
                    : dynamic_cast<const TORVExprNodeConst*>(Child(0)) ? 0
                                                                         : -1;
  }
  return FConstantSide;
}

TORVVariant& TORVExprNodeComparison::GetDataValueByCompare() {
  const TORVVariant& left = Operand(0).GetDataValue();
  const TORVVariant& right = Operand(1).GetDataValue();
  TORVCompareResult r;
  const int32_t side = FPartialKey || left.DataType() == right.DataType() || left.IsNull() || right.IsNull()
                           ? -1
                           : ConstantSide();
  if (side >= 0 && (FCommonOf[0] != left.DataType() || FCommonOf[1] != right.DataType())) {
    FCommonOf[0] = left.DataType();
    FCommonOf[1] = right.DataType();
    FCommon = GetCommonDataType(left.DataType(), right.DataType(), true);
  }
  const TORVBaseFieldType common = side < 0 ? bftUnknown : FCommon;
  // Only where the other side already has the common type and that type is a number, date,
  // time or Boolean (a text compares up to a length that depends on the buffer it came from):
  // there the comparison of the kept conversion is the comparison the values make themselves.
  const TORVVariant& other = side == 1 ? left : right;
  if (side >= 0 && other.DataType() == common && IsFixedSizeType(common)) {
    const TORVVariant& constant = side == 1 ? right : left;
    int32_t size = 0;
    const void* cast = FConstantCast.Get(constant, common, size);
    r = side == 1 ? CompareSizedValueBuffers(left.pData(), left.DataSize(), cast, size, common, common, false, false,
                                             -1, FCaseInsensitive, 0x400)
                  : CompareSizedValueBuffers(cast, size, right.pData(), right.DataSize(), common, common, false, false,
                                             -1, FCaseInsensitive, 0x400);
  } else {
    r = left.Compare(right, F3ValueLogic, FCaseInsensitive, FPartialKey);
  }
  bool result = false;
  switch (Operator) {
    case doEQ: result = r == cmprEqual; break;
    case doNE: result = F3ValueLogic ? (r == cmprLower || r == cmprGreater) : r != cmprEqual; break;
    case doGT: result = r == cmprGreater; break;
    case doLT: result = r == cmprLower; break;
    case doGE: result = r == cmprEqual || r == cmprGreater; break;
    case doLE: result = r == cmprEqual || r == cmprLower; break;
    default: throw EORVException(30117, "Unknown operator: '%s'", {GetOperatorName(Operator)});
  }
  SetResult(result);
  return Value;
}

void TORVExprNodeComparison::SetResult(bool Result) { FResult.Set(Value, Result); }

TORVVariant& TORVExprNodeComparison::GetDataValueByQuantifiedCompare() {
  auto* subquery = dynamic_cast<IORVSubqueryNode*>(Child(1));
  if (!subquery)
    throw EORVException(30622, "A comparison with %s needs a subquery as its right operand",
                        {FQuantifier == qALL ? "ALL" : "ANY"});
  const TORVVariant& left = Operand(0).GetDataValue();
  SetResult(subquery->QuantifiedCompare(Operator, FQuantifier, left));
  return Value;
}

void TORVExprNodeComparison::PatchWideStrings() {
  TORVExprNodeField* field = nullptr;
  TORVExprNodeConst* constant = nullptr;
  for (auto& c : Children) {
    if (auto* f = dynamic_cast<TORVExprNodeField*>(c.get())) field = f;
    if (auto* k = dynamic_cast<TORVExprNodeConst*>(c.get())) constant = k;
  }
  if (!field || !constant) return;
  const TORVAdvancedFieldType ft = field->FFieldType;
  const TORVAdvancedFieldType ct = constant->GetDataType();
  if ((ft == aftChar || ft == aftString || ft == aftGuid) && (ct == aftWideChar || ct == aftWideString))
    constant->Value.Cast(bftVarchar);
}

TORVExprNodeField* TORVExprNodeComparison::GetFieldNode(TORVExprNode* Node) {
  if (dynamic_cast<TORVExprNodeStringFunction*>(Node)) Node = Node->Child(0);
  auto* field = dynamic_cast<TORVExprNodeField*>(Node);
  if (!field) throw EORVException(30624, "Node is not a field");
  return field;
}

void TORVExprNodeComparison::GetFieldAndConstNodes(TORVExprNodeField*& FieldNode, TORVExprNode*& ConstNode) {
  FieldNode = nullptr;
  ConstNode = nullptr;
  for (int32_t i = 0; i < 2 && i < ChildCount(); ++i)
    if (CanUseNodeAsConst(Child(i))) ConstNode = Child(i);
  for (int32_t i = 0; i < 2 && i < ChildCount(); ++i) {
    TORVExprNode* node = Child(i);
    if (!CanUseNodeAsField(node)) continue;
    if (auto* f = dynamic_cast<TORVExprNodeField*>(node)) {
      FieldNode = f;
      continue;
    }
    // UPPER(x) = 'ABC' can use a case-insensitive index on x, UPPER(x) = 'abc' cannot. The
    // case of an outer-query column is not known while planning: it never qualifies.
    if (ConstNode) {
      auto* constant = dynamic_cast<TORVExprNodeConst*>(ConstNode);
      const bool fits =
          constant && (node->Operator == doUPPER ? constant->IsUpperCase() : constant->IsLowerCase());
      if (!fits) {
        FieldNode = nullptr;
        ConstNode = nullptr;
        return;
      }
    }
    FCaseInsensitive = true;
    FieldNode = static_cast<TORVExprNodeField*>(node->Child(0));
  }
}

// ---- Boolean operators ----------------------------------------------------------------------

TORVExprNodeBoolean::TORVExprNodeBoolean(bool CaseInsensitive, bool PartialKey)
    : TORVExprNode(CaseInsensitive, PartialKey) {
  Value.Clear(bftLogical);
}

TORVExprNodeBoolean::TORVExprNodeBoolean(TORVDataOperator Op, bool CaseInsensitive, bool PartialKey,
                                         const std::string& aEscapeStr)
    : TORVExprNode(Op, CaseInsensitive, PartialKey), EscapeStr(aEscapeStr) {
  Value.Clear(bftLogical);
}

TORVExprNodeBoolean::TORVExprNodeBoolean(TORVDataOperator Op, TORVExprNodePtr Node, bool CaseInsensitive,
                                         bool PartialKey)
    : TORVExprNode(Op, std::move(Node), CaseInsensitive, PartialKey) {
  Value.Clear(bftLogical);
}

TORVExprNodeBoolean::TORVExprNodeBoolean(TORVDataOperator Op, TORVExprNodePtr Node1, TORVExprNodePtr Node2,
                                         bool CaseInsensitive, bool PartialKey)
    : TORVExprNode(Op, std::move(Node1), std::move(Node2), CaseInsensitive, PartialKey) {
  Value.Clear(bftLogical);
}

TORVExprNodeBoolean::TORVExprNodeBoolean(TORVDataOperator Op, TORVExprNodePtr Node1, TORVExprNodePtr Node2,
                                         TORVExprNodePtr Node3, bool CaseInsensitive, bool PartialKey)
    : TORVExprNode(Op, std::move(Node1), std::move(Node2), std::move(Node3), CaseInsensitive, PartialKey) {
  Value.Clear(bftLogical);
}

void TORVExprNodeBoolean::SetResult(std::optional<bool> Result) {
  if (Result)
    FResult.Set(Value, *Result);
  else
    SetNullResult(Value, bftLogical);
}

std::optional<bool> TORVExprNodeBoolean::Truth(int32_t ChildNo) const {
  const TORVVariant& v = Operand(ChildNo).GetDataValue();
  if (v.IsNull()) return std::nullopt;
  return ReadBoolean(v);
}

namespace {

std::optional<bool> Negated(std::optional<bool> v) {
  if (v) return !*v;
  return v;
}

}  // namespace

TORVVariant& TORVExprNodeBoolean::GetDataValue() {
  // The children's values are read where they stand: nothing here changes them, and no copy
  // keeps a filter from allocating for every record.
  std::optional<bool> result;
  switch (Operator) {
    case doNOT: result = Negated(Truth(0)); break;
    case doAND: {
      // False wins over NULL, NULL over True.
      result = true;
      for (int32_t i = 0; i < ChildCount(); ++i) {
        if (!Child(i)) continue;
        const std::optional<bool> v = Truth(i);
        if (!v) {
          result.reset();
        } else if (!*v) {
          result = false;
          break;
        }
      }
      break;
    }
    case doOR: {
      // True wins over NULL, NULL over False.
      result = false;
      for (int32_t i = 0; i < ChildCount(); ++i) {
        if (!Child(i)) continue;
        const std::optional<bool> v = Truth(i);
        if (!v) {
          result.reset();
        } else if (*v) {
          result = true;
          break;
        }
      }
      break;
    }
    case doIN: result = bIn(); break;
    case doNOTIN: result = Negated(bIn()); break;
    case doEXISTS: result = Exists(); break;
    case doBETWEEN: result = Between(); break;
    case doNOTBETWEEN: result = Negated(Between()); break;
    case doLIKE: result = Like(); break;
    case doNOTLIKE: result = Negated(Like()); break;
    case doISNULL: result = Operand(0).GetDataValue().IsNull(); break;
    case doISNOTNULL: result = !Operand(0).GetDataValue().IsNull(); break;
    default: throw EORVException(30116, "Unknown operator: '%s'", {GetOperatorName(Operator)});
  }
  SetResult(result);
  return Value;
}

std::optional<bool> TORVExprNodeBoolean::bIn() {
  if (ChildCount() > 1 && dynamic_cast<IORVSubqueryNode*>(Child(1))) return bInSubquery();
  const TORVVariant& v = Operand(0).GetDataValue();
  if (v.IsNull()) return std::nullopt;
  // A NULL in the list never matches: the answer is False, not NULL, when nothing matches.
  for (int32_t i = 1; i < ChildCount(); ++i)
    if (v.Compare(Operand(i).GetDataValue(), true, true, false) == cmprEqual) return true;
  return false;
}

bool TORVExprNodeBoolean::bInSubquery() {
  auto* subquery = dynamic_cast<IORVSubqueryNode*>(Child(1));
  TempVal.Assign(Operand(0).GetDataValue(), true);
  return subquery->IsValueIn(TempVal);
}

bool TORVExprNodeBoolean::Exists() {
  auto* subquery = ChildCount() > 0 ? dynamic_cast<IORVSubqueryNode*>(Child(0)) : nullptr;
  if (!subquery) throw EORVException(30622, "%s needs a subquery as its operand", {"EXISTS"});
  return subquery->Exists();
}

std::optional<bool> TORVExprNodeBoolean::Between() {
  const TORVVariant& v = Operand(0).GetDataValue();
  const TORVVariant& low = Operand(1).GetDataValue();
  const TORVVariant& high = Operand(2).GetDataValue();
  if (v.IsNull() || low.IsNull() || high.IsNull()) return std::nullopt;
  const TORVCompareResult r1 = v.Compare(low, true, true, false);
  const TORVCompareResult r2 = v.Compare(high, true, true, false);
  return (r1 == cmprEqual || r1 == cmprGreater) && (r2 == cmprEqual || r2 == cmprLower);
}

const char* TORVExprNodeBoolean::Text8Of(const TORVVariant& V, std::string& Scratch) const {
  if (V.IsNull()) return "";
  if (V.DataType() == bftChar || V.DataType() == bftVarchar) {
    const auto* p = static_cast<const char*>(V.pData());
    // A value linked into a record stops at its terminator inside the field.
    if (std::memchr(p, 0, static_cast<size_t>(V.DataSize()))) return p;
    Scratch.assign(p, static_cast<size_t>(V.DataSize()));
    return Scratch.c_str();
  }
  Scratch = V.GetDataAsAnsiString();
  return Scratch.c_str();
}

const char16_t* TORVExprNodeBoolean::Text16Of(const TORVVariant& V, std::u16string& Scratch) const {
  if (V.IsNull()) return u"";
  if (V.IsWideStringDataType()) {
    // Wide text may stand at an odd offset of a record: it is copied into aligned storage.
    Scratch.resize(static_cast<size_t>(value_buffer::TextLength<char16_t>(V.pData(), V.DataSize())));
    value_buffer::CopyWide(Scratch.data(), V.pData(), static_cast<int32_t>(Scratch.size()));
  } else {
    Scratch = V.GetDataAsWideString();
  }
  return Scratch.c_str();
}

std::optional<bool> TORVExprNodeBoolean::Like() {
  const TORVVariant& v = Operand(0).GetDataValue();
  const TORVVariant& pattern = Operand(1).GetDataValue();
  if (pattern.IsNull()) return std::nullopt;
  // A NULL value is matched as the empty text of the pattern's type.
  const TORVBaseFieldType value_type = v.IsNull() ? pattern.DataType() : v.DataType();
  const TORVBaseFieldType common = GetCommonDataType(value_type, pattern.DataType(), false);
  if (!IsStringFieldType(common)) throw EORVException(30120, "Not string argument in function '%s'", {"LIKE"});
  const bool escaped = !EscapeStr.empty();
  bool match = false;
  if (IsWideStringFieldType(common)) {
    const char16_t escape = escaped ? platform::Cp1252ToUtf16(EscapeStr.substr(0, 1))[0] : u'\0';
    match = IsWideStrMatchPattern(Text16Of(v, FLikeValue16), Text16Of(pattern, FLikePattern16), escaped, escape,
                                  FCaseInsensitive);
  } else {
    const char escape = escaped ? EscapeStr[0] : '\0';
    match = IsStrMatchPattern(Text8Of(v, FLikeValue8), Text8Of(pattern, FLikePattern8), escaped, escape,
                              FCaseInsensitive);
  }
  return match;
}

// ---- Unit helpers ---------------------------------------------------------------------------

bool CanUseNodeAsField(TORVExprNode* Node) {
  if (auto* f = dynamic_cast<TORVExprNodeField*>(Node)) return !f->FGetFromParent;
  if (dynamic_cast<TORVExprNodeStringFunction*>(Node) && (Node->Operator == doUPPER || Node->Operator == doLOWER) &&
      Node->ChildCount() > 0) {
    auto* f = dynamic_cast<TORVExprNodeField*>(Node->Child(0));
    return f && !f->FGetFromParent;
  }
  return false;
}

bool IsAndNode(const TORVExprNode* Node) {
  return Node && Node->Operator == doAND && dynamic_cast<const TORVExprNodeBoolean*>(Node);
}

bool SameName(std::string_view A, std::string_view B) { return AnsiUpperCase(A) == AnsiUpperCase(B); }

bool CanUseNodeAsConst(TORVExprNode* Node) {
  if (dynamic_cast<TORVExprNodeConst*>(Node)) return true;
  auto* f = dynamic_cast<TORVExprNodeField*>(Node);
  return f && f->FGetFromParent;
}

std::string GetOperatorName(TORVDataOperator op) {
  switch (op) {
    case doEQ: return "=";
    case doNE: return "<>";
    case doGT: return ">";
    case doLT: return "<";
    case doGE: return ">=";
    case doLE: return "<=";
    case doNOT: return "NOT";
    case doAND: return "AND";
    case doOR: return "OR";
    case doLIKE: return "LIKE";
    case doNOTLIKE: return "NOT LIKE";
    case doISNULL: return "IS NULL";
    case doISNOTNULL: return "IS NOT NULL";
    case doADD: return "+";
    case doSUB: return "-";
    case doMUL: return "*";
    case doDIV: return "/";
    case doCONCAT: return "||";
    case doUPPER: return "UPPER";
    case doLOWER: return "LOWER";
    case doTRIM: return "TRIM";
    case doLTRIM: return "LTRIM";
    case doRTRIM: return "RTRIM";
    case doSUM: return "SUM";
    case doAVG: return "AVG";
    case doMIN: return "MIN";
    case doMAX: return "MAX";
    case doCOUNT: return "COUNT";
    case doCOUNTALL: return "COUNT(*)";
    default: return "unknown";
  }
}

std::string ExtractFieldName(std::string_view Fields, int32_t& Pos) {
  const auto start = static_cast<size_t>(std::max(Pos, 1) - 1);
  if (start >= Fields.size()) {
    Pos = static_cast<int32_t>(Fields.size()) + 1;
    return std::string();
  }
  size_t end = Fields.find(';', start);
  if (end == std::string_view::npos) end = Fields.size();
  std::string_view piece = Fields.substr(start, end - start);
  while (!piece.empty() && static_cast<uint8_t>(piece.front()) <= ' ') piece.remove_prefix(1);
  while (!piece.empty() && static_cast<uint8_t>(piece.back()) <= ' ') piece.remove_suffix(1);
  Pos = static_cast<int32_t>(end) + 2;
  return std::string(piece);
}

void FillFieldNames(std::vector<std::string>& List, std::string_view Names) {
  List.clear();
  int32_t pos = 1;
  while (pos <= static_cast<int32_t>(Names.size())) List.push_back(AnsiUpperCase(ExtractFieldName(Names, pos)));
}

TORVDataOperator ReverseComparisonOperator(TORVDataOperator op) {
  switch (op) {
    case doEQ: return doEQ;
    case doNE: return doNE;
    case doGT: return doLT;
    case doLT: return doGT;
    case doGE: return doLE;
    case doLE: return doGE;
    default: return doUNDEFINED;
  }
}

TORVDataOperator InvertComparisonOperator(TORVDataOperator op) {
  switch (op) {
    case doEQ: return doNE;
    case doNE: return doEQ;
    case doGT: return doLE;
    case doLT: return doGE;
    case doGE: return doLT;
    case doLE: return doGT;
    default: return doUNDEFINED;
  }
}

}  // namespace orv

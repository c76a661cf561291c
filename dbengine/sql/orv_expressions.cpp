#include "dbengine/sql/orv_expressions.h"

#include <algorithm>
#include <stdexcept>
#include <typeinfo>

#include "dbengine/sql/orv_expressions_functions.h"
#include "dbengine/sql/orv_expressions_results.h"
#include "dbengine/storage/orv_converts.h"
#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_str_utils.h"
#include "platform/base/cp1252.h"

namespace orv {

// ---- Construction ---------------------------------------------------------------------------

TORVExpression::TORVExpression() = default;

TORVExpression::TORVExpression(TORVExprNodePtr RootNode) : FRootExprNode(std::move(RootNode)) {}

TORVExpression::~TORVExpression() = default;

void TORVExpression::Clear() { FRootExprNode.reset(); }

void TORVExpression::PatchRoot() {
  if (LCursor && FRootExprNode) FRootExprNode->PatchWideStrings();
}

void TORVExpression::BeginParse(TORVLexer* Lexer) {
  EndParse();
  LLex = Lexer;
  const int32_t command = Lexer ? Lexer->CurrentCommandNo : -1;
  if (command >= 0 && command < Lexer->NumCommands())
    FCommandTokens = Lexer->Commands[static_cast<size_t>(command)].NumTokens();
}

void TORVExpression::EndParse() {
  FNestingDepth = 0;
  FParseSteps = 0;
  FCommandTokens = 0;
  FLastPrimaryStart = FLastPrimaryEnd = -1;
  FNoValueExpressionAt.clear();
  FStash.clear();
}

// ---- Entry points ---------------------------------------------------------------------------

// While an entry point parses a text with a lexer of its own: no subquery may keep reading
// that lexer, and the expression forgets it afterwards.
class TORVExpression::TOwnLexer {
 public:
  explicit TOwnLexer(TORVExpression& e) : e_(e), allowed_(e.FSubqueriesAllowed) { e.FSubqueriesAllowed = false; }
  ~TOwnLexer() {
    e_.LLex = nullptr;
    e_.FSubqueriesAllowed = allowed_;
  }
  TOwnLexer(const TOwnLexer&) = delete;
  TOwnLexer& operator=(const TOwnLexer&) = delete;

 private:
  TORVExpression& e_;
  bool allowed_;
};

namespace {

bool IsIntegerVariant(uint16_t VType) {
  switch (VType) {
    case varSmallint:
    case varInteger:
    case varShortInt:
    case varByte:
    case varWord:
    case varLongWord:
    case varInt64: return true;
    default: return false;
  }
}

bool IsFloatVariant(uint16_t VType) { return VType == varSingle || VType == varDouble || VType == varCurrency; }

// A Locate key into its constant. A number given for a date or time field is a date-time
// (the chart hands over the day number of the point clicked).
void AssignConstValue(TORVExprNodeConst& Const, const TORVExprNodeField& Field, const TORVVarValue& Value) {
  TORVVarValue v = Value;
  if (IsDateTimeFieldType(Field.FBaseFieldType) && (IsIntegerVariant(v.VType) || IsFloatVariant(v.VType))) {
    double days = 0;
    if (const auto* i = std::get_if<int64_t>(&v.Value))
      days = static_cast<double>(*i);
    else if (const auto* d = std::get_if<double>(&v.Value))
      days = *d;
    v = TORVVarValue::Float(varDate, days);
  }
  Const.Value.Clear(bftUnknown);
  Const.Value.SetDataAsVariant(v);
}

}  // namespace

void TORVExpression::ParseForLocate(TORVCursor* Cursor, const std::string& FieldNames,
                                    const std::vector<TORVVarValue>& KeyValues, bool CaseInsensitive,
                                    bool PartialKey) {
  Clear();
  LCursor = Cursor;
  F3ValueLogic = false;
  std::vector<std::string> names;
  FillFieldNames(names, FieldNames);
  if (names.size() != KeyValues.size())
    throw EORVException(30112, "Count of FieldNames (%d) not equal counts of KeyValues (%d)",
                        {names.size(), KeyValues.size()});
  std::vector<TORVExprNodePtr> comparisons;
  for (size_t i = 0; i < names.size(); ++i) {
    auto field = std::make_unique<TORVExprNodeField>(Cursor, names[i], "");
    auto constant = std::make_unique<TORVExprNodeConst>();
    AssignConstValue(*constant, *field, KeyValues[i]);
    comparisons.push_back(std::make_unique<TORVExprNodeComparison>(doEQ, std::move(field), std::move(constant),
                                                                   F3ValueLogic, CaseInsensitive, PartialKey));
  }
  if (comparisons.size() == 1) {
    FRootExprNode = std::move(comparisons.front());
  } else {
    auto root = std::make_unique<TORVExprNodeBoolean>(doAND, true, false, "");
    for (auto& c : comparisons) root->AddChild(std::move(c));
    FRootExprNode = std::move(root);
  }
  PatchRoot();
}

void TORVExpression::ParseForFilter(TORVCursor* Cursor, const std::string& Filter, bool CaseInsensitive,
                                    bool PartialKey) {
  LCursor = Cursor;
  FCaseInsensitive = CaseInsensitive;
  FPartialKey = PartialKey;
  // The lexer lives only during this call, so no node may keep reading it: a filter holds no
  // subquery.
  TORVLexer lexer(Filter, nullptr, false);
  TOwnLexer own(*this);
  if (lexer.NumCommands() == 0) throw EORVException(30119, "Blank SQL command");
  lexer.GetNextCommand();
  ParseForBooleanExpression(nullptr, &lexer);
}

void TORVExpression::ParseForIsAnyRecordMatchCondition(TORVCursor* Cursor, const std::string& FieldName,
                                                       TORVDataOperator Operator, const TORVVariant& Value) {
  Clear();
  LCursor = Cursor;
  F3ValueLogic = false;
  if (Operator < doEQ || Operator > doLE)
    throw EORVException(30117, "Unknown operator: '%s'", {GetOperatorName(Operator)});
  auto field = std::make_unique<TORVExprNodeField>(Cursor, FieldName, "");
  auto constant = std::make_unique<TORVExprNodeConst>();
  constant->Value.Assign(Value, true);
  FRootExprNode = std::make_unique<TORVExprNodeComparison>(Operator, std::move(field), std::move(constant),
                                                           F3ValueLogic, false, false);
  PatchRoot();
}

void TORVExpression::BeginStatementParse(IORVQueryDataset* Dataset, TORVLexer* Lexer, int32_t NoTokenCode) {
  // Callers use a fresh expression; a previous tree is dropped rather than leaked.
  Clear();
  BeginParse(Lexer);
  LDataset = Dataset;
  if (Dataset) {
    // LASTAUTOINC opens its table in the query's database and session.
    FDatabaseName = Dataset->GetDatabaseName();
    FSessionName = Dataset->GetSessionName();
  }
  if (!GetCurrentToken())
    throw EORVException(NoTokenCode, "Unexpected end of SQL command found at line %d, column %d",
                        {Token.LineNum, Token.ColumnNum});
}

void TORVExpression::ParseForBooleanExpression(IORVQueryDataset* Dataset, TORVLexer* Lexer) {
  BeginStatementParse(Dataset, Lexer, 30118);
  FRootExprNode = ParseSearchCondition();
  EndParse();
  if (!FRootExprNode)
    throw EORVException(30066, "Boolean expression expected, but '%s' found at line %d, column %d",
                        {Token.Text, Token.LineNum, Token.ColumnNum});
  MoveAndNodesToRoot();
  PatchRoot();
}

void TORVExpression::ParseForValueExpression(IORVQueryDataset* Dataset, TORVLexer* Lexer) {
  BeginStatementParse(Dataset, Lexer, 30136);
  FRootExprNode = ParseValueExpression();
  EndParse();
}

void TORVExpression::ParseForRowSubqueryExpression(IORVQueryDataset* Dataset, TORVLexer* Lexer) {
  BeginStatementParse(Dataset, Lexer, 30497);
  FRootExprNode = ParseRowSubquery(false, false);
  EndParse();
}

bool TORVExpression::ParseForDefaultValueExpression(const std::string& DefaultValue) {
  // The lexer lives only during this call: a default value holds no subquery.
  try {
    TORVLexer lexer(DefaultValue, nullptr, true);
    TOwnLexer own(*this);
    if (lexer.NumCommands() == 0) return false;
    lexer.GetNextCommand();
    ParseForValueExpression(nullptr, &lexer);
    // The parse stops at the first token it cannot use; that one may remain, a second not.
    TToken next;
    return lexer.NumCommands() == 1 && !lexer.LookNextToken(next);
  } catch (...) {
    return false;
  }
}

// ---- Evaluation -----------------------------------------------------------------------------

TORVVariant* TORVExpression::GetValue(bool TrueFalseNullLogic) {
  if (!FRootExprNode) return nullptr;
  TORVVariant& v = FRootExprNode->GetDataValue();
  if (v.IsNull() && !TrueFalseNullLogic) {
    v.Clear(bftLogical);
    v.SetDataAsBoolean(false);
  }
  return &v;
}

bool TORVExpression::GetResult() {
  // GetValue(False) read as a Boolean, without turning a NULL into a stored False: a filter
  // asks this for every record and must not allocate for it.
  if (!FRootExprNode) throw EORVException(30110, "Value is Null");
  const TORVVariant& v = FRootExprNode->GetDataValue();
  return !v.IsNull() && ReadBoolean(v);
}

// ---- Binding --------------------------------------------------------------------------------

void TORVExpression::AssignCursor(TORVCursor* Cursor, IORVAO* ParentQueryAO, TORVCursor* ParentCursor) {
  if (!FRootExprNode) return;
  FRootExprNode->AssignCursor(Cursor, ParentQueryAO, ParentCursor);
  FRootExprNode->PatchWideStrings();
}

void TORVExpression::AssignCursorBuffer(const void* Buffer, bool ApplyToParentQueryFields) {
  // Called for every record a filter tests: a buffer changes no field's type, so the
  // wide-string constants patched when the fields were bound stay as they are.
  if (FRootExprNode) FRootExprNode->AssignCursorBuffer(Buffer, ApplyToParentQueryFields);
}

void TORVExpression::AssignAO(IORVAO* AO, IORVAO* ParentQueryAO, TORVCursor* ParentCursor) {
  if (!FRootExprNode) return;
  FRootExprNode->AssignAO(AO, ParentQueryAO, ParentCursor);
  FRootExprNode->PatchWideStrings();
}

// ---- Aggregation, row subqueries, result column ---------------------------------------------

bool TORVExpression::IsAggregated() { return FRootExprNode && FRootExprNode->IsAggregated(); }
bool TORVExpression::IsAggregatedCountAll() { return FRootExprNode && FRootExprNode->IsAggregatedCountAll(); }

void TORVExpression::Init() {
  if (FRootExprNode) FRootExprNode->Init();
}

void TORVExpression::Accumulate() {
  if (FRootExprNode) FRootExprNode->Accumulate();
}

void TORVExpression::SetCountAll(int32_t RecordCount) {
  if (FRootExprNode) FRootExprNode->SetCountAll(RecordCount);
}

void TORVExpression::ResetSubqueryFieldValues() {
  if (FRootExprNode) FRootExprNode->ResetSubqueryFieldValues();
}

TORVVariant* TORVExpression::GetSubqueryFieldValue(int32_t FieldNo) {
  return FRootExprNode ? FRootExprNode->GetSubqueryFieldValue(FieldNo) : nullptr;
}

TORVAdvancedFieldType TORVExpression::GetDataType() {
  return FRootExprNode ? FRootExprNode->GetDataType() : aftUnknown;
}

int32_t TORVExpression::GetDataSize() { return FRootExprNode ? FRootExprNode->GetDataSize() : 0; }
int32_t TORVExpression::GetPrecision() { return FRootExprNode ? FRootExprNode->GetPrecision() : 0; }

// ---- Shape ----------------------------------------------------------------------------------

bool TORVExpression::IsEmpty() const {
  if (!FRootExprNode) return true;
  // Asked before every record a filter evaluates: the type is looked at only when no child is
  // left.
  if (std::any_of(FRootExprNode->Children.begin(), FRootExprNode->Children.end(),
                  [](const TORVExprNodePtr& c) { return c != nullptr; }))
    return false;
  return dynamic_cast<const TORVExprNodeBoolean*>(FRootExprNode.get()) != nullptr;
}

bool TORVExpression::IsField() const { return dynamic_cast<const TORVExprNodeField*>(FRootExprNode.get()) != nullptr; }

bool TORVExpression::IsFieldsExpression() const {
  if (!FRootExprNode) return false;
  if (IsField()) return true;
  return std::any_of(FRootExprNode->Children.begin(), FRootExprNode->Children.end(), [](const TORVExprNodePtr& c) {
    return dynamic_cast<const TORVExprNodeField*>(c.get()) != nullptr;
  });
}

void TORVExpression::GetFieldInfo(std::string& TableName, std::string& FieldName) const {
  const auto* field = dynamic_cast<const TORVExprNodeField*>(FRootExprNode.get());
  if (!field) throw EORVException(30198, "Node is not a field");
  TableName = field->FTableName;
  FieldName = field->FFieldName;
}

bool TORVExpression::CanBeUsedInGroupBy(const std::string& GroupByFields) {
  return !FRootExprNode || FRootExprNode->CanBeUsedInGroupBy(GroupByFields);
}

// ---- Tree edits of planning -----------------------------------------------------------------

void TORVExpression::MoveAndNodesToRoot() {
  if (!IsAndNode(FRootExprNode.get())) return;
  std::vector<TORVExprNodePtr>& children = FRootExprNode->Children;
  // Children moved to the end are visited later, so AND chains of any depth are flattened.
  for (size_t i = 0; i < children.size();) {
    if (!IsAndNode(children[i].get())) {
      ++i;
      continue;
    }
    TORVExprNodePtr nested = std::move(children[i]);
    children.erase(children.begin() + static_cast<std::ptrdiff_t>(i));
    for (auto& c : nested->Children) children.push_back(std::move(c));
  }
}

void TORVExpression::AddNode(TORVExpressionNode* Node) {
  if (!Node) return;
  const auto kept = std::find(FNotDetachedNodes.begin(), FNotDetachedNodes.end(), Node);
  if (kept != FNotDetachedNodes.end()) {
    FNotDetachedNodes.erase(kept);
    return;
  }
  auto* node = dynamic_cast<TORVExprNode*>(Node);
  if (!node) throw std::invalid_argument("TORVExpression::AddNode: not an expression node");
  TORVExprNodePtr owned(node);
  if (!FRootExprNode)
    FRootExprNode = std::move(owned);
  else
    FRootExprNode->AddChild(std::move(owned));
}

void TORVExpression::AddAndMoveNodesFromExpression(TORVExpression& Expr) {
  if (!Expr.FRootExprNode) throw std::invalid_argument("TORVExpression::AddAndMoveNodesFromExpression: empty source");
  if (!FRootExprNode) {
    FRootExprNode = std::move(Expr.FRootExprNode);
    return;
  }
  if (!IsAndNode(FRootExprNode.get()))
    FRootExprNode = std::make_unique<TORVExprNodeBoolean>(doAND, std::move(FRootExprNode), true, false);
  FRootExprNode->AddChild(std::move(Expr.FRootExprNode));
  MoveAndNodesToRoot();
}

void TORVExpression::ReplacePseudonyms(const std::vector<TORVSelectListItem>& SelectList) {
  if (FRootExprNode) FRootExprNode->ReplacePseudonyms(SelectList);
}

namespace {

bool IsScanCandidate(const TORVExprNode* Node) {
  if (dynamic_cast<const TORVExprNodeComparison*>(Node)) return true;
  return dynamic_cast<const TORVExprNodeBoolean*>(Node) && (Node->Operator == doISNULL || Node->Operator == doISNOTNULL);
}

// Calls Visit for Node, or for every child of an AND node (recursively), until Visit answers
// True; answers whether it did.
template <class F>
bool VisitScanCandidates(TORVExprNode* Node, F&& Visit) {
  if (!Node) return false;
  if (IsScanCandidate(Node)) return Visit(Node);
  if (IsAndNode(Node))
    for (auto& c : Node->Children)
      if (VisitScanCandidates(c.get(), Visit)) return true;
  return false;
}

}  // namespace

void TORVExpression::CreateIndexScanConditions(const IORVScanIndexDefs& IndexDefs,
                                               TORVScanSearchConditionArray& ScanConditions, int32_t SessionID) {
  const auto* defs = dynamic_cast<const TORVIndexDefs*>(&IndexDefs);
  if (!defs) return;
  // A node a condition is made from must be one RemoveExtractedNodes can detach: the root or a
  // child of a root AND. Flattening the AND chains changes no result and makes every candidate
  // one of these.
  MoveAndNodesToRoot();
  VisitScanCandidates(FRootExprNode.get(), [&](TORVExprNode* node) {
    for (int32_t i = 0; i < defs->GetCount(); ++i) {
      const TORVIndexDef* def = defs->GetIndexDef(i);
      if (node->CanUseIndex(0, scNone, def, SessionID)) node->AddAsIndexScanCondition(ScanConditions, def, this);
    }
    return false;
  });
}

bool TORVExpression::ExtendMultiFieldIndexCondition(TORVScanSearchCondition& ScanCondition,
                                                    const TORVIndexDef* IndexDef) {
  if (!IndexDef) return false;
  return VisitScanCandidates(FRootExprNode.get(), [&](TORVExprNode* node) {
    if (ScanCondition.KeyFieldCount >= IndexDef->ColumnCount()) return false;
    if (!node->CanUseIndex(ScanCondition.KeyFieldCount, ScanCondition.Condition, IndexDef, -1)) return false;
    node->ExtendIndexScanCondition(ScanCondition, IndexDef, this);
    return true;
  });
}

void TORVExpression::RemoveExtractedNodes(TORVScanSearchConditionArray& ScanConditions, int32_t ScanConditionNo,
                                          int32_t ScanEndConditionNo) {
  for (int32_t no : {ScanConditionNo, ScanEndConditionNo}) {
    if (no < 0 || no > 255 || no >= ScanConditions.Count()) continue;
    TORVScanSearchCondition& condition = ScanConditions[no];
    for (size_t j = 0; j < condition.ParentExpressions.size() && j < condition.ParentExpressionNodes.size(); ++j) {
      if (condition.ParentExpressions[j] != this) continue;
      TORVExpressionNode* node = condition.ParentExpressionNodes[j];
      // Detached, not freed: the condition holds the node until AddNode gives it back.
      if (FRootExprNode.get() == node) {
        static_cast<void>(FRootExprNode.release());
        continue;
      }
      bool detached = false;
      if (FRootExprNode) {
        auto& children = FRootExprNode->Children;
        for (size_t k = 0; k < children.size() && !detached; ++k) {
          if (children[k].get() != node) continue;
          static_cast<void>(children[k].release());
          children.erase(children.begin() + static_cast<std::ptrdiff_t>(k));
          detached = true;
        }
      }
      if (!detached) FNotDetachedNodes.push_back(node);
    }
  }
}

// ---- Token access ---------------------------------------------------------------------------

bool TORVExpression::GetCurrentToken() { return LLex && LLex->GetCurrentToken(Token); }

bool TORVExpression::GetNextToken() { return LLex && LLex->GetNextToken(Token); }

bool TORVExpression::GetNextToken(TTokenTypes PermittedTypes, bool RaiseExceptions) {
  if (!GetNextToken()) {
    if (RaiseExceptions)
      throw EORVException(30063, "Unexpected end of SQL command found at line %d, column %d",
                          {Token.LineNum, Token.ColumnNum});
    return false;
  }
  if (!PermittedTypes.Empty() && !PermittedTypes.Contains(Token.TokenType)) {
    if (RaiseExceptions)
      throw EORVException(30064, "Unexpected token '%s' found at line %d, column %d",
                          {Token.Text, Token.LineNum, Token.ColumnNum});
    return false;
  }
  return true;
}

void TORVExpression::SaveState(int32_t& SavedTokenNo) const { SavedTokenNo = LLex ? LLex->GetCurrentTokenNo() : -1; }

void TORVExpression::RestoreState(int32_t SavedTokenNo) {
  if (LLex) LLex->SetCurrentTokenNo(SavedTokenNo, Token);
}

// ---- Unit functions -------------------------------------------------------------------------

int32_t IsPartialKey(TORVExprNode* Node) {
  if (!Node || typeid(*Node) != typeid(TORVExprNodeConst)) return 0;
  TORVVariant& v = Node->Value;
  if (v.IsNull() || !v.IsStringDataType()) return 0;
  if (v.IsWideStringDataType()) {
    std::u16string s = v.GetDataAsWideString();
    if (s.empty() || s.back() != u'*') return 0;
    s.pop_back();
    v.SetDataAsWideString(s);
  } else {
    std::string s = v.GetDataAsAnsiString();
    if (s.empty() || s.back() != '*') return 0;
    s.pop_back();
    v.SetDataAsAnsiString(s);
  }
  return 1;
}

bool IsNonConstantExpression(const TORVVariant& Value) {
  if (Value.IsNull() || !Value.IsStringDataType() || Value.GetDataAsAnsiString().empty()) return false;
  const std::u16string source = Value.GetDataAsWideString();
  TORVExpression e;
  if (!e.ParseForDefaultValueExpression(platform::Utf16ToUtf8(source))) return false;
  if (e.IsFieldsExpression()) return false;
  // A default that cannot be evaluated without a record (it refers to fields further down)
  // is taken as the literal text: a stored definition must never become unreadable.
  try {
    const TORVVariant* v = e.GetValue(true);
    return v && v->GetDataAsWideString() != source;
  } catch (const EORVException&) {
    return false;
  }
}

TORVAdvancedFieldType GetFieldType(const std::string& TypeName) {
  const std::string upper = AnsiUpperCase(TypeName);
  for (const TSQLFieldType& row : SQLFieldTypes)
    if (row.SqlName == upper) return row.AdvancedFieldType;
  return aftUnknown;
}

// ---- The factory of the storage core --------------------------------------------------------

namespace {

IORVSubqueryNodeFactory* g_subquery_node_factory = nullptr;

// A default value evaluated on insert. The storage core asks only for its value.
class TDefaultValueExpression : public IORVDefaultValueExpression {
 public:
  explicit TDefaultValueExpression(std::unique_ptr<TORVExpression> e) : e_(std::move(e)) {}
  const TORVVariant* GetValue(bool TrueFalseNullLogic) override { return e_->GetValue(TrueFalseNullLogic); }

 private:
  std::unique_ptr<TORVExpression> e_;
};

}  // namespace

IORVSubqueryNodeFactory* SetSubqueryNodeFactory(IORVSubqueryNodeFactory* Factory) {
  IORVSubqueryNodeFactory* previous = g_subquery_node_factory;
  g_subquery_node_factory = Factory;
  return previous;
}

IORVSubqueryNodeFactory* GetSubqueryNodeFactory() { return g_subquery_node_factory; }

std::unique_ptr<IORVExpression> TORVExpressionFactory::ParseForFilter(TORVCursor& Cursor, const std::string& Filter,
                                                                      bool CaseInsensitive, bool PartialKey) {
  auto e = std::make_unique<TORVExpression>();
  e->ParseForFilter(&Cursor, Filter, CaseInsensitive, PartialKey);
  return e;
}

std::unique_ptr<IORVExpression> TORVExpressionFactory::ParseForLocate(TORVCursor& Cursor, const std::string& FieldNames,
                                                                      const std::vector<TORVVarValue>& KeyValues,
                                                                      bool CaseInsensitive, bool PartialKey) {
  auto e = std::make_unique<TORVExpression>();
  e->ParseForLocate(&Cursor, FieldNames, KeyValues, CaseInsensitive, PartialKey);
  return e;
}

std::unique_ptr<IORVExpression> TORVExpressionFactory::ParseForIsAnyRecordMatchCondition(TORVCursor& Cursor,
                                                                                         const std::string& FieldName,
                                                                                         TORVDataOperator Operator,
                                                                                         const TORVVariant& Value) {
  auto e = std::make_unique<TORVExpression>();
  e->ParseForIsAnyRecordMatchCondition(&Cursor, FieldName, Operator, Value);
  return e;
}

bool TORVExpressionFactory::IsNonConstantExpression(const TORVVariant& Value) {
  return orv::IsNonConstantExpression(Value);
}

std::unique_ptr<IORVDefaultValueExpression> TORVExpressionFactory::ParseForDefaultValueExpression(
    const std::string& DefaultValue) {
  auto e = std::make_unique<TORVExpression>();
  if (!e->ParseForDefaultValueExpression(platform::Cp1252ToUtf8(DefaultValue))) return nullptr;
  return std::make_unique<TDefaultValueExpression>(std::move(e));
}

namespace {

TORVExpressionFactory g_factory;

}  // namespace

void RegisterExpressionEngine() {
  SetExpressionFactory(&g_factory);
  SetDefaultValueExpressionFactory(&g_factory);
}

void UnregisterExpressionEngine() {
  SetExpressionFactory(nullptr);
  SetDefaultValueExpressionFactory(nullptr);
}

TORVScopedExpressionEngine::TORVScopedExpressionEngine()
    : previous_filters_(SetExpressionFactory(&factory_)), previous_defaults_(SetDefaultValueExpressionFactory(&factory_)) {}

TORVScopedExpressionEngine::~TORVScopedExpressionEngine() {
  SetExpressionFactory(previous_filters_);
  SetDefaultValueExpressionFactory(previous_defaults_);
}

}  // namespace orv

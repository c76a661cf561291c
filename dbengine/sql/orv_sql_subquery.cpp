#include "dbengine/sql/orv_sql_subquery.h"

#include <stdexcept>
#include <utility>

#include "dbengine/storage/orv_except.h"

namespace orv {

namespace {

// Puts the lexer at a position for the time of a scope and back afterwards, also on errors.
class TLexerPosition {
 public:
  TLexerPosition(TORVLexer& Lexer, int32_t CommandNo, int32_t TokenNo)
      : lexer_(Lexer), command_(Lexer.CurrentCommandNo), token_(Lexer.GetCurrentTokenNo()) {
    lexer_.CurrentCommandNo = CommandNo;
    lexer_.SetCurrentTokenNo(TokenNo);
  }
  ~TLexerPosition() {
    lexer_.CurrentCommandNo = command_;
    if (token_ >= 0) lexer_.SetCurrentTokenNo(token_);
  }
  TLexerPosition(const TLexerPosition&) = delete;
  TLexerPosition& operator=(const TLexerPosition&) = delete;

 private:
  TORVLexer& lexer_;
  int32_t command_, token_;
};

class TSubqueryNodeFactory : public IORVSubqueryNodeFactory {
 public:
  TORVExprNodePtr CreateSubqueryNode(IORVQueryDataset* Dataset, TORVLexer& Lexer, bool MustHaveOneRow,
                                     bool MustHaveOneField) override {
    auto* query = dynamic_cast<IORVSQLQuery*>(Dataset);
    if (!query) throw std::logic_error("a subquery runs only inside an SQL statement of a query");
    return std::make_unique<TORVExprNodeSubquery>(MustHaveOneField, MustHaveOneRow, query, Lexer);
  }
};

}  // namespace

void RegisterSubqueryNodeFactory() {
  static TSubqueryNodeFactory factory;
  if (!GetSubqueryNodeFactory()) SetSubqueryNodeFactory(&factory);
}

TORVExprNodeSubquery::TORVExprNodeSubquery(bool MustHaveOneField, bool MustHaveOneRow, IORVSQLQuery* Dataset,
                                           TORVLexer& Lexer)
    : TORVExprNode(true, false),
      FMustHaveOneField(MustHaveOneField),
      FMustHaveOneRow(MustHaveOneRow),
      LDataset(Dataset),
      LLexer(&Lexer) {
  FTokenNo = Lexer.GetCurrentTokenNo();
  FCommandNo = Lexer.CurrentCommandNo;
  // Parsing steps over the SELECT and leaves the lexer after it.
  MakeCommand<TORVSQLUnion>(Lexer, Dataset);
  FCorrelated = !CanBeAssigned(nullptr, nullptr, nullptr, false);
}

TORVExprNodeSubquery::~TORVExprNodeSubquery() = default;

std::unique_ptr<TORVSQLUnion> TORVExprNodeSubquery::ParseAgain() {
  TLexerPosition position(*LLexer, FCommandNo, FTokenNo);
  return MakeCommand<TORVSQLUnion>(*LLexer, LDataset);
}

void TORVExprNodeSubquery::AssignCursor(TORVCursor* Cursor, IORVAO* /*ParentQueryAO*/, TORVCursor* /*ParentCursor*/) {
  LCursor = Cursor;
  AssignCursorBuffer(Cursor ? Cursor->GetCurrentRecordBuffer() : nullptr, false);
}

void TORVExprNodeSubquery::AssignCursorBuffer(const void* Buffer, bool /*ApplyToParentQueryFields*/) {
  LCursorRecordBuffer = Buffer;
}

void TORVExprNodeSubquery::AssignAO(IORVAO* AO, IORVAO* /*ParentQueryAO*/, TORVCursor* /*ParentCursor*/) { LAO = AO; }

bool TORVExprNodeSubquery::CanBeAssigned(IORVAO* AO, IORVAO* /*ParentQueryAO*/, TORVCursor* /*ParentCursor*/,
                                         bool /*ForHavingClause*/) {
  std::unique_ptr<TORVSQLUnion> command = ParseAgain();
  try {
    std::unique_ptr<TORVAO> tree = command->BuildAOTree(LDataset, true, AO, nullptr, true);
    return command->AllConditionsApplied();
  } catch (const EORVException&) {
    // A nested query whose select list reads the outer row cannot be built without it.
    return false;
  }
}

TORVAdvancedFieldType TORVExprNodeSubquery::GetDataType() {
  std::unique_ptr<TORVSQLUnion> command = ParseAgain();
  std::unique_ptr<TORVAO> tree = command->BuildAOTree(LDataset, true, nullptr, nullptr, true);
  return tree->GetFieldType(tree->GetFieldNoByVisibleNumber(0));
}

int32_t TORVExprNodeSubquery::GetDataSize() {
  std::unique_ptr<TORVSQLUnion> command = ParseAgain();
  std::unique_ptr<TORVAO> tree = command->BuildAOTree(LDataset, true, nullptr, nullptr, true);
  return tree->GetFieldSize(tree->GetFieldNoByVisibleNumber(0));
}

bool TORVExprNodeSubquery::RunQueryAndCheckResults(TCheckResultsMethod CheckMethod) {
  if (!FCorrelated && FSubquery) return (this->*CheckMethod)();
  FSubquery = ParseAgain();
  // The nested query's references to the outer record read the record under test.
  void* saved_buffer = nullptr;
  const bool replace = LCursor && LCursorRecordBuffer;
  if (replace) {
    saved_buffer = LCursor->FCurrentRecordBuffer;
    LCursor->FCurrentRecordBuffer = const_cast<void*>(LCursorRecordBuffer);
  }
  bool result = false;
  try {
    bool read_only = true;
    ++FRunCount;
    FSubquery->ExecSQL(LDataset, true, true, read_only, LAO, LCursor);
    TORVAODataset& ds = Result();
    if (FMustHaveOneField && ds.FieldCount(false) != 1)
      throw EORVException(20246, "Subquery must have only one result field, but subquery's FieldCount=%d",
                          {ds.FieldCount(false)});
    if (FMustHaveOneRow) {
      ds.First();
      if (ds.Eof()) throw EORVException(20249, "Subquery must have one row, but it contains 0 rows");
      ds.Next();
      if (!ds.Eof()) throw EORVException(20247, "Subquery must have only one row");
    }
    result = (this->*CheckMethod)();
  } catch (...) {
    if (replace) LCursor->FCurrentRecordBuffer = saved_buffer;
    FSubquery.reset();
    throw;
  }
  if (replace) LCursor->FCurrentRecordBuffer = saved_buffer;
  if (FCorrelated) FSubquery.reset();
  return result;
}

TORVAODataset& TORVExprNodeSubquery::Result() const {
  TORVAODataset* ds = FSubquery ? FSubquery->GetResultDataset() : nullptr;
  if (!ds) throw EORVException(10513, "Nil pointer occured");
  return *ds;
}

std::string TORVExprNodeSubquery::FirstFieldName() const {
  const TORVFieldDef* def = Result().FieldDef(0, false);
  if (!def) throw EORVException(20246, "Subquery must have only one result field, but subquery's FieldCount=%d", {0});
  return def->Name;
}

// ---- Answers --------------------------------------------------------------------------------------

TORVVariant& TORVExprNodeSubquery::GetDataValue() {
  RunQueryAndCheckResults(&TORVExprNodeSubquery::CheckGetDataValue);
  return Value;
}

bool TORVExprNodeSubquery::CheckGetDataValue() {
  TORVAODataset& ds = Result();
  ds.First();
  if (ds.Eof() || ds.FieldCount(false) == 0) {
    Value.SetNull();
    return true;
  }
  TORVVariant v;
  ds.GetFieldValue(v, 0, false);
  Value.Assign(v, true);
  return true;
}

void TORVExprNodeSubquery::ResetSubqueryFieldValues() {
  RunQueryAndCheckResults(&TORVExprNodeSubquery::CheckGetFieldValues);
}

TORVVariant* TORVExprNodeSubquery::GetSubqueryFieldValue(int32_t FieldNo) {
  if (FieldNo < 0 || static_cast<size_t>(FieldNo) >= FFieldValues.size()) return nullptr;
  return FFieldValues[static_cast<size_t>(FieldNo)].get();
}

bool TORVExprNodeSubquery::CheckGetFieldValues() {
  TORVAODataset& ds = Result();
  FFieldValues.clear();
  ds.First();
  for (int32_t i = 0; i < ds.FieldCount(false); ++i) {
    auto value = std::make_unique<TORVVariant>();
    if (!ds.Eof()) {
      TORVVariant v;
      ds.GetFieldValue(v, i, false);
      value->Assign(v, true);
    }
    FFieldValues.push_back(std::move(value));
  }
  return true;
}

bool TORVExprNodeSubquery::Exists() { return RunQueryAndCheckResults(&TORVExprNodeSubquery::CheckExists); }

bool TORVExprNodeSubquery::CheckExists() {
  TORVAODataset& ds = Result();
  ds.First();
  return !ds.Eof();
}

bool TORVExprNodeSubquery::IsValueIn(const TORVVariant& Value) {
  // A NULL equals nothing, not even a NULL of the subquery's result.
  if (Value.IsNull()) return false;
  LValueToCheck = &Value;
  return RunQueryAndCheckResults(&TORVExprNodeSubquery::CheckIsValueIn);
}

bool TORVExprNodeSubquery::CheckIsValueIn() {
  const auto locate = [&] {
    ++FLocateCount;
    return Result().Cursor().Locate(FirstFieldName(), {LValueToCheck->GetDataAsVariant()}, false, false);
  };
  if (FCorrelated) return locate();
  if (!FPriorResultInitalized || LValueToCheck->Compare(FPriorValueToCheck, false, false, false) != cmprEqual) {
    FPriorResult = locate();
    FPriorValueToCheck.Assign(*LValueToCheck, true);
    FPriorResultInitalized = true;
  }
  return FPriorResult;
}

bool TORVExprNodeSubquery::QuantifiedCompare(TORVDataOperator Operator, TORVQuantifier Quantifier,
                                             const TORVVariant& Value) {
  FCompareOperator = Operator;
  FCompareQuantifier = Quantifier;
  LValueToCheck = &Value;
  return RunQueryAndCheckResults(&TORVExprNodeSubquery::CheckQuantifiedCompare);
}

bool TORVExprNodeSubquery::CheckQuantifiedCompare() {
  TORVAODataset& ds = Result();
  ds.First();
  // No row violates x op ALL (S) over an empty S, so it holds; x op ANY (S) needs a row.
  if (ds.Eof()) return FCompareQuantifier == qALL;
  TORVDataOperator op = ReverseComparisonOperator(FCompareOperator);
  if (FCompareQuantifier == qALL) op = InvertComparisonOperator(op);
  const bool found = ds.Cursor().IsAnyRecordMatchCondition(FirstFieldName(), op, *LValueToCheck);
  return FCompareQuantifier == qALL ? !found : found;
}

}  // namespace orv

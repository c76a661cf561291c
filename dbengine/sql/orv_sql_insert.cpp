#include "dbengine/access/orv_main_database.h"
#include "dbengine/sql/orv_sql_dml.h"
#include "dbengine/sql/orv_sql_select.h"
#include "dbengine/storage/orv_converts.h"
#include "dbengine/storage/orv_except.h"

namespace orv {

namespace {

const TTokenTypes kNameWordOrParam{tktString, tktQuotedString, tktBracketedString, tktReservedWord, tktParameter};
constexpr char kEnd[] = "Unexpected end of SQL command found at line %d, column %d";
constexpr char kTableExpected[] = "Table name expected, but '%s' found at line %d, column %d";
constexpr char kSymbolExpected[] = "')' or ',' symbol expected, but '%s' found at line %d, column %d";

// A column of the temporary copy holds the value, not the generator: autoincrements become
// the integers they produce.
TORVAdvancedFieldType PlainType(TORVAdvancedFieldType Type) {
  switch (Type) {
    case aftAutoInc: return aftInteger;
    case aftAutoIncShortint: return aftShortint;
    case aftAutoIncSmallint: return aftSmallint;
    case aftAutoIncLargeint: return aftLargeint;
    case aftAutoIncByte: return aftByte;
    case aftAutoIncWord: return aftWord;
    case aftAutoIncCardinal: return aftCardinal;
    default: return Type;
  }
}

// One column of the copy's current row into the target's record. A BLOB travels in its stored
// form; a text goes as its characters, so that a computed column wider than the target's
// takes a value that fits.
void CopyColumn(TORVAODataset& From, int32_t FieldNo, TORVSQLTargetTable& To, int32_t ToFieldNo) {
  const TORVFieldDef* def = From.FieldDef(FieldNo, true);
  const TORVFieldDef& to = To.FieldDef(ToFieldNo);
  // Same type and size (the usual case): the cursor copies the bytes.
  if (IsBLOBFieldType(def->BaseFieldType) ||
      (def->BaseFieldType == to.BaseFieldType && def->MemoryDataSize == to.MemoryDataSize)) {
    From.Cursor().CopyFieldValue(FieldNo, true, ToFieldNo, &To.Cursor());
    return;
  }
  TORVVariant linked(bftUnknown);
  From.GetFieldValue(linked, FieldNo, true);
  TORVVariant value(bftUnknown);
  if (linked.IsNull())
    value.SetNull(linked.DataType());
  else if (linked.IsWideStringDataType())
    value.SetDataAsWideString(linked.GetDataAsWideString());
  else if (linked.IsStringDataType())
    value.SetDataAsAnsiString(linked.GetDataAsAnsiString());
  else
    value.Assign(linked, true);
  SetORVVariantIntoField(&value, To, ToFieldNo);
}

}  // namespace

TORVSQLInsert::TORVSQLInsert(TORVLexer& Lexer, IORVSQLQuery* Query) : TORVSQLCommand(Lexer, Query) {}

TORVSQLInsert::~TORVSQLInsert() {
  // The select's operators go before the database component of another file that its table
  // references hold.
  if (InternalSelecter) InternalSelecter->FreeTree();
}

void TORVSQLInsert::Parse() {
  if (!GetCurrentToken()) throw EORVException(30204, "Blank SQL command");
  const auto next_or = [&](int32_t Code) {
    const TToken last = Token;
    if (!GetNextToken()) throw EORVException(Code, kEnd, {last.LineNum, last.ColumnNum});
  };
  next_or(30205);
  if (!IsWord(rwINTO)) RaiseTokenExpected(30206, "INTO");
  next_or(30207);
  if (!IsType(kNameWordOrParam)) RaiseAtToken(30207, kTableExpected);
  if (IsWord(rwMEMORY)) {
    IntoMemory = true;
    next_or(30208);
    if (!IsType(kNameWordOrParam)) RaiseAtToken(30208, kTableExpected);
  }
  TableName = TokenText();
  next_or(30209);
  if (Token.TokenType == tktDot) {
    DatabaseFileName = TableName;
    next_or(30493);
    if (!IsType({tktString, tktQuotedString, tktBracketedString, tktParameter})) RaiseAtToken(30493, kTableExpected);
    TableName = TokenText();
    next_or(30209);
  }
  if (IsWord(rwPASSWORD)) {
    next_or(30210);
    if (!IsType({tktQuotedString, tktParameter}))
      RaiseAtToken(30210, "Quoted password expected (for PASSWORD \"passwordData\"), but '%s' found at line %d, column %d");
    Password = TokenText();
    next_or(30211);
  }
  if (Token.TokenType == tktLeftParenthesis) {
    TToken ahead;
    LLex->LookNextToken(ahead);
    if (IsReservedWord(ahead, rwSELECT)) {
      GetNextToken();
      InternalSelecter = MakeCommand<TORVSQLUnion>(*LLex, LQuery);
      GetCurrentToken();
      if (Token.TokenType != tktRightParenthesis)
        throw EORVException(20256, "Missing symbol ')' at line %d, column %d", {Token.LineNum, Token.ColumnNum});
      GetNextToken();
    } else {
      for (;;) {
        next_or(2156);
        if (!IsType({tktString, tktQuotedString, tktBracketedString, tktReservedWord}))
          RaiseAtToken(2156, "Field name expected, but '%s' found at line %d, column %d");
        FieldNames.push_back(Token.Text);
        next_or(30212);
        if (Token.TokenType == tktRightParenthesis) break;
        if (Token.TokenType != tktComma) RaiseAtToken(30212, kSymbolExpected);
      }
      next_or(30213);
    }
  }
  if (!InternalSelecter) {
    if (IsWord(rwVALUES)) {
      next_or(30214);
      if (Token.TokenType != tktLeftParenthesis)
        RaiseAtToken(30214, "'(' symbol expected, but '%s' found at line %d, column %d");
      ParseValuesList();
    } else {
      if (Token.TokenType != tktLeftParenthesis && !IsWord(rwSELECT) && Token.TokenType != tktRightParenthesis &&
          Token.TokenType != tktNone)
        throw EORVException(30213, kEnd, {Token.LineNum, Token.ColumnNum});
      if (Token.TokenType == tktLeftParenthesis) GetNextToken();
      if (IsWord(rwSELECT)) {
        InternalSelecter = MakeCommand<TORVSQLUnion>(*LLex, LQuery);
        GetCurrentToken();
      }
      if (Token.TokenType == tktRightParenthesis) GetNextToken();
    }
  }
  // Words the statement does not read are a mistake, never something to drop silently.
  if (GetCurrentToken())
    RaiseAtToken(20260, "End of SQL command expected, but '%s' found at line %d, column %d");
}

void TORVSQLInsert::ParseValuesList() {
  while (Token.TokenType == tktLeftParenthesis) {
    const TToken row_start = Token;
    std::vector<std::unique_ptr<TORVExpression>> row;
    for (;;) {
      const TToken last = Token;
      if (!GetNextToken()) throw EORVException(30203, kEnd, {last.LineNum, last.ColumnNum});
      const TToken start = Token;
      auto expr = std::make_unique<TORVExpression>();
      expr->FInMemory = LQuery && LQuery->GetInMemory();
      expr->ParseForValueExpression(LQuery, LLex);
      GetCurrentToken();
      if (expr->IsEmpty())
        throw EORVException(30357, "Error parsing parameter '%s' at line %d, column %d",
                            {start.Text, start.LineNum, start.ColumnNum});
      row.push_back(std::move(expr));
      if (Token.TokenType == tktRightParenthesis) break;
      // Only a comma separates two values: "VALUES (1 2)" is a typo, not two values.
      if (Token.TokenType != tktComma) {
        if (Token.TokenType == tktNone) throw EORVException(30203, kEnd, {last.LineNum, last.ColumnNum});
        RaiseAtToken(30212, kSymbolExpected);
      }
    }
    // Every row must fit the column list, not only the first: a longer later row would
    // otherwise be written by position into the table's other fields.
    if (!FieldNames.empty() && FieldNames.size() != row.size())
      throw EORVException(20259,
                          "Number of field names does not equal the number of field values: %d <> %d. Found at line "
                          "%d, column %d",
                          {static_cast<int32_t>(FieldNames.size()), static_cast<int32_t>(row.size()),
                           row_start.LineNum, row_start.ColumnNum});
    FieldValues.push_back(std::move(row));
    if (!GetNextToken()) return;
    if (Token.TokenType != tktComma) return;
    if (!GetNextToken()) throw EORVException(30203, kEnd, {Token.LineNum, Token.ColumnNum});
    if (Token.TokenType != tktLeftParenthesis)
      RaiseAtToken(30214, "'(' symbol expected, but '%s' found at line %d, column %d");
  }
}

void TORVSQLInsert::ExecSQL(IORVSQLQuery* Query, bool /*IsRoot*/, bool /*RequestLive*/, bool& /*ReadOnly*/,
                            IORVAO* /*ParentQueryAO*/, TORVCursor* /*ParentCursor*/) {
  RowsAffected = 0;
  std::unique_ptr<TORVDatabase> db;
  TORVBaseSession* session = CreateDbAndTableComponents(Query, DatabaseFileName, Password, IntoMemory, db);
  TORVSQLTargetTable target;
  target.Open(session, TableName);
  if (InternalSelecter)
    InsertSelect(Query, target);
  else
    InsertValues(target);
  target.Close();
}

void TORVSQLInsert::InsertValues(TORVSQLTargetTable& Target) {
  for (auto& row : FieldValues) {
    const bool by_name = FieldNames.size() == row.size();
    if (!by_name && static_cast<int32_t>(row.size()) > Target.FieldCount())
      throw EORVException(20259,
                          "Number of field names does not equal the number of field values: %d <> %d. Found at line "
                          "%d, column %d",
                          {Target.FieldCount(), static_cast<int32_t>(row.size()), 0, 0});
    Target.Insert();
    try {
      for (size_t k = 0; k < row.size(); ++k) {
        int32_t field = static_cast<int32_t>(k);
        if (by_name) {
          field = Target.FieldNo(FieldNames[k]);
          if (field < 0)
            throw EORVException(30258, "Field '%s' not found in table '%s'", {FieldNames[k], TableName});
        }
        TORVVariant* value = row[k]->GetValue(true);
        if (!value)
          throw EORVException(30356, "Parameter Value undefined (FieldName='%s', Type='%s')",
                              {Target.FieldDef(field).Name, AftToStr(Target.FieldDef(field).AdvancedFieldType)});
        SetORVVariantIntoField(value, Target, field);
      }
      Target.Post();
    } catch (...) {
      Target.Cancel();
      throw;
    }
    ++RowsAffected;
  }
}

void TORVSQLInsert::InsertSelect(IORVSQLQuery* Query, TORVSQLTargetTable& Target) {
  bool read_only = true;
  InternalSelecter->ExecSQL(Query, true, false, read_only, nullptr, nullptr);
  TORVAODataset* source = InternalSelecter->GetResultDataset();
  if (!source || !source->Active()) return;
  const int32_t count = source->FieldCount(false);
  std::vector<int32_t> targets(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) {
    if (!FieldNames.empty()) {
      if (i >= static_cast<int32_t>(FieldNames.size()))
        throw EORVException(20259,
                            "Number of field names does not equal the number of field values: %d <> %d. Found at "
                            "line %d, column %d",
                            {static_cast<int32_t>(FieldNames.size()), count, 0, 0});
      targets[static_cast<size_t>(i)] = Target.FieldNo(FieldNames[static_cast<size_t>(i)]);
      if (targets[static_cast<size_t>(i)] < 0)
        throw EORVException(30258, "Field '%s' not found in table '%s'", {FieldNames[static_cast<size_t>(i)], TableName});
    } else {
      if (i >= Target.FieldCount())
        throw EORVException(20259,
                            "Number of field names does not equal the number of field values: %d <> %d. Found at "
                            "line %d, column %d",
                            {Target.FieldCount(), count, 0, 0});
      targets[static_cast<size_t>(i)] = i;
    }
  }

  // The query's rows are copied before the first one is inserted, so that a query over the
  // target reads the table as it was. A copy that fails stops the statement with its log.
  TORVAODataset copy(Query->GetTempSession(), Query->GetTempSession());
  copy.DisableTempFiles = Query->GetInMemory() || Query->GetDisableTempFiles();
  {
    TORVFieldDefs defs;
    for (int32_t i = 0; i < count; ++i) {
      const TORVFieldDef* from = source->FieldDef(i, false);
      TORVFieldDef* def = defs.AddCreated();
      def->Name = "F" + std::to_string(i);
      def->SetFieldDefDataType(PlainType(from->AdvancedFieldType), from->FieldSize);
    }
    std::string log;
    try {
      copy.CreateTemporary(defs, TORVIndexDefs());
      for (source->First(); !source->Eof(); source->Next()) {
        copy.Append();
        for (int32_t i = 0; i < count; ++i) source->CopyFieldValue(i, false, copy, i);
        copy.Post(false);
      }
    } catch (const std::exception& e) {
      log = e.what();
    }
    if (!log.empty())
      throw EORVException(10403, "Error importing table. Cannot copy data due to error: %s\r\n", {log});
  }
  InternalSelecter->FreeTree();

  const bool transaction = Target.InTransaction();
  if (!transaction && !Target.LockForStatement(TORVSQLChangeWaits::LockTries, TORVSQLChangeWaits::LockPauseMs, false,
                                               nullptr))
    throw EORVException(20224, "Table is locked");
  TORVLocalCursor& cursor = Target.Cursor();
  if (!transaction) cursor.BeginBatchUpdate();
  try {
    for (copy.First(); !copy.Eof(); copy.Next()) {
      Target.Insert();
      try {
        for (int32_t i = 0; i < count; ++i) CopyColumn(copy, i, Target, targets[static_cast<size_t>(i)]);
        Target.Post();
      } catch (...) {
        Target.Cancel();
        throw;
      }
      ++RowsAffected;
    }
  } catch (...) {
    if (!transaction) {
      try {
        cursor.CancelBatchUpdate();
      } catch (...) {
      }
    }
    Target.UnlockAfterStatement();
    throw;
  }
  if (!transaction) cursor.EndBatchUpdate();
  Target.UnlockAfterStatement();
}

}  // namespace orv

#include "dbengine/sql/orv_sql_ddl.h"

#include <limits>

#include "dbengine/access/orv_main_database.h"
#include "dbengine/access/orv_main_table.h"
#include "dbengine/sql/orv_expressions.h"
#include "dbengine/storage/orv_converts.h"
#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_str_utils.h"

namespace orv {

namespace {

const TTokenTypes kNameOrWord{tktString, tktQuotedString, tktBracketedString, tktReservedWord};
constexpr char kEnd[] = "Unexpected end of SQL command found at line %d, column %d";
constexpr char kSymbolExpected[] = "')' or ',' symbol expected, but '%s' found at line %d, column %d";

bool IsLengthType(TORVAdvancedFieldType Type) {
  return Type == aftChar || Type == aftString || Type == aftWideChar || Type == aftWideString || Type == aftBytes ||
         Type == aftVarBytes;
}

bool IsAutoincType(TORVAdvancedFieldType Type) {
  return Type == aftAutoInc || Type == aftAutoIncShortint || Type == aftAutoIncSmallint ||
         Type == aftAutoIncLargeint || Type == aftAutoIncByte || Type == aftAutoIncWord || Type == aftAutoIncCardinal;
}

// An error of the table component, raised again with the statement's code around its text.
template <class Body>
void Wrapped(int32_t Code, const char* Text, Body&& body) {
  try {
    body();
  } catch (const std::exception& e) {
    throw EORVException(Code, Text, {std::string(e.what())});
  }
}

std::string Joined(const std::vector<std::string>& Items, const char* Separator) {
  std::string s;
  for (const std::string& item : Items) s += (s.empty() ? "" : Separator) + item;
  return s;
}

}  // namespace

std::unique_ptr<TORVTable> MakeStatementTable(IORVSQLQuery* Query, const std::string& DatabaseFileName,
                                              const std::string& Password, bool InMemory,
                                              const std::string& TableName, std::unique_ptr<TORVDatabase>& Db) {
  TORVSQLCommand::CreateDbAndTableComponents(Query, DatabaseFileName, Password, InMemory, Db);
  auto table = std::make_unique<TORVTable>();
  table->SetSessionName(Query->GetSessionName());
  if (Db)
    table->SetDatabaseName(Db->DatabaseName());
  else if (InMemory || Query->GetInMemory())
    table->SetDatabaseName("MEMORY");
  else
    table->SetDatabaseName(Query->GetDatabaseName());
  table->SetTableName(TableName);
  return table;
}

// ---- Parsing shared by the table statements ----------------------------------------------------

bool TORVDDLTableManipulation::IsText(const char* Word) const {
  return (Token.TokenType == tktReservedWord || Token.TokenType == tktString) && AnsiUpperCase(Token.Text) == Word;
}

void TORVDDLTableManipulation::Parse() {
  TToken next;
  if (Token.TokenType != tktNone && LLex->LookNextToken(next))
    throw EORVException(30246, "Unexpected token '%s' found at line %d, column %d",
                        {next.Text, next.LineNum, next.ColumnNum});
}

void TORVDDLTableManipulation::ParseTableName() {
  bool in_memory = false;
  ParseTableNameToken(DatabaseName, TableName, TableAlias, Password, in_memory);
  IntoMemory = in_memory;
}

void TORVDDLTableManipulation::ParseTableElementList() {
  if (Token.TokenType != tktLeftParenthesis) RaiseTokenExpected(30226, "(");
  for (;;) {
    GetNextToken(kNameOrWord, 30227, "Field name expected, but '%s' found at line %d, column %d");
    if (!ParsePrimaryKey() && !ParseIndex()) {
      auto def = std::make_unique<TSQLFieldDef>();
      if (IsWord(rwIF)) {
        GetNextToken({}, 0, "");
        if (!IsWord(rwNOT)) RaiseTokenExpected(30488, "NOT");
        GetNextToken({}, 0, "");
        if (!IsWord(rwEXISTS)) RaiseTokenExpected(30489, "EXISTS");
        GetNextToken(kNameOrWord, 30227, "Field name expected, but '%s' found at line %d, column %d");
        def->CreateIfNotExists = true;
      }
      def->FieldName = Token.Text;
      GetNextToken({tktString, tktBracketedString, tktReservedWord}, 30228,
                   "Field type expected, but '%s' found at line %d, column %d");
      FillColumnType(*def);
      while (Token.TokenType != tktNone && Token.TokenType != tktComma && Token.TokenType != tktRightParenthesis)
        ParseColumnOption(*def);
      SQLFieldDefs.push_back(std::move(def));
    }
    if (Token.TokenType == tktRightParenthesis) return;
    if (Token.TokenType == tktNone)
      throw EORVException(30161, kEnd, {Token.LineNum, Token.ColumnNum});
    if (Token.TokenType != tktComma) RaiseAtToken(30229, kSymbolExpected);
  }
}

void TORVDDLTableManipulation::FillColumnType(TSQLFieldDef& FieldDef) {
  TORVAdvancedFieldType type = GetFieldType(Token.Text);
  if (type == aftUnknown) RaiseAtToken(30232, "Unknown field type '%s' at line %d, column %d");
  FieldDef.FieldType = type;
  FieldDef.Length = 0;
  GetNextToken();
  if (IsLengthType(type)) {
    if (Token.TokenType != tktLeftParenthesis) RaiseAtToken(30233, "'(' symbol expected, but '%s' found at line %d, column %d");
    GetNextToken({tktInt}, 30235, "Decimal constant expected, but '%s' found at line %d, column %d");
    if (Token.Text.size() > 9) RaiseAtToken(30235, "Decimal constant expected, but '%s' found at line %d, column %d");
    FieldDef.Length = std::stoi(Token.Text);
    GetNextToken({}, 0, "");
    if (Token.TokenType != tktRightParenthesis) RaiseAtToken(30236, kSymbolExpected);
    GetNextToken();
    return;
  }
  if (!IsAutoincType(type) || Token.TokenType != tktLeftParenthesis) return;
  for (;;) {
    const TToken last = Token;
    if (!GetNextToken()) throw EORVException(30290, kEnd, {last.LineNum, last.ColumnNum});
    if (Token.TokenType == tktRightParenthesis) break;
    if (Token.TokenType == tktComma) continue;
    if (IsText("INCREMENT")) {
      FieldDef.AutoincIncrement = ParseInteger();
    } else if (IsText("INITIALVALUE") || IsText("STARTVALUE")) {
      FieldDef.AutoincLastValue = ParseInteger();
    } else if (IsText("MINVALUE")) {
      FieldDef.AutoincMinValue = ParseInteger();
    } else if (IsText("MAXVALUE")) {
      FieldDef.AutoincMaxValue = ParseInteger();
    } else if (IsText("CYCLED")) {
      FieldDef.AutoincCycled = true;
    } else if (IsText("NOCYCLED")) {
      FieldDef.AutoincCycled = false;
    } else if (IsText("NOMINVALUE")) {
      FieldDef.AutoincMinValue = 0;
    } else if (IsText("NOMAXVALUE")) {
      FieldDef.AutoincMaxValue = std::numeric_limits<int64_t>::max();
    } else if (type == aftAutoInc && GetFieldType(Token.Text) != aftUnknown) {
      const TORVAdvancedFieldType base = GetFieldType(Token.Text);
      switch (base) {
        case aftShortint: FieldDef.FieldType = aftAutoIncShortint; break;
        case aftSmallint: FieldDef.FieldType = aftAutoIncSmallint; break;
        case aftInteger: FieldDef.FieldType = aftAutoInc; break;
        case aftLargeint: FieldDef.FieldType = aftAutoIncLargeint; break;
        case aftByte: FieldDef.FieldType = aftAutoIncByte; break;
        case aftWord: FieldDef.FieldType = aftAutoIncWord; break;
        case aftCardinal: FieldDef.FieldType = aftAutoIncCardinal; break;
        default:
          if (!IsAutoincType(base)) RaiseAtToken(30295, "Unsupported Autoinc DataType (%s) found at line %d, column %d");
          FieldDef.FieldType = base;
      }
    } else {
      RaiseAtToken(30294, "Unexpected token '%s' found at line %d, column %d");
    }
  }
  GetNextToken();
}

int64_t TORVDDLTableManipulation::ParseInteger() {
  GetNextToken({tktInt}, 30292, "Integer expected, but '%s' found at line %d, column %d");
  try {
    size_t used = 0;
    const long long value = std::stoll(Token.Text, &used);
    if (used != Token.Text.size()) throw std::out_of_range(Token.Text);
    return value;
  } catch (const std::exception&) {
    RaiseAtToken(30291, "Integer expected, but '%s' found at line %d, column %d");
  }
}

void TORVDDLTableManipulation::ParseColumnOption(TSQLFieldDef& FieldDef) {
  const auto add_index = [&](bool Primary) {
    TORVSQLIndex index;
    index.Primary = Primary;
    index.Unique = !Primary;
    index.IndexFields.push_back({FieldDef.FieldName, false, false});
    Indexes.push_back(std::move(index));
  };
  if (IsWord(rwNOT)) {
    GetNextToken({tktReservedWord}, 30237, "'NULL' expected (for NOT NULL), but '%s' found at line %d, column %d");
    if (!IsWord(rwNULL)) RaiseAtToken(2011, "'NULL' expected (for NOT NULL), but '%s' found at line %d, column %d");
    FieldDef.Required = true;
    GetNextToken();
  } else if (IsWord(rwNULL)) {
    FieldDef.Required = false;
    GetNextToken();
  } else if (IsText("BLOBBLOCKSIZE")) {
    const int64_t size = ParseInteger();
    if (size <= 0 || size > std::numeric_limits<int32_t>::max())
      RaiseAtToken(30291, "Integer expected, but '%s' found at line %d, column %d");
    FieldDef.BlobBlockSize = static_cast<int32_t>(size);
    GetNextToken();
  } else if (IsText("BLOBCOMPRESSIONMODE")) {
    const int64_t mode = ParseInteger();
    if (mode < 0 || mode > 9) RaiseAtToken(30291, "Integer expected, but '%s' found at line %d, column %d");
    FieldDef.BlobCompressionMode = static_cast<uint8_t>(mode);
    GetNextToken();
  } else if (IsText("BLOBCOMPRESSIONALGORITHM")) {
    GetNextToken({}, 0, "");
    const std::string name = AnsiUpperCase(Token.Text);
    FieldDef.BlobCompressionAlgorithm = name == "ZLIB" ? caZLIB : name == "BZIP" ? caBZIP : name == "PPM" ? caPPM : caNone;
    GetNextToken();
  } else if (IsWord(rwDEFAULT)) {
    ParseDefaultValue(FieldDef);
  } else if (IsText("MINVALUE") || IsText("MAXVALUE")) {
    // An integer as the bound of a number column; a decimal number or a quoted text too, as
    // the table's exported script writes the bounds of other columns.
    const bool min = IsText("MINVALUE");
    GetNextToken({}, 0, "");
    std::string sign;
    if (Token.TokenType == tktString && (Token.Text == "-" || Token.Text == "+")) {
      sign = Token.Text;
      GetNextToken({}, 0, "");
    }
    auto value = std::make_unique<TORVVariant>(bftUnknown);
    try {
      const std::string number = sign + Token.Text;
      size_t used = 0;
      if (Token.TokenType == tktInt)
        value->SetDataAsSignedInt64(std::stoll(number, &used));
      else if (Token.TokenType == tktFloat)
        value->SetDataAsDouble(std::stod(number, &used));
      else if (Token.TokenType == tktQuotedString && sign.empty())
        value->SetDataAsAnsiString(Token.Text);
      else
        throw std::invalid_argument(Token.Text);
      if (Token.TokenType != tktQuotedString && used != number.size()) throw std::invalid_argument(number);
    } catch (const std::exception&) {
      RaiseAtToken(30292, "Integer expected, but '%s' found at line %d, column %d");
    }
    (min ? FieldDef.MinValue : FieldDef.MaxValue) = std::move(value);
    GetNextToken();
  } else if (IsText("NOMINVALUE") || IsText("NOMAXVALUE")) {
    (IsText("NOMINVALUE") ? FieldDef.MinValue : FieldDef.MaxValue) = std::make_unique<TORVVariant>(bftUnknown);
    GetNextToken();
  } else if (IsWord(rwPRIMARY)) {
    add_index(true);
    GetNextToken();
    if (IsWord(rwKEY)) GetNextToken();
  } else if (IsWord(rwUNIQUE)) {
    add_index(false);
    GetNextToken();
  } else {
    // A word that is no option is a mistake: "b VARCHAR(5) UNIQE" must not make a column
    // without its index and without a word of complaint.
    RaiseAtToken(30229, kSymbolExpected);
  }
  if (Token.TokenType != tktNone && !IsType(kNameOrWord) && Token.TokenType != tktComma &&
      Token.TokenType != tktRightParenthesis)
    RaiseAtToken(30229, kSymbolExpected);
}

void TORVDDLTableManipulation::ParseDefaultValue(TSQLFieldDef& FieldDef) {
  GetNextToken({}, 0, "");
  const std::string upper = AnsiUpperCase(Token.Text);
  if ((IsType({tktString, tktReservedWord, tktQuotedString})) &&
      (upper == "NOW" || upper == "CURRENT_TIMESTAMP" || upper == "CURRENT_TIME" || upper == "CURRENT_DATE" ||
       upper == "SYSDATE")) {
    FieldDef.DefaultValue = std::make_unique<TORVVariant>(bftUnknown);
    FieldDef.DefaultValue->SetDataAsAnsiString(upper);
    GetNextToken();
    return;
  }
  // A quoted text alone is stored as a literal; followed by an operator it starts an expression.
  TToken after;
  const bool alone = !LLex->LookNextToken(after) || after.TokenType == tktComma ||
                     after.TokenType == tktRightParenthesis || after.TokenType == tktReservedWord;
  if (Token.TokenType == tktQuotedString && alone) {
    FieldDef.DefaultValue = std::make_unique<TORVVariant>(bftUnknown);
    FieldDef.DefaultValue->SetDataAsAnsiString("\"" + Token.Text + "\"");
    GetNextToken();
    return;
  }
  if (FieldDef.DefaultFromExpression)
    throw EORVException(30299, "default value for column '%s' declared twice", {FieldDef.FieldName});
  const TToken start = Token;
  TORVExpression expr;
  expr.ParseForValueExpression(LQuery, LLex);
  GetCurrentToken();
  if (expr.IsEmpty())
    throw EORVException(30297, "Error parsing parameter '%s' at line %d, column %d",
                        {start.Text, start.LineNum, start.ColumnNum});
  TORVVariant* value = nullptr;
  try {
    value = expr.GetValue(true);
  } catch (const std::exception&) {
    throw EORVException(30297, "Error parsing parameter '%s' at line %d, column %d",
                        {start.Text, start.LineNum, start.ColumnNum});
  }
  // The default keeps the type of the value the expression gives (3 for 1 + 2, 2.5 for
  // 5 / 2.0, none for NULL), so that the column's default reads back as that value.
  auto stored = std::make_unique<TORVVariant>(bftUnknown);
  if (value && !value->IsNull()) {
    if (value->IsStringDataType() || value->IsWideStringDataType())
      stored->SetDataAsAnsiString("\"" + value->GetDataAsAnsiString() + "\"");
    else
      stored->Assign(*value, true);
  }
  FieldDef.DefaultValue = std::move(stored);
  FieldDef.DefaultFromExpression = true;
}

bool TORVDDLTableManipulation::ParsePrimaryKey() {
  if (!IsWord(rwPRIMARY)) return false;
  TORVSQLIndex index;
  index.Primary = true;
  GetNextToken({}, 0, "");
  if (IsWord(rwKEY)) GetNextToken({}, 0, "");
  ParseNamedIndex(index);
  return true;
}

void TORVDDLTableManipulation::ParseNamedIndex(TORVSQLIndex& Index) {
  if (Token.TokenType != tktLeftParenthesis) {
    if (!IsType(kNameOrWord)) RaiseAtToken(30269, "index name expected, but '%s' found at line %d, column %d");
    Index.IndexName = Token.Text;
    GetNextToken({}, 0, "");
  }
  ParseIndexFields(Index);
  Indexes.push_back(std::move(Index));
}

bool TORVDDLTableManipulation::ParseIndex() {
  if (!IsWord(rwUNIQUE) && !IsWord(rwINDEX)) return false;
  TORVSQLIndex index;
  if (IsWord(rwUNIQUE)) {
    index.Unique = true;
    GetNextToken({tktReservedWord}, 30267, "'INDEX' keyword expected, but '%s' found at line %d, column %d");
    if (!IsWord(rwINDEX)) RaiseAtToken(30268, "'INDEX' keyword expected, but '%s' found at line %d, column %d");
  }
  GetNextToken({}, 0, "");
  ParseNamedIndex(index);
  return true;
}

void TORVDDLTableManipulation::ParseIndexFields(TORVSQLIndex& Index) {
  if (Token.TokenType != tktLeftParenthesis)
    RaiseAtToken(30273, "'(' symbol expected, but '%s' found at line %d, column %d");
  for (;;) {
    GetNextToken(kNameOrWord, 30274, "Field name expected, but '%s' found at line %d, column %d");
    TORVIndexField field{Token.Text, false, false};
    for (;;) {
      GetNextToken({}, 0, "");
      if (IsWord(rwASC))
        field.desc = false;
      else if (IsWord(rwDESC))
        field.desc = true;
      else if (IsWord(rwCASE))
        field.nocase = false;
      else if (IsWord(rwNOCASE))
        field.nocase = true;
      else
        break;
    }
    Index.IndexFields.push_back(field);
    if (Token.TokenType == tktRightParenthesis) break;
    if (Token.TokenType != tktComma) RaiseAtToken(30276, kSymbolExpected);
  }
  GetNextToken();
}

// ---- Components ------------------------------------------------------------------------------

std::unique_ptr<TORVTable> TORVDDLTableManipulation::CreateInternalORVTable(IORVSQLQuery* Query,
                                                                           std::unique_ptr<TORVDatabase>& Db,
                                                                           bool FillAdvFieldDefs) {
  std::unique_ptr<TORVTable> table = MakeStatementTable(Query, DatabaseName, Password, IntoMemory, TableName, Db);
  if (FillAdvFieldDefs) {
    table->AdvFieldDefs().Clear();
    for (const auto& def : SQLFieldDefs) FillAdvFieldDef(*table->AdvFieldDefs().AddFieldDef(), *def);
  }
  return table;
}

void TORVDDLTableManipulation::FillAdvFieldDef(TORVAdvFieldDef& AdvFieldDef, const TSQLFieldDef& SQLFieldDef) {
  AdvFieldDef.Name = SQLFieldDef.FieldName;
  if (SQLFieldDef.FieldType) AdvFieldDef.DataType = *SQLFieldDef.FieldType;
  if (SQLFieldDef.Length) AdvFieldDef.Size = *SQLFieldDef.Length;
  if (SQLFieldDef.Required) AdvFieldDef.Required = *SQLFieldDef.Required;
  if (SQLFieldDef.AutoincIncrement) AdvFieldDef.AutoincIncrement = *SQLFieldDef.AutoincIncrement;
  if (SQLFieldDef.AutoincLastValue) AdvFieldDef.AutoincInitialValue = *SQLFieldDef.AutoincLastValue;
  if (SQLFieldDef.AutoincMinValue) AdvFieldDef.AutoincMinValue = *SQLFieldDef.AutoincMinValue;
  if (SQLFieldDef.AutoincMaxValue) AdvFieldDef.AutoincMaxValue = *SQLFieldDef.AutoincMaxValue;
  if (SQLFieldDef.AutoincCycled) AdvFieldDef.AutoincCycled = *SQLFieldDef.AutoincCycled;
  if (SQLFieldDef.BlobBlockSize) AdvFieldDef.BLOBBlockSize = *SQLFieldDef.BlobBlockSize;
  if (SQLFieldDef.BlobCompressionAlgorithm) AdvFieldDef.BLOBCompressionAlgorithm = *SQLFieldDef.BlobCompressionAlgorithm;
  if (SQLFieldDef.BlobCompressionMode) AdvFieldDef.BLOBCompressionMode = *SQLFieldDef.BlobCompressionMode;
  const auto copy = [](std::unique_ptr<TORVVariant>& To, const std::unique_ptr<TORVVariant>& From) {
    if (!From) return;
    To = std::make_unique<TORVVariant>(bftUnknown);
    To->Assign(*From, true);
  };
  copy(AdvFieldDef.DefaultValue, SQLFieldDef.DefaultValue);
  copy(AdvFieldDef.MinValue, SQLFieldDef.MinValue);
  copy(AdvFieldDef.MaxValue, SQLFieldDef.MaxValue);
}

void TORVDDLTableManipulation::AddIndexes(TORVTable& Table) {
  Table.IndexDefs().Clear();
  for (const TORVSQLIndex& index : Indexes) {
    std::string name = index.IndexName;
    std::vector<std::string> fields, desc, nocase;
    for (const TORVIndexField& f : index.IndexFields) {
      fields.push_back(f.FieldName);
      if (f.desc) desc.push_back(f.FieldName);
      if (f.nocase) nocase.push_back(f.FieldName);
    }
    if (name.empty()) {
      name = index.Primary ? "C_PK" : index.Unique ? "C_Unique" : "i";
      for (const std::string& f : fields) name += "$" + f;
    }
    TIndexOptions options;
    if (index.Unique) options.Include(platform::data::ixUnique);
    if (index.Primary) options.Include(platform::data::ixPrimary);
    Table.AdvIndexDefs().Add(name, Joined(fields, ","), options, false, Joined(desc, ","), Joined(nocase, ","));
    Table.RestructureIndexDefs().Add(name, Joined(fields, ","), options, false, Joined(desc, ","),
                                     Joined(nocase, ","));
  }
}

// ---- CREATE, DROP, TRUNCATE --------------------------------------------------------------------

void TORVDDLCreateTable::Parse() {
  const TToken head = Token;
  if (!GetNextToken()) throw EORVException(30249, "Blank SQL command");
  if (IsWord(rwIF)) {
    GetNextToken({}, 0, "");
    if (!IsWord(rwNOT)) RaiseTokenExpected(30486, "NOT");
    GetNextToken({}, 0, "");
    if (!IsWord(rwEXISTS)) RaiseTokenExpected(30487, "EXISTS");
    GetNextToken({}, 0, "");
    FCreateIfNotExists = true;
  }
  ParseTableName();
  if (Token.TokenType == tktNone) throw EORVException(30226, "Token '%s' expected, but '%s' found at line %d, column %d",
                                                      {"(", "", head.LineNum, head.ColumnNum});
  ParseTableElementList();
  TORVDDLTableManipulation::Parse();
}

void TORVDDLCreateTable::ExecSQL(IORVSQLQuery* Query, bool, bool, bool&, IORVAO*, TORVCursor*) {
  std::unique_ptr<TORVDatabase> db;
  std::unique_ptr<TORVTable> table = CreateInternalORVTable(Query, db, true);
  if (table->Exists()) {
    if (FCreateIfNotExists) return;
    throw EORVException(30247, "Cannot create table. Table '%s' already exists", {TableName});
  }
  Wrapped(30248, "Error creating table: '%s'", [&] {
    AddIndexes(*table);
    table->CreateTable();
  });
}

void TORVDDLDropTable::Parse() {
  if (!GetNextToken()) throw EORVException(30251, "Blank SQL command");
  if (IsWord(rwIF)) {
    GetNextToken({}, 0, "");
    if (!IsWord(rwEXISTS)) RaiseTokenExpected(30485, "EXISTS");
    GetNextToken({}, 0, "");
  }
  ParseTableName();
  if (GetCurrentToken())
    RaiseAtToken(30246, "Unexpected token '%s' found at line %d, column %d");
}

void TORVDDLDropTable::ExecSQL(IORVSQLQuery* Query, bool, bool, bool&, IORVAO*, TORVCursor*) {
  std::unique_ptr<TORVDatabase> db;
  std::unique_ptr<TORVTable> table = CreateInternalORVTable(Query, db, false);
  if (!table->Exists()) return;
  Wrapped(30250, "Error dropping table: '%s'", [&] { table->DeleteTable(); });
}

void TORVDDLTruncateTable::Parse() {
  if (!GetNextToken()) throw EORVException(30490, "Blank SQL command");
  if (IsWord(rwTABLE)) GetNextToken({}, 0, "");
  ParseTableName();
  if (GetCurrentToken())
    RaiseAtToken(30246, "Unexpected token '%s' found at line %d, column %d");
}

void TORVDDLTruncateTable::ExecSQL(IORVSQLQuery* Query, bool, bool, bool&, IORVAO*, TORVCursor*) {
  std::unique_ptr<TORVDatabase> db;
  std::unique_ptr<TORVTable> table = CreateInternalORVTable(Query, db, false);
  Wrapped(30491, "Error truncating table: '%s'", [&] { table->EmptyTable(); });
}

// ---- ALTER and RENAME ----------------------------------------------------------------------------

void TORVDDLAlterTable::Parse() {
  if (!GetNextToken()) throw EORVException(30261, "Blank SQL command");
  ParseTableName();
  ParseAlterTypeToken();
  switch (AlterType) {
    case atAdd:
    case atModify:
      ParseTableElementList();
      break;
    case atDrop:
      // "DROP (a, b)" or "DROP COLUMN a".
      GetNextToken({}, 0, "");
      ParseColumnList(DropColumnNamesList);
      break;
    case atRenameColumn:
      ParseRenameColumnsList();
      break;
    case atRenameTable:
      NewTableName = TokenText();
      break;
  }
}

void TORVDDLAlterTable::ParseAlterTypeToken() {
  static const char* kExpected = "ADD, DROP or MODIFY keyword expected, but '%s' found at line %d, column %d";
  if (Token.TokenType != tktReservedWord) RaiseAtToken(30253, kExpected);
  if (IsWord(rwADD)) {
    AlterType = atAdd;
  } else if (IsWord(rwDROP)) {
    AlterType = atDrop;
  } else if (IsWord(rwMODIFY)) {
    AlterType = atModify;
  } else if (IsWord(rwRENAME)) {
    GetNextToken({}, 0, "");
    if (IsWord(rwTO)) {
      AlterType = atRenameTable;
      GetNextToken({}, 0, "");
    } else {
      AlterType = atRenameColumn;
      if (IsWord(rwCOLUMN)) GetNextToken({}, 0, "");
    }
    return;
  } else {
    RaiseAtToken(30252, kExpected);
  }
  GetNextToken({}, 0, "");
}

void TORVDDLAlterTable::ParseRenameColumnsList() {
  RenameColumnOldNamesList.push_back(Token.Text);
  GetNextToken({}, 0, "");
  if (!IsWord(rwTO)) RaiseTokenExpected(30352, "TO");
  GetNextToken({}, 0, "");
  RenameColumnNewNamesList.push_back(Token.Text);
}

void TORVDDLRenameTable::Parse() {
  if (!GetCurrentToken()) throw EORVException(30354, "Blank SQL command");
  AlterType = atRenameTable;
  ParseTableName();
  if (!IsWord(rwTO)) RaiseTokenExpected(30355, "TO");
  GetNextToken({}, 0, "");
  NewTableName = TokenText();
}

void TORVDDLAlterTable::AddColumn(TORVTable& T) {
  for (const auto& def : SQLFieldDefs) {
    if (T.RestructureFieldDefs().Find(def->FieldName)) {
      if (def->CreateIfNotExists) continue;
      throw EORVException(30351, "Field by name '%s' already exists", {def->FieldName});
    }
    FillAdvFieldDef(*T.RestructureFieldDefs().AddFieldDef(), *def);
  }
}

void TORVDDLAlterTable::DropColumn(TORVTable& T) {
  for (const std::string& name : DropColumnNamesList) {
    if (!T.RestructureFieldDefs().Find(name)) throw EORVException(30259, "Field '%s' not found", {name});
    T.RestructureFieldDefs().DeleteFieldDef(name);
  }
}

void TORVDDLAlterTable::Modify(TORVTable& T) {
  for (const auto& def : SQLFieldDefs) {
    TORVAdvFieldDef* existing = T.RestructureFieldDefs().Find(def->FieldName);
    if (!existing) throw EORVException(30259, "Field '%s' not found", {def->FieldName});
    FillAdvFieldDef(*existing, *def);
  }
}

void TORVDDLAlterTable::RenameColumn(TORVTable& T) {
  for (size_t i = 0; i < RenameColumnOldNamesList.size(); ++i)
    T.RenameField(RenameColumnOldNamesList[i], RenameColumnNewNamesList[i]);
}

void TORVDDLAlterTable::ExecSQL(IORVSQLQuery* Query, bool, bool, bool&, IORVAO*, TORVCursor*) {
  std::unique_ptr<TORVDatabase> db;
  Wrapped(30265, "Error altering table: '%s'", [&] {
    std::unique_ptr<TORVTable> table = CreateInternalORVTable(Query, db, false);
    // Opening loads the table's definitions into the restructure definitions.
    table->Open();
    table->Close();
    switch (AlterType) {
      case atAdd:
        AddColumn(*table);
        break;
      case atDrop:
        DropColumn(*table);
        break;
      case atModify:
        Modify(*table);
        break;
      case atRenameColumn:
        RenameColumn(*table);
        return;
      case atRenameTable:
        table->RenameTable(NewTableName);
        return;
    }
    // New indexes join those the table has.
    if (AlterType != atDrop) AddIndexes(*table);
    std::string log;
    if (!table->RestructureTable(log)) throw EORVException(30347, "Restructure table error: '%s'", {log});
  });
}

}  // namespace orv

// The expression grammar: the trees it builds, written as S-expressions (expr_sexpr.h), and
// every error it raises, one table row per code.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "dbengine/sql/orv_expressions.h"
#include "dbengine/sql/tests/expr_sexpr.h"
#include "dbengine/sql/tests/expr_test_support.h"
#include "dbengine/storage/tests/expect_code.h"

namespace orv {
namespace {

using testing::ExprTable;
using testing::SExpr;

// The statement layer's subquery node stands in here: it steps over the SELECT up to the
// parenthesis that closes it, as parsing the SELECT does.
class SubqueryDouble : public TORVExprNode, public IORVSubqueryNode {
 public:
  SubqueryDouble() : TORVExprNode(true, false) {}
  TORVVariant& GetDataValue() override { return Value; }
  bool Exists() override { return false; }
  bool IsValueIn(const TORVVariant&) override { return false; }
  bool QuantifiedCompare(TORVDataOperator, TORVQuantifier, const TORVVariant&) override { return false; }
};

class SubqueryDoubleFactory : public IORVSubqueryNodeFactory {
 public:
  TORVExprNodePtr CreateSubqueryNode(IORVQueryDataset*, TORVLexer& Lexer, bool, bool) override {
    ++created;
    TToken t;
    int depth = 0;
    while (Lexer.GetCurrentToken(t)) {
      if (t.TokenType == tktLeftParenthesis) ++depth;
      if (t.TokenType == tktRightParenthesis && depth-- == 0) break;
      Lexer.GetNextToken(t);
    }
    return std::make_unique<SubqueryDouble>();
  }
  int created = 0;
};

struct Grammar : ::testing::Test {
  Grammar() : previous(SetSubqueryNodeFactory(&subqueries)) {}
  ~Grammar() override { SetSubqueryNodeFactory(previous); }

  // A filter over the table's fields.
  std::string Filter(const std::string& text, bool CaseInsensitive = false, bool PartialKey = false) {
    TORVExpression e;
    e.ParseForFilter(&table.cursor(), text, CaseInsensitive, PartialKey);
    return SExpr(e.Root());
  }
  // A search condition of an SQL statement (subqueries allowed, parameters bound).
  std::string Condition(const std::string& text) { return Statement(text, true); }
  // A value expression; the first token it left unread follows " | ".
  std::string Value(const std::string& text) { return Statement(text, false); }
  std::string Statement(const std::string& text, bool condition) {
    TORVLexer lexer(text, &params, false);
    lexer.GetNextCommand();
    TORVExpression e;
    e.LCursor = &table.cursor();
    if (condition) {
      e.ParseForBooleanExpression(nullptr, &lexer);
      return SExpr(e.Root());
    }
    e.ParseForValueExpression(nullptr, &lexer);
    std::string s = SExpr(e.Root());
    TToken t;
    if (lexer.GetCurrentToken(t)) s += " | " + t.Text;
    return s;
  }
  TORVSQLParam* Param(const std::string& name, TORVBaseFieldType type) {
    TORVSQLParam* p = params.AddCreated();
    p->Name = name;
    p->Clear(type);
    return p;
  }

  ExprTable table{{{"Name", {aftString, 20}},
                   {"S", {aftString, 20}},
                   {"Age", {aftInteger, 0}},
                   {"X", {aftInteger, 0}},
                   {"Y", {aftInteger, 0}},
                   {"Z", {aftInteger, 0}},
                   {"A", {aftInteger, 0}},
                   {"B", {aftInteger, 0}},
                   {"C", {aftInteger, 0}},
                   {"Price", {aftDouble, 0}},
                   {"D", {aftDate, 0}},
                   {"DT", {aftDateTime, 0}},
                   {"T", {aftTime, 0}},
                   {"Date", {aftDate, 0}}}};
  TORVSQLParams params;
  SubqueryDoubleFactory subqueries;
  IORVSubqueryNodeFactory* previous;
};

struct Case {
  const char* text;
  const char* tree;
};

void ExpectTrees(const std::vector<Case>& cases, const std::function<std::string(const std::string&)>& parse) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      EXPECT_EQ(parse(c.text), c.tree);
    } catch (const std::exception& e) {
      ADD_FAILURE() << e.what();
    }
  }
}

TEST_F(Grammar, BooleanStructure) {
  ExpectTrees(
      {
          {"X = 1 OR Y = 2 OR Z = 3", "(OR (OR (= X 1) (= Y 2)) (= Z 3))"},
          {"X = 1 AND Y = 2 AND Z = 3", "(AND (= X 1) (= Y 2) (= Z 3))"},
          // Nested ANDs under the root AND are flattened into it (moved to its end).
          {"(X = 1 AND Y = 2) AND Z = 3", "(AND (= Z 3) (= X 1) (= Y 2))"},
          {"X = 1 AND (Y = 2 OR Z = 3)", "(AND (= X 1) (OR (= Y 2) (= Z 3)))"},
          {"X = 1 OR Y = 2 AND Z = 3", "(OR (= X 1) (AND (= Y 2) (= Z 3)))"},
          {"NOT X = 1", "(NOT (= X 1))"},
          {"NOT (X = 1 OR Y = 2)", "(NOT (OR (= X 1) (= Y 2)))"},
          {"X IS TRUE", "X"},
          {"X IS NOT FALSE", "X"},
          {"X IS FALSE", "(NOT X)"},
          {"X IS NOT TRUE", "(NOT X)"},
          {"X IS UNKNOWN", "(IS-NULL X)"},
          {"X IS NOT UNKNOWN", "(IS-NOT-NULL X)"},
          {"TRUE", "TRUE"},
          {"X", "X"},
          // What follows the first complete condition of a filter is not read.
          {"X = 1 garbage", "(= X 1)"},
      },
      [&](const std::string& t) { return Filter(t); });
}

TEST_F(Grammar, Predicates) {
  ExpectTrees(
      {
          {"X IN (1, 2, 3)", "(IN X 1 2 3)"},
          {"X NOT IN (1, NULL)", "(NOT-IN X 1 NULL)"},
          {"X BETWEEN 1 AND 5", "(BETWEEN X 1 5)"},
          {"X NOT BETWEEN Y AND Z + 1", "(NOT-BETWEEN X Y (+ Z 1))"},
          {"Name IS NULL", "(IS-NULL Name)"},
          {"Name IS NOT NULL", "(IS-NOT-NULL Name)"},
          {"Price >= 1.5", "(>= Price 1.5)"},
          {"X <> Y", "(<> X Y)"},
          {"-X < 1", "(< (- X) 1)"},
      },
      [&](const std::string& t) { return Filter(t); });
}

TEST_F(Grammar, NullLogicAndTheIsNullRewrite) {
  ExpectTrees(
      {
          // An empty text is stored as NULL: = '' and <> '' ask for NULL.
          {"Name = ''", "(IS-NULL Name)"},
          {"Name <> ''", "(IS-NOT-NULL Name)"},
          {"'' = Name", "(IS-NULL Name)"},
          // A field against a text or date constant is two-valued ...
          {"Name <> 'abc'", "(<>[2v] Name 'abc')"},
          {"Name < 'abc'", "(<[2v] Name 'abc')"},
          {"D > DATE '2024-01-31'", "(>[2v] D DATE'2024-01-31')"},
          {"'abc' = UPPER(Name)", "(=[2v] 'abc' (UPPER Name))"},
          // ... against a number three-valued, and against the word NULL too: never True.
          {"Age <> 5", "(<> Age 5)"},
          {"Age = NULL", "(= Age NULL)"},
          {"Name = NULL", "(= Name NULL)"},
          {"'abc' = NULL", "(= 'abc' NULL)"},
      },
      [&](const std::string& t) { return Filter(t); });
  EXPECT_EQ(Filter("Name <> 'abc'", true), "(<>[2v,ci] Name 'abc')");
}

TEST_F(Grammar, NullParameters) {
  Param("i", bftSignedInt32);
  Param("d", bftDate);
  Param("s", bftVarchar);
  Param("b", bftLogical)->SetDataAsBoolean(true);
  Param("n", bftSignedInt32)->SetDataAsSignedInt32(5);
  EXPECT_EQ(Condition("X = :i"), "(= X NULL)") << "a NULL number stays three-valued";
  EXPECT_EQ(Condition("D = :d"), "(IS-NULL D)") << "a NULL date asks for NULL";
  EXPECT_EQ(Condition("Name <> :s"), "(IS-NOT-NULL Name)");
  EXPECT_EQ(Condition("X = :b"), "(= X TRUE)");
  EXPECT_EQ(Condition("X = :n"), "(= X 5)");
}

TEST_F(Grammar, LikeAndPartialKeys) {
  ExpectTrees(
      {
          // A fixed text and one "%" at its end is a prefix comparison an index can serve.
          {"Name LIKE 'Sm%'", "(=[2v,p] Name 'Sm')"},
          {"Name NOT LIKE 'Sm%'", "(<>[2v,p] Name 'Sm')"},
          {"Name LIKE 'S%h'", "(LIKE Name 'S%h')"},
          {"Name LIKE '%mi%'", "(LIKE Name '%mi%')"},
          {"Name LIKE '%'", "(LIKE Name '%')"},
          {"Name LIKE 'Sm%' ESCAPE '!'", "(LIKE[esc=!] Name 'Sm%')"},
          // "_" is a wildcard: as a prefix it would be compared literally.
          {"Name LIKE 'a_%'", "(LIKE Name 'a_%')"},
          {"Name LIKE S", "(LIKE Name S)"},
          {"Name = 'Sm*'", "(=[2v] Name 'Sm*')"},
      },
      [&](const std::string& t) { return Filter(t); });
  EXPECT_EQ(Filter("Name LIKE 'S%h'", true), "(LIKE[ci] Name 'S%h')");
  EXPECT_EQ(Filter("Name = 'Sm*'", false, true), "(=[2v,p] Name 'Sm')");
  EXPECT_EQ(Filter("'Sm*' <= Name", true, true), "(<=[2v,p,ci] 'Sm' Name)");
  EXPECT_EQ(Filter("Name = 'Sm'", false, true), "(=[2v] Name 'Sm')") << "no \"*\", no partial comparison";
}

TEST_F(Grammar, Arithmetic) {
  ExpectTrees(
      {
          {"X - Y - Z", "(+ X (- Y) (- Z))"},
          {"-X * Y", "(* (- X) Y)"},
          {"2 * 3 + 4", "(+ (* 2 3) 4)"},
          {"X * Y / Z", "(/ (* X Y) Z)"},
          {"X - Y * Z", "(+ X (* (- Y) Z))"},
          {"-(X + 1)", "(- (+ X 1))"},
          {"X - -Y", "(+ X (- (- Y)))"},
          {"2147483646", "2147483646"},
          {"2147483647", "2147483647L"},
          {"9223372036854775807", "9223372036854775807L"},
          {"1.5", "1.5"},
          {"1e3", "1000"},
          {"ABS(-X)", "(ABS (- X))"},
          {"POWER(2, 3)", "(POWER 2 3)"},
          {"ROUND(Price)", "(ROUND Price)"},
          {"ROUND(Price, 2)", "(ROUND Price 2)"},
          {"SQRT(X) + FLOOR(Price)", "(+ (SQRT X) (FLOOR Price))"},
          {"POS('a' IN S) + LENGTH(S)", "(+ (POS 'a' S) (LENGTH S))"},
          {"EXTRACT(YEAR FROM D)", "(EXTRACT YEAR D)"},
          {"ROWNUM", "ROWNUM"},
          {"COUNT(*)", "(COUNT *)"},
          {"COUNT DISTINCT (X)", "(COUNT DISTINCT X)"},
          {"SUM(X * 2)", "(SUM (* X 2))"},
          {"CAST(NULL AS INTEGER)", "(CAST NULL INTEGER)"},
          {"CAST(Name AS VARCHAR(10))", "(CAST Name STRING 10)"},
          {"CAST(X, DOUBLE)", "(CAST X FLOAT)"},
      },
      [&](const std::string& t) { return Value(t); });
  EXPECT_EQ(Value("ROUND(Price, 2, HALFUP)"), "(ROUND Price 2 " + std::to_string(rwHALFUP) + ")");
}

TEST_F(Grammar, StringsDatesAndCase) {
  ExpectTrees(
      {
          {"'a' + 'b'", "(|| 'a' 'b')"},
          {"'a' || 'b'", "(|| 'a' 'b')"},
          {"1 + 2", "(+ 1 2)"},
          {"1 + 2 || 'x'", "(|| 1 2 'x')"},
          {"X || Y", "(|| X Y)"},
          // The operands of || are primaries: the value ends before "*".
          {"A * B || C", "A | *"},
          {"(A * B) || C", "(|| (* A B) C)"},
          {"'µm'", "'µm'"},
          {"'Ωmega'", "N'Ωmega'"},
          {"UPPER(S) || LOWER(Name)", "(|| (UPPER S) (LOWER Name))"},
          {"SUBSTRING(S FROM 2)", "(SUBSTRING S 2)"},
          {"SUBSTRING(S, 2, 3)", "(SUBSTRING S 2 3)"},
          {"SUBSTRING(S FROM 2 FOR)", "(SUBSTRING S 2)"},
          {"TRIM(S)", "(TRIM S)"},
          {"TOSTRING(D, 'DD.MM.YYYY')", "(TOSTRING D 'DD.MM.YYYY')"},
          {"TODATE(S, 'YYYY-MM-DD')", "(TODATE S 'YYYY-MM-DD')"},
          {"DATE '2024-01-31'", "DATE'2024-01-31'"},
          {"TIME '10:30:00'", "TIME'10:30:00'"},
          {"TIMESTAMP '2024-01-31 10:30:00'", "TIMESTAMP'2024-01-31 10:30:00'"},
          {"SYSDATE", "SYSDATE"},
          {"NOW + 1", "(+ SYSDATE 1)"},
          // Every further term of a date-time sum is added or subtracted on its own.
          {"SYSDATE - 1 - 2", "(+ SYSDATE (- 1) (- 2))"},
          {"CURRENT_DATE - X * 2", "(+ CURRENT_DATE (* (- X) 2))"},
          {"S - SYSDATE", "(+ S (- SYSDATE))"},
          {"CASE X WHEN 1 THEN 'a' WHEN 2 THEN 'b' ELSE 'c' END", "(CASE X (WHEN 1 'a') (WHEN 2 'b') (ELSE 'c'))"},
          {"CASE WHEN X = 1 THEN 2 END", "(CASE (WHEN (= X 1) 2))"},
          {"COALESCE(X, Y, 0)", "(COALESCE X Y 0)"},
          {"MIMETOBIN('QQ==')", "(MIMETOBIN 'QQ==')"},
          {"NULL", "NULL"},
          {"FALSE", "FALSE"},
      },
      [&](const std::string& t) { return Value(t); });
}

TEST_F(Grammar, ReservedWordsAsNames) {
  EXPECT_EQ(Filter("[Date] = DATE '2024-01-31'"), "(=[2v] Date DATE'2024-01-31')");
  EXPECT_EQ(Filter("T.Date IS NULL"), "(IS-NULL T.Date)");
  EXPECT_EQ(Filter("`Date` IS NULL"), "(IS-NULL Date)");
  // Unquoted, the word starts a date literal.
  ExpectCode(20283, [&] { Filter("Date IS NULL"); });
}

TEST_F(Grammar, Subqueries) {
  EXPECT_EQ(Condition("X NOT IN (SELECT A FROM T)"), "(NOT-IN X (SELECT))");
  EXPECT_EQ(Condition("X > ALL (SELECT A FROM T)"), "(> ALL X (SELECT))");
  EXPECT_EQ(Condition("X = SOME (SELECT A FROM T)"), "(= ANY X (SELECT))");
  EXPECT_EQ(Condition("EXISTS (SELECT A FROM T WHERE (B = 1))"), "(EXISTS (SELECT))");
  EXPECT_EQ(Condition("EXISTS ((SELECT A FROM T))"), "(EXISTS (SELECT))");
  EXPECT_EQ(Condition("X = (SELECT A FROM T)"), "(= X (SELECT))");
  EXPECT_EQ(Condition("((SELECT A FROM T) + 1) = X"), "(= (+ (SELECT) 1) X)")
      << "parentheses that do not close right after the SELECT belong to the expression around it";

  // A filter or default value lexes its own text, which no node may read later.
  const int created = subqueries.created;
  ExpectCode(30626, [&] { Filter("X IN (SELECT A FROM T)"); });
  ExpectCode(30626, [&] { Filter("EXISTS (SELECT A FROM T)"); });
  ExpectCode(30626, [&] { Filter("X = (SELECT A FROM T)"); });
  TORVExpression e;
  EXPECT_FALSE(e.ParseForDefaultValueExpression("(SELECT MAX(A) FROM T)"));
  EXPECT_EQ(subqueries.created, created) << "the refused ones never reach the statement layer";

  SetSubqueryNodeFactory(nullptr);
  try {
    Condition("EXISTS (SELECT A FROM T)");
    ADD_FAILURE() << "no exception";
  } catch (const std::logic_error& x) {
    EXPECT_NE(std::string(x.what()).find("statement processor"), std::string::npos) << x.what();
  }
}

// LASTAUTOINC opens its table in the database and session of the query the expression belongs
// to, in memory when MEMORY is written.
TEST_F(Grammar, LastAutoincOpensItsTableInTheQuerysDatabase) {
  struct Query : IORVQueryDataset {
    std::string GetDatabaseName() const override { return "Archive"; }
    std::string GetSessionName() const override { return "Default"; }
  } query;
  struct Tables : IORVAutoincTableFactory {
    struct Table : IORVAutoincTable {
      bool FindColumn(const std::string&, TORVAdvancedFieldType& DataType) override {
        DataType = aftAutoInc;
        return true;
      }
      int64_t LastAutoincValue(const std::string&) override { return 7; }
    };
    std::unique_ptr<IORVAutoincTable> OpenTable(const std::string& Session, const std::string& Database,
                                                const std::string& Table, bool InMemory) override {
      opened = Session + "/" + Database + "/" + Table + (InMemory ? "/memory" : "");
      return std::make_unique<Tables::Table>();
    }
    std::string opened;
  } tables;
  IORVAutoincTableFactory* before = SetAutoincTableFactory(&tables);
  TORVLexer lexer("LASTAUTOINC(Orders MEMORY, ID) + 1", nullptr, false);
  lexer.GetNextCommand();
  TORVExpression e;
  e.ParseForValueExpression(&query, &lexer);
  SetAutoincTableFactory(before);
  EXPECT_EQ(tables.opened, "Default/Archive/Orders/memory");
  EXPECT_EQ(SExpr(e.Root()), "(+ (LASTAUTOINC Orders ID) 1)");
  EXPECT_EQ(e.GetValue(true)->GetDataAsSignedInt64(), 8);
}

// ---- Errors -----------------------------------------------------------------------------------

struct ErrorCase {
  int32_t code;
  const char* filter;
};

TEST_F(Grammar, EveryErrorOfTheGrammar) {
  const std::vector<ErrorCase> cases = {
      {20261, "ABS 5 = 1"},
      {20262, "ABS() = 1"},
      {20263, "ABS(1 2) = 1"},
      {20264, "POWER 2 = 1"},
      {20265, "POWER(, 2) = 1"},
      {20266, "POWER(2, 3 4) = 1"},
      {20267, "POWER(2 2) = 1"},
      {20268, "POWER(2, ) = 1"},
      {20275, "COALESCE X = 1"},
      {20276, "COALESCE() = 1"},
      {20277, "EXTRACT YEAR = 1"},
      {20278, "EXTRACT(WEEK FROM D) = 1"},
      {20279, "EXTRACT(DATE FROM D) = 1"},
      {20280, "EXTRACT(YEAR IN D) = 1"},
      {20281, "EXTRACT(YEAR FROM ) = 1"},
      {20282, "EXTRACT(YEAR FROM D 2) = 1"},
      {20283, "D = DATE 5"},
      {20284, "D = DATE '2024-02-30'"},
      {20285, "T = TIME 5"},
      {20286, "T = TIME 'noon'"},
      {20287, "DT = TIMESTAMP 5"},
      {20288, "DT = TIMESTAMP 'x'"},
      {20294, "Name LIKE 'a%' ESCAPE 'ab'"},
      {20294, "Name LIKE 'a%' ESCAPE"},
      {30063, "X *"},
      {30064, "X * = 1"},
      {30064, "2 * 'a' = 1"},
      {30064, "COALESCE(X, =) = 1"},
      {30066, "= 1"},
      {30067, "X IS 5"},
      {30069, "X = 1 AND"},
      {30070, "X = 1 OR"},
      {30073, "COUNT(* X) = 1"},
      {30074, "COUNT X = 1"},
      {30075, "COUNT(X Y) = 1"},
      {30076, "CAST(X AS INTEGER 5) = 1"},
      {30077, "CAST(X AS BLOB) = 1"},
      {30077, "CAST(X AS WHATEVER) = 1"},
      {30078, "POS 'a' = 1"},
      {30079, "POS(, Name) = 1"},
      {30080, "POS('a' Name) = 1"},
      {30081, "POS('a', ) = 1"},
      {30082, "POS('a', Name 5) = 1"},
      {30083, "LENGTH Name = 1"},
      {30084, "LENGTH(Name 5) = 1"},
      {30085, "LENGTH() = 1"},
      {30086, "LASTAUTOINC X = 1"},
      {30089, "LASTAUTOINC(T, X Y) = 1"},
      {30090, "UPPER Name = 'A'"},
      {30091, "UPPER(Name 5) = 'A'"},
      {30092, "UPPER() = 'A'"},
      {30093, "TOSTRING D = 'x'"},
      {30094, "TOSTRING(, 'YYYY') = 'x'"},
      {30095, "TOSTRING(D 'YYYY') = 'x'"},
      {30096, "TOSTRING(D, YYYY) = 'x'"},
      {30097, "TOSTRING(D, 'YYYY' 5) = 'x'"},
      {30098, "SUBSTRING Name = 'x'"},
      {30099, "SUBSTRING(, 1) = 'x'"},
      {30100, "SUBSTRING(Name 1) = 'x'"},
      {30101, "SUBSTRING(Name, ) = 'x'"},
      {30102, "COUNT(DISTINCT X) = 1"},
      {30103, "SUBSTRING(Name, 1 2) = 'x'"},
      {30104, "SUBSTRING(Name, 1, 2 3) = 'x'"},
      {30105, "TODATE Name = D"},
      {30106, "TODATE(Name, 'YYYY' 5) = D"},
      {30107, "TODATE(, 'YYYY') = D"},
      {30108, "TODATE(Name 'YYYY') = D"},
      {30109, "TODATE(Name, YYYY) = D"},
      {30334, "LASTAUTOINC(T X) = 1"},
      {30465, "CAST(Name AS VARCHAR(10) 5) = 1"},
      {30465, "CAST(Name AS VARCHAR(10 5)) = 1"},
      {30467, "CASE END = 1"},
      {30468, "CASE X THEN 1 END = 1"},
      {30469, "CASE X WHEN THEN 1 END = 1"},
      {30469, "CASE X WHEN 1 THEN END = 1"},
      {30470, "CASE X WHEN 1 2 END = 1"},
      {30471, "CASE X WHEN 1 THEN 2 ELSE END = 1"},
      {30472, "CASE X WHEN 1 THEN 2 = 1"},
      {30474, "CASE WHEN THEN 1 END = 1"},
      {30475, "CASE WHEN X = 1 2 END = 1"},
      {30476, "CASE WHEN X = 1 THEN END = 1"},
      {30477, "CASE WHEN X = 1 THEN 2 ELSE END = 1"},
      {30478, "CASE WHEN X = 1 THEN 2 = 1"},
      {30479, "MIMETOBIN 'QQ==' IS NULL"},
      {30480, "MIMETOBIN(X) IS NULL"},
      {30481, "MIMETOBIN('QQ==' 5) IS NULL"},
      {30502, "ROUND 1 = 1"},
      {30503, "ROUND() = 1"},
      {30504, "ROUND(1, ) = 1"},
      {30505, "ROUND(1, 2, FOO) = 1"},
      {30505, "ROUND(1, 2, SELECT) = 1"},
      {30506, "ROUND(1, 2 3) = 1"},
      {30115, "Nobody = 1"},
      {30119, "  -- nothing but a comment"},
  };
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(c.filter);
    ExpectCode(c.code, [&] { Filter(c.filter); });
  }
  // EXISTS counts its parentheses (an SQL condition: a filter refuses the SELECT first).
  ExpectCode(30492, [&] { Condition("EXISTS ((SELECT A FROM T) X)"); });
}

TEST_F(Grammar, MessagesNameTheTokenAndItsPlace) {
  ExpectCode(20261, [&] { Filter("X = 1 AND\n  ABS 5 = 1"); },
             "Token '(' expected, but '5' found at line 2, column 7 - Native error: 20261");
  ExpectCode(20278, [&] { Filter("EXTRACT(WEEK FROM D) = 1"); },
             "Token 'YEAR or MONTH or DAY or HOUR or MINUTE or SECOND' expected, but 'WEEK' found at line 1, column 9 "
             "- Native error: 20278");
  ExpectCode(30064, [&] { Filter("X * = 1"); }, "Unexpected token '=' found at line 1, column 5 - Native error: 30064");
  ExpectCode(30092, [&] { Filter("UPPER() = 'A'"); },
             "String argument expected for function 'UPPER', but ')' found at line 1, column 7 - Native error: 30092");
  ExpectCode(30066, [&] { Filter("= 1"); },
             "Boolean expression expected, but '=' found at line 1, column 1 - Native error: 30066");
  ExpectCode(20283, [&] { Filter("D = DATE 5"); },
             "Date string expected \"YYYY-MM-DD\", but found \"5\" at line 1, column 10 - Native error: 20283");
}

// Texts that would make the backtracking parser run for a very long time, or recurse until
// the stack is gone, end with an error instead; parentheses nested as deep as people write
// them cost little.
TEST_F(Grammar, DeepAndExpensiveTextsEndWithAnError) {
  const auto nested = [](int levels, const std::string& inner) {
    return std::string(static_cast<size_t>(levels), '(') + inner + std::string(static_cast<size_t>(levels), ')');
  };
  EXPECT_EQ(Filter(nested(40, "X = 1")), "(= X 1)");
  EXPECT_EQ(Filter(nested(40, "'a'") + " = " + nested(40, "Name")), "(=[2v] 'a' Name)");
  EXPECT_EQ(Filter(nested(40, "X + 1") + " > 2"), "(> (+ X 1) 2)");
  std::string cases = "S";
  for (int i = 0; i < 30; ++i) cases = "CASE WHEN X = 1 THEN " + cases + " || 'a' ELSE 'b' END";
  EXPECT_EQ(Filter(cases + " = Name").substr(0, 32), "(= (CASE (WHEN (= X 1) (|| (CASE");
  std::string list = "X IN (0";
  for (int i = 1; i < 20000; ++i) list += ", " + std::to_string(i);
  TORVExpression in;
  in.ParseForFilter(&table.cursor(), list + ")", false, false);
  EXPECT_EQ(in.Root()->ChildCount(), 20001) << "a long but plain text";

  ExpectCode(30627, [&] { Filter(nested(150, "X = 1")); });
  // Each level is read once as a sum and, since || follows, once more as a concatenation.
  std::string sums = "S";
  for (int i = 0; i < 30; ++i) sums = "1 + (" + sums + ") || 'a'";
  ExpectCode(30628, [&] { Filter(sums + " = Name"); });
}

}  // namespace
}  // namespace orv

#include "dbengine/sql/orv_sql_lexer.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "dbengine/storage/orv_except.h"

namespace orv {
namespace {

// ---- Expected dumps -----------------------------------------------------------------------

struct Tok {
  std::string text;
  TTokenType type;
  int line;
  int col;
  std::string rw = "None";
};

// The dump the lexer must print for these commands, written out from the dump's layout.
std::string DumpOf(const std::vector<std::vector<Tok>>& commands) {
  std::string out = "Number of commands: " + std::to_string(commands.size());
  for (size_t c = 0; c < commands.size(); ++c) {
    out += "\r\nCommand #" + std::to_string(c + 1) + ":\r\n";
    for (const Tok& t : commands[c]) {
      out += t.text + "\r\nType = " + std::string(EORVTokenType[t.type]) + "\r\nReservedWord = " + t.rw +
             "\r\nLine = " + std::to_string(t.line) + "\r\nColumn = " + std::to_string(t.col) + "\r\n\r\n";
    }
  }
  return out;
}

std::string Dump(const std::string& sql, TORVSQLParams* params = nullptr, bool no_params = false) {
  return TORVLexer(sql, params, no_params).Test(false, true);
}

TEST(TORVLexerDump, LayoutOfTheDiagnosticDump) {
  const std::string expected =
      "Number of commands: 2\r\n"
      "Command #1:\r\n"
      "select\r\n"
      "Type = tktReservedWord\r\n"
      "ReservedWord = SELECT\r\n"
      "Line = 1\r\n"
      "Column = 1\r\n"
      "\r\n"
      "a\r\n"
      "Type = tktString\r\n"
      "ReservedWord = None\r\n"
      "Line = 1\r\n"
      "Column = 8\r\n"
      "\r\n"
      "\r\n"
      "Command #2:\r\n"
      "x\r\n"
      "Type = tktString\r\n"
      "ReservedWord = None\r\n"
      "Line = 2\r\n"
      "Column = 1\r\n"
      "\r\n";
  EXPECT_EQ(Dump("select a;\nx"), expected);
  EXPECT_EQ(TORVLexer("select a;\nx", nullptr, false).Test(true, false),
            "Number of commands: 2\r\nCommand #1:\r\nselect\r\na\r\n\r\nCommand #2:\r\nx\r\n");
}

struct DumpCase {
  const char* name;
  std::string sql;
  std::vector<std::vector<Tok>> expected;
};

TEST(TORVLexerDump, ScannerCases) {
  const std::vector<DumpCase> cases = {
      {"empty statements between semicolons make no command",
       "select a;  ; select b;",
       {{{"select", tktReservedWord, 1, 1, "SELECT"}, {"a", tktString, 1, 8}},
        {{"select", tktReservedWord, 1, 14, "SELECT"}, {"b", tktString, 1, 21}}}},
      {"white space and comments only", "  -- nothing here\n /* nor\n here */ \r\n\t", {}},
      {"doubled quotes and brackets inside quoted texts",
       "'it''s' \"a\"\"b\" [x]]y]",
       {{{"it's", tktQuotedString, 1, 1}, {"a\"b", tktQuotedString, 1, 9}, {"x]y", tktBracketedString, 1, 16}}}},
      {"numbers",
       "1.5 .5 5. 1e5 1E-5 12 2.5e+3",
       {{{"1.5", tktFloat, 1, 1},
         {".5", tktFloat, 1, 5},
         {"5.", tktFloat, 1, 8},
         {"1e5", tktFloat, 1, 11},
         {"1E-5", tktFloat, 1, 15},
         {"12", tktInt, 1, 20},
         {"2.5e+3", tktFloat, 1, 23}}}},
      {"a minus between numbers is an operator",
       "1-2",
       {{{"1", tktInt, 1, 1}, {"-", tktString, 1, 2}, {"2", tktInt, 1, 3}}}},
      {"qualified names",
       "t.col t.*",
       {{{"t", tktString, 1, 1},
         {".", tktDot, 1, 2},
         {"col", tktString, 1, 3},
         {"t", tktString, 1, 7},
         {".", tktDot, 1, 8},
         {"*", tktString, 1, 9}}}},
      {"a tab or line break after a full stop is white space",
       "t.\n* u.\tv",
       {{{"t", tktString, 1, 1},
         {".", tktDot, 1, 2},
         {"*", tktString, 2, 1},
         {"u", tktString, 2, 3},
         {".", tktDot, 2, 4},
         {"v", tktString, 2, 6}}}},
      {"two-character operators",
       "a<>b a<=b a>=b a||b",
       {{{"a", tktString, 1, 1},
         {"<>", tktString, 1, 2},
         {"b", tktString, 1, 4},
         {"a", tktString, 1, 6},
         {"<=", tktString, 1, 7},
         {"b", tktString, 1, 9},
         {"a", tktString, 1, 11},
         {">=", tktString, 1, 12},
         {"b", tktString, 1, 14},
         {"a", tktString, 1, 16},
         {"||", tktString, 1, 17},
         {"b", tktString, 1, 19}}}},
      {"an exclamation mark is an operator alone and part of a name after one",
       "a ! = b a!=b",
       {{{"a", tktString, 1, 1},
         {"!", tktString, 1, 3},
         {"=", tktString, 1, 5},
         {"b", tktString, 1, 7},
         {"a!", tktString, 1, 9},
         {"=", tktString, 1, 11},
         {"b", tktString, 1, 12}}}},
      {"runs of operator characters split",
       "a=<b",
       {{{"a", tktString, 1, 1}, {"=", tktString, 1, 2}, {"<", tktString, 1, 3}, {"b", tktString, 1, 4}}}},
      {"backquoted names are names; the first reserved word is a name",
       "`select` `a``b` `c\\\\d\\e` absolute from",
       {{{"select", tktString, 1, 1},
         {"a`b", tktString, 1, 10},
         {"c\\de", tktString, 1, 17},
         {"absolute", tktString, 1, 26},
         {"from", tktReservedWord, 1, 35, "FROM"}}}},
      {"an escaped backquote still ends a backquoted name",
       "`c\\`d",
       {{{"c", tktString, 1, 1}, {"d", tktString, 1, 5}}}},
      {"a line break inside a quoted text moves the tokens after it; CR LF is one break",
       "'a\r\nb' x\r\n  y",
       {{{"a\r\nb", tktQuotedString, 1, 1}, {"x", tktString, 2, 4}, {"y", tktString, 3, 3}}}},
      {"a comment ends the token before it",
       "a--x\nb c/*y*/d 12--z\n3",
       {{{"a", tktString, 1, 1},
         {"b", tktString, 2, 1},
         {"c", tktString, 2, 3},
         {"d", tktString, 2, 9},
         {"12", tktInt, 2, 11},
         {"3", tktInt, 3, 1}}}},
      {"parentheses and commas",
       "f(a,(b))",
       {{{"f", tktString, 1, 1},
         {"(", tktLeftParenthesis, 1, 2},
         {"a", tktString, 1, 3},
         {",", tktComma, 1, 4},
         {"(", tktLeftParenthesis, 1, 5},
         {"b", tktString, 1, 6},
         {")", tktRightParenthesis, 1, 7},
         {")", tktRightParenthesis, 1, 8}}}},
      {"a right parenthesis before its left one passes within one command",
       "a ) ( b",
       {{{"a", tktString, 1, 1},
         {")", tktRightParenthesis, 1, 3},
         {"(", tktLeftParenthesis, 1, 5},
         {"b", tktString, 1, 7}}}},
      {"last auto-increment value and end-exec keep their list texts",
       "LastAutoInc(t, c)",
       {{{"LastAutoInc", tktReservedWord, 1, 1, "LASTAUTOINC"},
         {"(", tktLeftParenthesis, 1, 12},
         {"t", tktString, 1, 13},
         {",", tktComma, 1, 14},
         {"c", tktString, 1, 16},
         {")", tktRightParenthesis, 1, 17}}}},
  };
  for (const DumpCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Dump(c.sql), DumpOf(c.expected));
  }
}

// ---- Parameters ---------------------------------------------------------------------------

void AddInt(TORVSQLParams& params, const std::string& name, int32_t value) {
  TORVSQLParam* p = params.AddCreated();
  p->Name = name;
  p->SetDataAsSignedInt32(value);
}

TEST(TORVLexerParams, NamedParametersBindIgnoringCase) {
  TORVSQLParams params;
  AddInt(params, "p1", 11);
  AddInt(params, "Other", 22);
  TORVLexer lex("select * from t where a = :P1 and b = :'other' and c = :[P1]", &params, false);
  EXPECT_EQ(lex.Test(false, true),
            DumpOf({{{"select", tktReservedWord, 1, 1, "SELECT"},
                     {"*", tktString, 1, 8},
                     {"from", tktReservedWord, 1, 10, "FROM"},
                     {"t", tktString, 1, 15},
                     {"where", tktReservedWord, 1, 17, "WHERE"},
                     {"a", tktString, 1, 23},
                     {"=", tktString, 1, 25},
                     {"P1", tktParameter, 1, 27},
                     {"and", tktReservedWord, 1, 31, "AND"},
                     {"b", tktString, 1, 35},
                     {"=", tktString, 1, 37},
                     {"other", tktParameter, 1, 39},
                     {"and", tktReservedWord, 1, 48, "AND"},
                     {"c", tktString, 1, 52},
                     {"=", tktString, 1, 54},
                     {"P1", tktParameter, 1, 56}}}));
  const auto& tokens = lex.Commands[0].Tokens;
  EXPECT_EQ(tokens[7].ParamValue->GetDataAsSignedInt32(), 11);
  EXPECT_EQ(tokens[11].ParamValue->GetDataAsSignedInt32(), 22);
  EXPECT_EQ(tokens[15].ParamValue->GetDataAsSignedInt32(), 11);
  // The value is a copy taken while lexing: a later change of the list does not reach it.
  params.GetValue(0)->SetDataAsSignedInt32(99);
  EXPECT_EQ(tokens[7].ParamValue->GetDataAsSignedInt32(), 11);
  EXPECT_EQ(tokens[3].ParamValue, nullptr);
}

TEST(TORVLexerParams, QuestionMarksAreNumberedAcrossTheScript) {
  TORVSQLParams params;
  AddInt(params, "x", 100);
  AddInt(params, "y", 200);
  AddInt(params, "z", 300);
  TORVLexer lex("insert into t values (?, ?); delete from t where a=?", &params, false);
  ASSERT_EQ(lex.NumCommands(), 2);
  const auto& first = lex.Commands[0].Tokens;
  EXPECT_EQ(first[5].Text, "Param1");
  EXPECT_EQ(first[5].TokenType, tktParameter);
  EXPECT_EQ(first[5].ParamValue->GetDataAsSignedInt32(), 100);
  EXPECT_EQ(first[7].Text, "Param2");
  EXPECT_EQ(first[7].ParamValue->GetDataAsSignedInt32(), 200);
  const TToken& third = lex.Commands[1].Tokens.back();
  EXPECT_EQ(third.Text, "Param3");
  EXPECT_EQ(third.ParamValue->GetDataAsSignedInt32(), 300);
  EXPECT_EQ(third.ColumnNum, 52);
}

TEST(TORVLexerParams, NullAndTypedValuesAreCopied) {
  TORVSQLParams params;
  TORVSQLParam* text = params.AddCreated();
  text->Name = "s";
  text->SetDataAsAnsiString("abc");
  TORVSQLParam* null = params.AddCreated();
  null->Name = "n";
  null->Clear(bftDouble);
  TORVLexer lex(":s :n", &params, false);
  const auto& tokens = lex.Commands[0].Tokens;
  EXPECT_EQ(tokens[0].ParamValue->DataType(), bftVarchar);
  EXPECT_EQ(tokens[0].ParamValue->GetDataAsAnsiString(), "abc");
  EXPECT_NE(tokens[0].ParamValue->pData(), text->pData());
  EXPECT_TRUE(tokens[1].ParamValue->IsNull());
  EXPECT_EQ(tokens[1].ParamValue->DataType(), bftDouble);
}

TEST(TORVLexerParams, SwitchedOffColonsAndQuestionMarksAreNames) {
  EXPECT_EQ(Dump("a = :abc or ?", nullptr, true),
            DumpOf({{{"a", tktString, 1, 1},
                     {"=", tktString, 1, 3},
                     {":abc", tktString, 1, 5},
                     {"or", tktReservedWord, 1, 10, "OR"},
                     {"?", tktString, 1, 13}}}));
}

TEST(TORVSQLParams, ListOperations) {
  TORVSQLParams params;
  EXPECT_EQ(params.GetCount(), 0);
  TORVSQLParam* a = params.AddCreated();
  EXPECT_EQ(a->DataType(), bftUnknown);
  EXPECT_TRUE(a->IsNull());
  EXPECT_EQ(a->Name, "");
  a->Name = "Alpha";
  AddInt(params, "alpha", 2);
  EXPECT_EQ(params.GetParamByName("ALPHA"), a);  // the first of two equal names
  EXPECT_EQ(params.GetParamByName("beta"), nullptr);
  auto replacement = std::make_unique<TORVSQLParam>();
  replacement->Name = "beta";
  params.SetValue(0, std::move(replacement));
  EXPECT_EQ(params.GetValue(0)->Name, "beta");
  EXPECT_THROW(params.GetValue(2), std::out_of_range);
  EXPECT_THROW(params.GetValue(-1), std::out_of_range);
  params.Clear();
  EXPECT_EQ(params.GetCount(), 0);
}

// ---- Errors -------------------------------------------------------------------------------

struct ErrorCase {
  const char* name;
  std::string sql;
  int32_t code;
  std::string message;
  int positional = 0;  // entries in the parameter list; -1: no list
};

TEST(TORVLexerErrors, CodesLinesAndColumns) {
  const std::vector<ErrorCase> cases = {
      {"unclosed left parenthesis", "select count(a from t", 30059, "Missing symbol ')' at line 1, column 13"},
      {"the last left parenthesis is reported", "select\n  f((a), (b\n)", 30059,
       "Missing symbol ')' at line 2, column 10"},
      {"surplus right parenthesis", "select a) from t)", 30060,
       "Unexpected symbol ')' found at line 1, column 17"},
      {"unclosed single quote", "select a from t;\nwhere x = 'abc", 30061, "Unterminated string at line 2, column 11"},
      {"unclosed bracket", "select [a b", 30061, "Unterminated string at line 1, column 8"},
      {"unclosed quoted parameter name", "a = :'p", 30061, "Unterminated string at line 1, column 5"},
      {"parentheses before quotes", "(a 'x", 30059, "Missing symbol ')' at line 1, column 1"},
      {"letter in a number", "12abc", 30062, "Invalid numeric symbol 'a' at line 1, column 3"},
      {"letter in a number on a later line", "select\r\n  1.5x", 30062,
       "Invalid numeric symbol 'x' at line 2, column 6"},
      {"quote after a number", "1'a'", 30062, "Invalid numeric symbol ''' at line 1, column 2"},
      {"named parameter missing", "a = :nope", 30358, "Value for parameter 'nope' not found", 1},
      {"named parameter without a list", "a = :p", 30358, "Value for parameter 'p' not found", -1},
      {"question mark without a list", "a = ?", 30358, "Value for parameter '' not found", -1},
      {"question mark beyond the list", "a in (?, ?); b = ?", 30358, "Value for parameter 'Param3' not found", 2},
  };
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(c.name);
    TORVSQLParams params;
    for (int i = 0; i < c.positional; ++i) AddInt(params, "p" + std::to_string(i), i);
    try {
      TORVLexer lex(c.sql, c.positional < 0 ? nullptr : &params, false);
      ADD_FAILURE() << "no error for " << c.sql;
    } catch (const EORVException& e) {
      EXPECT_EQ(e.NativeError(), c.code);
      EXPECT_EQ(std::string(e.what()), c.message + " - Native error: " + std::to_string(c.code));
    }
  }
}

// ---- Walking the token stream -------------------------------------------------------------

TEST(TORVLexerNavigation, CommandsAndTokens) {
  TORVLexer lex("select a, b from t; delete from u", nullptr, false);
  TToken tok;
  EXPECT_EQ(lex.CurrentCommandNo, -1);
  EXPECT_FALSE(lex.GetCurrentToken(tok));  // no command yet
  EXPECT_EQ(tok.TokenType, tktNone);

  ASSERT_TRUE(lex.GetNextCommand());
  ASSERT_TRUE(lex.GetCurrentToken(tok));
  EXPECT_TRUE(IsReservedWord(tok, rwSELECT));
  EXPECT_TRUE(IsReservedWord(tok, rwNone));
  EXPECT_FALSE(IsReservedWord(tok, rwFROM));
  ASSERT_TRUE(lex.LookNextToken(tok));
  EXPECT_EQ(tok.Text, "a");
  EXPECT_EQ(lex.GetCurrentTokenNo(), 0);
  ASSERT_TRUE(lex.GetNextSpecifiedToken(tok, {tktReservedWord, tktComma}));
  EXPECT_EQ(tok.TokenType, tktComma);
  EXPECT_EQ(lex.GetCurrentTokenNo(), 2);
  ASSERT_TRUE(lex.GetNextSpecifiedToken(tok, {tktReservedWord}));
  EXPECT_EQ(tok.Text, "from");
  EXPECT_FALSE(lex.GetNextSpecifiedToken(tok, {tktParameter}));
  EXPECT_EQ(lex.GetCurrentTokenNo(), 6);  // one past the last token

  // Stepping back and forth by number.
  EXPECT_TRUE(lex.SetCurrentTokenNo(1, tok));
  EXPECT_EQ(tok.Text, "a");
  EXPECT_TRUE(lex.GetNextToken(tok));
  EXPECT_EQ(tok.Text, ",");
  EXPECT_TRUE(lex.SetCurrentTokenNo(5));
  tok.LineNum = 42;
  EXPECT_FALSE(lex.GetNextToken(tok));  // past the end: no token, still one step
  EXPECT_EQ(tok.TokenType, tktNone);
  EXPECT_EQ(tok.Text, "");
  EXPECT_EQ(tok.LineNum, 42);
  EXPECT_EQ(lex.GetCurrentTokenNo(), 6);
  tok.Text = "kept";
  EXPECT_FALSE(lex.GetCurrentToken(tok));
  EXPECT_EQ(tok.TokenType, tktNone);
  EXPECT_EQ(tok.Text, "kept");
  EXPECT_FALSE(lex.SetCurrentTokenNo(6));

  ASSERT_TRUE(lex.GetNextCommand());
  ASSERT_TRUE(lex.GetCurrentToken(tok));
  EXPECT_TRUE(IsReservedWord(tok, rwDELETE));
  EXPECT_FALSE(lex.GetNextCommand());
  EXPECT_FALSE(lex.GetNextCommand());
  EXPECT_FALSE(lex.GetCurrentToken(tok));
}

TEST(TORVLexerNavigation, HandBuiltStreamsKeepParameterValues) {
  TORVSQLParams params;
  AddInt(params, "v", 7);
  auto source = std::make_unique<TORVLexer>("update t set a = 1 where b = :v", &params, false);
  TORVLexer built("", nullptr, false);
  EXPECT_EQ(built.NumCommands(), 0);
  built.AddCommand();
  TToken select;
  select.TokenType = tktReservedWord;
  select.ReservedWord = rwSELECT;
  select.Text = "select";
  built.AddToken(select);
  for (const TToken& t : source->Commands[0].Tokens) built.AddToken(t);
  EXPECT_EQ(built.GetCurrentTokenNo(), 10);
  source.reset();  // the value moves with its token
  const TToken& last = built.Commands[0].Tokens.back();
  ASSERT_EQ(last.TokenType, tktParameter);
  EXPECT_EQ(last.ParamValue->GetDataAsSignedInt32(), 7);
  TToken tok;
  ASSERT_TRUE(built.SetCurrentTokenNo(0, tok));
  EXPECT_TRUE(IsReservedWord(tok, rwSELECT));
}

// ---- Random token lists -------------------------------------------------------------------

// A token of a generated script with what the lexer must make of it.
struct Generated {
  std::string source;
  TTokenType type;
  std::string text;
  TReservedWord rw = rwNone;
  int param = -1;  // list entry bound
};

class ScriptGenerator {
 public:
  explicit ScriptGenerator(uint32_t seed) : rng_(seed) {}

  // A script of 1..4 commands and what each command's tokens must be.
  std::string Make(std::vector<std::vector<Generated>>& commands, std::vector<std::vector<std::pair<int, int>>>& pos) {
    script_.clear();
    line_ = 1;
    col_ = 1;
    positional_ = 0;
    commands.clear();
    pos.clear();
    const int command_count = Pick(1, 4);
    for (int c = 0; c < command_count; ++c) {
      commands.emplace_back();
      pos.emplace_back();
      int depth = 0;
      const int token_count = Pick(1, 25);
      const Generated* prev = nullptr;
      for (int k = 0; k < token_count || depth > 0; ++k) {
        Generated g = k < token_count ? Token(depth) : Close();
        if (g.type == tktLeftParenthesis) ++depth;
        if (g.type == tktRightParenthesis) --depth;
        if (prev) Separate(*prev, g);
        pos.back().emplace_back(line_, col_);
        Emit(g.source);
        commands.back().push_back(std::move(g));
        prev = &commands.back().back();
      }
      // Statement ends, with empty statements and blanks now and then.
      Emit(Pick(0, 1) ? ";" : " ;");
      if (Pick(0, 3) == 0) Emit(" ;\n;");
      if (c + 1 < command_count) Emit(Pick(0, 1) ? "\n" : " ");
    }
    return script_;
  }

  int Pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

 private:
  static Generated Close() { return {")", tktRightParenthesis, ")", rwNone, -1}; }

  std::string Word(int min_len, int max_len) {
    static const std::string first = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_";
    static const std::string rest = first + "0123456789";
    std::string w(1, first[static_cast<size_t>(Pick(0, static_cast<int>(first.size()) - 1))]);
    const int len = Pick(min_len, max_len);
    for (int i = 1; i < len; ++i) w += rest[static_cast<size_t>(Pick(0, static_cast<int>(rest.size()) - 1))];
    return w;
  }

  std::string Digits(int min_len, int max_len) {
    std::string d;
    const int len = Pick(min_len, max_len);
    for (int i = 0; i < len; ++i) d += static_cast<char>('0' + Pick(0, 9));
    return d;
  }

  // Quoted content with the closing character doubled where it occurs.
  void Quoted(char open, char close, Generated& g) {
    static const std::string chars = "abc XYZ019_-+*/;,.()'\"[]`\n\r\t";
    std::string content;
    const int len = Pick(0, 10);
    for (int i = 0; i < len; ++i) content += chars[static_cast<size_t>(Pick(0, static_cast<int>(chars.size()) - 1))];
    g.text = content;
    g.source = std::string(1, open);
    for (char c : content) {
      g.source += c;
      if (c == close) g.source += c;
    }
    g.source += close;
  }

  Generated Token(int depth) {
    Generated g;
    switch (Pick(0, 16)) {
      case 0:
      case 1: {  // a name
        do g.text = Word(1, 9);
        while (FindReservedWordIndex(g.text) >= 0);
        g.source = g.text;
        g.type = tktString;
        break;
      }
      case 2: {  // a reserved word in mixed case (END-EXEC never lexes as one word)
        int index = 0;
        do index = Pick(1, ORVMaxSQLReservedWords);
        while (index == rwEND_EXEC);
        std::string w(ORVSQLReservedWords[static_cast<size_t>(index)]);
        for (char& c : w)
          if (Pick(0, 1) && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        g.source = g.text = w;
        g.type = tktReservedWord;
        g.rw = static_cast<TReservedWord>(index);
        break;
      }
      case 3:
        Quoted('\'', '\'', g);
        g.type = tktQuotedString;
        break;
      case 4:
        Quoted('"', '"', g);
        g.type = tktQuotedString;
        break;
      case 5:
        Quoted('[', ']', g);
        g.type = tktBracketedString;
        break;
      case 6: {  // backquoted, with backslash escapes
        g.type = tktString;
        g.text = Word(1, 6);
        g.source = "`" + g.text;
        if (Pick(0, 1)) {
          g.source += "\\\\x";
          g.text += "\\x";
        }
        if (Pick(0, 1)) {
          g.source += "``";
          g.text += "`";
        }
        g.source += "`";
        break;
      }
      case 7:
        g.source = g.text = Digits(1, 6);
        g.type = tktInt;
        break;
      case 8: {
        const std::string a = Digits(1, 3), b = Digits(1, 3);
        switch (Pick(0, 4)) {
          case 0: g.text = a + "." + b; break;
          case 1: g.text = "." + b; break;
          case 2: g.text = a + "."; break;
          case 3: g.text = a + (Pick(0, 1) ? "e" : "E") + b; break;
          default: g.text = a + "." + b + "E" + (Pick(0, 1) ? "-" : "+") + Digits(1, 2); break;
        }
        g.source = g.text;
        g.type = tktFloat;
        break;
      }
      case 9:
      case 10: {
        static const char* ops[] = {"+", "-", "*", "/", "=", "<", ">", "<=", "<>", ">=", "|", "||", "!"};
        g.source = g.text = ops[Pick(0, 12)];
        g.type = tktString;
        break;
      }
      case 11:
        g = {"(", tktLeftParenthesis, "(", rwNone, -1};
        break;
      case 12:
        if (depth > 0) return Close();
        g = {",", tktComma, ",", rwNone, -1};
        break;
      case 13:
        g = {".", tktDot, ".", rwNone, -1};
        break;
      case 14: {  // a named parameter, plain or quoted, in any case
        g.param = Pick(0, kParams - 1);
        g.text = "p" + std::to_string(g.param);
        if (Pick(0, 1)) g.text[0] = 'P';
        g.type = tktParameter;
        switch (Pick(0, 3)) {
          case 0: g.source = ":'" + g.text + "'"; break;
          case 1: g.source = ":\"" + g.text + "\""; break;
          case 2: g.source = ":[" + g.text + "]"; break;
          default: g.source = ":" + g.text; break;
        }
        break;
      }
      default:  // positional
        if (positional_ >= kParams) return {",", tktComma, ",", rwNone, -1};
        g.param = positional_++;
        g.text = "Param" + std::to_string(positional_);
        g.source = "?";
        g.type = tktParameter;
        break;
    }
    return g;
  }

  // White space or a comment between two tokens; nothing at all where the second token
  // starts a new one anyway.
  void Separate(const Generated& prev, const Generated& next) {
    const bool glue = prev.type == tktLeftParenthesis || prev.type == tktRightParenthesis ||
                      prev.type == tktComma || next.type == tktLeftParenthesis ||
                      next.type == tktRightParenthesis || next.type == tktComma;
    const bool ends_in_minus = !prev.source.empty() && prev.source.back() == '-';
    switch (Pick(0, 9)) {
      case 0: if (glue) return; Emit(" "); break;
      case 1: Emit("\t"); break;
      case 2: Emit("\n  "); break;
      case 3: Emit("\r\n"); break;
      case 4: Emit(ends_in_minus ? " /* c */" : "/* c */"); break;
      case 5: Emit(ends_in_minus ? " /*\nx\r\n*/ " : "/*\nx\r\n*/ "); break;
      case 6: Emit(ends_in_minus ? " -- note\n" : "-- note\n"); break;
      case 7: Emit(ends_in_minus ? " --\r\n   " : "--\r\n   "); break;
      default: Emit(" "); break;
    }
  }

  void Emit(const std::string& s) {
    for (char c : s) {
      script_ += c;
      if (c == '\n') {
        ++line_;
        col_ = 1;
      } else if (c != '\r') {
        ++col_;
      }
    }
  }

 public:
  static constexpr int kParams = 40;

 private:
  std::mt19937 rng_;
  std::string script_;
  int line_ = 1, col_ = 1;
  int positional_ = 0;
};

TEST(TORVLexerRandom, TokenListsSurviveTextAndBack) {
  TORVSQLParams params;
  for (int i = 0; i < ScriptGenerator::kParams; ++i) AddInt(params, "p" + std::to_string(i), 1000 + i);
  for (uint32_t seed = 1; seed <= 400; ++seed) {
    ScriptGenerator gen(seed);
    std::vector<std::vector<Generated>> expected;
    std::vector<std::vector<std::pair<int, int>>> positions;
    const std::string script = gen.Make(expected, positions);
    SCOPED_TRACE("seed " + std::to_string(seed) + ": " + script);
    TORVLexer lex(script, &params, false);
    ASSERT_EQ(lex.NumCommands(), static_cast<int32_t>(expected.size()));
    for (size_t c = 0; c < expected.size(); ++c) {
      const auto& tokens = lex.Commands[c].Tokens;
      std::string wanted;
      for (const Generated& g : expected[c]) wanted += g.source + "\n";
      ASSERT_EQ(tokens.size(), expected[c].size()) << "command " << c << "\n" << lex.Test(false, false) << "\nwanted:\n" << wanted;
      for (size_t k = 0; k < tokens.size(); ++k) {
        const TToken& t = tokens[k];
        const Generated& g = expected[c][k];
        SCOPED_TRACE("token " + std::to_string(k) + " " + g.source);
        EXPECT_EQ(t.TokenType, g.type);
        EXPECT_EQ(t.Text, g.text);
        EXPECT_EQ(t.ReservedWord, g.rw);
        EXPECT_EQ(t.LineNum, positions[c][k].first);
        EXPECT_EQ(t.ColumnNum, positions[c][k].second);
        if (g.param >= 0) {
          ASSERT_NE(t.ParamValue, nullptr);
          EXPECT_EQ(t.ParamValue->GetDataAsSignedInt32(), 1000 + g.param);
        } else {
          EXPECT_EQ(t.ParamValue, nullptr);
        }
      }
    }
  }
}

// Arbitrary bytes either lex or fail with an engine error; never anything else (the suite
// runs under the address sanitizer, which catches a read past the text).
TEST(TORVLexerRandom, ArbitraryBytesLexOrFailCleanly) {
  static const std::string alphabet = "ab1E.e+-*/=<>|!:?;,()[]`'\"\\ \t\r\n_\xB5\xE9";
  TORVSQLParams params;
  AddInt(params, "a", 1);
  AddInt(params, "b", 2);
  std::mt19937 rng(99);
  int lexed = 0;
  for (int k = 0; k < 20000; ++k) {
    std::string script;
    const int len = std::uniform_int_distribution<int>(0, 24)(rng);
    for (int i = 0; i < len; ++i) {
      script += std::uniform_int_distribution<int>(0, 40)(rng) == 0
                    ? '\0'
                    : alphabet[std::uniform_int_distribution<size_t>(0, alphabet.size() - 1)(rng)];
    }
    try {
      TORVLexer lex(script, k % 2 ? &params : nullptr, k % 5 == 0);
      for (const TSQLCommand& c : lex.Commands) {
        ASSERT_FALSE(c.Tokens.empty());
        for (const TToken& t : c.Tokens) {
          ASSERT_GE(t.LineNum, 1);
          ASSERT_GE(t.ColumnNum, 1);
          ASSERT_EQ(t.TokenType == tktParameter, t.ParamValue != nullptr);
        }
      }
      ++lexed;
    } catch (const EORVException& e) {
      const int32_t code = e.NativeError();
      ASSERT_TRUE(code == 30059 || code == 30060 || code == 30061 || code == 30062 || code == 30358) << code;
    }
  }
  EXPECT_GT(lexed, 1000);
}

}  // namespace
}  // namespace orv

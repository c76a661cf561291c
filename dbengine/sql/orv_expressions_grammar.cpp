// The expression grammar: a recursive-descent parser with backtracking over the tokens of one
// command. Every parse method either returns a node and leaves the lexer on the first token
// after what it used, or returns nil with the lexer where it was; a caller offering
// alternatives tries them in order and the first that returns a node wins. Errors are raised
// only once a construct has been recognised by its keyword and then turns out malformed.
//
// Precedence from loosest to tightest: OR; AND; NOT; IS TRUE/FALSE/UNKNOWN; predicates;
// "+" and "-"; "*" and "/"; the sign; primaries. String concatenation stands apart: its
// operands are primaries and string or date functions, and within it "+" and "||" both
// concatenate.
#include <stdexcept>
#include <string>
#include <vector>

#include "dbengine/sql/orv_expressions.h"
#include "dbengine/sql/orv_expressions_aggregates.h"
#include "dbengine/sql/orv_expressions_functions.h"
#include "dbengine/storage/orv_converts.h"
#include "dbengine/storage/orv_except.h"
#include "platform/base/cp1252.h"

namespace orv {

namespace {

// Texts of SQL are program text (UTF-8); names, formats and 8-bit values of the engine are
// Windows-1252.
std::string Engine8(const std::string& Text) { return platform::Utf8ToCp1252(Text); }

// A parse may try many alternatives at one position, and some texts make that work grow
// quickly with their nesting; these bounds turn such texts into an error instead of a parse
// that does not end or a stack that overflows.
constexpr int32_t MaxNestingDepth = 100;
// Parse steps allowed for a command: a fixed allowance and a share per token, so that a long
// but plain text (a list of thousands of values) always parses.
constexpr int64_t BaseParseSteps = 100'000;
constexpr int64_t ParseStepsPerToken = 50;

bool IsOperatorText(const std::string& Text) {
  static const char* const operators[] = {"+", "-", "*", "/", "=", "<", ">", "<=", ">=", "<>", "|", "||"};
  for (const char* op : operators)
    if (Text == op) return true;
  return false;
}

bool IsTextOrDateType(TORVBaseFieldType t) { return IsStringFieldType(t) || IsDateTimeFieldType(t); }

TORVExprNodeConst* AsConst(TORVExprNode* Node) { return dynamic_cast<TORVExprNodeConst*>(Node); }
TORVExprNodeField* AsField(TORVExprNode* Node) { return dynamic_cast<TORVExprNodeField*>(Node); }

// The word NULL, or a parameter whose NULL value is not a text or a date: compared with it,
// nothing is ever True.
bool IsPlainNull(TORVExprNode* Node) {
  TORVExprNodeConst* c = AsConst(Node);
  return c && c->Value.IsNull() && !IsTextOrDateType(c->Value.DataType());
}

template <class Node, class... Args>
TORVExprNodePtr Make(Args&&... args) {
  return std::make_unique<Node>(std::forward<Args>(args)...);
}

TORVExprNodePtr Negation(TORVExprNodePtr Node) {
  return std::make_unique<TORVExprNodeArithmetic>(doSUB, std::move(Node), true, false);
}

std::unique_ptr<TORVExprNodeConst> NewConst(TORVBaseFieldType DataType) {
  auto c = std::make_unique<TORVExprNodeConst>();
  c->Value.Clear(DataType);
  return c;
}

std::unique_ptr<TORVExprNodeConst> CopyConst(const TORVVariant& Value) {
  auto c = std::make_unique<TORVExprNodeConst>();
  c->Value.Assign(Value, true);
  return c;
}

// An 8-bit text constant (a number's token text before its conversion, MIMETOBIN's text).
std::unique_ptr<TORVExprNodeConst> TextConst8(const std::string& Text8) {
  auto c = NewConst(bftVarchar);
  c->Value.SetDataAsAnsiString(Text8);
  return c;
}

}  // namespace

// ---- Position, errors and bounds --------------------------------------------------------------

namespace {

// The position a parse method started at: Fail restores it.
class TMark {
 public:
  explicit TMark(TORVExpression& e) : e_(e) { e.SaveState(no_); }
  TORVExprNodePtr Fail() {
    e_.RestoreState(no_);
    return nullptr;
  }
  void Restore() { e_.RestoreState(no_); }

 private:
  TORVExpression& e_;
  int32_t no_ = 0;
};

[[noreturn]] void RaiseTokenExpected(const TToken& Token, int32_t Code, const std::string& Expected) {
  throw EORVException(Code, "Token '%s' expected, but '%s' found at line %d, column %d",
                      {Expected, Token.Text, Token.LineNum, Token.ColumnNum});
}

[[noreturn]] void RaiseArgumentExpected(const TToken& Token, int32_t Code, const std::string& Function) {
  throw EORVException(Code, "Argument expected for function '%s' at line %d, column %d",
                      {Function, Token.LineNum, Token.ColumnNum});
}

[[noreturn]] void RaiseFound(const TToken& Token, int32_t Code, const std::string& What) {
  throw EORVException(Code, What + " expected, but '%s' found at line %d, column %d",
                      {Token.Text, Token.LineNum, Token.ColumnNum});
}

[[noreturn]] void RaiseStringArgument(const TToken& Token, int32_t Code, const std::string& Function) {
  throw EORVException(Code, "String argument expected for function '%s', but '%s' found at line %d, column %d",
                      {Function, Token.Text, Token.LineNum, Token.ColumnNum});
}

// A construct recognised by its operator or keyword whose next part is missing or cut off
// ("ID >", "X BETWEEN 1", "NOT"): the message names what is missing and what was found in its
// place, so that a truncated filter text is never read as a shorter condition.
[[noreturn]] void RaiseMissing(const TToken& Token, const std::string& Missing) {
  const std::string found = Token.TokenType == tktNone ? "the end of the command" : "'" + Token.Text + "'";
  throw EORVException(30640, Missing + ", but %s found at line %d, column %d",
                      {found, Token.LineNum, Token.ColumnNum});
}

// What GetNextToken with its checks raises at a token where something else was needed.
[[noreturn]] void RaiseUnexpected(const TToken& Token) {
  if (Token.TokenType == tktNone)
    throw EORVException(30063, "Unexpected end of SQL command found at line %d, column %d",
                        {Token.LineNum, Token.ColumnNum});
  throw EORVException(30064, "Unexpected token '%s' found at line %d, column %d",
                      {Token.Text, Token.LineNum, Token.ColumnNum});
}

}  // namespace

class TORVExpression::TNesting {
 public:
  explicit TNesting(TORVExpression& e) : e_(e) {
    if (++e_.FNestingDepth > MaxNestingDepth) {
      --e_.FNestingDepth;
      throw EORVException(30627, "Expression nested too deeply at line %d, column %d",
                          {e_.Token.LineNum, e_.Token.ColumnNum});
    }
  }
  ~TNesting() { --e_.FNestingDepth; }
  TNesting(const TNesting&) = delete;
  TNesting& operator=(const TNesting&) = delete;

 private:
  TORVExpression& e_;
};

void TORVExpression::CountStep() {
  if (++FParseSteps > BaseParseSteps + ParseStepsPerToken * FCommandTokens)
    throw EORVException(30628, "Expression too complex to parse at line %d, column %d",
                        {Token.LineNum, Token.ColumnNum});
}

void TORVExpression::Stash(TStashKind Kind, int32_t StartTokenNo, int32_t EndTokenNo, TORVExprNodePtr Node) {
  if (Node) FStash[{Kind, StartTokenNo}] = TStashed{std::move(Node), EndTokenNo};
}

TORVExprNodePtr TORVExpression::Unstash(TStashKind Kind) {
  int32_t start = 0;
  SaveState(start);
  const auto it = FStash.find({Kind, start});
  if (it == FStash.end()) return nullptr;
  TORVExprNodePtr node = std::move(it->second.Node);
  RestoreState(it->second.EndTokenNo);
  FStash.erase(it);
  return node;
}

bool TORVExpression::IsSymbol(const char* Text) const { return Token.TokenType == tktString && Token.Text == Text; }
bool TORVExpression::IsWord(TReservedWord Word) const { return IsReservedWord(Token, Word); }
bool TORVExpression::IsTokenType(TTokenType Type) const { return Token.TokenType == Type; }

bool TORVExpression::EndsOperand() const {
  if (IsTokenType(tktNone) || IsTokenType(tktRightParenthesis) || IsTokenType(tktComma)) return true;
  if (IsTokenType(tktString) && IsOperatorText(Token.Text)) return true;
  for (TReservedWord word : {rwAND, rwOR, rwNOT, rwLIKE, rwIN, rwBETWEEN, rwIS, rwESCAPE, rwWHEN, rwTHEN, rwELSE,
                             rwEND, rwFROM, rwFOR, rwAS})
    if (IsWord(word)) return true;
  return false;
}

TORVDataOperator TORVExpression::WordOperator(
    std::initializer_list<std::pair<TReservedWord, TORVDataOperator>> Words) const {
  for (const auto& [word, op] : Words)
    if (IsWord(word)) return op;
  return doUNDEFINED;
}

bool TORVExpression::ParseNegatableWord(TReservedWord Word, bool& Negated) {
  Negated = IsWord(rwNOT);
  if (Negated) GetNextToken();
  if (!IsWord(Word)) return false;
  GetNextToken();
  return true;
}

TORVExprNodePtr TORVExpression::Argument(TORVExprNodePtr Node, int32_t Code, const std::string& Function) const {
  if (!Node) RaiseArgumentExpected(Token, Code, Function);
  return Node;
}

void TORVExpression::Expect(TTokenType Type, int32_t Code, const char* Text) {
  if (!IsTokenType(Type)) RaiseTokenExpected(Token, Code, Text);
  GetNextToken();
}

void TORVExpression::ExpectWord(TReservedWord Word, int32_t Code, const char* Text) {
  if (!IsWord(Word)) RaiseTokenExpected(Token, Code, Text);
  GetNextToken();
}

TORVExprNodePtr TORVExpression::CreateSubqueryNode(bool MustHaveOneRow, bool MustHaveOneField) {
  // A subquery node reads its SELECT from the lexer whenever it runs, so it may stand only
  // where the lexer outlives the tree; a filter or default value lexes its text for the
  // moment of parsing.
  if (!FSubqueriesAllowed)
    throw EORVException(30626,
                        "Subqueries are not allowed in filters, Locate and default values: SELECT found at line %d, "
                        "column %d",
                        {Token.LineNum, Token.ColumnNum});
  IORVSubqueryNodeFactory* factory = GetSubqueryNodeFactory();
  if (!factory)
    throw std::logic_error("the SELECT at line " + std::to_string(Token.LineNum) + ", column " +
                           std::to_string(Token.ColumnNum) +
                           " needs the subquery node of the SQL statement processor, and none is registered");
  TORVExprNodePtr node = factory->CreateSubqueryNode(LDataset, *LLex, MustHaveOneRow, MustHaveOneField);
  GetCurrentToken();
  return node;
}

// ---- Boolean layer ----------------------------------------------------------------------------

TORVExprNodePtr TORVExpression::ParseSearchCondition() {
  TNesting nesting(*this);
  CountStep();
  TMark mark(*this);
  TORVExprNodePtr node = ParseBooleanTerm();
  if (!node) return mark.Fail();
  while (IsWord(rwOR)) {
    GetNextToken();
    TORVExprNodePtr term = ParseBooleanTerm();
    if (!term) RaiseFound(Token, 30070, "Boolean expression");
    node = Make<TORVExprNodeBoolean>(doOR, std::move(node), std::move(term), true, false);
  }
  return node;
}

TORVExprNodePtr TORVExpression::ParseBooleanTerm() {
  TMark mark(*this);
  TORVExprNodePtr factor = ParseBooleanFactor();
  if (!factor) return mark.Fail();
  if (!IsWord(rwAND)) return factor;
  auto node = std::make_unique<TORVExprNodeBoolean>(doAND, true, false, "");
  node->AddChild(std::move(factor));
  while (IsWord(rwAND)) {
    GetNextToken();
    TORVExprNodePtr next = ParseBooleanFactor();
    if (!next) RaiseFound(Token, 30069, "Boolean expression");
    node->AddChild(std::move(next));
  }
  return node;
}

TORVExprNodePtr TORVExpression::ParseBooleanFactor() {
  if (!IsWord(rwNOT)) return ParseBooleanTest();
  GetNextToken();
  TORVExprNodePtr test = ParseBooleanTest();
  if (!test) RaiseMissing(Token, "Boolean expression expected after NOT");
  return Make<TORVExprNodeBoolean>(doNOT, std::move(test), true, false);
}

TORVExprNodePtr TORVExpression::ParseBooleanTest() {
  TMark mark(*this);
  TORVExprNodePtr primary = ParseBooleanPrimary();
  if (!primary) return mark.Fail();
  if (!IsWord(rwIS)) return primary;
  GetNextToken(TTokenTypes(), false);
  bool negated = false;
  if (IsWord(rwNOT)) {
    negated = true;
    GetNextToken(TTokenTypes(), false);
  }
  if (IsWord(rwTRUE)) {
    GetNextToken();
    return negated ? Make<TORVExprNodeBoolean>(doNOT, std::move(primary), true, false) : std::move(primary);
  }
  if (IsWord(rwFALSE)) {
    GetNextToken();
    return negated ? std::move(primary) : Make<TORVExprNodeBoolean>(doNOT, std::move(primary), true, false);
  }
  if (IsWord(rwUNKNOWN)) {
    GetNextToken();
    return Make<TORVExprNodeBoolean>(negated ? doISNOTNULL : doISNULL, std::move(primary), true, false);
  }
  RaiseTokenExpected(Token, 30067, "TRUE, FALSE or UNKNOWN");
}

TORVExprNodePtr TORVExpression::ParseBooleanPrimary() {
  TMark mark(*this);
  if (TORVExprNodePtr predicate = ParsePredicate()) return predicate;
  if (IsTokenType(tktLeftParenthesis)) {
    GetNextToken();
    TORVExprNodePtr condition = ParseSearchCondition();
    // A parenthesised condition must be closed here; taking any token for the parenthesis
    // would silently drop what follows it.
    if (condition && IsTokenType(tktRightParenthesis)) {
      GetNextToken();
      return condition;
    }
    mark.Restore();
  }
  // Any value may stand as a condition: its value is read as a Boolean.
  if (TORVExprNodePtr value = ParseRowValueConstructor()) return value;
  return mark.Fail();
}

TORVExprNodePtr TORVExpression::ParsePredicate() {
  CountStep();
  if (TORVExprNodePtr n = ParseTrueFalseConst()) return n;
  int32_t start = 0;
  SaveState(start);
  TORVExprNodePtr left = ParseRowValueConstructor();
  if (!left) return ParseExistsPredicate();
  // Tried in this order: quantified comparison, comparison, LIKE, IS NULL, BETWEEN, IN.
  TORVExprNodePtr n = ParseQuantifiedComparisonPredicate(left);
  if (!n) n = ParseComparisonPredicate(left);
  if (!n) n = ParseLikePredicate(left);
  if (!n) n = ParseNullPredicate(left);
  if (!n) n = ParseBetweenPredicate(left);
  if (!n) n = ParseInPredicate(left);
  if (n) return n;
  // A NOT after a value can only begin NOT LIKE, NOT BETWEEN or NOT IN.
  if (IsWord(rwNOT)) {
    GetNextToken();
    RaiseMissing(Token, "LIKE, BETWEEN or IN expected after NOT");
  }
  // No predicate: the boolean primary takes the value itself as a condition.
  int32_t end = 0;
  SaveState(end);
  Stash(skRowValue, start, end, std::move(left));
  RestoreState(start);
  return nullptr;
}

// ---- Predicates ---------------------------------------------------------------------------------

TORVExprNodePtr TORVExpression::ParseTrueFalseConst() {
  TORVExprNodePtr node;
  if (IsWord(rwTRUE) || IsWord(rwFALSE)) {
    auto c = NewConst(bftLogical);
    c->Value.SetDataAsBoolean(IsWord(rwTRUE));
    node = std::move(c);
  } else if (IsTokenType(tktParameter) && Token.ParamValue && Token.ParamValue->DataType() == bftLogical) {
    node = CopyConst(*Token.ParamValue);
  } else {
    return nullptr;
  }
  GetNextToken();
  return node;
}

TORVExprNodePtr TORVExpression::ParseNullConst() {
  TORVBaseFieldType type = bftSignedInt32;
  if (IsTokenType(tktParameter) && Token.ParamValue && Token.ParamValue->IsNull()) {
    if (Token.ParamValue->DataType() != bftUnknown) type = Token.ParamValue->DataType();
  } else if (!IsWord(rwNULL)) {
    return nullptr;
  }
  GetNextToken();
  return NewConst(type);
}

TORVDataOperator TORVExpression::ParseCompOp() {
  if (!IsTokenType(tktString)) return doUNDEFINED;
  TORVDataOperator op = doUNDEFINED;
  if (Token.Text == "=")
    op = doEQ;
  else if (Token.Text == "<>")
    op = doNE;
  else if (Token.Text == "<")
    op = doLT;
  else if (Token.Text == ">")
    op = doGT;
  else if (Token.Text == "<=")
    op = doLE;
  else if (Token.Text == ">=")
    op = doGE;
  if (op != doUNDEFINED) GetNextToken();
  return op;
}

TORVQuantifier TORVExpression::ParseQuantifier() {
  TORVQuantifier q = qUNDEFINED;
  if (IsWord(rwALL))
    q = qALL;
  else if (IsWord(rwANY) || IsWord(rwSOME))
    q = qANY;
  if (q != qUNDEFINED) GetNextToken();
  return q;
}

TSign TORVExpression::ParseSign() {
  TSign sign = sgnUndefined;
  if (IsSymbol("+"))
    sign = sgnPlus;
  else if (IsSymbol("-"))
    sign = sgnMinus;
  if (sign != sgnUndefined) GetNextToken();
  return sign;
}

TORVExprNodePtr TORVExpression::ParseQuantifiedComparisonPredicate(TORVExprNodePtr& Left) {
  TMark mark(*this);
  const TORVDataOperator op = ParseCompOp();
  if (op == doUNDEFINED) return mark.Fail();
  const std::string quantifier_text = Token.Text;
  const TORVQuantifier quantifier = ParseQuantifier();
  if (quantifier == qUNDEFINED) return mark.Fail();
  TORVExprNodePtr subquery = ParseRowSubquery(false, true);
  if (!subquery) RaiseMissing(Token, "Subquery expected after " + quantifier_text);
  return Make<TORVExprNodeComparison>(op, quantifier, std::move(Left), std::move(subquery), F3ValueLogic,
                                      FCaseInsensitive, FPartialKey);
}

TORVExprNodePtr TORVExpression::ParseComparisonPredicate(TORVExprNodePtr& Left) {
  TMark mark(*this);
  const std::string op_text = Token.Text;
  const TORVDataOperator op = ParseCompOp();
  if (op == doUNDEFINED) return mark.Fail();
  // Nothing else may follow a comparison operator: without its right operand the text is
  // cut off, not a shorter condition.
  TORVExprNodePtr right = ParseRowValueConstructor();
  if (!right) RaiseMissing(Token, "Operand expected after '" + op_text + "'");

  // Partial keys: a text constant ending in "*" compares only its beginning. Both operands
  // lose their "*".
  bool partial = false;
  if (FPartialKey) {
    const bool l = IsPartialKey(Left.get()) != 0;
    const bool r = IsPartialKey(right.get()) != 0;
    partial = l || r;
  }

  // An empty text arrives as a NULL text constant (the engine stores empty texts as NULL),
  // as does a NULL date parameter: = and <> with it ask whether the field is NULL.
  if (op == doEQ || op == doNE) {
    TORVExprNodeField* field = nullptr;
    TORVExprNodeConst* constant = nullptr;
    if (AsField(Left.get()) && AsConst(right.get())) {
      field = AsField(Left.get());
      constant = AsConst(right.get());
    } else if (AsConst(Left.get()) && AsField(right.get())) {
      field = AsField(right.get());
      constant = AsConst(Left.get());
    }
    if (field && constant && constant->Value.IsNull() && IsTextOrDateType(constant->Value.DataType())) {
      TORVExprNodePtr f = field == Left.get() ? std::move(Left) : std::move(right);
      return Make<TORVExprNodeBoolean>(op == doEQ ? doISNULL : doISNOTNULL, std::move(f), true, false);
    }
  }

  // Null logic: a field against a text or date constant is two-valued (a NULL field sorts
  // below every text), as is a text against an operand not yet known. The word NULL (or a
  // NULL parameter that is no text or date) keeps the comparison three-valued: = NULL is
  // never True.
  bool two_valued = false;
  const auto field_against_text = [](TORVExprNode* a, TORVExprNode* b) {
    return AsField(a) && AsConst(b) && IsTextOrDateType(b->Value.DataType());
  };
  if (field_against_text(Left.get(), right.get()) || field_against_text(right.get(), Left.get())) two_valued = true;
  const auto text_against_unknown = [](TORVExprNode* a, TORVExprNode* b) {
    return a->Value.IsStringDataType() && b->Value.IsNull() && !IsPlainNull(b);
  };
  if (text_against_unknown(Left.get(), right.get()) || text_against_unknown(right.get(), Left.get()))
    two_valued = true;
  return Make<TORVExprNodeComparison>(op, std::move(Left), std::move(right), !two_valued, FCaseInsensitive, partial);
}

TORVExprNodePtr TORVExpression::ParseLikePredicate(TORVExprNodePtr& Left) {
  TMark mark(*this);
  bool negated = false;
  if (!ParseNegatableWord(rwLIKE, negated)) return mark.Fail();
  TORVExprNodePtr pattern = ParseRowValueConstructor();
  if (!pattern) RaiseMissing(Token, "Pattern expected after LIKE");
  bool escaped = false;
  std::string escape;
  if (IsWord(rwESCAPE)) {
    escaped = true;
    GetNextToken();
    size_t length = 0;
    if (IsTokenType(tktParameter) && Token.ParamValue) {
      escape = Token.ParamValue->GetDataAsAnsiString();
      length = escape.size();
    } else if (!IsTokenType(tktNone)) {
      length = platform::Utf8ToUtf16(Token.Text).size();
      escape = Engine8(Token.Text);
    }
    if (length != 1)
      throw EORVException(20294, "Invalid escape character length (should be a single character) at line %d, column %d",
                          {Token.LineNum, Token.ColumnNum});
    GetNextToken();
  }
  // A pattern that is a fixed text followed by one "%" is a prefix comparison, which an index
  // can serve. Only without "_": the comparison would take it literally.
  TORVExprNodeConst* constant = AsConst(pattern.get());
  if (!escaped && constant && constant->IsLikePatternEqualToPartialComparePattern()) {
    const bool has_underscore = constant->Value.IsWideStringDataType()
                                    ? constant->Value.GetDataAsWideString().find(u'_') != std::u16string::npos
                                    : constant->Value.GetDataAsAnsiString().find('_') != std::string::npos;
    if (!has_underscore) {
      constant->TruncateForPartialCompare();
      return Make<TORVExprNodeComparison>(negated ? doNE : doEQ, std::move(Left), std::move(pattern), false,
                                          FCaseInsensitive, true);
    }
  }
  auto node = std::make_unique<TORVExprNodeBoolean>(negated ? doNOTLIKE : doLIKE, FCaseInsensitive, false, escape);
  node->AddChild(std::move(Left));
  node->AddChild(std::move(pattern));
  return node;
}

TORVExprNodePtr TORVExpression::ParseNullPredicate(TORVExprNodePtr& Left) {
  TMark mark(*this);
  if (!IsWord(rwIS)) return mark.Fail();
  GetNextToken();
  bool negated = false;
  if (!ParseNegatableWord(rwNULL, negated)) return mark.Fail();
  return Make<TORVExprNodeBoolean>(negated ? doISNOTNULL : doISNULL, std::move(Left), true, false);
}

TORVExprNodePtr TORVExpression::ParseBetweenPredicate(TORVExprNodePtr& Left) {
  TMark mark(*this);
  bool negated = false;
  if (!ParseNegatableWord(rwBETWEEN, negated)) return mark.Fail();
  TORVExprNodePtr low = ParseRowValueConstructor();
  if (!low) RaiseMissing(Token, "Lower bound expected after BETWEEN");
  if (!IsWord(rwAND)) RaiseMissing(Token, "AND expected after the lower bound of BETWEEN");
  GetNextToken();
  TORVExprNodePtr high = ParseRowValueConstructor();
  if (!high) RaiseMissing(Token, "Upper bound expected after BETWEEN ... AND");
  return Make<TORVExprNodeBoolean>(negated ? doNOTBETWEEN : doBETWEEN, std::move(Left), std::move(low),
                                   std::move(high), true, false);
}

TORVExprNodePtr TORVExpression::ParseInPredicate(TORVExprNodePtr& Left) {
  TMark mark(*this);
  bool negated = false;
  if (!ParseNegatableWord(rwIN, negated)) return mark.Fail();
  if (!IsTokenType(tktLeftParenthesis)) RaiseMissing(Token, "'(' expected after IN");
  GetNextToken();
  auto node = std::make_unique<TORVExprNodeBoolean>(negated ? doNOTIN : doIN, true, false, "");
  if (IsWord(rwSELECT)) {
    TORVExprNodePtr subquery = CreateSubqueryNode(false, true);
    if (!IsTokenType(tktRightParenthesis)) return mark.Fail();
    GetNextToken();
    node->AddChild(std::move(Left));
    node->AddChild(std::move(subquery));
    return node;
  }
  std::vector<TORVExprNodePtr> elements;
  for (;;) {
    TORVExprNodePtr element = ParseValueExpression();
    if (!element) RaiseMissing(Token, "Value of the IN list expected");
    elements.push_back(std::move(element));
    if (IsTokenType(tktComma)) {
      GetNextToken();
      continue;
    }
    if (!IsTokenType(tktRightParenthesis)) RaiseMissing(Token, "',' or ')' expected in the IN list");
    GetNextToken();
    node->AddChild(std::move(Left));
    for (auto& e : elements) node->AddChild(std::move(e));
    return node;
  }
}

TORVExprNodePtr TORVExpression::ParseExistsPredicate() {
  TMark mark(*this);
  if (!IsWord(rwEXISTS)) return nullptr;
  GetNextToken();
  int32_t parentheses = 0;
  while (IsTokenType(tktLeftParenthesis)) {
    ++parentheses;
    GetNextToken();
  }
  if (!IsWord(rwSELECT)) return mark.Fail();
  TORVExprNodePtr subquery = CreateSubqueryNode(false, false);
  for (int32_t i = 0; i < parentheses; ++i) {
    if (!IsTokenType(tktRightParenthesis))
      throw EORVException(30492, "Missing symbol ')' at line %d, column %d", {Token.LineNum, Token.ColumnNum});
    GetNextToken();
  }
  return Make<TORVExprNodeBoolean>(doEXISTS, std::move(subquery), true, false);
}

TORVExprNodePtr TORVExpression::ParseRowValueConstructor() {
  if (TORVExprNodePtr n = Unstash(skRowValue)) return n;
  TMark mark(*this);
  if (TORVExprNodePtr subquery = ParseRowSubquery(true, true)) {
    // A subquery followed by an operator is an operand of a value expression, as in
    // x < (SELECT ...) + 3: that alternative reads it with the rest.
    if (!IsSymbol("+") && !IsSymbol("-") && !IsSymbol("*") && !IsSymbol("/") && !IsSymbol("||")) return subquery;
    mark.Restore();
  }
  return ParseRowValueConstructorElement();
}

TORVExprNodePtr TORVExpression::ParseRowValueConstructorElement() {
  if (TORVExprNodePtr null = ParseNullConst()) return null;
  return ParseValueExpression();
}

TORVExprNodePtr TORVExpression::ParseRowSubquery(bool MustHaveOneRow, bool MustHaveOneField) {
  TMark mark(*this);
  int32_t parentheses = 0;
  while (IsTokenType(tktLeftParenthesis)) {
    ++parentheses;
    GetNextToken();
  }
  if (!IsWord(rwSELECT)) return mark.Fail();
  TORVExprNodePtr subquery = CreateSubqueryNode(MustHaveOneRow, MustHaveOneField);
  // The parentheses opened before SELECT close after it; otherwise the SELECT is part of a
  // larger parenthesised expression, which another alternative reads.
  for (int32_t i = 0; i < parentheses; ++i) {
    if (!IsTokenType(tktRightParenthesis)) return mark.Fail();
    GetNextToken();
  }
  return subquery;
}

// ---- Value expressions --------------------------------------------------------------------------

TORVExprNodePtr TORVExpression::ParseValueExpression() {
  TNesting nesting(*this);
  CountStep();
  int32_t start = 0;
  SaveState(start);
  if (FNoValueExpressionAt.count(start)) return nullptr;
  if (TORVExprNodePtr n = ParseNumericValueExpression()) return n;
  if (TORVExprNodePtr n = ParseIntervalValueExpression()) return n;
  if (TORVExprNodePtr n = ParseDatetimeValueExpression()) return n;
  if (TORVExprNodePtr n = ParseStringValueExpression()) return n;
  if (TORVExprNodePtr n = ParseTrueFalseConst()) return n;
  if (TORVExprNodePtr n = ParseNullConst()) return n;
  if (TORVExprNodePtr n = ParseBlobExpression()) return n;
  FNoValueExpressionAt.insert(start);
  return nullptr;
}

TORVExprNodePtr TORVExpression::ParseNumericValueExpression() {
  TMark mark(*this);
  int32_t start = 0;
  SaveState(start);
  TORVExprNodePtr first = ParseTerm(sgnUndefined);
  if (!first) return mark.Fail();
  TORVExprNodePtr node;
  if (IsSymbol("+") || IsSymbol("-")) {
    // a - b is a + (-b): the sign goes to the first factor of its term.
    auto sum = std::make_unique<TORVExprNodeArithmetic>(doADD, true, false);
    sum->AddChild(std::move(first));
    while (IsSymbol("+") || IsSymbol("-")) {
      const std::string sign_text = Token.Text;
      const TSign sign = ParseSign();
      TORVExprNodePtr term = ParseTerm(sign);
      if (!term) {
        // 1 + 'x' may still be a concatenation; 1 + at the end (or before ")") is nothing.
        if (EndsOperand()) RaiseMissing(Token, "Operand expected after '" + sign_text + "'");
        return mark.Fail();
      }
      sum->AddChild(std::move(term));
    }
    node = std::move(sum);
  } else {
    node = std::move(first);
  }
  // x || y is a concatenation: the string rule reads it. When the number was one primary,
  // that rule takes the same primary over instead of reading it again.
  if (IsSymbol("||")) {
    int32_t end = 0;
    SaveState(end);
    if (FLastPrimaryStart == start && FLastPrimaryEnd == end) Stash(skPrimary, start, end, std::move(node));
    return mark.Fail();
  }
  return node;
}

TORVExprNodePtr TORVExpression::ParseTerm(TSign Sign) {
  TMark mark(*this);
  TORVExprNodePtr node = ParseFactor(Sign);
  if (!node) return mark.Fail();
  while (IsSymbol("*") || IsSymbol("/")) {
    const TORVDataOperator op = IsSymbol("*") ? doMUL : doDIV;
    GetNextToken();
    TORVExprNodePtr factor = ParseFactor(sgnUndefined);
    // An operator without its operand is an error here, not an expression with a hole.
    if (!factor) RaiseUnexpected(Token);
    node = Make<TORVExprNodeArithmetic>(op, std::move(node), std::move(factor), true, false);
  }
  return node;
}

TORVExprNodePtr TORVExpression::ParseFactor(TSign Sign) {
  TMark mark(*this);
  const TSign own = ParseSign();
  TORVExprNodePtr primary = ParseNumericPrimary();
  if (!primary) return mark.Fail();
  if (own == sgnMinus) primary = Negation(std::move(primary));
  if (Sign == sgnMinus) primary = Negation(std::move(primary));
  return primary;
}

TORVExprNodePtr TORVExpression::ParseNumericPrimary() {
  int32_t start = 0;
  SaveState(start);
  TORVExprNodePtr node = ParseValueExpressionPrimary();
  if (node) {
    FLastPrimaryStart = start;
    SaveState(FLastPrimaryEnd);
  } else {
    node = ParseNumericValueFunction();
  }
  if (!node) return nullptr;
  // Text and date constants never form numeric expressions; the string rule will ask for the
  // same primary.
  if (TORVExprNodeConst* c = AsConst(node.get()); c && !c->Value.IsNumericDataType()) {
    int32_t end = 0;
    SaveState(end);
    Stash(skPrimary, start, end, std::move(node));
    RestoreState(start);
    return nullptr;
  }
  return node;
}

TORVExprNodePtr TORVExpression::ParseValueExpressionPrimary() {
  CountStep();
  if (TORVExprNodePtr n = Unstash(skPrimary)) return n;
  if (TORVExprNodePtr n = ParseUnsignedValueSpecification()) return n;
  if (TORVExprNodePtr n = ParseColumnReference()) return n;
  if (TORVExprNodePtr n = ParseSetFunctionSpecification()) return n;
  if (TORVExprNodePtr n = ParseRowSubquery(false, true)) return n;
  if (TORVExprNodePtr n = ParseCaseExpression()) return n;
  if (IsTokenType(tktLeftParenthesis)) {
    TMark mark(*this);
    GetNextToken();
    TORVExprNodePtr inner = ParseValueExpression();
    if (inner && IsTokenType(tktRightParenthesis)) {
      GetNextToken();
      return inner;
    }
    mark.Restore();
  }
  return ParseCastSpecification();
}

TORVExprNodePtr TORVExpression::ParseUnsignedValueSpecification() {
  if (TORVExprNodePtr n = ParseUnsignedNumericLiteral()) return n;
  return ParseGeneralLiteral();
}

TORVExprNodePtr TORVExpression::ParseUnsignedNumericLiteral() {
  TORVExprNodePtr node;
  if (IsTokenType(tktInt)) {
    auto c = TextConst8(Token.Text);
    c->Value.Cast(bftSignedInt64);
    // A literal is unsigned (a minus is a token of its own); 2147483647 itself stays 64-bit.
    if (c->Value.GetDataAsSignedInt64() < 2147483647) c->Value.Cast(bftSignedInt32);
    node = std::move(c);
  } else if (IsTokenType(tktFloat)) {
    auto c = TextConst8(Token.Text);
    c->Value.Cast(bftDouble);
    node = std::move(c);
  } else if (IsTokenType(tktParameter) && Token.ParamValue && Token.ParamValue->IsNumericDataType()) {
    node = CopyConst(*Token.ParamValue);
  } else {
    return nullptr;
  }
  GetNextToken();
  return node;
}

TORVExprNodePtr TORVExpression::ParseGeneralLiteral() {
  if (TORVExprNodePtr n = ParseCharacterStringLiteral()) return n;
  return ParseDateTimeLiteral();
}

TORVExprNodePtr TORVExpression::ParseCharacterStringLiteral() {
  TORVExprNodePtr node;
  if (IsTokenType(tktQuotedString)) {
    auto c = NewConst(bftWideVarchar);
    c->Value.SetDataAsWideString(platform::Utf8ToUtf16(Token.Text));
    c->Value.TryToReduceWideStringToAnsiString();
    node = std::move(c);
  } else if (IsTokenType(tktParameter) && Token.ParamValue &&
             (Token.ParamValue->IsStringDataType() || Token.ParamValue->IsBlobDataType())) {
    node = CopyConst(*Token.ParamValue);
  } else {
    return nullptr;
  }
  GetNextToken();
  return node;
}

TORVExprNodePtr TORVExpression::ParseDateTimeLiteral() {
  struct TKind {
    TReservedWord Word;
    TORVBaseFieldType DataType;
    int32_t NotQuotedCode;
    const char* NotQuotedText;
    int32_t BadCode;
    const char* Expected;
    bool (*Convert)(std::string_view, TDateTime&);
  };
  static const TKind kinds[] = {
      {rwDATE, bftDate, 20283, "Date string expected \"YYYY-MM-DD\", but found \"%s\" at line %d, column %d", 20284,
       "YYYY-MM-DD", &ISODateStrToDate},
      {rwTIME, bftTime, 20285, "Time string expected \"HH:MM:SS\", but found \"%s\" at line %d, column %d", 20286,
       "HH:MM:SS", &ISOTimeStrToTime},
      {rwTIMESTAMP, bftDateTime, 20287, "Time string expected \"HH:MM:SS\", but found \"%s\" at line %d, column %d",
       20288, "YYYY-MM-DD", &ISOTimeStampStrToDateTime},
  };
  for (const TKind& kind : kinds) {
    if (!IsWord(kind.Word)) continue;
    GetNextToken();
    if (!IsTokenType(tktQuotedString))
      throw EORVException(kind.NotQuotedCode, kind.NotQuotedText, {Token.Text, Token.LineNum, Token.ColumnNum});
    TDateTime value = 0;
    bool converted = false;
    try {
      converted = kind.Convert(Token.Text, value);
    } catch (const std::exception&) {
      converted = false;  // an impossible date such as 2024-02-30
    }
    if (!converted) RaiseTokenExpected(Token, kind.BadCode, kind.Expected);
    auto c = NewConst(kind.DataType);
    if (kind.DataType == bftDate)
      c->Value.SetDataAsTDate(value);
    else if (kind.DataType == bftTime)
      c->Value.SetDataAsTTime(value);
    else
      c->Value.SetDataAsTDateTime(value);
    GetNextToken();
    return c;
  }
  return nullptr;
}

TORVExprNodePtr TORVExpression::ParseColumnReference() {
  if (!IsTokenType(tktString) && !IsTokenType(tktBracketedString)) return nullptr;
  // Operators are unquoted text too, but never names: "x * = 1" is an operator without its
  // operand, not a field named "=".
  if (IsTokenType(tktString) && IsOperatorText(Token.Text)) return nullptr;
  TToken next;
  LLex->LookNextToken(next);
  if (next.TokenType == tktLeftParenthesis) return nullptr;  // a function call
  TMark mark(*this);
  std::string table;
  std::string field = Token.Text;
  GetNextToken();
  if (IsTokenType(tktDot)) {
    GetNextToken();
    if (IsTokenType(tktNone)) return mark.Fail();
    table = field;
    field = Token.Text;
    GetNextToken();
  }
  return Make<TORVExprNodeField>(LCursor, Engine8(field), Engine8(table));
}

TORVExprNodePtr TORVExpression::ParseSetFunctionSpecification() {
  const TORVDataOperator op =
      WordOperator({{rwCOUNT, doCOUNT}, {rwAVG, doAVG}, {rwMAX, doMAX}, {rwMIN, doMIN}, {rwSUM, doSUM}});
  if (op == doUNDEFINED) return nullptr;
  GetNextToken();
  bool distinct = false;
  if (IsWord(rwDISTINCT)) {
    distinct = true;
    GetNextToken();
  }
  Expect(tktLeftParenthesis, 30074, "(");
  if (op == doCOUNT && IsSymbol("*")) {
    GetNextToken();
    Expect(tktRightParenthesis, 30073, ")");
    return std::make_unique<TORVExprNodeAggregated>(doCOUNTALL);
  }
  TORVExprNodePtr argument = Argument(ParseValueExpression(), 30102, GetOperatorName(op));
  Expect(tktRightParenthesis, 30075, ")");
  return std::make_unique<TORVExprNodeAggregated>(op, distinct, std::move(argument));
}

TORVExprNodePtr TORVExpression::ParseCastSpecification() {
  if (!IsWord(rwCAST)) return nullptr;
  TMark mark(*this);
  GetNextToken();
  if (!IsTokenType(tktLeftParenthesis)) return mark.Fail();
  GetNextToken();
  TORVExprNodePtr operand = ParseNullConst();
  if (!operand) operand = ParseValueExpression();
  if (!operand) return mark.Fail();
  GetNextToken();  // the separator: "," or AS
  const TORVAdvancedFieldType type = GetFieldType(Engine8(Token.Text));
  if (!IsConvertableFieldType(type))
    throw EORVException(30077, "Cannot convert an expression to specified type: '%s'", {AftToStr(type)});
  GetNextToken();
  TORVExprNodePtr size;
  if (IsTokenType(tktLeftParenthesis)) {
    GetNextToken();
    size = ParseNumericValueExpression();
    Expect(tktRightParenthesis, 30465, ")");
    if (!IsTokenType(tktRightParenthesis)) RaiseTokenExpected(Token, 30465, ")");
  } else if (!IsTokenType(tktRightParenthesis)) {
    RaiseTokenExpected(Token, 30076, ")");
  }
  GetNextToken();
  return std::make_unique<TORVExprNodeCast>(std::move(operand), type, std::move(size));
}

// ---- Numeric functions --------------------------------------------------------------------------

TORVExprNodePtr TORVExpression::ParseNumericValueFunction() {
  if (TORVExprNodePtr n = ParsePositionExpression()) return n;
  if (TORVExprNodePtr n = ParseExtractExpression()) return n;
  if (TORVExprNodePtr n = ParseLengthExpression()) return n;
  if (TORVExprNodePtr n = ParseLastAutoIncExpression()) return n;
  if (TORVExprNodePtr n = ParseRowNumExpression()) return n;
  return ParseMathExpression();
}

TORVExprNodePtr TORVExpression::ParsePositionExpression() {
  if (!IsWord(rwPOSITION) && !IsWord(rwPOS)) return nullptr;
  GetNextToken();
  Expect(tktLeftParenthesis, 30078, "(");
  TORVExprNodePtr substring = Argument(ParseStringValueExpression(), 30079, "POS");
  if (!IsTokenType(tktComma) && !IsWord(rwIN)) RaiseTokenExpected(Token, 30080, ",' or 'IN");
  GetNextToken();
  TORVExprNodePtr text = Argument(ParseStringValueExpression(), 30081, "POS");
  Expect(tktRightParenthesis, 30082, ")");
  return Make<TORVExprNodeStringFunction>(doPOS, std::move(substring), std::move(text), true, false);
}

TORVExprNodePtr TORVExpression::ParseExtractExpression() {
  if (!IsWord(rwEXTRACT)) return nullptr;
  GetNextToken();
  Expect(tktLeftParenthesis, 20277, "(");
  static constexpr const char* kFields = "YEAR or MONTH or DAY or HOUR or MINUTE or SECOND";
  if (!IsTokenType(tktReservedWord)) RaiseTokenExpected(Token, 20278, kFields);
  TORVDateTimeExtractField part = dtefYear;
  switch (Token.ReservedWord) {
    case rwYEAR: part = dtefYear; break;
    case rwMONTH: part = dtefMonth; break;
    case rwDAY: part = dtefDay; break;
    case rwHOUR: part = dtefHour; break;
    case rwMINUTE: part = dtefMinute; break;
    case rwSECOND: part = dtefSecond; break;
    default: RaiseTokenExpected(Token, 20279, kFields);
  }
  GetNextToken();
  ExpectWord(rwFROM, 20280, "FROM");
  TORVExprNodePtr source = Argument(ParseValueExpressionPrimary(), 20281, "EXTRACT (... FROM ...)");
  Expect(tktRightParenthesis, 20282, ")");
  return std::make_unique<TORVExprNodeDateFunction>(doEXTRACT, part, std::move(source));
}

TORVExprNodePtr TORVExpression::ParseLengthExpression() {
  if (!IsWord(rwLENGTH)) return nullptr;
  GetNextToken();
  Expect(tktLeftParenthesis, 30083, "(");
  TORVExprNodePtr argument = Argument(ParseStringValueExpression(), 30085, "LENGTH");
  Expect(tktRightParenthesis, 30084, ")");
  return Make<TORVExprNodeStringFunction>(doLENGTH, std::move(argument), true, false);
}

TORVExprNodePtr TORVExpression::ParseLastAutoIncExpression() {
  if (!IsWord(rwLAST_AUTOINC)) return nullptr;
  GetNextToken();
  Expect(tktLeftParenthesis, 30086, "(");
  const std::string table = Engine8(Token.Text);
  GetNextToken();
  bool in_memory = false;
  if (IsWord(rwMEMORY)) {
    in_memory = true;
    GetNextToken();
  }
  Expect(tktComma, 30334, ",");
  const std::string column = Engine8(Token.Text);
  GetNextToken();
  Expect(tktRightParenthesis, 30089, ")");
  return std::make_unique<TORVExprNodeSystem>(doLASTAUTOINC, FSessionName, FDatabaseName, table, column,
                                              in_memory || FInMemory);
}

TORVExprNodePtr TORVExpression::ParseRowNumExpression() {
  if (!IsWord(rwROWNUM)) return nullptr;
  GetNextToken();
  return std::make_unique<TORVExprNodeSystem>(doROWNUM, FSessionName, FDatabaseName, "", "", FInMemory);
}

TORVExprNodePtr TORVExpression::ParseMathExpression() {
  struct TMath {
    TReservedWord Word;
    TORVDataOperator Op;
    const char* Name;
  };
  // In the order they are tried; POWER and ROUND take more than one argument.
  static const TMath functions[] = {
      {rwABS, doABS, "ABS"},     {rwACOS, doACOS, "ACOS"},   {rwASIN, doASIN, "ASIN"}, {rwATAN, doATAN, "ATAN"},
      {rwCEIL, doCEIL, "CEIL"},  {rwCOS, doCOS, "COS"},      {rwEXP, doEXP, "EXP"},    {rwFLOOR, doFLOOR, "FLOOR"},
      {rwLOG, doLOG, "LOG"},     {rwPOWER, doPOWER, "POWER"}, {rwRAND, doRAND, "RAND"}, {rwROUND, doROUND, "ROUND"},
      {rwSIGN, doSIGN, "SIGN"},  {rwSIN, doSIN, "SIN"},      {rwSQR, doSQR, "SQR"},    {rwSQRT, doSQRT, "SQRT"},
  };
  for (const TMath& f : functions) {
    if (!IsWord(f.Word)) continue;
    if (f.Op == doPOWER) return ParsePOWERExpression();
    if (f.Op == doROUND) return ParseROUNDExpression();
    return ParseSingleArgMathExpression(f.Word, f.Op, f.Name);
  }
  return nullptr;
}

TORVExprNodePtr TORVExpression::ParseSingleArgMathExpression(TReservedWord rw, TORVDataOperator op,
                                                             const std::string& OpText) {
  if (!IsWord(rw)) return nullptr;
  GetNextToken();
  Expect(tktLeftParenthesis, 20261, "(");
  TORVExprNodePtr argument = Argument(ParseNumericValueExpression(), 20262, OpText);
  Expect(tktRightParenthesis, 20263, ")");
  return Make<TORVExprNodeArithmetic>(op, std::move(argument), true, false);
}

TORVExprNodePtr TORVExpression::ParsePOWERExpression() {
  if (!IsWord(rwPOWER)) return nullptr;
  GetNextToken();
  Expect(tktLeftParenthesis, 20264, "(");
  TORVExprNodePtr x = Argument(ParseNumericValueExpression(), 20265, "POWER");
  if (!IsTokenType(tktComma))
    throw EORVException(20267, "comma (\",\") expected but not found at line %d, column %d",
                        {Token.LineNum, Token.ColumnNum});
  GetNextToken();
  TORVExprNodePtr y = Argument(ParseNumericValueExpression(), 20268, "POWER");
  Expect(tktRightParenthesis, 20266, ")");
  return Make<TORVExprNodeArithmetic>(doPOWER, std::move(x), std::move(y), true, false);
}

TORVExprNodePtr TORVExpression::ParseROUNDExpression() {
  if (!IsWord(rwROUND)) return nullptr;
  GetNextToken();
  Expect(tktLeftParenthesis, 30502, "(");
  auto node = std::make_unique<TORVExprNodeArithmetic>(doROUND, true, false);
  TORVExprNodePtr x = Argument(ParseNumericValueExpression(), 30503, "ROUND");
  node->AddChild(std::move(x));
  if (IsTokenType(tktComma)) {
    GetNextToken();
    TORVExprNodePtr digits = Argument(ParseNumericValueExpression(), 30504, "ROUND");
    node->AddChild(std::move(digits));
    if (IsTokenType(tktComma)) {
      GetNextToken();
      // Only the nine rounding words mean something; the mode is the word's number.
      const bool is_mode = IsTokenType(tktReservedWord) && Token.ReservedWord >= rwHALFEVEN &&
                           Token.ReservedWord <= rwRNDUP;
      if (!is_mode)
        RaiseFound(Token, 30505, "Rounding mode (HALFEVEN, HALFPOS, HALFNEG, HALFDOWN, HALFUP, RNDNEG, RNDPOS, "
                                 "RNDDOWN or RNDUP)");
      auto mode = NewConst(bftSignedInt32);
      mode->Value.SetDataAsSignedInt32(static_cast<int32_t>(Token.ReservedWord));
      node->AddChild(std::move(mode));
      GetNextToken();
    }
  }
  Expect(tktRightParenthesis, 30506, ")");
  return node;
}

// ---- Strings ------------------------------------------------------------------------------------

TORVExprNodePtr TORVExpression::ParseStringValueExpression() {
  if (TORVExprNodePtr n = Unstash(skStringValue)) return n;
  TMark mark(*this);
  TORVExprNodePtr first = ParseCharacterFactor();
  if (!first) return mark.Fail();
  if (!IsSymbol("||") && !IsSymbol("+")) return first;
  auto concat = std::make_unique<TORVExprNodeStringFunction>(doCONCAT, true, false);
  concat->AddChild(std::move(first));
  while (IsSymbol("||") || IsSymbol("+")) {
    const std::string op_text = Token.Text;
    GetNextToken();
    // Skipping a missing operand would read "Name ||" as Name.
    TORVExprNodePtr factor = ParseCharacterFactor();
    if (!factor) RaiseMissing(Token, "Operand expected after '" + op_text + "'");
    concat->AddChild(std::move(factor));
  }
  return concat;
}

TORVExprNodePtr TORVExpression::ParseCharacterFactor() {
  if (TORVExprNodePtr n = ParseValueExpressionPrimary()) return n;
  if (TORVExprNodePtr n = ParseStringValueFunction()) return n;
  return ParseDatetimeValueExpression();
}

TORVExprNodePtr TORVExpression::ParseStringValueFunction() {
  const TORVDataOperator op = WordOperator(
      {{rwUPPER, doUPPER}, {rwLOWER, doLOWER}, {rwTRIM, doTRIM}, {rwLTRIM, doLTRIM}, {rwRTRIM, doRTRIM}});
  if (op != doUNDEFINED) {
    GetNextToken();
    Expect(tktLeftParenthesis, 30090, "(");
    TORVExprNodePtr argument = ParseStringValueExpression();
    if (!IsTokenType(tktRightParenthesis)) RaiseTokenExpected(Token, 30091, ")");
    if (!argument) RaiseStringArgument(Token, 30092, GetOperatorName(op));
    GetNextToken();
    return Make<TORVExprNodeStringFunction>(op, std::move(argument), true, false);
  }

  if (IsWord(rwTOSTRING)) {
    GetNextToken();
    Expect(tktLeftParenthesis, 30093, "(");
    TORVExprNodePtr value = Argument(ParseValueExpression(), 30094, GetOperatorName(doTOSTRING));
    if (!IsTokenType(tktComma) && !IsWord(rwFROM)) RaiseTokenExpected(Token, 30095, ",");
    GetNextToken();
    if (!IsTokenType(tktQuotedString)) RaiseFound(Token, 30096, "Const DateFormat string");
    const std::string format = Engine8(Token.Text);
    GetNextToken();
    Expect(tktRightParenthesis, 30097, ")");
    return std::make_unique<TORVExprNodeDateFunction>(doTOSTRING, std::move(value), format);
  }

  if (IsWord(rwSUBSTRING)) {
    const std::string name = GetOperatorName(doSUBSTRING);
    GetNextToken();
    Expect(tktLeftParenthesis, 30098, "(");
    auto node = std::make_unique<TORVExprNodeStringFunction>(doSUBSTRING, true, false);
    TORVExprNodePtr text = Argument(ParseStringValueExpression(), 30099, name);
    node->AddChild(std::move(text));
    if (!IsTokenType(tktComma) && !IsWord(rwFROM)) RaiseTokenExpected(Token, 30100, ",' or 'from");
    GetNextToken();
    TORVExprNodePtr start = Argument(ParseNumericValueExpression(), 30101, name);
    node->AddChild(std::move(start));
    if (IsTokenType(tktComma) || IsWord(rwFOR)) {
      GetNextToken();
      if (TORVExprNodePtr length = ParseNumericValueExpression()) node->AddChild(std::move(length));
      if (!IsTokenType(tktRightParenthesis)) RaiseTokenExpected(Token, 30104, ")");
    } else if (!IsTokenType(tktRightParenthesis)) {
      RaiseTokenExpected(Token, 30103, ")' or ',' or 'FOR");
    }
    GetNextToken();
    return node;
  }
  return nullptr;
}

// ---- Dates and intervals ------------------------------------------------------------------------

TORVExprNodePtr TORVExpression::ParseDatetimeValueExpression() {
  const TORVDataOperator op = WordOperator({{rwSYSDATE, doSYSDATE},
                                            {rwNOW, doSYSDATE},
                                            {rwCURRENT_TIMESTAMP, doSYSDATE},
                                            {rwCURRENT_TIME, doCURRENT_TIME},
                                            {rwCURRENT_DATE, doCURRENT_DATE}});
  if (op != doUNDEFINED) {
    GetNextToken();
    return std::make_unique<TORVExprNodeDateFunction>(op);
  }
  if (TORVExprNodePtr n = ParseToDateFunction()) return n;
  if (IsTokenType(tktParameter) && Token.ParamValue && Token.ParamValue->IsDateTimeDataType()) {
    TORVExprNodePtr node = CopyConst(*Token.ParamValue);
    GetNextToken();
    return node;
  }
  return nullptr;
}

TORVExprNodePtr TORVExpression::ParseToDateFunction() {
  if (!IsWord(rwTODATE)) return nullptr;
  GetNextToken();
  Expect(tktLeftParenthesis, 30105, "(");
  TORVExprNodePtr text = Argument(ParseStringValueExpression(), 30107, "ToDate");
  Expect(tktComma, 30108, ",");
  if (!IsTokenType(tktQuotedString)) RaiseFound(Token, 30109, "Const DateFormat string");
  const std::string format = Engine8(Token.Text);
  GetNextToken();
  Expect(tktRightParenthesis, 30106, ")");
  return std::make_unique<TORVExprNodeDateFunction>(doTODATE, std::move(text), format);
}

TORVExprNodePtr TORVExpression::ParseIntervalValueExpression() {
  TMark mark(*this);
  // A date-time plus or minus numbers: every further term is added, a subtracted one negated
  // (SYSDATE - 1 - 2 is three days back, not one day ahead).
  if (TORVExprNodePtr date = ParseDatetimeValueExpression()) {
    if (IsSymbol("+") || IsSymbol("-")) {
      auto sum = std::make_unique<TORVExprNodeArithmetic>(doADD, true, false);
      sum->AddChild(std::move(date));
      while (IsSymbol("+") || IsSymbol("-")) {
        const std::string sign_text = Token.Text;
        const TSign sign = ParseSign();
        TORVExprNodePtr term = ParseTerm(sign);
        if (!term) {
          if (EndsOperand()) RaiseMissing(Token, "Operand expected after '" + sign_text + "'");
          return mark.Fail();
        }
        sum->AddChild(std::move(term));
      }
      return sum;
    }
    mark.Restore();
  }
  // A text minus a date-time.
  int32_t start = 0;
  SaveState(start);
  if (TORVExprNodePtr text = ParseStringValueExpression()) {
    int32_t end = 0;
    SaveState(end);
    if (IsSymbol("-")) {
      GetNextToken();
      if (TORVExprNodePtr date = ParseDatetimeValueExpression())
        return Make<TORVExprNodeArithmetic>(doADD, std::move(text), Negation(std::move(date)), true, false);
      if (EndsOperand()) RaiseMissing(Token, "Operand expected after '-'");
    }
    // The string rule will ask for the same text.
    Stash(skStringValue, start, end, std::move(text));
  }
  return mark.Fail();
}

// ---- CASE, COALESCE and MIMETOBIN ---------------------------------------------------------------

TORVExprNodePtr TORVExpression::ParseCaseExpression() {
  if (IsWord(rwCOALESCE)) return ParseCoalesce();
  if (!IsWord(rwCASE)) return nullptr;
  TToken next;
  LLex->LookNextToken(next);
  return IsReservedWord(next, rwWHEN) ? ParseSearchedCase() : ParseSimpleCase();
}

TORVExprNodePtr TORVExpression::ParseCoalesce() {
  if (!IsWord(rwCOALESCE)) return nullptr;
  GetNextToken();
  Expect(tktLeftParenthesis, 20275, "(");
  if (IsTokenType(tktRightParenthesis))
    throw EORVException(20276, "COALESCE arguments are missing at line %d, column %d",
                        {Token.LineNum, Token.ColumnNum});
  std::vector<TORVExprNodePtr> arguments;
  while (!IsTokenType(tktRightParenthesis)) {
    // The list must go on with an expression: anything else (or its end) would leave the
    // loop without progress.
    TORVExprNodePtr argument = ParseValueExpression();
    if (!argument) RaiseUnexpected(Token);
    arguments.push_back(std::move(argument));
    if (IsTokenType(tktComma)) GetNextToken();
  }
  GetNextToken();
  return TORVExprNodeCase::CreateCoalesce(std::move(arguments));
}

TORVExprNodePtr TORVExpression::ParseSimpleCase() {
  if (!IsWord(rwCASE)) return nullptr;
  GetNextToken();
  TORVExprNodePtr input = ParseValueExpression();
  if (!input) RaiseFound(Token, 30467, "Input expression for CASE function");
  auto node = TORVExprNodeCase::CreateSimpleCase(std::move(input));
  if (!IsWord(rwWHEN)) RaiseTokenExpected(Token, 30468, "WHEN");
  while (IsWord(rwWHEN)) {
    GetNextToken();
    TORVExprNodePtr when = ParseValueExpression();
    if (!when) RaiseFound(Token, 30469, "When Expression for CASE function");
    node->AddWhenExpression(std::move(when));
    ExpectWord(rwTHEN, 30470, "THEN");
    TORVExprNodePtr result = ParseValueExpression();
    if (!result) RaiseFound(Token, 30469, "When Expression for CASE function");
    node->AddResultExpression(std::move(result));
  }
  ParseCaseElseAndEnd(*node, 30471, 30472);
  return node;
}

TORVExprNodePtr TORVExpression::ParseSearchedCase() {
  if (!IsWord(rwCASE)) return nullptr;
  GetNextToken();
  auto node = TORVExprNodeCase::CreateSearchedCase();
  do {
    ExpectWord(rwWHEN, 30473, "WHEN");
    TORVExprNodePtr condition = ParseSearchCondition();
    if (!condition) RaiseFound(Token, 30474, "Search Condition for CASE function");
    node->AddWhenExpression(std::move(condition));
    ExpectWord(rwTHEN, 30475, "THEN");
    TORVExprNodePtr result = ParseValueExpression();
    if (!result) RaiseFound(Token, 30476, "When Expression for CASE function");
    node->AddResultExpression(std::move(result));
  } while (IsWord(rwWHEN));
  ParseCaseElseAndEnd(*node, 30477, 30478);
  return node;
}

void TORVExpression::ParseCaseElseAndEnd(TORVExprNodeCase& Node, int32_t ElseCode, int32_t EndCode) {
  if (IsWord(rwELSE)) {
    GetNextToken();
    TORVExprNodePtr otherwise = ParseValueExpression();
    if (!otherwise) RaiseFound(Token, ElseCode, "'Else Result Expression' for CASE function");
    Node.SetElseResultExpression(std::move(otherwise));
  }
  ExpectWord(rwEND, EndCode, "END");
}

TORVExprNodePtr TORVExpression::ParseBlobExpression() {
  if (!IsWord(rwMIMETOBIN)) return nullptr;
  GetNextToken();
  Expect(tktLeftParenthesis, 30479, "(");
  if (!IsTokenType(tktQuotedString)) RaiseStringArgument(Token, 30480, "MimeToBin()");
  auto text = TextConst8(Engine8(Token.Text));
  GetNextToken();
  Expect(tktRightParenthesis, 30481, ")");
  return Make<TORVExprNodeBlob>(doMIMETOBIN, std::move(text), true, false);
}

}  // namespace orv

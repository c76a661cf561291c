#pragma once
// The SQL lexer: one pass over a script turns it into commands (split at semicolons), each a
// list of tokens with their type, text, reserved word, bound parameter value and position.
// The statement processor, the statements and the expression parser read SQL only through
// it, so every lexical error is raised here, while the lexer is being built, with the line
// and column of its cause.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dbengine/storage/orv_const.h"
#include "dbengine/storage/orv_variant.h"
#include "platform/data/enum_set.h"

namespace orv {

enum TTokenType : uint8_t {
  tktNone,              // no token: a command has no further token
  tktString,            // a name, an operator or other unquoted text; also a backquoted name
  tktQuotedString,      // text in single or double quotes, quotes removed
  tktBracketedString,   // text in square brackets, brackets removed
  tktInt,               // a number without point or exponent
  tktFloat,             // a number with a point or an exponent
  tktReservedWord,      // a word of the reserved-word list
  tktParameter,         // a bound parameter
  tktLeftParenthesis,
  tktRightParenthesis,
  tktComma,
  tktDot,
};

// The names of the token types, for the diagnostic dump.
extern const std::array<std::string_view, 12> EORVTokenType;

// A set of token types.
using TTokenTypes = platform::data::EnumSet<TTokenType>;

// A parameter of a script: a value with a name. Named parameters (":name") bind by name,
// positional ones ("?") by their order in the whole script.
class TORVSQLParam : public TORVVariant {
 public:
  TORVSQLParam() : TORVVariant(bftUnknown) {}
  std::string Name;
};

// The parameter list the query component fills before it runs a script. Owns its entries.
class TORVSQLParams {
 public:
  int32_t GetCount() const { return static_cast<int32_t>(FParamList.size()); }
  // An index outside 0..GetCount()-1 raises std::out_of_range (a caller's mistake).
  TORVSQLParam* GetValue(int32_t Index) const;
  // Replaces (and frees) the entry at Index.
  void SetValue(int32_t Index, std::unique_ptr<TORVSQLParam> Value);
  // Appends a new NULL parameter of unknown type with an empty name.
  TORVSQLParam* AddCreated();
  void Clear() { FParamList.clear(); }
  // The first parameter whose name equals Name without regard to case; nullptr when none.
  TORVSQLParam* GetParamByName(std::string_view Name) const;

 private:
  std::vector<std::unique_ptr<TORVSQLParam>> FParamList;
};

struct TToken {
  TTokenType TokenType = tktNone;
  TReservedWord ReservedWord = rwNone;
  // Without quotes; without the colon of a named parameter; "Param<n>" for the n-th "?".
  std::string Text;
  // Set only for tktParameter: a copy of the parameter's value taken when the script was
  // lexed. Shared, because statements move tokens with their values into token streams of
  // their own (an UPDATE builds its row-finding SELECT that way).
  std::shared_ptr<TORVVariant> ParamValue;
  // 1-based position of the token's first character (the opening quote, or the colon).
  int32_t LineNum = 0;
  int32_t ColumnNum = 0;
};

struct TSQLCommand {
  std::vector<TToken> Tokens;
  int32_t CurrentTokenNo = 0;
  int32_t NumTokens() const { return static_cast<int32_t>(Tokens.size()); }
};

class TORVLexer {
 public:
  // Scans the whole script. SQLParams is borrowed and may be nullptr; with NoParams colons
  // and question marks never make parameters (default-value expressions). Raises
  // EORVException 30059 to 30062 and 30358 (see the .cpp).
  TORVLexer(std::string SQLScript, TORVSQLParams* SQLParams, bool NoParams);
  TORVLexer(const TORVLexer&) = delete;
  TORVLexer& operator=(const TORVLexer&) = delete;

  const std::string& SQL() const { return FSQL; }
  int32_t NumCommands() const { return static_cast<int32_t>(Commands.size()); }

  // Moves to the next command; true while there is one.
  bool GetNextCommand();
  // The current token of the current command. Past the end (or without a current command)
  // the type becomes tktNone, the rest of Token stays, and the result is false.
  bool GetCurrentToken(TToken& Token) const;
  // The token after the current one, without moving. None: type tktNone, empty text, line
  // and column unchanged, false.
  bool LookNextToken(TToken& Token) const;
  // LookNextToken, then one step forward whether or not there was a token.
  bool GetNextToken(TToken& Token);
  // -1 without a current command.
  int32_t GetCurrentTokenNo() const;
  bool SetCurrentTokenNo(int32_t TokenNo, TToken& Token);
  // True when TokenNo is below the command's token count.
  bool SetCurrentTokenNo(int32_t TokenNo);
  // Steps forward until the current token's type is one of TokenTypes (true) or the
  // command ends (false).
  bool GetNextSpecifiedToken(TToken& Token, TTokenTypes TokenTypes);

  // Build a token stream by hand: AddCommand appends an empty command and makes it current,
  // AddToken appends a copy of Token to the current command (starting one when there is
  // none) and makes it the current token.
  void AddCommand();
  void AddToken(const TToken& Token);

  // Diagnostic dump: the command count, then per command its number and its tokens (with
  // type, reserved word, line and column when bShowDetails). CR LF line ends. bGenerate is
  // kept for callers and has no effect.
  std::string Test(bool bGenerate, bool bShowDetails) const;

  std::vector<TSQLCommand> Commands;
  int32_t CurrentCommandNo = -1;

 private:
  TSQLCommand* Current();
  const TSQLCommand* Current() const;

  std::string FSQL;
  TORVSQLParams* FSQLParams;
  bool FNoParams;
};

// The reserved word of a token text (compared without regard to ASCII case) as its index
// in ORVSQLReservedWords, -1 when it is none.
int32_t FindReservedWordIndex(std::string_view s);
// True when Token is a reserved word and either the one asked for or rwNone is asked for
// (rwNone: any reserved word).
bool IsReservedWord(const TToken& Token, TReservedWord ReservedWord);

}  // namespace orv

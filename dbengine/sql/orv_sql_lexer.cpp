#include "dbengine/sql/orv_sql_lexer.h"

#include <stdexcept>

#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_str_utils.h"

namespace orv {

const std::array<std::string_view, 12> EORVTokenType = {
    "tktNone", "tktString",   "tktQuotedString",    "tktBracketedString",  "tktInt",   "tktFloat",
    "tktReservedWord", "tktParameter", "tktLeftParenthesis", "tktRightParenthesis", "tktComma", "tktDot",
};

// ---- TORVSQLParams ----------------------------------------------------------------------

TORVSQLParam* TORVSQLParams::GetValue(int32_t Index) const {
  if (Index < 0 || Index >= GetCount())
    throw std::out_of_range("SQL parameter index " + std::to_string(Index) + " out of range");
  return FParamList[static_cast<size_t>(Index)].get();
}

void TORVSQLParams::SetValue(int32_t Index, std::unique_ptr<TORVSQLParam> Value) {
  if (Index < 0 || Index >= GetCount())
    throw std::out_of_range("SQL parameter index " + std::to_string(Index) + " out of range");
  FParamList[static_cast<size_t>(Index)] = std::move(Value);
}

TORVSQLParam* TORVSQLParams::AddCreated() {
  FParamList.push_back(std::make_unique<TORVSQLParam>());
  return FParamList.back().get();
}

TORVSQLParam* TORVSQLParams::GetParamByName(std::string_view Name) const {
  const std::string wanted = AnsiUpperCase(Name);
  for (const auto& p : FParamList)
    if (p && AnsiUpperCase(p->Name) == wanted) return p.get();
  return nullptr;
}

// ---- Reserved words ---------------------------------------------------------------------

namespace {

std::string AsciiUpper(std::string_view s) {
  std::string u(s);
  for (char& c : u)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return u;
}

}  // namespace

int32_t FindReservedWordIndex(std::string_view s) {
  const TReservedWord rw = FindReservedWord(AsciiUpper(s));
  return rw == rwNone ? -1 : static_cast<int32_t>(rw);
}

bool IsReservedWord(const TToken& Token, TReservedWord ReservedWord) {
  return Token.TokenType == tktReservedWord && (ReservedWord == rwNone || Token.ReservedWord == ReservedWord);
}

// ---- Scanning ---------------------------------------------------------------------------

namespace {

struct TPosition {
  int32_t Line = 0;
  int32_t Column = 0;
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsDelimiter(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// One pass over the script. Tokens are appended to the lexer's commands as they are found;
// only the last token of the current command can be open (still taking characters).
class TScanner {
 public:
  TScanner(std::vector<TSQLCommand>& Commands, const std::string& Text, TORVSQLParams* Params, bool NoParams)
      : commands_(Commands), s_(Text), params_(Params), no_params_(NoParams) {}

  void Run() {
    const size_t n = s_.size();
    while (i_ < n) {
      const char c = s_[i_];
      const char next = i_ + 1 < n ? s_[i_ + 1] : '\0';
      if (c == ';') {
        CloseCommand();
        ++i_;
        ++column_;
        continue;
      }
      if (c == '-' && next == '-') {
        // A comment ends the token before it: "a--x" + line break + "b" is a and b.
        CloseToken();
        ++line_;
        column_ = 1;
        i_ += 2;
        while (i_ < n && s_[i_] != '\n') ++i_;
        if (i_ < n) ++i_;
        prev_ = ' ';
        continue;
      }
      if (c == '/' && next == '*') {
        CloseToken();
        i_ += 2;
        column_ += 2;
        while (i_ < n) {
          if (s_[i_] == '*' && i_ + 1 < n && s_[i_ + 1] == '/') {
            i_ += 2;
            column_ += 2;
            break;
          }
          Advance(s_[i_]);
          ++i_;
        }
        prev_ = ' ';
        continue;
      }

      const bool delimiter = IsDelimiter(c);
      const bool finished = token_open_ && delimiter;
      // White space never starts a token (also not after a full stop, where only a blank
      // was ruled out: a tab or line break there would make a token of its own).
      const bool starts = !delimiter && (!token_open_ || StartsNewToken(c));
      if (finished || (starts && token_open_)) CloseToken();
      if (starts) {
        if (CreateToken(c)) continue;  // it consumed its characters and positions itself
      } else if (token_open_ && !delimiter) {
        TToken& t = OpenToken();
        if (t.TokenType == tktInt && !IsDigit(c) && c != '.' && c != 'E' && c != 'e' && c != '+' && c != '-')
          throw EORVException(30062, "Invalid numeric symbol '%s' at line %d, column %d",
                              {std::string(1, c), line_, column_});
        if (t.TokenType == tktDot && IsDigit(c)) t.TokenType = tktInt;
        t.Text += c;
      }
      Advance(c);
      if (delimiter && token_open_) CloseToken();
      prev_ = c;
      ++i_;
    }
    CloseCommand();
  }

 private:
  TToken& OpenToken() { return commands_.back().Tokens.back(); }

  // Line and column after character c.
  void Advance(char c) {
    if (c == '\n') {
      ++line_;
      column_ = 1;
    } else if (c != '\r') {
      ++column_;
    }
  }

  bool StartsNewToken(char c) {
    switch (c) {
      case '>': case '<': case '=': case '(': case ')': case ',': case '/': case '*': case ':': case '?': case '|':
        return true;
      default:
        break;
    }
    const TTokenType open = OpenToken().TokenType;
    if (c == '.' && open != tktInt) return true;
    if (open == tktDot && !IsDigit(c) && c != ' ') return true;
    if (open == tktString && (c == '+' || c == '-')) return true;
    if (open == tktInt && (c == '+' || c == '-') && prev_ != 'E' && prev_ != 'e') return true;
    return false;
  }

  // Appends a token for the character at i_. Returns true when the token consumed its
  // characters itself (quoted texts), with i_, line and column already past them.
  bool CreateToken(char c) {
    if (!command_open_) {
      commands_.emplace_back();
      command_open_ = true;
    }
    TToken t;
    t.Text.assign(1, c);
    t.LineNum = line_;
    t.ColumnNum = column_;
    commands_.back().Tokens.push_back(std::move(t));
    token_open_ = true;

    const size_t n = s_.size();
    const char next = i_ + 1 < n ? s_[i_ + 1] : '\0';
    const bool colon_quoted = c == ':' && (next == '\'' || next == '"' || next == '[');
    if (c == '\'' || c == '"' || c == '[' || c == '`' || colon_quoted) {
      ReadQuoted(colon_quoted);
      return true;
    }

    TToken& tok = OpenToken();
    switch (c) {
      case '(':
        tok.TokenType = tktLeftParenthesis;
        ++paren_count_;
        last_left_ = {line_, column_};
        CloseToken();
        break;
      case ')':
        --paren_count_;
        last_right_ = {line_, column_};
        tok.TokenType = tktRightParenthesis;
        CloseToken();
        break;
      case '.':
        tok.TokenType = tktDot;
        break;
      case ',':
        tok.TokenType = tktComma;
        CloseToken();
        break;
      default:
        tok.TokenType = IsDigit(c) ? tktInt : tktString;
        break;
    }
    if (c == '-' || c == '+' || c == '*' || c == '/' || c == '=') CloseToken();
    if ((c == '|' && next == '|') || (c == '<' && (next == '=' || next == '>')) || (c == '>' && next == '=')) {
      OpenToken().Text += next;
      ++i_;
      ++column_;
    }
    if (c == '|' || c == '<' || c == '>') CloseToken();
    return false;
  }

  // A quoted text, a bracketed or backquoted name, or a quoted parameter name (":'name'").
  // A doubled closing character stands for one; inside backquotes a backslash takes the
  // next character literally (that character can still close the name).
  void ReadQuoted(bool colon_quoted) {
    TToken& tok = OpenToken();
    const size_t n = s_.size();
    const char opening = colon_quoted ? s_[i_ + 1] : s_[i_];
    const char closing = opening == '[' ? ']' : opening;
    if (colon_quoted)
      tok.TokenType = tktString;
    else if (opening == '[')
      tok.TokenType = tktBracketedString;
    else if (opening == '`')
      tok.TokenType = tktString;
    else
      tok.TokenType = tktQuotedString;
    tok.Text = colon_quoted ? ":" : "";
    quote_unclosed_ = true;
    quote_pos_ = {line_, column_};

    // Past the opening character(s); the quote of a colon form is a column of its own.
    const size_t skip = colon_quoted ? 2 : 1;
    i_ += skip;
    column_ += static_cast<int32_t>(skip);
    while (i_ < n) {
      char d = s_[i_];
      if (opening == '`' && d == '\\') {
        ++column_;
        ++i_;
        if (i_ >= n) break;
        d = s_[i_];
      }
      if (d == closing) {
        if (i_ + 1 < n && s_[i_ + 1] == closing) {
          tok.Text += closing;
          i_ += 2;
          column_ += 2;
          continue;
        }
        ++i_;
        ++column_;
        quote_unclosed_ = false;
        break;
      }
      tok.Text += d;
      Advance(d);
      ++i_;
    }
    prev_ = opening;
    if (quote_unclosed_) {
      // The text runs to the end of the script; closing the command reports it. Binding an
      // unfinished parameter name would report a missing value instead of the real cause.
      token_open_ = false;
      return;
    }
    if (opening == '`') {
      // A backquoted name is a name whatever its text: never a keyword, never a parameter.
      tok.ReservedWord = rwNone;
      token_open_ = false;
      return;
    }
    CloseToken();
  }

  void CloseToken() {
    if (!token_open_) return;
    token_open_ = false;
    TToken& t = OpenToken();
    if (t.TokenType == tktInt) {
      if (t.Text.find('.') != std::string::npos || AsciiUpper(t.Text).find('E') != std::string::npos)
        t.TokenType = tktFloat;
      return;
    }
    if (t.TokenType != tktString) return;
    if (!no_params_ && !t.Text.empty() && (t.Text[0] == ':' || t.Text[0] == '?')) {
      BindParameter(t);
      return;
    }
    const int32_t rw = FindReservedWordIndex(t.Text);
    // The first word of the list stays a name.
    if (rw > 0) {
      t.TokenType = tktReservedWord;
      t.ReservedWord = static_cast<TReservedWord>(rw);
    }
  }

  void BindParameter(TToken& t) {
    t.TokenType = tktParameter;
    const TORVVariant* source = nullptr;
    std::string name;
    if (t.Text[0] == ':') {
      t.Text.erase(0, 1);
      name = t.Text;
      if (params_) source = params_->GetParamByName(t.Text);
    } else if (params_) {
      // Positional parameters are numbered across the whole script; one beyond the list
      // is a missing value, not a read past its end.
      const int32_t index = positional_++;
      t.Text = "Param" + std::to_string(positional_);
      name = t.Text;
      if (index < params_->GetCount()) source = params_->GetValue(index);
    }
    if (!source) throw EORVException(30358, "Value for parameter '%s' not found", {name});
    t.ParamValue = std::make_shared<TORVVariant>();
    t.ParamValue->Assign(*source, true);
  }

  void CloseCommand() {
    CloseToken();
    if (paren_count_ > 0)
      throw EORVException(30059, "Missing symbol ')' at line %d, column %d", {last_left_.Line, last_left_.Column});
    if (paren_count_ < 0)
      throw EORVException(30060, "Unexpected symbol ')' found at line %d, column %d",
                          {last_right_.Line, last_right_.Column});
    prev_ = ' ';
    if (quote_unclosed_)
      throw EORVException(30061, "Unterminated string at line %d, column %d", {quote_pos_.Line, quote_pos_.Column});
    command_open_ = false;
  }

  std::vector<TSQLCommand>& commands_;
  const std::string& s_;
  TORVSQLParams* params_;
  const bool no_params_;

  size_t i_ = 0;
  int32_t line_ = 1;
  int32_t column_ = 1;
  bool token_open_ = false;
  bool command_open_ = false;
  int32_t paren_count_ = 0;
  TPosition last_left_, last_right_;
  bool quote_unclosed_ = false;
  TPosition quote_pos_;
  char prev_ = ' ';
  int32_t positional_ = 0;
};

}  // namespace

// ---- TORVLexer --------------------------------------------------------------------------

TORVLexer::TORVLexer(std::string SQLScript, TORVSQLParams* SQLParams, bool NoParams)
    : FSQL(std::move(SQLScript)), FSQLParams(SQLParams), FNoParams(NoParams) {
  TScanner(Commands, FSQL, FSQLParams, FNoParams).Run();
  CurrentCommandNo = -1;
  for (auto& c : Commands) c.CurrentTokenNo = 0;
}

TSQLCommand* TORVLexer::Current() {
  if (CurrentCommandNo < 0 || CurrentCommandNo >= NumCommands()) return nullptr;
  return &Commands[static_cast<size_t>(CurrentCommandNo)];
}

const TSQLCommand* TORVLexer::Current() const {
  if (CurrentCommandNo < 0 || CurrentCommandNo >= NumCommands()) return nullptr;
  return &Commands[static_cast<size_t>(CurrentCommandNo)];
}

bool TORVLexer::GetNextCommand() {
  if (CurrentCommandNo < NumCommands()) ++CurrentCommandNo;
  return CurrentCommandNo < NumCommands();
}

bool TORVLexer::GetCurrentToken(TToken& Token) const {
  const TSQLCommand* c = Current();
  if (!c || c->CurrentTokenNo < 0 || c->CurrentTokenNo >= c->NumTokens()) {
    Token.TokenType = tktNone;
    return false;
  }
  Token = c->Tokens[static_cast<size_t>(c->CurrentTokenNo)];
  return true;
}

bool TORVLexer::LookNextToken(TToken& Token) const {
  const TSQLCommand* c = Current();
  const int32_t next = c ? c->CurrentTokenNo + 1 : 0;
  if (!c || next < 0 || next >= c->NumTokens()) {
    Token.TokenType = tktNone;
    Token.Text.clear();
    return false;
  }
  Token = c->Tokens[static_cast<size_t>(next)];
  return true;
}

bool TORVLexer::GetNextToken(TToken& Token) {
  const bool found = LookNextToken(Token);
  if (TSQLCommand* c = Current(); c && c->CurrentTokenNo < c->NumTokens()) ++c->CurrentTokenNo;
  return found;
}

int32_t TORVLexer::GetCurrentTokenNo() const {
  const TSQLCommand* c = Current();
  return c ? c->CurrentTokenNo : -1;
}

bool TORVLexer::SetCurrentTokenNo(int32_t TokenNo, TToken& Token) {
  SetCurrentTokenNo(TokenNo);
  return GetCurrentToken(Token);
}

bool TORVLexer::SetCurrentTokenNo(int32_t TokenNo) {
  TSQLCommand* c = Current();
  if (!c) return false;
  c->CurrentTokenNo = TokenNo;
  return TokenNo < c->NumTokens();
}

bool TORVLexer::GetNextSpecifiedToken(TToken& Token, TTokenTypes TokenTypes) {
  bool found = false;
  do {
    found = GetNextToken(Token);
  } while (found && !TokenTypes.Contains(Token.TokenType));
  return found;
}

void TORVLexer::AddCommand() {
  Commands.emplace_back();
  CurrentCommandNo = NumCommands() - 1;
}

void TORVLexer::AddToken(const TToken& Token) {
  if (!Current()) AddCommand();
  TSQLCommand& c = *Current();
  c.Tokens.push_back(Token);
  c.CurrentTokenNo = c.NumTokens() - 1;
}

std::string TORVLexer::Test(bool /*bGenerate*/, bool bShowDetails) const {
  static constexpr std::string_view kEol = "\r\n";
  std::string out = "Number of commands: " + std::to_string(NumCommands());
  for (size_t ci = 0; ci < Commands.size(); ++ci) {
    out += kEol;
    out += "Command #" + std::to_string(ci + 1) + ":";
    out += kEol;
    for (const TToken& t : Commands[ci].Tokens) {
      out += t.Text;
      out += kEol;
      if (!bShowDetails) continue;
      out += "Type = ";
      out += EORVTokenType[t.TokenType];
      out += kEol;
      out += "ReservedWord = ";
      out += t.ReservedWord == rwNone ? std::string_view("None") : ORVSQLReservedWords[t.ReservedWord];
      out += kEol;
      out += "Line = " + std::to_string(t.LineNum);
      out += kEol;
      out += "Column = " + std::to_string(t.ColumnNum);
      out += kEol;
      out += kEol;
    }
  }
  return out;
}

}  // namespace orv

#include "platform/data/params.h"

#include "platform/data/database_error.h"
#include "platform/data/field.h"
#include "platform/data/same_text.h"

namespace platform::data {
namespace {

TFieldType TypeOfVariant(const Variant& v) {
  switch (v.Type()) {
    case VarType::Boolean: return ftBoolean;
    case VarType::Integer: return ftInteger;
    case VarType::Int64: return ftLargeint;
    case VarType::Double: return ftFloat;
    case VarType::Currency: return ftCurrency;
    case VarType::Date: return ftDateTime;
    case VarType::String:
    case VarType::AnsiString: return ftString;
    case VarType::WideString: return ftWideString;
    case VarType::Bytes: return ftBlob;
    default: return ftUnknown;
  }
}

bool IsNameStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80;
}

bool IsNameChar(unsigned char c) { return IsNameStart(c) || (c >= '0' && c <= '9') || c == '$' || c == '#'; }

}  // namespace

TParam::TParam(std::string name, TFieldType type, TParamType param_type)
    : name_(std::move(name)), data_type_(type), param_type_(param_type) {}

void TParam::SetValue(const Variant& value) {
  if (data_type_ == ftUnknown) data_type_ = TypeOfVariant(value);
  value_ = value;
  bound_ = true;
}

void TParam::SetAsString(const std::string& utf8) {
  data_type_ = ftString;
  SetValue(Variant(utf8));
}
void TParam::SetAsWideString(const std::u16string& text) {
  data_type_ = ftWideString;
  SetValue(Variant(text));
}
void TParam::SetAsInteger(int32_t v) {
  data_type_ = ftInteger;
  SetValue(Variant(static_cast<int>(v)));
}
void TParam::SetAsLargeInt(int64_t v) {
  data_type_ = ftLargeint;
  SetValue(Variant(static_cast<long>(v)));
}
void TParam::SetAsFloat(double v) {
  data_type_ = ftFloat;
  SetValue(Variant(v));
}
void TParam::SetAsCurrency(double v) {
  data_type_ = ftCurrency;
  SetValue(Variant::FromCurrency(v));
}
void TParam::SetAsBoolean(bool v) {
  data_type_ = ftBoolean;
  SetValue(Variant(v));
}
void TParam::SetAsDateTime(TDateTime v) {
  data_type_ = ftDateTime;
  SetValue(Variant::FromDate(v));
}
void TParam::SetAsDate(TDateTime v) {
  data_type_ = ftDate;
  SetValue(Variant::FromDate(v));
}
void TParam::SetAsTime(TDateTime v) {
  data_type_ = ftTime;
  SetValue(Variant::FromDate(v));
}
void TParam::SetAsMemo(const std::string& utf8) {
  data_type_ = ftMemo;
  SetValue(Variant(utf8));
}
void TParam::SetAsBlob(const std::vector<uint8_t>& bytes) {
  data_type_ = ftBlob;
  SetValue(Variant::FromBytes(bytes));
}

void TParam::AssignFieldValue(TField& field, const Variant& value) {
  data_type_ = field.DataType();
  value_ = value.IsEmpty() ? Variant::Null() : value;
  bound_ = true;
}

void TParam::AssignField(TField& field) {
  name_ = field.FieldName();
  AssignFieldValue(field, field.AsVariant());
}

void TParam::Assign(const TParam& source) {
  name_ = source.name_;
  data_type_ = source.data_type_;
  param_type_ = source.param_type_;
  bound_ = source.bound_;
  value_ = source.value_;
}

TParam* TParams::CreateParam(TFieldType type, const std::string& name, TParamType param_type) {
  params_.push_back(std::make_unique<TParam>(name, type, param_type));
  return params_.back().get();
}

TParam* TParams::FindParam(const std::string& name) const {
  for (const auto& p : params_)
    if (SameText(p->Name(), name)) return p.get();
  return nullptr;
}

TParam* TParams::ParamByName(const std::string& name) const {
  TParam* p = FindParam(name);
  if (p == nullptr) DatabaseError(FormatText("Parameter '%s' not found", {name}));
  return p;
}

void TParams::Clear() { params_.clear(); }

void TParams::Assign(const TParams& source) {
  if (&source == this) return;
  Clear();
  for (const auto& p : source.params_) {
    params_.push_back(std::make_unique<TParam>());
    params_.back()->Assign(*p);
  }
}

void TParams::AssignValues(const TParams& source) {
  for (const auto& p : source.params_) {
    TParam* mine = FindParam(p->Name());
    if (mine == nullptr || mine == p.get()) continue;
    const std::string keep = mine->Name();
    mine->Assign(*p);
    mine->SetName(keep);
  }
}

bool TParams::IsEqual(const TParams& other) const {
  if (Count() != other.Count()) return false;
  for (int i = 0; i < Count(); ++i) {
    const TParam& a = *(*this)[i];
    const TParam& b = *other[i];
    if (a.Name() != b.Name() || a.DataType() != b.DataType() || a.ParamType() != b.ParamType() ||
        !a.Value().SameValue(b.Value()))
      return false;
  }
  return true;
}

// The parameter rules of an SQL text:
// - Literals hold no parameters: text in single quotes, double quotes, back quotes and square
//   brackets, a doubled quote inside counting as part of the literal. An unterminated literal
//   runs to the end of the text.
// - Comments hold no parameters: "--" to the end of the line, "/*" to "*/".
// - "::" outside literals and comments is one literal colon in the returned text.
// - ":" followed by a letter, "_" or a non-ASCII character starts a parameter; its name runs
//   over letters, digits, "_", "$", "#" and non-ASCII characters. ":" followed by a double
//   quote names a parameter with the quoted text (blanks allowed, "" for a quote).
// - Any other ":" (before a blank, a digit or at the end) is copied unchanged.
// - Each parameter is replaced by "?".
std::string TParams::ParseSQL(const std::string& sql, bool do_create) {
  std::string out;
  out.reserve(sql.size());
  const size_t n = sql.size();
  size_t i = 0;
  auto add_name = [&](const std::string& name) {
    out += '?';
    if (do_create && FindParam(name) == nullptr) CreateParam(ftUnknown, name, ptInput);
  };
  while (i < n) {
    const char c = sql[i];
    if (c == '\'' || c == '"' || c == '`' || c == '[') {
      const char close = c == '[' ? ']' : c;
      out += c;
      ++i;
      while (i < n) {
        out += sql[i];
        if (sql[i] == close) {
          if (close != ']' && i + 1 < n && sql[i + 1] == close) {
            out += sql[i + 1];
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        ++i;
      }
      continue;
    }
    if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
      const size_t end = sql.find('\n', i);
      const size_t stop = end == std::string::npos ? n : end;
      out.append(sql, i, stop - i);
      i = stop;
      continue;
    }
    if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
      const size_t end = sql.find("*/", i + 2);
      const size_t stop = end == std::string::npos ? n : end + 2;
      out.append(sql, i, stop - i);
      i = stop;
      continue;
    }
    if (c == ':') {
      if (i + 1 < n && sql[i + 1] == ':') {
        out += ':';
        i += 2;
        continue;
      }
      if (i + 1 < n && sql[i + 1] == '"') {
        std::string name;
        size_t j = i + 2;
        bool closed = false;
        while (j < n) {
          if (sql[j] == '"') {
            if (j + 1 < n && sql[j + 1] == '"') {
              name += '"';
              j += 2;
              continue;
            }
            closed = true;
            ++j;
            break;
          }
          name += sql[j++];
        }
        if (closed && !name.empty()) {
          add_name(name);
          i = j;
          continue;
        }
      } else if (i + 1 < n && IsNameStart(static_cast<unsigned char>(sql[i + 1]))) {
        size_t j = i + 1;
        while (j < n && IsNameChar(static_cast<unsigned char>(sql[j]))) ++j;
        add_name(sql.substr(i + 1, j - i - 1));
        i = j;
        continue;
      }
    }
    out += c;
    ++i;
  }
  return out;
}

}  // namespace platform::data

#include "dbengine/storage/tests/support/expression_double.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_memory.h"
#include "dbengine/storage/orv_str_utils.h"

namespace orv::testing {

struct FieldOpConstantExpression::Node {
  enum Kind { And, Or, Compare, IsNull, IsNotNull } kind = Compare;
  std::unique_ptr<Node> left, right;
  // A comparison: the field (bound by name) and the constant.
  std::string field_name;
  int32_t field_no = -1;
  int32_t offset = 0;
  int32_t size = 0;
  TORVBaseFieldType type = bftUnknown;
  TORVDataOperator op = doEQ;
  TORVVariant constant;
  bool extracted = false;  // taken out for an index scan: counts as met
};

namespace {

class Parser {
 public:
  explicit Parser(const std::string& text) : s_(text) {}

  std::unique_ptr<FieldOpConstantExpression::Node> ParseAll() {
    auto node = ParseOr();
    SkipSpace();
    if (pos_ != s_.size()) Fail("unexpected text");
    return node;
  }

 private:
  using Node = FieldOpConstantExpression::Node;

  [[noreturn]] void Fail(const char* what) const {
    throw std::invalid_argument(std::string("filter: ") + what + " at " + std::to_string(pos_) + " in '" + s_ + "'");
  }
  void SkipSpace() {
    while (pos_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[pos_]))) ++pos_;
  }
  bool Keyword(const char* word) {
    SkipSpace();
    const size_t n = std::char_traits<char>::length(word);
    if (AnsiUpperCase(s_.substr(pos_, n)) != word) return false;
    if (pos_ + n < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[pos_ + n])) || s_[pos_ + n] == '_'))
      return false;
    pos_ += n;
    return true;
  }
  std::unique_ptr<Node> Join(Node::Kind kind, std::unique_ptr<Node> l, std::unique_ptr<Node> r) {
    auto n = std::make_unique<Node>();
    n->kind = kind;
    n->left = std::move(l);
    n->right = std::move(r);
    return n;
  }
  std::unique_ptr<Node> ParseOr() {
    auto node = ParseAnd();
    while (Keyword("OR")) node = Join(Node::Or, std::move(node), ParseAnd());
    return node;
  }
  std::unique_ptr<Node> ParseAnd() {
    auto node = ParsePrimary();
    while (Keyword("AND")) node = Join(Node::And, std::move(node), ParsePrimary());
    return node;
  }
  std::unique_ptr<Node> ParsePrimary() {
    SkipSpace();
    if (pos_ < s_.size() && s_[pos_] == '(') {
      ++pos_;
      auto node = ParseOr();
      SkipSpace();
      if (pos_ >= s_.size() || s_[pos_] != ')') Fail("missing )");
      ++pos_;
      return node;
    }
    auto node = std::make_unique<Node>();
    const size_t start = pos_;
    while (pos_ < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '_')) ++pos_;
    if (pos_ == start) Fail("field name expected");
    node->field_name = s_.substr(start, pos_ - start);
    if (Keyword("IS")) {
      node->kind = Keyword("NOT") ? Node::IsNotNull : Node::IsNull;
      if (!Keyword("NULL")) Fail("NULL expected");
      return node;
    }
    SkipSpace();
    static const std::pair<const char*, TORVDataOperator> ops[] = {
        {"<>", doNE}, {"<=", doLE}, {">=", doGE}, {"=", doEQ}, {"<", doLT}, {">", doGT}};
    bool found = false;
    for (const auto& [text, op] : ops) {
      if (s_.compare(pos_, std::char_traits<char>::length(text), text) == 0) {
        node->op = op;
        pos_ += std::char_traits<char>::length(text);
        found = true;
        break;
      }
    }
    if (!found) Fail("operator expected");
    SkipSpace();
    if (pos_ < s_.size() && s_[pos_] == '\'') {
      const size_t end = s_.find('\'', pos_ + 1);
      if (end == std::string::npos) Fail("unterminated text");
      node->constant.SetDataAsAnsiString(s_.substr(pos_ + 1, end - pos_ - 1));
      pos_ = end + 1;
      return node;
    }
    const size_t number = pos_;
    if (pos_ < s_.size() && (s_[pos_] == '-' || s_[pos_] == '+')) ++pos_;
    bool fraction = false;
    while (pos_ < s_.size() && (std::isdigit(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '.')) {
      fraction |= s_[pos_] == '.';
      ++pos_;
    }
    if (pos_ == number) Fail("constant expected");
    const std::string text = s_.substr(number, pos_ - number);
    if (fraction)
      node->constant.SetDataAsDouble(std::stod(text));
    else
      node->constant.SetDataAsSignedInt64(std::stoll(text));
    return node;
  }

  std::string s_;
  size_t pos_ = 0;
};

void CollectConjuncts(FieldOpConstantExpression::Node* node, std::vector<FieldOpConstantExpression::Node*>& out) {
  if (!node) return;
  if (node->kind == FieldOpConstantExpression::Node::And) {
    CollectConjuncts(node->left.get(), out);
    CollectConjuncts(node->right.get(), out);
  } else if (node->kind == FieldOpConstantExpression::Node::Compare) {
    out.push_back(node);
  }
}

bool IsIntegerType(TORVBaseFieldType t) {
  switch (t) {
    case bftSignedInt8:
    case bftSignedInt16:
    case bftSignedInt32:
    case bftSignedInt64:
    case bftUnsignedInt8:
    case bftUnsignedInt16:
    case bftUnsignedInt32:
      return true;
    default:
      return false;
  }
}

TORVSearchCondition SearchConditionOf(TORVDataOperator op) {
  switch (op) {
    case doEQ: return scEqual;
    case doLT: return scLower;
    case doGT: return scGreater;
    case doLE: return scLowerEqual;
    case doGE: return scGreaterEqual;
    default: return scNone;
  }
}

TORVExpressionNode* Token(FieldOpConstantExpression::Node* node) { return reinterpret_cast<TORVExpressionNode*>(node); }

void Collect(FieldOpConstantExpression::Node* node, std::vector<FieldOpConstantExpression::Node*>& out) {
  if (!node) return;
  if (node->left || node->right) {
    Collect(node->left.get(), out);
    Collect(node->right.get(), out);
  } else {
    out.push_back(node);
  }
}

}  // namespace

FieldOpConstantExpression::FieldOpConstantExpression(TORVCursor& Cursor, const std::string& Filter,
                                                     bool CaseInsensitive)
    : case_insensitive_(CaseInsensitive) {
  if (Filter.find_first_not_of(" \t\r\n") == std::string::npos) throw EORVException(30119, "Blank SQL command");
  root_ = Parser(Filter).ParseAll();
  Collect(root_.get(), comparisons_);
  CollectConjuncts(root_.get(), conjuncts_);
  AssignCursor(&Cursor, nullptr, nullptr);
}

FieldOpConstantExpression::~FieldOpConstantExpression() = default;

void FieldOpConstantExpression::AssignCursor(TORVCursor* Cursor, IORVAO*, TORVCursor*) {
  if (!Cursor || !Cursor->FFieldDefs) throw std::invalid_argument("filter: the cursor has no fields");
  cursor_ = Cursor;
  for (Node* n : comparisons_) {
    const int32_t no = Cursor->FFieldDefs->GetDefNumberByName(n->field_name);
    if (no < 0) throw std::invalid_argument("filter: unknown field " + n->field_name);
    const TORVFieldDef* f = Cursor->FFieldDefs->GetDef(no);
    n->field_no = no;
    n->offset = f->MemoryOffset;
    n->size = f->MemoryDataSize;
    n->type = f->BaseFieldType;
  }
}

void FieldOpConstantExpression::AssignCursorBuffer(const void* Buffer, bool) { buffer_ = Buffer; }

bool FieldOpConstantExpression::GetResult() {
  if (!root_) throw EORVException(30110, "Value is Null");
  ++evaluations;
  return Evaluate(*root_);
}

bool FieldOpConstantExpression::Evaluate(const Node& node) const {
  switch (node.kind) {
    case Node::And: return Evaluate(*node.left) && Evaluate(*node.right);
    case Node::Or: return Evaluate(*node.left) || Evaluate(*node.right);
    default: break;
  }
  if (node.extracted) return true;
  const auto* record = static_cast<const uint8_t*>(buffer_);
  const bool null = CheckNullFlag(node.field_no, record);
  if (node.kind == Node::IsNull) return null;
  if (node.kind == Node::IsNotNull) return !null;
  if (null) return false;  // unknown counts as False
  const TORVCompareResult r =
      CompareSizedValueBuffers(record + node.offset, node.size, node.constant.pData(), node.constant.DataSize(),
                               node.type, node.constant.DataType(), false, false, -1, case_insensitive_, 1024);
  switch (node.op) {
    case doEQ: return r == cmprEqual;
    case doNE: return r == cmprLower || r == cmprGreater;
    case doLT: return r == cmprLower;
    case doGT: return r == cmprGreater;
    case doLE: return r == cmprLower || r == cmprEqual;
    case doGE: return r == cmprGreater || r == cmprEqual;
    default: return false;
  }
}

bool FieldOpConstantExpression::IsEmpty() const {
  if (!root_) return true;
  if (root_->kind != Node::And && root_->kind != Node::Compare) return false;
  size_t leaves = 0;
  std::vector<Node*> all;
  Collect(root_.get(), all);
  leaves = all.size();
  if (conjuncts_.size() != leaves) return false;  // an IS NULL test among them is never taken out
  for (const Node* n : conjuncts_)
    if (!n->extracted) return false;
  return true;
}

FieldOpConstantExpression::Node* FieldOpConstantExpression::IndexableComparison(
    const std::string& FieldName, bool EqualityOnly, const TORVScanSearchCondition* Besides) const {
  for (Node* n : conjuncts_) {
    if (n->extracted || AnsiUpperCase(n->field_name) != AnsiUpperCase(FieldName)) continue;
    if (!IsIntegerType(n->type) || n->constant.GetIsNull() || !IsIntegerType(n->constant.DataType())) continue;
    if (SearchConditionOf(n->op) == scNone || (EqualityOnly && n->op != doEQ)) continue;
    if (Besides && std::find(Besides->ParentExpressionNodes.begin(), Besides->ParentExpressionNodes.end(), Token(n)) !=
                       Besides->ParentExpressionNodes.end())
      continue;
    return n;
  }
  return nullptr;
}

void FieldOpConstantExpression::CreateIndexScanConditions(const IORVScanIndexDefs& IndexDefs,
                                                          TORVScanSearchConditionArray& ScanConditions, int32_t) {
  const auto* defs = dynamic_cast<const TORVIndexDefs*>(&IndexDefs);
  if (!offer_index_conditions || !defs || !cursor_) return;
  const int32_t record_size = cursor_->FFieldDefs->GetMemoryRecordBufferSize();
  for (Node* n : conjuncts_) {
    if (n->extracted || !IsIntegerType(n->type) || n->constant.GetIsNull() || !IsIntegerType(n->constant.DataType()) ||
        SearchConditionOf(n->op) == scNone)
      continue;
    for (int32_t i = 0; i < defs->GetCount(); ++i) {
      const TORVIndexDef* def = defs->GetIndexDef(i);
      if (def->ColumnCount() == 0) continue;
      const TORVIndexColumn& first = def->Columns(0);
      if (first.Descending || first.CaseInsensitive || AnsiUpperCase(first.FieldName) != AnsiUpperCase(n->field_name))
        continue;
      auto c = std::make_unique<TORVScanSearchCondition>(false);
      c->Condition = SearchConditionOf(n->op);
      c->KeyRecordBufferSize = record_size;
      c->KeyRecordBuffer = MemoryManager().AllocMem(record_size);
      TORVVariant value;
      value.Assign(n->constant, true);
      cursor_->SetFieldValue(value, n->field_no, true, c->KeyRecordBuffer);
      c->KeyFieldCount = 1;
      c->IndexID = def->ObjectID;
      c->CreatedFromExpression = true;
      c->ParentExpressions.push_back(this);
      c->ParentExpressionNodes.push_back(Token(n));
      ScanConditions.Items.push_back(std::move(c));
    }
  }
}

bool FieldOpConstantExpression::ExtendMultiFieldIndexCondition(TORVScanSearchCondition& ScanCondition,
                                                               const TORVIndexDef* IndexDef) {
  if (!offer_index_conditions || !IndexDef || !cursor_ || !ScanCondition.CreatedFromExpression ||
      ScanCondition.Condition != scEqual || ScanCondition.KeyFieldCount >= IndexDef->ColumnCount() ||
      !ScanCondition.KeyRecordBuffer)
    return false;
  const TORVIndexColumn& next = IndexDef->Columns(ScanCondition.KeyFieldCount);
  if (next.Descending || next.CaseInsensitive) return false;
  Node* n = IndexableComparison(next.FieldName, true, &ScanCondition);
  if (!n) return false;
  TORVVariant value;
  value.Assign(n->constant, true);
  cursor_->SetFieldValue(value, n->field_no, true, ScanCondition.KeyRecordBuffer);
  ++ScanCondition.KeyFieldCount;
  ScanCondition.ParentExpressions.push_back(this);
  ScanCondition.ParentExpressionNodes.push_back(Token(n));
  return true;
}

void FieldOpConstantExpression::RemoveExtractedNodes(TORVScanSearchConditionArray& ScanConditions,
                                                     int32_t ScanConditionNo, int32_t ScanEndConditionNo) {
  for (int32_t no : {ScanConditionNo, ScanEndConditionNo}) {
    if (no < 0 || no >= ScanConditions.Count()) continue;
    const TORVScanSearchCondition& c = ScanConditions[no];
    for (size_t k = 0; k < c.ParentExpressions.size() && k < c.ParentExpressionNodes.size(); ++k) {
      if (c.ParentExpressions[k] != this) continue;
      for (Node* n : conjuncts_)
        if (Token(n) == c.ParentExpressionNodes[k]) n->extracted = true;
    }
  }
}

void FieldOpConstantExpression::AddNode(TORVExpressionNode* Node) {
  for (FieldOpConstantExpression::Node* n : conjuncts_)
    if (Token(n) == Node) n->extracted = false;
}

std::unique_ptr<IORVExpression> FieldOpConstantFactory::ParseForFilter(TORVCursor& Cursor, const std::string& Filter,
                                                                       bool CaseInsensitive, bool) {
  return std::make_unique<FieldOpConstantExpression>(Cursor, Filter, CaseInsensitive);
}

namespace {

std::string Quoted(const std::string& Text) { return "'" + Text + "'"; }

std::string LocateTerm(const std::string& Field, const TORVVarValue& Value) {
  if (Value.IsNull()) return Field + " IS NULL";
  if (const auto* i = std::get_if<int64_t>(&Value.Value)) return Field + " = " + std::to_string(*i);
  if (const auto* t = std::get_if<std::string>(&Value.Value)) return Field + " = " + Quoted(*t);
  throw std::invalid_argument("the filter double locates by integers, texts and NULL only");
}

const char* OperatorText(TORVDataOperator Operator) {
  switch (Operator) {
    case doEQ: return "=";
    case doNE: return "<>";
    case doLT: return "<";
    case doGT: return ">";
    case doLE: return "<=";
    case doGE: return ">=";
    default: throw std::invalid_argument("the filter double compares with = <> < > <= >= only");
  }
}

}  // namespace

std::unique_ptr<IORVExpression> FieldOpConstantFactory::ParseForLocate(TORVCursor& Cursor,
                                                                       const std::string& FieldNames,
                                                                       const std::vector<TORVVarValue>& KeyValues,
                                                                       bool CaseInsensitive, bool) {
  std::vector<std::string> names;
  for (size_t pos = 0; pos <= FieldNames.size();) {
    const size_t end = std::min(FieldNames.find(';', pos), FieldNames.size());
    std::string name = FieldNames.substr(pos, end - pos);
    name.erase(0, name.find_first_not_of(' '));
    name.erase(name.find_last_not_of(' ') + 1);
    if (!name.empty()) names.push_back(name);
    pos = end + 1;
  }
  if (names.size() != KeyValues.size())
    throw EORVException(30112, "Count of FieldNames (%d) not equal counts of KeyValues (%d)",
                        {names.size(), KeyValues.size()});
  std::string text;
  for (size_t i = 0; i < names.size(); ++i) text += (i ? " AND " : "") + LocateTerm(names[i], KeyValues[i]);
  last_text = text;
  return std::make_unique<FieldOpConstantExpression>(Cursor, text, CaseInsensitive);
}

std::unique_ptr<IORVExpression> FieldOpConstantFactory::ParseForIsAnyRecordMatchCondition(
    TORVCursor& Cursor, const std::string& FieldName, TORVDataOperator Operator, const TORVVariant& Value) {
  std::string text;
  if (Operator == doISNULL || Operator == doISNOTNULL) {
    text = FieldName + (Operator == doISNULL ? " IS NULL" : " IS NOT NULL");
  } else {
    const std::string constant = Value.IsStringDataType() ? Quoted(Value.GetDataAsAnsiString())
                                                          : std::to_string(Value.GetDataAsSignedInt64());
    text = FieldName + " " + OperatorText(Operator) + " " + constant;
  }
  last_text = text;
  return std::make_unique<FieldOpConstantExpression>(Cursor, text, false);
}

// ---- Default values -------------------------------------------------------------------------------

namespace {
constexpr std::string_view kPrefix = "EXPR:";
}

TextDefaultExpression::TextDefaultExpression(const std::string& Text) {
  value_.SetDataAsAnsiString(Text.substr(kPrefix.size()));
}

const TORVVariant* TextDefaultExpression::GetValue(bool) {
  ++evaluations;
  return &value_;
}

bool TextDefaultExpressionFactory::IsNonConstantExpression(const TORVVariant& Value) {
  return !Value.GetIsNull() && Value.IsStringDataType() && Value.GetDataAsAnsiString().starts_with(kPrefix);
}

std::unique_ptr<IORVDefaultValueExpression> TextDefaultExpressionFactory::ParseForDefaultValueExpression(
    const std::string& DefaultValue) {
  return std::make_unique<TextDefaultExpression>(DefaultValue);
}

}  // namespace orv::testing

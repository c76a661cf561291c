#pragma once
// Stand-ins for the expression engine, which sits above the storage core: filters of the form
// "field op constant" joined by AND and OR (AND binding tighter, parentheses allowed, IS
// [NOT] NULL), and default values written "EXPR:<text>" that evaluate to <text>. Register
// them with the scoped registrations below.
#include <memory>
#include <string>
#include <vector>

#include "dbengine/storage/orv_base_cursor.h"
#include "dbengine/storage/orv_base_defs.h"

namespace orv::testing {

// Like the expression engine, it offers the comparisons of its top-level AND chain to the
// record search as index conditions: a comparison of a field with an integer constant where
// the field leads an ascending, case-sensitive index (an equality may be extended by an
// equality on the index's next column). A comparison taken out for an index scan is not
// evaluated until it is put back.
class FieldOpConstantExpression : public IORVExpression {
 public:
  struct Node;

  // Parses Filter against the cursor's fields; a blank text raises 30119, an unknown field
  // or a syntax error std::invalid_argument.
  FieldOpConstantExpression(TORVCursor& Cursor, const std::string& Filter, bool CaseInsensitive);
  ~FieldOpConstantExpression() override;

  void CreateIndexScanConditions(const IORVScanIndexDefs& IndexDefs, TORVScanSearchConditionArray& ScanConditions,
                                 int32_t SessionID) override;
  bool ExtendMultiFieldIndexCondition(TORVScanSearchCondition& ScanCondition, const TORVIndexDef* IndexDef) override;
  void RemoveExtractedNodes(TORVScanSearchConditionArray& ScanConditions, int32_t ScanConditionNo,
                            int32_t ScanEndConditionNo) override;
  void AddNode(TORVExpressionNode* Node) override;
  void AssignCursor(TORVCursor* Cursor, IORVAO* ParentQueryAO, TORVCursor* ParentCursor) override;
  void AssignCursorBuffer(const void* Buffer, bool ApplyToParentQueryFields) override;
  bool GetResult() override;
  bool IsEmpty() const override;

  int evaluations = 0;
  // Off: no index conditions are offered (a filter the record search can only test).
  bool offer_index_conditions = true;

 private:
  bool Evaluate(const Node& node) const;
  // The comparison that leads to Field with an integer constant and can serve an index.
  Node* IndexableComparison(const std::string& FieldName, bool EqualityOnly, const TORVScanSearchCondition* Besides) const;

  std::unique_ptr<Node> root_;
  std::vector<Node*> comparisons_;
  std::vector<Node*> conjuncts_;  // the comparisons of the top-level AND chain
  const void* buffer_ = nullptr;
  TORVCursor* cursor_ = nullptr;
  bool case_insensitive_;
};

// Locate keys and single-field conditions become the same "field op constant" filters:
// integers as numbers, texts quoted, NULL as IS NULL.
class FieldOpConstantFactory : public IORVExpressionFactory {
 public:
  std::unique_ptr<IORVExpression> ParseForFilter(TORVCursor& Cursor, const std::string& Filter, bool CaseInsensitive,
                                                 bool PartialKey) override;
  // Values of another kind than integer, text or NULL: std::invalid_argument.
  std::unique_ptr<IORVExpression> ParseForLocate(TORVCursor& Cursor, const std::string& FieldNames,
                                                 const std::vector<TORVVarValue>& KeyValues, bool CaseInsensitive,
                                                 bool PartialKey) override;
  std::unique_ptr<IORVExpression> ParseForIsAnyRecordMatchCondition(TORVCursor& Cursor, const std::string& FieldName,
                                                                    TORVDataOperator Operator,
                                                                    const TORVVariant& Value) override;

  // The filter text the last Locate or condition was turned into.
  std::string last_text;
};

// Registers a filter factory for its lifetime (restoring the previous one).
class ScopedExpressionFactory {
 public:
  ScopedExpressionFactory() : previous_(SetExpressionFactory(&factory_)) {}
  ~ScopedExpressionFactory() { SetExpressionFactory(previous_); }
  ScopedExpressionFactory(const ScopedExpressionFactory&) = delete;
  ScopedExpressionFactory& operator=(const ScopedExpressionFactory&) = delete;

 private:
  FieldOpConstantFactory factory_;
  IORVExpressionFactory* previous_;
};

// A default value "EXPR:<text>": evaluates to the text <text>, which the field manager then
// converts to the field's type.
class TextDefaultExpression : public IORVDefaultValueExpression {
 public:
  explicit TextDefaultExpression(const std::string& Text);
  const TORVVariant* GetValue(bool TrueFalseNullLogic) override;

  int evaluations = 0;

 private:
  TORVVariant value_;
};

class TextDefaultExpressionFactory : public IORVDefaultValueExpressionFactory {
 public:
  bool IsNonConstantExpression(const TORVVariant& Value) override;
  std::unique_ptr<IORVDefaultValueExpression> ParseForDefaultValueExpression(const std::string& DefaultValue) override;
};

class ScopedDefaultExpressionFactory {
 public:
  ScopedDefaultExpressionFactory() : previous_(SetDefaultValueExpressionFactory(&factory_)) {}
  ~ScopedDefaultExpressionFactory() { SetDefaultValueExpressionFactory(previous_); }
  ScopedDefaultExpressionFactory(const ScopedDefaultExpressionFactory&) = delete;
  ScopedDefaultExpressionFactory& operator=(const ScopedDefaultExpressionFactory&) = delete;

 private:
  TextDefaultExpressionFactory factory_;
  IORVDefaultValueExpressionFactory* previous_;
};

}  // namespace orv::testing

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

class FieldOpConstantExpression : public IORVExpression {
 public:
  struct Node;

  // Parses Filter against the cursor's fields; a blank text raises 30119, an unknown field
  // or a syntax error std::invalid_argument.
  FieldOpConstantExpression(TORVCursor& Cursor, const std::string& Filter, bool CaseInsensitive);
  ~FieldOpConstantExpression() override;

  void CreateIndexScanConditions(const IORVScanIndexDefs&, TORVScanSearchConditionArray&, int32_t) override {}
  bool ExtendMultiFieldIndexCondition(TORVScanSearchCondition&, const TORVIndexDef*) override { return false; }
  void RemoveExtractedNodes(TORVScanSearchConditionArray&, int32_t, int32_t) override {}
  void AddNode(TORVExpressionNode*) override {}
  void AssignCursor(TORVCursor* Cursor, void* ParentQueryAO, TORVCursor* ParentCursor) override;
  void AssignCursorBuffer(const void* Buffer, bool ApplyToParentQueryFields) override;
  bool GetResult() override;
  bool IsEmpty() const override { return root_ == nullptr; }

  int evaluations = 0;

 private:
  bool Evaluate(const Node& node) const;

  std::unique_ptr<Node> root_;
  std::vector<Node*> comparisons_;
  const void* buffer_ = nullptr;
  bool case_insensitive_;
};

class FieldOpConstantFactory : public IORVExpressionFactory {
 public:
  std::unique_ptr<IORVExpression> ParseForFilter(TORVCursor& Cursor, const std::string& Filter, bool CaseInsensitive,
                                                 bool PartialKey) override;
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

#pragma once
// The nodes that compute values: arithmetic and the math functions, the string and date
// functions, CAST, CASE and COALESCE, MIMETOBIN, LASTAUTOINC and ROWNUM. Besides its value
// every node tells the type and size of its result, from which the select list creates the
// result columns; CONCAT, CASE and COALESCE insert CAST nodes so that every operand has the
// result's type.
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "dbengine/sql/orv_date_format.h"
#include "dbengine/sql/orv_expressions_nodes.h"

namespace orv {

// ---- Arithmetic -----------------------------------------------------------------------------

class TORVExprNodeArithmetic : public TORVExprNode {
 public:
  using TORVExprNode::TORVExprNode;

  TORVVariant& GetDataValue() override;
  TORVAdvancedFieldType GetDataType() override;

 private:
  void AddData();
  void SubData();
  void MulData();
  void DivData();
  void GetABSValue();
  void GetROUNDValue();
  // The child's value as a double through Function (a NULL argument: 30016).
  void MathFunction(double (*Function)(double));
};

// RAND draws from one generator for the whole process. Tests seed it for repeatable runs.
void SetRandSeed(uint32_t Seed);
// A number from 0 to n - 1; n must be positive (30620 otherwise).
int32_t RandomBelow(int32_t n);

// ---- Strings --------------------------------------------------------------------------------

class TORVExprNodeStringFunction : public TORVExprNode {
 public:
  using TORVExprNode::TORVExprNode;

  TORVVariant& GetDataValue() override;
  TORVAdvancedFieldType GetDataType() override;
  int32_t GetDataSize() override;

 private:
  // Value := a copy of the first child's value, as a text; True when it is not NULL.
  bool InitStringValue();
  void Concat();
  void CaseMap();
  void Trim();
  void Length();
  void Pos();
  void Substring();
};

// ---- Dates ----------------------------------------------------------------------------------

class TORVExprNodeDateFunction : public TORVExprNode {
 public:
  // SYSDATE, CURRENT_DATE, CURRENT_TIME (no children; the clock is the process clock).
  explicit TORVExprNodeDateFunction(TORVDataOperator Op);
  // TODATE and TOSTRING with their format text.
  TORVExprNodeDateFunction(TORVDataOperator Op, TORVExprNodePtr Node, const std::string& FormatStr);
  // EXTRACT.
  TORVExprNodeDateFunction(TORVDataOperator Op, TORVDateTimeExtractField ExtractField, TORVExprNodePtr ExtractSource);

  TORVVariant& GetDataValue() override;
  TORVAdvancedFieldType GetDataType() override;
  int32_t GetDataSize() override;

  std::unique_ptr<TDateFormater> DateFormater;  // nil for EXTRACT and the current-time words
  TORVDateTimeExtractField ExtractDateTimeField = dtefYear;

 private:
  void ToDate();
  void ToString();
  void Extract();
};

// ---- CAST -----------------------------------------------------------------------------------

class TORVExprNodeCast : public TORVExprNode {
 public:
  // CastSizeNode (may be nil) becomes the second child.
  TORVExprNodeCast(TORVExprNodePtr Node, TORVAdvancedFieldType CastType, TORVExprNodePtr CastSizeNode);

  TORVVariant& GetDataValue() override;
  TORVAdvancedFieldType GetDataType() override { return FCastType; }
  int32_t GetDataSize() override;

  TORVAdvancedFieldType FCastType;
  TORVExprNode* LCastSizeNode = nullptr;  // one of the children

 private:
  // The size argument's value; without one the longest text a cast keeps.
  int32_t CastSize();
};

// ---- CASE and COALESCE ----------------------------------------------------------------------

class TORVExprNodeCase : public TORVExprNode {
 public:
  // CASE input WHEN ... (the input is the first child).
  static std::unique_ptr<TORVExprNodeCase> CreateSimpleCase(TORVExprNodePtr InputExpression);
  // CASE WHEN condition ...
  static std::unique_ptr<TORVExprNodeCase> CreateSearchedCase();
  static std::unique_ptr<TORVExprNodeCase> CreateCoalesce(std::vector<TORVExprNodePtr> Nodes);

  // Each records the node and appends it to the children, which own it.
  void AddWhenExpression(TORVExprNodePtr Node);
  void AddResultExpression(TORVExprNodePtr Node);
  void SetElseResultExpression(TORVExprNodePtr Node);

  TORVVariant& GetDataValue() override;
  TORVAdvancedFieldType GetDataType() override;
  int32_t GetDataSize() override;

  // They point into the children.
  std::vector<TORVExprNode*> FWhenExpressions;
  std::vector<TORVExprNode*> FResultExpressions;
  TORVExprNode* FElseResultExpression = nullptr;
  TORVExprNode* FInputExpression = nullptr;
  std::vector<TORVExprNode*> FCoalesceNodes;
  bool FIsCoalesceExpression = false;

 private:
  TORVExprNodeCase();  // CreateInit: no input, no branches, no ELSE, not a COALESCE
  // The branch value Value links to.
  TORVExprNode* Selected();
};

// ---- MIMETOBIN ------------------------------------------------------------------------------

class TORVExprNodeBlob : public TORVExprNode {
 public:
  using TORVExprNode::TORVExprNode;

  TORVVariant& GetDataValue() override;
  TORVAdvancedFieldType GetDataType() override { return aftString; }
  int32_t GetDataSize() override { return 0; }
};

// ---- LASTAUTOINC and ROWNUM -----------------------------------------------------------------

// What LASTAUTOINC needs of a table: the type of a column and the last value its
// autoincrement gave out. The table component of the access layer serves it; closing
// happens when the object is destroyed.
class IORVAutoincTable {
 public:
  virtual ~IORVAutoincTable() = default;
  // False when the table has no column of that name (any letter case).
  virtual bool FindColumn(const std::string& ColumnName, TORVAdvancedFieldType& DataType) = 0;
  virtual int64_t LastAutoincValue(const std::string& ColumnName) = 0;
};

class IORVAutoincTableFactory {
 public:
  virtual ~IORVAutoincTableFactory() = default;
  // Opens the table read-only; errors of opening pass through.
  virtual std::unique_ptr<IORVAutoincTable> OpenTable(const std::string& SessionName, const std::string& DatabaseName,
                                                      const std::string& TableName, bool InMemory) = 0;
};

// Borrowed; nil unregisters. Returns the previous factory. Without one LASTAUTOINC cannot be
// parsed and raises std::logic_error naming what is missing.
IORVAutoincTableFactory* SetAutoincTableFactory(IORVAutoincTableFactory* Factory);

class TORVExprNodeSystem : public TORVExprNode {
 public:
  // doLASTAUTOINC opens the table at once (a missing column: 30337); doROWNUM opens nothing.
  TORVExprNodeSystem(TORVDataOperator Op, const std::string& SessionName, const std::string& DatabaseName,
                     const std::string& TableName, const std::string& ColumnName, bool InMemory);
  ~TORVExprNodeSystem() override;

  TORVVariant& GetDataValue() override;
  TORVAdvancedFieldType GetDataType() override;
  int32_t GetDataSize() override { return 0; }

  std::string FTableName;
  std::string FColumnName;
  bool FInMemory;
  std::unique_ptr<IORVAutoincTable> FTable;
  TORVAdvancedFieldType FFieldType = aftUnknown;
  int32_t FRowNumValue = 0;  // counts over the node's whole life
};

}  // namespace orv

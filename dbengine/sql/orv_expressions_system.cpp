// MIMETOBIN, LASTAUTOINC and ROWNUM.
#include <stdexcept>

#include "dbengine/file/orv_cipher_util.h"
#include "dbengine/sql/orv_expressions_functions.h"
#include "dbengine/sql/orv_expressions_results.h"
#include "dbengine/storage/orv_converts.h"
#include "dbengine/storage/orv_except.h"

namespace orv {

// ---- MIMETOBIN ------------------------------------------------------------------------------

TORVVariant& TORVExprNodeBlob::GetDataValue() {
  const TORVVariant& v = Operand(0).GetDataValue();
  Value.Clear(bftBlob);
  if (v.IsNull()) return Value;
  const std::string text = v.GetDataAsAnsiString();
  const std::string bytes = TStringFormat_MIME64::Class().ToStr(text.data(), static_cast<int>(text.size()));
  // The decoded bytes exactly: a BLOB carries no terminator. No bytes is no value.
  if (!bytes.empty()) Value.SetData(bytes.data(), static_cast<int32_t>(bytes.size()), bftBlob, true);
  return Value;
}

// ---- LASTAUTOINC and ROWNUM -----------------------------------------------------------------

namespace {
IORVAutoincTableFactory* g_autoinc_table_factory = nullptr;
}  // namespace

IORVAutoincTableFactory* SetAutoincTableFactory(IORVAutoincTableFactory* Factory) {
  IORVAutoincTableFactory* previous = g_autoinc_table_factory;
  g_autoinc_table_factory = Factory;
  return previous;
}

TORVExprNodeSystem::TORVExprNodeSystem(TORVDataOperator Op, const std::string& SessionName,
                                       const std::string& DatabaseName, const std::string& TableName,
                                       const std::string& ColumnName, bool InMemory)
    : TORVExprNode(Op, true, false), FTableName(TableName), FColumnName(ColumnName), FInMemory(InMemory) {
  if (Op != doLASTAUTOINC) return;
  if (!g_autoinc_table_factory)
    throw std::logic_error("LASTAUTOINC(" + TableName + ", " + ColumnName +
                           ") needs the table component of the access layer to open the table, and none is "
                           "registered");
  // The table stays open from parsing until the node is destroyed.
  FTable = g_autoinc_table_factory->OpenTable(SessionName, DatabaseName, TableName, InMemory);
  if (!FTable->FindColumn(ColumnName, FFieldType)) throw EORVException(30337, "Field '%s' not found", {ColumnName});
}

TORVExprNodeSystem::~TORVExprNodeSystem() = default;

TORVVariant& TORVExprNodeSystem::GetDataValue() {
  switch (Operator) {
    case doLASTAUTOINC:
      SetNullResult(Value, AdvancedFieldTypeToBaseFieldType(FFieldType));
      SetInt64Result(Value, FTable->LastAutoincValue(FColumnName));
      break;
    case doROWNUM: SetInt32Result(Value, ++FRowNumValue); break;
    default: throw EORVException(30338, "Unknown operator: '%s'", {GetOperatorName(Operator)});
  }
  return Value;
}

TORVAdvancedFieldType TORVExprNodeSystem::GetDataType() {
  switch (Operator) {
    case doLASTAUTOINC: return FFieldType;
    case doROWNUM: return aftInteger;
    default: return aftUnknown;
  }
}

}  // namespace orv

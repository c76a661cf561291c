// Maintenance of a table component's stored table: create, delete, empty, rename, indexes and
// column names. Table-level operations run through a cursor of their own, exclusive and
// writable, freed at the end; the database component stays open for their duration.
#include <string>

#include "dbengine/access/orv_main_table.h"
#include "dbengine/storage/orv_converts.h"
#include "dbengine/storage/orv_except.h"
#include "platform/base/cp1252.h"
#include "platform/data/database_error.h"

namespace orv {

using namespace platform::data;

namespace {

// Texts of the data layer in the engine's 8-bit form.
std::string Engine(const std::string& Utf8) { return platform::Utf8ToCp1252(Utf8); }

[[noreturn]] void InTransactionError(int32_t Code, const char* Operation) {
  throw EORVException(Code, "Cannot perform '%s' operation on a database in transaction", {std::string(Operation)});
}

bool NeedsSize(TORVAdvancedFieldType Type) {
  switch (Type) {
    case aftChar:
    case aftString:
    case aftWideChar:
    case aftWideString:
    case aftGuid:
    case aftBytes:
    case aftVarBytes: return true;
    default: return false;
  }
}

bool IsExpression(const TORVVariant& Value) {
  IORVDefaultValueExpressionFactory* factory = GetDefaultValueExpressionFactory();
  return factory && factory->IsNonConstantExpression(Value);
}

// A bound of a CHECK constraint in the column's type; one with an empty text means none.
void CorrectBound(TORVVariant& Value, TORVBaseFieldType Type) {
  if (Value.GetIsNull()) {
    Value.SetNull(Type);
  } else if (Value.GetDataAsAnsiString().empty()) {
    Value.SetNull(Value.DataType());
  } else {
    Value.Cast(Type);
  }
}

// Every ftGuid column holds the 38 characters of a GUID's text.
void AutoCorrectFieldDefs(TFieldDefs& FieldDefs) {
  for (int i = 0; i < FieldDefs.Count(); ++i)
    if (FieldDefs[i]->DataType() == ftGuid) FieldDefs[i]->SetSize(38);
}

void AutoCorrectAdvFieldDefs(TORVAdvFieldDefs& Defs) {
  for (int32_t i = 0; i < Defs.GetCount(); ++i) {
    TORVAdvFieldDef& def = *Defs[i];
    const TORVBaseFieldType bft = AdvancedFieldTypeToBaseFieldType(def.DataType);
    TORVVariant& value = *def.DefaultValue;
    if (!value.GetIsNull() && value.GetDataAsAnsiString().empty()) {
      value.SetNull(value.DataType());
    } else {
      bool expression = false;
      try {
        expression = IsExpression(value);
      } catch (...) {
        expression = false;
      }
      // The engine keeps no typed value of a BLOB column: its default stays text, which new
      // records receive through a BLOB stream.
      if (!expression && !IsBLOBFieldType(bft)) {
        if (value.GetIsNull()) {
          value.SetNull(bft);
        } else {
          value.Cast(bft);
        }
      }
    }
    CorrectBound(*def.MinValue, bft);
    CorrectBound(*def.MaxValue, bft);
    if (def.Size != 0 && !IsStringFieldType(bft) && bft != bftBytes && bft != bftVarBytes) def.Size = 0;
    if (def.DataType == aftGuid) def.Size = 38;
  }
}

void CheckAdvFieldDefs(const TORVAdvFieldDefs& Defs, const std::string& TableName) {
  for (int32_t i = 0; i < Defs.GetCount(); ++i) {
    const TORVAdvFieldDef& def = *Defs[i];
    if (def.Name.empty()) throw EORVException(30499, "Missing field name. FieldNo=%d, table '%s'", {i, TableName});
    const TORVBaseFieldType bft = AdvancedFieldTypeToBaseFieldType(def.DataType);
    if (def.Size <= 0 && NeedsSize(def.DataType))
      throw EORVException(30453, "Cannot create table '%s' with field: %s %s(%d)",
                          {TableName, def.Name, BftToStr(bft), def.Size});
    if (IsBLOBFieldType(bft) && def.BLOBCompressionAlgorithm != caNone &&
        (def.BLOBCompressionMode < 1 || def.BLOBCompressionMode > 9))
      throw EORVException(20257,
                          "Invalid BlobCompressionMode (must be in 1..9 range) for blob field '%s'. Cannot create "
                          "table '%s'",
                          {def.Name, TableName});
  }
}

// Only text and byte columns are indexed by a prefix; every other column is indexed whole,
// which the engine records as 20.
void AutoCorrectAdvIndexDefs(TORVAdvIndexDefs& Indexes, const TORVAdvFieldDefs& Fields, const TFieldDefs& FieldDefs) {
  for (int32_t i = 0; i < Indexes.GetCount(); ++i) {
    TORVAdvIndexDef& adv = *Indexes[i];
    TORVIndexDef scratch;
    ConvertAdvIndexDefToORVIndexDef(adv, scratch, FieldDefs);
    for (int32_t c = 0; c < scratch.ColumnCount(); ++c) {
      TORVIndexColumn& column = scratch.Columns(c);
      const TORVAdvFieldDef* field = Fields.Find(column.FieldName);
      if (column.MaxIndexedSize > 0 && (!field || IsSizebleFieldType(field->DataType))) continue;
      if (column.MaxIndexedSize != 20) column.MaxIndexedSize = 20;
    }
    ConvertORVIndexDefToAdvIndexDef(scratch, adv);
  }
}

}  // namespace

bool TORVTable::SessionInTransaction() {
  TORVDatabase* db = Database();
  return db && db->Handle() && db->Handle()->FInTransaction;
}

std::unique_ptr<TORVLocalCursor> TORVTable::TableOperationCursor() {
  TORVDatabase* db = Database();
  if (!db || !db->Handle()) throw EORVException(10311, "Nil pointer occured");
  auto cursor = std::make_unique<TORVLocalCursor>();
  cursor->FSession = db->Handle();
  cursor->FTableName = Engine(TableName());
  cursor->FInMemory = InMemory();
  cursor->FTemporary = Temporary();
  cursor->FReadOnly = false;
  cursor->FExclusive = true;
  return cursor;
}

void TORVTable::ReloadFieldDefs(TORVCursor& Cursor) {
  // An open dataset's buffers hold its calculated fields behind the record: the reload must
  // not shrink them.
  const int32_t size = Cursor.FRecordBufferSize;
  const int32_t extra = size - Cursor.FCalculatedFieldsOffset;
  Cursor.InternalInitFieldDefs();
  if (extra > 0) Cursor.FRecordBufferSize += extra;
}

void TORVTable::CreateTable() {
  CheckInactive();
  CheckBlankTableName();
  TORVDBFlagGuard flag(*this, dbfTable);
  std::unique_ptr<TORVLocalCursor> cursor = TableOperationCursor();
  cursor->FDisableTempFiles = DisableTempFilesFor();
  AddPersistentFieldsToFieldDefs();
  const std::string table = Engine(TableName());
  if (AdvFieldDefs().GetCount() == 0) {
    AutoCorrectFieldDefs(FieldDefs());
    ConvertFieldDefsToAdvFieldDefs(FieldDefs(), AdvFieldDefs());
    CheckAdvFieldDefs(AdvFieldDefs(), table);
  } else {
    AutoCorrectAdvFieldDefs(AdvFieldDefs());
    CheckAdvFieldDefs(AdvFieldDefs(), table);
    ConvertAdvFieldDefsToFieldDefs(AdvFieldDefs(), FieldDefs());
  }
  if (AdvIndexDefs().GetCount() == 0) {
    ConvertIndexDefsToAdvIndexDefs(IndexDefs(), AdvIndexDefs());
  } else {
    ConvertAdvIndexDefsToIndexDefs(AdvIndexDefs(), IndexDefs());
  }
  AutoCorrectAdvIndexDefs(AdvIndexDefs(), AdvFieldDefs(), FieldDefs());
  ConvertAdvIndexDefsToORVIndexDefs(AdvIndexDefs(), ORVIndexDefs(), FieldDefs());
  ConvertAdvFieldDefsToORVFieldDefs(AdvFieldDefs(), ORVFieldDefs(), ORVIndexDefs(), ORVConstraintDefs(), Temporary());
  if (SessionInTransaction()) InTransactionError(20182, "CreateTable");
  cursor->CreateTable(ORVFieldDefs(), ORVIndexDefs(), ORVConstraintDefs());
}

void TORVTable::DeleteTable() {
  if (Active()) Close();
  CheckBlankTableName();
  TORVDBFlagGuard flag(*this, dbfTable);
  std::unique_ptr<TORVLocalCursor> cursor = TableOperationCursor();
  if (SessionInTransaction()) InTransactionError(20183, "DeleteTable");
  cursor->DeleteTable();
}

void TORVTable::EmptyTable() {
  CheckInactive();
  TORVDBFlagGuard flag(*this, dbfTable);
  std::unique_ptr<TORVLocalCursor> cursor = TableOperationCursor();
  cursor->EmptyTable();
}

void TORVTable::RenameTable(const std::string& NewTableName) {
  CheckInactive();
  CheckBlankTableName();
  TORVDBFlagGuard flag(*this, dbfTable);
  std::unique_ptr<TORVLocalCursor> cursor = TableOperationCursor();
  if (SessionInTransaction()) InTransactionError(20181, "RenameTable");
  cursor->RenameTable(Engine(NewTableName));
  FTableName = NewTableName;
}

void TORVTable::AddIndex(const std::string& Name, const std::string& Fields, TIndexOptions Options,
                         const std::string& DescFields, const std::string& CaseInsFields) {
  FieldDefs().Update();
  TORVDBFlagGuard flag(*this, dbfIndexList);
  std::unique_ptr<TORVLocalCursor> temporary;
  TORVCursor* cursor = Handle();
  if (cursor) {
    CheckBrowseMode();
    CursorPosChanged();
  } else {
    temporary = GetHandle();
    cursor = temporary.get();
  }
  if (Name.empty()) throw EORVException(20046, "Invalid index name '%s'", {Name});
  if (Fields.empty()) throw EORVException(20047, "Cannot find index field '%s'", {Fields});
  if (SessionInTransaction()) InTransactionError(20175, "AddIndex");
  TORVIndexDef def;
  FillORVIndexDef(def, Engine(Name), Engine(Fields), Options, false, Engine(DescFields), Engine(CaseInsFields), {},
                  FieldDefs());
  ReloadFieldDefs(*cursor);
  if (!cursor->LockTable(ltX, 50, 100, true))
    throw EORVException(20228, "Cannot access table '%s' in exclusive mode. Table is open by another user",
                        {Engine(TableName())});
  try {
    cursor->AddIndex(def);
  } catch (...) {
    try {
      cursor->UnlockTable(ltX, true);
    } catch (...) {
    }
    throw;
  }
  cursor->UnlockTable(ltX, true);
  IndexDefs().SetUpdated(false);
}

void TORVTable::DropIndexes(const std::string* Name) {
  TORVDBFlagGuard flag(*this, dbfIndexList);
  std::unique_ptr<TORVLocalCursor> temporary;
  TORVCursor* cursor = Handle();
  if (cursor) {
    CheckBrowseMode();
  } else {
    temporary = GetHandle();
    cursor = temporary.get();
  }
  if (SessionInTransaction()) {
    if (Name) InTransactionError(20177, "DeleteIndex");
    InTransactionError(20178, "DeleteAllIndexes");
  }
  ReloadFieldDefs(*cursor);
  if (Name) {
    cursor->DeleteIndex(Engine(*Name));
  } else {
    cursor->DeleteAllIndexes();
  }
  IndexDefs().SetUpdated(false);
}

void TORVTable::DeleteIndex(const std::string& Name) { DropIndexes(&Name); }

void TORVTable::DeleteAllIndexes() { DropIndexes(nullptr); }

void TORVTable::RenameField(const std::string& FieldName, const std::string& NewFieldName) {
  CheckInactive();
  const bool exclusive = Exclusive();
  SetExclusive(true);
  try {
    Open();
    if (SessionInTransaction()) InTransactionError(20179, "RenameField");
    Handle()->RenameField(Engine(FieldName), Engine(NewFieldName));
  } catch (...) {
    try {
      Close();
    } catch (...) {
    }
    SetExclusive(exclusive);
    throw;
  }
  Close();
  SetExclusive(exclusive);
}

}  // namespace orv

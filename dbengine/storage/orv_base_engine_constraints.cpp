#include "dbengine/storage/orv_base_engine_constraints.h"

#include <random>

#include "dbengine/storage/orv_base_engine_database.h"
#include "dbengine/storage/orv_base_engine_fields.h"
#include "dbengine/storage/orv_base_engine_indexes.h"
#include "dbengine/storage/orv_base_engine_table.h"
#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_variant.h"

namespace orv {

namespace {

// The value a failed check reports: raised, or False.
bool Violation(bool RaiseException, int32_t Code, std::string_view Message, std::initializer_list<TORVFormatArg> Args) {
  if (RaiseException) throw EORVException(Code, Message, Args);
  return false;
}

int32_t RandomSuffix() {
  thread_local std::mt19937 generator{std::random_device{}()};
  return std::uniform_int_distribution<int32_t>(0, 65534)(generator);
}

}  // namespace

TORVConstraintDef* AddConstraintForIndex(const TORVIndexDef& IndexDef, TORVConstraintDefs& ConstraintDefs) {
  TORVConstraintDefUnique* def = nullptr;
  std::string name;
  if (IndexDef.Primary) {
    def = ConstraintDefs.AddPK();
    name = "C_PK";
  } else if (IndexDef.Unique) {
    def = ConstraintDefs.AddUnique();
    name = "C_Unique";
  } else {
    return nullptr;
  }
  def->IndexName = IndexDef.Name;
  def->IndexObjectID = IndexDef.ObjectID;
  for (int32_t j = 0; j < IndexDef.ColumnCount(); ++j) {
    TORVConstraintColumn column;
    column.ColumnName = IndexDef.Columns(j).FieldName;
    def->Columns.push_back(column);
    name += "$" + column.ColumnName;
  }
  def->Name = name.substr(0, 255);
  return def;
}

TORVBaseConstraintManager::TORVBaseConstraintManager(TORVTableData* aTableData) : FTableData(aTableData) {}

void TORVBaseConstraintManager::LoadMetadata(platform::TStream& Stream) { FConstraintDefs.LoadFromStream(Stream); }
void TORVBaseConstraintManager::SaveMetadata(platform::TStream& Stream) const { FConstraintDefs.SaveToStream(Stream); }

bool TORVBaseConstraintManager::CheckConstraints(int32_t SessionID, const void* NewRecordBuffer,
                                                 const void* OldRecordBuffer, bool ToInsert,
                                                 const TORVPageItemID& CurrentRecordID, bool RaiseException,
                                                 bool CheckUniqueIndexes) {
  const TORVFieldDefs& fields = FTableData->FFieldManager->FFieldDefs;
  const auto* record = static_cast<const uint8_t*>(NewRecordBuffer);
  const auto field_of = [&](int32_t object_id, int32_t code) -> int32_t {
    const int32_t no = fields.GetDefNumberByObjectId(object_id);
    if (no < 0) throw EORVException(code, "Field #%d not found", {object_id});
    return no;
  };
  for (int32_t i = 0; i < FConstraintDefs.GetCount(); ++i) {
    const TORVConstraintDef* def = FConstraintDefs.GetDef(i);
    switch (def->ConstraintType) {
      case ctNotNull: {
        const auto& nn = static_cast<const TORVConstraintDefNotNull&>(*def);
        const int32_t no = field_of(nn.ColumnObjectID, 30024);
        if (CheckNullFlag(no, record))
          return Violation(RaiseException, 30026, "Constraint '%s' violated. Value in field '%s' cannot be null",
                           {def->Name, fields.GetDef(no)->Name});
        break;
      }
      case ctCheck: {
        const auto& check = static_cast<const TORVConstraintDefCheck&>(*def);
        const int32_t no = field_of(check.ColumnObjectID, 30028);
        if (CheckNullFlag(no, record)) break;
        const TORVFieldDef* f = fields.GetDef(no);
        const uint8_t* value = record + f->MemoryOffset;
        const auto compare = [&](const TORVVariant& bound) {
          return CompareSizedValueBuffers(bound.pData(), bound.DataSize(), value, f->MemoryDataSize, bound.DataType(),
                                          f->BaseFieldType, false, false, -1, false, 1024);
        };
        if (check.MinValue && !check.MinValue->GetIsNull() && compare(*check.MinValue) == cmprGreater)
          return Violation(RaiseException, 30029,
                           "Constraint '%s' violated. Value in field '%s' cannot be lower than '%s'",
                           {def->Name, f->Name, check.MinValue->GetDataAsAnsiString()});
        if (check.MaxValue && !check.MaxValue->GetIsNull() && compare(*check.MaxValue) == cmprLower)
          return Violation(RaiseException, 30030,
                           "Constraint '%s' violated. Value in field '%s' cannot be greater than '%s'",
                           {def->Name, f->Name, check.MaxValue->GetDataAsAnsiString()});
        break;
      }
      case ctPK:
      case ctUnique: {
        if (!CheckUniqueIndexes) break;
        const auto& key = static_cast<const TORVConstraintDefUnique&>(*def);
        if (def->ConstraintType == ctPK) {
          std::string names;
          bool all_null = true;
          for (const TORVConstraintColumn& c : key.Columns) {
            const int32_t no = field_of(c.ColumnObjectID, 30329);
            if (!names.empty()) names += ",";
            names += fields.GetDef(no)->Name;
            if (!CheckNullFlag(no, record)) {
              all_null = false;
              break;
            }
          }
          if (all_null)
            return Violation(RaiseException, 30330, "Constraint '%s' violated. Value in field '%s' cannot be null",
                             {def->Name, names});
        }
        if (FTableData->IsUniqueConstraintFailed(SessionID, key.IndexObjectID, NewRecordBuffer, OldRecordBuffer,
                                                 ToInsert, CurrentRecordID)) {
          if (def->ConstraintType == ctPK)
            return Violation(RaiseException, 30319, "Primary Key constraint '%s' violated. Duplicate found.",
                             {def->Name});
          return Violation(RaiseException, 30320, "Constraint unique '%s' violated. Duplicate found.", {def->Name});
        }
        break;
      }
      default:
        throw EORVException(30036, "Not implemented yet");
    }
  }
  return true;
}

void TORVBaseConstraintManager::LinkObjectId(TORVConstraintDef& ConstraintDef) {
  const TORVFieldDefs& fields = FTableData->FFieldManager->FFieldDefs;
  switch (ConstraintDef.ConstraintType) {
    case ctPK:
    case ctUnique: {
      const bool pk = ConstraintDef.ConstraintType == ctPK;
      auto& key = static_cast<TORVConstraintDefUnique&>(ConstraintDef);
      const TORVMetaObjectDef* index =
          FTableData->FIndexManager ? FTableData->FIndexManager->FIndexDefs.GetDefByName(key.IndexName) : nullptr;
      if (!index) throw EORVException(pk ? 30325 : 30326, "Index '%s' not found", {key.IndexName});
      key.IndexObjectID = index->ObjectID;
      for (TORVConstraintColumn& c : key.Columns) {
        const TORVMetaObjectDef* field = fields.GetDefByName(c.ColumnName);
        if (!field) throw EORVException(pk ? 30331 : 30332, "Field '%s' not found", {c.ColumnName});
        c.ColumnObjectID = field->ObjectID;
      }
      break;
    }
    case ctNotNull:
    case ctCheck: {
      auto& column = static_cast<TORVConstraintDefNotNull&>(ConstraintDef);
      const TORVMetaObjectDef* field = fields.GetDefByName(column.ColumnName);
      if (!field) throw EORVException(30027, "Field '%s' not found", {column.ColumnName});
      column.ColumnObjectID = field->ObjectID;
      break;
    }
    default:
      throw EORVException(30037, "Not implemented yet");
  }
}

void TORVBaseConstraintManager::LinkObjectIds() {
  for (int32_t i = 0; i < FConstraintDefs.GetCount(); ++i) LinkObjectId(*FConstraintDefs.GetDef(i));
}

void TORVBaseConstraintManager::FillConstraintAutoNames() {
  for (int32_t i = 0; i < FConstraintDefs.GetCount(); ++i) {
    TORVConstraintDef* def = FConstraintDefs.GetDef(i);
    if (!def->Name.empty()) continue;
    std::string base;
    if (def->ConstraintType == ctNotNull || def->ConstraintType == ctCheck) {
      const auto& column = static_cast<const TORVConstraintDefNotNull&>(*def);
      base = std::string("$") + (def->ConstraintType == ctNotNull ? "C_NotNull" : "C_Check") + "$" +
             column.TableName + "$" + column.ColumnName;
    } else {
      throw EORVException(30038, "Not implemented yet");
    }
    std::string candidate = base;
    while (FConstraintDefs.GetDefByName(candidate)) candidate = base + std::to_string(RandomSuffix());
    def->Name = candidate.substr(0, 255);
  }
}

void TORVBaseConstraintManager::AddConstraintFromIndex(const TORVIndexDef& IndexDef) {
  TORVConstraintDef* def = AddConstraintForIndex(IndexDef, FConstraintDefs);
  if (!def) return;
  def->ObjectID = FTableData->FDatabaseData->GetNewObjectId();
  LinkObjectId(*def);
}

void TORVBaseConstraintManager::DeleteConstraintForIndexID(int32_t IndexObjectID) {
  for (int32_t i = 0; i < FConstraintDefs.GetCount(); ++i) {
    const TORVConstraintDef* def = FConstraintDefs.GetDef(i);
    if ((def->ConstraintType == ctPK || def->ConstraintType == ctUnique) &&
        static_cast<const TORVConstraintDefUnique*>(def)->IndexObjectID == IndexObjectID) {
      FConstraintDefs.Delete(i);
      return;
    }
  }
}

}  // namespace orv

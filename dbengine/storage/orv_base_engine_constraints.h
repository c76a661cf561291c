#pragma once
// The constraint definitions of one table and the check of a record against them before it
// is stored: NOT NULL, CHECK with a lowest and a highest value, primary key and UNIQUE.
#include <cstdint>

#include "dbengine/storage/orv_base_defs.h"
#include "platform/base/stream.h"

namespace orv {

class TORVTableData;

// The primary-key (wins when both flags are set) or UNIQUE constraint a primary or unique
// index carries, appended to ConstraintDefs and returned; nil for any other index. Named
// "C_PK" or "C_Unique" followed by "$" and each column's field name (cut to 255 characters),
// with the index's name and object id and one column per index column.
TORVConstraintDef* AddConstraintForIndex(const TORVIndexDef& IndexDef, TORVConstraintDefs& ConstraintDefs);

class TORVBaseConstraintManager {
 public:
  explicit TORVBaseConstraintManager(TORVTableData* aTableData);
  TORVBaseConstraintManager(const TORVBaseConstraintManager&) = delete;
  TORVBaseConstraintManager& operator=(const TORVBaseConstraintManager&) = delete;

  void LoadMetadata(platform::TStream& Stream);
  void SaveMetadata(platform::TStream& Stream) const;
  // True when NewRecordBuffer meets every constraint, in definition order. A violation
  // raises with RaiseException, else gives False; CheckUniqueIndexes switches the key checks
  // on. OldRecordBuffer is the record before an update. Unknown fields and unsupported types
  // raise whatever RaiseException says.
  bool CheckConstraints(int32_t SessionID, const void* NewRecordBuffer, const void* OldRecordBuffer, bool ToInsert,
                        const TORVPageItemID& CurrentRecordID, bool RaiseException, bool CheckUniqueIndexes);
  // Binds a constraint to the object ids of the index and columns it names.
  void LinkObjectId(TORVConstraintDef& ConstraintDef);
  void LinkObjectIds();
  // "$C_NotNull$table$column" or "$C_Check$table$column" for every unnamed constraint, a
  // random number appended while the name is taken.
  void FillConstraintAutoNames();
  void AddConstraintFromIndex(const TORVIndexDef& IndexDef);
  void DeleteConstraintForIndexID(int32_t IndexObjectID);

  TORVConstraintDefs FConstraintDefs;
  TORVTableData* FTableData;  // borrowed
};

}  // namespace orv

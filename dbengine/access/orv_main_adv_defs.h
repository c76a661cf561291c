#pragma once
// A table's structure in the three forms it takes: the data layer's field and index
// definitions that applications see (the platform form), the advanced definitions that table
// creation, restructuring and the SQL layer fill with what only the engine knows of a column
// or an index (BLOB compression and block size, default, CHECK bounds, autoincrement
// parameters, descending, case-insensitive and maximum indexed size per column), and the
// engine's field, index and constraint definitions that cursors consume. The conversions keep
// the order of their source, clear their target first, and cut names written into engine
// definitions to 255 characters.
//
// Texts of the advanced form (names and column lists) are the engine's 8-bit text
// (Windows-1252), like the engine's definitions; the platform form's are UTF-8. The
// conversions between the two convert them.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/storage/orv_base_defs.h"
#include "dbengine/storage/orv_types.h"
#include "dbengine/storage/orv_variant.h"
#include "platform/data/data_types.h"

namespace platform::data {
class TDataSet;
class TFieldDefs;
class TIndexDefs;
}  // namespace platform::data

namespace orv {

using platform::data::TIndexOptions;

// The order of the engine's own compression enumeration.
enum TCompressionAlgorithm : uint8_t { caNone = 0, caZLIB = 1, caBZIP = 2, caPPM = 3 };

class TORVAdvFieldDef {
 public:
  // Empty name, object id -1 (no such column yet), aftUnknown, not required, size 0, NULL
  // default and bounds, autoincrement step 1 from 0 up to the largest Int64 without cycling,
  // no BLOB compression, the default BLOB block size.
  TORVAdvFieldDef();
  TORVAdvFieldDef(const TORVAdvFieldDef&) = delete;
  TORVAdvFieldDef& operator=(const TORVAdvFieldDef&) = delete;

  // Every field; the three values by value.
  void Assign(const TORVAdvFieldDef& Source);

  std::string Name;
  int32_t ObjectID = -1;
  TORVAdvancedFieldType DataType = aftUnknown;
  bool Required = false;
  int32_t Size = 0;
  std::unique_ptr<TORVVariant> DefaultValue;  // may hold an expression text
  std::unique_ptr<TORVVariant> MinValue;      // CHECK lower bound
  std::unique_ptr<TORVVariant> MaxValue;      // CHECK upper bound
  int64_t AutoincIncrement = 1;
  int64_t AutoincInitialValue = 0;
  int64_t AutoincMinValue = 0;
  int64_t AutoincMaxValue = INT64_MAX;
  bool AutoincCycled = false;
  TCompressionAlgorithm BLOBCompressionAlgorithm = caNone;
  uint8_t BLOBCompressionMode = 0;  // 1 .. 9, 0 = none
  int32_t BLOBBlockSize;
};

class TORVAdvFieldDefs {
 public:
  TORVAdvFieldDefs() = default;
  TORVAdvFieldDefs(const TORVAdvFieldDefs&) = delete;
  TORVAdvFieldDefs& operator=(const TORVAdvFieldDefs&) = delete;

  int32_t GetCount() const { return static_cast<int32_t>(FItems.size()); }
  // Positions outside the list raise std::out_of_range.
  TORVAdvFieldDef* GetDef(int32_t Index) const;
  TORVAdvFieldDef* operator[](int32_t Index) const { return GetDef(Index); }
  // The definition at Index is freed and Value takes its place.
  void SetDef(int32_t Index, std::unique_ptr<TORVAdvFieldDef> Value);
  TORVAdvFieldDef* AddFieldDef();
  TORVAdvFieldDef* Add(const std::string& Name, TORVAdvancedFieldType DataType, int32_t Size, bool Required,
                       TCompressionAlgorithm BLOBCompressionAlgorithm = caNone, uint8_t BLOBCompressionMode = 0);
  // The first definition of that name, compared without case in the engine's code page
  // (accented letters too); none: 30349.
  void DeleteFieldDef(const std::string& FieldName);
  // The first definition of that name, the letters a to z compared without case and every
  // other character exactly; nullptr when none.
  TORVAdvFieldDef* Find(const std::string& Name) const;
  void Clear() { FItems.clear(); }
  void Assign(const TORVAdvFieldDefs& Source);

 private:
  std::vector<std::unique_ptr<TORVAdvFieldDef>> FItems;
};

class TORVAdvIndexDef {
 public:
  void Assign(const TORVAdvIndexDef& Source);

  std::string Name;
  std::string Fields;         // column names separated by ";" (or ",")
  std::string DescFields;     // the columns sorted descending
  std::string CaseInsFields;  // the text columns compared without case
  TIndexOptions Options;      // ixPrimary, ixUnique, ixDescending, ixCaseInsensitive
  std::string MaxIndexedSizes;  // per column of Fields, in its order, separated like it
  bool Temporary = false;
};

class TORVAdvIndexDefs {
 public:
  // DataSet (borrowed, may be nil) is the dataset whose index definitions Update refreshes.
  explicit TORVAdvIndexDefs(platform::data::TDataSet* DataSet = nullptr) : FDataSet(DataSet) {}
  TORVAdvIndexDefs(const TORVAdvIndexDefs&) = delete;
  TORVAdvIndexDefs& operator=(const TORVAdvIndexDefs&) = delete;

  int32_t GetCount() const { return static_cast<int32_t>(FItems.size()); }
  TORVAdvIndexDef* GetDef(int32_t Index) const;
  TORVAdvIndexDef* operator[](int32_t Index) const { return GetDef(Index); }
  void SetDef(int32_t Index, std::unique_ptr<TORVAdvIndexDef> Value);
  TORVAdvIndexDef* AddIndexDef();
  TORVAdvIndexDef* Add(const std::string& Name, const std::string& Fields, TIndexOptions Options,
                       bool Temporary = false, const std::string& DescFields = {},
                       const std::string& CaseInsFields = {}, const std::string& MaxIndexedSizes = {});
  // Compared without case in the engine's code page; none: 20190.
  void DeleteIndexDef(const std::string& IndexName);
  TORVAdvIndexDef* Find(const std::string& Name) const;
  void Clear() { FItems.clear(); }
  // With SkipTemporaryIndexes the engine's temporary indexes stay behind: those marked
  // Temporary and those whose upper-cased name contains "TEMPORARY".
  void Assign(const TORVAdvIndexDefs& Source, bool SkipTemporaryIndexes);
  // Has the linked dataset read its index definitions again.
  void Update();

 private:
  std::vector<std::unique_ptr<TORVAdvIndexDef>> FItems;
  platform::data::TDataSet* FDataSet;
};

// ---- Conversions ----------------------------------------------------------------------------

// Platform fields to engine fields (name, type and size).
void ConvertFieldDefsToORVFieldDefs(const platform::data::TFieldDefs& FieldDefs, TORVFieldDefs& ORVFieldDefs);
// Name, type, size and Required.
void ConvertAdvFieldDefsToFieldDefs(const TORVAdvFieldDefs& AdvFieldDefs, platform::data::TFieldDefs& FieldDefs);
// Name, type, size and Required; everything else keeps its new value.
void ConvertFieldDefsToAdvFieldDefs(const platform::data::TFieldDefs& FieldDefs, TORVAdvFieldDefs& AdvFieldDefs);
// The engine fields and, in this order, every column's NOT NULL (Required) and CHECK (a bound
// set) constraint, then one PRIMARY KEY or UNIQUE constraint per primary or unique index of
// IndexDefs. A temporary table's columns get no NOT NULL or CHECK constraint; its keys do.
// A BLOB block size of 0 or below becomes the default.
void ConvertAdvFieldDefsToORVFieldDefs(const TORVAdvFieldDefs& AdvFieldDefs, TORVFieldDefs& ORVFieldDefs,
                                       const TORVIndexDefs& IndexDefs, TORVConstraintDefs& ORVConstraintDefs,
                                       bool Temporary);
// The visible fields of a cursor (each referring to its column of ORVFieldDefs) with what the
// constraints say of them: NOT NULL makes a column Required, CHECK gives its bounds. A
// constraint naming no column: 30032 (NOT NULL) / 30031 (CHECK); a foreign key: 30039.
void ConvertORVFieldDefsToAdvFieldDefs(const TORVFieldDefs& VisibleFieldDefs, const TORVFieldDefs& ORVFieldDefs,
                                       const TORVConstraintDefs& ORVConstraintDefs, TORVAdvFieldDefs& AdvFieldDefs);
// Columns named in a NOT NULL constraint are Required, except autoincrement columns (the
// engine fills them).
void ConvertORVFieldDefsToFieldDefs(const TORVFieldDefs& ORVFieldDefs, const TORVConstraintDefs& ORVConstraintDefs,
                                    platform::data::TFieldDefs& FieldDefs);
// Splits a column list at ";" and ",": each part trimmed, empty parts kept ("10;;5" gives
// "10", "" and "5").
void GetNamesList(std::vector<std::string>& List, const std::string& Names);
// One engine index from its parts (advanced-form texts). No name: 20048; no fields: 20049; a
// field that FieldDefs does not have: 20050. A column is descending when DescFields names it
// (or ixDescending is set and DescFields is empty), case-insensitive likewise; its maximum
// indexed size is its MaxIndexedSizes item, 20 when that is missing or empty (not a number:
// the platform's conversion error).
void FillORVIndexDef(TORVIndexDef& ORVIndexDef, const std::string& Name, const std::string& Fields,
                     TIndexOptions Options, bool Temporary, const std::string& DescFields,
                     const std::string& CaseInsFields, const std::string& MaxIndexedSizes,
                     const platform::data::TFieldDefs& FieldDefs);
void ConvertAdvIndexDefToORVIndexDef(const TORVAdvIndexDef& AdvIndexDef, TORVIndexDef& ORVIndexDef,
                                     const platform::data::TFieldDefs& FieldDefs);
void ConvertAdvIndexDefsToORVIndexDefs(const TORVAdvIndexDefs& AdvIndexDefs, TORVIndexDefs& ORVIndexDefs,
                                       const platform::data::TFieldDefs& FieldDefs);
void ConvertORVIndexDefToAdvIndexDef(const TORVIndexDef& ORVIndexDef, TORVAdvIndexDef& AdvIndexDef);
void ConvertORVIndexDefsToAdvIndexDefs(const TORVIndexDefs& ORVIndexDefs, TORVAdvIndexDefs& AdvIndexDefs);
// ixDescending is added where DescFields lists every column, ixCaseInsensitive where
// CaseInsFields does.
void ConvertAdvIndexDefsToIndexDefs(const TORVAdvIndexDefs& AdvIndexDefs, platform::data::TIndexDefs& IndexDefs);
void ConvertIndexDefsToAdvIndexDefs(const platform::data::TIndexDefs& IndexDefs, TORVAdvIndexDefs& AdvIndexDefs);
// Whether a platform field has this (advanced-form) name, compared without case.
bool FindFieldInFieldDefs(const platform::data::TFieldDefs& FieldDefs, const std::string& Name);
// 1 caZLIB, 2 caBZIP, 3 caPPM, anything else caNone.
TCompressionAlgorithm ConvertORVCompressionAlgorithmToCompressionAlgorithm(uint8_t Value);

}  // namespace orv

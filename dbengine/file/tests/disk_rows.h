#pragma once
// The ROWS table of the disk-table tests: ID Integer (primary index), NAME VarChar(40)
// "row <ID>", VAL Double ID / 4, IMG BLOB (zlib, mode 1) of (ID mod 4) x 3000 bytes, NULL when
// 0, byte k the low 8 bits of x after k + 1 rounds of a 32-bit xorshift from x = ID. Its values
// follow from the ID, so a reader checks a row by its ID alone.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dbengine/file/tests/disk_cursor.h"
#include "dbengine/storage/orv_base_engine.h"
#include "dbengine/storage/tests/support/table_fixture.h"

namespace orv::testing {

inline std::vector<uint8_t> RowImage(int32_t Id, int32_t Unit = 3000) {
  std::vector<uint8_t> bytes(static_cast<size_t>((Id % 4) * Unit));
  uint32_t x = static_cast<uint32_t>(Id);
  for (uint8_t& b : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<uint8_t>(x);
  }
  return bytes;
}

// The definitions of ROWS: the fields, the primary index and its constraint.
inline void RowsDefs(TORVFieldDefs& Fields, TORVIndexDefs& Indexes, TORVConstraintDefs& Constraints) {
  AddField(Fields, "ID", aftInteger);
  AddField(Fields, "NAME", aftString, 40);
  AddField(Fields, "VAL", aftDouble);
  TORVFieldDef* img = AddField(Fields, "IMG", aftBlob);
  img->BLOBCompressionAlgorithm = acaZLIB;
  img->BLOBCompressionMode = 1;
  AddIndexDef(Indexes, "PK_ROWS", {"ID"}, false, true);
  AddConstraintForIndex(*Indexes.GetIndexDef(0), Constraints);
}

inline DiskTestCursor& CreateRows(DiskTable& Table, const std::string& Name = "ROWS") {
  TORVFieldDefs f;
  TORVIndexDefs i;
  TORVConstraintDefs c;
  RowsDefs(f, i, c);
  return Table.Create(Name, f, i, c);
}

// Fills the current buffer with row Id (its image Unit bytes per step) and posts it; the
// cursor's result code.
inline int32_t InsertRowsRow(DiskTestCursor& Cursor, int32_t Id, int32_t Unit = 3000) {
  Cursor.BeginInsert();
  Cursor.Set("ID", Id);
  Cursor.SetText("NAME", "row " + std::to_string(Id));
  TORVVariant val;
  val.SetDataAsDouble(Id / 4.0);
  Cursor.SetFieldValue(val, Cursor.FVisibleFieldDefs->GetDefNumberByName("VAL"), false, nullptr);
  const std::vector<uint8_t> image = RowImage(Id, Unit);
  if (!image.empty()) Cursor.SetBlob("IMG", image);
  Cursor.InternalPost(true);
  return Cursor.FErrorCode;
}

// Whether the cursor's current record is row Id as it was inserted.
inline bool IsRowsRow(DiskTestCursor& Cursor, int32_t Id, int32_t Unit = 3000) {
  TORVVariant val;
  Cursor.GetFieldValue(val, Cursor.FVisibleFieldDefs->GetDefNumberByName("VAL"), false);
  return Cursor.GetInt("ID") == Id && Cursor.GetText("NAME") == "row " + std::to_string(Id) && !val.GetIsNull() &&
         val.GetDataAsDouble() == Id / 4.0 && Cursor.GetBlob("IMG") == RowImage(Id, Unit);
}

// The IDs in physical order, each row checked against its ID; -1 in place of a row that is
// not what its ID says.
inline std::vector<int32_t> RowsIds(DiskTestCursor& Cursor, int32_t Unit = 3000) {
  std::vector<int32_t> ids;
  Cursor.InternalFirst();
  while (Cursor.GetRecordBuffer(grmNext) == grrOK) {
    const auto id = static_cast<int32_t>(Cursor.GetInt("ID").value_or(-1));
    ids.push_back(IsRowsRow(Cursor, id, Unit) ? id : -1);
  }
  return ids;
}

}  // namespace orv::testing

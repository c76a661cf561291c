#pragma once
// Checks of a table's indexes against its records, for tests that change records.
#include <gtest/gtest.h>

#include <vector>

#include "dbengine/storage/orv_btree_page.h"
#include "dbengine/storage/orv_btree_record_index.h"
#include "dbengine/storage/tests/support/vector_record_store.h"

namespace orv::testing {

// The tree of every index of the table is sound (page structure and key order), holds one
// entry per stored record, and finds each record under the values the record holds now.
inline void ExpectIndexesMatchRecords(VectorTableData& Table, int32_t SessionID) {
  TORVBaseIndexManager& indexes = *Table.FIndexManager;
  VectorRecordManager& records = Table.Records();
  for (int32_t i = 0; i < indexes.FIndexDefs.GetCount(); ++i) {
    const TORVIndexDef& def = *indexes.FIndexDefs.GetIndexDef(i);
    SCOPED_TRACE("index " + def.Name);
    auto* index = static_cast<TORVBTreeRecordIndex*>(indexes.OpenIndex(def.ObjectID));
    {
      TORVBTreePage tree(indexes.GetPageManager(*index), index->KeyRef());
      TORVKeyPath path;
      tree.GetIndexPage(SessionID, index->IndexDef()->RootPageNo)->CheckIntegrity(SessionID, path);
    }
    int64_t entries = 0;
    TORVKeyPath path;
    for (bool ok = index->GetFirstPosition(SessionID, path); ok; ok = index->GetNextPosition(SessionID, path))
      ++entries;
    EXPECT_EQ(entries, records.FRecordCount);
    for (int64_t slot = 0; slot < records.SlotCount(); ++slot) {
      if (!records.IsLive(slot)) continue;
      TORVKeyPath at;
      EXPECT_TRUE(index->GetIndexPosition(SessionID, {static_cast<int32_t>(slot), 0}, records.Slot(slot).data(), &at))
          << "record " << slot << " cannot be found under its values";
    }
  }
}

}  // namespace orv::testing

#pragma once
// A table stand-in for record keys (its field definitions and stored records, as the table
// layer will provide them) and a small tree harness for the B-tree tests.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "dbengine/storage/orv_btree_page.h"
#include "dbengine/storage/orv_str_utils.h"
#include "dbengine/storage/tests/page_store_double.h"

namespace orv::testing {

class KeyTableDouble : public IORVKeyTable {
 public:
  bool HasFieldDefs() const override { return has_field_defs; }
  bool FindKeyField(std::string_view FieldName, TORVKeyFieldInfo& Info) const override {
    for (const auto& [name, info] : fields)
      if (ORVCompareAnsi(AnsiUpperCase(name), AnsiUpperCase(FieldName), false) == 0) {
        Info = info;
        return true;
      }
    return false;
  }
  int32_t GetMemoryRecordBufferSize() const override { return record_size; }
  void GetRecordBuffer(int32_t, TORVNavigationInfo& NavigationInfo) override {
    ++reads;
    auto it = records.find({NavigationInfo.RecordID.PageNo, NavigationInfo.RecordID.PageItemNo});
    if (it == records.end() || NavigationInfo.GetRecordMode != grmCurrent) {
      NavigationInfo.GetRecordResult = grrError;
      return;
    }
    std::memcpy(NavigationInfo.RecordBuffer, it->second.data(), it->second.size());
    NavigationInfo.GetRecordResult = grrOK;
  }

  bool has_field_defs = true;
  std::vector<std::pair<std::string, TORVKeyFieldInfo>> fields;
  std::map<std::pair<int32_t, uint16_t>, std::vector<uint8_t>> records;
  int32_t record_size = 0;
  int reads = 0;
};

// A tree of record keys in session 1, driven from its root page.
class TreeHarness {
 public:
  TreeHarness(TORVPageManager& pages, TORVBTreeKeyRef& key_ref) : tmpl_(&pages, &key_ref), key_ref_(key_ref) {
    TORVBTreePageRef root = tmpl_.AddIndexPage(kSession);
    root->InitAsRoot();
    root->SetIsDirty(true);
    root_ = root->GetPageNo();
  }

  static constexpr int32_t kSession = 1;

  TORVBTreePageRef Root() const { return tmpl_.GetIndexPage(kSession, root_); }
  TORVBTreePageRef Page(int32_t no) const { return tmpl_.GetIndexPage(kSession, no); }
  const TORVBTreePage& Template() const { return tmpl_; }
  int32_t RootPageNo() const { return root_; }

  void Insert(const void* key, const void* ref) {
    TORVKeyPath path;
    Root()->InsertLeafEntry(kSession, key, ref, path);
  }
  bool Delete(const void* key, const void* ref) {
    TORVKeyPath path;
    return Root()->DeleteLeafEntry(kSession, key, ref, path);
  }
  bool Find(const void* key, const void* ref, TORVKeyPath& path) {
    path.Clear();
    return Root()->FindEntry(kSession, key, ref, path);
  }
  bool FindByCondition(bool first, const void* key, TORVSearchCondition op, TORVKeyPath& path) {
    path.Clear();
    return Root()->FindByCondition(kSession, first, key, op, path);
  }

  // The key and reference bytes at a path's leaf entry.
  std::pair<std::vector<uint8_t>, std::vector<uint8_t>> EntryAt(const TORVKeyPath& path) const {
    TORVBTreePageRef leaf = Page(path.Last().PageNo);
    const int32_t e = path.Last().EntryNo;
    EXPECT_TRUE(leaf->GetIsLeaf());
    EXPECT_LT(e, leaf->GetEntryCount());
    const uint8_t* k = leaf->GetPKey(e);
    const uint8_t* r = leaf->GetPReference(e);
    return {std::vector<uint8_t>(k, k + key_ref_.FShortKeySize), std::vector<uint8_t>(r, r + key_ref_.FReferenceSize)};
  }

  // Every leaf entry in order, by stepping forward (or backward) from the first (last).
  std::vector<std::pair<std::vector<uint8_t>, std::vector<uint8_t>>> Walk(bool forward) const {
    std::vector<std::pair<std::vector<uint8_t>, std::vector<uint8_t>>> out;
    TORVKeyPath path;
    bool ok = forward ? Root()->GetFirstPosition(kSession, path) : Root()->GetLastPosition(kSession, path);
    while (ok) {
      out.push_back(EntryAt(path));
      ok = forward ? BTreeNextPosition(tmpl_, kSession, path, {1, 2}) : BTreePriorPosition(tmpl_, kSession, path, {1, 2});
    }
    return out;
  }

  // The structure: every level a doubly linked list in child order, leaves all at one
  // depth, no empty page below the root, the root flagged alone. Returns the depth.
  int Verify() const {
    std::vector<int32_t> level{root_};
    int depth = 0;
    for (;;) {
      ++depth;
      EXPECT_LE(depth, TORVKeyPath::MaxLevels);
      std::vector<int32_t> children;
      bool leaf_level = false;
      for (size_t i = 0; i < level.size(); ++i) {
        TORVBTreePageRef p = Page(level[i]);
        EXPECT_EQ(p->GetIsRoot(), depth == 1) << "page " << level[i];
        EXPECT_EQ(p->GetLeftPageNo(), i == 0 ? -1 : level[i - 1]) << "page " << level[i];
        EXPECT_EQ(p->GetRightPageNo(), i + 1 == level.size() ? -1 : level[i + 1]) << "page " << level[i];
        if (depth > 1) {
          EXPECT_GT(p->GetEntryCount(), 0) << "empty page " << level[i];
        }
        if (i == 0) leaf_level = p->GetIsLeaf();
        EXPECT_EQ(p->GetIsLeaf(), leaf_level) << "leaves at different depths";
        if (!p->GetIsLeaf())
          for (int32_t e = 0; e < p->GetEntryCount(); ++e)
            children.push_back(static_cast<int32_t>(LoadLE32(p->GetPReference(e))));
      }
      if (leaf_level || ::testing::Test::HasFailure()) return depth;
      level = children;
    }
  }

  void CheckIntegrity() const {
    TORVKeyPath path;
    Root()->CheckIntegrity(kSession, path);
  }

 private:
  TORVBTreePage tmpl_;
  TORVBTreeKeyRef& key_ref_;
  int32_t root_ = -1;
};

}  // namespace orv::testing

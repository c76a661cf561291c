#pragma once
// B-tree pages and their controllers. An index page lies at the start of a page's data
// area: an 18-byte little-endian header, then fixed-size entries (key, then a reference: a
// record id or a 16-bit value on leaves, a child page number on nodes). The controllers
// hold the algorithms: search, insert with middle split (the root keeps its page number),
// delete with merge, shrinking at the root, search by condition and the integrity check.
#include <array>
#include <cstdint>
#include <memory>
#include <unordered_set>

#include "dbengine/storage/orv_btree_key.h"
#include "dbengine/storage/orv_btree_key_path.h"
#include "dbengine/storage/orv_page.h"

namespace orv {

// Offsets of the index page header inside the data area.
namespace btree_header {
inline constexpr int32_t IsRoot = 0;
inline constexpr int32_t IsLeaf = 1;
inline constexpr int32_t LeftPageNo = 2;
inline constexpr int32_t RightPageNo = 6;
inline constexpr int32_t HasKeys = 10;
inline constexpr int32_t HasSuffixes = 11;
inline constexpr int32_t KeyPrefixSize = 12;
inline constexpr int32_t EntryCount = 14;
inline constexpr int32_t PagePrefixSize = 16;
inline constexpr int32_t Size = 18;
}  // namespace btree_header

enum TORVKeyPathPosition : uint8_t { kppUnknown, kppOnKey, kppBeforeKey, kppAfterKey, kppBOF, kppEOF };

class TORVBTreePage;
// Gives a page back to its manager and frees the wrapper.
struct TORVBTreePagePut {
  void operator()(TORVBTreePage* Page) const noexcept;
};
using TORVBTreePageRef = std::unique_ptr<TORVBTreePage, TORVBTreePagePut>;

// The pages one walk down a tree has entered. In a sound tree a walk meets every page at
// most once and never goes deeper than a key path holds; a damaged tree whose entries name
// one child twice (a shared subtree, or a cycle through different levels) would otherwise be
// walked without end. Enter raises RepeatCode on a page met twice and 20307 (damaged page) on
// a level beyond TORVKeyPath::MaxLevels.
class TORVBTreeWalk {
 public:
  explicit TORVBTreeWalk(int32_t RepeatCode = 20307) : FRepeatCode(RepeatCode) {}
  // The page of the level below the current one (the first call: the walk's start page).
  // FromPageNo and FromEntryNo name the entry the walk came by, for the message.
  void Enter(int32_t PageNo, int32_t FromPageNo, int32_t FromEntryNo);
  void Leave() { --FDepth; }

 private:
  int32_t FRepeatCode;
  int32_t FDepth = 0;
  // Most walks go down one path: their pages fit the array, searched without allocation;
  // walks that fan out keep the rest in the set.
  std::array<int32_t, TORVKeyPath::MaxLevels> FFirstPages{};
  int32_t FFirstCount = 0;
  std::unordered_set<int32_t> FMorePages;
};

class TORVBTreePageController {
 public:
  explicit TORVBTreePageController(TORVBTreePage* aPage) : FPage(aPage) {}
  virtual ~TORVBTreePageController() = default;

  virtual int32_t CompareEntries(bool MayUseFullKeys, int32_t SessionID, const void* Key, const void* Reference,
                                 uint16_t EntryNo) = 0;
  virtual void InsertLeafEntry(int32_t SessionID, const void* Key, const void* Reference, TORVKeyPath& KeyPath) = 0;
  virtual bool DeleteLeafEntry(int32_t SessionID, const void* Key, const void* Reference, TORVKeyPath& KeyPath) = 0;
  virtual void FreeAllPages(int32_t SessionID, bool KeepRootPage) = 0;
  virtual void CheckIntegrity(int32_t SessionID, TORVKeyPath& KeyPath) = 0;
  virtual bool FindEntry(int32_t SessionID, const void* Key, const void* Reference, TORVKeyPath& Position) = 0;
  virtual bool GetFirstPosition(int32_t SessionID, TORVKeyPath& Position) = 0;
  virtual bool GetLastPosition(int32_t SessionID, TORVKeyPath& Position) = 0;
  virtual bool FindByCondition(int32_t SessionID, bool First, const void* Key, TORVSearchCondition Operator,
                               TORVKeyPath& Position) = 0;
  virtual void GetFirstKey(int32_t SessionID, void* Key, int32_t Depth = 0) = 0;
  virtual void GetLastKey(int32_t SessionID, void* Key, int32_t Depth = 0) = 0;
  virtual void GetFirstEntry(int32_t SessionID, void* Key, void* Reference, int32_t Depth = 0) = 0;
  virtual void GetLastEntry(int32_t SessionID, void* Key, void* Reference, int32_t Depth = 0) = 0;

  TORVBTreeKeyRef* GetKeyRef() const;
  uint8_t* GetPKey(int32_t KeyPosition) const;
  uint8_t* GetPReference(int32_t RefPosition) const;
  int32_t CompareKeys(bool MayUseFullKeys, int32_t SessionID, const void* Key1, uint16_t Key2Index) const;
  int32_t CompareReferences(const void* Reference1, uint16_t Reference2Index) const;
  uint16_t GetKeyPosition(bool MayUseFullKeys, int32_t SessionID, const void* Key, const void* Reference,
                          int32_t StartPosition, TORVKeyPathPosition* PositionType, TORVKeySearchType SearchType);
  bool CanAddEntry() const;
  bool IsOverflow() const;
  bool CanUnderflow() const;
  bool CanMergeWithPage(const TORVBTreePage& Page) const;
  void EnlargePageBuffer();
  void InsertEntry(const void* Key, const void* Reference, int32_t Position);
  void DeleteEntry(int32_t Position);
  void Split(int32_t SessionID, TORVKeyPath& KeyPath);
  bool TryMerge(int32_t SessionID, TORVKeyPath& KeyPath);
  bool TryMergeWithPage(int32_t SessionID, int32_t MergePageNo, TORVKeyPath& KeyPath);
  void MergeWithLeftPage(int32_t SessionID, TORVBTreePage& LeftPage, TORVKeyPath& KeyPath);
  void MergeWithRightPage(int32_t SessionID, TORVBTreePage& RightPage, TORVKeyPath& KeyPath);

 protected:
  void RootSplit(int32_t SessionID);
  void NonRootSplit(int32_t SessionID, TORVKeyPath& KeyPath);

  TORVBTreePage* FPage;
};

class TORVBTreeLeafController : public TORVBTreePageController {
 public:
  using TORVBTreePageController::TORVBTreePageController;

  int32_t CompareEntries(bool MayUseFullKeys, int32_t SessionID, const void* Key, const void* Reference,
                         uint16_t EntryNo) override;
  void InsertLeafEntry(int32_t SessionID, const void* Key, const void* Reference, TORVKeyPath& KeyPath) override;
  bool DeleteLeafEntry(int32_t SessionID, const void* Key, const void* Reference, TORVKeyPath& KeyPath) override;
  void FreeAllPages(int32_t SessionID, bool KeepRootPage) override;
  void CheckIntegrity(int32_t SessionID, TORVKeyPath& KeyPath) override;
  bool FindEntry(int32_t SessionID, const void* Key, const void* Reference, TORVKeyPath& Position) override;
  bool GetFirstPosition(int32_t SessionID, TORVKeyPath& Position) override;
  bool GetLastPosition(int32_t SessionID, TORVKeyPath& Position) override;
  bool FindByCondition(int32_t SessionID, bool First, const void* Key, TORVSearchCondition Operator,
                       TORVKeyPath& Position) override;
  void GetFirstKey(int32_t SessionID, void* Key, int32_t Depth = 0) override;
  void GetLastKey(int32_t SessionID, void* Key, int32_t Depth = 0) override;
  void GetFirstEntry(int32_t SessionID, void* Key, void* Reference, int32_t Depth = 0) override;
  void GetLastEntry(int32_t SessionID, void* Key, void* Reference, int32_t Depth = 0) override;

  bool FindEntryOnPage(int32_t SessionID, const void* Key, const void* Reference, int32_t& EntryNo);
  bool FindFirstByCondition(int32_t SessionID, const void* Key, TORVSearchCondition Operator, TORVKeyPath& Position);
  bool FindLastByCondition(int32_t SessionID, const void* Key, TORVSearchCondition Operator, TORVKeyPath& Position);
};

class TORVBTreeNodeController : public TORVBTreePageController {
 public:
  using TORVBTreePageController::TORVBTreePageController;

  int32_t CompareEntries(bool MayUseFullKeys, int32_t SessionID, const void* Key, const void* Reference,
                         uint16_t EntryNo) override;
  void InsertLeafEntry(int32_t SessionID, const void* Key, const void* Reference, TORVKeyPath& KeyPath) override;
  bool DeleteLeafEntry(int32_t SessionID, const void* Key, const void* Reference, TORVKeyPath& KeyPath) override;
  void FreeAllPages(int32_t SessionID, bool KeepRootPage) override;
  void CheckIntegrity(int32_t SessionID, TORVKeyPath& KeyPath) override;
  bool FindEntry(int32_t SessionID, const void* Key, const void* Reference, TORVKeyPath& Position) override;
  bool GetFirstPosition(int32_t SessionID, TORVKeyPath& Position) override;
  bool GetLastPosition(int32_t SessionID, TORVKeyPath& Position) override;
  bool FindByCondition(int32_t SessionID, bool First, const void* Key, TORVSearchCondition Operator,
                       TORVKeyPath& Position) override;
  void GetFirstKey(int32_t SessionID, void* Key, int32_t Depth = 0) override;
  void GetLastKey(int32_t SessionID, void* Key, int32_t Depth = 0) override;
  void GetFirstEntry(int32_t SessionID, void* Key, void* Reference, int32_t Depth = 0) override;
  void GetLastEntry(int32_t SessionID, void* Key, void* Reference, int32_t Depth = 0) override;

  // The entry for a new child page, after the child the current path item names.
  void InsertNodeEntry(int32_t SessionID, const void* Key, const void* Reference, TORVKeyPath& KeyPath);
  // Removes the current path item's child entry after that child went to a neighbour.
  // FirstKeyOfMerged (merges to the right) is the first key of the entries that moved.
  void DeleteNodeEntry(int32_t SessionID, TORVKeyPath& KeyPath, bool MergeWithLeft, const void* FirstKeyOfMerged);
  void GetChildPagesToCheck(int32_t SessionID, const void* Key, TORVSearchCondition SearchCondition,
                            int32_t& StartEntryNo, int32_t& EndEntryNo);
  bool FindEntryOnOneOfPages(int32_t SessionID, int32_t StartEntryNo, int32_t EndEntryNo, const void* Key,
                             const void* Reference, TORVKeyPath& Position);
  bool FindByConditionOnOneOfPages(int32_t SessionID, bool First, int32_t StartEntryNo, int32_t EndEntryNo,
                                   const void* Key, TORVSearchCondition Operator, TORVKeyPath& Position);
  void DecreaseTreeDepth(int32_t SessionID);
  int32_t ChildPageNo(int32_t EntryNo) const;

 private:
  // The walks, with the record of the pages they entered; the public operations start a walk
  // at this page and pass it down to every node below.
  void FreeAllPages(int32_t SessionID, bool KeepRootPage, TORVBTreeWalk& Walk);
  void CheckIntegrity(int32_t SessionID, TORVKeyPath& KeyPath, TORVBTreeWalk& Walk);
  bool FindEntry(int32_t SessionID, const void* Key, const void* Reference, TORVKeyPath& Position,
                 TORVBTreeWalk& Walk);
  bool FindEntryOnOneOfPages(int32_t SessionID, int32_t StartEntryNo, int32_t EndEntryNo, const void* Key,
                             const void* Reference, TORVKeyPath& Position, TORVBTreeWalk& Walk);
  bool FindByCondition(int32_t SessionID, bool First, const void* Key, TORVSearchCondition Operator,
                       TORVKeyPath& Position, TORVBTreeWalk& Walk);
  bool FindByConditionOnOneOfPages(int32_t SessionID, bool First, int32_t StartEntryNo, int32_t EndEntryNo,
                                   const void* Key, TORVSearchCondition Operator, TORVKeyPath& Position,
                                   TORVBTreeWalk& Walk);
  bool GetEdgePosition(int32_t SessionID, bool First, TORVKeyPath& Position, TORVBTreeWalk& Walk);
  // Fetches the child of entry EntryNo and enters it on the walk (left again by the caller).
  TORVBTreePageRef EnterChild(int32_t SessionID, int32_t EntryNo, TORVBTreeWalk& Walk) const;

  // The child position for a search key on this node (entry 0's key is never used).
  int32_t ChildPosition(int32_t SessionID, const void* Key, const void* Reference);
};


class TORVBTreePage : public TORVPageController {
 public:
  TORVBTreePage(TORVPageManager* PageManager, TORVBTreeKeyRef* KeyRef);
  TORVBTreePage(const TORVBTreePage&) = delete;
  TORVBTreePage& operator=(const TORVBTreePage&) = delete;

  // Page handling; a page taken is given back when its handle goes, also when an exception
  // passes. A fetched page whose header does not fit this tree (or its buffer) raises 20307.
  TORVBTreePageRef AddIndexPage(int32_t SessionID) const;
  TORVBTreePageRef GetIndexPage(int32_t SessionID, int32_t PageNo) const;
  static void PutIndexPage(TORVBTreePage* Page);
  void RemoveIndexPage(int32_t SessionID, int32_t PageNo) const;

  bool GetIsRoot() const { return Byte(btree_header::IsRoot) != 0; }
  void SetIsRoot(bool Value) { SetByte(btree_header::IsRoot, Value); }
  bool GetIsLeaf() const { return Byte(btree_header::IsLeaf) != 0; }
  void SetIsLeaf(bool Value) { SetByte(btree_header::IsLeaf, Value); }
  int32_t GetLeftPageNo() const { return static_cast<int32_t>(LoadLE32(GetPageData() + btree_header::LeftPageNo)); }
  void SetLeftPageNo(int32_t Value) { StoreLE32(GetPageData() + btree_header::LeftPageNo, static_cast<uint32_t>(Value)); }
  int32_t GetRightPageNo() const { return static_cast<int32_t>(LoadLE32(GetPageData() + btree_header::RightPageNo)); }
  void SetRightPageNo(int32_t Value) {
    StoreLE32(GetPageData() + btree_header::RightPageNo, static_cast<uint32_t>(Value));
  }
  bool GetHasKeys() const { return Byte(btree_header::HasKeys) != 0; }
  void SetHasKeys(bool Value) { SetByte(btree_header::HasKeys, Value); }
  bool GetHasSuffixes() const { return Byte(btree_header::HasSuffixes) != 0; }
  void SetHasSuffixes(bool Value) { SetByte(btree_header::HasSuffixes, Value); }
  uint16_t GetKeyPrefixSize() const { return LoadLE16(GetPageData() + btree_header::KeyPrefixSize); }
  void SetKeyPrefixSize(uint16_t Value) { StoreLE16(GetPageData() + btree_header::KeyPrefixSize, Value); }
  uint16_t GetEntryCount() const { return LoadLE16(GetPageData() + btree_header::EntryCount); }
  void SetEntryCount(uint16_t Value) { StoreLE16(GetPageData() + btree_header::EntryCount, Value); }
  uint16_t GetPagePrefixSize() const { return LoadLE16(GetPageData() + btree_header::PagePrefixSize); }
  void SetPagePrefixSize(uint16_t Value) { StoreLE16(GetPageData() + btree_header::PagePrefixSize, Value); }

  int32_t GetReferenceSize() const { return GetIsLeaf() ? LKeyRef->FReferenceSize : 4; }
  static int32_t GetSuffixPtrSize() { return 6; }
  int32_t GetEntrySize() const { return GetKeyPrefixSize() + GetReferenceSize() + (GetHasSuffixes() ? 6 : 0); }
  int32_t GetEntriesOffset() const { return btree_header::Size + GetPagePrefixSize(); }
  uint8_t* GetPKey(int32_t KeyPosition) const {
    return GetPageData() + GetEntriesOffset() + KeyPosition * GetEntrySize();
  }
  uint8_t* GetPReference(int32_t RefPosition) const { return GetPKey(RefPosition) + GetKeyPrefixSize(); }
  void UpdateKey(int32_t Position, const void* Key);
  void UpdateReference(int32_t Position, const void* Reference);

  void Init();
  void InitAsRoot();
  void CopyFrom(const TORVBTreePage& Source, int32_t StartNo, int32_t Count);
  void AppendFrom(const TORVBTreePage& Source, int32_t StartNo, int32_t Count);
  void InsertFrom(const TORVBTreePage& Source, int32_t StartNo, int32_t Count);

  // Passed to the controller of the page's kind.
  TORVBTreePageController& Controller() { return GetIsLeaf() ? static_cast<TORVBTreePageController&>(FLeafController)
                                                             : FNodeController; }
  void InsertLeafEntry(int32_t SessionID, const void* Key, const void* Reference, TORVKeyPath& KeyPath) {
    Controller().InsertLeafEntry(SessionID, Key, Reference, KeyPath);
  }
  bool DeleteLeafEntry(int32_t SessionID, const void* Key, const void* Reference, TORVKeyPath& KeyPath) {
    return Controller().DeleteLeafEntry(SessionID, Key, Reference, KeyPath);
  }
  bool FindEntry(int32_t SessionID, const void* Key, const void* Reference, TORVKeyPath& Position) {
    return Controller().FindEntry(SessionID, Key, Reference, Position);
  }
  bool GetFirstPosition(int32_t SessionID, TORVKeyPath& Position) {
    return Controller().GetFirstPosition(SessionID, Position);
  }
  bool GetLastPosition(int32_t SessionID, TORVKeyPath& Position) {
    return Controller().GetLastPosition(SessionID, Position);
  }
  bool FindByCondition(int32_t SessionID, bool First, const void* Key, TORVSearchCondition Operator,
                       TORVKeyPath& Position) {
    if (GetEntryCount() == 0) return false;
    return Controller().FindByCondition(SessionID, First, Key, Operator, Position);
  }
  void FreeAllPages(int32_t SessionID, bool KeepRootPage) { Controller().FreeAllPages(SessionID, KeepRootPage); }
  void CheckIntegrity(int32_t SessionID, TORVKeyPath& KeyPath) { Controller().CheckIntegrity(SessionID, KeyPath); }
  void GetFirstKey(int32_t SessionID, void* Key, int32_t Depth = 0) { Controller().GetFirstKey(SessionID, Key, Depth); }
  void GetLastKey(int32_t SessionID, void* Key, int32_t Depth = 0) { Controller().GetLastKey(SessionID, Key, Depth); }
  void GetFirstEntry(int32_t SessionID, void* Key, void* Reference, int32_t Depth = 0) {
    Controller().GetFirstEntry(SessionID, Key, Reference, Depth);
  }
  void GetLastEntry(int32_t SessionID, void* Key, void* Reference, int32_t Depth = 0) {
    Controller().GetLastEntry(SessionID, Key, Reference, Depth);
  }
  // On a leaf page: 20020 / 20024.
  void InsertNodeEntry(int32_t SessionID, const void* Key, const void* Reference, TORVKeyPath& KeyPath);
  void DeleteNodeEntry(int32_t SessionID, TORVKeyPath& KeyPath, bool MergeWithLeft, const void* FirstKeyOfMerged);

  // The entries the page can hold in its buffer (one more than fit on the page while it
  // waits for its split).
  int32_t BufferEntryCapacity() const;
  // Raises 20307 unless the header fits the tree and the buffer.
  void CheckPageHeader() const;

  TORVBTreeKeyRef* LKeyRef;
  TORVPageManager* LPageManager;
  TORVBTreeLeafController FLeafController;
  TORVBTreeNodeController FNodeController;

 private:
  uint8_t Byte(int32_t Offset) const { return GetPageData()[Offset]; }
  void SetByte(int32_t Offset, bool Value) { GetPageData()[Offset] = Value ? 1 : 0; }
};

// Walking a tree's leaf entries with key paths, shared by the indexes built on the tree.
// Next and prior step the deepest level that can move and move every level below to the
// neighbouring page by its links; the error codes are the caller's (empty path, missing
// link).
struct TORVBTreeStepCodes {
  int32_t EmptyPath;
  int32_t MissingLink;
};
bool BTreeNextPosition(const TORVBTreePage& AnyPage, int32_t SessionID, TORVKeyPath& Position,
                       TORVBTreeStepCodes Codes);
bool BTreePriorPosition(const TORVBTreePage& AnyPage, int32_t SessionID, TORVKeyPath& Position,
                        TORVBTreeStepCodes Codes);

}  // namespace orv

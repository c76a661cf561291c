#include "dbengine/storage/orv_btree_record_index.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_set>

#include "dbengine/storage/orv_const.h"
#include "dbengine/storage/orv_except.h"

namespace orv {

namespace {

// A key buffer of the engine's memory manager, freed also when an exception passes.
class KeyBuffer {
 public:
  KeyBuffer(const TORVBTreeKeyRef& ref, bool full) : ref_(ref), p_(full ? ref.AllocFullKeyBuffer() : ref.AllocShortKeyBuffer()) {}
  ~KeyBuffer() { ref_.FreeAndNilKeyBuffer(p_); }
  KeyBuffer(const KeyBuffer&) = delete;
  KeyBuffer& operator=(const KeyBuffer&) = delete;
  void* get() const { return p_; }

 private:
  const TORVBTreeKeyRef& ref_;
  void* p_;
};

// Searches compare fewer columns or prefixes of texts only for their own duration.
class CompareScope {
 public:
  explicit CompareScope(TORVRecordKeyRef& ref) : ref_(ref) {}
  ~CompareScope() {
    ref_.FCompareFieldCount = ref_.GetPartCount();
    ref_.SetPartialCompare(nullptr, false);
  }
  CompareScope(const CompareScope&) = delete;
  CompareScope& operator=(const CompareScope&) = delete;

 private:
  TORVRecordKeyRef& ref_;
};

struct Reference {
  explicit Reference(const TORVPageItemID& id) { id.WriteTo(bytes); }
  uint8_t bytes[TORVPageItemID::StoredSize];
};

// A walk along the links of one level of a damaged tree could run in a circle; a page met
// twice ends it with the caller's error.
class LinkGuard {
 public:
  explicit LinkGuard(int32_t code) : code_(code) {}
  void Visit(int32_t PageNo) {
    if (!seen_.insert(PageNo).second) throw EORVException(code_, "Index error: invalid page number");
  }

 private:
  int32_t code_;
  std::unordered_set<int32_t> seen_;
};

}  // namespace

TORVBTreeRecordIndex::TORVBTreeRecordIndex(IORVIndexManager* aIndexManager) : TORVIndex(aIndexManager) {}
TORVBTreeRecordIndex::~TORVBTreeRecordIndex() {
  FPageTemplate.reset();
  FKeyRef.reset();
}

void TORVBTreeRecordIndex::BuildKeyRef() {
  if (!FIndexManager) throw EORVException(20044, "Pointer is nil");
  std::vector<TORVKeyColumn> columns;
  for (int32_t i = 0; i < FIndexDef->ColumnCount(); ++i) {
    const TORVIndexColumn& c = FIndexDef->GetIndexColumn(i);
    columns.push_back({c.FieldName, c.Descending, c.CaseInsensitive, c.MaxIndexedSize});
  }
  auto ref = std::make_unique<TORVRecordKeyRef>();
  ref->Assign(columns, FIndexManager->GetTableData());
  ref->FReferenceSize = TORVPageItemID::StoredSize;
  FPageTemplate.reset();
  FKeyRef = std::move(ref);
  FPageTemplate = std::make_unique<TORVBTreePage>(FIndexManager->GetPageManager(*this), FKeyRef.get());
}

TORVBTreePageRef TORVBTreeRecordIndex::GetRoot(int32_t SessionID, int32_t CodeWithoutRoot) const {
  if (!FIndexDef || !FPageTemplate || FIndexDef->RootPageNo == -1)
    throw EORVException(CodeWithoutRoot, "Invalid page number");
  return FPageTemplate->GetIndexPage(SessionID, FIndexDef->RootPageNo);
}

TORVBTreePageRef TORVBTreeRecordIndex::GetIndexPage(int32_t SessionID, int32_t PageNo) const {
  return FPageTemplate->GetIndexPage(SessionID, PageNo);
}

int32_t TORVBTreeRecordIndex::ClampFieldCount(int32_t Count) const {
  return std::clamp(Count, 0, FKeyRef->GetPartCount());
}

// ---- Building and dropping ------------------------------------------------------------

void TORVBTreeRecordIndex::CreateIndex(IORVIndexCursor* Cursor, TORVIndexDef& aIndexDef) {
  TORVIndex::CreateIndex(Cursor, aIndexDef);
  BuildKeyRef();
  const int32_t session = Cursor ? Cursor->GetSessionID() : SYSTEM_SESSION_ID;
  {
    TORVBTreePageRef root = FPageTemplate->AddIndexPage(session);
    root->InitAsRoot();
    root->SetIsDirty(true);
    aIndexDef.RootPageNo = root->GetPageNo();
    FIndexDef->RootPageNo = root->GetPageNo();
  }
  if (!Cursor) return;
  // A unique or primary index is refused over duplicate keys (it would hold them for good),
  // and a refused or failed build gives its pages back.
  const bool unique = FIndexDef->Primary || FIndexDef->Unique;
  try {
    FIndexManager->ForEachTableRecord(session, Cursor->GetTableName(), [&](IORVIndexCursor& c) {
      if (unique && !CanInsertRecord(session, c.GetCurrentRecordBuffer())) {
        if (FIndexDef->Primary)
          throw EORVException(30319, "Primary Key constraint '%s' violated. Duplicate found.", {FIndexDef->Name});
        throw EORVException(30320, "Constraint unique '%s' violated. Duplicate found.", {FIndexDef->Name});
      }
      InsertRecord(c);
    });
  } catch (...) {
    try {
      DropIndex(session);
    } catch (...) {
      // The build's own failure is the one to report.
    }
    aIndexDef.RootPageNo = -1;
    throw;
  }
}

void TORVBTreeRecordIndex::DropIndex(int32_t SessionID) {
  {
    TORVBTreePageRef root = GetRoot(SessionID, 20119);
    root->FreeAllPages(SessionID, false);
  }
  // The root page is gone: a later operation must not read it as this tree.
  FIndexDef->RootPageNo = -1;
}

void TORVBTreeRecordIndex::EmptyIndex(int32_t SessionID) {
  TORVBTreePageRef root = GetRoot(SessionID, 20120);
  root->FreeAllPages(SessionID, true);
  root->InitAsRoot();
  root->SetIsDirty(true);
}

void TORVBTreeRecordIndex::OpenIndex(const TORVIndexDef& aIndexDef) {
  TORVIndex::OpenIndex(aIndexDef);
  BuildKeyRef();
}

void TORVBTreeRecordIndex::RebuildTemporaryIndex(IORVIndexCursor* Cursor) {
  if (FIndexDef && FIndexDef->RootPageNo != -1) DropIndex(Cursor ? Cursor->GetSessionID() : SYSTEM_SESSION_ID);
  CreateIndex(Cursor, *FIndexDef);
}

// ---- Positions ------------------------------------------------------------------------

bool TORVBTreeRecordIndex::GetFirstPosition(int32_t SessionID, TORVKeyPath& Position) {
  Position.Clear();
  TORVBTreePageRef root = GetRoot(SessionID, 20121);
  return root->GetFirstPosition(SessionID, Position);
}

bool TORVBTreeRecordIndex::GetLastPosition(int32_t SessionID, TORVKeyPath& Position) {
  Position.Clear();
  TORVBTreePageRef root = GetRoot(SessionID, 20122);
  return root->GetLastPosition(SessionID, Position);
}

bool TORVBTreeRecordIndex::GetNextPosition(int32_t SessionID, TORVKeyPath& Position) {
  if (Position.Count <= 0 || !FPageTemplate) throw EORVException(20069, "Index error: invalid position");
  return BTreeNextPosition(*FPageTemplate, SessionID, Position, {20069, 20070});
}

bool TORVBTreeRecordIndex::GetPriorPosition(int32_t SessionID, TORVKeyPath& Position) {
  if (Position.Count <= 0 || !FPageTemplate) throw EORVException(20069, "Index error: invalid position");
  return BTreePriorPosition(*FPageTemplate, SessionID, Position, {20069, 20071});
}

bool TORVBTreeRecordIndex::GetPosition(int32_t SessionID, bool Restart, bool GoForward, TORVKeyPath& Position) {
  if (Restart) return GoForward ? GetFirstPosition(SessionID, Position) : GetLastPosition(SessionID, Position);
  return GoForward ? GetNextPosition(SessionID, Position) : GetPriorPosition(SessionID, Position);
}

void TORVBTreeRecordIndex::GetRecordID(int32_t SessionID, const TORVKeyPath& Position, TORVPageItemID& RecordID) {
  if (Position.Count <= 0 || !FPageTemplate) throw EORVException(20068, "Index error: invalid position");
  TORVBTreePageRef leaf = GetIndexPage(SessionID, Position.Last().PageNo);
  const int32_t e = Position.Last().EntryNo;
  // A path taken before the tree changed may point past the page's entries.
  if (!leaf->GetIsLeaf() || e < 0 || e >= leaf->GetEntryCount())
    throw EORVException(20068, "Index error: invalid position");
  RecordID = TORVPageItemID::ReadFrom(leaf->GetPReference(e));
}

bool TORVBTreeRecordIndex::GetIndexPosition(int32_t SessionID, const TORVPageItemID& RecordID, const void* RecordBuffer,
                                            TORVKeyPath* IndexPosition) {
  TORVBTreePageRef root = GetRoot(SessionID, 20124);
  if (!IndexPosition || !RecordBuffer) throw EORVException(20124, "Invalid page number");
  IndexPosition->Clear();
  KeyBuffer key(*FKeyRef, false);
  FKeyRef->MakeShortKeyFromRecordBuffer(RecordBuffer, key.get());
  const Reference ref(RecordID);
  return root->FindEntry(SessionID, key.get(), ref.bytes, *IndexPosition);
}

int32_t TORVBTreeRecordIndex::CompareRecordPositionsInIndex(const TORVKeyPath* RecordPosition1,
                                                            const TORVKeyPath* RecordPosition2) {
  if (!RecordPosition1) throw EORVException(10384, "Nil pointer occured");
  if (!RecordPosition2) throw EORVException(10385, "Nil pointer occured");
  return RecordPosition1->Compare(*RecordPosition2);
}

void TORVBTreeRecordIndex::GetRecordIDByIndexPosition(int32_t SessionID, const TORVKeyPath& IndexPos,
                                                      TORVPageItemID& RecordID) {
  if (IndexPos.Count <= 0) throw EORVException(20068, "Index error: invalid position");
  TORVBTreePageRef page = GetRoot(SessionID, 20123);
  for (int32_t level = 0;; ++level) {
    const int32_t e = IndexPos.Item(level).EntryNo;
    if (e < 0 || e >= page->GetEntryCount()) throw EORVException(20068, "Index error: invalid position");
    const bool last = level == IndexPos.Count - 1;
    if (last != page->GetIsLeaf()) throw EORVException(20068, "Index error: invalid position");
    if (last) {
      RecordID = TORVPageItemID::ReadFrom(page->GetPReference(e));
      return;
    }
    const auto child = static_cast<int32_t>(LoadLE32(page->GetPReference(e)));
    page = GetIndexPage(SessionID, child);
  }
}

// ---- Reading in index order -----------------------------------------------------------

void TORVBTreeRecordIndex::SetPastTheEnd(TORVNavigationInfo& NavigationInfo, bool Forward) {
  NavigationInfo.GetRecordResult = Forward ? grrEOF : grrBOF;
  NavigationInfo.FirstPosition = !Forward;
  NavigationInfo.LastPosition = Forward;
}

void TORVBTreeRecordIndex::SetNavigationResult(int32_t SessionID, TORVNavigationInfo& NavigationInfo,
                                               const TORVKeyPath& Path, TORVIndexPositionCache* IndexPositionCache,
                                               int32_t TableState) {
  NavigationInfo.GetRecordResult = grrOK;
  NavigationInfo.FirstPosition = false;
  NavigationInfo.LastPosition = false;
  GetRecordID(SessionID, Path, NavigationInfo.RecordID);
  const TORVGetRecordMode mode = NavigationInfo.GetRecordMode;
  NavigationInfo.GetRecordMode = grmCurrent;
  try {
    FIndexManager->GetTableData()->GetRecordBuffer(SessionID, NavigationInfo);
  } catch (...) {
    NavigationInfo.GetRecordMode = mode;
    throw;
  }
  NavigationInfo.GetRecordMode = mode;
  if (IndexPositionCache) {
    IndexPositionCache->IndexID = FIndexDef->ObjectID;
    IndexPositionCache->TableState = TableState;
    IndexPositionCache->RecordID = NavigationInfo.RecordID;
    IndexPositionCache->Position->Assign(Path);
  }
}

void TORVBTreeRecordIndex::GetRecordBuffer(int32_t SessionID, TORVNavigationInfo& NavigationInfo,
                                           TORVIndexPositionCache* IndexPositionCache, int32_t TableState) {
  if (NavigationInfo.GetRecordMode == grmCurrent)
    throw EORVException(20053, "Invalid 'get record' mode for index: grmCurrent");
  GetRoot(SessionID, 20123);
  const bool forward = NavigationInfo.GetRecordMode == grmNext;
  TORVKeyPath path;
  bool found;
  if (NavigationInfo.FirstPosition) {
    found = GetFirstPosition(SessionID, path);
  } else if (NavigationInfo.LastPosition) {
    found = GetLastPosition(SessionID, path);
  } else {
    if (IndexPositionCache && IndexPositionCache->IndexID == FIndexDef->ObjectID &&
        IndexPositionCache->RecordID == NavigationInfo.RecordID && IndexPositionCache->TableState == TableState) {
      path.Assign(*IndexPositionCache->Position);
      found = path.Count > 0;
    } else {
      found = GetIndexPosition(SessionID, NavigationInfo.RecordID, NavigationInfo.RecordBuffer, &path);
    }
    if (found && !(forward ? GetNextPosition(SessionID, path) : GetPriorPosition(SessionID, path))) {
      SetPastTheEnd(NavigationInfo, forward);
      return;
    }
  }
  if (!found) {
    NavigationInfo.GetRecordResult = grrError;
    return;
  }
  SetNavigationResult(SessionID, NavigationInfo, path, IndexPositionCache, TableState);
}

void TORVBTreeRecordIndex::GetClosestRecordBuffer(int32_t SessionID, TORVNavigationInfo& NavigationInfo,
                                                  TORVIndexPositionCache* IndexPositionCache, int32_t TableState) {
  TORVBTreePageRef root = GetRoot(SessionID, 20293);
  if (!NavigationInfo.RecordBuffer) throw EORVException(20293, "Invalid page number");
  const bool forward = NavigationInfo.GetRecordMode == grmNext;
  TORVKeyPath path;
  bool found;
  {
    KeyBuffer key(*FKeyRef, false);
    FKeyRef->MakeShortKeyFromRecordBuffer(NavigationInfo.RecordBuffer, key.get());
    found = root->FindByCondition(SessionID, forward, key.get(), forward ? scGreater : scLower, path);
  }
  root.reset();
  if (!found) {
    SetPastTheEnd(NavigationInfo, forward);
    return;
  }
  SetNavigationResult(SessionID, NavigationInfo, path, IndexPositionCache, TableState);
}

// ---- Record numbers -------------------------------------------------------------------

int64_t TORVBTreeRecordIndex::GetRecNoByRecordID(int32_t SessionID, const TORVPageItemID& RecordID,
                                                 const void* RecordBuffer) {
  TORVKeyPath path;
  if (!GetIndexPosition(SessionID, RecordID, RecordBuffer, &path)) return -1;
  LinkGuard guard(20071);
  int64_t recno = path.Last().EntryNo + 1;
  int32_t page_no = path.Last().PageNo;
  guard.Visit(page_no);
  page_no = GetIndexPage(SessionID, page_no)->GetLeftPageNo();
  while (page_no != -1) {
    guard.Visit(page_no);
    TORVBTreePageRef page = GetIndexPage(SessionID, page_no);
    recno += page->GetEntryCount();
    page_no = page->GetLeftPageNo();
  }
  return recno;
}

TORVPageItemID TORVBTreeRecordIndex::GetRecordIDByRecNo(int32_t SessionID, int64_t RecNo) {
  TORVKeyPath path;
  if (!GetFirstPosition(SessionID, path)) throw EORVException(20074, "Cannot retrieve record from empty index");
  // Record numbers start at 1; no entry stands for a smaller one.
  if (RecNo < 1) throw EORVException(20075, "Cannot set RecNo greater than RecordCount");
  LinkGuard guard(20070);
  int64_t running = 0;
  int32_t page_no = path.Last().PageNo;
  for (;;) {
    guard.Visit(page_no);
    TORVBTreePageRef page = GetIndexPage(SessionID, page_no);
    const int32_t count = page->GetEntryCount();
    if (running + count >= RecNo) {
      if (!page->GetIsLeaf()) throw EORVException(20070, "Index error: invalid page number");
      return TORVPageItemID::ReadFrom(page->GetPReference(static_cast<int32_t>(RecNo - running - 1)));
    }
    running += count;
    page_no = page->GetRightPageNo();
    if (page_no == -1) throw EORVException(20075, "Cannot set RecNo greater than RecordCount");
  }
}

// ---- DISTINCT -------------------------------------------------------------------------

void TORVBTreeRecordIndex::ApplyDistinctToRecordBitmap(int32_t SessionID, IORVIndexRecordBitmap* Bitmap,
                                                       int32_t DistinctFieldCount) {
  if (!Bitmap) throw EORVException(20076, "Pointer is nil");
  TORVKeyPath path;
  if (!GetFirstPosition(SessionID, path)) return;
  CompareScope scope(*FKeyRef);
  FKeyRef->FCompareFieldCount = ClampFieldCount(DistinctFieldCount);
  const auto key_size = static_cast<size_t>(FKeyRef->FShortKeySize);
  std::vector<uint8_t> kept_key(std::max<size_t>(key_size, 1)), key(kept_key.size());
  uint8_t kept_ref[TORVPageItemID::StoredSize], ref[TORVPageItemID::StoredSize];
  bool have = false;
  const int32_t id = FIndexDef->ObjectID;
  do {
    {
      TORVBTreePageRef leaf = GetIndexPage(SessionID, path.Last().PageNo);
      const int32_t e = path.Last().EntryNo;
      if (!leaf->GetIsLeaf() || e < 0 || e >= leaf->GetEntryCount())
        throw EORVException(20068, "Index error: invalid position");
      std::memcpy(key.data(), leaf->GetPKey(e), key_size);
      std::memcpy(ref, leaf->GetPReference(e), sizeof ref);
    }
    if (Bitmap->IsRecordVisible(id, path)) {
      if (have && FKeyRef->CompareShortKeys(kept_key.data(), key.data(), true, SessionID, kept_ref, ref) == 0) {
        Bitmap->HideRecord(id, path);
      } else {
        kept_key.swap(key);
        std::memcpy(kept_ref, ref, sizeof ref);
        have = true;
      }
    }
  } while (GetNextPosition(SessionID, path));
}

// ---- Ranged scans ---------------------------------------------------------------------

bool TORVBTreeRecordIndex::FindByConditionKey(int32_t SessionID, bool First, const TORVScanSearchCondition& Condition,
                                              int32_t CompareFieldCount, bool PartialCompare, TORVKeyPath& Position,
                                              int32_t CodeWithoutRoot) {
  TORVBTreePageRef root = GetRoot(SessionID, CodeWithoutRoot);
  if (!Condition.KeyRecordBuffer) throw EORVException(20077, "Pointer is nil");
  CompareScope scope(*FKeyRef);
  FKeyRef->FCompareFieldCount = ClampFieldCount(CompareFieldCount);
  KeyBuffer key(*FKeyRef, false);
  FKeyRef->MakeShortKeyFromRecordBuffer(Condition.KeyRecordBuffer, key.get());
  FKeyRef->SetPartialCompare(Condition.KeyRecordBuffer, PartialCompare);
  Position.Clear();
  return root->FindByCondition(SessionID, First, key.get(), Condition.Condition, Position);
}

bool TORVBTreeRecordIndex::GetCurrentPosition(int32_t SessionID, bool Restart, bool GoForward,
                                              const TORVScanSearchCondition* Start, const void* RecordBuffer,
                                              const TORVPageItemID& RecordID, TORVBTreeSearchInfo& Info) {
  TORVKeyPath& current = *Info.CurrentKeyPath;
  Info.StartPending = false;
  if (!Start) {
    if (Restart) return GoForward ? GetFirstPosition(SessionID, current) : GetLastPosition(SessionID, current);
    return GetIndexPosition(SessionID, RecordID, RecordBuffer, &current);
  }
  const bool found = FindByConditionKey(SessionID, GoForward, *Start, Start->KeyFieldCount, Start->PartialCompare,
                                        current, GoForward ? 20121 : 20122);
  if (!found || Restart) return found;
  TORVKeyPath record;
  if (!GetIndexPosition(SessionID, RecordID, RecordBuffer, &record)) return false;
  const int32_t c = record.Compare(current);
  if (GoForward ? c < 0 : c > 0) {
    // The caller's record lies before the range: the range's first record comes next. It
    // is returned as it is rather than reached by a step back and forth, which could not
    // step back from the first entry of the index.
    Info.StartPending = true;
  } else {
    current.Assign(record);
  }
  return true;
}

bool TORVBTreeRecordIndex::GetEndPosition(int32_t SessionID, bool GoForward, const TORVScanSearchCondition* Start,
                                          const TORVScanSearchCondition* End, TORVBTreeSearchInfo& Info) {
  if (!Start) return true;
  const TORVScanSearchCondition& bound = End ? *End : *Start;
  Info.EndKeyPath = std::make_unique<TORVKeyPath>();
  return FindByConditionKey(SessionID, !GoForward, bound, bound.KeyFieldCount, Start->PartialCompare, *Info.EndKeyPath,
                            GoForward ? 20122 : 20121);
}

bool TORVBTreeRecordIndex::FindRecord(int32_t SessionID, bool Restart, bool GoForward,
                                      const TORVScanSearchCondition* StartScanCondition,
                                      const TORVScanSearchCondition* EndScanCondition, const void* RecordBuffer,
                                      TORVPageItemID& RecordID, void* SearchInfo) {
  auto* info = static_cast<TORVBTreeSearchInfo*>(SearchInfo);
  if (!info) throw EORVException(20077, "Pointer is nil");
  if (Restart && info->IsFilled) throw EORVException(20078, "Index error: invalid params");
  bool found = true;
  if (Restart || !info->IsFilled)
    found = GetCurrentPosition(SessionID, Restart, GoForward, StartScanCondition, RecordBuffer, RecordID, *info);
  if (found && !info->IsFilled) {
    if (StartScanCondition && !EndScanCondition && (Restart || info->StartPending))
      info->EndPending = true;
    else
      found = GetEndPosition(SessionID, GoForward, StartScanCondition, EndScanCondition, *info);
  }
  if (!found) return false;
  TORVKeyPath& current = *info->CurrentKeyPath;
  if (!Restart && !info->StartPending) {
    if (info->EndPending) {
      info->EndPending = false;
      if (!GetEndPosition(SessionID, GoForward, StartScanCondition, EndScanCondition, *info)) return false;
    }
    if (!(GoForward ? GetNextPosition(SessionID, current) : GetPriorPosition(SessionID, current))) return false;
  }
  info->StartPending = false;
  if (info->EndKeyPath) {
    const int32_t c = CompareRecordPositionsInIndex(&current, info->EndKeyPath.get());
    if (GoForward ? c > 0 : c < 0) return false;
  }
  GetRecordID(SessionID, current, RecordID);
  if (!info->IsFilled) {
    info->GoForward = GoForward;
    info->IsFilled = true;
  }
  return true;
}

int32_t TORVBTreeRecordIndex::CompareConditions(const TORVScanSearchCondition& Condition1,
                                                const TORVScanSearchCondition&) {
  switch (Condition1.Condition) {
    case scGreater:
    case scGreaterEqual: return -1;
    case scLower:
    case scLowerEqual: return 1;
    default: return 0;
  }
}

int64_t TORVBTreeRecordIndex::GetApproxRangeRecordCount(int32_t SessionID, int64_t TableRecordCount,
                                                        const TORVScanSearchCondition& RangeCondition1,
                                                        const TORVScanSearchCondition& RangeCondition2) {
  GetRoot(SessionID, 20125);
  const bool first_is_start = CompareConditions(RangeCondition1, RangeCondition2) < 0;
  const TORVScanSearchCondition& start = first_is_start ? RangeCondition1 : RangeCondition2;
  const TORVScanSearchCondition& end = first_is_start ? RangeCondition2 : RangeCondition1;
  TORVKeyPath from, to;
  if (!FindByConditionKey(SessionID, true, start, start.KeyFieldCount, false, from, 20125)) return 0;
  if (!FindByConditionKey(SessionID, false, end, start.KeyFieldCount, false, to, 20125)) return 0;
  const double share = to.GetApproxRecNoInPercents() - from.GetApproxRecNoInPercents();
  const double estimate = std::nearbyint(share * static_cast<double>(TableRecordCount));
  if (!(estimate > 0)) return 0;
  if (estimate >= static_cast<double>(TableRecordCount)) return TableRecordCount;
  return static_cast<int64_t>(estimate);
}

int32_t TORVBTreeRecordIndex::CompareRecordBuffersByIndex(const void* Buffer1, const void* Buffer2,
                                                          int32_t IndexFieldCount) {
  if (!FKeyRef) throw EORVException(20123, "Invalid page number");
  CompareScope scope(*FKeyRef);
  FKeyRef->FCompareFieldCount = ClampFieldCount(IndexFieldCount);
  KeyBuffer key1(*FKeyRef, true), key2(*FKeyRef, true);
  FKeyRef->MakeFullKeyFromRecordBuffer(Buffer1, key1.get());
  FKeyRef->MakeFullKeyFromRecordBuffer(Buffer2, key2.get());
  return FKeyRef->CompareFullKeys(key1.get(), key2.get());
}

// ---- Keeping the index current ----------------------------------------------------------

bool TORVBTreeRecordIndex::CanInsertRecord(int32_t SessionID, const void* RecordBuffer) {
  TORVBTreePageRef root = GetRoot(SessionID, 20126);
  if (!FIndexDef->Primary && !FIndexDef->Unique) return true;
  KeyBuffer key(*FKeyRef, false);
  FKeyRef->MakeShortKeyFromRecordBuffer(RecordBuffer, key.get());
  TORVKeyPath path;
  return !root->FindByCondition(SessionID, true, key.get(), scEqual, path);
}

bool TORVBTreeRecordIndex::CanUpdateRecord(int32_t SessionID, const void* OldRecordBuffer, const void* NewRecordBuffer) {
  if (CompareRecordBuffersByIndex(OldRecordBuffer, NewRecordBuffer, FKeyRef ? FKeyRef->GetPartCount() : 0) == 0)
    return true;
  return CanInsertRecord(SessionID, NewRecordBuffer);
}

void TORVBTreeRecordIndex::InsertRecord(IORVIndexCursor& Cursor) {
  const int32_t session = Cursor.GetSessionID();
  TORVBTreePageRef root = GetRoot(session, 20127);
  KeyBuffer key(*FKeyRef, false);
  FKeyRef->MakeShortKeyFromRecordBuffer(Cursor.GetCurrentRecordBuffer(), key.get());
  const Reference ref(Cursor.GetCurrentRecordID());
  TORVKeyPath path;
  root->InsertLeafEntry(session, key.get(), ref.bytes, path);
}

void TORVBTreeRecordIndex::DeleteRecord(IORVIndexCursor& Cursor) {
  const int32_t session = Cursor.GetSessionID();
  TORVBTreePageRef root = GetRoot(session, 20027);
  KeyBuffer key(*FKeyRef, false);
  FKeyRef->MakeShortKeyFromRecordBuffer(Cursor.GetCurrentRecordBuffer(), key.get());
  const Reference ref(Cursor.GetCurrentRecordID());
  TORVKeyPath path;
  if (!root->DeleteLeafEntry(session, key.get(), ref.bytes, path))
    throw EORVException(20027, "Index error: cannot delete entry. Entry not found");
}

void TORVBTreeRecordIndex::UpdateRecord(IORVIndexCursor& Cursor, bool BeforeNewRecordIsStored) {
  const int32_t session = Cursor.GetSessionID();
  TORVBTreePageRef root = GetRoot(session, 20127);
  const void* old_record = Cursor.GetEditRecordBuffer();
  const void* new_record = Cursor.GetCurrentRecordBuffer();
  if (CompareRecordBuffersByIndex(old_record, new_record, FKeyRef->GetPartCount()) == 0) return;
  KeyBuffer key(*FKeyRef, false);
  const Reference ref(Cursor.GetCurrentRecordID());
  TORVKeyPath path;
  if (BeforeNewRecordIsStored) {
    FKeyRef->MakeShortKeyFromRecordBuffer(old_record, key.get());
    if (!root->DeleteLeafEntry(session, key.get(), ref.bytes, path))
      throw EORVException(20250, "Index error: cannot delete entry. Entry not found");
  } else {
    FKeyRef->MakeShortKeyFromRecordBuffer(new_record, key.get());
    root->InsertLeafEntry(session, key.get(), ref.bytes, path);
  }
}

const TORVKeyPath& TORVBTreeRecordIndex::GetSearchInfoPosition(const void* SearchInfo) {
  if (!SearchInfo) throw EORVException(20077, "Pointer is nil");
  return *static_cast<const TORVBTreeSearchInfo*>(SearchInfo)->CurrentKeyPath;
}

int32_t TORVBTreeRecordIndex::GetIndexEntrySize() {
  if (!FKeyRef) throw EORVException(20123, "Invalid page number");
  return FKeyRef->FShortKeySize + FKeyRef->FReferenceSize;
}

int32_t TORVBTreeRecordIndex::GetMaxEntriesPerPage() {
  if (!FKeyRef || !FPageTemplate) throw EORVException(20123, "Invalid page number");
  return FPageTemplate->LPageManager->PageDataSize() / (FKeyRef->FShortKeySize + 4);
}

}  // namespace orv

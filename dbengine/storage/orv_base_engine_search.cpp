// The record search of the table layer: the cursor's restrictions become scan conditions,
// conditions on one index are merged where one can stand for two, a plan picks an index range
// (or none), and one of four scans walks it. Locate, FindKey, filtered, ranged and DISTINCT
// navigation and the record bitmaps all come through here.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "dbengine/storage/orv_base_engine_bitmap.h"
#include "dbengine/storage/orv_base_engine_database.h"
#include "dbengine/storage/orv_base_engine_fields.h"
#include "dbengine/storage/orv_base_engine_indexes.h"
#include "dbengine/storage/orv_base_engine_scoped.h"
#include "dbengine/storage/orv_base_engine_table.h"
#include "dbengine/storage/orv_converts.h"
#include "dbengine/storage/orv_except.h"

namespace orv {

namespace {

using detail::IndexPosition;
using detail::IndexSearchInfo;
using detail::ScratchBuffer;
using Guard = TORVLockGuard<TORVTableData>;

int32_t SessionOf(const TORVCursor* Cursor) { return Cursor ? Cursor->GetSessionID() : SYSTEM_SESSION_ID; }

bool IsIndexCondition(const TORVScanSearchCondition& c) { return c.Expression == nullptr; }

// Only expressions of the table layer's own callers enter the condition array (the key,
// search, filter and SQL filter expressions), and each is an IORVExpression.
IORVExpression* EvaluatedExpression(const TORVScanSearchCondition& c) {
  return static_cast<IORVExpression*>(c.Expression);
}

bool IsLowerBound(TORVSearchCondition c) { return c == scGreater || c == scGreaterEqual; }
bool IsUpperBound(TORVSearchCondition c) { return c == scLower || c == scLowerEqual; }

// ---- The merge table ------------------------------------------------------------------------
//
// What two conditions of one index come to, by the sign of the comparison of the first key
// with the second over the shorter key (Res). K1/K2 keep the first/second, KMin/KMax the one
// with fewer/more key fields (the first on a tie), None keeps both, I: no key meets both.
enum class Merge : uint8_t {
  I,
  K1,
  K2,
  KMin,
  KMax,
  None,
  K1IfK1Max,    // K1 when the first has the most key fields, else None
  K2IfK2Max,    // K2 when the second has the most key fields, else None
  IIfK1Min,     // I when the first has the fewest key fields, else None
  IIfK2Min,     // I when the second has the fewest key fields, else None
  KMaxEqIfSame  // the one with more key fields made an equality, when both have as many; else None
};

using MergeRow = std::array<std::array<Merge, 3>, 5>;  // [second condition][Res < 0, = 0, > 0]

// Rows and columns in the order scEqual, scLower, scGreater, scLowerEqual, scGreaterEqual.
constexpr std::array<MergeRow, 5> kMergeTable = {{
    // scEqual
    {{{Merge::I, Merge::KMax, Merge::I},
      {Merge::K1, Merge::I, Merge::I},
      {Merge::I, Merge::I, Merge::K1},
      {Merge::K1, Merge::K1IfK1Max, Merge::I},
      {Merge::I, Merge::K1IfK1Max, Merge::K1}}},
    // scLower
    {{{Merge::I, Merge::I, Merge::K2},
      {Merge::K1, Merge::KMin, Merge::K2},
      {Merge::I, Merge::I, Merge::None},
      {Merge::K1, Merge::K1, Merge::K2},
      {Merge::I, Merge::IIfK1Min, Merge::None}}},
    // scGreater
    {{{Merge::K2, Merge::I, Merge::I},
      {Merge::None, Merge::I, Merge::I},
      {Merge::K2, Merge::KMin, Merge::K1},
      {Merge::None, Merge::IIfK1Min, Merge::I},
      {Merge::K2, Merge::K1, Merge::K1}}},
    // scLowerEqual
    {{{Merge::I, Merge::K2IfK2Max, Merge::K2},
      {Merge::K1, Merge::None, Merge::K2},
      {Merge::I, Merge::IIfK2Min, Merge::None},
      {Merge::K1, Merge::KMax, Merge::K2},
      {Merge::I, Merge::KMaxEqIfSame, Merge::None}}},
    // scGreaterEqual
    {{{Merge::K2, Merge::K2IfK2Max, Merge::I},
      {Merge::None, Merge::IIfK2Min, Merge::I},
      {Merge::K2, Merge::K2, Merge::K1},
      {Merge::None, Merge::KMaxEqIfSame, Merge::I},
      {Merge::K2, Merge::KMax, Merge::K1}}},
}};

}  // namespace

// ---- Conditions --------------------------------------------------------------------------------

void TORVTableData::PrepareConditions(TORVCursor* Cursor, TORVScanSearchConditionArray& Conditions,
                                      const TORVScanSearchCondition* KeyCondition, IORVExpression* SearchExpression,
                                      bool GoForward) {
  if (KeyCondition) {
    if (KeyCondition->IndexID == -1)
      throw EORVException(20258,
                          "No active index is set for Key search. Set Table.IndexName to the index on search fields.");
    Conditions.AddCondition(*KeyCondition);
  }
  for (IORVExpression* e : {SearchExpression, Cursor->FFilterExpression.get(), Cursor->FSQLFilterExpression})
    if (e) Conditions.AddExpression(e);
  // The range bounds and the DISTINCT step borrow the cursor's buffers; the array keeps copies.
  const auto add_bound = [&](void* buffer, int32_t size, int32_t key_fields, TORVSearchCondition condition) {
    TORVScanSearchCondition c(true);
    c.Condition = condition;
    c.KeyRecordBuffer = buffer;
    c.KeyRecordBufferSize = size;
    c.KeyFieldCount = key_fields;
    c.IndexID = Cursor->FIndexID;
    Conditions.AddCondition(c);
  };
  if (Cursor->IsRangeApplied()) {
    if (Cursor->FRangeStartBuffer)
      add_bound(Cursor->FRangeStartBuffer, Cursor->FKeyBufferSize, Cursor->FRangeStartKeyFieldCount,
                Cursor->FRangeStartExclusive ? scGreater : scGreaterEqual);
    if (Cursor->FRangeEndBuffer)
      add_bound(Cursor->FRangeEndBuffer, Cursor->FKeyBufferSize, Cursor->FRangeEndKeyFieldCount,
                Cursor->FRangeEndExclusive ? scLower : scLowerEqual);
  }
  if (Cursor->IsDistinctApplied() && Cursor->FDistinctRecordBuffer && !Cursor->FirstPosition && !Cursor->LastPosition)
    add_bound(Cursor->FDistinctRecordBuffer, Cursor->FRecordBufferSize, Cursor->FDistinctFieldCount,
              GoForward ? scGreater : scLower);
}

bool TORVTableData::CanBeCorrectlyMerged(const TORVScanSearchCondition& Condition1,
                                         const TORVScanSearchCondition& Condition2) const {
  const auto strict = [](TORVSearchCondition c) { return c == scLower || c == scGreater; };
  if (Condition1.Condition == scEqual && strict(Condition2.Condition))
    return Condition1.KeyFieldCount >= Condition2.KeyFieldCount;
  if (Condition2.Condition == scEqual && strict(Condition1.Condition))
    return Condition2.KeyFieldCount >= Condition1.KeyFieldCount;
  return true;
}

void TORVTableData::MergeAndCheckSearchConditionsCompatibility(TORVScanSearchCondition& Condition1,
                                                               TORVScanSearchCondition& Condition2,
                                                               bool& Incompatible, bool& HaveBeenMerged) {
  Incompatible = false;
  HaveBeenMerged = false;
  if (Condition1.Condition == scNone || Condition2.Condition == scNone) return;
  const int32_t k1 = Condition1.KeyFieldCount;
  const int32_t k2 = Condition2.KeyFieldCount;
  const int32_t min = std::min(k1, k2);
  const int32_t max = std::max(k1, k2);
  TORVIndex* index = FIndexManager->OpenIndex(Condition1.IndexID);
  const int32_t res = index->CompareRecordBuffersByIndex(Condition1.KeyRecordBuffer, Condition2.KeyRecordBuffer, min);
  const size_t column = res < 0 ? 0 : (res == 0 ? 1 : 2);
  Merge outcome = kMergeTable[Condition1.Condition - scEqual][Condition2.Condition - scEqual][column];
  switch (outcome) {
    case Merge::K1IfK1Max: outcome = k1 == max ? Merge::K1 : Merge::None; break;
    case Merge::K2IfK2Max: outcome = k2 == max ? Merge::K2 : Merge::None; break;
    case Merge::IIfK1Min: outcome = k1 == min ? Merge::I : Merge::None; break;
    case Merge::IIfK2Min: outcome = k2 == min ? Merge::I : Merge::None; break;
    case Merge::KMin: outcome = k1 <= k2 ? Merge::K1 : Merge::K2; break;
    case Merge::KMax: outcome = k1 >= k2 ? Merge::K1 : Merge::K2; break;
    default: break;
  }
  bool make_equal = false;
  if (outcome == Merge::KMaxEqIfSame) {
    if (min != max) return;
    outcome = Merge::K1;  // the one with more key fields; the first on a tie
    make_equal = true;
  }
  if (outcome == Merge::None) return;
  if (outcome == Merge::I) {
    Incompatible = true;
    return;
  }
  // A condition made from an expression may be dropped later when the plan does not use it,
  // because its expression still tests it. Once it stands for a condition that no expression
  // tests (a key, a range bound, the DISTINCT step), it must stay and be tested itself.
  const bool from_expressions = Condition1.CreatedFromExpression && Condition2.CreatedFromExpression;
  if (outcome == Merge::K2) Condition1.Assign(Condition2);
  if (make_equal) Condition1.Condition = scEqual;
  Condition1.CreatedFromExpression = from_expressions;
  HaveBeenMerged = true;
}

bool TORVTableData::IsEqualConditions(TORVScanSearchCondition& Condition1, TORVScanSearchCondition& Condition2) {
  if (!IsIndexCondition(Condition1) || !IsIndexCondition(Condition2)) return false;
  if (Condition1.IndexID != Condition2.IndexID || Condition1.Condition != Condition2.Condition ||
      Condition1.Condition == scNone || Condition1.KeyFieldCount != Condition2.KeyFieldCount)
    return false;
  TORVIndex* index = FIndexManager->OpenIndex(Condition1.IndexID);
  return index->CompareRecordBuffersByIndex(Condition1.KeyRecordBuffer, Condition2.KeyRecordBuffer,
                                            Condition1.KeyFieldCount) == 0;
}

void TORVTableData::RemoveDuplicateConditions(TORVScanSearchConditionArray& Conditions) {
  int32_t item = 0;
  while (item < Conditions.Count() && Conditions.Count() > 1) {
    bool duplicate = false;
    for (int32_t other = 0; other < Conditions.Count() && !duplicate; ++other)
      duplicate = other != item && IsEqualConditions(Conditions[item], Conditions[other]);
    if (duplicate)
      Conditions.Delete(item);
    else
      ++item;
  }
}

void TORVTableData::OptimizeSearchConditions(TORVScanSearchConditionArray& Conditions, bool& NonCompatibleConditions) {
  NonCompatibleConditions = false;
  // With one index condition at most nothing merges: the index condition goes first, as the
  // general path would put it.
  if (std::count_if(Conditions.Items.begin(), Conditions.Items.end(), [](const auto& c) { return IsIndexCondition(*c); }) < 2) {
    std::stable_partition(Conditions.Items.begin(), Conditions.Items.end(),
                          [](const auto& c) { return IsIndexCondition(*c); });
    return;
  }
  std::vector<int32_t> indexes;
  for (int32_t i = 0; i < Conditions.Count(); ++i) {
    const TORVScanSearchCondition& c = Conditions[i];
    if (IsIndexCondition(c) && std::find(indexes.begin(), indexes.end(), c.IndexID) == indexes.end())
      indexes.push_back(c.IndexID);
  }
  TORVScanSearchConditionArray merged;
  for (int32_t index_id : indexes) {
    for (int32_t i = 0; i < Conditions.Count(); ++i) {
      TORVScanSearchCondition& c = Conditions[i];
      if (!IsIndexCondition(c) || c.IndexID != index_id) continue;
      bool any_merge = false;
      for (int32_t j = 0; j < merged.Count(); ++j) {
        TORVScanSearchCondition& kept = merged[j];
        if (kept.IndexID != index_id || !CanBeCorrectlyMerged(kept, c)) continue;
        bool incompatible = false;
        bool did_merge = false;
        MergeAndCheckSearchConditionsCompatibility(kept, c, incompatible, did_merge);
        if (incompatible) {
          NonCompatibleConditions = true;
          return;
        }
        any_merge |= did_merge;
      }
      if (!any_merge) merged.AddCondition(c);
    }
  }
  RemoveDuplicateConditions(merged);
  for (int32_t i = 0; i < Conditions.Count(); ++i)
    if (!IsIndexCondition(Conditions[i])) merged.AddCondition(Conditions[i]);
  Conditions.Items.swap(merged.Items);
}

// ---- The plan ------------------------------------------------------------------------------------

bool TORVTableData::IsIndexUnique(int32_t IndexID) {
  const TORVIndexDef* def = FIndexManager->FIndexDefs.FindIndexDefByObjectID(IndexID);
  if (!def) return false;
  if (def->Unique || def->Primary) return true;
  if (def->ColumnCount() == 0 || !FFieldManager) return false;
  const TORVFieldDef* field = FFieldManager->FFieldDefs.GetFieldDefByName(def->Columns(0).FieldName);
  return field && IsAutoincFieldType(field->AdvancedFieldType);
}

bool TORVTableData::ChooseScanConditionsByHeuristsics(TORVScanSearchConditionArray& Conditions,
                                                      int32_t CurrentIndexID, int32_t& ScanConditionNo,
                                                      int32_t& ScanEndConditionNo) {
  ScanConditionNo = -1;
  ScanEndConditionNo = -1;
  if (Conditions.Count() == 0) return false;
  int32_t index_conditions = 0;
  int32_t only = -1;
  for (int32_t i = 0; i < Conditions.Count(); ++i) {
    TORVScanSearchCondition& c = Conditions[i];
    if (!IsIndexCondition(c)) continue;
    ++index_conditions;
    only = i;
    if (c.Condition != scEqual || !IsIndexUnique(c.IndexID)) continue;
    const TORVIndexDef* def = FIndexManager->FIndexDefs.FindIndexDefByObjectID(c.IndexID);
    if (def && def->ColumnCount() == 1) {
      ScanConditionNo = i;
      return true;
    }
  }
  if (index_conditions == 1 && Conditions[only].IndexID == CurrentIndexID) {
    ScanConditionNo = only;
    return true;
  }
  return false;
}

double TORVTableData::GetIndexScanCost(TORVCursor* Cursor, TORVScanSearchConditionArray& Conditions, int32_t StartNo,
                                       int32_t EndNo) {
  TORVScanSearchCondition& start = Conditions[StartNo];
  TORVScanSearchCondition& end = Conditions[EndNo == -1 ? StartNo : EndNo];
  TORVIndex* index = FIndexManager->OpenIndex(start.IndexID);
  if (!index) throw EORVException(20058, "Pointer is nil");
  const int32_t session = SessionOf(Cursor);
  const int64_t n = index->GetApproxRangeRecordCount(session, FRecordManager->FRecordCount, start, end);
  const int64_t entry_size = index->GetIndexEntrySize();
  const double page = std::max<double>(FPageManager ? FPageManager->PageDataSize() : 0, 1);
  const double record_size = FFieldManager ? FFieldManager->FFieldDefs.GetDiskRecordBufferSize() : 0;
  double cost = static_cast<double>(n * entry_size) / page;
  // Whether the records must be read: decided as if the range's conditions were already out
  // of their expressions, as they will be during the scan.
  bool check = false;
  Conditions.ExtractChosenConditionsFromExpressions(StartNo, EndNo);
  try {
    check = NeedToCheckOtherConditions(Cursor, Conditions, StartNo, EndNo);
  } catch (...) {
    Conditions.ReturnExtractedConditionsToExpressions(StartNo, EndNo);
    throw;
  }
  Conditions.ReturnExtractedConditionsToExpressions(StartNo, EndNo);
  const bool other_index = Cursor->FIndexID != -1 && Cursor->FIndexID != start.IndexID;
  if (check || other_index) cost += (record_size / page) * static_cast<double>(n);
  if (other_index) cost += static_cast<double>(n * entry_size) / page;
  return cost;
}

double TORVTableData::GetUnconditionalScanCost(TORVCursor* Cursor, bool Restart, bool GoForward) {
  const int64_t count = FRecordManager->FRecordCount;
  int64_t remaining = count;
  if (!Restart) {
    const int64_t before = FRecordManager->GetApproximateRecNo(SessionOf(Cursor), Cursor->CurrentRecordID);
    if (before > 0) remaining = GoForward ? std::max<int64_t>(count - before, 0) : before;
  }
  if (Cursor->FIndexID != -1) return static_cast<double>(remaining);
  const double page = std::max<double>(FPageManager ? FPageManager->PageDataSize() : 0, 1);
  const double record_size = FFieldManager ? FFieldManager->FFieldDefs.GetDiskRecordBufferSize() : 0;
  return (record_size / page) * static_cast<double>(remaining);
}

void TORVTableData::ChooseScanConditionsWithMinScanCost(TORVCursor* Cursor, TORVScanSearchConditionArray& Conditions,
                                                        bool Restart, bool GoForward, int32_t& ScanConditionNo,
                                                        int32_t& ScanEndConditionNo) {
  ScanConditionNo = -1;
  ScanEndConditionNo = -1;
  double min_cost = static_cast<double>(FRecordManager->FRecordCount);
  for (int32_t i = 0; i < Conditions.Count(); ++i) {
    TORVScanSearchCondition& c = Conditions[i];
    if (!IsIndexCondition(c)) continue;
    int32_t end = i;
    // Two conditions make a range only when one bounds it from below and the other from
    // above; two bounds of one side cannot be ordered into a walk and stay tested per record.
    if (i + 1 < Conditions.Count()) {
      const TORVScanSearchCondition& next = Conditions[i + 1];
      if (IsIndexCondition(next) && next.IndexID == c.IndexID &&
          ((IsLowerBound(c.Condition) && IsUpperBound(next.Condition)) ||
           (IsUpperBound(c.Condition) && IsLowerBound(next.Condition))))
        end = i + 1;
    }
    const double cost = GetIndexScanCost(Cursor, Conditions, i, end == i ? -1 : end);
    if (cost < min_cost) {
      min_cost = cost;
      ScanConditionNo = i;
      ScanEndConditionNo = end == i ? -1 : end;
    }
    i = end;
  }
  const bool paged = FPageManager && FPageManager->PageDataSize() != 0;
  if (ScanConditionNo != -1 && paged && GetUnconditionalScanCost(Cursor, Restart, GoForward) < min_cost) {
    ScanConditionNo = -1;
    ScanEndConditionNo = -1;
  }
}

void TORVTableData::ChooseScanConditions(TORVCursor* Cursor, TORVScanSearchConditionArray& Conditions, bool Restart,
                                         bool GoForward, int32_t& ScanConditionNo, int32_t& ScanEndConditionNo) {
  if (!ChooseScanConditionsByHeuristsics(Conditions, Cursor->FIndexID, ScanConditionNo, ScanEndConditionNo))
    ChooseScanConditionsWithMinScanCost(Cursor, Conditions, Restart, GoForward, ScanConditionNo, ScanEndConditionNo);
  if (ScanConditionNo == -1 || ScanEndConditionNo == -1) return;
  TORVIndex* index = FIndexManager->OpenIndex(Conditions[ScanConditionNo].IndexID);
  if (!index) throw EORVException(20273, "Pointer is nil");
  // Going forward the walk starts at the lower bound, going backward at the upper one.
  const bool first_is_lower = index->CompareConditions(Conditions[ScanConditionNo], Conditions[ScanEndConditionNo]) < 0;
  if (first_is_lower != GoForward) std::swap(ScanConditionNo, ScanEndConditionNo);
}

// ---- Testing records -------------------------------------------------------------------------------

bool TORVTableData::IsRecordMatchCondition(TORVScanSearchCondition& Condition, const void* RecordBuffer) {
  if (Condition.Condition == scNone) return false;
  TORVIndex* index = FIndexManager->OpenIndex(Condition.IndexID);
  const int32_t cmp = index->CompareRecordBuffersByIndex(RecordBuffer, Condition.KeyRecordBuffer, Condition.KeyFieldCount);
  switch (Condition.Condition) {
    case scEqual: return cmp == 0;
    case scLower: return cmp < 0;
    case scGreater: return cmp > 0;
    case scLowerEqual: return cmp <= 0;
    case scGreaterEqual: return cmp >= 0;
    default: return false;
  }
}

bool TORVTableData::NeedToCheckOtherConditions(TORVCursor* Cursor, TORVScanSearchConditionArray& Conditions,
                                               int32_t Excluded1, int32_t Excluded2) {
  if (Cursor->FilterRecord) return true;
  for (int32_t i = 0; i < Conditions.Count(); ++i) {
    if (i == Excluded1 || i == Excluded2) continue;
    const TORVScanSearchCondition& c = Conditions[i];
    if (c.CreatedFromExpression) continue;
    if (c.Expression && EvaluatedExpression(c)->IsEmpty()) continue;
    return true;
  }
  return false;
}

bool TORVTableData::IsRecordMatchConditions(TORVCursor* Cursor, TORVScanSearchConditionArray& Conditions,
                                            int32_t Excluded1, int32_t Excluded2, const void* RecordBuffer,
                                            const TORVPageItemID& RecordID) {
  for (int32_t i = 0; i < Conditions.Count(); ++i) {
    if (i == Excluded1 || i == Excluded2) continue;
    TORVScanSearchCondition& c = Conditions[i];
    if (IsIndexCondition(c)) {
      if (!IsRecordMatchCondition(c, RecordBuffer)) return false;
    } else {
      IORVExpression* e = EvaluatedExpression(c);
      if (!e->IsEmpty() && !e->GetResult()) return false;
    }
  }
  if (!Cursor->FilterRecord) return true;
  // The callback sees the record as the dataset would: in a cursor buffer with its bookmark.
  void* buffer = Cursor->AllocateRecordBuffer();
  bool accepted = false;
  try {
    const int32_t size = std::min(FRecordManager->FRecordBufferSize, Cursor->FRecordBufferSize);
    std::memcpy(buffer, RecordBuffer, static_cast<size_t>(std::max(size, 0)));
    if (Cursor->FBookmarkOffset >= 0 && Cursor->FBookmarkOffset + TORVPageItemID::StoredSize <= Cursor->FRecordBufferSize)
      RecordID.WriteTo(static_cast<uint8_t*>(buffer) + Cursor->FBookmarkOffset);
    accepted = Cursor->FilterRecord(buffer, Cursor->Dataset);
  } catch (...) {
    ClearBlobsCacheInRecordBuffer(buffer);
    Cursor->FreeRecordBuffer(buffer);
    throw;
  }
  ClearBlobsCacheInRecordBuffer(buffer);
  Cursor->FreeRecordBuffer(buffer);
  return accepted;
}

// ---- Running the scan ------------------------------------------------------------------------------

bool TORVTableData::ReadRecord(int32_t SessionID, const TORVPageItemID& RecordID, void* Buffer) {
  TORVNavigationInfo nav;
  nav.GetRecordMode = grmCurrent;
  nav.RecordID = RecordID;
  nav.RecordBuffer = Buffer;
  InternalGetRecordBuffer(SessionID, nav, nullptr, -1);
  return nav.GetRecordResult == grrOK;
}

void TORVTableData::ResetBitmapForSearch(TORVRecordBitmap& RecordBitmap, int32_t IndexID, int32_t SessionID) {
  InitRecordBitmap(RecordBitmap, IndexID);
  // A record-id bitmap covers every record from the start, so that a record beyond the last
  // visible one still gets a number (that of the nearest visible one before it).
  if (IndexID == -1) RecordBitmap.SetSize(GetBitmapRecordCount(SessionID));
}

bool TORVTableData::FindRecordByScan(const ScanRequest& Request) {
  ScratchBuffer buffer(std::max(FRecordManager->FRecordBufferSize, GetMemoryRecordBufferSize()));
  TORVScanSearchConditionArray& conditions = *Request.Conditions;
  for (int32_t i = 0; i < conditions.Count(); ++i)
    if (!IsIndexCondition(conditions[i])) EvaluatedExpression(conditions[i])->AssignCursorBuffer(buffer.get(), false);
  bool found;
  if (Request.ScanConditionNo == -1) {
    found = FindRecordByScanWithoutCondition(Request, buffer.get());
  } else if (Request.ScanConditionNo >= conditions.Count()) {
    throw EORVException(10382, "Invalid condition number = %d, count = %d",
                        {Request.ScanConditionNo, conditions.Count()});
  } else if (!Request.Cursor->IsIndexApplied()) {
    found = FindRecordByScanWithConditionAndWihtoutCurrentIndex(Request, buffer.get());
  } else if (Request.Cursor->FIndexID == conditions[Request.ScanConditionNo].IndexID) {
    found = FindRecordByScanWithConditionAndConditionIndex(Request, buffer.get());
  } else {
    found = FindRecordByScanWithConditionAndNonConditionIndex(Request, buffer.get());
  }
  return found && !Request.ForceFillWholeBitmap;
}

bool TORVTableData::FindRecordByScanWithoutCondition(const ScanRequest& Request, void* RecordBuffer) {
  TORVCursor* cursor = Request.Cursor;
  const int32_t session = SessionOf(cursor);
  TORVRecordBitmap* bitmap = Request.RecordBitmap;
  if (bitmap && Request.ForceFillWholeBitmap && Request.Conditions->Count() == 0 && !cursor->FilterRecord &&
      !cursor->IsIndexApplied() && EveryBitmapRecNoHoldsARecord()) {
    bitmap->SetSize(GetBitmapRecordCount(session));
    bitmap->SetAllBits();
    return false;
  }
  // Only a bitmap set up for this search takes marks: an inactive one may still be numbered
  // for another order of the cursor.
  if (!Request.ForceFillWholeBitmap) bitmap = nullptr;
  TORVNavigationInfo nav;
  nav.RecordID = cursor->CurrentRecordID;
  nav.GetRecordMode = Request.GoForward ? grmNext : grmPrior;
  nav.FirstPosition = Request.Restart && Request.GoForward;
  nav.LastPosition = Request.Restart && !Request.GoForward;
  nav.IndexID = cursor->FIndexID;
  nav.RecordBuffer = RecordBuffer;
  // Should the cursor's record be gone, the index continues from the closest key, which it
  // takes from this buffer.
  if (!Request.Restart && cursor->FCurrentRecordBuffer)
    std::memcpy(RecordBuffer, cursor->FCurrentRecordBuffer,
                static_cast<size_t>(std::min(FRecordManager->FRecordBufferSize, cursor->FRecordBufferSize)));
  TORVIndexPositionCache cache;
  const bool index_bitmap = bitmap && bitmap->IndexBased();
  for (;;) {
    InternalGetRecordBuffer(session, nav, &cache, FRecordManager->FTableState);
    if (nav.GetRecordResult != grrOK) return false;
    if (!IsRecordMatchConditions(cursor, *Request.Conditions, Request.ScanConditionNo, Request.ScanEndConditionNo,
                                 RecordBuffer, nav.RecordID))
      continue;
    if (bitmap) {
      if (index_bitmap)
        bitmap->ShowRecord(cursor->FIndexID, *cache.Position);
      else
        bitmap->ShowRecord(nav.RecordID);
    }
    if (!Request.ForceFillWholeBitmap) {
      *Request.ResultRecordID = nav.RecordID;
      return true;
    }
  }
}

bool TORVTableData::FindRecordByScanWithConditionAndConditionIndex(const ScanRequest& Request, void* RecordBuffer) {
  TORVCursor* cursor = Request.Cursor;
  const int32_t session = SessionOf(cursor);
  TORVScanSearchConditionArray& conditions = *Request.Conditions;
  const int32_t start_no = Request.ScanConditionNo;
  const int32_t end_no = Request.ScanEndConditionNo;
  TORVPageItemID id = cursor->CurrentRecordID;
  // The index continues from the key of the cursor's record.
  if (!Request.Restart && !ReadRecord(session, id, RecordBuffer)) return false;
  TORVIndex* index = FIndexManager->OpenIndex(cursor->FIndexID);
  IndexSearchInfo info(*index);
  const bool check = NeedToCheckOtherConditions(cursor, conditions, start_no, end_no);
  bool restart = Request.Restart;
  for (;;) {
    const bool found = index->FindRecord(session, restart, Request.GoForward, &conditions[start_no],
                                         end_no == -1 ? nullptr : &conditions[end_no], RecordBuffer, id, info.get());
    restart = false;
    if (!found) return false;
    bool match = true;
    if (check)
      match = ReadRecord(session, id, RecordBuffer) &&
              IsRecordMatchConditions(cursor, conditions, start_no, end_no, RecordBuffer, id);
    if (!match) continue;
    if (Request.RecordBitmap && Request.ForceFillWholeBitmap)
      Request.RecordBitmap->ShowRecord(cursor->FIndexID, index->GetSearchInfoPosition(info.get()));
    if (!Request.ForceFillWholeBitmap) {
      *Request.ResultRecordID = id;
      return true;
    }
  }
}

bool TORVTableData::FindRecordByScanWithConditionAndWihtoutCurrentIndex(const ScanRequest& Request,
                                                                       void* RecordBuffer) {
  TORVCursor* cursor = Request.Cursor;
  const int32_t session = SessionOf(cursor);
  TORVScanSearchConditionArray& conditions = *Request.Conditions;
  const int32_t start_no = Request.ScanConditionNo;
  const int32_t end_no = Request.ScanEndConditionNo;
  TORVScanSearchCondition& start = conditions[start_no];
  TORVIndex* index = FIndexManager->OpenIndex(start.IndexID);
  const TORVIndexDef* def = index->IndexDef();
  // Equal keys of a one-column index lie in the order of their records: the first match met
  // is then also the nearest one in physical order.
  const bool one_key_in_record_order = start.Condition == scEqual && !start.PartialCompare && def &&
                                       def->ColumnCount() == 1;
  const bool may_return_first = one_key_in_record_order;
  const TORVPageItemID current = cursor->CurrentRecordID;
  TORVPageItemID id = current;
  bool restart_index = true;
  // Continuing, the walk may start at the cursor's own entry when it is one of the range.
  if (!Request.Restart && one_key_in_record_order && ReadRecord(session, current, RecordBuffer) &&
      IsRecordMatchCondition(start, RecordBuffer))
    restart_index = false;
  // The bitmap takes marks only when set up for this search: filled whole, or walked whole
  // from the start.
  TORVRecordBitmap* bitmap = Request.Restart || Request.ForceFillWholeBitmap ? Request.RecordBitmap : nullptr;
  if (Request.Restart && bitmap) ResetBitmapForSearch(*bitmap, -1, session);
  const bool check = NeedToCheckOtherConditions(cursor, conditions, start_no, end_no);
  IndexSearchInfo info(*index);
  bool have = false;
  TORVPageItemID best;
  for (;;) {
    const bool found = index->FindRecord(session, restart_index, Request.GoForward, &start,
                                         end_no == -1 ? nullptr : &conditions[end_no], RecordBuffer, id, info.get());
    restart_index = false;
    if (!found) break;
    bool match = true;
    if (check)
      match = ReadRecord(session, id, RecordBuffer) &&
              IsRecordMatchConditions(cursor, conditions, start_no, end_no, RecordBuffer, id);
    if (!match) continue;
    if (bitmap) bitmap->ShowRecord(id);
    if (Request.ForceFillWholeBitmap) continue;
    const auto earlier = [&](const TORVPageItemID& a, const TORVPageItemID& b) {
      const int32_t c = FRecordManager->CompareRecordID(a, b);
      return Request.GoForward ? c < 0 : c > 0;
    };
    if (!Request.Restart && !earlier(current, id)) continue;  // not beyond the cursor's record
    if (!have || earlier(id, best)) {
      best = id;
      have = true;
    }
    if (may_return_first) break;
  }
  if (Request.Restart && bitmap && !Request.ForceFillWholeBitmap && !may_return_first) bitmap->FActive = true;
  if (have) *Request.ResultRecordID = best;
  return have;
}

bool TORVTableData::FindRecordByScanWithConditionAndNonConditionIndex(const ScanRequest& Request,
                                                                     void* RecordBuffer) {
  TORVCursor* cursor = Request.Cursor;
  const int32_t session = SessionOf(cursor);
  TORVScanSearchConditionArray& conditions = *Request.Conditions;
  const int32_t start_no = Request.ScanConditionNo;
  const int32_t end_no = Request.ScanEndConditionNo;
  const int32_t cursor_index_id = cursor->FIndexID;
  TORVIndex* cursor_index = FIndexManager->OpenIndex(cursor_index_id);
  IndexPosition current(*cursor_index);
  const TORVPageItemID current_id = cursor->CurrentRecordID;
  const auto lost = [&](int32_t code) {
    return EORVException(code, "Cannot find record position in index %d, RecordID = %d %d",
                         {cursor_index_id, current_id.PageNo, current_id.PageItemNo});
  };
  if (!Request.Restart) {
    TORVNavigationInfo nav;
    nav.GetRecordMode = grmCurrent;
    nav.RecordID = current_id;
    nav.RecordBuffer = RecordBuffer;
    InternalGetRecordBuffer(session, nav, nullptr, -1);
    if (nav.GetRecordResult != grrOK) throw lost(10387);
    if (!(nav.RecordID == current_id)) throw lost(10415);
    if (!cursor_index->GetIndexPosition(session, current_id, RecordBuffer, current.get())) throw lost(10386);
    TORVPageItemID at;
    cursor_index->GetRecordIDByIndexPosition(session, *current, at);
    if (!(at == current_id)) throw lost(10414);
  }
  TORVRecordBitmap* bitmap = Request.Restart || Request.ForceFillWholeBitmap ? Request.RecordBitmap : nullptr;
  if (Request.Restart && bitmap) ResetBitmapForSearch(*bitmap, cursor_index_id, session);
  TORVIndex* range_index = FIndexManager->OpenIndex(conditions[start_no].IndexID);
  IndexSearchInfo info(*range_index);
  IndexPosition position(*cursor_index);
  IndexPosition best(*cursor_index);
  TORVPageItemID best_id;
  bool have = false;
  TORVPageItemID id = current_id;
  bool restart_index = true;
  for (;;) {
    const bool found = range_index->FindRecord(session, restart_index, Request.GoForward, &conditions[start_no],
                                               end_no == -1 ? nullptr : &conditions[end_no], RecordBuffer, id,
                                               info.get());
    restart_index = false;
    if (!found) break;
    if (!ReadRecord(session, id, RecordBuffer) ||
        !IsRecordMatchConditions(cursor, conditions, start_no, end_no, RecordBuffer, id))
      continue;
    if (!cursor_index->GetIndexPosition(session, id, RecordBuffer, position.get()))
      throw EORVException(10432, "Cannot find record position in index %d, RecordID = %d %d",
                          {cursor_index_id, id.PageNo, id.PageItemNo});
    if (bitmap) bitmap->ShowRecord(cursor_index_id, *position);
    if (Request.ForceFillWholeBitmap) continue;
    const auto earlier = [&](const TORVKeyPath& a, const TORVKeyPath& b) {
      const int32_t c = cursor_index->CompareRecordPositionsInIndex(&a, &b);
      return Request.GoForward ? c < 0 : c > 0;
    };
    if (!Request.Restart && !earlier(*current, *position)) continue;
    if (!have || earlier(*position, *best)) {
      (*best).Assign(*position);
      best_id = id;
      have = true;
    }
  }
  if (Request.Restart && bitmap && !Request.ForceFillWholeBitmap) bitmap->FActive = true;
  if (have) *Request.ResultRecordID = best_id;
  return have;
}

bool TORVTableData::FindRecordByBitmapScan(TORVCursor* Cursor, bool Restart, bool GoForward,
                                           TORVPageItemID& ResultRecordID, TORVRecordBitmap& RecordBitmap) {
  const int32_t session = SessionOf(Cursor);
  if (!RecordBitmap.IndexBased())
    return RecordBitmap.FindRecord(Restart, GoForward, Cursor->CurrentRecordID, ResultRecordID);
  const int32_t index_id = Cursor->FIndexID;
  TORVIndex* index = FIndexManager->OpenIndex(index_id);
  IndexPosition current(*index);
  IndexPosition found(*index);
  if (!Restart && !GetIndexPositionByRecordID(session, index_id, Cursor->CurrentRecordID, *current)) return false;
  if (!RecordBitmap.FindRecord(Restart, GoForward, Restart ? nullptr : current.get(), *found, index_id)) return false;
  GetRecordIDByIndexPosition(session, index_id, *found, ResultRecordID);
  return true;
}

// ---- The search ------------------------------------------------------------------------------------

bool TORVTableData::FindRecord(TORVCursor* Cursor, IORVExpression* SearchExpression,
                               TORVScanSearchCondition* KeyCondition, bool Restart, bool GoForward,
                               TORVPageItemID* ResultRecordID, TORVRecordBitmap* RecordBitmap,
                               bool ForceFillWholeBitmap) {
  Guard guard(*this);
  if (!FRecordManager || FRecordManager->FRecordCount == 0) return false;
  const int32_t session = SessionOf(Cursor);
  TORVPageItemID local;
  TORVPageItemID& result = ResultRecordID ? *ResultRecordID : local;
  if (RecordBitmap && (ForceFillWholeBitmap || RecordBitmap->GetOutdated()))
    ResetBitmapForSearch(*RecordBitmap, Cursor->FIndexID, session);
  if (RecordBitmap && RecordBitmap->FActive) return FindRecordByBitmapScan(Cursor, Restart, GoForward, result, *RecordBitmap);

  bool found = false;
  {
    TORVScanSearchConditionArray conditions;
    PrepareConditions(Cursor, conditions, KeyCondition, SearchExpression, GoForward);
    conditions.CreateIndexScanConditionsFromExpressions(FIndexManager->FIndexDefs, session);
    bool incompatible = false;
    OptimizeSearchConditions(conditions, incompatible);
    // Conditions that exclude each other find nothing, and a bitmap filled for them is complete
    // as it is: empty.
    if (!incompatible) {
      int32_t scan = -1;
      int32_t end = -1;
      ChooseScanConditions(Cursor, conditions, Restart, GoForward, scan, end);
      conditions.RemoveUnusedConditionsCreatedFromExpressions(scan, end);
      conditions.ExtractChosenConditionsFromExpressions(scan, end);
      const ScanRequest request{Cursor, &conditions, scan, end, Restart, GoForward, &result, RecordBitmap,
                                ForceFillWholeBitmap};
      try {
        found = FindRecordByScan(request);
      } catch (...) {
        conditions.ReturnExtractedConditionsToExpressions(scan, end);
        throw;
      }
      conditions.ReturnExtractedConditionsToExpressions(scan, end);
    }
  }
  if (RecordBitmap && ForceFillWholeBitmap) RecordBitmap->FActive = true;
  if (Restart && RecordBitmap && RecordBitmap->FActive && Cursor->IsDistinctApplied() && Cursor->IsIndexApplied())
    FIndexManager->OpenIndex(Cursor->FIndexID)
        ->ApplyDistinctToRecordBitmap(session, RecordBitmap, Cursor->FDistinctFieldCount);
  return found;
}

}  // namespace orv

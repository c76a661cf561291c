#include "dbengine/storage/orv_base_engine_bitmap.h"

#include <algorithm>

#include "dbengine/storage/orv_base_engine_table.h"
#include "dbengine/storage/orv_except.h"

namespace orv {

TORVRecordBitmap::TORVRecordBitmap(TORVTableData* aTableData) : FTableData(aTableData) {
  if (!aTableData) throw EORVException(10425, "Nil pointer occured");
}

void TORVRecordBitmap::SetSize(int64_t NewSize) {
  if (NewSize > MaxBits) throw EORVException(10431, "Record bitmap cannot hold %d bits", {NewSize});
  FBitmap.SetSize(static_cast<int32_t>(std::max<int64_t>(NewSize, 0)));
}

bool TORVRecordBitmap::GetOutdated() const {
  const TORVBaseRecordManager* records = FTableData->FRecordManager.get();
  return FTableState != (records ? records->FTableState : -1);
}

void TORVRecordBitmap::Clear() {
  FActive = false;
  FBitmap.SetSize(0);
}

int64_t TORVRecordBitmap::RecNoOfBit(int64_t BitNo) const {
  if (BitNo < 0 || BitNo >= GetSize()) return -1;
  return static_cast<int64_t>(FBitmap.GetBitPositionByBitNo(static_cast<int32_t>(BitNo))) + 1;
}

int64_t TORVRecordBitmap::GetRecNoByRecordID(const TORVPageItemID& RecordID) {
  return RecNoOfBit(FTableData->GetBitmapRecNoByRecordID(RecordID));
}

int64_t TORVRecordBitmap::GetRecNoByIndexPos(int32_t IndexID, const TORVKeyPath& IndexPos) {
  return RecNoOfBit(FTableData->GetBitmapRecNoByIndexPosition(IndexID, IndexPos));
}

namespace {

// The bit of the RecNo-th set bit (10428 outside 1 .. the set bits).
int32_t BitOfRecNo(const TORVBitsArray& bits, int64_t RecNo) {
  if (RecNo < 1 || RecNo > bits.NonZeroBitCount())
    throw EORVException(10428, "Invalid bit no = %d, number of bits = %d", {RecNo - 1, bits.NonZeroBitCount()});
  return bits.GetBitNoByBitPosition(static_cast<int32_t>(RecNo - 1));
}

}  // namespace

TORVPageItemID TORVRecordBitmap::GetRecordIDByRecNo(int64_t RecNo) {
  return FTableData->GetRecordIDByBitmapRecNo(BitOfRecNo(FBitmap, RecNo));
}

void TORVRecordBitmap::GetIndexPosByRecNo(int32_t IndexID, int64_t RecNo, TORVKeyPath& IndexPos) {
  FTableData->GetIndexPositionByBitmapRecNo(IndexID, BitOfRecNo(FBitmap, RecNo), IndexPos);
}

bool TORVRecordBitmap::IsRecordVisible(const TORVPageItemID& RecordID) {
  const int64_t bit = FTableData->GetBitmapRecNoByRecordID(RecordID);
  return bit >= 0 && bit < GetSize() && FBitmap.GetBit(static_cast<int32_t>(bit));
}

bool TORVRecordBitmap::IsRecordVisible(int32_t IndexID, const TORVKeyPath& IndexPos) {
  const int64_t bit = FTableData->GetBitmapRecNoByIndexPosition(IndexID, IndexPos);
  return bit >= 0 && bit < GetSize() && FBitmap.GetBit(static_cast<int32_t>(bit));
}

void TORVRecordBitmap::SetBit(int64_t BitNo, bool Value) {
  if (BitNo < 0 || BitNo >= MaxBits) throw EORVException(10430, "Record bitmap cannot hold bit no = %d", {BitNo});
  if (BitNo >= GetSize()) SetSize(BitNo + 1);
  FBitmap.SetBit(static_cast<int32_t>(BitNo), Value);
}

void TORVRecordBitmap::ShowRecord(const TORVPageItemID& RecordID) {
  // Record ids do not number the bits of an index-based bitmap: it is rebuilt instead.
  if (FIndexBased) {
    Clear();
    return;
  }
  SetBit(FTableData->GetBitmapRecNoByRecordID(RecordID), true);
}

void TORVRecordBitmap::HideRecord(const TORVPageItemID& RecordID) {
  if (FIndexBased) {
    Clear();
    return;
  }
  SetBit(FTableData->GetBitmapRecNoByRecordID(RecordID), false);
}

void TORVRecordBitmap::ShowRecord(int32_t IndexID, const TORVKeyPath& IndexPos) {
  SetBit(FTableData->GetBitmapRecNoByIndexPosition(IndexID, IndexPos), true);
}

void TORVRecordBitmap::HideRecord(int32_t IndexID, const TORVKeyPath& IndexPos) {
  SetBit(FTableData->GetBitmapRecNoByIndexPosition(IndexID, IndexPos), false);
}

bool TORVRecordBitmap::Step(bool Restart, bool GoForward, int64_t CurBitNo, int64_t& FoundBitNo) const {
  int32_t found = 0;
  bool ok;
  if (Restart) {
    ok = FBitmap.Find(true, GoForward, 0, found);
  } else if (CurBitNo >= GetSize()) {
    // Every bit lies before a position beyond the end.
    ok = !GoForward && FBitmap.Find(true, false, 0, found);
  } else if (CurBitNo < 0) {
    ok = GoForward && FBitmap.Find(true, true, 0, found);
  } else {
    ok = FBitmap.Find(false, GoForward, static_cast<int32_t>(CurBitNo), found);
  }
  if (ok) FoundBitNo = found;
  return ok;
}

bool TORVRecordBitmap::FindRecord(bool Restart, bool GoForward, const TORVPageItemID& CurRecordID,
                                  TORVPageItemID& FoundRecordID) {
  const int64_t current = Restart ? 0 : FTableData->GetBitmapRecNoByRecordID(CurRecordID);
  int64_t found = 0;
  if (!Step(Restart, GoForward, current, found)) return false;
  FoundRecordID = FTableData->GetRecordIDByBitmapRecNo(found);
  return true;
}

bool TORVRecordBitmap::FindRecord(bool Restart, bool GoForward, const TORVKeyPath* CurIndexPos,
                                  TORVKeyPath& FoundRecordIndexPos, int32_t IndexID) {
  const bool restart = Restart || !CurIndexPos;
  const int64_t current = restart ? 0 : FTableData->GetBitmapRecNoByIndexPosition(IndexID, *CurIndexPos);
  int64_t found = 0;
  if (!Step(restart, GoForward, current, found)) return false;
  FTableData->GetIndexPositionByBitmapRecNo(IndexID, found, FoundRecordIndexPos);
  return true;
}

}  // namespace orv

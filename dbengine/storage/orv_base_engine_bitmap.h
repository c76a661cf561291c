#pragma once
// Which records a cursor can see when a filter, a range or DISTINCT restricts its view: one
// bit per record, numbered by the storage kind's record numbering (a record-id bitmap) or by
// the position in the cursor's index (an index-based bitmap). Counting, numbering and
// stepping then need no record reads.
#include <cstdint>

#include "dbengine/storage/orv_base_index.h"
#include "dbengine/storage/orv_types.h"

namespace orv {

class TORVTableData;

class TORVRecordBitmap : public IORVIndexRecordBitmap {
 public:
  // The most bits the bit array can hold. Index positions are numbered as digits of base
  // (entries per page + 1), so a deep index yields numbers far beyond this; such a number
  // raises 10430 rather than wrapping onto another record's bit.
  static constexpr int64_t MaxBits = 0x7FFFFFF8;

  // Nil: 10425. Empty, inactive, record-id based, stamped -1.
  explicit TORVRecordBitmap(TORVTableData* aTableData);

  int64_t GetSize() const { return FBitmap.BitCount(); }
  // Beyond MaxBits: 10431.
  void SetSize(int64_t NewSize);
  // The stamp differs from the table's record state.
  bool GetOutdated() const;
  int64_t GetRecordCount() const { return FBitmap.NonZeroBitCount(); }
  bool IndexBased() const { return FIndexBased; }

  // The 1-based rank of the record among the visible ones (of the nearest visible one
  // before it when it is hidden, 0 when none); -1 beyond the bitmap.
  int64_t GetRecNoByRecordID(const TORVPageItemID& RecordID);
  int64_t GetRecNoByIndexPos(int32_t IndexID, const TORVKeyPath& IndexPos);
  // The record of a 1-based rank; beyond the visible records: 10428.
  TORVPageItemID GetRecordIDByRecNo(int64_t RecNo);
  void GetIndexPosByRecNo(int32_t IndexID, int64_t RecNo, TORVKeyPath& IndexPos);
  bool IsRecordVisible(const TORVPageItemID& RecordID);
  bool IsRecordVisible(int32_t IndexID, const TORVKeyPath& IndexPos) override;
  // By record id: an index-based bitmap is cleared instead (rebuilt at its next use); the
  // bitmap grows to take a record beyond its end.
  void ShowRecord(const TORVPageItemID& RecordID);
  void ShowRecord(int32_t IndexID, const TORVKeyPath& IndexPos);
  void HideRecord(const TORVPageItemID& RecordID);
  void HideRecord(int32_t IndexID, const TORVKeyPath& IndexPos) override;
  void SetAllBits() { FBitmap.SetAllBits(); }
  // Inactive, no bits.
  void Clear();
  // The next visible record forward or backward (with Restart from the first or last).
  bool FindRecord(bool Restart, bool GoForward, const TORVPageItemID& CurRecordID, TORVPageItemID& FoundRecordID);
  bool FindRecord(bool Restart, bool GoForward, const TORVKeyPath* CurIndexPos, TORVKeyPath& FoundRecordIndexPos,
                  int32_t IndexID);

  TORVBitsArray FBitmap;
  TORVTableData* FTableData;  // borrowed
  bool FActive = false;       // holds the complete visible set and may answer alone
  bool FIndexBased = false;
  int32_t FTableState = -1;

 private:
  void SetBit(int64_t BitNo, bool Value);
  bool Step(bool Restart, bool GoForward, int64_t CurBitNo, int64_t& FoundBitNo) const;
  int64_t RecNoOfBit(int64_t BitNo) const;
};

}  // namespace orv

#pragma once
// The field definitions of one table and what the table layer does field by field: the
// memory and disk forms of a record, record comparison, default values, and the
// autoincrement counters with each session's last value.
#include <cstdint>
#include <span>
#include <vector>

#include "dbengine/storage/orv_base_defs.h"
#include "platform/base/stream.h"

namespace orv {

class TORVBaseSession;
class TORVTableData;

class TORVBaseFieldManager {
 public:
  explicit TORVBaseFieldManager(TORVTableData* TableData);
  virtual ~TORVBaseFieldManager() = default;
  TORVBaseFieldManager(const TORVBaseFieldManager&) = delete;
  TORVBaseFieldManager& operator=(const TORVBaseFieldManager&) = delete;

  // Advances the table's counter of the field and returns the new value. FieldNo beyond
  // the fields: 30402, beyond the counters: 30403. The counter may not leave the field's
  // type nor pass AutoincMaxValue (0: no maximum), and an overflow of 64 bits counts as
  // passing it: a cycling field restarts at AutoincMinValue, any other raises 20160.
  virtual int64_t GetNextAutoincVal(int32_t FieldNo);
  // Writes the default values (constants or expressions) into a new memory record.
  virtual void ApplyDefaultValuesToRecordBuffer(TORVBaseSession* Session, void* RecordBuffer);
  // Fills every NULL autoincrement field of a record about to be inserted; an explicit value
  // moves the counter when it lies beyond it.
  virtual void ApplyAutoincsToRecordBuffer(TORVBaseSession* Session, void* RecordBuffer);
  // GetNextAutoincVal, remembered as the session's last value of the field.
  virtual int64_t GetNextAutoinc(TORVBaseSession* Session, int32_t FieldNo);
  // The session's last value; a multi-user session that has none: 30012; otherwise the
  // table's counter (0 for a field that is not autoincrement).
  virtual int64_t GetLastAutoinc(TORVBaseSession* Session, int32_t FieldNo);

  void LoadMetadata(platform::TStream& Stream);
  void SaveMetadata(platform::TStream& Stream) const;
  // The counters block: Int32 n, then n Int64 values (little-endian), at Buf + Offset;
  // Offset moves past it. A block that does not fit Buf: 10433.
  void LoadMostUpdated(std::span<const uint8_t> Buf, int32_t& Offset);
  void SaveMostUpdated(std::span<uint8_t> Buf, int32_t& Offset) const;
  int32_t MostUpdatedSize() const { return 4 + 8 * static_cast<int32_t>(FLastAutoIncValues.size()); }
  void RecalcFieldOffsets() { FFieldDefs.RecalcFieldOffsets(); }
  void InitLastAutoIncValues();
  void DiskRecordBufferToMemRecordBuffer(const void* DiskRecordBuffer, void* MemRecordBuffer) const;
  void MemRecordBufferToDiskRecordBuffer(const void* MemRecordBuffer, void* DiskRecordBuffer) const;
  // Equal null flags and equal stored bytes of every field (a BLOB field over its stored
  // reference only).
  bool CompareRecordBuffers(const void* RecordBuffer1, const void* RecordBuffer2) const;
  // Whether a BLOB field exists; the first one with block size 0 raises 10421.
  bool BlobFieldsPresent() const;
  void UpdateLastAutoinc(TORVBaseSession* Session, int32_t FieldNo, int64_t InsertedValue);
  int32_t NullFlagsSize() const { return (FFieldDefs.GetCount() + 7) / 8; }

  TORVFieldDefs FFieldDefs;
  TORVTableData* FTableData;  // borrowed
  std::vector<int64_t> FLastAutoIncValues;  // one per field: the last value handed out or stored

 private:
  void SetSessionLastValue(TORVBaseSession* Session, int32_t FieldNo, int64_t Value);
};

}  // namespace orv

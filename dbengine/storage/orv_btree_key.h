#pragma once
// B-tree keys: how a key is laid out, how it is made from a record and how two keys
// compare. A record key is made of the index columns of a table record, as a short key
// (stored in index pages, long values cut) or a full key (in memory only, every value
// whole); a page key is a 4-byte page number.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dbengine/storage/orv_const.h"
#include "dbengine/storage/orv_types.h"

namespace orv {

// One index column inside a record key.
struct TORVKeyPart {
  int32_t OffsetInShortKeyBuffer = 0;
  int32_t OffsetInFullKeyBuffer = 0;
  int32_t OffsetInRecordBuffer = 0;  // the column's offset in a memory record buffer
  int32_t FieldNo = 0;               // the column's field number (its null bit)
  int32_t ShortSize = 0;             // bytes in the short key, null flag included
  int32_t FullSize = 0;              // bytes in the full key, null flag included
  int32_t AddedSize = 0;             // 2 when the value is cut in the short key
  TORVBaseFieldType DataType = bftUnknown;
  bool Descending = false;
  bool CaseInsensitive = false;
};

class TORVBTreeKeyRef {
 public:
  TORVBTreeKeyRef() = default;
  virtual ~TORVBTreeKeyRef() = default;
  TORVBTreeKeyRef(const TORVBTreeKeyRef&) = delete;
  TORVBTreeKeyRef& operator=(const TORVBTreeKeyRef&) = delete;

  int32_t GetPartCount() const { return static_cast<int32_t>(Parts.size()); }
  virtual void SetPartCount(int32_t Value) { Parts.resize(static_cast<size_t>(Value)); }

  // Zeroed key buffers from the engine's memory manager (zero is what the cut parts' added
  // bytes must hold).
  void* AllocShortKeyBuffer() const;
  void* AllocFullKeyBuffer() const;
  void FreeAndNilKeyBuffer(void*& Buffer) const;

  // Negative, zero or positive as Key1 sorts before, with or after Key2; the references are
  // the two keys' record ids (or nil).
  virtual int32_t CompareShortKeys(const void* KeyBuffer1, const void* KeyBuffer2, bool MayUseFullKeys,
                                   int32_t SessionID, const void* Reference1, const void* Reference2) = 0;
  virtual int32_t CompareFullKeys(const void* KeyBuffer1, const void* KeyBuffer2) = 0;
  // Size 6: record ids (PageNo signed, then PageItemNo unsigned); otherwise byte by byte.
  static int32_t CompareReferences(const void* Reference1, const void* Reference2, int32_t Size);

  int32_t FShortKeySize = 0;
  int32_t FFullKeySize = 0;
  uint16_t FReferenceSize = 0;
  int32_t FCompareFieldCount = 0;
  std::vector<TORVKeyPart> Parts;
};

// An index column as a record key needs it.
struct TORVKeyColumn {
  std::string FieldName;
  bool Descending = false;
  bool CaseInsensitive = false;
  int32_t MaxIndexedSize = DEFAULT_MAX_INDEXED_SIZE;  // bytes of a text value kept in a short key
};

// A field of the indexed table as a record key needs it.
struct TORVKeyFieldInfo {
  TORVBaseFieldType BaseFieldType = bftUnknown;
  int32_t MemoryDataSize = 0;
  int32_t MemoryOffset = 0;
  int32_t FieldNo = 0;
};

// What a record key needs of the table whose records it indexes: its field definitions and
// a way to read a stored record. The table layer implements it.
class IORVKeyTable {
 public:
  virtual ~IORVKeyTable() = default;
  virtual bool HasFieldDefs() const = 0;
  // The field of that name (without regard to case); False when there is none.
  virtual bool FindKeyField(std::string_view FieldName, TORVKeyFieldInfo& Info) const = 0;
  virtual int32_t GetMemoryRecordBufferSize() const = 0;
  // Reads the record NavigationInfo.RecordID into NavigationInfo.RecordBuffer (mode
  // grmCurrent) and sets NavigationInfo.GetRecordResult.
  virtual void GetRecordBuffer(int32_t SessionID, TORVNavigationInfo& NavigationInfo) = 0;
};

class TORVRecordKeyRef : public TORVBTreeKeyRef {
 public:
  void SetPartCount(int32_t Value) override;
  // Builds the parts from the index columns. No table: 20044; no field defs: 20045; a
  // column without a field: 20043; a BLOB column: 20295.
  void Assign(const std::vector<TORVKeyColumn>& Columns, IORVKeyTable* aTableData);
  void MakeShortKeyFromRecordBuffer(const void* RecordBuffer, void* KeyBuffer);
  void MakeFullKeyFromRecordBuffer(const void* RecordBuffer, void* KeyBuffer) const;
  int32_t CompareShortKeys(const void* KeyBuffer1, const void* KeyBuffer2, bool MayUseFullKeys, int32_t SessionID,
                           const void* Reference1, const void* Reference2) override;
  int32_t CompareFullKeys(const void* KeyBuffer1, const void* KeyBuffer2) override;
  // For a search whose text values are prefixes: each text part compares only as many
  // characters as the search value has.
  void SetPartialCompare(const void* RecordBuffer, bool PartialCompare);
  // The full key of a stored record; a record that cannot be read: 20170.
  void RetrieveFullKeyByRecordID(const TORVPageItemID& RecordID, void* FullKey, int32_t SessionID);

  const void* LRecordBuffer = nullptr;  // the record of the last short key made
  IORVKeyTable* LTableData = nullptr;
  std::vector<int32_t> FCompareLengths;

 private:
  int32_t ComparePart(const TORVKeyPart& Part, int32_t PartNo, const uint8_t* Value1, const uint8_t* Value2,
                      bool Null1, bool Null2, int32_t ValueSize) const;
  int32_t CompareByFullKeys(const void* Reference1, const void* Reference2, int32_t SessionID);
};

// A page number as key: 4 bytes, little-endian signed; the reference is a 16-bit value.
class TORVPageKeyRef : public TORVBTreeKeyRef {
 public:
  TORVPageKeyRef();
  int32_t CompareShortKeys(const void* KeyBuffer1, const void* KeyBuffer2, bool MayUseFullKeys, int32_t SessionID,
                           const void* Reference1, const void* Reference2) override;
  int32_t CompareFullKeys(const void* KeyBuffer1, const void* KeyBuffer2) override;
};

}  // namespace orv

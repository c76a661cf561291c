#pragma once
// The shared vocabulary of the storage engine. Records that are stored byte for byte are
// written and read field by field in little-endian order, never by casting memory.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dbengine/storage/orv_btree_key_path.h"
#include "platform/base/byte_order.h"
#include "platform/base/stream.h"

namespace orv {

// The storage types of values, stored as one byte.
enum TORVBaseFieldType : uint8_t {
  bftUnknown = 0,
  bftChar = 1,
  bftWideChar = 2,
  bftVarchar = 3,
  bftWideVarchar = 4,
  bftSignedInt8 = 5,
  bftSignedInt16 = 6,
  bftSignedInt32 = 7,
  bftSignedInt64 = 8,
  bftUnsignedInt8 = 9,
  bftUnsignedInt16 = 10,
  bftUnsignedInt32 = 11,
  bftSingle = 12,
  bftDouble = 13,
  bftExtended = 14,
  bftDate = 15,
  bftTime = 16,
  bftDateTime = 17,
  bftBlob = 18,
  bftClob = 19,
  bftWideClob = 20,
  bftLogical = 21,
  bftCurrency = 22,
  bftBytes = 23,
  bftVarBytes = 24,
  bftBFile = 25,
};

// The column types seen by users and the SQL layer, stored as one byte; each maps to a
// storage type through the SQL type table (orv_converts.h).
enum TORVAdvancedFieldType : uint8_t {
  aftUnknown, aftChar, aftString, aftWideChar, aftWideString, aftShortint, aftSmallint, aftInteger,
  aftLargeint, aftByte, aftWord, aftCardinal, aftAutoInc, aftAutoIncShortint, aftAutoIncSmallint,
  aftAutoIncInteger, aftAutoIncLargeint, aftAutoIncByte, aftAutoIncWord, aftAutoIncCardinal, aftSingle,
  aftDouble, aftExtended, aftBoolean, aftCurrency, aftDate, aftTime, aftDateTime, aftTimeStamp, aftBytes,
  aftVarBytes, aftBlob, aftGraphic, aftMemo, aftFormattedMemo, aftWideMemo, aftGuid,
};

// Stored records are little-endian, field by field.
using platform::LoadLE16;
using platform::LoadLE32;
using platform::LoadLE64;
using platform::StoreLE16;
using platform::StoreLE32;
using platform::StoreLE64;

// The header in front of each block of a compressed BLOB, 20 bytes in the underlying stream:
// CompressedSize int32, UncompressedSize int32, Crc32 uint32, OffsetToNextHeader int64.
struct TORVCompressedStreamBlockHeader {
  static constexpr int32_t StoredSize = 20;

  int32_t CompressedSize = 0;
  int32_t UncompressedSize = 0;
  uint32_t Crc32 = 0;
  int64_t OffsetToNextHeader = 0;

  void WriteTo(uint8_t* p) const {
    StoreLE32(p, static_cast<uint32_t>(CompressedSize));
    StoreLE32(p + 4, static_cast<uint32_t>(UncompressedSize));
    StoreLE32(p + 8, Crc32);
    StoreLE64(p + 12, static_cast<uint64_t>(OffsetToNextHeader));
  }
  static TORVCompressedStreamBlockHeader ReadFrom(const uint8_t* p) {
    TORVCompressedStreamBlockHeader h;
    h.CompressedSize = static_cast<int32_t>(LoadLE32(p));
    h.UncompressedSize = static_cast<int32_t>(LoadLE32(p + 4));
    h.Crc32 = LoadLE32(p + 8);
    h.OffsetToNextHeader = static_cast<int64_t>(LoadLE64(p + 12));
    return h;
  }
};

// Where and how one BLOB is stored; created and kept by the table layers, read and updated
// by the compressed BLOB stream. Stored packed in 32 bytes in this field order.
struct TORVBLOBDescriptor {
  static constexpr int32_t StoredSize = 32;

  int32_t BlockSize = 0;         // uncompressed bytes per block
  int64_t NumBlocks = 0;
  int64_t UncompressedSize = 0;  // the BLOB's length
  int64_t StartPosition = 0;     // where the BLOB begins in the underlying stream
  uint8_t CompressionAlgorithm = 0;
  uint8_t CompressionMode = 0;
  uint8_t Reserved[2] = {0, 0};

  void WriteTo(uint8_t* p) const {
    StoreLE32(p, static_cast<uint32_t>(BlockSize));
    StoreLE64(p + 4, static_cast<uint64_t>(NumBlocks));
    StoreLE64(p + 12, static_cast<uint64_t>(UncompressedSize));
    StoreLE64(p + 20, static_cast<uint64_t>(StartPosition));
    p[28] = CompressionAlgorithm;
    p[29] = CompressionMode;
    p[30] = Reserved[0];
    p[31] = Reserved[1];
  }
  static TORVBLOBDescriptor ReadFrom(const uint8_t* p) {
    TORVBLOBDescriptor d;
    d.BlockSize = static_cast<int32_t>(LoadLE32(p));
    d.NumBlocks = static_cast<int64_t>(LoadLE64(p + 4));
    d.UncompressedSize = static_cast<int64_t>(LoadLE64(p + 12));
    d.StartPosition = static_cast<int64_t>(LoadLE64(p + 20));
    d.CompressionAlgorithm = p[28];
    d.CompressionMode = p[29];
    d.Reserved[0] = p[30];
    d.Reserved[1] = p[31];
    return d;
  }
};

// The block index of one compressed BLOB stream: the headers in block order with the
// underlying-stream position of each header.
class TORVCompressedStreamBlockHeadersArray {
 public:
  // Afterwards exactly NewSize entries exist; entries below NewSize keep their values, new
  // ones are zero. Negative sizes count as 0.
  void SetSize(int64_t NewSize);
  void AppendItem(const TORVCompressedStreamBlockHeader& Value, int64_t Position);
  // The number of the last block whose position is <= Pos; 0 when Pos lies before the first
  // entry or the array is empty.
  int32_t FindPosition(int64_t Pos) const;

  int64_t ItemCount() const { return static_cast<int64_t>(Items.size()); }

  std::vector<TORVCompressedStreamBlockHeader> Items;
  std::vector<int64_t> Positions;
};


// ---- Enumerations (ordinal values, stored as one byte) -----------------------------------
enum TORVGetRecordMode : uint8_t { grmCurrent, grmNext, grmPrior };
enum TORVGetRecordResult : uint8_t { grrOK, grrBOF, grrEOF, grrError };
enum TORVBLOBOpenMode : uint8_t { bomWrite, bomRead, bomReadWrite };
enum TORVDBFileType : uint8_t { dbftUnknown, dbftTablesList, dbftActiveSessionsList };
enum TORVLockType : uint8_t { ltIS, ltS, ltSIRW, ltXIRW, ltRW, ltU, ltX };
enum TORVLockObjectType : uint8_t { lotDatabase, lotTable, lotRecord };
enum TORVTablePageType : uint8_t { tptRowStart, tptRowContinue, tptVarchar, tptBLOB };
enum TORVShareMode : uint8_t { smExclusive, smShareDenyNone, smShareDenyWrite };
enum TORVAccessMode : uint8_t { amReadOnly, amReadWrite };
enum TORVJoinType : uint8_t { ajtCross, ajtInner, ajtLeftOuter, ajtRightOuter, ajtFullOuter };
enum TORVUnionType : uint8_t { autUnion, autIntersect, autExcept };
enum TORVTableType : uint8_t { attTable, attJoinedTable, attSubQuery };
enum TORVQueryExprType : uint8_t { qetSelect, qetUnion, qetExcept, qetIntersect };
enum TORVBatchMoveType : uint8_t { bmtAppend, bmtAppendUpdate, bmtCopy, bmtDelete, bmtUpdate, bmtSynchronize };
enum TORVConstraintType : uint8_t { ctPK, ctFK, ctUnique, ctNotNull, ctCheck };
enum TORVCompareResult : uint8_t { cmprEqual, cmprLower, cmprGreater, cmprLeftNull, cmprRightNull, cmprBothNull };
enum TORVBookmarkFlag : uint8_t { abfCurrent, abfBOF, abfEOF, abfInserted };
enum TORVKeyIndex : uint8_t { kiLookup, kiRangeStart, kiRangeEnd, kiCurRangeStart, kiCurRangeEnd, kiSave };
enum TORVSearchCondition : uint8_t { scNone, scEqual, scLower, scGreater, scLowerEqual, scGreaterEqual };
enum TORVKeySearchType : uint8_t { kstFirst, kstLast, kstAny };
enum TORVDateTimeExtractField : uint8_t { dtefYear, dtefMonth, dtefDay, dtefHour, dtefMinute, dtefSecond };

// The operators of expression nodes and scan conditions; the expression layer gives them
// their meaning.
enum TORVDataOperator : uint8_t {
  doUNDEFINED, doEQ, doNE, doGT, doLT, doGE, doLE, doNOT, doAND, doOR, doIN, doNOTIN, doEXISTS, doBETWEEN,
  doNOTBETWEEN, doLIKE, doNOTLIKE, doISNULL, doISNOTNULL, doTRUE, doFALSE, doADD, doSUB, doMUL, doDIV,
  doCONCAT, doUPPER, doLOWER, doTRIM, doLTRIM, doRTRIM, doLENGTH, doPOS, doSUBSTRING, doSUM, doAVG, doMIN,
  doMAX, doCOUNT, doCOUNTALL, doSYSDATE, doCURRENT_DATE, doCURRENT_TIME, doTODATE, doTOSTRING, doEXTRACT,
  doCAST, doLASTAUTOINC, doMIMETOBIN, doROWNUM, doABS, doACOS, doASIN, doATAN, doCEIL, doCOS, doEXP, doFLOOR,
  doLOG, doPOWER, doRAND, doROUND, doSIGN, doSIN, doSQR, doSQRT,
};

// Whether two sessions may hold these two table locks at the same time (symmetric).
inline constexpr bool LocksCompatible[7][7] = {
    // ltIS  ltS    ltSIRW ltXIRW ltRW   ltU    ltX
    {true, true, true, true, true, true, false},        // ltIS
    {true, true, true, true, false, true, false},       // ltS
    {true, true, true, false, true, true, false},       // ltSIRW
    {true, true, false, false, false, true, false},     // ltXIRW
    {true, false, true, false, false, true, false},     // ltRW
    {true, true, true, true, true, true, false},        // ltU
    {false, false, false, false, false, false, false},  // ltX
};

// ---- Small shared records -----------------------------------------------------------------

// A stored record's page and slot; PageNo -1 means no record. 6 bytes wherever it is stored.
struct TORVPageItemID {
  static constexpr int32_t StoredSize = 6;

  int32_t PageNo = -1;
  uint16_t PageItemNo = 0;

  void WriteTo(uint8_t* p) const {
    StoreLE32(p, static_cast<uint32_t>(PageNo));
    StoreLE16(p + 4, PageItemNo);
  }
  static TORVPageItemID ReadFrom(const uint8_t* p) {
    return {static_cast<int32_t>(LoadLE32(p)), LoadLE16(p + 4)};
  }
  bool operator==(const TORVPageItemID&) const = default;
};

struct TORVBookmarkInfo {
  TORVPageItemID BookmarkData;
  TORVBookmarkFlag BookmarkFlag = abfCurrent;
};

// One request to the table layer to fetch a record.
struct TORVNavigationInfo {
  TORVGetRecordMode GetRecordMode = grmCurrent;
  int32_t IndexID = -1;  // -1: physical order
  TORVPageItemID RecordID;
  void* RecordBuffer = nullptr;  // where to copy the record
  bool FirstPosition = false;    // the cursor stands before the first record
  bool LastPosition = false;     // ... after the last record
  TORVGetRecordResult GetRecordResult = grrOK;
};

struct TORVKeyBuffer {
  bool Modified = false;
  bool Exclusive = false;
  int32_t FieldCount = 0;
};

struct TORVTimeoutParams {
  uint16_t RetryCount = 0;
  int32_t Timeout = 0;
};

struct TORVSortSpecification {
  std::string TableName;   // 8-bit
  std::string ColumnName;  // 8-bit
  bool Descending = false;
};

// A date as a day number (693594 = 1899-12-30, 1 = 0001-01-01) and a time of day in
// milliseconds, in this order, 8 bytes.
struct TORVDateTime {
  static constexpr int32_t StoredSize = 8;

  int32_t Date = 0;
  int32_t Time = 0;

  void WriteTo(uint8_t* p) const {
    StoreLE32(p, static_cast<uint32_t>(Date));
    StoreLE32(p + 4, static_cast<uint32_t>(Time));
  }
  static TORVDateTime ReadFrom(const uint8_t* p) {
    return {static_cast<int32_t>(LoadLE32(p)), static_cast<int32_t>(LoadLE32(p + 4))};
  }
  bool operator==(const TORVDateTime&) const = default;
};

struct TORVPartialBLOBDescriptor {
  static constexpr int32_t StoredSize = 12;

  int32_t NumBlocks = 0;
  int64_t UncompressedSize = 0;

  void WriteTo(uint8_t* p) const {
    StoreLE32(p, static_cast<uint32_t>(NumBlocks));
    StoreLE64(p + 4, static_cast<uint64_t>(UncompressedSize));
  }
  static TORVPartialBLOBDescriptor ReadFrom(const uint8_t* p) {
    return {static_cast<int32_t>(LoadLE32(p)), static_cast<int64_t>(LoadLE64(p + 4))};
  }
};

// The direct-access form of a BLOB's stored image, 20 bytes packed.
struct TORVPartialTemporaryBLOBDescriptor {
  static constexpr int32_t StoredSize = 20;

  int32_t NumBlocks = 0;
  int64_t UncompressedSize = 0;
  int64_t CompressedSize = 0;

  void WriteTo(uint8_t* p) const {
    StoreLE32(p, static_cast<uint32_t>(NumBlocks));
    StoreLE64(p + 4, static_cast<uint64_t>(UncompressedSize));
    StoreLE64(p + 12, static_cast<uint64_t>(CompressedSize));
  }
  static TORVPartialTemporaryBLOBDescriptor ReadFrom(const uint8_t* p) {
    return {static_cast<int32_t>(LoadLE32(p)), static_cast<int64_t>(LoadLE64(p + 4)),
            static_cast<int64_t>(LoadLE64(p + 12))};
  }
};

// The header of a BLOB stored on the pages of a database file, 22 bytes packed: a small BLOB's
// id on its page (not used by a large BLOB), then the figures of its stored image.
struct TORVDiskBLOBHeader {
  static constexpr int32_t StoredSize = 22;

  uint16_t BlobID = 0;
  int32_t NumBlocks = 0;
  int64_t CompressedSize = 0;
  int64_t UncompressedSize = 0;

  void WriteTo(uint8_t* p) const {
    StoreLE16(p, BlobID);
    StoreLE32(p + 2, static_cast<uint32_t>(NumBlocks));
    StoreLE64(p + 6, static_cast<uint64_t>(CompressedSize));
    StoreLE64(p + 14, static_cast<uint64_t>(UncompressedSize));
  }
  static TORVDiskBLOBHeader ReadFrom(const uint8_t* p) {
    return {LoadLE16(p), static_cast<int32_t>(LoadLE32(p + 2)), static_cast<int64_t>(LoadLE64(p + 6)),
            static_cast<int64_t>(LoadLE64(p + 14))};
  }
};

// Where the page list of a large BLOB begins, 10 bytes packed.
struct TORVPageListLink {
  static constexpr int32_t StoredSize = 10;

  int32_t StartPageNo = -1;
  uint16_t StartOffset = 0;
  int32_t ItemCount = 0;

  void WriteTo(uint8_t* p) const {
    StoreLE32(p, static_cast<uint32_t>(StartPageNo));
    StoreLE16(p + 4, StartOffset);
    StoreLE32(p + 6, static_cast<uint32_t>(ItemCount));
  }
  static TORVPageListLink ReadFrom(const uint8_t* p) {
    return {static_cast<int32_t>(LoadLE32(p)), LoadLE16(p + 4), static_cast<int32_t>(LoadLE32(p + 6))};
  }
};

// ---- Null flags of record buffers and temporary names ------------------------------------

// Bit BitNo of the null-flag bytes at the start of a record buffer; set = the field is NULL.
inline bool CheckNullFlag(int32_t BitNo, const void* NullFlags) {
  return (static_cast<const uint8_t*>(NullFlags)[BitNo >> 3] >> (BitNo & 7)) & 1;
}
inline void SetNullFlag(bool ToSet, int32_t BitNo, void* NullFlags) {
  uint8_t& b = static_cast<uint8_t*>(NullFlags)[BitNo >> 3];
  const auto mask = static_cast<uint8_t>(1u << (BitNo & 7));
  b = ToSet ? static_cast<uint8_t>(b | mask) : static_cast<uint8_t>(b & ~mask);
}

// Prefix followed by a new GUID in its braced upper-case form (38 characters).
std::string GetTemporaryName(std::string_view Prefix);

// ---- TORVIntegerArray ---------------------------------------------------------------------

// A growable array of Int32 whose growth step doubles at each growth or shrink, up to a cap,
// so that appending many numbers costs few reallocations.
class TORVIntegerArray {
 public:
  explicit TORVIntegerArray(int32_t size = 0, int32_t DefaultAllocBy = 10, int32_t MaximumAllocBy = 100);

  void SetSize(int32_t newSize);
  void Assign(const TORVIntegerArray& v);
  void Append(int32_t value);
  void Insert(int32_t ItemNo, int32_t value);
  void Delete(int32_t ItemNo);
  void MoveTo(int32_t itemNo, int32_t newItemNo);
  void CopyTo(int32_t* ar, int32_t itemNo, int32_t iCount) const;
  bool IsValueExists(int32_t value) const { return IndexOf(value) >= 0; }
  int32_t IndexOf(int32_t value) const;

  int32_t& operator[](int32_t i) { return Items[static_cast<size_t>(i)]; }
  int32_t operator[](int32_t i) const { return Items[static_cast<size_t>(i)]; }

  std::vector<int32_t> Items;  // AllocItemCount long; items past ItemCount are undefined
  int32_t ItemCount = 0;
  int32_t AllocBy;
  int32_t deAllocBy;
  int32_t MaxAllocBy;
  int32_t AllocItemCount = 0;
};

// The growth and shrink policy shared by the engine's arrays: returns the new allocated
// count for newSize (growing or shrinking the steps as it goes), or -1 to free everything.
// Generic over the count type so that 64-bit arrays follow the same rules.
template <class Int>
Int ArrayAllocCountFor(Int newSize, Int itemCount, Int& allocBy, Int& deAllocBy, Int maxAllocBy,
                       Int allocItemCount) {
  if (newSize == 0) return -1;
  if (newSize > allocItemCount) {
    allocBy = std::min<Int>(allocBy * 2, maxAllocBy);
    return allocItemCount + allocBy > newSize ? allocItemCount + allocBy : newSize;
  }
  if (newSize < itemCount && allocItemCount - newSize > deAllocBy) {
    deAllocBy = std::min<Int>(deAllocBy * 2, maxAllocBy);
    return newSize;
  }
  return allocItemCount;
}

// ---- TORVBitsArray ------------------------------------------------------------------------

// A bit array (bit n in byte n div 8, least significant bit first) that keeps its count of
// set bits current, with rank and select over the set bits.
class TORVBitsArray {
 public:
  TORVBitsArray();
  ~TORVBitsArray();
  TORVBitsArray(const TORVBitsArray&) = delete;
  TORVBitsArray& operator=(const TORVBitsArray&) = delete;

  void SetSize(int32_t Value);
  bool GetBit(int32_t BitNo) const;
  void SetBit(int32_t BitNo, bool Value);
  int32_t GetNonZeroBitCount() const;
  void SetAllBits();
  bool FindBit(bool Value, int32_t& BitNo) const;
  bool Find(bool Restart, bool GoForward, int32_t CurBitNo, int32_t& FoundBitNo) const;
  // Select: the number of the set bit of rank BitPosition (0 = the first set bit).
  int32_t GetBitNoByBitPosition(int32_t BitPosition) const;
  // Rank: the set bits among 0..BitNo, minus one.
  int32_t GetBitPositionByBitNo(int32_t BitNo) const;
  void SaveToStream(platform::TStream& Stream) const;
  void LoadFromStream(platform::TStream& Stream);

  int32_t BitCount() const { return FBitCount; }
  int32_t NonZeroBitCount() const { return FNonZeroBitCount; }
  const uint8_t* Bits() const { return FBits; }

 private:
  int32_t ByteCount() const { return (FBitCount + 7) / 8; }
  int32_t CountSetBitsBelow(int32_t BitCount) const;

  uint8_t* FBits = nullptr;  // from the engine's memory manager
  int32_t FBitCount = 0;
  int32_t FNonZeroBitCount = 0;
  uint8_t FBitsTable[256];
};

// ---- Scan conditions ----------------------------------------------------------------------

class TORVIndexDef;        // table metadata
class TORVExpressionNode;  // a node of a filter or WHERE expression
class TORVScanSearchCondition;
class TORVScanSearchConditionArray;

// What scan planning needs of the index definitions of a table; the table metadata provides
// it.
class IORVScanIndexDefs {
 public:
  virtual ~IORVScanIndexDefs() = default;
  // The definition with that object id, nil when none.
  virtual const TORVIndexDef* FindIndexDefByObjectID(int32_t ObjectID) const = 0;
  virtual int32_t GetIndexColumnCount(const TORVIndexDef* IndexDef) const = 0;
};

// A filter or WHERE expression as scan planning sees it. The expression engine implements
// it; the storage core never evaluates or owns an expression.
class IORVScanExpression {
 public:
  virtual ~IORVScanExpression() = default;
  // Adds to ScanConditions one condition per comparison an index of IndexDefs can serve;
  // the conditions added carry CreatedFromExpression and their parent expressions and nodes.
  virtual void CreateIndexScanConditions(const IORVScanIndexDefs& IndexDefs, TORVScanSearchConditionArray& ScanConditions,
                                         int32_t SessionID) = 0;
  // Extends a condition on a multi-column index by a comparison on its next column; True
  // when it extended.
  virtual bool ExtendMultiFieldIndexCondition(TORVScanSearchCondition& ScanCondition, const TORVIndexDef* IndexDef) = 0;
  // Takes out of this expression the nodes the two chosen conditions were made from.
  virtual void RemoveExtractedNodes(TORVScanSearchConditionArray& ScanConditions, int32_t ScanConditionNo,
                                    int32_t ScanEndConditionNo) = 0;
  // Makes Node the root of an empty expression, else appends it to the root's children.
  virtual void AddNode(TORVExpressionNode* Node) = 0;
};

class TORVCursor;  // the abstract cursor (orv_base_cursor.h)
// A relational operator of the SQL layer (declared there); the storage core only passes it on.
class IORVAO;

// A filter or WHERE expression as the table layer evaluates it on one record. The expression
// engine implements it and the access layer creates it through the registered factory
// (orv_base_cursor.h); the storage core only binds it and asks for the result.
class IORVExpression : public IORVScanExpression {
 public:
  // Binds the field references to Cursor's fields and correlated references to the outer
  // query's operator and cursor (both may be nil).
  virtual void AssignCursor(TORVCursor* Cursor, IORVAO* ParentQueryAO, TORVCursor* ParentCursor) = 0;
  // Binds the field references to the memory record at Buffer; the table layer passes False.
  virtual void AssignCursorBuffer(const void* Buffer, bool ApplyToParentQueryFields) = 0;
  // The condition on the bound record, NULL counting as False; no nodes: 30110.
  virtual bool GetResult() = 0;
  // No root node, or an AND/OR root whose conditions were all taken out for an index scan:
  // there is nothing left to evaluate.
  virtual bool IsEmpty() const = 0;
};

// One condition by which the table layer can scan an index instead of every record.
class TORVScanSearchCondition {
 public:
  explicit TORVScanSearchCondition(bool ExternalKeyRecordBuffer = false);
  ~TORVScanSearchCondition();
  TORVScanSearchCondition(const TORVScanSearchCondition&) = delete;
  TORVScanSearchCondition& operator=(const TORVScanSearchCondition&) = delete;

  void ClearKeyRecordBuffer();
  void Assign(const TORVScanSearchCondition& Source);
  bool ExternalKeyRecordBuffer() const { return FExternalKeyRecordBuffer; }

  IORVScanExpression* Expression = nullptr;  // borrowed
  TORVSearchCondition Condition = scNone;
  void* KeyRecordBuffer = nullptr;  // from the engine's memory manager unless external
  int32_t KeyRecordBufferSize = 0;
  int32_t KeyFieldCount = 0;
  int32_t IndexID = -1;
  bool CreatedFromExpression = false;
  bool PartialCompare = false;
  // Parallel lists: for each node taken out to form this condition, its expression and the node.
  std::vector<IORVScanExpression*> ParentExpressions;
  std::vector<TORVExpressionNode*> ParentExpressionNodes;

 private:
  bool FExternalKeyRecordBuffer;
};

class TORVScanSearchConditionArray {
 public:
  TORVScanSearchConditionArray() = default;
  TORVScanSearchConditionArray(const TORVScanSearchConditionArray&) = delete;
  TORVScanSearchConditionArray& operator=(const TORVScanSearchConditionArray&) = delete;

  int32_t Count() const { return static_cast<int32_t>(Items.size()); }
  TORVScanSearchCondition& operator[](int32_t i) { return *Items[static_cast<size_t>(i)]; }

  void Delete(int32_t ItemNo);
  void AddExpression(IORVScanExpression* Expression);
  void AddCondition(const TORVScanSearchCondition& ScanSearchCondition);
  void CreateIndexScanConditionsFromExpressions(const IORVScanIndexDefs& IndexDefs, int32_t SessionID);
  void TryToExtendMultiFieldIndexCondition(int32_t ConditionNo, const IORVScanIndexDefs& IndexDefs,
                                           const TORVIndexDef* IndexDef,
                                           const std::vector<IORVScanExpression*>& Expressions);
  void RemoveUnusedConditionsCreatedFromExpressions(int32_t& ScanConditionNo, int32_t& ScanEndConditionNo);
  void ExtractChosenConditionsFromExpressions(int32_t ScanConditionNo, int32_t ScanEndConditionNo);
  void ReturnExtractedConditionsToExpressions(int32_t ScanConditionNo, int32_t ScanEndConditionNo);

  std::vector<std::unique_ptr<TORVScanSearchCondition>> Items;
};

// A condition taken out of an expression for a scan (borrowed pointers).
struct TORVExtractedConditionInfo {
  void* KeyRecordBuffer = nullptr;
  TORVExpressionNode* ExtractedExpressionNode = nullptr;
  IORVScanExpression* Expression = nullptr;
};

// ---- Index position cache -----------------------------------------------------------------

// The last index position a cursor reached, reused only while the index, the record and the
// table state are all unchanged.
class TORVIndexPositionCache {
 public:
  TORVIndexPositionCache() : Position(std::make_unique<TORVKeyPath>()) {}

  std::unique_ptr<TORVKeyPath> Position;
  int32_t IndexID = -1;
  TORVPageItemID RecordID;
  int32_t TableState = -1;
};

}  // namespace orv

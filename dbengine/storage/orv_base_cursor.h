#pragma once
// The two classes through which everything above the storage engine reaches it: the cursor
// (one open table seen by one client) and the session (one connection to one database). The
// access components implement the abstract operations over the table and database layer;
// this file holds what every cursor and session share: field access on record buffers,
// saved positions, projection, range and filter state, and the session's named objects.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dbengine/storage/orv_base_defs.h"
#include "dbengine/storage/orv_base_index.h"
#include "dbengine/storage/orv_compression.h"
#include "dbengine/storage/orv_compression_streams.h"
#include "dbengine/storage/orv_types.h"
#include "dbengine/storage/orv_variant.h"

namespace orv {

class TORVBaseSession;
class TORVRecordBitmap;

// ---- Named objects of a session -----------------------------------------------------------

// Something a session keeps by name or object id for itself (the last autoincrement value it
// handed out, for instance).
class TORVSessionNamedObject {
 public:
  // ObjectID -1; the name is cut to 255 characters.
  explicit TORVSessionNamedObject(std::string_view Name);
  // An empty name.
  explicit TORVSessionNamedObject(int32_t ObjectID);
  virtual ~TORVSessionNamedObject() = default;
  TORVSessionNamedObject(const TORVSessionNamedObject&) = delete;
  TORVSessionNamedObject& operator=(const TORVSessionNamedObject&) = delete;

  int32_t FObjectID = -1;
  std::string FName;
};

class TORVSessionNamedObjectSequenceValue : public TORVSessionNamedObject {
 public:
  TORVSessionNamedObjectSequenceValue(int32_t ObjectID, int64_t Value)
      : TORVSessionNamedObject(ObjectID), FValue(Value) {}

  int64_t FValue;
};

// ---- Session ------------------------------------------------------------------------------

class TORVBaseSession {
 public:
  // Empty named-object list, SessionID -1, not in a transaction.
  TORVBaseSession();
  virtual ~TORVBaseSession();
  TORVBaseSession(const TORVBaseSession&) = delete;
  TORVBaseSession& operator=(const TORVBaseSession&) = delete;

  virtual bool GetConnected() = 0;
  virtual void SetConnected(bool Value) = 0;
  virtual bool GetSuppressDBHeaderErrors() = 0;
  virtual void SetSuppressDBHeaderErrors(bool Value) = 0;
  virtual void CreateDatabase() = 0;
  virtual void DeleteDatabase() = 0;
  virtual void RenameDatabase(const std::string& NewDatabaseFileName) = 0;
  virtual void GetTablesList(std::vector<std::string>& List) = 0;
  virtual bool TableExists(const std::string& TableName) = 0;
  // Replaces (and frees) an object with Value's id, or with its name when the id is -1;
  // Value is appended and owned by the session from then on.
  virtual void SetObject(std::unique_ptr<TORVSessionNamedObject> Value);
  // The first object whose name equals ObjectName without regard to case; nil when none.
  virtual TORVSessionNamedObject* GetObjectByName(std::string_view ObjectName);
  virtual TORVSessionNamedObject* GetObjectByID(int32_t id);
  virtual void DeleteObject(int32_t id);
  virtual void StartTransaction() = 0;
  virtual void Commit(bool DoFlushBuffers) = 0;
  virtual void Rollback() = 0;
  virtual void FlushBuffers() = 0;

  std::string FDatabaseName;
  std::string FDatabaseFileName;
  int32_t FSessionID = -1;  // the number the page and lock managers know the session by
  bool FInTransaction = false;
  bool FReadOnly = false;
  bool FExclusive = false;
  bool FInMemory = false;
  std::string FLogin;
  void* FSessionHandle = nullptr;  // borrowed: identifies the owning session component
  std::vector<std::unique_ptr<TORVSessionNamedObject>> FSessionNamedObjectList;
  int32_t FMaxSessionCount = 0;
  bool FRepairNeeded = false;
  bool FMultiUser = false;
  std::string FSessionName;
};

// ---- Cursor -------------------------------------------------------------------------------

// A saved cursor position; every SavePosition is paired with one FreePosition.
struct TORVCursorPos {
  bool FirstPosition = false;
  bool LastPosition = false;
  TORVPageItemID RecordID;
};

// The client's record filter: called with a record buffer and the cursor's dataset link.
using TORVFilterRecordEvent = std::function<bool(const void* RecordBuffer, void* Dataset)>;

class TORVCursor : public IORVIndexCursor {
 public:
  // Closed, without definitions; an index position cache of its own.
  TORVCursor();
  ~TORVCursor() override;
  TORVCursor(const TORVCursor&) = delete;
  TORVCursor& operator=(const TORVCursor&) = delete;

  // ---- The 48 operations, in slot order ----
  virtual void CreateTable(const TORVFieldDefs& FieldDefs, const TORVIndexDefs& IndexDefs,
                           const TORVConstraintDefs& ConstraintDefs) = 0;
  virtual void DeleteTable() = 0;
  virtual void EmptyTable() = 0;
  virtual void RenameTable(const std::string& NewTableName) = 0;
  // Fills FFieldDefs, FIndexDefs and FConstraintDefs from the table.
  virtual void InternalInitFieldDefs() = 0;
  // Opens the table and stands before the first record.
  virtual void OpenTableByFieldDefs(const TORVFieldDefs* FieldDefs, const TORVIndexDefs* IndexDefs,
                                    const TORVConstraintDefs* ConstraintDefs) = 0;
  virtual void CloseTable() = 0;
  virtual void LockTableData() = 0;
  virtual void UnlockTableData() = 0;
  virtual bool LockTable(TORVLockType LockType, int32_t TryCount, int32_t Delay, bool AllowXIRWAfterSIRW) = 0;
  virtual bool UnlockTable(TORVLockType LockType, bool IgnoreIfNoLock) = 0;
  // Renames the field in FFieldDefs; implementations extend it to the stored table. A
  // missing field: 30345; a field already named NewFieldName (any letter case): 30346.
  virtual void RenameField(const std::string& FieldName, const std::string& NewFieldName);
  virtual TORVIndexDefs* GetIndexDefs();
  virtual void AddIndex(TORVIndexDef& IndexDef) = 0;
  virtual void DeleteIndex(const std::string& Name) = 0;
  virtual void DeleteAllIndexes() = 0;
  // The name of an index serving the columns, creating a temporary one (IsCreated) when none.
  virtual std::string FindOrCreateIndex(const std::vector<std::string>& FieldNamesList,
                                        const std::vector<std::string>& AscDescList,
                                        const std::vector<std::string>& CaseSensitivityList, bool& IsCreated) = 0;
  virtual bool IndexExists(const std::vector<std::string>& FieldNamesList, const std::vector<std::string>& AscDescList,
                           const std::vector<std::string>& CaseSensitivityList) = 0;
  virtual void CopyFieldValue(int32_t SrcFieldNo, bool DirectAccess, int32_t DestFieldNo, TORVCursor* DestCursor) = 0;
  // A fresh record: every null flag set, data zeroed, defaults applied in insert mode.
  virtual void InternalInitRecord(void* RecordBuffer, bool InsertMode) = 0;
  // Frees a buffer of the engine's memory manager and sets the variable to nil.
  virtual void FreeRecordBuffer(void*& Buffer);
  virtual int64_t GetRecordCount() = 0;
  virtual TORVGetRecordResult GetRecordBuffer(TORVGetRecordMode GetRecordMode) = 0;
  virtual void SetRecNo(int64_t Value) = 0;
  virtual int64_t GetRecNo() = 0;
  virtual int32_t CompareRecordsOrder(const TORVPageItemID& RecordID1, const TORVPageItemID& RecordID2) = 0;
  virtual void InternalFirst() = 0;
  virtual void InternalLast() = 0;
  virtual void InternalInsert() = 0;
  virtual void InternalEdit() = 0;
  virtual void InternalCancel(bool ToInsert) = 0;
  virtual void InternalPost(bool ToInsert) = 0;
  virtual void InternalDelete() = 0;
  virtual bool IsRecordLocked() = 0;
  virtual void ApplyDistinct(const std::vector<std::string>& FieldNamesList, const std::vector<std::string>& AscDescList,
                             const std::vector<std::string>& CaseSensitivityList) = 0;
  virtual void ActivateFilters(const std::string& FilterText, bool CaseInsensitive, bool PartialKey) = 0;
  virtual void DeactivateFilters() = 0;
  // KeyValues: one value per name of KeyFields (";"-separated).
  virtual bool Locate(const std::string& KeyFields, const std::vector<TORVVarValue>& KeyValues, bool CaseInsensitive,
                      bool PartialKey) = 0;
  virtual bool FindKey(TORVSearchCondition SearchCondition) = 0;
  virtual bool IsAnyRecordMatchCondition(const std::string& FieldName, TORVDataOperator Operator,
                                         const TORVVariant& Value) = 0;
  virtual TORVStream* InternalCreateBlobStream(bool ToInsert, bool ToEdit, int32_t FieldNo, TORVBLOBOpenMode OpenMode,
                                               bool CanDoGetRecordBuffer) = 0;
  virtual void InternalCloseBLOB(int32_t FieldNo) = 0;
  virtual void ClearBLOBStreams(bool WriteOnly) = 0;
  virtual int64_t LastAutoincValue(int32_t FieldNo) = 0;
  virtual void BeginBatchUpdate() = 0;
  virtual void EndBatchUpdate() = 0;
  virtual void CancelBatchUpdate() = 0;
  // Checks the current record buffer against the table's constraints without raising.
  virtual bool CheckConstraints(bool ToInsert) = 0;

  // ---- What an index sees of the cursor ----
  // The session's number; the system session (-2) for a cursor without a session.
  int32_t GetSessionID() const override;
  std::string GetTableName() const override { return FTableName; }
  const void* GetCurrentRecordBuffer() const override { return FCurrentRecordBuffer; }
  const void* GetEditRecordBuffer() const override { return FEditRecordBuffer; }
  TORVPageItemID GetCurrentRecordID() const override { return CurrentRecordID; }

  // ---- Concrete operations ----
  // The current index by name (any letter case); -1 for physical order or an unknown name.
  void SetIndexName(const std::string& Value);
  // The dataset's field FieldNo (counted in FVisibleFieldDefs) of RecordBuffer into Buffer in
  // the dataset's form; False for NULL. Beyond the visible fields: 10005.
  bool GetFieldData(int32_t FieldNo, void* Buffer, const void* RecordBuffer);
  // The inverse; a nil Buffer or an empty text sets the field NULL. Beyond: 10006.
  void SetFieldData(int32_t FieldNo, const void* Buffer, void* RecordBuffer);
  // Reads from FCurrentRecordBuffer. DirectAccess: FieldNo counts in FFieldDefs (beyond:
  // 20191), else in FVisibleFieldDefs (beyond: 10317). A NULL field leaves Value NULL with
  // its type; otherwise Value gets a copy of the field's memory bytes.
  void GetFieldValue(TORVVariant& Value, int32_t FieldNo, bool DirectAccess);
  // Writes into RecordBuffer (FCurrentRecordBuffer when nil); codes 20192 / 20193 as above.
  // A NULL value sets the null flag and leaves the bytes; otherwise Value is converted in
  // place to the field's type and copied (longer than the field: 20056). An empty text
  // clears the field's bytes, so it reads back empty rather than as the previous value.
  void SetFieldValue(TORVVariant& Value, int32_t FieldNo, bool DirectAccess, void* RecordBuffer);
  // Zero-fills every text field behind its terminator (a NULL one wholly), so that equal
  // values have equal bytes.
  void ClearStringFieldsGarbage(void* RecordBuffer);
  // A zero-filled buffer of FRecordBufferSize bytes from the engine's memory manager.
  void* AllocateRecordBuffer();
  // FKeyBufferSize bytes, not cleared.
  void* AllocateKeyRecordBuffer();
  void InternalInitKeyBuffer(void* RecordBuffer);
  TORVCursorPos* SavePosition();
  void RestorePosition(const TORVCursorPos* Pos);
  void FreePosition(TORVCursorPos*& Pos);
  // The bitmap is rebuilt at its next use.
  void DisableRecordBitmap();
  // The visible fields become the named fields in this order, each under its alias when one
  // is given (made unique with _1, _2 ...). Lists of different length: 10321; no names:
  // 10322; an unknown field: 10323.
  void ApplyProjection(const std::vector<std::string>& FieldNamesList, const std::vector<std::string>& AliasList);
  bool IsIndexApplied() const { return FIndexID != -1; }
  bool IsDistinctApplied() const { return FDistinctFieldCount > 0; }
  bool IsFilterApplied() const;
  bool IsRangeApplied() const { return FRangeStartBuffer || FRangeEndBuffer; }
  bool IsViewRestricted() const { return IsFilterApplied() || IsRangeApplied() || IsDistinctApplied(); }
  void ResetRange();
  // The buffers stay the caller's.
  void ApplyRange(void* StartBuffer, void* EndBuffer, int32_t StartKeyFieldCount, int32_t EndKeyFieldCount,
                  bool StartExclusive, bool EndExclusive);
  // Keeps the SQL WHERE expression (borrowed) and binds it to this cursor.
  void SetSQLFilter(IORVExpression* FilterExpr, IORVAO* ParentQueryAO, TORVCursor* ParentCursor);

  // ---- State ----
  bool FSettingProjection = false;
  std::string FTableName;
  std::string FIndexName;
  int32_t FIndexID = -1;
  bool FReadOnly = false;
  bool FExclusive = false;
  bool FInMemory = false;
  bool FTemporary = false;  // a table of the temporary engine
  TORVBaseSession* FSession = nullptr;  // borrowed
  bool FIsOpen = false;
  bool FPhysicalOrder = false;
  std::unique_ptr<TORVKeyPath> FCurrentRecordPositionInIndex;
  void* FCurrentRecordBuffer = nullptr;  // the implementation decides who owns these three
  void* FDistinctRecordBuffer = nullptr;
  void* FEditRecordBuffer = nullptr;
  std::unique_ptr<TORVConstraintDefs> FConstraintDefs;
  std::unique_ptr<TORVFieldDefs> FFieldDefs;
  std::unique_ptr<TORVIndexDefs> FIndexDefs;
  std::unique_ptr<TORVFieldDefs> FVisibleFieldDefs;  // all fields, or a projection
  TORVCompression FBLOBCompression;
  std::vector<std::unique_ptr<TORVStream>> FBLOBStreams;
  std::unique_ptr<TORVRecordBitmap> FRecordBitmap;
  std::unique_ptr<TORVIndexPositionCache> FIndexPositionCache;
  bool FTableLockedByCursor = false;
  bool FBatchUpdate = false;
  bool FDisableTempFiles = false;
  bool FIsRepairing = false;
  int32_t FErrorCode = 0;  // 0, or an engine error code (-1 .. -13) of the last edit, post or delete
  std::string FErrorMessage;
  bool FIsDesignMode = false;
  int32_t FRecordBufferSize = 0;
  int32_t FRecordSize = 0;
  int32_t FKeyBufferSize = 0;
  int32_t FKeyOffset = 0;
  int32_t FKeyFieldCount = 0;
  int32_t FFieldValuesOffset = 0;
  int32_t FCalculatedFieldsOffset = 0;
  int32_t FBookmarkOffset = 0;
  std::unique_ptr<IORVExpression> FFilterExpression;
  IORVExpression* FSQLFilterExpression = nullptr;  // borrowed
  void* FKeyBuffer = nullptr;  // borrowed, as are the range bounds (nil: open end)
  void* FRangeStartBuffer = nullptr;
  void* FRangeEndBuffer = nullptr;
  bool FRangeStartExclusive = false;
  bool FRangeEndExclusive = false;
  int32_t FRangeStartKeyFieldCount = 0;
  int32_t FRangeEndKeyFieldCount = 0;
  int32_t FDistinctFieldCount = 0;
  TORVPageItemID CurrentRecordID;
  bool FirstPosition = false;
  bool LastPosition = false;
  TORVFilterRecordEvent FilterRecord;
  void* Dataset = nullptr;  // borrowed

 private:
  const TORVFieldDef* FieldForValue(int32_t FieldNo, bool DirectAccess, int32_t DirectCode, int32_t VisibleCode,
                                    int32_t& NullFlagNo) const;
};

// ---- Filter expressions -------------------------------------------------------------------

// The expression engine sits above the storage core; it registers how filter texts become
// expressions.
class IORVExpressionFactory {
 public:
  virtual ~IORVExpressionFactory() = default;
  // Parses one Boolean expression bound to Cursor; a blank text raises 30119.
  virtual std::unique_ptr<IORVExpression> ParseForFilter(TORVCursor& Cursor, const std::string& Filter,
                                                         bool CaseInsensitive, bool PartialKey) = 0;
  // The equalities of a Locate (one value per ";"-separated name), two-valued, bound to
  // Cursor. A factory without Locate raises std::logic_error.
  virtual std::unique_ptr<IORVExpression> ParseForLocate(TORVCursor& Cursor, const std::string& FieldNames,
                                                         const std::vector<TORVVarValue>& KeyValues,
                                                         bool CaseInsensitive, bool PartialKey);
  // FieldName Operator Value (doEQ to doLE), two-valued, bound to Cursor: the cursor's
  // any-record question. A factory without it raises std::logic_error.
  virtual std::unique_ptr<IORVExpression> ParseForIsAnyRecordMatchCondition(TORVCursor& Cursor,
                                                                            const std::string& FieldName,
                                                                            TORVDataOperator Operator,
                                                                            const TORVVariant& Value);
};

// Borrowed; nil unregisters. Returns the previous factory.
IORVExpressionFactory* SetExpressionFactory(IORVExpressionFactory* Factory);
// The registered factory; none registered raises std::logic_error (the expression engine is
// not linked in).
IORVExpressionFactory& GetExpressionFactory();

}  // namespace orv

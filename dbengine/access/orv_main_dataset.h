#pragma once
// The engine's dataset: the data layer's TDataSet over a cursor of the engine. Records live in
// the cursor's record buffers (null flags, fields in the engine's memory form, the 7-byte
// bookmark with the record id and its flag, then the calculated fields); the data layer's
// bookmark is the 6-byte record id followed by a zero byte. Every record operation of the
// cursor leaves a result code, which Check turns into an EORVEngineError right after the call,
// so that the data layer's post, edit and delete error events receive it.
//
// Date and time fields reach the data layer in its native forms: a date is an Int32 day count
// from 0001-01-01, a time an Int32 count of milliseconds (rounded half to even), a date-time a
// double count of milliseconds from 0001-01-01, a time stamp the 16-byte SQL time stamp.
//
// The dataset keeps its database component open while any of its database flags is set
// (SetDBFlag): dbfOpened while the cursor is open, the others while a table operation runs.
// The table and query components derive from it and make the cursor (CreateHandle).
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/access/orv_main_adv_defs.h"
#include "dbengine/access/orv_local_engine_session.h"
#include "dbengine/access/orv_main_database.h"
#include "dbengine/storage/orv_base_cursor.h"
#include "platform/data/dataset.h"
#include "platform/data/index_defs.h"

namespace orv {

class TORVSession;

// The reasons for which a dataset keeps its database component open.
enum TORVDBFlag : int32_t {
  dbfOpened = 0,
  dbfPrepared = 1,
  dbfExecSQL = 2,
  dbfTable = 3,
  dbfFieldList = 4,
  dbfIndexList = 5,
  dbfStoredProc = 6,
  dbfExecProc = 7,
  dbfProcDesc = 8,
  dbfDatabase = 9,
  dbfProvider = 10,
  dbfRepair = 11
};

// The six key buffers of a dataset (TORVKeyIndex): the lookup key, the range being edited,
// the range the cursor applies, and the copy taken when key editing starts.
inline constexpr int kKeyBufferCount = 6;

// The dataset's bookmark: the record id and one zero byte.
inline constexpr int kORVBookmarkSize = 7;

// Progress of a whole-dataset operation; Sender is the dataset whose records are read.
// Continue False stops the operation.
using TORVDataSetProgressEvent =
    std::function<void(platform::data::TDataSet& Sender, int PercentDone, bool& Continue)>;
using TORVDataSetNotifyEvent = std::function<void(platform::data::TDataSet& Sender)>;

class TORVDataSet : public platform::data::TDataSet, public IORVDatabaseDataSet {
 public:
  // AOwner (may be nil) is handed to the session when the dataset opens its database, so that
  // a database component of the same owner that shares its handle is preferred.
  explicit TORVDataSet(TORVComponent* AOwner = nullptr);
  // Closes the dataset (errors are dropped: a destructor never raises).
  ~TORVDataSet() override;

  // ---- properties ----
  // "7.90 " whatever the locale.
  std::string CurrentVersion() const;
  const std::string& DatabaseName() const { return FDatabaseName; }
  // Attached to a database: "Cannot perform this operation on an open database"; "MEMORY" in
  // any letter case sets InMemory.
  void SetDatabaseName(const std::string& Value);
  const std::string& SessionName() const { return FSessionName; }
  void SetSessionName(const std::string& Value);
  bool InMemory() const { return FInMemory; }
  // True also sets DatabaseName to "MEMORY".
  void SetInMemory(bool Value);
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool Value);
  bool StoreDefs() const { return FStoreDefs; }
  void SetStoreDefs(bool Value) { FStoreDefs = Value; }
  platform::data::TIndexDefs& IndexDefs() { return *FIndexDefs; }
  void SetIndexDefs(const platform::data::TIndexDefs& Value) { FIndexDefs->Assign(Value); }
  TORVAdvFieldDefs& AdvFieldDefs() { return *FAdvFieldDefs; }
  TORVAdvIndexDefs& AdvIndexDefs() { return *FAdvIndexDefs; }
  TORVAdvFieldDefs& RestructureFieldDefs() { return *FRestructureFieldDefs; }
  TORVAdvIndexDefs& RestructureIndexDefs() { return *FRestructureIndexDefs; }
  TORVFieldDefs& ORVFieldDefs() { return *FORVFieldDefs; }
  TORVIndexDefs& ORVIndexDefs() { return *FORVIndexDefs; }
  TORVConstraintDefs& ORVConstraintDefs() { return *FORVConstraintDefs; }

  // The cursor while the dataset is open; nil otherwise.
  TORVCursor* Handle() const { return FHandle; }
  // The database component while any database flag is set.
  TORVDatabase* Database() const { return FDatabase; }
  // A cursor made elsewhere (the SQL layer's) that the next open takes instead of making one;
  // it stays the caller's.
  void SetExternalHandle(TORVCursor* Cursor) { FExternalHandle = Cursor; }
  bool IgnoreDesignMode() const { return FIgnoreDesignMode; }
  void SetIgnoreDesignMode(bool Value) { FIgnoreDesignMode = Value; }

  // ---- sessions and databases ----
  // The attached database's session, else the session named SessionName, else the default.
  TORVSession* GetDBSession();
  void GetDatabaseNameList(std::vector<std::string>& List);
  TORVDatabase* OpenDatabase();
  void CloseDatabase(TORVDatabase* Database);
  virtual void SetDBFlag(int32_t Flag, bool Value);
  bool DBFlag(int32_t Flag) const { return (FDBFlags >> Flag) & 1u; }

  // Copies every record of SourceDataset into DestinationDataset field by field (by position
  // when the source has a field per definition, else by name; when restructuring two tables,
  // by the columns' object ids). Problems are appended to Log as CR LF terminated lines; True
  // when nothing went wrong. Progress is reported between MinProgress and MaxProgress.
  bool InternalCopyRecords(platform::data::TDataSet& SourceDataset, platform::data::TDataSet& DestinationDataset,
                           std::string& Log, bool& Continue, bool IgnoreErrors, bool RestructuringTable,
                           const TORVDataSetProgressEvent& ProgressEvent, int32_t MinProgress, int32_t MaxProgress);

  // IORVDatabaseDataSet
  void Disconnect() override { Close(); }
  bool IsQuery() const override { return false; }

  // ---- indexes and keys ----
  void SwitchToIndex(const std::string& IndexName);
  bool IsIndexApplied();
  void GetIndexInfo();
  int32_t IndexFieldCountValue() const { return FIndexFieldCount; }
  const std::vector<uint16_t>& IndexFieldMap() const { return FIndexFieldMap; }
  bool ResetCursorRange();
  void AllocKeyBuffers();
  void FreeKeyBuffers();
  uint8_t* InitKeyBuffer(uint8_t* Buffer);
  uint8_t* GetActiveRecordBuffer();

  // Date and time values between the engine's form (ToNative True: into it) and TDateTime,
  // or the SQL time stamp for time stamp fields.
  void DateTimeConvert(platform::data::TField* Field, const void* Source, void* Dest, bool ToNative);

  // ---- filters ----
  // While open and Filtered, a new filter text or new options refilter at once and move to
  // the first record; otherwise they are only stored. A bad filter text raises the parser's
  // error and leaves the dataset open without a filter expression.
  void SetFilterText(const std::string& Value) override;
  void SetFilterOptions(platform::data::TFilterOptions Value) override;
  void SetFilterData(const std::string& Text, platform::data::TFilterOptions Options);
  // Open: refilters (True) or drops the filter (False) and moves to the first record (True)
  // or refreshes (False, also when nothing changed).
  void SetFiltered(bool Value) override;
  void SetOnFilterRecord(platform::data::TFilterRecordEvent Value) override;
  // The filter text to the cursor (an empty text drops the cursor's filter), and the
  // dataset's record callback when OnFilterRecord is assigned.
  void ActivateFilters();
  // Drops the cursor's filter expression; the record callback stays.
  void DeactivateFilters();
  bool IsOnFilterRecordApplied() const { return Filtered() && static_cast<bool>(OnFilterRecord()); }
  // The cursor's record callback: asks OnFilterRecord of the dataset Dataset about Buffer.
  static bool FilterRecord(const void* Buffer, void* Dataset);
  // OnFilterRecord for one record (accepted when it does not apply). An exception of the
  // handler goes to the application's exception handler and does not end the scan; Accept
  // keeps the value it had when the handler raised.
  bool InternalFilterRecord(const void* Buffer);

  // ---- search ----
  // KeyFields: field names separated by ";"; KeyValues one value or an array of them. The
  // first matching record in the current order and view (filter, range, SQL filter).
  bool Locate(const std::string& KeyFields, const platform::data::Variant& KeyValues,
              platform::data::TLocateOptions Options) override;
  // Null when not found; otherwise the value(s) of ResultFields of the record found. The
  // visible current record stays.
  platform::data::Variant Lookup(const std::string& KeyFields, const platform::data::Variant& KeyValues,
                                 const std::string& ResultFields) override;
  // Positions the cursor on the record found and reads it into the temporary buffer; a
  // closed dataset: 10271.
  bool LocateRecord(const std::string& KeyFields, const platform::data::Variant& KeyValues,
                    platform::data::TLocateOptions Options);

  // ---- for the SQL layer ----
  // An already parsed WHERE expression (borrowed) evaluated besides the filter text, with the
  // outer query's operator and cursor for correlated subqueries.
  void SetSQLFilter(IORVExpression* FilterExpr, IORVAO* ParentQueryAO, TORVCursor* ParentCursor);
  // The visible fields become the named ones (under the aliases given); the dataset is
  // reopened over the same cursor so that its fields follow. An unknown name raises the
  // cursor's error and leaves the dataset as it was.
  void ApplyProjection(const std::vector<std::string>& FieldNamesList, const std::vector<std::string>& AliasList);
  // FieldNo counts the visible fields, or the physical ones with DirectAccess; the record is
  // the active record buffer. BLOB values travel through the dataset's BLOB streams.
  void GetFieldValue(TORVVariant& Value, int32_t FieldNo, bool DirectAccess);
  void SetFieldValue(TORVVariant& Value, int32_t FieldNo, bool DirectAccess);
  void CopyFieldValue(int32_t SrcFieldNo, bool UseDirectFieldAccess, int32_t DestFieldNo, TORVDataSet* DestDataset);
  bool IsDistinctApplied() const;

  // ---- what the data layer calls ----
  void SetActive(bool Value) override;
  bool GetFieldData(platform::data::TField* Field, void* Buffer) override;
  void SetFieldData(platform::data::TField* Field, void* Buffer) override;
  using TDataSet::GetFieldData;
  using TDataSet::SetFieldData;
  void DataConvert(platform::data::TField* Field, const void* Source, void* Dest, bool ToNative) override;
  std::unique_ptr<platform::TStream> CreateBlobStream(platform::data::TField* Field,
                                                      platform::data::TBlobStreamMode Mode) override;
  // The cursor's stream for the field of the active record (nil when the cursor gives none).
  TORVStream* InternalCreateBlobStream(platform::data::TField* Field, platform::data::TBlobStreamMode Mode);
  void CloseBlob(platform::data::TField* Field) override;
  bool GetCurrentRecord(platform::data::TRecordBuffer Buffer) override;
  bool BookmarkValid(const platform::data::TBookmark& Bookmark) override;
  int CompareBookmarks(const platform::data::TBookmark& Bookmark1,
                       const platform::data::TBookmark& Bookmark2) override;
  void SetRecNo(int Value) override;

 protected:
  // ---- slots the table and query components fill ----
  virtual TORVCursor* CreateHandle() { return nullptr; }
  virtual void DestroyHandle();
  virtual void PrepareCursor() {}

  void OpenCursor(bool InfoQuery) override;
  void CloseCursor() override;
  void InternalOpen() override;
  void InternalClose() override;
  bool IsCursorOpen() override { return FHandle != nullptr; }
  void InternalInitFieldDefs() override;
  platform::data::TRecordBuffer AllocRecordBuffer() override;
  void FreeRecordBuffer(platform::data::TRecordBuffer& Buffer) override;
  int GetRecordSize() override;
  platform::data::TGetResult GetRecord(platform::data::TRecordBuffer Buffer, platform::data::TGetMode GetMode,
                                       bool DoCheck) override;
  void InternalFirst() override;
  void InternalLast() override;
  void InternalInitRecord(platform::data::TRecordBuffer Buffer) override;
  void InitRecord(platform::data::TRecordBuffer Buffer) override;
  void InternalSetToRecord(platform::data::TRecordBuffer Buffer) override;
  void InternalGotoBookmark(const uint8_t* Bookmark) override;
  void GetBookmarkData(platform::data::TRecordBuffer Buffer, uint8_t* Data) override;
  void SetBookmarkData(platform::data::TRecordBuffer Buffer, const uint8_t* Data) override;
  platform::data::TBookmarkFlag GetBookmarkFlag(platform::data::TRecordBuffer Buffer) override;
  void SetBookmarkFlag(platform::data::TRecordBuffer Buffer, platform::data::TBookmarkFlag Value) override;
  void InternalInsert() override;
  void InternalEdit() override;
  void InternalCancel() override;
  void InternalPost() override;
  void InternalDelete() override;
  void InternalAddRecord(platform::data::TRecordBuffer Buffer, bool Append) override;
  void InternalRefresh() override;
  bool GetCanModify() override;
  int GetRecordCount() override;
  int GetRecNo() override;
  bool FindRecord(bool Restart, bool GoForward) override;
  bool GetIsIndexField(platform::data::TField* Field) override;
  void ClearCalcFields(platform::data::TRecordBuffer Buffer) override;

  // The cursor, or EORVException "Nil pointer occured" with Code.
  TORVCursor& Cursor(int32_t Code) const;
  // The record id in a record buffer's bookmark.
  TORVPageItemID BufferRecordID(const uint8_t* Buffer) const;
  uint8_t* KeyBuffer(TORVKeyIndex Index) const { return FKeyBuffers[Index]; }
  // The key header of a key buffer: Modified, Exclusive, FieldCount.
  bool KeyModified(const uint8_t* Buffer) const;
  void SetKeyModified(uint8_t* Buffer, bool Value) const;
  bool KeyExclusiveOf(const uint8_t* Buffer) const;
  void SetKeyExclusiveOf(uint8_t* Buffer, bool Value) const;
  int32_t KeyFieldCountOf(const uint8_t* Buffer) const;
  void SetKeyFieldCountOf(uint8_t* Buffer, int32_t Value) const;
  void FreeEditCopy();
  // Refreshes the dataset once after a BLOB stream could not be opened.
  void RefreshAfterMissingBlob();
  TORVComponent* ComponentOwner() const { return FOwner; }
  // The cursor CreateHandle made (or the external one) becomes the dataset's at once, so that
  // reading the definitions during the rest of the open finds it.
  void AdoptHandle(TORVCursor* Handle);
  // ReadOnly as the engine opened the table, also while the dataset is opening.
  void SetReadOnlyValue(bool Value) { FReadOnly = Value; }

  uint8_t* FKeyBuffer = nullptr;  // borrowed: the key buffer being edited (dsSetKey)
  int32_t FIndexFieldCount = 0;
  std::vector<uint16_t> FIndexFieldMap;  // 1-based field numbers of the index columns
  int32_t FKeySize = 0;
  TORVCursor* FExternalHandle = nullptr;  // borrowed

 private:
  void CheckDBSessionName();

  TORVComponent* FOwner;
  std::string FSessionName;
  std::string FDatabaseName;
  bool FInMemory = false;
  bool FReadOnly = false;
  bool FStoreDefs = false;
  uint32_t FDBFlags = 0;
  TORVDatabase* FDatabase = nullptr;  // borrowed
  TORVCursor* FHandle = nullptr;      // owned unless it is the external handle
  bool FOwnsHandle = false;
  uint8_t* FFilterBuffer = nullptr;   // borrowed
  void* FEditRecordBuffer = nullptr;  // owned: the record before the edit
  std::array<uint8_t*, kKeyBufferCount> FKeyBuffers{};  // owned while open
  bool FIsRefreshing = false;
  bool FIgnoreDesignMode = false;
  std::unique_ptr<platform::data::TIndexDefs> FIndexDefs;
  std::unique_ptr<TORVFieldDefs> FORVFieldDefs;
  std::unique_ptr<TORVIndexDefs> FORVIndexDefs;
  std::unique_ptr<TORVAdvIndexDefs> FAdvIndexDefs;
  std::unique_ptr<TORVAdvFieldDefs> FAdvFieldDefs;
  std::unique_ptr<TORVAdvIndexDefs> FRestructureIndexDefs;
  std::unique_ptr<TORVAdvFieldDefs> FRestructureFieldDefs;
  std::unique_ptr<TORVConstraintDefs> FORVConstraintDefs;

  friend class TORVBLOBStream;
};

// Keeps a dataset's database component open for one operation. A flag that was already set
// stays set: it belongs to an operation further out.
class TORVDBFlagGuard {
 public:
  TORVDBFlagGuard(TORVDataSet& DataSet, int32_t Flag) : FDataSet(DataSet), FFlag(Flag), FSet(!DataSet.DBFlag(Flag)) {
    if (FSet) FDataSet.SetDBFlag(FFlag, true);
  }
  ~TORVDBFlagGuard() {
    if (!FSet) return;
    try {
      FDataSet.SetDBFlag(FFlag, false);
    } catch (...) {
      // Closing the database after the operation is best effort; its error must not hide
      // the operation's.
    }
  }
  TORVDBFlagGuard(const TORVDBFlagGuard&) = delete;
  TORVDBFlagGuard& operator=(const TORVDBFlagGuard&) = delete;

 private:
  TORVDataSet& FDataSet;
  int32_t FFlag;
  bool FSet;
};

}  // namespace orv

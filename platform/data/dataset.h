#pragma once
// TDataSet: the base of every dataset of the program. It keeps the window of record
// buffers that grids and controls show, the navigation and editing protocol with its states
// and events, the fields, bookmarks, filters and the notification of data sources. Where
// records come from is the descendant's: it overrides the protected Internal* operations,
// GetRecord, the bookmark operations and GetFieldData/SetFieldData.
//
// The window: Buffer(0) .. Buffer(BufferCount()-1) hold up to BufferCount() consecutive
// records of the cursor's order, RecordsInWindow() of them filled; ActiveRecord() is the
// row the fields read; one more buffer (TempBuffer()) is scratch space. The cursor of the
// descendant is kept on the record of one of the rows (or moved there before it is used).
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/data/data_types.h"
#include "platform/data/database_error.h"
#include "platform/data/field.h"
#include "platform/data/field_defs.h"
#include "platform/base/stream.h"
#include "platform/data/variant.h"

namespace platform::data {

class TDataSet;
class TDataSource;
class TDataLink;

using TDataSetNotifyEvent = std::function<void(TDataSet& dataset)>;
using TDataSetErrorEvent = std::function<void(TDataSet& dataset, EDatabaseError& error, TDataAction& action)>;
using TFilterRecordEvent = std::function<void(TDataSet& dataset, bool& accept)>;

class TDataSet {
 public:
  TDataSet();
  // A descendant closes the dataset in its own destructor: closing needs its overrides.
  virtual ~TDataSet();
  TDataSet(const TDataSet&) = delete;
  TDataSet& operator=(const TDataSet&) = delete;

  // The component's name; it prefixes the messages of the errors the dataset raises.
  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }

  // ---- opening and state
  bool Active() const { return state_ != dsInactive && state_ != dsOpening; }
  virtual void SetActive(bool value);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  TDataSetState State() const { return state_; }
  bool Modified() const { return modified_; }
  bool CanModify() { return GetCanModify(); }
  // "Cannot perform this operation on a closed dataset" / "... on an open dataset".
  void CheckActive() const;
  void CheckInactive() const;

  // ---- fields
  TFields& Fields() { return fields_; }
  TFieldDefs& FieldDefs() { return field_defs_; }
  int FieldCount() const { return fields_.Count(); }
  TField* FindField(const std::string& name) const { return fields_.FindField(name); }
  TField* FieldByName(const std::string& name) const { return fields_.FieldByName(name); }
  // Adds a persistent field (the dataset must be closed).
  TField* AddField(std::unique_ptr<TField> field) { return fields_.Add(std::move(field)); }
  // The fields named in a ";"-separated list, in that order ("Field '%s' not found").
  std::vector<TField*> GetFieldList(const std::string& names) const;
  // The value of one field, or an array of the values of several.
  Variant FieldValues(const std::string& names) const;
  void SetFieldValues(const std::string& names, const Variant& values);
  // Whether the fields were made from the field definitions at open.
  bool DefaultFields() const { return default_fields_; }
  int CalcFieldsSize() const { return calc_fields_size_; }
  bool AutoCalcFields() const { return auto_calc_fields_; }
  void SetAutoCalcFields(bool v) { auto_calc_fields_ = v; }
  // Reads the field definitions: from the open cursor, or by opening it for the purpose.
  virtual void InitFieldDefs();
  // Reads the index definitions of a descendant that has them (nothing here).
  virtual void UpdateIndexDefs() {}

  // ---- navigation
  void First();
  void Last();
  void Next() { MoveBy(1); }
  void Prior() { MoveBy(-1); }
  // Moves by up to distance records; returns how many it moved (negative backwards).
  int MoveBy(int distance);
  bool Eof() const { return eof_; }
  bool Bof() const { return bof_; }
  bool IsEmpty() const { return active_record_ >= record_count_; }
  int RecNo() { return GetRecNo(); }
  virtual void SetRecNo(int /*value*/) {}
  int RecordCount() { return GetRecordCount(); }
  void Refresh();
  // Refills the window around the cursor's record: rmExact requires that record
  // ("Record not found"), rmCenter puts it in the middle row.
  void Resync(TResyncMode mode);

  // ---- editing
  void Insert();
  void Append();
  void Edit();
  // A descendant with states of its own (key editing) extends these two.
  virtual void Post();
  virtual void Cancel();
  void Delete();
  // Posts a pending edit (or cancels it when nothing changed).
  void CheckBrowseMode();
  // Asks the links to write their pending values ("Dataset not in edit or insert mode").
  void UpdateRecord();
  void InsertRecord(const std::vector<Variant>& values);
  void AppendRecord(const std::vector<Variant>& values);
  // Assigns the values to the fields in order (Empty leaves a field as it is).
  void SetFields(const std::vector<Variant>& values);

  // ---- bookmarks
  bool BookmarkAvailable();
  TBookmark GetBookmark();
  // Returns to the bookmarked record; a bookmark of the wrong size raises "Invalid
  // bookmark", one of a record that is gone "Record not found".
  void GotoBookmark(const TBookmark& bookmark);
  TBookmark Bookmark() { return GetBookmark(); }
  void SetBookmark(const TBookmark& bookmark) { GotoBookmark(bookmark); }
  void FreeBookmark(TBookmark& bookmark) { bookmark.clear(); }
  // Descendants check the size of the bookmarks they are given.
  virtual bool BookmarkValid(const TBookmark& bookmark);
  virtual int CompareBookmarks(const TBookmark& a, const TBookmark& b);
  int BookmarkSize() const { return bookmark_size_; }

  // ---- search
  virtual bool Locate(const std::string& key_fields, const Variant& key_values, TLocateOptions options);
  virtual Variant Lookup(const std::string& key_fields, const Variant& key_values, const std::string& result_fields);
  bool FindFirst();
  bool FindLast();
  bool FindNext();
  bool FindPrior();
  bool Found() const { return found_; }

  // ---- filters
  // The setters only store here; a descendant applies them to its cursor.
  const std::string& Filter() const { return filter_text_; }
  virtual void SetFilterText(const std::string& text) { filter_text_ = text; }
  bool Filtered() const { return filtered_; }
  virtual void SetFiltered(bool value) { filtered_ = value; }
  TFilterOptions FilterOptions() const { return filter_options_; }
  virtual void SetFilterOptions(TFilterOptions value) { filter_options_ = value; }
  const TFilterRecordEvent& OnFilterRecord() const { return on_filter_record_; }
  virtual void SetOnFilterRecord(TFilterRecordEvent handler) { on_filter_record_ = std::move(handler); }

  // ---- controls and data sources
  void DisableControls();
  void EnableControls();
  bool ControlsDisabled() const { return disable_count_ > 0; }
  // The master source of a detail dataset (none here).
  virtual TDataSource* GetDataSource() { return nullptr; }
  // Whether the source's dataset is this one or one of its masters' chain leads here.
  bool IsLinkedTo(TDataSource* source);

  // ---- field data (called by the fields)
  virtual bool GetFieldData(TField* field, void* buffer) = 0;
  bool GetFieldData(TField* field, void* buffer, bool native_format);
  virtual void SetFieldData(TField* field, void* buffer) = 0;
  void SetFieldData(TField* field, void* buffer, bool native_format);
  // Native record form to the form the fields work with (ToNative false) and back:
  // date (Int32 days + 693594), time (Int32 ms) and date-time (double ms from 0001-01-01)
  // to and from TDateTime; every other type is copied (DataSize bytes).
  virtual void DataConvert(TField* field, const void* source, void* dest, bool to_native);
  // nullptr here: a descendant with BLOB fields creates their streams.
  virtual std::unique_ptr<TStream> CreateBlobStream(TField* field, TBlobStreamMode mode);
  virtual void CloseBlob(TField* /*field*/) {}
  virtual bool GetCurrentRecord(TRecordBuffer /*buffer*/) { return false; }
  // The field's value in another state (dsOldValue: before the edit).
  virtual Variant GetStateFieldValue(TDataSetState state, TField* field);

  // ---- events
  TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
  TDataSetNotifyEvent BeforeInsert, AfterInsert, BeforeEdit, AfterEdit;
  TDataSetNotifyEvent BeforePost, AfterPost, BeforeCancel, AfterCancel;
  TDataSetNotifyEvent BeforeDelete, AfterDelete, BeforeScroll, AfterScroll;
  TDataSetNotifyEvent BeforeRefresh, AfterRefresh;
  TDataSetNotifyEvent OnCalcFields, OnNewRecord;
  // An EDatabaseError of post, edit or delete goes to its event; the action decides:
  // daFail passes it on, daAbort ends the operation silently (EAbort), daRetry tries again.
  TDataSetErrorEvent OnPostError, OnEditError, OnDeleteError;

 protected:
  // ---- what a descendant supplies
  virtual void InternalOpen() = 0;
  virtual void InternalClose() = 0;
  virtual bool IsCursorOpen() = 0;
  virtual void InternalInitFieldDefs() = 0;
  virtual TRecordBuffer AllocRecordBuffer() = 0;
  virtual void FreeRecordBuffer(TRecordBuffer& buffer) = 0;
  virtual TGetResult GetRecord(TRecordBuffer buffer, TGetMode mode, bool do_check) = 0;
  virtual int GetRecordSize() { return 0; }
  virtual void InternalFirst() = 0;
  virtual void InternalLast() = 0;
  virtual void InternalInitRecord(TRecordBuffer buffer) = 0;
  // A new record: InternalInitRecord, the calculated fields cleared, flag bfInserted.
  virtual void InitRecord(TRecordBuffer buffer);
  virtual void InternalSetToRecord(TRecordBuffer buffer) = 0;
  // data holds BookmarkSize() bytes.
  virtual void InternalGotoBookmark(const uint8_t* data) = 0;
  virtual void GetBookmarkData(TRecordBuffer buffer, uint8_t* data) = 0;
  virtual void SetBookmarkData(TRecordBuffer buffer, const uint8_t* data) = 0;
  virtual TBookmarkFlag GetBookmarkFlag(TRecordBuffer buffer) = 0;
  virtual void SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) = 0;
  virtual void InternalInsert() {}
  virtual void InternalEdit() {}
  virtual void InternalCancel() {}
  // Here: the required-field check ("Field '%s' must have a value"); descendants call it
  // before they store the record.
  virtual void InternalPost();
  virtual void InternalDelete() = 0;
  // The record of buffer added at once (not called by this class; Post goes through
  // InternalPost).
  virtual void InternalAddRecord(TRecordBuffer /*buffer*/, bool /*append*/) {}
  virtual void InternalRefresh() {}
  // An exception that must not end the operation at hand (see exception_handler.h).
  virtual void InternalHandleException();
  virtual bool GetCanModify() { return true; }
  virtual int GetRecordCount() { return -1; }
  virtual int GetRecNo() { return -1; }
  virtual bool FindRecord(bool /*restart*/, bool /*go_forward*/) { return false; }
  virtual bool GetIsIndexField(TField* /*field*/) { return false; }
  virtual void ClearCalcFields(TRecordBuffer /*buffer*/) {}

  // ---- opening and closing, overridable steps
  // info_query: only the field definitions are wanted (InternalInitFieldDefs, no records).
  virtual void OpenCursor(bool info_query);
  virtual void CloseCursor();
  virtual void DataEvent(TDataEvent event, intptr_t info);
  virtual void DoOnNewRecord();
  virtual void DoBeforeScroll();
  virtual void DoAfterScroll();

  // ---- helpers for descendants
  void SetState(TDataSetState value);
  // Enters a state for reading or writing another buffer (filter, calculation, old value)
  // without telling the data sources; RestoreState returns to the saved one.
  TDataSetState SetTempState(TDataSetState value);
  void RestoreState(TDataSetState saved);
  void SetModified(bool value) { modified_ = value; }
  void SetBookmarkSize(int size) { bookmark_size_ = size; }
  void CreateFields();
  void DestroyFields();
  // Gives every field its definition number (data fields) or its offset in the
  // calculated-field area (calculated and lookup fields: one flag byte, then DataSize bytes).
  void BindFields(bool binding);
  void SetDefaultFields(bool v) { default_fields_ = v; }
  void CheckRequiredFields();
  void CheckCanModify();
  // Computes the calculated and lookup fields of a buffer (state dsCalcFields meanwhile).
  void GetCalcFields(TRecordBuffer buffer);
  virtual void CalculateFields(TRecordBuffer buffer);
  // Moves the cursor to the record of the active row when it is elsewhere.
  void UpdateCursorPos();
  // Forgets where the cursor is, so that the next use repositions it.
  void CursorPosChanged() { current_record_ = -1; }

  TRecordBuffer ActiveBuffer() const;
  TRecordBuffer TempBuffer() const;
  TRecordBuffer CalcBuffer() const { return calc_buffer_; }
  TRecordBuffer Buffer(int row) const;
  int ActiveRecord() const { return active_record_; }
  int RecordsInWindow() const { return record_count_; }
  int BufferCount() const { return buffer_count_; }

 private:
  friend class TDataLink;
  friend class TDataSource;
  friend class TField;
  friend class TFieldDefs;

  void CheckOperation(const std::function<void()>& operation, const TDataSetErrorEvent& on_error);
  void BeginInsertAppend();
  void EndInsertAppend();
  void FreeFieldBuffers();
  void SetCurrentRecord(int row);
  bool GetNextRecord();
  bool GetPriorRecord();
  int GetNextRecords();
  int GetPriorRecords();
  void MoveBuffer(int from, int to);
  void ActivateBuffers();
  void ClearBuffers();
  void AllocateBuffers();
  void FreeBuffers();
  void SetBufferCount(int count);
  void UpdateBufferCount();
  void SetActiveRecordRow(int row);
  void AddDataSource(TDataSource* source);
  void RemoveDataSource(TDataSource* source);

  std::string name_;
  TDataSetState state_ = dsInactive;
  bool modified_ = false;
  TFields fields_;
  TFieldDefs field_defs_;
  bool default_fields_ = false;
  bool internal_open_complete_ = false;
  int calc_fields_size_ = 0;
  bool auto_calc_fields_ = true;
  int bookmark_size_ = 0;

  std::vector<TRecordBuffer> buffers_;  // buffer_count_ + 1 while open; the last is scratch
  int buffer_count_ = 0;
  int record_count_ = 0;
  int active_record_ = 0;
  int current_record_ = -1;
  bool bof_ = true;
  bool eof_ = true;
  TRecordBuffer calc_buffer_ = nullptr;

  std::string filter_text_;
  bool filtered_ = false;
  TFilterOptions filter_options_;
  TFilterRecordEvent on_filter_record_;
  bool found_ = false;

  int disable_count_ = 0;
  TDataSetState disable_state_ = dsInactive;
  TDataEvent enable_event_ = deDataSetChange;
  std::vector<TDataSource*> data_sources_;
};

}  // namespace platform::data

#include <cstring>

#include "dbengine/access/orv_main_errors.h"
#include "dbengine/file/orv_disk_engine_table_interface.h"
#include "dbengine/storage/orv_base_engine_table.h"
#include "dbengine/storage/orv_converts.h"
#include "dbengine/sql/orv_sql_dml.h"
#include "dbengine/sql/orv_sql_select.h"
#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_str_utils.h"
#include "platform/base/clock.h"

namespace orv {

namespace {

// The cursor's result code of a record operation as the engine's record error; 0 passes.
void CheckCursor(TORVCursor& Cursor) {
  const int32_t code = Cursor.FErrorCode;
  if (code != 0) Check(code, Cursor.FErrorMessage);
}

}  // namespace

TORVSQLTargetTable::~TORVSQLTargetTable() {
  try {
    Close();
  } catch (...) {
    // A destructor never raises; the cursor's own destructor closes what is left.
  }
}

void TORVSQLTargetTable::Open(TORVBaseSession* Session, const std::string& TableName) {
  Close();
  FCursor = std::make_unique<TORVLocalCursor>();
  FCursor->FSession = Session;
  FCursor->FTableName = TableName;
  FCursor->OpenTableByFieldDefs(nullptr, nullptr, nullptr);
  FCursor->InternalInitFieldDefs();
  FBuffer = FCursor->AllocateRecordBuffer();
  FEditBuffer = FCursor->AllocateRecordBuffer();
  FCursor->FCurrentRecordBuffer = FBuffer;
  FState = State::Browse;
}

void TORVSQLTargetTable::Close() {
  if (!FCursor) return;
  if (FState != State::Browse) Cancel();
  UnlockAfterStatement();
  FCursor->FCurrentRecordBuffer = nullptr;
  FCursor->FEditRecordBuffer = nullptr;
  if (FBuffer) FCursor->FreeRecordBuffer(FBuffer);
  if (FEditBuffer) FCursor->FreeRecordBuffer(FEditBuffer);
  if (FCursor->FIsOpen) FCursor->CloseTable();
  FCursor.reset();
}

int32_t TORVSQLTargetTable::FieldCount() const { return FCursor->FFieldDefs ? FCursor->FFieldDefs->GetCount() : 0; }

int32_t TORVSQLTargetTable::FieldNo(const std::string& Name) const {
  for (int32_t i = 0; i < FieldCount(); ++i)
    if (AnsiUpperCase(FCursor->FFieldDefs->GetDef(i)->Name) == AnsiUpperCase(Name)) return i;
  return -1;
}

const TORVFieldDef& TORVSQLTargetTable::FieldDef(int32_t FieldNo) const {
  if (FieldNo < 0 || FieldNo >= FieldCount())
    throw EORVException(20191, "Invalid field number - FieldNo = %d, FieldCount = %d", {FieldNo, FieldCount()});
  return *FCursor->FFieldDefs->GetDef(FieldNo);
}

void TORVSQLTargetTable::Insert() {
  FCursor->FCurrentRecordBuffer = FBuffer;
  FCursor->InternalInitRecord(FBuffer, true);
  FCursor->InternalInsert();
  FState = State::Insert;
}

bool TORVSQLTargetTable::GotoBookmark(const TORVPageItemID& Bookmark) {
  FCursor->CurrentRecordID = Bookmark;
  FCursor->FirstPosition = FCursor->LastPosition = false;
  FCursor->FCurrentRecordBuffer = FBuffer;
  if (FCursor->GetRecordBuffer(grmCurrent) != grrOK) return false;
  // The edit, post and delete find their record through the buffer's bookmark.
  auto* bookmark = static_cast<uint8_t*>(FBuffer) + FCursor->FBookmarkOffset;
  FCursor->CurrentRecordID.WriteTo(bookmark);
  bookmark[TORVPageItemID::StoredSize] = abfCurrent;
  return true;
}

bool TORVSQLTargetTable::IsDiskTable() const {
  return dynamic_cast<IORVDiskTableData*>(FCursor->TableData()) != nullptr;
}

void TORVSQLTargetTable::Edit() {
  std::memcpy(FEditBuffer, FBuffer, static_cast<size_t>(FCursor->FRecordSize));
  FCursor->FCurrentRecordBuffer = FBuffer;
  FCursor->InternalEdit();
  CheckCursor(*FCursor);
  FState = State::Edit;
}

void TORVSQLTargetTable::Post() {
  const bool insert = FState == State::Insert;
  FCursor->FCurrentRecordBuffer = FBuffer;
  FCursor->FEditRecordBuffer = insert ? nullptr : FEditBuffer;
  FCursor->InternalPost(insert);
  FCursor->FEditRecordBuffer = nullptr;
  if (FCursor->FErrorCode != 0) {
    const int32_t code = FCursor->FErrorCode;
    const std::string message = FCursor->FErrorMessage;
    Cancel();
    Check(code, message);
  }
  FState = State::Browse;
}

void TORVSQLTargetTable::Cancel() {
  if (FState == State::Browse) return;
  const bool insert = FState == State::Insert;
  FState = State::Browse;
  try {
    FCursor->FCurrentRecordBuffer = FBuffer;
    FCursor->InternalCancel(insert);
  } catch (...) {
    // The error that led here is the one to report.
  }
}

void TORVSQLTargetTable::Delete() {
  FCursor->FCurrentRecordBuffer = FBuffer;
  FCursor->InternalDelete();
  CheckCursor(*FCursor);
}

bool TORVSQLTargetTable::InTransaction() const { return FCursor->FSession && FCursor->FSession->FInTransaction; }

bool TORVSQLTargetTable::LockForStatement(int32_t Tries, uint32_t PauseMs, bool HoldsTableData,
                                          TORVCursor* DataLockCursor) {
  for (int32_t refusals = 0;; ++refusals) {
    if (FCursor->LockTable(ltRW, 1, 0, true)) break;
    if (refusals >= Tries) return false;
    // Another cursor of this process may need the table's data to finish what holds the lock.
    if (HoldsTableData && DataLockCursor) DataLockCursor->UnlockTableData();
    platform::Sleep(PauseMs);
    if (HoldsTableData && DataLockCursor) DataLockCursor->LockTableData();
  }
  FHasRW = true;
  FHasXIRW = FCursor->LockTable(ltXIRW, 1, 0, true);
  return true;
}

void TORVSQLTargetTable::UnlockAfterStatement() {
  if (!FCursor) return;
  if (FHasXIRW) FCursor->UnlockTable(ltXIRW, true);
  if (FHasRW) FCursor->UnlockTable(ltRW, true);
  FHasXIRW = FHasRW = false;
}

// ---- Storing a value ------------------------------------------------------------------------

void SetORVVariantIntoField(TORVVariant* Value, TORVSQLTargetTable& Table, int32_t FieldNo) {
  if (!Value) throw EORVException(30359, "Value is Null");
  TORVLocalCursor& cursor = Table.Cursor();
  const TORVFieldDef& def = Table.FieldDef(FieldNo);
  if (Value->IsNull() || !IsBLOBFieldType(def.BaseFieldType)) {
    cursor.SetFieldValue(*Value, FieldNo, true, cursor.FCurrentRecordBuffer);
    return;
  }
  // A BLOB column takes text as text and any other value as its raw bytes, through the
  // column's stream, which the post stores with the record.
  std::string bytes;
  if (Value->IsWideStringDataType()) {
    const std::u16string wide = Value->GetDataAsWideString();
    bytes.assign(reinterpret_cast<const char*>(wide.data()), wide.size() * 2);
  } else if (Value->IsStringDataType()) {
    bytes = Value->GetDataAsAnsiString();
  } else {
    bytes.assign(static_cast<const char*>(Value->pData()), static_cast<size_t>(Value->DataSize()));
  }
  int32_t visible = -1;
  for (int32_t i = 0; cursor.FVisibleFieldDefs && i < cursor.FVisibleFieldDefs->GetCount(); ++i)
    if (cursor.FVisibleFieldDefs->GetDef(i)->FieldNoReference == FieldNo) visible = i;
  if (visible < 0) throw EORVException(10110, "Invalid field number - FieldNo = %d", {FieldNo});
  TORVStream* stream = cursor.InternalCreateBlobStream(Table.Inserting(), Table.Editing() && !Table.Inserting(), visible,
                                                       bomWrite, false);
  if (!stream) throw EORVException(10111, "Cannot open the BLOB of field '%s'", {def.Name});
  stream->SetSize(0);
  if (!bytes.empty()) stream->Write(bytes.data(), static_cast<int32_t>(bytes.size()));
  cursor.InternalCloseBLOB(visible);
}

}  // namespace orv

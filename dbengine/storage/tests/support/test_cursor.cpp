#include "dbengine/storage/tests/support/test_cursor.h"

#include <cstring>
#include <stdexcept>

#include "dbengine/storage/orv_converts.h"
#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_local_engine_blob_stream.h"
#include "dbengine/storage/orv_memory.h"

namespace orv::testing {

namespace {

// A copy of a record buffer, for the checks of post and delete.
class BufferCopy {
 public:
  BufferCopy(const void* source, int32_t size) : data_(static_cast<const uint8_t*>(source),
                                                       static_cast<const uint8_t*>(source) + size) {}
  void PutBack(void* target) const { std::memcpy(target, data_.data(), data_.size()); }
  const void* data() const { return data_.data(); }

 private:
  std::vector<uint8_t> data_;
};

}  // namespace

// ---- Session --------------------------------------------------------------------------------------

TestSession::TestSession(TORVDatabaseData& Database, bool MultiUser) : database_(&Database) {
  FMultiUser = MultiUser;
  SetConnected(true);
}

TestSession::~TestSession() {
  if (connected_) database_->DisconnectSession(this);
}

void TestSession::SetConnected(bool Value) {
  if (Value == connected_) return;
  if (Value)
    database_->ConnectSession(this);
  else
    database_->DisconnectSession(this);
  connected_ = Value;
}

void TestSession::DeleteDatabase() { throw std::logic_error("the test session does not delete databases"); }
void TestSession::RenameDatabase(const std::string&) {
  throw std::logic_error("the test session does not rename databases");
}

void TestSession::Commit(bool DoFlushBuffers) {
  database_->Commit(FSessionID, DoFlushBuffers);
  FInTransaction = false;
}

void TestSession::Rollback() {
  database_->Rollback(FSessionID);
  FInTransaction = false;
}

// ---- Cursor: tables ---------------------------------------------------------------------------------

TestCursor::TestCursor(TestSession& Session, const std::string& TableName) : session_(Session) {
  FSession = &Session;
  FTableName = TableName;
}

TestCursor::~TestCursor() {
  try {
    CloseTable();
  } catch (...) {
  }
}

void TestCursor::CreateTable(const TORVFieldDefs& FieldDefs, const TORVIndexDefs& IndexDefs,
                             const TORVConstraintDefs& ConstraintDefs) {
  TORVDatabaseData& db = session_.Database();
  TORVLockGuard<TORVDatabaseData> guard(db);
  CloseTable();
  TORVFieldDefs fields;
  fields.Assign(FieldDefs);
  TORVIndexDefs indexes;
  indexes.Assign(IndexDefs);
  TORVConstraintDefs constraints;
  constraints.Assign(ConstraintDefs);
  TORVTableData* table = db.FindOrCreateTableData(this);
  table->CreateTable(this, fields, indexes, constraints);
}

TORVTableData* TestCursor::FindTable() {
  TORVDatabaseData& db = session_.Database();
  TORVLockGuard<TORVDatabaseData> guard(db);
  if (TORVTableData* table = db.FindTableData(this)) return table;
  return db.TableExists(FTableName) ? db.CreateTableData(this) : nullptr;
}

void TestCursor::DeleteTable() {
  TORVDatabaseData& db = session_.Database();
  TORVLockGuard<TORVDatabaseData> guard(db);
  CloseTable();
  TORVTableData* table = FindTable();
  if (!table) throw std::invalid_argument("no table " + FTableName);
  table->DeleteTable(this, false);
  db.DeleteTableData(table);
}

void TestCursor::EmptyTable() {
  TORVDatabaseData& db = session_.Database();
  TORVLockGuard<TORVDatabaseData> guard(db);
  TORVTableData* table = FindTable();
  if (!table) throw std::invalid_argument("no table " + FTableName);
  table->EmptyTable(this);
}

void TestCursor::RenameTable(const std::string& NewTableName) {
  TORVDatabaseData& db = session_.Database();
  TORVLockGuard<TORVDatabaseData> guard(db);
  CloseTable();
  TORVTableData* table = FindTable();
  if (!table) throw std::invalid_argument("no table " + FTableName);
  table->RenameTable(NewTableName, this);
}

void TestCursor::InternalInitFieldDefs() {
  const TORVFieldDefs& table_fields = table_->FFieldManager->FFieldDefs;
  FFieldDefs = std::make_unique<TORVFieldDefs>();
  FFieldDefs->Assign(table_fields);
  FFieldDefs->RecalcFieldOffsets();
  if (!FSettingProjection) {
    FVisibleFieldDefs = std::make_unique<TORVFieldDefs>();
    FVisibleFieldDefs->Assign(*FFieldDefs);
    for (int32_t i = 0; i < FVisibleFieldDefs->GetCount(); ++i) FVisibleFieldDefs->GetDef(i)->FieldNoReference = i;
  }
  const int32_t count = FFieldDefs->GetCount();
  FFieldValuesOffset = count ? FFieldDefs->GetDef(0)->MemoryOffset : 0;
  FBookmarkOffset = count ? FFieldDefs->GetDef(count - 1)->MemoryOffset + FFieldDefs->GetDef(count - 1)->MemoryDataSize : 0;
  FKeyOffset = FBookmarkOffset;
  FKeyBufferSize = FBookmarkOffset + 6;
  FRecordSize = FRecordBufferSize = FCalculatedFieldsOffset = FBookmarkOffset + 7;
  FConstraintDefs = std::make_unique<TORVConstraintDefs>();
  FConstraintDefs->Assign(table_->FConstraintManager->FConstraintDefs);
}

void TestCursor::OpenTableByFieldDefs(const TORVFieldDefs*, const TORVIndexDefs*, const TORVConstraintDefs*) {
  if (FIsOpen) return;
  TORVDatabaseData& db = session_.Database();
  TORVLockGuard<TORVDatabaseData> guard(db);
  TORVTableData* table = FindTable();
  if (!table) throw std::invalid_argument("no table " + FTableName);
  table->OpenTable(this);
  table_ = table;
  FirstPosition = true;
  LastPosition = false;
  FIndexDefs = std::make_unique<TORVIndexDefs>();
  FIndexDefs->Assign(table_->FIndexManager->FIndexDefs);
  InternalInitFieldDefs();
  FRecordBitmap = std::make_unique<TORVRecordBitmap>(table_);
  AllocateBuffers();
  FIsOpen = true;
}

void TestCursor::CloseTable() {
  if (table_) {
    TORVLockGuard<TORVDatabaseData> guard(session_.Database());
    // Streams still open are dropped, not written: nothing will store the record they belong to.
    FBLOBStreams.clear();
    table_->CloseTable(this);
  }
  FFilterExpression.reset();
  FRecordBitmap.reset();
  FreeBuffers();
  table_ = nullptr;
  FIsOpen = false;
}

void TestCursor::AllocateBuffers() {
  FreeBuffers();
  FCurrentRecordBuffer = AllocateRecordBuffer();
  FEditRecordBuffer = AllocateRecordBuffer();
}

void TestCursor::FreeBuffers() {
  if (FCurrentRecordBuffer) FreeRecordBuffer(FCurrentRecordBuffer);
  if (FEditRecordBuffer) FreeRecordBuffer(FEditRecordBuffer);
}

void TestCursor::LockTableData() {
  if (!table_) throw EORVException(10260, "Nil pointer occured");
  table_->Lock();
}

void TestCursor::UnlockTableData() {
  if (!table_) throw EORVException(10261, "Nil pointer occured");
  table_->Unlock();
}

// ---- Cursor: fields and indexes ----------------------------------------------------------------------

void TestCursor::RefreshDefs() {
  if (!table_) return;
  if (FIndexDefs) FIndexDefs->Assign(table_->FIndexManager->FIndexDefs);
  if (FConstraintDefs) FConstraintDefs->Assign(table_->FConstraintManager->FConstraintDefs);
}

void TestCursor::RenameField(const std::string& FieldName, const std::string& NewFieldName) {
  TORVCursor::RenameField(FieldName, NewFieldName);
  table_->RenameField(FieldName, NewFieldName);
  InternalInitFieldDefs();
  RefreshDefs();
}

TORVIndexDefs* TestCursor::GetIndexDefs() {
  RefreshDefs();
  return FIndexDefs.get();
}

void TestCursor::AddIndex(TORVIndexDef& IndexDef) {
  if (FIndexDefs && FIndexDefs->GetDefByName(IndexDef.Name))
    throw EORVException(20022, "Cannot create index '%s'. Index already exists", {IndexDef.Name});
  table_->AddIndex(IndexDef, this);
  RefreshDefs();
}

void TestCursor::DeleteIndex(const std::string& Name) {
  const TORVMetaObjectDef* def = FIndexDefs ? FIndexDefs->GetDefByName(Name) : nullptr;
  if (!def) throw EORVException(20021, "Cannot delete index '%s'. Index not found", {Name});
  table_->DeleteIndex(def->ObjectID, this);
  RefreshDefs();
}

void TestCursor::DeleteAllIndexes() {
  table_->DeleteAllIndexes(this);
  RefreshDefs();
}

std::string TestCursor::FindOrCreateIndex(const std::vector<std::string>& FieldNamesList,
                                          const std::vector<std::string>& AscDescList,
                                          const std::vector<std::string>& CaseSensitivityList, bool& IsCreated) {
  // Aliases of a projection name their physical fields.
  std::vector<std::string> names = FieldNamesList;
  for (std::string& n : names) {
    if (FFieldDefs->GetDefByName(n)) continue;
    if (const TORVFieldDef* visible = FVisibleFieldDefs->GetFieldDefByName(n))
      n = FFieldDefs->GetDef(visible->FieldNoReference)->Name;
  }
  std::string name = table_->FindOrCreateIndex(this, names, AscDescList, CaseSensitivityList, IsCreated);
  RefreshDefs();
  return name;
}

bool TestCursor::IndexExists(const std::vector<std::string>& FieldNamesList, const std::vector<std::string>& AscDescList,
                             const std::vector<std::string>& CaseSensitivityList) {
  return table_->IndexExists(this, FieldNamesList, AscDescList, CaseSensitivityList);
}

void TestCursor::CopyFieldValue(int32_t SrcFieldNo, bool DirectAccess, int32_t DestFieldNo, TORVCursor* DestCursor) {
  const TORVFieldDefs& source = DirectAccess ? *FFieldDefs : *FVisibleFieldDefs;
  if (SrcFieldNo < 0 || SrcFieldNo >= source.GetCount())
    throw EORVException(10501, "Invalid field number - FieldNo = %d, FieldCount = %d", {SrcFieldNo, source.GetCount()});
  const int32_t dest_count = DestCursor->FVisibleFieldDefs->GetCount();
  if (DestFieldNo < 0 || DestFieldNo >= dest_count)
    throw EORVException(10502, "Invalid field number - FieldNo = %d, FieldCount = %d", {DestFieldNo, dest_count});
  const TORVFieldDef* src = source.GetDef(SrcFieldNo);
  const int32_t src_flag = DirectAccess ? SrcFieldNo : src->FieldNoReference;
  const TORVFieldDef* dst_visible = DestCursor->FVisibleFieldDefs->GetDef(DestFieldNo);
  const int32_t dst_flag = dst_visible->FieldNoReference;
  const TORVFieldDef* dst = DestCursor->FFieldDefs->GetDef(dst_flag);
  auto* from = static_cast<const uint8_t*>(FCurrentRecordBuffer);
  auto* to = static_cast<uint8_t*>(DestCursor->FCurrentRecordBuffer);
  if (CheckNullFlag(src_flag, from)) {
    SetNullFlag(true, dst_flag, to);
    return;
  }
  if (src->BaseFieldType == dst->BaseFieldType && !IsBLOBFieldType(src->BaseFieldType) &&
      src->MemoryDataSize == dst->MemoryDataSize) {
    SetNullFlag(false, dst_flag, to);
    std::memcpy(to + dst->MemoryOffset, from + src->MemoryOffset, static_cast<size_t>(src->MemoryDataSize));
    return;
  }
  if (IsBLOBFieldType(src->BaseFieldType)) throw std::logic_error("the test cursor copies no BLOBs");
  TORVVariant value;
  GetFieldValue(value, SrcFieldNo, DirectAccess);
  DestCursor->SetFieldValue(value, DestFieldNo, false, nullptr);
}

// ---- Cursor: records ------------------------------------------------------------------------------------

void TestCursor::InternalInitRecord(void* RecordBuffer, bool InsertMode) {
  const TORVBaseFieldManager& fields = *table_->FFieldManager;
  auto* record = static_cast<uint8_t*>(RecordBuffer);
  const auto flags = static_cast<size_t>(fields.NullFlagsSize());
  std::memset(record, 0xFF, flags);
  std::memset(record + flags, 0, static_cast<size_t>(fields.FFieldDefs.GetMemoryRecordBufferSize()) - flags);
  if (InsertMode && !FTemporary) table_->FFieldManager->ApplyDefaultValuesToRecordBuffer(FSession, RecordBuffer);
}

int64_t TestCursor::GetRecordCount() { return table_->GetRecordCount(this); }

void TestCursor::WriteBookmark(void* Buffer, TORVBookmarkFlag Flag) const {
  auto* p = static_cast<uint8_t*>(Buffer) + FBookmarkOffset;
  CurrentRecordID.WriteTo(p);
  p[TORVPageItemID::StoredSize] = Flag;
}

TORVPageItemID TestCursor::BookmarkOf(const void* Buffer) const {
  return TORVPageItemID::ReadFrom(static_cast<const uint8_t*>(Buffer) + FBookmarkOffset);
}

TORVGetRecordResult TestCursor::GetRecordBuffer(TORVGetRecordMode GetRecordMode) {
  TORVLockGuard<TORVTableData> guard(*table_);
  const TORVGetRecordResult result = table_->GetRecordBuffer(this, GetRecordMode);
  if (result == grrOK) WriteBookmark(FCurrentRecordBuffer, abfCurrent);
  return result;
}

void TestCursor::SetRecNo(int64_t Value) { table_->SetRecNo(this, Value); }
int64_t TestCursor::GetRecNo() { return table_->GetRecNo(this); }

int32_t TestCursor::CompareRecordsOrder(const TORVPageItemID& RecordID1, const TORVPageItemID& RecordID2) {
  if (IsIndexApplied()) {
    TORVCursorPos* pos = SavePosition();
    void* const current = FCurrentRecordBuffer;
    void* first = AllocateRecordBuffer();
    void* second = AllocateRecordBuffer();
    int32_t result = 0;
    bool decided = false;
    try {
      const auto read = [&](const TORVPageItemID& id, void* buffer) {
        FirstPosition = LastPosition = false;
        CurrentRecordID = id;
        FCurrentRecordBuffer = buffer;
        return GetRecordBuffer(grmCurrent) == grrOK;
      };
      if (!read(RecordID1, first)) {
        result = -1;
        decided = true;
      } else if (!read(RecordID2, second)) {
        result = 1;
        decided = true;
      } else {
        TORVIndex* index = table_->FIndexManager->OpenIndex(FIndexID);
        result = index->CompareRecordBuffersByIndex(first, second, index->IndexDef()->ColumnCount());
        decided = result != 0;
      }
    } catch (...) {
      FCurrentRecordBuffer = current;
      RestorePosition(pos);
      FreePosition(pos);
      FreeRecordBuffer(first);
      FreeRecordBuffer(second);
      throw;
    }
    FCurrentRecordBuffer = current;
    RestorePosition(pos);
    FreePosition(pos);
    FreeRecordBuffer(first);
    FreeRecordBuffer(second);
    if (decided) return result;
  }
  if (RecordID1.PageNo != RecordID2.PageNo) return RecordID1.PageNo < RecordID2.PageNo ? -1 : 1;
  if (RecordID1.PageItemNo != RecordID2.PageItemNo) return RecordID1.PageItemNo < RecordID2.PageItemNo ? -1 : 1;
  return 0;
}

void TestCursor::InternalFirst() {
  FirstPosition = true;
  LastPosition = false;
}

void TestCursor::InternalLast() {
  FirstPosition = false;
  LastPosition = true;
}

void TestCursor::InternalEdit() { FErrorCode = 0; }

void TestCursor::InternalPost(bool ToInsert) {
  TORVLockGuard<TORVTableData> guard(*table_);
  try {
    if (ToInsert) {
      if (log) log->push_back("fields.ApplyAutoincsToRecordBuffer");
      table_->FFieldManager->ApplyAutoincsToRecordBuffer(FSession, FCurrentRecordBuffer);
    }
    if (!FTemporary) {
      if (log) log->push_back("constraints.CheckConstraints");
      table_->FConstraintManager->CheckConstraints(GetSessionID(), FCurrentRecordBuffer, FEditRecordBuffer, ToInsert,
                                                   CurrentRecordID, true, true);
    }
  } catch (const EORVException& e) {
    FErrorCode = -8;
    FErrorMessage = e.what();
    return;
  }
  ClearBLOBStreams(true);
  if (ToInsert) {
    FErrorCode = table_->InsertRecord(this) ? 0 : -1;
    WriteBookmark(FCurrentRecordBuffer, abfInserted);
    return;
  }
  CurrentRecordID = BookmarkOf(FCurrentRecordBuffer);
  const BufferCopy new_values(FCurrentRecordBuffer, FRecordBufferSize);
  FirstPosition = LastPosition = false;
  if (GetRecordBuffer(grmCurrent) != grrOK) {
    FErrorCode = -6;
  } else if (!table_->FFieldManager->CompareRecordBuffers(FCurrentRecordBuffer, FEditRecordBuffer)) {
    FErrorCode = -4;
  } else {
    new_values.PutBack(FCurrentRecordBuffer);
    FErrorCode = table_->UpdateRecord(this) ? 0 : -2;
    return;
  }
  new_values.PutBack(FCurrentRecordBuffer);
}

void TestCursor::InternalDelete() {
  TORVLockGuard<TORVTableData> guard(*table_);
  if (FTemporary) {
    FErrorCode = -10;
    return;
  }
  CurrentRecordID = BookmarkOf(FCurrentRecordBuffer);
  const BufferCopy copy(FCurrentRecordBuffer, FRecordSize);
  FirstPosition = LastPosition = false;
  if (GetRecordBuffer(grmCurrent) != grrOK) {
    FErrorCode = -7;
  } else if (!orv::CompareRecordBuffers(FCurrentRecordBuffer, copy.data(), FRecordSize)) {
    FErrorCode = -5;
  } else {
    copy.PutBack(FCurrentRecordBuffer);
    FErrorCode = table_->DeleteRecord(this) ? 0 : -3;
    return;
  }
  copy.PutBack(FCurrentRecordBuffer);
}

// ---- Cursor: views -------------------------------------------------------------------------------------

void TestCursor::ApplyDistinct(const std::vector<std::string>& FieldNamesList,
                               const std::vector<std::string>& AscDescList,
                               const std::vector<std::string>& CaseSensitivityList) {
  TORVLockGuard<TORVTableData> guard(*table_);
  bool created = false;
  SetIndexName(FindOrCreateIndex(FieldNamesList, AscDescList, CaseSensitivityList, created));
  FDistinctFieldCount = static_cast<int32_t>(FieldNamesList.size());
  DisableRecordBitmap();
}

void TestCursor::ActivateFilters(const std::string& FilterText, bool CaseInsensitive, bool PartialKey) {
  FFilterExpression.reset();
  FFilterExpression = GetExpressionFactory().ParseForFilter(*this, FilterText, CaseInsensitive, PartialKey);
  DisableRecordBitmap();
}

void TestCursor::DeactivateFilters() {
  FFilterExpression.reset();
  DisableRecordBitmap();
}

bool TestCursor::Locate(const std::string&, const std::vector<TORVVarValue>&, bool, bool) {
  throw std::logic_error("the test cursor cannot locate by values: that needs the expression engine");
}

bool TestCursor::FindKey(TORVSearchCondition SearchCondition) { return table_->FindKey(this, SearchCondition); }

bool TestCursor::IsAnyRecordMatchCondition(const std::string&, TORVDataOperator, const TORVVariant&) {
  throw std::logic_error("the test cursor cannot match conditions: that needs the expression engine");
}

int32_t TestCursor::PhysicalFieldNo(int32_t VisibleFieldNo) const {
  return FVisibleFieldDefs->GetDef(VisibleFieldNo)->FieldNoReference;
}

TORVStream* TestCursor::InternalCreateBlobStream(bool ToInsert, bool, int32_t FieldNo, TORVBLOBOpenMode OpenMode,
                                                 bool) {
  TORVLockGuard<TORVTableData> guard(*table_);
  const int32_t count = FVisibleFieldDefs->GetCount();
  if (FieldNo < 0 || FieldNo >= count)
    throw EORVException(10110, "Invalid field number - FieldNo = %d, FieldCount = %d", {FieldNo, count});
  const int32_t physical = PhysicalFieldNo(FieldNo);
  if (OpenMode != bomRead) {
    for (const auto& s : FBLOBStreams) {
      const auto* local = static_cast<const TORVLocalBLOBStream*>(s.get());
      if (local->FieldNo() == physical && local->OpenedForWriting())
        throw EORVException(10115, "BLOB field already opened. FieldNo = %d, FieldName = %s",
                            {physical, FFieldDefs->GetDef(physical)->Name});
    }
  }
  TORVStream* stream = table_->InternalCreateBlobStream(this, ToInsert, physical, OpenMode);
  if (stream) FBLOBStreams.emplace_back(stream);
  return stream;
}

void TestCursor::CloseBLOBStream(size_t Index) {
  auto* local = static_cast<TORVLocalBLOBStream*>(FBLOBStreams[Index].get());
  std::unique_ptr<TORVStream> stream = std::move(FBLOBStreams[Index]);
  FBLOBStreams.erase(FBLOBStreams.begin() + static_cast<std::ptrdiff_t>(Index));
  if (local->OpenedForWriting()) table_->WriteBLOBFieldToRecordBuffer(this, local->FieldNo(), local);
}

void TestCursor::InternalCloseBLOB(int32_t FieldNo) {
  TORVLockGuard<TORVTableData> guard(*table_);
  const int32_t count = FVisibleFieldDefs->GetCount();
  if (FieldNo < 0 || FieldNo >= count)
    throw EORVException(10118, "Invalid field number - FieldNo = %d, FieldCount = %d", {FieldNo, count});
  const int32_t physical = PhysicalFieldNo(FieldNo);
  for (size_t i = 0; i < FBLOBStreams.size();) {
    if (static_cast<TORVLocalBLOBStream*>(FBLOBStreams[i].get())->FieldNo() == physical)
      CloseBLOBStream(i);
    else
      ++i;
  }
}

void TestCursor::ClearBLOBStreams(bool WriteOnly) {
  for (size_t i = 0; i < FBLOBStreams.size();) {
    if (!WriteOnly || static_cast<TORVLocalBLOBStream*>(FBLOBStreams[i].get())->OpenedForWriting())
      CloseBLOBStream(i);
    else
      ++i;
  }
}

void TestCursor::InternalCancel(bool ToInsert) {
  FErrorCode = 0;
  if (!table_) return;
  TORVLockGuard<TORVTableData> guard(*table_);
  ClearBLOBStreams(true);
  if (ToInsert) table_->ClearBLOBFieldsInRecordBuffer(FCurrentRecordBuffer);
  table_->ReleaseUnstoredBLOBs(this);
}

int64_t TestCursor::LastAutoincValue(int32_t FieldNo) { return table_->LastAutoincValue(FieldNo, FSession); }

void TestCursor::BeginBatchUpdate() {
  if (!FSession->FInTransaction) FBatchUpdate = true;
}

void TestCursor::EndBatchUpdate() { FBatchUpdate = false; }
void TestCursor::CancelBatchUpdate() { FBatchUpdate = false; }

bool TestCursor::CheckConstraints(bool ToInsert) {
  return table_->FConstraintManager->CheckConstraints(GetSessionID(), FCurrentRecordBuffer, FEditRecordBuffer,
                                                      ToInsert, CurrentRecordID, false, true);
}

// ---- What the dataset would do -----------------------------------------------------------------------

int32_t TestCursor::FieldNo(const std::string& FieldName) const {
  const int32_t no = FVisibleFieldDefs->GetDefNumberByName(FieldName);
  if (no < 0) throw std::invalid_argument("no field " + FieldName);
  return no;
}

void TestCursor::BeginInsert() { InternalInitRecord(FCurrentRecordBuffer, true); }

void TestCursor::BeginEdit() {
  std::memcpy(FEditRecordBuffer, FCurrentRecordBuffer, static_cast<size_t>(FRecordBufferSize));
  InternalEdit();
}

void TestCursor::Set(const std::string& FieldName, const std::optional<int64_t>& Value) {
  TORVVariant v;
  if (Value) v.SetDataAsSignedInt64(*Value);
  SetFieldValue(v, FieldNo(FieldName), false, nullptr);
}

void TestCursor::SetText(const std::string& FieldName, const std::optional<std::string>& Value) {
  TORVVariant v(bftVarchar);
  if (Value) v.SetData(Value->c_str(), static_cast<int32_t>(Value->size()) + 1, bftVarchar, true);
  SetFieldValue(v, FieldNo(FieldName), false, nullptr);
}

std::optional<int64_t> TestCursor::GetInt(const std::string& FieldName) {
  TORVVariant v;
  GetFieldValue(v, FieldNo(FieldName), false);
  if (v.GetIsNull()) return std::nullopt;
  return v.GetDataAsSignedInt64();
}

std::optional<std::string> TestCursor::GetText(const std::string& FieldName) {
  TORVVariant v;
  GetFieldValue(v, FieldNo(FieldName), false);
  if (v.GetIsNull()) return std::nullopt;
  return v.GetDataAsAnsiString();
}

int32_t TestCursor::InsertRow(const std::vector<std::pair<std::string, std::optional<int64_t>>>& Values) {
  BeginInsert();
  for (const auto& [name, value] : Values) Set(name, value);
  InternalPost(true);
  return FErrorCode;
}

void TestCursor::SetBlob(const std::string& FieldName, const std::vector<uint8_t>& Bytes) {
  const int32_t no = FieldNo(FieldName);
  TORVStream* s = InternalCreateBlobStream(false, false, no, bomWrite, false);
  if (!Bytes.empty()) s->WriteBuffer(Bytes.data(), static_cast<int64_t>(Bytes.size()));
  s->SetModified(true);
  InternalCloseBLOB(no);
}

std::vector<uint8_t> TestCursor::GetBlob(const std::string& FieldName) {
  const int32_t no = FieldNo(FieldName);
  TORVStream* s = InternalCreateBlobStream(false, false, no, bomRead, false);
  std::vector<uint8_t> bytes(static_cast<size_t>(s->GetSize()));
  s->Seek(0, soBeginning);
  if (!bytes.empty()) s->ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  InternalCloseBLOB(no);
  return bytes;
}

std::vector<std::optional<int64_t>> TestCursor::Column(const std::string& FieldName) {
  std::vector<std::optional<int64_t>> out;
  InternalFirst();
  while (GetRecordBuffer(grmNext) == grrOK) out.push_back(GetInt(FieldName));
  return out;
}

}  // namespace orv::testing

#include "dbengine/access/orv_main_table.h"

#include <cstring>
#include <utility>

#include "dbengine/access/orv_main_blob_stream.h"
#include "dbengine/access/orv_main_session.h"
#include "dbengine/storage/orv_base_defs.h"
#include "dbengine/storage/orv_converts.h"
#include "dbengine/storage/orv_design_mode.h"
#include "dbengine/storage/orv_except.h"
#include "platform/base/cp1252.h"
#include "platform/data/blob_field.h"
#include "platform/data/same_text.h"

namespace orv {

using namespace platform::data;

TORVTable::TORVTable(TORVComponent* AOwner) : TORVDataSet(AOwner), FMasterLink(this) {
  FMasterLink.OnMasterChange = [this] { MasterChanged(); };
  FMasterLink.OnMasterDisable = [this] { MasterDisabled(); };
}

TORVTable::~TORVTable() {
  try {
    // Closing needs this class's overrides; the base destructor would run without them.
    Close();
  } catch (...) {
  }
  try {
    FMasterLink.SetDataSource(nullptr);
  } catch (...) {
  }
}

// ---------------------------------------------------------------- properties

void TORVTable::SetTableName(const std::string& Value) {
  if (Value == FTableName) return;
  CheckInactive();
  FTableName = Value;
  DataEvent(dePropertyChange, 0);
}

void TORVTable::SetExclusive(bool Value) {
  CheckInactive();
  FExclusive = Value;
}

void TORVTable::SetTemporary(bool Value) {
  CheckInactive();
  FTemporary = Value;
  if (Value) SetDatabaseName(TemporaryDatabaseName);
}

void TORVTable::CheckBlankTableName() {
  if (TrimText(FTableName).empty()) DatabaseError("Missing TableName property", Name());
}

bool TORVTable::Exists() {
  if (DatabaseName().empty()) return false;
  try {
    TORVDatabase* db = Database();
    if (db) return db->TableExists(platform::Utf8ToCp1252(FTableName));
    db = OpenDatabase();
    bool exists = false;
    try {
      exists = db->TableExists(platform::Utf8ToCp1252(FTableName));
    } catch (...) {
      CloseDatabase(db);
      throw;
    }
    CloseDatabase(db);
    return exists;
  } catch (...) {
    return false;
  }
}

void TORVTable::SetMasterSource(TDataSource* Value) {
  if (Value && IsLinkedTo(Value)) DatabaseError("Circular datalinks are not allowed", Name());
  FMasterLink.SetDataSource(Value);
}

void TORVTable::DataEvent(TDataEvent Event, intptr_t Info) {
  if (Event == dePropertyChange) IndexDefs().SetUpdated(false);
  TORVDataSet::DataEvent(Event, Info);
}

// ---------------------------------------------------------------- the cursor

bool TORVTable::DisableTempFilesFor() const {
  if (InMemory()) return true;
  TORVDatabase* db = Database();
  if (!db) return FDisableTempFiles;
  return db->Temporary() ? FDisableTempFiles : db->DisableTempFiles();
}

void TORVTable::AddPersistentFieldsToFieldDefs() {
  for (int i = 0; i < FieldCount(); ++i) {
    TField* f = Fields()[i];
    if (f->FieldKind() != fkData || FindFieldInFieldDefs(FieldDefs(), platform::Utf8ToCp1252(f->FieldName())))
      continue;
    FieldDefs().Add(f->FieldName(), f->DataType(), f->IsBlob() || f->Size() > 0 ? f->Size() : 0, f->Required());
  }
}

std::unique_ptr<TORVLocalCursor> TORVTable::GetHandle() {
  TORVDatabase* db = Database();
  if (!db || !db->Handle()) throw EORVException(10311, "Nil pointer occured");
  auto cursor = std::make_unique<TORVLocalCursor>();
  cursor->FSession = db->Handle();
  cursor->FTableName = platform::Utf8ToCp1252(FTableName);
  cursor->FExclusive = FExclusive;
  cursor->FReadOnly = ReadOnly() || db->ReadOnly();
  cursor->FInMemory = InMemory();
  cursor->FTemporary = FTemporary;
  cursor->FDisableTempFiles = DisableTempFilesFor();
  cursor->FIsDesignMode = IgnoreDesignMode() ? false : IsDesignMode();
  cursor->FIsRepairing = FIsRepairing;
  AddPersistentFieldsToFieldDefs();
  if (FTemporary || InMemory()) {
    if (FieldDefs().Count() == 0) {
      ConvertAdvFieldDefsToFieldDefs(AdvFieldDefs(), FieldDefs());
    } else {
      ORVFieldDefs().Clear();
      ConvertFieldDefsToORVFieldDefs(FieldDefs(), ORVFieldDefs());
    }
    if (IndexDefs().Count() > 0) {
      ORVIndexDefs().Clear();
      ConvertIndexDefsToAdvIndexDefs(IndexDefs(), AdvIndexDefs());
      ConvertAdvIndexDefsToORVIndexDefs(AdvIndexDefs(), ORVIndexDefs(), FieldDefs());
    }
  }
  cursor->OpenTableByFieldDefs(&ORVFieldDefs(), &ORVIndexDefs(), &ORVConstraintDefs());
  SetReadOnlyValue(cursor->FReadOnly);
  return cursor;
}

TORVCursor* TORVTable::CreateHandle() {
  CheckBlankTableName();
  IndexDefs().SetUpdated(false);
  if (FExternalHandle) {
    AdoptHandle(FExternalHandle);
  } else {
    AdoptHandle(GetHandle().release());
  }
  IndexDefs().Update();
  const std::string index = GetIndexParams(FIndexName, FFieldsIndex);
  if (!index.empty()) Handle()->SetIndexName(platform::Utf8ToCp1252(index));
  return Handle();
}

void TORVTable::InitFieldDefs() {
  if (IsCursorOpen()) {
    InternalInitFieldDefs();
    return;
  }
  TORVDBFlagGuard flag(*this, dbfFieldList);
  CheckBlankTableName();
  std::unique_ptr<TORVLocalCursor> cursor = GetHandle();
  cursor->InternalInitFieldDefs();
  ORVFieldDefs().Assign(*cursor->FVisibleFieldDefs);
  ConvertORVFieldDefsToFieldDefs(*cursor->FVisibleFieldDefs, *cursor->FConstraintDefs, FieldDefs());
  ConvertORVFieldDefsToAdvFieldDefs(*cursor->FVisibleFieldDefs, *cursor->FFieldDefs, *cursor->FConstraintDefs,
                                    AdvFieldDefs());
  RestructureFieldDefs().Assign(AdvFieldDefs());
}

void TORVTable::UpdateIndexDefs() {
  if (IndexDefs().Updated()) return;
  TORVDBFlagGuard flag(*this, dbfIndexList);
  FieldDefs().Update();
  std::unique_ptr<TORVLocalCursor> temporary;
  TORVCursor* cursor = Handle();
  if (!cursor) {
    temporary = GetHandle();
    cursor = temporary.get();
  }
  ConvertORVIndexDefsToAdvIndexDefs(*cursor->GetIndexDefs(), AdvIndexDefs());
  ConvertAdvIndexDefsToIndexDefs(AdvIndexDefs(), IndexDefs());
  RestructureIndexDefs().Assign(AdvIndexDefs(), false);
  IndexDefs().SetUpdated(true);
}

std::string TORVTable::GetIndexParams(const std::string& IndexName, bool FieldsIndex) {
  if (IndexName.empty()) return {};
  IndexDefs().SetUpdated(false);
  IndexDefs().Update();
  if (!FieldsIndex) return IndexName;
  return IndexDefs().FindIndexForFields(IndexName)->Name();
}

void TORVTable::SetIndex(const std::string& Value, bool FieldsIndex) {
  if (Active()) CheckBrowseMode();
  if (Value == FIndexName && FieldsIndex == FFieldsIndex) return;
  if (Active()) {
    const std::string index = GetIndexParams(Value, FieldsIndex);
    SwitchToIndex(platform::Utf8ToCp1252(index));
    CheckMasterRange();
  }
  FIndexName = Value;
  FFieldsIndex = FieldsIndex;
  if (Active()) Resync({});
}

// ---------------------------------------------------------------- index fields and keys

TField* TORVTable::GetIndexField(int32_t Index) {
  if (Index < 0 || Index >= FIndexFieldCount) DatabaseError("Field index out of range", Name());
  const int no = FIndexFieldMap[static_cast<size_t>(Index)];
  TField* field = Fields().FieldByNumber(no);
  if (!field) {
    const std::string name = no >= 1 && no <= FieldDefs().Count() ? FieldDefs()[no - 1]->Name() : std::string();
    DatabaseError(FormatText("Cannot access index field '%s'", {name}), Name());
  }
  return field;
}

bool TORVTable::KeyExclusive() {
  Cursor(10282);
  if (State() != dsSetKey) DatabaseError("Dataset not in edit or insert mode", Name());
  return KeyExclusiveOf(FKeyBuffer);
}

void TORVTable::SetKeyExclusive(bool Value) {
  Cursor(10283);
  if (State() != dsSetKey) DatabaseError("Dataset not in edit or insert mode", Name());
  SetKeyExclusiveOf(FKeyBuffer, Value);
}

int32_t TORVTable::KeyFieldCount() {
  Cursor(10284);
  if (State() != dsSetKey) DatabaseError("Dataset not in edit or insert mode", Name());
  return KeyFieldCountOf(FKeyBuffer);
}

void TORVTable::SetKeyFieldCount(int32_t Value) {
  Cursor(10285);
  if (State() != dsSetKey) DatabaseError("Dataset not in edit or insert mode", Name());
  SetKeyFieldCountOf(FKeyBuffer, Value);
}

void TORVTable::SetKeyBuffer(TORVKeyIndex KeyIndex, bool Clear) {
  TORVCursor& cursor = Cursor(10286);
  CheckBrowseMode();
  FKeyBuffer = KeyBuffer(KeyIndex);
  std::memcpy(KeyBuffer(kiSave), FKeyBuffer, static_cast<size_t>(cursor.FKeyBufferSize));
  if (Clear) InitKeyBuffer(FKeyBuffer);
  SetState(dsSetKey);
  SetModified(KeyModified(FKeyBuffer));
  DataEvent(deDataSetChange, 0);
}

void TORVTable::PostKeyBuffer(bool Commit) {
  TORVCursor& cursor = Cursor(10288);
  DataEvent(deCheckBrowseMode, 0);
  if (Commit) {
    SetKeyModified(FKeyBuffer, Modified());
  } else {
    std::memcpy(FKeyBuffer, KeyBuffer(kiSave), static_cast<size_t>(cursor.FKeyBufferSize));
  }
  SetState(dsBrowse);
  DataEvent(deDataSetChange, 0);
}

void TORVTable::Post() {
  TORVDataSet::Post();
  if (State() == dsSetKey) PostKeyBuffer(true);
}

void TORVTable::Cancel() {
  TORVDataSet::Cancel();
  if (State() == dsSetKey) PostKeyBuffer(false);
}

void TORVTable::SetKeyFields(TORVKeyIndex KeyIndex, const std::vector<Variant>& Values) {
  Cursor(10289);
  if (!IsIndexApplied()) DatabaseError("No index currently active", Name());
  const TDataSetState saved = SetTempState(dsSetKey);
  try {
    FKeyBuffer = InitKeyBuffer(KeyBuffer(KeyIndex));
    for (size_t i = 0; i < Values.size(); ++i) GetIndexField(static_cast<int32_t>(i))->AssignValue(Values[i]);
    SetKeyFieldCountOf(FKeyBuffer, static_cast<int32_t>(Values.size()));
    SetKeyModified(FKeyBuffer, Modified());
  } catch (...) {
    RestoreState(saved);
    throw;
  }
  RestoreState(saved);
}

bool TORVTable::LockShared() {
  try {
    return Handle()->LockTable(ltS, 900, 100, true);
  } catch (...) {
    return false;
  }
}

void TORVTable::UnlockShared(bool Locked) {
  if (Locked) Handle()->UnlockTable(ltS, true);
}

void TORVTable::PrepareKeySearch() {
  TORVCursor& cursor = *Handle();
  uint8_t* key = KeyBuffer(kiLookup);
  cursor.FKeyBuffer = key;
  const int32_t count = KeyFieldCountOf(key);
  cursor.FKeyFieldCount = count != 0 ? count : FIndexFieldCount;
}

bool TORVTable::GotoKey() {
  TORVCursor& cursor = Cursor(10290);
  CheckBrowseMode();
  DoBeforeScroll();
  CursorPosChanged();
  PrepareKeySearch();
  if (!cursor.FindKey(scEqual)) return false;
  const bool locked = LockShared();
  try {
    Resync({rmExact, rmCenter});
  } catch (...) {
    UnlockShared(locked);
    throw;
  }
  UnlockShared(locked);
  DoAfterScroll();
  return true;
}

void TORVTable::GotoNearest() {
  TORVCursor& cursor = Cursor(10291);
  CheckBrowseMode();
  CursorPosChanged();
  PrepareKeySearch();
  const bool found = cursor.FindKey(KeyExclusiveOf(KeyBuffer(kiLookup)) ? scGreater : scGreaterEqual);
  const bool locked = LockShared();
  try {
    if (!found) cursor.InternalLast();
    Resync({rmCenter});
  } catch (...) {
    UnlockShared(locked);
    throw;
  }
  UnlockShared(locked);
}

bool TORVTable::FindKey(const std::vector<Variant>& KeyValues) {
  CheckBrowseMode();
  SetKeyFields(kiLookup, KeyValues);
  return GotoKey();
}

void TORVTable::FindNearest(const std::vector<Variant>& KeyValues) {
  CheckBrowseMode();
  SetKeyFields(kiLookup, KeyValues);
  GotoNearest();
}

bool TORVTable::SetCursorRange() {
  TORVCursor& cursor = Cursor(10296);
  const auto size = static_cast<size_t>(cursor.FKeyBufferSize);
  for (TORVKeyIndex k : {kiRangeStart, kiRangeEnd, kiCurRangeStart, kiCurRangeEnd})
    cursor.ClearStringFieldsGarbage(KeyBuffer(k));
  if (std::memcmp(KeyBuffer(kiRangeStart), KeyBuffer(kiCurRangeStart), size) == 0 &&
      std::memcmp(KeyBuffer(kiRangeEnd), KeyBuffer(kiCurRangeEnd), size) == 0)
    return false;
  std::memcpy(KeyBuffer(kiCurRangeStart), KeyBuffer(kiRangeStart), size);
  std::memcpy(KeyBuffer(kiCurRangeEnd), KeyBuffer(kiRangeEnd), size);
  // The cursor keeps the bounds it is given: it gets the applied copies, which only a range
  // change rewrites, rather than the buffers the next SetRangeStart edits.
  uint8_t* start = KeyBuffer(kiCurRangeStart);
  uint8_t* end = KeyBuffer(kiCurRangeEnd);
  const int32_t start_count = KeyFieldCountOf(start) != 0 ? KeyFieldCountOf(start) : FIndexFieldCount;
  const int32_t end_count = KeyFieldCountOf(end) != 0 ? KeyFieldCountOf(end) : FIndexFieldCount;
  cursor.ApplyRange(start, end, start_count, end_count, KeyExclusiveOf(start), KeyExclusiveOf(end));
  return true;
}

void TORVTable::SetRange(const std::vector<Variant>& StartValues, const std::vector<Variant>& EndValues) {
  CheckBrowseMode();
  SetKeyFields(kiRangeStart, StartValues);
  SetKeyFields(kiRangeEnd, EndValues);
  ApplyRange();
}

void TORVTable::ApplyRange() {
  CheckBrowseMode();
  if (!SetCursorRange()) return;
  const bool locked = LockShared();
  try {
    First();
  } catch (...) {
    UnlockShared(locked);
    throw;
  }
  UnlockShared(locked);
}

void TORVTable::CancelRange() {
  CheckBrowseMode();
  UpdateCursorPos();
  if (!ResetCursorRange()) return;
  const bool locked = LockShared();
  try {
    Resync({});
  } catch (...) {
    UnlockShared(locked);
    throw;
  }
  UnlockShared(locked);
}

// ---------------------------------------------------------------- master/detail

void TORVTable::SetLinkRanges(const std::vector<TField*>& MasterFields) {
  TORVCursor& cursor = Cursor(10299);
  const TDataSetState saved = SetTempState(dsSetKey);
  try {
    FKeyBuffer = InitKeyBuffer(KeyBuffer(kiRangeStart));
    SetKeyModified(FKeyBuffer, true);
    for (size_t i = 0; i < MasterFields.size(); ++i)
      GetIndexField(static_cast<int32_t>(i))->Assign(*MasterFields[i]);
    SetKeyFieldCountOf(FKeyBuffer, static_cast<int32_t>(MasterFields.size()));
  } catch (...) {
    RestoreState(saved);
    throw;
  }
  RestoreState(saved);
  std::memcpy(KeyBuffer(kiRangeEnd), KeyBuffer(kiRangeStart), static_cast<size_t>(cursor.FKeyBufferSize));
}

void TORVTable::CheckMasterRange() {
  if (!FMasterLink.Active() || FMasterLink.Fields().empty()) return;
  SetLinkRanges(FMasterLink.Fields());
  SetCursorRange();
}

void TORVTable::MasterChanged() {
  CheckBrowseMode();
  SetLinkRanges(FMasterLink.Fields());
  ApplyRange();
}

void TORVTable::MasterDisabled() { CancelRange(); }

void TORVTable::DoOnNewRecord() {
  if (FMasterLink.Active() && !FMasterLink.Fields().empty()) {
    const std::vector<TField*>& master = FMasterLink.Fields();
    for (size_t i = 0; i < master.size(); ++i) SetIndexField(static_cast<int32_t>(i), *master[i]);
  }
  TORVDataSet::DoOnNewRecord();
  SetDefaultBlobFieldsValues();
}

void TORVTable::SetDefaultBlobFieldsValues() {
  TORVCursor* cursor = Handle();
  if (!cursor || !cursor->FVisibleFieldDefs) return;
  const TORVFieldDefs& defs = *cursor->FVisibleFieldDefs;
  for (int32_t i = 0; i < defs.GetCount(); ++i) {
    TORVFieldDef* def = defs.GetDef(i);
    if (def->BaseFieldType != bftBlob && def->BaseFieldType != bftClob) continue;
    if (!def->DefaultValue || def->DefaultValue->GetIsNull()) continue;
    std::string text = def->DefaultValue->GetDataAsAnsiString();
    if (def->DefaultValueExpr) {
      try {
        if (const TORVVariant* value = def->DefaultValueExpr->GetValue(true)) text = value->GetDataAsAnsiString();
      } catch (...) {
        // The stored text stands when the expression cannot be evaluated.
      }
    }
    // Matched by name: after a projection the field objects are not in the table's order.
    TField* field = FindField(platform::Cp1252ToUtf8(def->Name));
    if (!field || !field->IsBlob()) continue;
    std::unique_ptr<platform::TStream> stream = CreateBlobStream(field, bmWrite);
    if (!text.empty()) stream->WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
  }
}

// ---------------------------------------------------------------- what the SQL layer uses

bool TORVTable::IsRecordLocked() { return Handle() ? Handle()->IsRecordLocked() : false; }

int64_t TORVTable::LastAutoincValue(int32_t FieldIndex) {
  TORVCursor& cursor = Cursor(10311);
  if (FieldIndex < 0 || FieldIndex >= FieldCount()) DatabaseError("Field index out of range", Name());
  return cursor.LastAutoincValue(Fields()[FieldIndex]->FieldNo() - 1);
}

int64_t TORVTable::LastAutoincValue(const std::string& FieldName) {
  return LastAutoincValue(Fields().IndexOf(FieldByName(FieldName)));
}

std::string TORVTable::FindOrCreateIndex(const std::vector<std::string>& FieldNamesList,
                                         const std::vector<std::string>& AscDescList,
                                         const std::vector<std::string>& CaseSensitivityList, bool& IsCreated) {
  return Cursor(10311).FindOrCreateIndex(FieldNamesList, AscDescList, CaseSensitivityList, IsCreated);
}

bool TORVTable::IndexExists(const std::vector<std::string>& FieldNamesList, const std::vector<std::string>& AscDescList,
                            const std::vector<std::string>& CaseSensitivityList) {
  return Cursor(10514).IndexExists(FieldNamesList, AscDescList, CaseSensitivityList);
}

void TORVTable::ApplyDistinct(const std::vector<std::string>& FieldNamesList,
                              const std::vector<std::string>& AscDescList,
                              const std::vector<std::string>& CaseSensitivityList) {
  TORVCursor& cursor = Cursor(10319);
  cursor.ApplyDistinct(FieldNamesList, AscDescList, CaseSensitivityList);
  SetIndexName(platform::Cp1252ToUtf8(cursor.FIndexName));
}

void TORVTable::ApplyDistinct(TORVDataSet& DataSet) {
  TORVCursor& cursor = Cursor(10319);
  TORVCursor& other = *DataSet.Handle();
  SetIndexName(platform::Cp1252ToUtf8(other.FIndexName));
  cursor.FDistinctFieldCount = other.FDistinctFieldCount;
  cursor.DisableRecordBitmap();
}

void TORVTable::ValidateAndRepairMostUpdatedAndRecordPageIndex() {
  TORVDBFlagGuard flag(*this, dbfRepair);
  FIsRepairing = true;
  try {
    GetHandle().reset();
  } catch (...) {
    FIsRepairing = false;
    throw;
  }
  FIsRepairing = false;
}

}  // namespace orv

#include "dbengine/access/orv_main_dataset.h"

#include <cmath>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

#include "dbengine/access/orv_main_blob_stream.h"
#include "dbengine/access/orv_main_engine.h"
#include "dbengine/access/orv_main_errors.h"
#include "dbengine/access/orv_main_session.h"
#include "dbengine/storage/orv_converts.h"
#include "dbengine/storage/orv_design_mode.h"
#include "dbengine/storage/orv_except.h"
#include "platform/data/same_text.h"
#include "platform/base/datetime.h"
#include "platform/base/numeric.h"
#include "platform/data/blob_field.h"
#include "platform/data/date_time_text.h"
#include "platform/data/exception_handler.h"

namespace orv {

using namespace platform::data;

namespace {

constexpr double kMSecsPerDay = 86400000.0;
constexpr int kBookmarkFlagOffset = TORVPageItemID::StoredSize;

TDateTime ReadDouble(const void* p) {
  double v = 0;
  std::memcpy(&v, p, sizeof v);
  return v;
}
void WriteDouble(void* p, double v) { std::memcpy(p, &v, sizeof v); }
int32_t ReadInt32(const void* p) {
  int32_t v = 0;
  std::memcpy(&v, p, sizeof v);
  return v;
}
void WriteInt32(void* p, int32_t v) { std::memcpy(p, &v, sizeof v); }

TORVDateTime ReadORVDateTime(const void* p) {
  TORVDateTime v;
  v.Date = ReadInt32(p);
  v.Time = ReadInt32(static_cast<const uint8_t*>(p) + 4);
  return v;
}
void WriteORVDateTime(void* p, const TORVDateTime& v) {
  WriteInt32(p, v.Date);
  WriteInt32(static_cast<uint8_t*>(p) + 4, v.Time);
}

bool IsDateTimeType(TFieldType t) { return t == ftDate || t == ftTime || t == ftDateTime; }

// Bytes of a data field's value in the engine's memory form; 0 for BLOB fields (their values
// travel through streams) and fields the cursor does not know.
int32_t EngineDataSize(const TORVCursor& Cursor, const TField* Field) {
  const int32_t no = Field->FieldNo() - 1;
  if (Field->IsBlob() || !Cursor.FVisibleFieldDefs || no < 0 || no >= Cursor.FVisibleFieldDefs->GetCount()) return 0;
  return Cursor.FVisibleFieldDefs->GetDef(no)->MemoryDataSize;
}

// Marks the dataset as refreshing for the duration of one refresh.
class RefreshingGuard {
 public:
  explicit RefreshingGuard(bool& Flag) : FFlag(Flag) { FFlag = true; }
  ~RefreshingGuard() { FFlag = false; }

 private:
  bool& FFlag;
};

// Puts the cursor's current buffer back when a dataset operation borrowed it.
class CurrentBufferGuard {
 public:
  explicit CurrentBufferGuard(TORVCursor& Cursor) : FCursor(Cursor), FSaved(Cursor.FCurrentRecordBuffer) {}
  ~CurrentBufferGuard() { FCursor.FCurrentRecordBuffer = FSaved; }

 private:
  TORVCursor& FCursor;
  void* FSaved;
};

// Saves the cursor's position and gives it back at the end.
class PositionGuard {
 public:
  explicit PositionGuard(TORVCursor& Cursor) : FCursor(Cursor), FPos(Cursor.SavePosition()) {}
  ~PositionGuard() {
    FCursor.RestorePosition(FPos);
    FCursor.FreePosition(FPos);
  }

 private:
  TORVCursor& FCursor;
  TORVCursorPos* FPos;
};

}  // namespace

TORVDataSet::TORVDataSet(TORVComponent* AOwner)
    : FOwner(AOwner),
      FIndexDefs(std::make_unique<TIndexDefs>(this)),
      FORVFieldDefs(std::make_unique<TORVFieldDefs>()),
      FORVIndexDefs(std::make_unique<TORVIndexDefs>()),
      FAdvIndexDefs(std::make_unique<TORVAdvIndexDefs>(this)),
      FAdvFieldDefs(std::make_unique<TORVAdvFieldDefs>()),
      FRestructureIndexDefs(std::make_unique<TORVAdvIndexDefs>(this)),
      FRestructureFieldDefs(std::make_unique<TORVAdvFieldDefs>()),
      FORVConstraintDefs(std::make_unique<TORVConstraintDefs>()) {}

TORVDataSet::~TORVDataSet() {
  try {
    SetActive(false);
  } catch (...) {
    // A destructor never raises; what the cursor held goes with it below.
  }
  try {
    FreeEditCopy();
    if (FHandle) DestroyHandle();
    while (FDBFlags != 0) {
      for (int32_t flag = 0; flag < 16; ++flag)
        if (DBFlag(flag)) SetDBFlag(flag, false);
    }
  } catch (...) {
  }
}

// ---------------------------------------------------------------- properties

std::string TORVDataSet::CurrentVersion() const { return "7.90 "; }

void TORVDataSet::SetDatabaseName(const std::string& Value) {
  if (Value == FDatabaseName) return;
  CheckInactive();
  if (FDatabase) DatabaseError("Cannot perform this operation on an open database", Name());
  FDatabaseName = Value;
  FInMemory = SameText(Value, MemoryDatabaseName);
  DataEvent(dePropertyChange, 0);
}

void TORVDataSet::SetSessionName(const std::string& Value) {
  CheckInactive();
  FSessionName = Value;
  DataEvent(dePropertyChange, 0);
}

void TORVDataSet::SetInMemory(bool Value) {
  CheckInactive();
  FInMemory = Value;
  if (Value) SetDatabaseName(MemoryDatabaseName);
}

void TORVDataSet::SetReadOnly(bool Value) {
  CheckInactive();
  FReadOnly = Value;
}

// ---------------------------------------------------------------- sessions and databases

TORVSession* TORVDataSet::GetDBSession() {
  if (FDatabase && FDatabase->Session()) return FDatabase->Session();
  TORVSession* session = ORVEngine().Sessions().FindSession(FSessionName);
  return session ? session : ORVDefaultSession();
}

void TORVDataSet::GetDatabaseNameList(std::vector<std::string>& List) {
  List.clear();
  TORVSession* session = GetDBSession();
  if (!session) return;
  for (int32_t i = 0; i < session->GetDatabaseCount(); ++i) List.push_back(session->GetDatabase(i)->DatabaseName());
}

TORVDatabase* TORVDataSet::OpenDatabase() {
  return ORVEngine().Sessions().GetSessionByName(FSessionName)->DoOpenDatabase(FDatabaseName, FOwner);
}

void TORVDataSet::CloseDatabase(TORVDatabase* Database) {
  if (Database && Database->Session()) Database->Session()->CloseDatabase(Database);
}

void TORVDataSet::CheckDBSessionName() {
  if (FSessionName.empty() || FDatabaseName.empty()) return;
  TORVSessionList& sessions = ORVEngine().Sessions();
  TORVSession* named = sessions.FindSession(FSessionName);
  if (!named || named->FindDatabase(FDatabaseName)) return;
  TORVSession* standard = ORVDefaultSession();
  if (!standard || standard == named) return;
  if (TORVDatabase* db = standard->FindDatabase(FDatabaseName)) db->CheckSessionName(true);
}

void TORVDataSet::SetDBFlag(int32_t Flag, bool Value) {
  const uint32_t bit = 1u << Flag;
  if (Value) {
    if (FDBFlags & bit) return;
    if (FDBFlags == 0) {
      CheckDBSessionName();
      FDatabase = OpenDatabase();
      FDatabase->AddDataSet(this);
    }
    FDBFlags |= bit;
    return;
  }
  if (!(FDBFlags & bit)) return;
  FDBFlags &= ~bit;
  if (FDBFlags != 0 || !FDatabase) return;
  TORVDatabase* db = std::exchange(FDatabase, nullptr);
  TORVSession* session = db->Session();
  if (!session) {
    db->RemoveDataSet(this);
    return;
  }
  session->LockSession();
  try {
    db->RemoveDataSet(this);
    session->CloseDatabase(db);
  } catch (...) {
    session->UnlockSession();
    throw;
  }
  session->UnlockSession();
}

// ---------------------------------------------------------------- opening and closing

TORVCursor& TORVDataSet::Cursor(int32_t Code) const {
  if (!FHandle) throw EORVException(Code, "Nil pointer occured");
  return *FHandle;
}

void TORVDataSet::SetActive(bool Value) {
  if (!Value && FHandle && (State() == dsEdit || State() == dsInsert)) InternalCancel();
  TDataSet::SetActive(Value);
}

void TORVDataSet::OpenCursor(bool InfoQuery) {
  if (FDatabaseName.empty()) DatabaseError("DatabaseName property is blank", Name());
  SetDBFlag(dbfOpened, true);
  if (!FHandle) {
    TORVCursor* handle = CreateHandle();
    if (handle && !FHandle) AdoptHandle(handle);
  }
  if (!FHandle) throw EORVException(20001, "Error creating table handle");
  TDataSet::OpenCursor(InfoQuery);
}

void TORVDataSet::CloseCursor() {
  TDataSet::CloseCursor();
  if (FHandle) DestroyHandle();
  SetDBFlag(dbfOpened, false);
}

void TORVDataSet::AdoptHandle(TORVCursor* Handle) {
  FHandle = Handle;
  FOwnsHandle = Handle != FExternalHandle;
}

void TORVDataSet::DestroyHandle() {
  TORVCursor* handle = std::exchange(FHandle, nullptr);
  const bool owned = std::exchange(FOwnsHandle, false);
  FExternalHandle = nullptr;
  if (handle && owned) {
    handle->FSettingProjection = false;
    delete handle;
  }
}

void TORVDataSet::InternalOpen() {
  if (!FHandle) return;
  SetBookmarkSize(kORVBookmarkSize);
  FieldDefs().SetUpdated(false);
  FieldDefs().Update();
  GetIndexInfo();
  FreeEditCopy();
  for (int i = 0; i < FieldDefs().Count(); ++i)
    if (FieldDefs()[i]->DataType() == ftGuid) FieldDefs()[i]->SetSize(38);
  if (DefaultFields()) CreateFields();
  BindFields(true);
  FHandle->Dataset = this;
  if (CalcFieldsSize() > 0) FHandle->FRecordBufferSize += CalcFieldsSize();
  if (Filtered()) {
    ActivateFilters();
  } else if (FHandle->IsFilterApplied()) {
    FHandle->DeactivateFilters();
  }
  AllocKeyBuffers();
  ResetCursorRange();
  PrepareCursor();
}

void TORVDataSet::InternalInitFieldDefs() {
  FieldDefs().Clear();
  if (!FHandle) return;
  if (!FIgnoreDesignMode) FHandle->FIsDesignMode = IsDesignMode();
  // Reading the definitions again lays out the buffers again: an open dataset keeps the room
  // of its calculated fields.
  const int32_t grown = FHandle->FRecordBufferSize - FHandle->FCalculatedFieldsOffset;
  FHandle->InternalInitFieldDefs();
  if (grown > 0) FHandle->FRecordBufferSize += grown;
  FORVFieldDefs->Assign(*FHandle->FVisibleFieldDefs);
  ConvertORVFieldDefsToFieldDefs(*FHandle->FVisibleFieldDefs, *FHandle->FConstraintDefs, FieldDefs());
  ConvertORVFieldDefsToAdvFieldDefs(*FHandle->FVisibleFieldDefs, *FHandle->FFieldDefs, *FHandle->FConstraintDefs,
                                    *FAdvFieldDefs);
  FRestructureFieldDefs->Assign(*FAdvFieldDefs);
}

void TORVDataSet::InternalClose() {
  if (FHandle) {
    FreeEditCopy();
    FreeKeyBuffers();
  }
  BindFields(false);
  if (DefaultFields()) DestroyFields();
  FAdvFieldDefs->Clear();
  FORVFieldDefs->Clear();
  FAdvIndexDefs->Clear();
  FORVIndexDefs->Clear();
  FIndexFieldMap.clear();
  FIndexFieldCount = 0;
  FKeySize = 0;
}

// ---------------------------------------------------------------- record buffers and bookmarks

TRecordBuffer TORVDataSet::AllocRecordBuffer() {
  return static_cast<TRecordBuffer>(Cursor(10052).AllocateRecordBuffer());
}

void TORVDataSet::FreeRecordBuffer(TRecordBuffer& Buffer) {
  void* p = Buffer;
  Cursor(10053).FreeRecordBuffer(p);
  Buffer = nullptr;
}

void TORVDataSet::FreeEditCopy() {
  if (!FEditRecordBuffer) return;
  // The copy shares the BLOB values of the active buffer: only its memory goes.
  if (FHandle) {
    if (FHandle->FEditRecordBuffer == FEditRecordBuffer) FHandle->FEditRecordBuffer = nullptr;
    FHandle->TORVCursor::FreeRecordBuffer(FEditRecordBuffer);
  }
  FEditRecordBuffer = nullptr;
}

int TORVDataSet::GetRecordSize() { return Cursor(10055).FRecordSize - kORVBookmarkSize; }

void TORVDataSet::InternalInitRecord(TRecordBuffer Buffer) { Cursor(10054).InternalInitRecord(Buffer, true); }

void TORVDataSet::InitRecord(TRecordBuffer Buffer) {
  TDataSet::InitRecord(Buffer);
  TORVCursor& cursor = Cursor(10054);
  uint8_t* bookmark = Buffer + cursor.FBookmarkOffset;
  TORVPageItemID{-1, 65535}.WriteTo(bookmark);
  bookmark[kBookmarkFlagOffset] = abfInserted;
}

TORVPageItemID TORVDataSet::BufferRecordID(const uint8_t* Buffer) const {
  return TORVPageItemID::ReadFrom(Buffer + FHandle->FBookmarkOffset);
}

TGetResult TORVDataSet::GetRecord(TRecordBuffer Buffer, TGetMode GetMode, bool DoCheck) {
  TORVCursor& cursor = Cursor(10041);
  cursor.FCurrentRecordBuffer = Buffer;
  const TORVGetRecordMode mode = GetMode == gmNext ? grmNext : GetMode == gmPrior ? grmPrior : grmCurrent;
  switch (cursor.GetRecordBuffer(mode)) {
    case grrOK: {
      uint8_t* bookmark = Buffer + cursor.FBookmarkOffset;
      cursor.CurrentRecordID.WriteTo(bookmark);
      bookmark[kBookmarkFlagOffset] = abfCurrent;
      ClearCalcFields(Buffer);
      GetCalcFields(Buffer);
      return grOK;
    }
    case grrBOF: return grBOF;
    case grrEOF: return grEOF;
    default:
      if (DoCheck) throw EORVException(10026, "Cannot retrieve record");
      return grError;
  }
}

bool TORVDataSet::GetCurrentRecord(TRecordBuffer Buffer) {
  if (!FHandle || IsEmpty() || GetBookmarkFlag(ActiveBuffer()) != bfCurrent) return false;
  UpdateCursorPos();
  CurrentBufferGuard restore(*FHandle);
  FHandle->FCurrentRecordBuffer = Buffer;
  return FHandle->GetRecordBuffer(grmCurrent) == grrOK;
}

void TORVDataSet::InternalFirst() { Cursor(10044).InternalFirst(); }
void TORVDataSet::InternalLast() { Cursor(10045).InternalLast(); }

void TORVDataSet::InternalSetToRecord(TRecordBuffer Buffer) {
  TORVCursor& cursor = Cursor(10046);
  if (!Buffer) throw EORVException(10047, "Nil pointer occured");
  InternalGotoBookmark(Buffer + cursor.FBookmarkOffset);
}

void TORVDataSet::InternalGotoBookmark(const uint8_t* Bookmark) {
  if (!Bookmark) throw EORVException(10037, "Nil pointer occured");
  TORVCursor& cursor = Cursor(10038);
  cursor.CurrentRecordID = TORVPageItemID::ReadFrom(Bookmark);
  cursor.FirstPosition = false;
  cursor.LastPosition = false;
}

TBookmarkFlag TORVDataSet::GetBookmarkFlag(TRecordBuffer Buffer) {
  if (!Buffer) throw EORVException(10059, "Nil pointer occured");
  TORVCursor& cursor = Cursor(10060);
  return static_cast<TBookmarkFlag>(Buffer[cursor.FBookmarkOffset + kBookmarkFlagOffset]);
}

void TORVDataSet::SetBookmarkFlag(TRecordBuffer Buffer, TBookmarkFlag Value) {
  TORVCursor& cursor = Cursor(10057);
  Buffer[cursor.FBookmarkOffset + kBookmarkFlagOffset] = static_cast<uint8_t>(Value);
}

void TORVDataSet::GetBookmarkData(TRecordBuffer Buffer, uint8_t* Data) {
  if (!Buffer) throw EORVException(10034, "Nil pointer occured");
  if (!Data) throw EORVException(10035, "Nil pointer occured");
  TORVCursor& cursor = Cursor(10036);
  std::memcpy(Data, Buffer + cursor.FBookmarkOffset, TORVPageItemID::StoredSize);
}

void TORVDataSet::SetBookmarkData(TRecordBuffer Buffer, const uint8_t* Data) {
  TORVCursor& cursor = Cursor(10058);
  if (!Buffer) throw EORVException(10061, "Nil pointer occured");
  if (!Data) return;
  std::memcpy(Buffer + cursor.FBookmarkOffset, Data, TORVPageItemID::StoredSize);
}

int TORVDataSet::CompareBookmarks(const TBookmark& Bookmark1, const TBookmark& Bookmark2) {
  if (Bookmark1.empty() && Bookmark2.empty()) return 0;
  if (Bookmark1.empty()) return 1;
  if (Bookmark2.empty()) return -1;
  TORVCursor& cursor = Cursor(10063);
  if (Bookmark1.size() < TORVPageItemID::StoredSize || Bookmark2.size() < TORVPageItemID::StoredSize)
    DatabaseError("Invalid bookmark", Name());
  return cursor.CompareRecordsOrder(TORVPageItemID::ReadFrom(Bookmark1.data()),
                                    TORVPageItemID::ReadFrom(Bookmark2.data()));
}

bool TORVDataSet::BookmarkValid(const TBookmark& Bookmark) {
  if (!FHandle || Bookmark.size() < TORVPageItemID::StoredSize) return false;
  CursorPosChanged();
  TORVCursor& cursor = *FHandle;
  PositionGuard position(cursor);
  CurrentBufferGuard restore(cursor);
  void* scratch = cursor.AllocateRecordBuffer();
  bool valid = false;
  try {
    cursor.FCurrentRecordBuffer = scratch;
    cursor.CurrentRecordID = TORVPageItemID::ReadFrom(Bookmark.data());
    cursor.FirstPosition = false;
    cursor.LastPosition = false;
    valid = cursor.GetRecordBuffer(grmCurrent) == grrOK;
  } catch (...) {
    cursor.FreeRecordBuffer(scratch);
    throw;
  }
  cursor.FreeRecordBuffer(scratch);
  return valid;
}

int TORVDataSet::GetRecordCount() {
  if (!Active() || !FHandle) return 0;
  return static_cast<int>(static_cast<int32_t>(Cursor(10056).GetRecordCount()));
}

int TORVDataSet::GetRecNo() {
  if (State() == dsInsert) return -1;
  TORVCursor& cursor = Cursor(10043);
  const uint8_t* buffer = State() == dsCalcFields ? CalcBuffer() : (IsEmpty() ? nullptr : ActiveBuffer());
  if (!buffer) return -1;
  CurrentBufferGuard restore(cursor);
  cursor.FCurrentRecordBuffer = const_cast<uint8_t*>(buffer);
  PositionGuard position(cursor);
  cursor.CurrentRecordID = BufferRecordID(buffer);
  cursor.FirstPosition = false;
  cursor.LastPosition = false;
  return static_cast<int>(static_cast<int32_t>(cursor.GetRecNo()));
}

void TORVDataSet::SetRecNo(int Value) {
  TORVCursor& cursor = Cursor(10042);
  CheckBrowseMode();
  DoBeforeScroll();
  cursor.SetRecNo(Value);
  Resync({rmCenter});
  DoAfterScroll();
}

void TORVDataSet::ClearCalcFields(TRecordBuffer Buffer) {
  if (!Buffer) throw EORVException(10039, "Nil pointer occured");
  TORVCursor& cursor = Cursor(10040);
  if (CalcFieldsSize() > 0)
    std::memset(Buffer + cursor.FCalculatedFieldsOffset, 0, static_cast<size_t>(CalcFieldsSize()));
}

uint8_t* TORVDataSet::GetActiveRecordBuffer() {
  switch (State()) {
    case dsBrowse: return IsEmpty() ? nullptr : ActiveBuffer();
    case dsEdit:
    case dsInsert: return ActiveBuffer();
    case dsSetKey: return FKeyBuffer;
    case dsCalcFields: return CalcBuffer();
    case dsFilter: return FFilterBuffer;
    case dsOldValue: return static_cast<uint8_t*>(FEditRecordBuffer);
    default: return nullptr;
  }
}

bool TORVDataSet::GetCanModify() { return TDataSet::GetCanModify() && !FReadOnly; }

void TORVDataSet::InternalRefresh() {
  if (FHandle && Filtered() && OnFilterRecord()) FHandle->DisableRecordBitmap();
}

// ---------------------------------------------------------------- editing

void TORVDataSet::InternalInsert() {
  if (FReadOnly || !FHandle) return;
  FHandle->InternalInsert();
  Check(FHandle->FErrorCode, FHandle->FErrorMessage);
}

void TORVDataSet::InternalEdit() {
  if (FReadOnly) return;
  TORVCursor& cursor = Cursor(10065);
  uint8_t* active = ActiveBuffer();
  if (!active) throw EORVException(10067, "Nil pointer occured");
  FreeEditCopy();
  FEditRecordBuffer = cursor.AllocateRecordBuffer();
  std::memcpy(FEditRecordBuffer, active, static_cast<size_t>(cursor.FRecordSize));
  cursor.FCurrentRecordBuffer = active;
  try {
    cursor.InternalEdit();
    Check(cursor.FErrorCode, cursor.FErrorMessage);
  } catch (...) {
    FreeEditCopy();
    throw;
  }
}

void TORVDataSet::InternalCancel() {
  TORVCursor& cursor = Cursor(10066);
  FreeEditCopy();
  cursor.FCurrentRecordBuffer = GetActiveRecordBuffer();
  cursor.InternalCancel(State() == dsInsert);
  Check(cursor.FErrorCode, cursor.FErrorMessage);
}

void TORVDataSet::InternalPost() {
  TDataSet::InternalPost();
  if (!Active()) throw EORVException(10029, "Dataset is not opened");
  if (State() != dsEdit && State() != dsInsert) throw EORVException(10030, "Dataset is not in insert or edit mode");
  if (FReadOnly) throw EORVException(10032, "Dataset is in read only mode");
  TORVCursor& cursor = Cursor(10048);
  const bool insert = State() == dsInsert;
  cursor.FCurrentRecordBuffer = GetActiveRecordBuffer();
  if (!insert) cursor.FEditRecordBuffer = FEditRecordBuffer;
  cursor.InternalPost(insert);
  cursor.FEditRecordBuffer = nullptr;
  // A failed edit post keeps the record it started from, so that it can be posted again.
  if (!insert && cursor.FErrorCode == 0) FreeEditCopy();
  Check(cursor.FErrorCode, cursor.FErrorMessage);
}

void TORVDataSet::InternalDelete() {
  if (!Active()) throw EORVException(10068, "Dataset is not opened");
  if (FReadOnly) throw EORVException(10069, "Dataset is in read only mode");
  TORVCursor& cursor = Cursor(10070);
  uint8_t* active = ActiveBuffer();
  if (!active) throw EORVException(10071, "Nil pointer occured");
  cursor.FCurrentRecordBuffer = active;
  cursor.InternalDelete();
  Check(cursor.FErrorCode, cursor.FErrorMessage);
}

void TORVDataSet::InternalAddRecord(TRecordBuffer Buffer, bool /*Append*/) {
  if (!Active()) throw EORVException(10075, "Dataset is not opened");
  if (State() != dsInsert) throw EORVException(10076, "Dataset is not in insert or edit mode");
  if (FReadOnly) throw EORVException(10077, "Dataset is in read only mode");
  TORVCursor& cursor = Cursor(10078);
  cursor.FCurrentRecordBuffer = Buffer;
  cursor.InternalPost(true);
  Check(cursor.FErrorCode, cursor.FErrorMessage);
}

// ---------------------------------------------------------------- field data

bool TORVDataSet::GetFieldData(TField* Field, void* Buffer) {
  if (State() == dsInactive) return false;
  uint8_t* record = GetActiveRecordBuffer();
  if (!record) return false;
  TORVCursor& cursor = Cursor(10050);
  if (Field->FieldKind() == fkCalculated || Field->FieldKind() == fkLookup) {
    const uint8_t* calc = record + cursor.FCalculatedFieldsOffset + Field->Offset();
    if (calc[0] == 0) return false;
    if (Buffer) std::memcpy(Buffer, calc + 1, static_cast<size_t>(Field->DataSize()));
    return true;
  }
  if (Field->FieldNo() <= 0) return false;
  const TFieldType type = Field->DataType();
  if (!Buffer) return cursor.GetFieldData(Field->FieldNo() - 1, nullptr, record);
  if (!IsDateTimeType(type)) {
    const int32_t engine_size = EngineDataSize(cursor, Field);
    if (engine_size <= Field->DataSize()) return cursor.GetFieldData(Field->FieldNo() - 1, Buffer, record);
    // The engine's form is longer than the data layer's buffer (byte columns carry a spare
    // byte): read into room of its own and hand over what the buffer holds.
    std::vector<uint8_t> scratch(static_cast<size_t>(engine_size), 0);
    if (!cursor.GetFieldData(Field->FieldNo() - 1, scratch.data(), record)) return false;
    std::memcpy(Buffer, scratch.data(), static_cast<size_t>(Field->DataSize()));
    return true;
  }
  uint8_t engine[16] = {};
  if (!cursor.GetFieldData(Field->FieldNo() - 1, engine, record)) return false;
  double value = 0;
  DateTimeConvert(Field, engine, &value, false);
  switch (type) {
    case ftDate: WriteInt32(Buffer, static_cast<int32_t>(std::trunc(value)) + static_cast<int32_t>(platform::kDateDelta)); break;
    case ftTime: {
      const double frac = value - std::trunc(value);
      WriteInt32(Buffer, static_cast<int32_t>(std::nearbyint(frac * kMSecsPerDay)));
      break;
    }
    default: WriteDouble(Buffer, (value + platform::kDateDelta) * kMSecsPerDay); break;
  }
  return true;
}

void TORVDataSet::SetFieldData(TField* Field, void* Buffer) {
  switch (State()) {
    case dsEdit:
    case dsInsert:
    case dsSetKey:
    case dsCalcFields:
    case dsFilter:
    case dsNewValue:
    case dsInternalCalc: break;
    default: throw EORVException(10007, "Dataset not in edit or insert mode");
  }
  if (State() == dsSetKey &&
      (Field->FieldNo() < 0 || (IsIndexApplied() && !GetIsIndexField(Field))))
    throw EORVException(20019, "Field %s is not in the current index", {Field->DisplayName()});
  uint8_t* record = GetActiveRecordBuffer();
  TORVCursor& cursor = Cursor(10051);
  if (!record) throw EORVException(10051, "Nil pointer occured");
  if (Field->FieldKind() == fkCalculated || Field->FieldKind() == fkLookup) {
    uint8_t* calc = record + cursor.FCalculatedFieldsOffset + Field->Offset();
    calc[0] = Buffer ? 1 : 0;
    if (Buffer) std::memcpy(calc + 1, Buffer, static_cast<size_t>(Field->DataSize()));
  } else {
    Field->Validate(Buffer);
    const TFieldType type = Field->DataType();
    if (Buffer && IsDateTimeType(type)) {
      double value = 0;
      switch (type) {
        case ftDate: value = ReadInt32(Buffer) - platform::kDateDelta; break;
        case ftTime: value = ReadInt32(Buffer) / kMSecsPerDay; break;
        default: value = ReadDouble(Buffer) / kMSecsPerDay - platform::kDateDelta; break;
      }
      uint8_t engine[16] = {};
      DateTimeConvert(Field, &value, engine, true);
      cursor.SetFieldData(Field->FieldNo() - 1, engine, record);
    } else if (Buffer && type == ftVarBytes &&
               2 + (static_cast<const uint8_t*>(Buffer)[0] | static_cast<const uint8_t*>(Buffer)[1] << 8) >
                   EngineDataSize(cursor, Field)) {
      // The engine keeps Size + 1 bytes where the data layer's form needs two for the length:
      // a value of the full size would lose its last byte, so it is refused instead.
      const int length = static_cast<const uint8_t*>(Buffer)[0] | static_cast<const uint8_t*>(Buffer)[1] << 8;
      DatabaseError(FormatText("Invalid field size: %d bytes for field '%s'",
                               {std::to_string(length), Field->DisplayName()}),
                    Name());
    } else if (Buffer && EngineDataSize(cursor, Field) > Field->DataSize()) {
      std::vector<uint8_t> scratch(static_cast<size_t>(EngineDataSize(cursor, Field)), 0);
      std::memcpy(scratch.data(), Buffer, static_cast<size_t>(Field->DataSize()));
      cursor.SetFieldData(Field->FieldNo() - 1, scratch.data(), record);
    } else {
      cursor.SetFieldData(Field->FieldNo() - 1, Buffer, record);
    }
  }
  if (State() != dsCalcFields && State() != dsFilter && State() != dsNewValue)
    DataEvent(deFieldChange, reinterpret_cast<intptr_t>(Field));
}

void TORVDataSet::DateTimeConvert(TField* Field, const void* Source, void* Dest, bool ToNative) {
  switch (Field->DataType()) {
    case ftDate:
      if (ToNative) {
        WriteInt32(Dest, DateToORVDate(ReadDouble(Source)));
      } else {
        WriteDouble(Dest, ORVDateToDate(ReadInt32(Source)));
      }
      return;
    case ftTime:
      if (ToNative) {
        WriteInt32(Dest, TimeToORVTime(ReadDouble(Source)));
      } else {
        WriteDouble(Dest, ORVTimeToTime(ReadInt32(Source)));
      }
      return;
    case ftDateTime:
      if (ToNative) {
        WriteORVDateTime(Dest, DateTimeToORVDateTime(ReadDouble(Source)));
      } else {
        WriteDouble(Dest, ORVDateTimeToDateTime(ReadORVDateTime(Source)));
      }
      return;
    case ftTimeStamp:
      if (ToNative) {
        TSQLTimeStamp ts;
        std::memcpy(&ts, Source, sizeof ts);
        WriteORVDateTime(Dest, DateTimeToORVDateTime(SQLTimeStampToDateTime(ts)));
      } else {
        const TSQLTimeStamp ts = DateTimeToSQLTimeStamp(ORVDateTimeToDateTime(ReadORVDateTime(Source)));
        std::memcpy(Dest, &ts, sizeof ts);
      }
      return;
    default: return;
  }
}

void TORVDataSet::DataConvert(TField* Field, const void* Source, void* Dest, bool ToNative) {
  switch (Field->DataType()) {
    case ftDate:
    case ftTime:
    case ftTimeStamp: DateTimeConvert(Field, Source, Dest, ToNative); return;
    default: TDataSet::DataConvert(Field, Source, Dest, ToNative); return;
  }
}

// ---------------------------------------------------------------- BLOB fields

std::unique_ptr<platform::TStream> TORVDataSet::CreateBlobStream(TField* Field, TBlobStreamMode Mode) {
  auto* owner = dynamic_cast<TORVDataSet*>(Field->DataSet());
  if (Mode != bmRead && owner && owner->ReadOnly()) throw EORVException(10107, "Dataset is in read only mode");
  auto stream = std::make_unique<TORVBLOBStream>(Field, Mode);
  if (!stream->HasLocalStream() && !FIsRefreshing) RefreshAfterMissingBlob();
  return stream;
}

void TORVDataSet::RefreshAfterMissingBlob() {
  RefreshingGuard guard(FIsRefreshing);
  Refresh();
}

TORVStream* TORVDataSet::InternalCreateBlobStream(TField* Field, TBlobStreamMode Mode) {
  if (Mode != bmRead && State() != dsInsert && State() != dsEdit)
    throw EORVException(10111, "Dataset not in edit or insert mode");
  TORVCursor& cursor = Cursor(10108);
  const TORVBLOBOpenMode open = Mode == bmRead ? bomRead : Mode == bmWrite ? bomWrite : bomReadWrite;
  CurrentBufferGuard restore(cursor);
  uint8_t* buffer = GetActiveRecordBuffer();
  cursor.FCurrentRecordBuffer = buffer;
  const int32_t field_no = Field->FieldNo() - 1;
  if (!buffer) return cursor.InternalCreateBlobStream(true, false, field_no, open, false);
  PositionGuard position(cursor);
  cursor.CurrentRecordID = BufferRecordID(buffer);
  return cursor.InternalCreateBlobStream(State() == dsInsert, State() == dsEdit, field_no, open,
                                         State() == dsBrowse);
}

void TORVDataSet::CloseBlob(TField* Field) {
  TORVCursor& cursor = Cursor(10108);
  CurrentBufferGuard restore(cursor);
  cursor.FCurrentRecordBuffer = GetActiveRecordBuffer();
  cursor.InternalCloseBLOB(Field->FieldNo() - 1);
}

// ---------------------------------------------------------------- indexes and key buffers

void TORVDataSet::GetIndexInfo() {
  FIndexFieldMap.clear();
  FIndexFieldCount = 0;
  FKeySize = 0;
  if (!FHandle || FHandle->FIndexName.empty()) return;
  TORVIndexDefs* indexes = FHandle->GetIndexDefs();
  const TORVIndexDef* index = indexes ? static_cast<const TORVIndexDef*>(indexes->GetDefByName(FHandle->FIndexName)) : nullptr;
  if (!index) throw EORVException(10325, "Cannot find index %s", {FHandle->FIndexName});
  const TORVFieldDefs& fields = *FHandle->FVisibleFieldDefs;
  for (int32_t i = 0; i < index->ColumnCount(); ++i) {
    const int32_t no = fields.GetDefNumberByName(index->Columns(i).FieldName);
    FIndexFieldMap.push_back(static_cast<uint16_t>(no + 1));
    if (no >= 0) FKeySize += fields.GetDef(no)->MemoryDataSize;
  }
  FIndexFieldCount = static_cast<int32_t>(FIndexFieldMap.size());
}

void TORVDataSet::SwitchToIndex(const std::string& IndexName) {
  ResetCursorRange();
  UpdateCursorPos();
  Cursor(10381).SetIndexName(IndexName);
  FKeySize = 0;
  FIndexFieldCount = 0;
  GetIndexInfo();
}

bool TORVDataSet::GetIsIndexField(TField* Field) {
  if (Field->FieldNo() <= 0) return false;
  for (int32_t i = 0; i < FIndexFieldCount; ++i)
    if (FIndexFieldMap[static_cast<size_t>(i)] == Field->FieldNo()) return true;
  return false;
}

bool TORVDataSet::IsIndexApplied() { return Cursor(10381).IsIndexApplied(); }

bool TORVDataSet::KeyModified(const uint8_t* Buffer) const { return Buffer[FHandle->FKeyOffset] != 0; }
void TORVDataSet::SetKeyModified(uint8_t* Buffer, bool Value) const { Buffer[FHandle->FKeyOffset] = Value ? 1 : 0; }
bool TORVDataSet::KeyExclusiveOf(const uint8_t* Buffer) const { return Buffer[FHandle->FKeyOffset + 1] != 0; }
void TORVDataSet::SetKeyExclusiveOf(uint8_t* Buffer, bool Value) const {
  Buffer[FHandle->FKeyOffset + 1] = Value ? 1 : 0;
}
int32_t TORVDataSet::KeyFieldCountOf(const uint8_t* Buffer) const { return ReadInt32(Buffer + FHandle->FKeyOffset + 2); }
void TORVDataSet::SetKeyFieldCountOf(uint8_t* Buffer, int32_t Value) const {
  WriteInt32(Buffer + FHandle->FKeyOffset + 2, Value);
}

bool TORVDataSet::ResetCursorRange() {
  TORVCursor& cursor = Cursor(10287);
  uint8_t* start = FKeyBuffers[kiCurRangeStart];
  uint8_t* end = FKeyBuffers[kiCurRangeEnd];
  if (!start || !end || (!KeyModified(start) && !KeyModified(end))) {
    cursor.ResetRange();
    return false;
  }
  InitKeyBuffer(start);
  InitKeyBuffer(end);
  cursor.ResetRange();
  return true;
}

void TORVDataSet::AllocKeyBuffers() {
  TORVCursor& cursor = Cursor(10281);
  try {
    for (uint8_t*& buffer : FKeyBuffers) {
      buffer = static_cast<uint8_t*>(cursor.AllocateKeyRecordBuffer());
      InitKeyBuffer(buffer);
    }
  } catch (...) {
    FreeKeyBuffers();
    throw;
  }
}

void TORVDataSet::FreeKeyBuffers() {
  for (uint8_t*& buffer : FKeyBuffers) {
    if (!buffer) continue;
    void* p = buffer;
    if (FHandle) FHandle->TORVCursor::FreeRecordBuffer(p);
    buffer = nullptr;
  }
  FKeyBuffer = nullptr;
}

uint8_t* TORVDataSet::InitKeyBuffer(uint8_t* Buffer) {
  Cursor(10280).InternalInitKeyBuffer(Buffer);
  return Buffer;
}

}  // namespace orv

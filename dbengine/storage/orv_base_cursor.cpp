#include "dbengine/storage/orv_base_cursor.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "dbengine/storage/orv_base_engine_bitmap.h"
#include "dbengine/storage/orv_base_engine_database.h"
#include "dbengine/storage/orv_const.h"
#include "dbengine/storage/orv_converts.h"
#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_memory.h"
#include "dbengine/storage/orv_str_utils.h"

namespace orv {

namespace {

IORVExpressionFactory* g_expression_factory = nullptr;

std::string ShortName(std::string_view Name) { return std::string(Name.substr(0, 255)); }

bool SameName(std::string_view a, std::string_view b) { return AnsiUpperCase(a) == AnsiUpperCase(b); }

}  // namespace

IORVExpressionFactory* SetExpressionFactory(IORVExpressionFactory* Factory) {
  auto* previous = g_expression_factory;
  g_expression_factory = Factory;
  return previous;
}

std::unique_ptr<IORVExpression> IORVExpressionFactory::ParseForLocate(TORVCursor&, const std::string& FieldNames,
                                                                      const std::vector<TORVVarValue>&, bool, bool) {
  throw std::logic_error("this expression factory cannot build the Locate of " + FieldNames);
}

std::unique_ptr<IORVExpression> IORVExpressionFactory::ParseForIsAnyRecordMatchCondition(TORVCursor&,
                                                                                         const std::string& FieldName,
                                                                                         TORVDataOperator,
                                                                                         const TORVVariant&) {
  throw std::logic_error("this expression factory cannot build the condition on " + FieldName);
}

IORVExpressionFactory& GetExpressionFactory() {
  if (!g_expression_factory)
    throw std::logic_error(
        "the expression engine (SQL layer) is not registered: filters, Locate and record conditions cannot be "
        "parsed");
  return *g_expression_factory;
}

// ---- Named objects and session --------------------------------------------------------------

TORVSessionNamedObject::TORVSessionNamedObject(std::string_view Name) : FName(ShortName(Name)) {}
TORVSessionNamedObject::TORVSessionNamedObject(int32_t ObjectID) : FObjectID(ObjectID) {}

TORVBaseSession::TORVBaseSession() = default;
TORVBaseSession::~TORVBaseSession() = default;

void TORVBaseSession::SetObject(std::unique_ptr<TORVSessionNamedObject> Value) {
  if (!Value) return;
  auto& list = FSessionNamedObjectList;
  const auto same = [&](const std::unique_ptr<TORVSessionNamedObject>& o) {
    return Value->FObjectID != -1 ? o->FObjectID == Value->FObjectID : o->FName == Value->FName;
  };
  if (auto it = std::find_if(list.begin(), list.end(), same); it != list.end()) list.erase(it);
  list.push_back(std::move(Value));
}

TORVSessionNamedObject* TORVBaseSession::GetObjectByName(std::string_view ObjectName) {
  for (auto& o : FSessionNamedObjectList)
    if (SameName(o->FName, ObjectName)) return o.get();
  return nullptr;
}

TORVSessionNamedObject* TORVBaseSession::GetObjectByID(int32_t id) {
  for (auto& o : FSessionNamedObjectList)
    if (o->FObjectID == id) return o.get();
  return nullptr;
}

void TORVBaseSession::DeleteObject(int32_t id) {
  auto& list = FSessionNamedObjectList;
  if (auto it = std::find_if(list.begin(), list.end(), [id](const auto& o) { return o->FObjectID == id; });
      it != list.end())
    list.erase(it);
}

// ---- Cursor -----------------------------------------------------------------------------------

TORVCursor::TORVCursor() : FIndexPositionCache(std::make_unique<TORVIndexPositionCache>()) {}
TORVCursor::~TORVCursor() = default;

int32_t TORVCursor::GetSessionID() const { return FSession ? FSession->FSessionID : SYSTEM_SESSION_ID; }

void TORVCursor::SetIndexName(const std::string& Value) {
  FIndexName = Value;
  const TORVIndexDef* def = FIndexDefs ? FIndexDefs->GetIndexDefByName(Value) : nullptr;
  FIndexID = def ? def->ObjectID : -1;
}

void TORVCursor::RenameField(const std::string& FieldName, const std::string& NewFieldName) {
  TORVFieldDef* field = FFieldDefs ? FFieldDefs->GetFieldDefByName(FieldName) : nullptr;
  if (!field) throw EORVException(30345, "Field '%s' not found", {FieldName});
  if (FFieldDefs->GetFieldDefByName(NewFieldName))
    throw EORVException(30346, "Cannot rename field '%s'. Field '%s' already exists", {FieldName, NewFieldName});
  field->Name = ShortName(NewFieldName);
}

TORVIndexDefs* TORVCursor::GetIndexDefs() { return FIndexDefs.get(); }

void TORVCursor::FreeRecordBuffer(void*& Buffer) { MemoryManager().FreeAndNillMem(Buffer); }

bool TORVCursor::GetFieldData(int32_t FieldNo, void* Buffer, const void* RecordBuffer) {
  const int32_t visible = FVisibleFieldDefs ? FVisibleFieldDefs->GetCount() : 0;
  if (FieldNo < 0 || FieldNo >= visible)
    throw EORVException(10005, "Invalid field number - FieldNo = %d, FieldCount = %d", {FieldNo, visible});
  return orv::GetFieldData(FVisibleFieldDefs->GetDef(FieldNo)->FieldNoReference, *FFieldDefs, Buffer, RecordBuffer);
}

void TORVCursor::SetFieldData(int32_t FieldNo, const void* Buffer, void* RecordBuffer) {
  const int32_t visible = FVisibleFieldDefs ? FVisibleFieldDefs->GetCount() : 0;
  if (FieldNo < 0 || FieldNo >= visible)
    throw EORVException(10006, "Invalid field number - FieldNo = %d, FieldCount = %d", {FieldNo, visible});
  orv::SetFieldData(FVisibleFieldDefs->GetDef(FieldNo)->FieldNoReference, *FFieldDefs, Buffer, RecordBuffer);
}

const TORVFieldDef* TORVCursor::FieldForValue(int32_t FieldNo, bool DirectAccess, int32_t DirectCode,
                                              int32_t VisibleCode, int32_t& NullFlagNo) const {
  const TORVFieldDefs* defs = DirectAccess ? FFieldDefs.get() : FVisibleFieldDefs.get();
  const int32_t count = defs ? defs->GetCount() : 0;
  if (FieldNo < 0 || FieldNo >= count)
    throw EORVException(DirectAccess ? DirectCode : VisibleCode, "Invalid field number - FieldNo = %d, FieldCount = %d",
                        {FieldNo, count});
  const TORVFieldDef* field = defs->GetDef(FieldNo);
  NullFlagNo = DirectAccess ? FieldNo : field->FieldNoReference;
  return field;
}

void TORVCursor::GetFieldValue(TORVVariant& Value, int32_t FieldNo, bool DirectAccess) {
  int32_t flag = 0;
  const TORVFieldDef* field = FieldForValue(FieldNo, DirectAccess, 20191, 10317, flag);
  if (!FCurrentRecordBuffer) throw EORVException(20191, "Nil pointer occured");
  const auto* record = static_cast<const uint8_t*>(FCurrentRecordBuffer);
  if (CheckNullFlag(flag, record)) {
    Value.SetNull(Value.DataType());
    return;
  }
  Value.SetData(record + field->MemoryOffset, field->MemoryDataSize, field->BaseFieldType, true);
}

void TORVCursor::SetFieldValue(TORVVariant& Value, int32_t FieldNo, bool DirectAccess, void* RecordBuffer) {
  int32_t flag = 0;
  const TORVFieldDef* field = FieldForValue(FieldNo, DirectAccess, 20192, 20193, flag);
  auto* record = static_cast<uint8_t*>(RecordBuffer ? RecordBuffer : FCurrentRecordBuffer);
  if (!record) throw EORVException(20192, "Nil pointer occured");
  if (Value.GetIsNull()) {
    SetNullFlag(true, flag, record);
    return;
  }
  Value.Cast(field->BaseFieldType);
  uint8_t* data = record + field->MemoryOffset;
  // An empty text copies nothing; the field must still read back empty, not keep what it held.
  if (!Value.CopyDataToAddress(data, field->MemoryDataSize))
    std::memset(data, 0, static_cast<size_t>(field->MemoryDataSize));
  SetNullFlag(false, flag, record);
}

void TORVCursor::ClearStringFieldsGarbage(void* RecordBuffer) {
  if (!FFieldDefs || !RecordBuffer) return;
  auto* record = static_cast<uint8_t*>(RecordBuffer);
  for (int32_t i = 0; i < FFieldDefs->GetCount(); ++i) {
    const TORVFieldDef* f = FFieldDefs->GetDef(i);
    if (f->BaseFieldType < bftChar || f->BaseFieldType > bftWideVarchar) continue;
    uint8_t* data = record + f->MemoryOffset;
    const auto size = static_cast<size_t>(f->MemoryDataSize);
    size_t keep = 0;
    if (!CheckNullFlag(i, record)) {
      if (IsWideStringFieldType(f->BaseFieldType)) {
        while (keep + 1 < size && (data[keep] | data[keep + 1]) != 0) keep += 2;
      } else {
        keep = static_cast<size_t>(std::find(data, data + size, 0) - data);
      }
    }
    std::memset(data + keep, 0, size - std::min(keep, size));
  }
}

void* TORVCursor::AllocateRecordBuffer() { return MemoryManager().AllocMem(FRecordBufferSize); }

void* TORVCursor::AllocateKeyRecordBuffer() { return MemoryManager().GetMem(FKeyBufferSize); }

void TORVCursor::InternalInitKeyBuffer(void* RecordBuffer) {
  std::memset(RecordBuffer, 0, static_cast<size_t>(FKeyBufferSize));
  InternalInitRecord(RecordBuffer, false);
}

TORVCursorPos* TORVCursor::SavePosition() {
  auto* pos = static_cast<TORVCursorPos*>(MemoryManager().GetMem(sizeof(TORVCursorPos)));
  return new (pos) TORVCursorPos{FirstPosition, LastPosition, CurrentRecordID};
}

void TORVCursor::RestorePosition(const TORVCursorPos* Pos) {
  FirstPosition = Pos->FirstPosition;
  LastPosition = Pos->LastPosition;
  CurrentRecordID = Pos->RecordID;
}

void TORVCursor::FreePosition(TORVCursorPos*& Pos) {
  if (!Pos) return;
  Pos->~TORVCursorPos();
  MemoryManager().FreeAndNillMem(Pos);
}

void TORVCursor::DisableRecordBitmap() {
  if (FRecordBitmap) FRecordBitmap->Clear();
}

void TORVCursor::ApplyProjection(const std::vector<std::string>& FieldNamesList,
                                 const std::vector<std::string>& AliasList) {
  const auto names = static_cast<int32_t>(FieldNamesList.size());
  const auto aliases = static_cast<int32_t>(AliasList.size());
  if (names != aliases)
    throw EORVException(10321, "Error - different list lengths. L1 = %d, L2 = %d", {names, aliases});
  if (names == 0) throw EORVException(10322, "No fields were specified while setting projection");
  if (!FVisibleFieldDefs) FVisibleFieldDefs = std::make_unique<TORVFieldDefs>();
  FVisibleFieldDefs->Clear();
  const auto taken = [this](const std::string& candidate) { return FVisibleFieldDefs->GetDefByName(candidate) != nullptr; };
  for (int32_t i = 0; i < names; ++i) {
    const std::string& name = FieldNamesList[static_cast<size_t>(i)];
    const int32_t no = FFieldDefs ? FFieldDefs->GetDefNumberByName(name) : -1;
    if (no < 0) throw EORVException(10323, "Cannot find field %s", {name});
    TORVFieldDef* def = FVisibleFieldDefs->AddCreated();
    def->Assign(*FFieldDefs->GetDef(no));
    def->FieldNoReference = no;
    const std::string& alias = AliasList[static_cast<size_t>(i)];
    if (alias.empty()) continue;
    def->Name.clear();
    std::string candidate = alias;
    for (int32_t n = 1; n <= names && taken(candidate); ++n) candidate = alias + "_" + std::to_string(n);
    def->Name = ShortName(candidate);
  }
}

bool TORVCursor::IsFilterApplied() const {
  return FFilterExpression != nullptr || static_cast<bool>(FilterRecord) || FSQLFilterExpression != nullptr;
}

void TORVCursor::ResetRange() {
  FRangeStartBuffer = nullptr;
  FRangeEndBuffer = nullptr;
  DisableRecordBitmap();
}

void TORVCursor::ApplyRange(void* StartBuffer, void* EndBuffer, int32_t StartKeyFieldCount, int32_t EndKeyFieldCount,
                            bool StartExclusive, bool EndExclusive) {
  FRangeStartBuffer = StartBuffer;
  FRangeEndBuffer = EndBuffer;
  FRangeStartKeyFieldCount = StartKeyFieldCount;
  FRangeEndKeyFieldCount = EndKeyFieldCount;
  FRangeStartExclusive = StartExclusive;
  FRangeEndExclusive = EndExclusive;
  DisableRecordBitmap();
}

void TORVCursor::SetSQLFilter(IORVExpression* FilterExpr, IORVAO* ParentQueryAO, TORVCursor* ParentCursor) {
  FSQLFilterExpression = FilterExpr;
  if (FilterExpr) FilterExpr->AssignCursor(this, ParentQueryAO, ParentCursor);
}

}  // namespace orv

// The dataset's record selection and search: the filter text and options, Filtered and
// OnFilterRecord over the cursor's filter expression; FindFirst/FindNext..., Locate and Lookup;
// and what the SQL layer does to a dataset (its WHERE expression, a projection, typed field
// values).
#include <cstring>
#include <string>
#include <vector>

#include "dbengine/access/orv_main_blob_stream.h"
#include "dbengine/access/orv_main_dataset.h"
#include "dbengine/access/orv_main_database.h"
#include "dbengine/storage/orv_converts.h"
#include "dbengine/storage/orv_except.h"
#include "platform/base/cp1252.h"
#include "platform/data/blob_field.h"

namespace orv {

using namespace platform::data;

namespace {

// The engine's form of one key value of a Locate. Program texts are UTF-8; the engine's 8-bit
// texts are Windows-1252.
TORVVarValue ToVarValue(const Variant& Value) {
  switch (Value.Type()) {
    case VarType::Empty:
    case VarType::Null: return TORVVarValue::Null();
    case VarType::Boolean: return TORVVarValue::Bool(Value.AsBoolean());
    case VarType::Integer: return TORVVarValue::Int(varInteger, Value.AsInteger());
    case VarType::Int64: return TORVVarValue::Int(varInt64, Value.AsInt64());
    case VarType::Double: return TORVVarValue::Float(varDouble, Value.AsDouble());
    case VarType::Currency: return TORVVarValue::Float(varCurrency, Value.AsCurrency());
    case VarType::Date: return TORVVarValue::Float(varDate, Value.AsDateTime());
    case VarType::String:
    case VarType::AnsiString: return TORVVarValue::Ansi(Value.AsAnsiString());
    case VarType::WideString: return TORVVarValue::Wide(Value.AsWideString());
    case VarType::Bytes: {
      const std::vector<uint8_t> bytes = Value.AsBytes();
      return TORVVarValue::Ansi(std::string(bytes.begin(), bytes.end()));
    }
    case VarType::Array: break;
  }
  throw EORVException(10273, "A key value of a search cannot be an array");
}

std::vector<TORVVarValue> ToVarValues(const Variant& KeyValues) {
  std::vector<TORVVarValue> values;
  if (KeyValues.IsArray()) {
    for (const Variant& v : KeyValues.Items()) values.push_back(ToVarValue(v));
  } else {
    values.push_back(ToVarValue(KeyValues));
  }
  return values;
}

}  // namespace

// ---------------------------------------------------------------- filters

void TORVDataSet::SetFilterText(const std::string& Value) { SetFilterData(Value, FilterOptions()); }

void TORVDataSet::SetFilterOptions(TFilterOptions Value) { SetFilterData(Filter(), Value); }

void TORVDataSet::SetFilterData(const std::string& Text, TFilterOptions Options) {
  const bool open = Active();
  if (open) {
    Cursor(10266);
    CheckBrowseMode();
  }
  TDataSet::SetFilterText(Text);
  TDataSet::SetFilterOptions(Options);
  if (open && Filtered()) {
    ActivateFilters();
    First();
  }
}

void TORVDataSet::SetFiltered(bool Value) {
  if (!Active()) {
    TDataSet::SetFiltered(Value);
    return;
  }
  Cursor(10267);
  CheckBrowseMode();
  if (Value != Filtered()) {
    if (Value)
      ActivateFilters();
    else
      DeactivateFilters();
    TDataSet::SetFiltered(Value);
  }
  if (Value)
    First();
  else
    Refresh();
}

void TORVDataSet::SetOnFilterRecord(TFilterRecordEvent Value) {
  if (!Active()) {
    TDataSet::SetOnFilterRecord(std::move(Value));
    return;
  }
  TORVCursor& cursor = Cursor(10275);
  CheckBrowseMode();
  const bool had = static_cast<bool>(OnFilterRecord());
  TDataSet::SetOnFilterRecord(std::move(Value));
  if (had != static_cast<bool>(OnFilterRecord())) {
    if (Filtered())
      ActivateFilters();
    else
      DeactivateFilters();
  } else if (Filtered() && had) {
    // Another handler in place of the previous one: the records the previous one accepted
    // are asked again.
    cursor.DisableRecordBitmap();
  }
  if (Filtered()) First();
}

void TORVDataSet::ActivateFilters() {
  TORVCursor& cursor = Cursor(10269);
  if (!Filter().empty()) {
    cursor.ActivateFilters(Filter(), FilterOptions().Contains(foCaseInsensitive),
                           !FilterOptions().Contains(foNoPartialCompare));
  } else {
    cursor.DeactivateFilters();
  }
  if (OnFilterRecord())
    cursor.FilterRecord = &TORVDataSet::FilterRecord;
  else
    cursor.FilterRecord = nullptr;
}

void TORVDataSet::DeactivateFilters() { Cursor(10270).DeactivateFilters(); }

bool TORVDataSet::FilterRecord(const void* Buffer, void* Dataset) {
  return static_cast<TORVDataSet*>(Dataset)->InternalFilterRecord(Buffer);
}

bool TORVDataSet::InternalFilterRecord(const void* Buffer) {
  if (!IsOnFilterRecordApplied()) return true;
  uint8_t* const saved_buffer = FFilterBuffer;
  FFilterBuffer = static_cast<uint8_t*>(const_cast<void*>(Buffer));
  const TDataSetState saved = SetTempState(dsFilter);
  bool accept = true;
  try {
    OnFilterRecord()(*this, accept);
  } catch (...) {
    InternalHandleException();
  }
  RestoreState(saved);
  FFilterBuffer = saved_buffer;
  return accept;
}

// ---------------------------------------------------------------- search

bool TORVDataSet::FindRecord(bool Restart, bool GoForward) {
  CheckBrowseMode();
  DoBeforeScroll();
  bool found = false;
  TORVCursor& cursor = Cursor(10268);
  UpdateCursorPos();
  CursorPosChanged();
  // FindFirst and FindNext search with the filter text also while the dataset shows every
  // record.
  const bool temporary = !Filtered();
  if (temporary) ActivateFilters();
  TRecordBuffer scratch = nullptr;
  TGetResult result = grError;
  try {
    scratch = AllocRecordBuffer();
    if (GoForward) {
      if (Restart) InternalFirst();
      result = GetRecord(scratch, gmNext, false);
    } else {
      if (Restart) InternalLast();
      result = GetRecord(scratch, gmPrior, false);
    }
  } catch (...) {
    if (scratch) FreeRecordBuffer(scratch);
    if (temporary) cursor.DeactivateFilters();
    throw;
  }
  FreeRecordBuffer(scratch);
  if (temporary) cursor.DeactivateFilters();
  if (result == grOK) {
    Resync({rmExact, rmCenter});
    found = true;
  }
  if (found) DoAfterScroll();
  return found;
}

bool TORVDataSet::LocateRecord(const std::string& KeyFields, const Variant& KeyValues, TLocateOptions Options) {
  if (!FHandle) throw EORVException(10271, "Cannot perform LOCATE on a closed dataset");
  CheckBrowseMode();
  TORVCursor& cursor = *FHandle;
  const std::vector<TORVVarValue> values = ToVarValues(KeyValues);
  CursorPosChanged();
  const TDataSetState saved = SetTempState(dsFilter);
  bool found = false;
  try {
    FFilterBuffer = TempBuffer();
    cursor.FCurrentRecordBuffer = FFilterBuffer;
    found = cursor.Locate(platform::Utf8ToCp1252(KeyFields), values, Options.Contains(loCaseInsensitive),
                          Options.Contains(loPartialKey));
  } catch (...) {
    RestoreState(saved);
    throw;
  }
  RestoreState(saved);
  return found;
}

bool TORVDataSet::Locate(const std::string& KeyFields, const Variant& KeyValues, TLocateOptions Options) {
  DoBeforeScroll();
  const bool found = LocateRecord(KeyFields, KeyValues, Options);
  if (found) {
    Resync({rmExact, rmCenter});
    DoAfterScroll();
  }
  return found;
}

Variant TORVDataSet::Lookup(const std::string& KeyFields, const Variant& KeyValues, const std::string& ResultFields) {
  if (!LocateRecord(KeyFields, KeyValues, {})) return Variant::Null();
  const TDataSetState saved = SetTempState(dsCalcFields);
  Variant result;
  try {
    CalculateFields(TempBuffer());
    result = FieldValues(ResultFields);
  } catch (...) {
    RestoreState(saved);
    throw;
  }
  RestoreState(saved);
  return result;
}

// ---------------------------------------------------------------- for the SQL layer

void TORVDataSet::SetSQLFilter(IORVExpression* FilterExpr, IORVAO* ParentQueryAO, TORVCursor* ParentCursor) {
  Cursor(10300).SetSQLFilter(FilterExpr, ParentQueryAO, ParentCursor);
}

void TORVDataSet::ApplyProjection(const std::vector<std::string>& FieldNamesList,
                                  const std::vector<std::string>& AliasList) {
  TORVCursor& cursor = Cursor(10320);
  cursor.ApplyProjection(FieldNamesList, AliasList);
  cursor.FSettingProjection = true;
  // The dataset is reopened over the same cursor; it keeps the cursor it owned.
  const bool owned = FOwnsHandle;
  FOwnsHandle = false;
  FExternalHandle = &cursor;
  cursor.InternalFirst();
  const auto finish = [&] {
    cursor.FSettingProjection = false;
    FExternalHandle = nullptr;
    if (FHandle == &cursor) FOwnsHandle = owned;
  };
  try {
    Close();
    FExternalHandle = &cursor;
    Open();
    if (Database() && Database()->Handle()) cursor.FSession = Database()->Handle();
  } catch (...) {
    try {
      Close();
      cursor.FSettingProjection = false;
      FExternalHandle = &cursor;
      Open();
    } catch (...) {
      // The first error tells what went wrong.
    }
    finish();
    if (!FHandle && owned) delete &cursor;
    throw;
  }
  finish();
}

void TORVDataSet::GetFieldValue(TORVVariant& Value, int32_t FieldNo, bool DirectAccess) {
  TORVCursor& cursor = Cursor(10315);
  const TORVFieldDefs& defs = DirectAccess ? *cursor.FFieldDefs : *cursor.FVisibleFieldDefs;
  if (FieldNo < 0 || FieldNo >= defs.GetCount()) {
    // The cursor names the error of a field number out of range.
    cursor.FCurrentRecordBuffer = GetActiveRecordBuffer();
    cursor.GetFieldValue(Value, FieldNo, DirectAccess);
    return;
  }
  const TORVBaseFieldType type = static_cast<const TORVFieldDef*>(defs.GetDef(FieldNo))->BaseFieldType;
  if (!IsBLOBFieldType(type)) {
    cursor.FCurrentRecordBuffer = GetActiveRecordBuffer();
    cursor.GetFieldValue(Value, FieldNo, DirectAccess);
    return;
  }
  Value.Clear(type);
  int32_t index = FieldNo;
  if (DirectAccess) {
    for (int32_t i = 0; i < cursor.FVisibleFieldDefs->GetCount(); ++i)
      if (static_cast<const TORVFieldDef*>(cursor.FVisibleFieldDefs->GetDef(i))->FieldNoReference == FieldNo) {
        index = i;
        break;
      }
  }
  if (index >= FieldCount()) throw EORVException(10317, "Field number out of range");
  TORVBLOBStream stream(Fields()[index], bmRead);
  const int64_t size = stream.GetSize();
  if (size <= 0) return;
  if (size > INT32_MAX) throw EORVException(10318, "BLOB value too large");
  std::vector<uint8_t> block(static_cast<size_t>(size));
  int32_t done = 0;
  while (done < static_cast<int32_t>(size)) {
    const int32_t n = stream.Read(block.data() + done, static_cast<int32_t>(size) - done);
    if (n <= 0) break;
    done += n;
  }
  if (done <= 0) return;
  Value.SetData(block.data(), done, type, true);
}

void TORVDataSet::SetFieldValue(TORVVariant& Value, int32_t FieldNo, bool DirectAccess) {
  TORVCursor& cursor = Cursor(10316);
  TField* field = FieldNo >= 0 && FieldNo < FieldCount() ? Fields()[FieldNo] : nullptr;
  if (!field || !field->IsBlob() || Value.IsNull()) {
    cursor.SetFieldValue(Value, FieldNo, DirectAccess, GetActiveRecordBuffer());
    return;
  }
  TORVBLOBStream stream(field, bmWrite);
  stream.Write(Value.pData(), Value.DataSize());
}

void TORVDataSet::CopyFieldValue(int32_t SrcFieldNo, bool UseDirectFieldAccess, int32_t DestFieldNo,
                                 TORVDataSet* DestDataset) {
  TORVCursor& source = Cursor(10500);
  if (!DestDataset) throw EORVException(10503, "Nil pointer occured");
  TORVCursor& dest = DestDataset->Cursor(10504);
  source.FCurrentRecordBuffer = GetActiveRecordBuffer();
  dest.FCurrentRecordBuffer = DestDataset->GetActiveRecordBuffer();
  source.CopyFieldValue(SrcFieldNo, UseDirectFieldAccess, DestFieldNo, &dest);
}

bool TORVDataSet::IsDistinctApplied() const { return Cursor(10326).IsDistinctApplied(); }

}  // namespace orv

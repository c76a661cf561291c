#include "platform/data/dataset.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/base/datetime.h"
#include "platform/base/numeric.h"
#include "platform/data/blob_field.h"
#include "platform/data/data_source.h"
#include "platform/data/exception_handler.h"
#include "platform/data/index_defs.h"

namespace platform::data {
namespace {

// Field types that share one native record layout and may therefore bind to each other.
int LayoutClass(TFieldType t) {
  switch (t) {
    case ftString:
    case ftFixedChar:
    case ftGuid: return 1;
    case ftWideString:
    case ftFixedWideChar: return 2;
    case ftInteger:
    case ftAutoInc: return 3;
    case ftFloat:
    case ftCurrency: return 4;
    default: return IsBlobFieldType(t) ? 5 : 100 + static_cast<int>(t);
  }
}

// Types whose native size follows the declared size: a field and its definition must agree
// on it, or the dataset would copy more bytes than the field's buffer holds.
bool SizeDefinesLayout(TFieldType t) {
  switch (t) {
    case ftString:
    case ftFixedChar:
    case ftGuid:
    case ftWideString:
    case ftFixedWideChar:
    case ftBytes:
    case ftVarBytes: return true;
    default: return false;
  }
}

}  // namespace

TDataSet::TDataSet() : fields_(this), field_defs_(this) {}

TDataSet::~TDataSet() {
  // An open dataset here means the descendant did not close it: its buffers cannot be
  // freed without its overrides, which are already gone.
  for (TDataSource* s : data_sources_) {
    s->dataset_ = nullptr;
    s->UpdateState();
  }
  data_sources_.clear();
}

// ---------------------------------------------------------------- opening and state

void TDataSet::CheckActive() const {
  if (state_ == dsInactive) DatabaseError("Cannot perform this operation on a closed dataset", name_);
}

void TDataSet::CheckInactive() const {
  if (Active()) DatabaseError("Cannot perform this operation on an open dataset", name_);
}

void TDataSet::SetActive(bool value) {
  if (value == Active()) return;
  if (value) {
    if (BeforeOpen) BeforeOpen(*this);
    try {
      state_ = dsOpening;
      OpenCursor(false);
      ClearBuffers();
      InternalFirst();
      GetNextRecords();
      state_ = dsInactive;
      SetState(dsBrowse);
    } catch (...) {
      state_ = dsInactive;
      CloseCursor();
      throw;
    }
    if (AfterOpen) AfterOpen(*this);
    if (!IsEmpty()) DoAfterScroll();
  } else {
    if (BeforeClose) BeforeClose(*this);
    SetState(dsInactive);
    CloseCursor();
    if (AfterClose) AfterClose(*this);
  }
}

void TDataSet::OpenCursor(bool info_query) {
  if (info_query) {
    InternalInitFieldDefs();
    return;
  }
  default_fields_ = fields_.Count() == 0;
  InternalOpen();
  internal_open_complete_ = true;
  AllocateBuffers();
}

void TDataSet::CloseCursor() {
  internal_open_complete_ = false;
  FreeFieldBuffers();
  ClearBuffers();
  FreeBuffers();
  InternalClose();
  default_fields_ = false;
}

void TDataSet::InitFieldDefs() {
  if (IsCursorOpen()) {
    InternalInitFieldDefs();
    return;
  }
  try {
    OpenCursor(true);
  } catch (...) {
    CloseCursor();
    throw;
  }
  CloseCursor();
}

void TDataSet::SetState(TDataSetState value) {
  if (state_ == value) return;
  state_ = value;
  modified_ = false;
  DataEvent(deUpdateState, 0);
}

TDataSetState TDataSet::SetTempState(TDataSetState value) {
  const TDataSetState saved = state_;
  state_ = value;
  ++disable_count_;
  return saved;
}

void TDataSet::RestoreState(TDataSetState saved) {
  state_ = saved;
  if (disable_count_ > 0) --disable_count_;
}

// ---------------------------------------------------------------- fields

void TDataSet::CreateFields() {
  for (int i = 0; i < field_defs_.Count(); ++i) field_defs_[i]->CreateField(*this);
}

void TDataSet::DestroyFields() { fields_.Clear(); }

void TDataSet::BindFields(bool binding) {
  calc_fields_size_ = 0;
  for (int i = 0; i < fields_.Count(); ++i) {
    TField* f = fields_[i];
    if (!binding) {
      f->field_no_ = 0;
      continue;
    }
    if (f->FieldKind() == fkCalculated || f->FieldKind() == fkLookup) {
      f->field_no_ = -1;
      f->offset_ = calc_fields_size_;
      calc_fields_size_ += f->DataSize() + 1;
      continue;
    }
    const int d = field_defs_.IndexOf(f->FieldName());
    if (d < 0) DatabaseError(FormatText("Field '%s' not found", {f->DisplayName()}), name_);
    const TFieldDef* def = field_defs_[d];
    if (LayoutClass(f->DataType()) != LayoutClass(def->DataType()))
      DatabaseError(FormatText("Type mismatch for field '%s', expecting: %s actual: %s",
                               {f->DisplayName(), FieldTypeName(f->DataType()), FieldTypeName(def->DataType())}),
                    name_);
    if (f->IsBlob()) {
      f->size_ = def->Size();
    } else if (SizeDefinesLayout(f->DataType()) && f->Size() != def->Size()) {
      DatabaseError(FormatText("Size mismatch for field '%s', expecting: %d actual: %d",
                               {f->DisplayName(), std::to_string(f->Size()), std::to_string(def->Size())}),
                    name_);
    }
    f->field_no_ = d + 1;
  }
}

std::vector<TField*> TDataSet::GetFieldList(const std::string& names) const {
  std::vector<TField*> out;
  for (const std::string& n : SplitFieldNames(names)) out.push_back(FieldByName(n));
  return out;
}

Variant TDataSet::FieldValues(const std::string& names) const {
  const std::vector<TField*> list = GetFieldList(names);
  if (list.empty()) return Variant::Null();
  if (list.size() == 1) return list[0]->AsVariant();
  std::vector<Variant> values;
  values.reserve(list.size());
  for (TField* f : list) values.push_back(f->AsVariant());
  return Variant::Array(std::move(values));
}

void TDataSet::SetFieldValues(const std::string& names, const Variant& values) {
  const std::vector<TField*> list = GetFieldList(names);
  if (list.size() == 1) {
    list[0]->SetAsVariant(values);
    return;
  }
  if (!values.IsArray() || values.ArrayLength() != list.size())
    DatabaseError("Number of values does not match number of fields", name_);
  for (size_t i = 0; i < list.size(); ++i) list[i]->SetAsVariant(values[i]);
}

void TDataSet::CheckRequiredFields() {
  for (int i = 0; i < fields_.Count(); ++i) {
    TField* f = fields_[i];
    if (f->Required() && !f->ReadOnly() && f->FieldKind() == fkData && f->IsNull())
      DatabaseError(FormatText("Field '%s' must have a value", {f->DisplayName()}));
  }
}

void TDataSet::CheckCanModify() {
  if (!GetCanModify()) DatabaseError("Cannot modify a read-only dataset", name_);
}

void TDataSet::InternalPost() { CheckRequiredFields(); }

void TDataSet::InternalHandleException() { HandleException(); }

void TDataSet::InitRecord(TRecordBuffer buffer) {
  InternalInitRecord(buffer);
  ClearCalcFields(buffer);
  SetBookmarkFlag(buffer, bfInserted);
}

void TDataSet::GetCalcFields(TRecordBuffer buffer) {
  if (calc_fields_size_ <= 0) return;
  const TDataSetState saved = SetTempState(dsCalcFields);
  try {
    CalculateFields(buffer);
  } catch (...) {
    RestoreState(saved);
    throw;
  }
  RestoreState(saved);
}

void TDataSet::CalculateFields(TRecordBuffer buffer) {
  calc_buffer_ = buffer;
  if (state_ == dsInternalCalc) return;
  ClearCalcFields(buffer);
  for (int i = 0; i < fields_.Count(); ++i) {
    TField* f = fields_[i];
    if (f->FieldKind() != fkLookup || f->LookupDataSet == nullptr || !f->LookupDataSet->Active()) continue;
    const Variant keys = FieldValues(f->KeyFields);
    f->SetAsVariant(f->LookupDataSet->Lookup(f->LookupKeyFields, keys, f->LookupResultField));
  }
  if (OnCalcFields) OnCalcFields(*this);
}

void TDataSet::FreeFieldBuffers() {
  for (int i = 0; i < fields_.Count(); ++i)
    if (auto* b = dynamic_cast<TBlobField*>(fields_[i])) b->SetModified(false);
}

bool TDataSet::GetFieldData(TField* field, void* buffer, bool native_format) {
  if (native_format || buffer == nullptr) return GetFieldData(field, buffer);
  std::vector<uint8_t> native(static_cast<size_t>(std::max(field->DataSize(), 16)), 0);
  const bool ok = GetFieldData(field, native.data());
  if (ok) DataConvert(field, native.data(), buffer, false);
  return ok;
}

void TDataSet::SetFieldData(TField* field, void* buffer, bool native_format) {
  if (native_format || buffer == nullptr) {
    SetFieldData(field, buffer);
    return;
  }
  std::vector<uint8_t> native(static_cast<size_t>(std::max(field->DataSize(), 16)), 0);
  DataConvert(field, buffer, native.data(), true);
  SetFieldData(field, native.data());
}

void TDataSet::DataConvert(TField* field, const void* source, void* dest, bool to_native) {
  constexpr double kMs = kMSecsPerDay;
  switch (field->DataType()) {
    case ftDate: {
      if (to_native) {
        double d = 0;
        std::memcpy(&d, source, sizeof d);
        const int64_t days = static_cast<int64_t>(Trunc64(d)) + kDateDelta;
        const auto v = static_cast<int32_t>(std::clamp<int64_t>(days, std::numeric_limits<int32_t>::min(),
                                                                std::numeric_limits<int32_t>::max()));
        std::memcpy(dest, &v, sizeof v);
      } else {
        int32_t v = 0;
        std::memcpy(&v, source, sizeof v);
        const double d = static_cast<double>(static_cast<int64_t>(v) - kDateDelta);
        std::memcpy(dest, &d, sizeof d);
      }
      return;
    }
    case ftTime: {
      if (to_native) {
        double t = 0;
        std::memcpy(&t, source, sizeof t);
        double frac = std::fabs(static_cast<double>(Frac(t)));
        if (!std::isfinite(frac)) frac = 0;
        // a time of day never reaches the next midnight
        const auto ms = static_cast<int32_t>(std::min<int64_t>(Round64(frac * kMs), kMSecsPerDay - 1));
        std::memcpy(dest, &ms, sizeof ms);
      } else {
        int32_t ms = 0;
        std::memcpy(&ms, source, sizeof ms);
        const double t = ms / kMs;
        std::memcpy(dest, &t, sizeof t);
      }
      return;
    }
    case ftDateTime: {
      // milliseconds from 0001-01-01, whole milliseconds, linear in the TDateTime value
      if (to_native) {
        double d = 0;
        std::memcpy(&d, source, sizeof d);
        const double ms = std::nearbyint((d + kDateDelta) * kMs);
        std::memcpy(dest, &ms, sizeof ms);
      } else {
        double ms = 0;
        std::memcpy(&ms, source, sizeof ms);
        const double days = std::floor(ms / kMs);
        const double d = (days - kDateDelta) + (ms - days * kMs) / kMs;
        std::memcpy(dest, &d, sizeof d);
      }
      return;
    }
    default:
      std::memcpy(dest, source, static_cast<size_t>(field->DataSize()));
      return;
  }
}

std::unique_ptr<TStream> TDataSet::CreateBlobStream(TField*, TBlobStreamMode) { return nullptr; }

Variant TDataSet::GetStateFieldValue(TDataSetState state, TField* field) {
  const TDataSetState saved = SetTempState(state);
  Variant v;
  try {
    v = field->AsVariant();
  } catch (...) {
    RestoreState(saved);
    throw;
  }
  RestoreState(saved);
  return v;
}

// ---------------------------------------------------------------- the buffer window

TRecordBuffer TDataSet::ActiveBuffer() const {
  return buffers_.empty() ? nullptr : buffers_[static_cast<size_t>(active_record_)];
}

TRecordBuffer TDataSet::TempBuffer() const {
  return buffers_.empty() ? nullptr : buffers_[static_cast<size_t>(buffer_count_)];
}

TRecordBuffer TDataSet::Buffer(int row) const {
  if (row < 0 || row > buffer_count_ || buffers_.empty()) return nullptr;
  return buffers_[static_cast<size_t>(row)];
}

void TDataSet::AllocateBuffers() {
  int wanted = 1;
  for (TDataSource* s : data_sources_) wanted = std::max(wanted, s->MaxBufferCount());
  buffers_.reserve(static_cast<size_t>(wanted) + 1);
  while (buffers_.size() < static_cast<size_t>(wanted) + 1) buffers_.push_back(AllocRecordBuffer());
  buffer_count_ = wanted;
}

void TDataSet::FreeBuffers() {
  for (TRecordBuffer& b : buffers_)
    if (b != nullptr) FreeRecordBuffer(b);
  buffers_.clear();
  buffer_count_ = 0;
}

void TDataSet::MoveBuffer(int from, int to) {
  if (from == to) return;
  auto base = buffers_.begin();
  if (from < to) {
    std::rotate(base + from, base + from + 1, base + to + 1);
  } else {
    std::rotate(base + to, base + from, base + from + 1);
  }
}

void TDataSet::ActivateBuffers() {
  record_count_ = 1;
  active_record_ = 0;
  current_record_ = 0;
  bof_ = false;
  eof_ = false;
}

void TDataSet::ClearBuffers() {
  record_count_ = 0;
  active_record_ = 0;
  current_record_ = -1;
  bof_ = true;
  eof_ = true;
}

void TDataSet::SetCurrentRecord(int row) {
  if (current_record_ == row) return;
  TRecordBuffer b = buffers_[static_cast<size_t>(row)];
  switch (GetBookmarkFlag(b)) {
    case bfCurrent:
    case bfInserted: InternalSetToRecord(b); break;
    case bfBOF: InternalFirst(); break;
    case bfEOF: InternalLast(); break;
  }
  current_record_ = row;
}

void TDataSet::UpdateCursorPos() {
  if (record_count_ > 0) SetCurrentRecord(active_record_);
}

bool TDataSet::GetNextRecord() {
  TGetMode mode = gmNext;
  if (record_count_ > 0) {
    SetCurrentRecord(record_count_ - 1);
    // the last row is a new record placed before the record the cursor stands on: that
    // record itself is the next one
    if (state_ == dsInsert && current_record_ == active_record_ && GetBookmarkFlag(ActiveBuffer()) == bfInserted)
      mode = gmCurrent;
  }
  const bool ok = GetRecord(buffers_[static_cast<size_t>(record_count_)], mode, true) == grOK;
  if (!ok) {
    CursorPosChanged();
    return false;
  }
  if (record_count_ == 0) {
    ActivateBuffers();
  } else if (record_count_ < buffer_count_) {
    ++record_count_;
  } else {
    MoveBuffer(0, record_count_);  // the window is full: its first row leaves
    if (active_record_ > 0) --active_record_;
  }
  current_record_ = record_count_ - 1;
  return true;
}

bool TDataSet::GetPriorRecord() {
  if (record_count_ > 0) SetCurrentRecord(0);
  const bool ok = GetRecord(buffers_[static_cast<size_t>(record_count_)], gmPrior, true) == grOK;
  if (!ok) {
    CursorPosChanged();
    return false;
  }
  if (record_count_ == 0) {
    ActivateBuffers();
  } else {
    MoveBuffer(record_count_, 0);  // a full window drops its last row
    if (record_count_ < buffer_count_) {
      ++record_count_;
      ++active_record_;
    }
  }
  current_record_ = 0;
  return true;
}

int TDataSet::GetNextRecords() {
  int n = 0;
  while (record_count_ < buffer_count_ && GetNextRecord()) ++n;
  return n;
}

int TDataSet::GetPriorRecords() {
  int n = 0;
  while (record_count_ < buffer_count_ && GetPriorRecord()) ++n;
  return n;
}

void TDataSet::SetBufferCount(int count) {
  count = std::max(count, 1);
  if (buffers_.empty() || count == buffer_count_) return;
  if (count < buffer_count_) {
    // rows above the active one leave first, so that the active record stays in the window
    const int drop_top = std::max(0, active_record_ - (count - 1));
    for (int i = 0; i < drop_top; ++i) MoveBuffer(0, buffer_count_);
    record_count_ = std::max(0, record_count_ - drop_top);
    active_record_ -= drop_top;
    if (current_record_ >= 0) current_record_ = current_record_ >= drop_top ? current_record_ - drop_top : -1;
    if (record_count_ > count) {
      record_count_ = count;
      if (current_record_ >= count) current_record_ = -1;
    }
    while (buffers_.size() > static_cast<size_t>(count) + 1) {
      FreeRecordBuffer(buffers_.back());
      buffers_.pop_back();
    }
    buffer_count_ = count;
    for (TDataSource* s : data_sources_)
      for (TDataLink* l : s->links_) {
        l->first_record_ -= drop_top;
        l->UpdateRange();
      }
  } else {
    while (buffers_.size() < static_cast<size_t>(count) + 1) buffers_.push_back(AllocRecordBuffer());
    buffer_count_ = count;
    if (record_count_ > 0) GetNextRecords();
  }
}

void TDataSet::UpdateBufferCount() {
  if (buffers_.empty()) return;
  int wanted = 1;
  for (TDataSource* s : data_sources_) wanted = std::max(wanted, s->MaxBufferCount());
  SetBufferCount(wanted);
}

void TDataSet::SetActiveRecordRow(int row) {
  if (row >= 0 && row < std::max(record_count_, 1) && row < buffer_count_) active_record_ = row;
}

// ---------------------------------------------------------------- navigation

void TDataSet::DoBeforeScroll() {
  if (BeforeScroll) BeforeScroll(*this);
}

void TDataSet::DoAfterScroll() {
  if (AfterScroll) AfterScroll(*this);
}

void TDataSet::First() {
  CheckBrowseMode();
  DoBeforeScroll();
  ClearBuffers();
  try {
    InternalFirst();
    GetNextRecord();
    GetNextRecords();
  } catch (...) {
    bof_ = true;
    DataEvent(deDataSetChange, 0);
    throw;
  }
  bof_ = true;
  DataEvent(deDataSetChange, 0);
  DoAfterScroll();
}

void TDataSet::Last() {
  CheckBrowseMode();
  DoBeforeScroll();
  ClearBuffers();
  try {
    InternalLast();
    GetPriorRecord();
    GetPriorRecords();
  } catch (...) {
    eof_ = true;
    DataEvent(deDataSetChange, 0);
    throw;
  }
  eof_ = true;
  DataEvent(deDataSetChange, 0);
  DoAfterScroll();
}

int TDataSet::MoveBy(int distance) {
  CheckBrowseMode();
  int moved = 0;
  DoBeforeScroll();
  if ((distance > 0 && !eof_) || (distance < 0 && !bof_)) {
    bof_ = false;
    eof_ = false;
    int scroll = 0;  // rows the window's content moved up
    try {
      while (distance > 0) {
        if (active_record_ < record_count_ - 1) {
          ++active_record_;
        } else {
          const bool full = record_count_ >= buffer_count_;
          if (!GetNextRecord()) {
            eof_ = true;
            break;
          }
          if (full) ++scroll;
          active_record_ = record_count_ - 1;
        }
        --distance;
        ++moved;
      }
      while (distance < 0) {
        if (active_record_ > 0) {
          --active_record_;
        } else {
          const bool full = record_count_ >= buffer_count_;
          if (!GetPriorRecord()) {
            bof_ = true;
            break;
          }
          if (full) --scroll;
          active_record_ = 0;
        }
        ++distance;
        --moved;
      }
    } catch (...) {
      DataEvent(deDataSetScroll, scroll);
      throw;
    }
    DataEvent(deDataSetScroll, scroll);
    DoAfterScroll();
  }
  return moved;
}

void TDataSet::Resync(TResyncMode mode) {
  if (buffers_.empty()) return;
  TRecordBuffer scratch = buffers_[static_cast<size_t>(record_count_)];
  if (mode.Contains(rmExact)) {
    CursorPosChanged();
    if (GetRecord(scratch, gmCurrent, true) != grOK) DatabaseError("Record not found", name_);
  } else if (GetRecord(scratch, gmCurrent, false) != grOK && GetRecord(scratch, gmNext, false) != grOK &&
             GetRecord(scratch, gmPrior, false) != grOK) {
    ClearBuffers();
    DataEvent(deDataSetChange, 0);
    return;
  }
  int before = mode.Contains(rmCenter) ? (buffer_count_ - 1) / 2 : active_record_;
  MoveBuffer(record_count_, 0);
  ActivateBuffers();
  try {
    while (before > 0 && GetPriorRecord()) --before;
    GetNextRecords();
    GetPriorRecords();
  } catch (...) {
    DataEvent(deDataSetChange, 0);
    throw;
  }
  DataEvent(deDataSetChange, 0);
}

void TDataSet::Refresh() {
  if (BeforeRefresh) BeforeRefresh(*this);
  CheckBrowseMode();
  UpdateCursorPos();
  try {
    InternalRefresh();
  } catch (...) {
    Resync({});
    throw;
  }
  Resync({});
  if (AfterRefresh) AfterRefresh(*this);
}

// ---------------------------------------------------------------- editing

void TDataSet::CheckOperation(const std::function<void()>& operation, const TDataSetErrorEvent& on_error) {
  for (;;) {
    try {
      UpdateCursorPos();
      operation();
      return;
    } catch (EDatabaseError& e) {
      TDataAction action = daFail;
      if (on_error) on_error(*this, e, action);
      if (action == daFail) throw;
      if (action == daAbort) Abort();
      // daRetry: once more
    }
  }
}

void TDataSet::CheckBrowseMode() {
  CheckActive();
  DataEvent(deCheckBrowseMode, 0);
  switch (state_) {
    case dsEdit:
    case dsInsert:
      UpdateRecord();
      if (modified_) {
        Post();
      } else {
        Cancel();
      }
      break;
    case dsSetKey: Post(); break;
    default: break;
  }
}

void TDataSet::UpdateRecord() {
  if (state_ != dsEdit && state_ != dsInsert && state_ != dsSetKey)
    DatabaseError("Dataset not in edit or insert mode", name_);
  DataEvent(deUpdateRecord, 0);
}

void TDataSet::BeginInsertAppend() {
  CheckBrowseMode();
  CheckCanModify();
  if (BeforeInsert) BeforeInsert(*this);
  DoBeforeScroll();
}

void TDataSet::EndInsertAppend() {
  SetState(dsInsert);
  try {
    DoOnNewRecord();
  } catch (...) {
    UpdateCursorPos();
    FreeFieldBuffers();
    SetState(dsBrowse);
    Resync({});
    throw;
  }
  modified_ = false;
  DataEvent(deDataSetChange, 0);
  if (AfterInsert) AfterInsert(*this);
  DoAfterScroll();
}

void TDataSet::DoOnNewRecord() {
  if (OnNewRecord) OnNewRecord(*this);
}

void TDataSet::Insert() {
  BeginInsertAppend();
  const TBookmark previous = GetBookmark();
  MoveBuffer(record_count_, active_record_);
  TRecordBuffer buffer = ActiveBuffer();
  InitRecord(buffer);
  if (record_count_ == 0) {
    SetBookmarkFlag(buffer, bfBOF);
  } else if (previous.size() == static_cast<size_t>(bookmark_size_) && bookmark_size_ > 0) {
    // the new record stands before the one that was active: cancelling returns there
    SetBookmarkData(buffer, previous.data());
  }
  if (record_count_ < buffer_count_) ++record_count_;
  CursorPosChanged();
  InternalInsert();
  EndInsertAppend();
}

void TDataSet::Append() {
  BeginInsertAppend();
  ClearBuffers();
  TRecordBuffer buffer = buffers_[0];
  InitRecord(buffer);
  SetBookmarkFlag(buffer, bfEOF);
  record_count_ = 1;
  bof_ = false;
  GetPriorRecords();
  InternalInsert();
  EndInsertAppend();
}

void TDataSet::Edit() {
  if (state_ == dsEdit || state_ == dsInsert) return;
  if (record_count_ == 0) {
    Insert();
    return;
  }
  CheckBrowseMode();
  CheckCanModify();
  if (BeforeEdit) BeforeEdit(*this);
  CheckOperation([this] { InternalEdit(); }, OnEditError);
  GetCalcFields(ActiveBuffer());
  SetState(dsEdit);
  DataEvent(deRecordChange, 0);
  if (AfterEdit) AfterEdit(*this);
}

void TDataSet::Post() {
  UpdateRecord();
  if (state_ != dsEdit && state_ != dsInsert) return;
  DataEvent(deCheckBrowseMode, 0);
  if (BeforePost) BeforePost(*this);
  CheckOperation([this] { InternalPost(); }, OnPostError);
  FreeFieldBuffers();
  SetState(dsBrowse);
  Resync({});
  if (AfterPost) AfterPost(*this);
}

void TDataSet::Cancel() {
  if (state_ != dsEdit && state_ != dsInsert) return;
  DataEvent(deCheckBrowseMode, 0);
  if (BeforeCancel) BeforeCancel(*this);
  InternalCancel();
  FreeFieldBuffers();
  SetState(dsBrowse);
  // back to the record the edit started from, or the one a new record stood before
  CursorPosChanged();
  UpdateCursorPos();
  Resync({});
  if (AfterCancel) AfterCancel(*this);
}

void TDataSet::Delete() {
  CheckActive();
  if (state_ == dsInsert || state_ == dsSetKey) {
    Cancel();
    return;
  }
  // an edit in progress holds what the cursor took for it (record locks); it ends first
  if (state_ == dsEdit) Cancel();
  if (record_count_ == 0) DatabaseError("Cannot perform this operation on an empty dataset", name_);
  DataEvent(deCheckBrowseMode, 0);
  if (BeforeDelete) BeforeDelete(*this);
  DoBeforeScroll();
  CheckOperation([this] { InternalDelete(); }, OnDeleteError);
  FreeFieldBuffers();
  SetState(dsBrowse);
  Resync({});
  if (AfterDelete) AfterDelete(*this);
  DoAfterScroll();
}

void TDataSet::SetFields(const std::vector<Variant>& values) {
  if (values.size() > static_cast<size_t>(fields_.Count())) DatabaseError("Too many values for the fields", name_);
  for (size_t i = 0; i < values.size(); ++i)
    if (!values[i].IsEmpty()) fields_[static_cast<int>(i)]->SetAsVariant(values[i]);
}

void TDataSet::InsertRecord(const std::vector<Variant>& values) {
  Insert();
  try {
    SetFields(values);
  } catch (...) {
    Cancel();
    throw;
  }
  Post();
}

void TDataSet::AppendRecord(const std::vector<Variant>& values) {
  Append();
  try {
    SetFields(values);
  } catch (...) {
    Cancel();
    throw;
  }
  Post();
}

// ---------------------------------------------------------------- bookmarks and search

bool TDataSet::BookmarkAvailable() {
  return (state_ == dsBrowse || state_ == dsEdit || state_ == dsInsert) && !IsEmpty() && bookmark_size_ > 0 &&
         GetBookmarkFlag(ActiveBuffer()) == bfCurrent;
}

TBookmark TDataSet::GetBookmark() {
  if (!BookmarkAvailable()) return {};
  TBookmark bm(static_cast<size_t>(bookmark_size_));
  GetBookmarkData(ActiveBuffer(), bm.data());
  return bm;
}

void TDataSet::GotoBookmark(const TBookmark& bookmark) {
  if (bookmark.empty()) return;
  if (bookmark.size() != static_cast<size_t>(bookmark_size_)) DatabaseError("Invalid bookmark", name_);
  CheckBrowseMode();
  DoBeforeScroll();
  InternalGotoBookmark(bookmark.data());
  Resync({rmExact, rmCenter});
  DoAfterScroll();
}

bool TDataSet::BookmarkValid(const TBookmark&) { return false; }
int TDataSet::CompareBookmarks(const TBookmark&, const TBookmark&) { return 0; }

bool TDataSet::Locate(const std::string&, const Variant&, TLocateOptions) { return false; }
Variant TDataSet::Lookup(const std::string&, const Variant&, const std::string&) { return Variant::Null(); }

bool TDataSet::FindFirst() {
  found_ = FindRecord(true, true);
  return found_;
}
bool TDataSet::FindLast() {
  found_ = FindRecord(true, false);
  return found_;
}
bool TDataSet::FindNext() {
  found_ = FindRecord(false, true);
  return found_;
}
bool TDataSet::FindPrior() {
  found_ = FindRecord(false, false);
  return found_;
}

// ---------------------------------------------------------------- notification

void TDataSet::DataEvent(TDataEvent event, intptr_t info) {
  switch (event) {
    case deFieldChange: {
      auto* f = reinterpret_cast<TField*>(info);
      if (f != nullptr) {
        if (f->FieldKind() == fkData || f->FieldKind() == fkInternalCalc) modified_ = true;
        if (state_ != dsSetKey) {
          if (f->FieldKind() == fkData && auto_calc_fields_ && calc_fields_size_ > 0 && ActiveBuffer() != nullptr)
            GetCalcFields(ActiveBuffer());
          f->Change();
        }
      }
      break;
    }
    case dePropertyChange: field_defs_.SetUpdated(false); break;
    default: break;
  }
  if (disable_count_ == 0) {
    const std::vector<TDataSource*> sources = data_sources_;
    for (TDataSource* s : sources)
      if (std::find(data_sources_.begin(), data_sources_.end(), s) != data_sources_.end()) s->DataEvent(event, info);
  } else if ((event == deUpdateState && state_ == dsInactive) || event == deLayoutChange) {
    enable_event_ = deLayoutChange;
  }
}

void TDataSet::DisableControls() {
  if (disable_count_ == 0) {
    disable_state_ = state_;
    enable_event_ = deDataSetChange;
  }
  ++disable_count_;
}

void TDataSet::EnableControls() {
  if (disable_count_ == 0) return;
  if (--disable_count_ > 0) return;
  if (disable_state_ != state_) DataEvent(deUpdateState, 0);
  if (disable_state_ != dsInactive && state_ != dsInactive) DataEvent(enable_event_, 0);
}

bool TDataSet::IsLinkedTo(TDataSource* source) {
  // a chain of masters is short; the bound only guards against a cycle made elsewhere
  for (int guard = 0; source != nullptr && guard < 1000; ++guard) {
    TDataSet* ds = source->DataSet();
    if (ds == nullptr) break;
    if (ds == this) return true;
    source = ds->GetDataSource();
  }
  return false;
}

void TDataSet::AddDataSource(TDataSource* source) {
  if (std::find(data_sources_.begin(), data_sources_.end(), source) == data_sources_.end())
    data_sources_.push_back(source);
  UpdateBufferCount();
}

void TDataSet::RemoveDataSource(TDataSource* source) {
  data_sources_.erase(std::remove(data_sources_.begin(), data_sources_.end(), source), data_sources_.end());
  UpdateBufferCount();
}

}  // namespace platform::data

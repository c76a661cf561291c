#include "platform/data/tests/vector_dataset.h"

#include <algorithm>
#include <cstring>

#include "platform/data/blob_field.h"
#include "platform/data/exception_handler.h"
#include "platform/data/index_defs.h"
#include "platform/data/same_text.h"

namespace platform::data::testing {

// The stream of one BLOB field: reads the value of the record it was opened on; a writing
// stream stores its bytes into that record's buffer (under a new key) when it is freed.
class VectorDataSet::BlobStream : public TMemoryStream {
 public:
  BlobStream(VectorDataSet* ds, TField* field, TRecordBuffer record, TBlobStreamMode mode,
             std::vector<uint8_t> initial)
      : TMemoryStream(std::move(initial)), ds_(ds), field_(field), record_(record), mode_(mode) {}

  int32_t Write(const void* buffer, int32_t count) override {
    if (mode_ == bmRead) throw EStreamError("Cannot write to read only stream");
    written_ = written_ || count > 0;
    return TMemoryStream::Write(buffer, count);
  }
  void SetSize(int64_t size) override {
    if (mode_ == bmRead) throw EStreamError("Cannot write to read only stream");
    written_ = true;
    TMemoryStream::SetSize(size);
  }

  ~BlobStream() override {
    if (mode_ == bmRead) return;
    if (mode_ == bmReadWrite && !written_) return;
    const int32_t key = Bytes().empty() ? 0 : ds_->next_blob_++;
    if (key != 0) ds_->blobs_[key] = Bytes();
    const int off = ds_->field_offset_[static_cast<size_t>(field_->FieldNo() - 1)];
    record_[off] = key != 0 ? 1 : 0;
    std::memcpy(record_ + off + 1, &key, sizeof key);
    if (auto* b = dynamic_cast<TBlobField*>(field_)) b->SetModified(true);
    try {
      ds_->DataEvent(deFieldChange, reinterpret_cast<intptr_t>(field_));
    } catch (...) {
      HandleException();
    }
  }

 private:
  VectorDataSet* ds_;
  TField* field_;
  TRecordBuffer record_;
  TBlobStreamMode mode_;
  bool written_ = false;
};

VectorDataSet::VectorDataSet(std::vector<Column> columns) : columns_(std::move(columns)) {
  SetName("Vector");
  master_link_.OnMasterChange = [this] {
    CheckBrowseMode();
    ApplyMasterRange();
    First();
  };
  master_link_.OnMasterDisable = [this] {
    range_active_ = false;
    if (Active()) First();
  };
}

VectorDataSet::~VectorDataSet() { Close(); }

void VectorDataSet::Log(const std::string& what) {
  if (log != nullptr) log->push_back(what);
}

void VectorDataSet::SetMasterSource(TDataSource* source) {
  if (source != nullptr && IsLinkedTo(source)) DatabaseError("Circular datalinks are not allowed", Name());
  master_link_.SetDataSource(source);
}

void VectorDataSet::SetMasterFields(const std::string& master_fields, const std::string& detail_fields) {
  detail_fields_ = detail_fields;
  master_link_.SetFieldNames(master_fields);
}

void VectorDataSet::ApplyMasterRange() {
  range_active_ = false;
  range_values_.clear();
  if (!master_link_.Active() || master_link_.Fields().empty()) return;
  for (TField* f : master_link_.Fields()) range_values_.push_back(f->AsVariant());
  range_active_ = true;
}

void VectorDataSet::DoOnNewRecord() {
  if (range_active_) {
    const std::vector<TField*> keys = GetFieldList(detail_fields_);
    for (size_t i = 0; i < keys.size() && i < master_link_.Fields().size(); ++i)
      keys[i]->Assign(*master_link_.Fields()[i]);
  }
  TDataSet::DoOnNewRecord();
}

// ---- opening

void VectorDataSet::InternalInitFieldDefs() {
  FieldDefs().Clear();
  for (const Column& c : columns_) FieldDefs().Add(c.name, c.type, c.size, c.required);
}

void VectorDataSet::InternalOpen() {
  open_ = true;  // the cursor exists from here on: field definitions come from it
  SetBookmarkSize(4);
  FieldDefs().SetUpdated(false);
  FieldDefs().Update();
  if (DefaultFields()) CreateFields();
  BindFields(true);
  field_offset_.clear();
  field_size_.clear();
  int off = 0;
  for (int i = 0; i < FieldDefs().Count(); ++i) {
    std::unique_ptr<TField> probe = FieldDefs()[i]->CreateFieldObject();
    const int size = probe->IsBlob() ? 4 : probe->DataSize();
    field_offset_.push_back(off);
    field_size_.push_back(size);
    off += 1 + size;
  }
  data_size_ = off;
  calc_offset_ = off;
  bookmark_offset_ = calc_offset_ + CalcFieldsSize();
  record_size_ = bookmark_offset_ + 5;
  pos_ = Pos::kBof;
  ApplyMasterRange();
}

void VectorDataSet::InternalClose() {
  BindFields(false);
  if (DefaultFields()) DestroyFields();
  open_ = false;
  edit_copy_.clear();
}

TRecordBuffer VectorDataSet::AllocRecordBuffer() { return new uint8_t[static_cast<size_t>(record_size_)](); }

void VectorDataSet::FreeRecordBuffer(TRecordBuffer& buffer) {
  delete[] buffer;
  buffer = nullptr;
}

// ---- records and the cursor

// Records stay in increasing id order (appended with a new id, erased in place), so a search
// by id halves; navigation then costs a logarithm and a walk over what the view rejects, and
// tests can move through tens of thousands of records.
size_t VectorDataSet::LowerBound(int32_t id) const {
  return static_cast<size_t>(
      std::lower_bound(records_.begin(), records_.end(), id, [](const Stored& r, int32_t v) { return r.id < v; }) -
      records_.begin());
}

int VectorDataSet::FindIndex(int32_t id) const {
  const size_t i = LowerBound(id);
  return i < records_.size() && records_[i].id == id ? static_cast<int>(i) : -1;
}

void VectorDataSet::LoadInto(TRecordBuffer buffer, const Stored& record) {
  std::memcpy(buffer, record.data.data(), static_cast<size_t>(data_size_));
  SetBufferId(buffer, record.id);
  buffer[bookmark_offset_ + 4] = bfCurrent;
}

bool VectorDataSet::Matches(const Stored& record, const std::vector<TField*>& fields, const Variant& values,
                            TLocateOptions options) {
  std::vector<uint8_t> scratch(static_cast<size_t>(record_size_), 0);
  std::memcpy(scratch.data(), record.data.data(), static_cast<size_t>(data_size_));
  const TDataSetState saved = SetTempState(dsFilter);
  filter_buffer_ = scratch.data();
  bool match = true;
  try {
    for (size_t i = 0; match && i < fields.size(); ++i) {
      const Variant& key = fields.size() == 1 && !values.IsArray() ? values : values[i];
      TField* f = fields[i];
      if (key.IsNullOrEmpty() || f->IsNull()) {
        match = key.IsNullOrEmpty() && f->IsNull();
      } else if (key.IsText()) {
        std::string have = f->AsString();
        std::string want = key.AsString();
        if (options.Contains(loCaseInsensitive)) {
          have = UpperText(have);
          want = UpperText(want);
        }
        match = options.Contains(loPartialKey) ? have.compare(0, want.size(), want) == 0 : have == want;
      } else {
        match = f->AsVariant().SameValue(key);
      }
    }
  } catch (...) {
    RestoreState(saved);
    throw;
  }
  RestoreState(saved);
  return match;
}

bool VectorDataSet::Accepted(const Stored& record) {
  if (range_active_ && !Matches(record, GetFieldList(detail_fields_),
                                range_values_.size() == 1 ? range_values_[0] : Variant::Array(range_values_), {}))
    return false;
  if (!Filtered() || !OnFilterRecord()) return true;
  std::vector<uint8_t> scratch(static_cast<size_t>(record_size_), 0);
  std::memcpy(scratch.data(), record.data.data(), static_cast<size_t>(data_size_));
  const TDataSetState saved = SetTempState(dsFilter);
  filter_buffer_ = scratch.data();
  bool accept = true;
  try {
    OnFilterRecord()(*this, accept);
  } catch (...) {
    InternalHandleException();  // a failing filter must not end the scan
  }
  RestoreState(saved);
  return accept;
}

std::vector<size_t> VectorDataSet::View() {
  std::vector<size_t> v;
  for (size_t i = 0; i < records_.size(); ++i)
    if (Accepted(records_[i])) v.push_back(i);
  return v;
}

TGetResult VectorDataSet::GetRecord(TRecordBuffer buffer, TGetMode mode, bool) {
  const Stored* found = nullptr;
  switch (mode) {
    case gmCurrent: {
      if (pos_ != Pos::kOn) return pos_ == Pos::kBof ? grBOF : grEOF;
      const int i = FindIndex(cur_id_);
      if (i >= 0 && Accepted(records_[static_cast<size_t>(i)])) found = &records_[static_cast<size_t>(i)];
      if (found == nullptr) return grError;
      break;
    }
    case gmNext: {
      if (pos_ == Pos::kEof) return grEOF;
      for (size_t i = pos_ == Pos::kBof ? 0 : LowerBound(cur_id_ + 1); i < records_.size(); ++i)
        if (Accepted(records_[i])) {
          found = &records_[i];
          break;
        }
      if (found == nullptr) {
        pos_ = Pos::kEof;
        return grEOF;
      }
      break;
    }
    case gmPrior: {
      if (pos_ == Pos::kBof) return grBOF;
      for (size_t i = pos_ == Pos::kEof ? records_.size() : LowerBound(cur_id_); i-- > 0;)
        if (Accepted(records_[i])) {
          found = &records_[i];
          break;
        }
      if (found == nullptr) {
        pos_ = Pos::kBof;
        return grBOF;
      }
      break;
    }
  }
  pos_ = Pos::kOn;
  cur_id_ = found->id;
  LoadInto(buffer, *found);
  GetCalcFields(buffer);
  return grOK;
}

void VectorDataSet::InternalFirst() { pos_ = Pos::kBof; }
void VectorDataSet::InternalLast() { pos_ = Pos::kEof; }

void VectorDataSet::InternalInitRecord(TRecordBuffer buffer) {
  std::memset(buffer, 0, static_cast<size_t>(record_size_));
}

int32_t VectorDataSet::BufferId(TRecordBuffer buffer) const {
  int32_t id = 0;
  std::memcpy(&id, buffer + bookmark_offset_, sizeof id);
  return id;
}

void VectorDataSet::SetBufferId(TRecordBuffer buffer, int32_t id) {
  std::memcpy(buffer + bookmark_offset_, &id, sizeof id);
}

void VectorDataSet::InternalSetToRecord(TRecordBuffer buffer) { InternalGotoBookmark(buffer + bookmark_offset_); }

void VectorDataSet::InternalGotoBookmark(const uint8_t* data) {
  std::memcpy(&cur_id_, data, sizeof cur_id_);
  pos_ = Pos::kOn;
}

void VectorDataSet::GetBookmarkData(TRecordBuffer buffer, uint8_t* data) {
  std::memcpy(data, buffer + bookmark_offset_, 4);
}

void VectorDataSet::SetBookmarkData(TRecordBuffer buffer, const uint8_t* data) {
  std::memcpy(buffer + bookmark_offset_, data, 4);
}

TBookmarkFlag VectorDataSet::GetBookmarkFlag(TRecordBuffer buffer) {
  return static_cast<TBookmarkFlag>(buffer[bookmark_offset_ + 4]);
}

void VectorDataSet::SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) {
  buffer[bookmark_offset_ + 4] = static_cast<uint8_t>(flag);
}

// ---- editing

void VectorDataSet::InternalEdit() {
  Log("InternalEdit");
  if (fail_edits > 0) {
    --fail_edits;
    DatabaseError("Record locked by another user");
  }
  TRecordBuffer b = ActiveBuffer();
  edit_copy_.assign(b, b + record_size_);
}

void VectorDataSet::InternalCancel() {
  Log("InternalCancel");
  edit_copy_.clear();
}

void VectorDataSet::InternalPost() {
  Log("InternalPost");
  TDataSet::InternalPost();  // required fields
  if (fail_posts > 0) {
    --fail_posts;
    DatabaseError("Record locked by another user");
  }
  TRecordBuffer b = ActiveBuffer();
  std::vector<uint8_t> data(b, b + data_size_);
  if (State() == dsInsert) {
    const int32_t id = next_id_++;
    records_.push_back({id, std::move(data)});
    cur_id_ = id;
  } else {
    const int i = FindIndex(BufferId(b));
    if (i < 0) DatabaseError("Record was deleted by another user");
    records_[static_cast<size_t>(i)].data = std::move(data);
    cur_id_ = records_[static_cast<size_t>(i)].id;
  }
  pos_ = Pos::kOn;
  edit_copy_.clear();
}

void VectorDataSet::InternalDelete() {
  Log("InternalDelete");
  if (fail_deletes > 0) {
    --fail_deletes;
    DatabaseError("Record locked by another user");
  }
  const int i = FindIndex(BufferId(ActiveBuffer()));
  if (i < 0) DatabaseError("Record was deleted by another user");
  records_.erase(records_.begin() + i);
}

// ---- field data

TRecordBuffer VectorDataSet::ActiveRec() {
  switch (State()) {
    case dsBrowse: return IsEmpty() ? nullptr : ActiveBuffer();
    case dsEdit:
    case dsInsert: return ActiveBuffer();
    case dsCalcFields: return CalcBuffer();
    case dsFilter: return filter_buffer_;
    case dsOldValue: return edit_copy_.empty() ? nullptr : edit_copy_.data();
    default: return nullptr;
  }
}

bool VectorDataSet::GetFieldData(TField* field, void* buffer) {
  TRecordBuffer rec = ActiveRec();
  if (rec == nullptr) return false;
  if (field->FieldKind() == fkCalculated || field->FieldKind() == fkLookup) {
    const uint8_t* p = rec + calc_offset_ + field->Offset();
    if (p[0] == 0) return false;
    if (buffer != nullptr) std::memcpy(buffer, p + 1, static_cast<size_t>(field->DataSize()));
    return true;
  }
  if (field->FieldNo() < 1) return false;
  const size_t i = static_cast<size_t>(field->FieldNo() - 1);
  const uint8_t* p = rec + field_offset_[i];
  if (p[0] == 0) return false;
  if (buffer != nullptr && !field->IsBlob()) std::memcpy(buffer, p + 1, static_cast<size_t>(field_size_[i]));
  return true;
}

void VectorDataSet::SetFieldData(TField* field, void* buffer) {
  const TDataSetState st = State();
  if (st != dsEdit && st != dsInsert && st != dsSetKey && st != dsCalcFields && st != dsFilter &&
      st != dsNewValue && st != dsInternalCalc)
    DatabaseError("Dataset not in edit or insert mode", Name());
  TRecordBuffer rec = ActiveRec();
  if (rec == nullptr) DatabaseError("No record to write", Name());
  if (field->FieldKind() == fkCalculated || field->FieldKind() == fkLookup) {
    uint8_t* p = rec + calc_offset_ + field->Offset();
    p[0] = buffer != nullptr ? 1 : 0;
    if (buffer != nullptr) std::memcpy(p + 1, buffer, static_cast<size_t>(field->DataSize()));
    return;
  }
  field->Validate(buffer);
  const size_t i = static_cast<size_t>(field->FieldNo() - 1);
  uint8_t* p = rec + field_offset_[i];
  p[0] = buffer != nullptr ? 1 : 0;
  if (field->IsBlob()) {
    std::memset(p + 1, 0, 4);
  } else if (buffer != nullptr) {
    std::memcpy(p + 1, buffer, static_cast<size_t>(field_size_[i]));
  } else {
    std::memset(p + 1, 0, static_cast<size_t>(field_size_[i]));
  }
  if (st != dsCalcFields && st != dsFilter && st != dsNewValue) DataEvent(deFieldChange, reinterpret_cast<intptr_t>(field));
}

void VectorDataSet::ClearCalcFields(TRecordBuffer buffer) {
  std::memset(buffer + calc_offset_, 0, static_cast<size_t>(CalcFieldsSize()));
}

std::unique_ptr<TStream> VectorDataSet::CreateBlobStream(TField* field, TBlobStreamMode mode) {
  if (mode != bmRead && State() != dsEdit && State() != dsInsert)
    DatabaseError("Dataset not in edit or insert mode", Name());
  TRecordBuffer rec = ActiveRec();
  std::vector<uint8_t> initial;
  if (rec != nullptr && mode != bmWrite) {
    const uint8_t* p = rec + field_offset_[static_cast<size_t>(field->FieldNo() - 1)];
    int32_t key = 0;
    std::memcpy(&key, p + 1, sizeof key);
    if (p[0] != 0 && blobs_.count(key) != 0) initial = blobs_[key];
  }
  if (mode != bmRead && rec == nullptr) DatabaseError("No record to write", Name());
  return std::make_unique<BlobStream>(this, field, rec, mode, std::move(initial));
}

// ---- filters, search, bookmarks

void VectorDataSet::SetFiltered(bool value) {
  if (Active()) CheckBrowseMode();
  TDataSet::SetFiltered(value);
  if (Active()) First();
}

void VectorDataSet::SetOnFilterRecord(TFilterRecordEvent handler) {
  if (Active()) CheckBrowseMode();
  TDataSet::SetOnFilterRecord(std::move(handler));
  if (Active() && Filtered()) First();
}

bool VectorDataSet::Locate(const std::string& key_fields, const Variant& key_values, TLocateOptions options) {
  CheckBrowseMode();
  const std::vector<TField*> fields = GetFieldList(key_fields);
  if (fields.size() > 1 && (!key_values.IsArray() || key_values.ArrayLength() != fields.size()))
    DatabaseError("Number of values does not match number of fields", Name());
  DoBeforeScroll();
  for (size_t i : View()) {
    if (!Matches(records_[i], fields, key_values, options)) continue;
    pos_ = Pos::kOn;
    cur_id_ = records_[i].id;
    Resync({rmExact, rmCenter});
    DoAfterScroll();
    return true;
  }
  return false;
}

Variant VectorDataSet::Lookup(const std::string& key_fields, const Variant& key_values, const std::string& result_fields) {
  CheckBrowseMode();
  const std::vector<TField*> fields = GetFieldList(key_fields);
  for (size_t i : View()) {
    if (!Matches(records_[i], fields, key_values, {})) continue;
    TRecordBuffer scratch = TempBuffer();
    LoadInto(scratch, records_[i]);
    const TDataSetState saved = SetTempState(dsCalcFields);
    Variant result;
    try {
      CalculateFields(scratch);
      result = FieldValues(result_fields);
    } catch (...) {
      RestoreState(saved);
      throw;
    }
    RestoreState(saved);
    return result;
  }
  return Variant::Null();
}

bool VectorDataSet::BookmarkValid(const TBookmark& bookmark) {
  if (bookmark.size() != 4) return false;
  int32_t id = 0;
  std::memcpy(&id, bookmark.data(), 4);
  const int i = FindIndex(id);
  return i >= 0 && Accepted(records_[static_cast<size_t>(i)]);
}

int VectorDataSet::CompareBookmarks(const TBookmark& a, const TBookmark& b) {
  if (a.empty() || b.empty()) return a.empty() == b.empty() ? 0 : (a.empty() ? 1 : -1);
  if (a.size() != 4 || b.size() != 4) DatabaseError("Invalid bookmark", Name());
  int32_t x = 0, y = 0;
  std::memcpy(&x, a.data(), 4);
  std::memcpy(&y, b.data(), 4);
  return x < y ? -1 : (x > y ? 1 : 0);
}

int VectorDataSet::GetRecordCount() { return Active() ? static_cast<int>(View().size()) : 0; }

int VectorDataSet::GetRecNo() {
  if (State() == dsInsert || IsEmpty()) return -1;
  const int32_t id = BufferId(ActiveBuffer());
  const std::vector<size_t> view = View();
  for (size_t k = 0; k < view.size(); ++k)
    if (records_[view[k]].id == id) return static_cast<int>(k) + 1;
  return -1;
}

void VectorDataSet::SetRecNo(int value) {
  CheckBrowseMode();
  const std::vector<size_t> view = View();
  if (view.empty()) return;
  value = std::clamp(value, 1, static_cast<int>(view.size()));
  DoBeforeScroll();
  pos_ = Pos::kOn;
  cur_id_ = records_[view[static_cast<size_t>(value - 1)]].id;
  Resync({rmCenter});
  DoAfterScroll();
}

}  // namespace platform::data::testing

#include "platform/data/data_source.h"

#include <algorithm>

#include "platform/data/database_error.h"
#include "platform/data/dataset.h"

namespace platform::data {
namespace {

bool IsEditMode(TDataSetState s) { return s == dsEdit || s == dsInsert || s == dsSetKey; }

template <typename T>
bool Contains(const std::vector<T*>& v, const T* x) {
  return std::find(v.begin(), v.end(), x) != v.end();
}

}  // namespace

// ---------------------------------------------------------------- TDataSource

TDataSource::~TDataSource() {
  const std::vector<TDataLink*> links = links_;
  links_.clear();
  for (TDataLink* l : links) {
    l->data_source_ = nullptr;
    l->UpdateState();
  }
  if (dataset_ != nullptr) dataset_->RemoveDataSource(this);
}

void TDataSource::SetDataSet(TDataSet* dataset) {
  if (dataset == dataset_) return;
  if (dataset != nullptr && IsLinkedTo(dataset)) DatabaseError("Circular datalinks are not allowed");
  if (dataset_ != nullptr) dataset_->RemoveDataSource(this);
  dataset_ = dataset;
  if (dataset_ != nullptr) dataset_->AddDataSource(this);
  UpdateState();
}

void TDataSource::SetEnabled(bool v) {
  enabled_ = v;
  UpdateState();
}

void TDataSource::Edit() {
  if (auto_edit_ && state_ == dsBrowse && dataset_ != nullptr) dataset_->Edit();
}

bool TDataSource::IsLinkedTo(TDataSet* dataset) const {
  for (int guard = 0; dataset != nullptr && guard < 1000; ++guard) {
    TDataSource* master = dataset->GetDataSource();
    if (master == nullptr) break;
    if (master == this) return true;
    dataset = master->DataSet();
  }
  return false;
}

void TDataSource::UpdateState() {
  const TDataSetState st = (dataset_ != nullptr && enabled_) ? dataset_->State() : dsInactive;
  if (st == state_) return;
  state_ = st;
  const std::vector<TDataLink*> links = links_;
  for (TDataLink* l : links)
    if (Contains(links_, l)) l->UpdateState();
  if (OnStateChange) OnStateChange(*this);
}

void TDataSource::DataEvent(TDataEvent event, intptr_t info) {
  if (event == deUpdateState) {
    UpdateState();
    return;
  }
  if (state_ == dsInactive) return;
  const std::vector<TDataLink*> links = links_;
  for (TDataLink* l : links)
    if (Contains(links_, l)) l->DataEvent(event, info);
  switch (event) {
    case deFieldChange:
      if (OnDataChange) OnDataChange(*this, reinterpret_cast<TField*>(info));
      break;
    case deRecordChange:
    case deDataSetChange:
    case deDataSetScroll:
    case deLayoutChange:
      if (OnDataChange) OnDataChange(*this, nullptr);
      break;
    case deUpdateRecord:
      if (OnUpdateData) OnUpdateData(*this);
      break;
    default: break;
  }
}

void TDataSource::AddLink(TDataLink* link) {
  if (!Contains(links_, link)) links_.push_back(link);
  if (dataset_ != nullptr) dataset_->UpdateBufferCount();
}

void TDataSource::RemoveLink(TDataLink* link) {
  links_.erase(std::remove(links_.begin(), links_.end(), link), links_.end());
  if (dataset_ != nullptr) dataset_->UpdateBufferCount();
}

int TDataSource::MaxBufferCount() const {
  int n = 0;
  for (const TDataLink* l : links_) n = std::max(n, l->buffer_count_);
  return n;
}

// ---------------------------------------------------------------- TDataLink

TDataLink::~TDataLink() {
  if (data_source_ != nullptr) data_source_->RemoveLink(this);
}

void TDataLink::SetDataSource(TDataSource* source) {
  if (source == data_source_) return;
  if (data_source_ != nullptr) data_source_->RemoveLink(this);
  data_source_ = source;
  if (data_source_ != nullptr) data_source_->AddLink(this);
  UpdateState();
}

TDataSet* TDataLink::DataSet() const { return data_source_ != nullptr ? data_source_->DataSet() : nullptr; }

void TDataLink::SetReadOnly(bool v) {
  read_only_ = v;
  UpdateState();
}

void TDataLink::UpdateState() {
  const TDataSetState st = data_source_ != nullptr ? data_source_->State() : dsInactive;
  SetActive(st != dsInactive);
  SetEditing(st != dsInactive && IsEditMode(st) && !read_only_);
}

void TDataLink::SetActive(bool v) {
  if (active_ == v) return;
  active_ = v;
  if (v) {
    first_record_ = 0;
    UpdateRange();
  }
  ActiveChanged();
}

void TDataLink::SetEditing(bool v) {
  if (editing_ == v) return;
  editing_ = v;
  EditingChanged();
}

void TDataLink::SetBufferCount(int count) {
  buffer_count_ = std::max(count, 1);
  if (TDataSet* ds = DataSet()) ds->UpdateBufferCount();
  UpdateRange();
}

void TDataLink::UpdateRange() {
  TDataSet* ds = DataSet();
  if (!active_ || ds == nullptr) return;
  const int active = ds->active_record_;
  if (first_record_ > active) first_record_ = active;
  if (first_record_ + buffer_count_ <= active) first_record_ = active - buffer_count_ + 1;
  // keep the window filled when the dataset has the rows for it
  first_record_ = std::min(first_record_, std::max(0, ds->record_count_ - buffer_count_));
  first_record_ = std::max(first_record_, 0);
}

int TDataLink::RecordCount() const {
  TDataSet* ds = DataSet();
  if (!active_ || ds == nullptr) return 0;
  return std::clamp(ds->record_count_ - first_record_, 0, buffer_count_);
}

int TDataLink::ActiveRecord() const {
  TDataSet* ds = DataSet();
  if (!active_ || ds == nullptr) return 0;
  return ds->active_record_ - first_record_;
}

void TDataLink::SetActiveRecord(int row) {
  TDataSet* ds = DataSet();
  if (!active_ || ds == nullptr || row < 0 || row >= buffer_count_) return;
  ds->SetActiveRecordRow(first_record_ + row);
}

bool TDataLink::Edit() {
  if (data_source_ != nullptr && !read_only_) data_source_->Edit();
  return editing_;
}

void TDataLink::UpdateRecord() {
  updating_ = true;
  try {
    UpdateData();
  } catch (...) {
    updating_ = false;
    throw;
  }
  updating_ = false;
}

void TDataLink::DataEvent(TDataEvent event, intptr_t info) {
  switch (event) {
    case deUpdateState: UpdateState(); break;
    case deFieldChange:
      if (!updating_) RecordChanged(reinterpret_cast<TField*>(info));
      break;
    case deRecordChange:
      if (!updating_) RecordChanged(nullptr);
      break;
    case deDataSetChange:
    case deDataSetScroll:
    case deLayoutChange: {
      const int old_first = first_record_;
      const int scroll = event == deDataSetScroll ? static_cast<int>(info) : 0;
      first_record_ -= scroll;
      UpdateRange();
      if (event == deDataSetChange) {
        DataSetChanged();
      } else if (event == deDataSetScroll) {
        DataSetScrolled(first_record_ + scroll - old_first);
      } else {
        LayoutChanged();
      }
      break;
    }
    case deUpdateRecord: UpdateRecord(); break;
    case deCheckBrowseMode: CheckBrowseMode(); break;
    case deFocusControl: FocusControl(reinterpret_cast<TField*>(info)); break;
    default: break;
  }
}

// ---------------------------------------------------------------- TMasterDataLink

void TMasterDataLink::SetFieldNames(const std::string& names) {
  field_names_ = names;
  ActiveChanged();
}

void TMasterDataLink::ActiveChanged() {
  fields_.clear();
  if (Active() && DataSet() != nullptr) fields_ = DataSet()->GetFieldList(field_names_);
  if (detail_ == nullptr || !detail_->Active()) return;
  if (Active() && !fields_.empty()) {
    if (OnMasterChange) OnMasterChange();
  } else if (OnMasterDisable) {
    OnMasterDisable();
  }
}

void TMasterDataLink::CheckBrowseMode() {
  if (detail_ != nullptr && (detail_->State() == dsEdit || detail_->State() == dsInsert)) detail_->CheckBrowseMode();
}

void TMasterDataLink::RecordChanged(TField* field) {
  if (DataSource() == nullptr || DataSource()->State() == dsSetKey) return;
  if (detail_ == nullptr || !detail_->Active() || fields_.empty()) return;
  if (field != nullptr && std::find(fields_.begin(), fields_.end(), field) == fields_.end()) return;
  if (OnMasterChange) OnMasterChange();
}

}  // namespace platform::data

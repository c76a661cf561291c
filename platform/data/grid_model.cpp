#include "platform/data/grid_model.h"

#include "platform/data/dataset.h"
#include "platform/data/field.h"

namespace platform::data {

class DataGridModel::Link : public TDataLink {
 public:
  explicit Link(DataGridListener* listener) : listener_(listener) {}
  DataGridListener* listener_;

 protected:
  void ActiveChanged() override {
    if (listener_ != nullptr) listener_->GridReset();
  }
  void DataSetChanged() override {
    if (listener_ != nullptr) listener_->GridReset();
  }
  void LayoutChanged() override {
    if (listener_ != nullptr) listener_->GridReset();
  }
  void DataSetScrolled(int distance) override {
    if (listener_ != nullptr) listener_->GridScrolled(distance);
  }
  void RecordChanged(TField*) override {
    if (listener_ != nullptr) listener_->GridRowChanged(ActiveRecord());
  }
  void EditingChanged() override {
    if (listener_ != nullptr) listener_->GridEditingChanged(Editing());
  }
};

DataGridModel::DataGridModel(DataGridListener* listener) : link_(std::make_unique<Link>(listener)) {}
DataGridModel::~DataGridModel() = default;

void DataGridModel::SetDataSource(TDataSource* source) { link_->SetDataSource(source); }
TDataSource* DataGridModel::DataSource() const { return link_->DataSource(); }
void DataGridModel::SetVisibleRows(int rows) { link_->SetBufferCount(rows); }
int DataGridModel::VisibleRows() const { return link_->BufferCount(); }
bool DataGridModel::Active() const { return link_->Active(); }
bool DataGridModel::Editing() const { return link_->Editing(); }

int DataGridModel::ColumnCount() const {
  TDataSet* ds = link_->DataSet();
  if (!link_->Active() || ds == nullptr) return 0;
  int n = 0;
  for (int i = 0; i < ds->FieldCount(); ++i)
    if (ds->Fields()[i]->Visible()) ++n;
  return n;
}

TField* DataGridModel::ColumnField(int column) const {
  TDataSet* ds = link_->DataSet();
  if (!link_->Active() || ds == nullptr || column < 0) return nullptr;
  for (int i = 0; i < ds->FieldCount(); ++i) {
    TField* f = ds->Fields()[i];
    if (!f->Visible()) continue;
    if (column-- == 0) return f;
  }
  return nullptr;
}

std::string DataGridModel::ColumnTitle(int column) const {
  TField* f = ColumnField(column);
  return f != nullptr ? f->DisplayLabel() : std::string();
}

TAlignment DataGridModel::ColumnAlignment(int column) const {
  TField* f = ColumnField(column);
  return f != nullptr ? f->Alignment() : taLeftJustify;
}

int DataGridModel::RowCount() const { return link_->RecordCount(); }
int DataGridModel::CurrentRow() const { return link_->ActiveRecord(); }

// Reads another row by making it the active one for the call; the cursor does not move.
template <typename R, typename F>
R DataGridModel::WithRow(int row, F&& f, R fallback) const {
  if (row < 0 || row >= RowCount()) return fallback;
  const int saved = link_->ActiveRecord();
  link_->SetActiveRecord(row);
  try {
    R r = f();
    link_->SetActiveRecord(saved);
    return r;
  } catch (...) {
    link_->SetActiveRecord(saved);
    throw;
  }
}

std::string DataGridModel::CellText(int row, int column) const {
  TField* field = ColumnField(column);
  if (field == nullptr) return {};
  return WithRow<std::string>(row, [field] { return field->DisplayText(); }, std::string());
}

bool DataGridModel::CellIsNull(int row, int column) const {
  TField* field = ColumnField(column);
  if (field == nullptr) return true;
  return WithRow<bool>(row, [field] { return field->IsNull(); }, true);
}

void DataGridModel::SetCurrentRow(int row) {
  TDataSet* ds = link_->DataSet();
  if (!link_->Active() || ds == nullptr || row < 0 || row >= RowCount()) return;
  const int distance = row - link_->ActiveRecord();
  if (distance != 0) ds->MoveBy(distance);
}

void DataGridModel::SetCellText(int row, int column, const std::string& text) {
  TField* field = ColumnField(column);
  if (field == nullptr) return;
  SetCurrentRow(row);
  if (!link_->Edit()) return;
  field->SetText(text);
}

int DataGridModel::RecordCount() const {
  TDataSet* ds = link_->DataSet();
  return link_->Active() && ds != nullptr ? ds->RecordCount() : 0;
}

int DataGridModel::RecNo() const {
  TDataSet* ds = link_->DataSet();
  return link_->Active() && ds != nullptr ? ds->RecNo() : -1;
}

}  // namespace platform::data

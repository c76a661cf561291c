#include "archive/report_history.h"

#include "platform/data/dataset.h"
#include "platform/data/field.h"

namespace archive {

void DataSetHistory::First() {
  if (rows_) rows_->First();
}

void DataSetHistory::BeginRows() {
  if (!rows_) return;
  rows_->DisableControls();
  disabled_ = rows_;
}

void DataSetHistory::EndRows() noexcept {
  if (!disabled_) return;
  platform::data::TDataSet* rows = disabled_;
  disabled_ = nullptr;
  try {
    rows->EnableControls();
  } catch (...) {
    // The grid refreshes itself later; the report's own outcome is what counts here.
  }
}

bool DataSetHistory::Eof() { return !rows_ || rows_->Eof(); }

void DataSetHistory::Next() {
  if (rows_) rows_->Next();
}

std::string DataSetHistory::FieldText(std::string_view column) {
  if (!rows_) return {};
  // Asked also of an empty table (the header's size tolerance): the field has no value then
  // and its text is empty.
  return rows_->FieldByName(std::string(column))->AsString();
}

}  // namespace archive

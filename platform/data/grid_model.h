#pragma once
// The grid's view of a dataset, free of any widget toolkit: columns are the visible fields,
// rows the records of the link's window (VisibleRows at most), one of them current. A
// window class wraps it into its toolkit's table model and passes the listener's calls on.
#include <memory>
#include <string>

#include "platform/data/data_source.h"
#include "platform/data/data_types.h"

namespace platform::data {

class TField;

class DataGridListener {
 public:
  virtual ~DataGridListener() = default;
  // Opened, closed, refilled or the columns changed: everything is to be read again.
  virtual void GridReset() = 0;
  // The window moved by distance records (positive: towards the end); rows are to be read again.
  virtual void GridScrolled(int distance) = 0;
  // The current record's values changed.
  virtual void GridRowChanged(int row) = 0;
  // Edit or insert state began or ended.
  virtual void GridEditingChanged(bool editing) = 0;
};

class DataGridModel {
 public:
  explicit DataGridModel(DataGridListener* listener = nullptr);
  ~DataGridModel();
  DataGridModel(const DataGridModel&) = delete;
  DataGridModel& operator=(const DataGridModel&) = delete;

  void SetDataSource(TDataSource* source);
  TDataSource* DataSource() const;
  void SetVisibleRows(int rows);
  int VisibleRows() const;
  bool Active() const;
  bool Editing() const;

  int ColumnCount() const;
  TField* ColumnField(int column) const;
  std::string ColumnTitle(int column) const;
  TAlignment ColumnAlignment(int column) const;

  int RowCount() const;
  int CurrentRow() const;
  // The display text of a cell (empty outside the rows and columns).
  std::string CellText(int row, int column) const;
  bool CellIsNull(int row, int column) const;
  // Moves the dataset so that the row becomes current.
  void SetCurrentRow(int row);
  // Puts the dataset into edit state (through the source's AutoEdit) and sets the cell's
  // text; the change is stored when the dataset posts.
  void SetCellText(int row, int column, const std::string& text);

  // For a scroll bar: the dataset's record count and the current record's number (-1 when
  // the dataset cannot tell).
  int RecordCount() const;
  int RecNo() const;

 private:
  class Link;
  template <typename R, typename F>
  R WithRow(int row, F&& f, R fallback) const;

  std::unique_ptr<Link> link_;
};

}  // namespace platform::data

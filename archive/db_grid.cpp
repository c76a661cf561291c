#include "archive/db_grid.h"

#include <QHeaderView>
#include <QResizeEvent>

#include "platform/data/field.h"

namespace archive {

TDBGridModel::TDBGridModel(QObject* parent) : QAbstractTableModel(parent) {}
TDBGridModel::~TDBGridModel() { grid_.SetDataSource(nullptr); }

int TDBGridModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : grid_.RowCount(); }
int TDBGridModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : grid_.ColumnCount(); }

QVariant TDBGridModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  if (role == Qt::DisplayRole) {
    // A picture column shows its kind rather than its bytes.
    if (platform::data::TField* f = grid_.ColumnField(index.column()); f && f->IsBlob()) {
      return grid_.CellIsNull(index.row(), index.column()) ? QString() : QStringLiteral("(PNG)");
    }
    return QString::fromStdString(grid_.CellText(index.row(), index.column()));
  }
  if (role == Qt::TextAlignmentRole) {
    switch (grid_.ColumnAlignment(index.column())) {
      case platform::data::taRightJustify: return int(Qt::AlignRight | Qt::AlignVCenter);
      case platform::data::taCenter: return int(Qt::AlignCenter);
      default: return int(Qt::AlignLeft | Qt::AlignVCenter);
    }
  }
  return {};
}

QVariant TDBGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Horizontal) return QString::fromStdString(grid_.ColumnTitle(section));
  return section == grid_.CurrentRow() ? QStringLiteral("\u25B6") : QString();
}

void TDBGridModel::GridReset() {
  beginResetModel();
  endResetModel();
  emit CurrentRowChanged(grid_.CurrentRow());
}

void TDBGridModel::GridScrolled(int) {
  // The window's rows are other records now: read them all again.
  GridReset();
}

void TDBGridModel::GridRowChanged(int row) {
  if (row >= 0 && row < grid_.RowCount()) emit dataChanged(index(row, 0), index(row, grid_.ColumnCount() - 1));
  emit headerDataChanged(Qt::Vertical, 0, std::max(0, grid_.RowCount() - 1));
  emit CurrentRowChanged(grid_.CurrentRow());
}

void TDBGridModel::GridEditingChanged(bool) { emit headerDataChanged(Qt::Vertical, 0, std::max(0, grid_.RowCount() - 1)); }

TDBGrid::TDBGrid(QWidget* parent) : QTableView(parent), model_(new TDBGridModel(this)) {
  setModel(model_);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  verticalHeader()->setDefaultSectionSize(20);
  horizontalHeader()->setSectionsClickable(true);
  connect(horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int column) {
    if (platform::data::TField* f = model_->Grid().ColumnField(column)) emit TitleClick(QString::fromStdString(f->FieldName()));
  });
  connect(model_, &TDBGridModel::CurrentRowChanged, this, [this](int row) { ShowCurrent(row); });
  connect(this, &QTableView::clicked, this, [this](const QModelIndex& index) {
    if (index.isValid()) model_->Grid().SetCurrentRow(index.row());
  });
}

void TDBGrid::SetDataSource(platform::data::TDataSource* source) {
  model_->Grid().SetDataSource(source);
  FitRows();
}

void TDBGrid::resizeEvent(QResizeEvent* event) {
  QTableView::resizeEvent(event);
  FitRows();
}

void TDBGrid::FitRows() {
  const int rowHeight = std::max(1, verticalHeader()->defaultSectionSize());
  const int rows = std::max(1, viewport()->height() / rowHeight);
  if (rows == model_->Grid().VisibleRows()) return;
  model_->Grid().SetVisibleRows(rows);
  // A taller grid holds more records now: the view reads its rows again.
  model_->GridReset();
}

void TDBGrid::ShowCurrent(int row) {
  if (row < 0) {
    clearSelection();
    return;
  }
  selectRow(row);
}

}  // namespace archive

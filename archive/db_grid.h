#pragma once
// A data-aware grid: a Qt table view over the toolkit-free grid model of a data source
// (platform/data/grid_model.h). The view shows the model's window of records; the current
// record is the selected row, and moving the dataset (navigator, another process's rows after
// a refresh) moves the window.
#include <QAbstractTableModel>
#include <QTableView>
#include <memory>

#include "platform/data/grid_model.h"

namespace archive {

class TDBGridModel : public QAbstractTableModel, public platform::data::DataGridListener {
  Q_OBJECT
 public:
  explicit TDBGridModel(QObject* parent = nullptr);
  ~TDBGridModel() override;

  platform::data::DataGridModel& Grid() { return grid_; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  void GridReset() override;
  void GridScrolled(int distance) override;
  void GridRowChanged(int row) override;
  void GridEditingChanged(bool editing) override;

 signals:
  void CurrentRowChanged(int row);

 private:
  platform::data::DataGridModel grid_{this};
};

class TDBGrid : public QTableView {
  Q_OBJECT
 public:
  explicit TDBGrid(QWidget* parent = nullptr);
  void SetDataSource(platform::data::TDataSource* source);
  TDBGridModel& Model() { return *model_; }

 signals:
  // A column title was clicked (the column's field name).
  void TitleClick(const QString& fieldName);

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void FitRows();
  void ShowCurrent(int row);
  TDBGridModel* model_;
};

}  // namespace archive

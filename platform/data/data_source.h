#pragma once
// Data sources and data links: how controls, grids and detail datasets follow a dataset.
// A dataset notifies its data sources; each source passes the notification to its links.
// A link sees a window of the dataset's record buffers (BufferCount rows), keeps its own
// first row in that window and is told when the dataset opens or closes, changes state,
// scrolls, changes records or wants pending edits written back.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/data/data_types.h"

namespace platform::data {

class TDataSet;
class TDataLink;
class TDataSource;
class TField;

using TNotifyEvent = std::function<void(TDataSource& sender)>;
using TDataChangeEvent = std::function<void(TDataSource& sender, TField* field)>;

class TDataSource {
 public:
  TDataSource() = default;
  explicit TDataSource(TDataSet* dataset) { SetDataSet(dataset); }
  ~TDataSource();
  TDataSource(const TDataSource&) = delete;
  TDataSource& operator=(const TDataSource&) = delete;

  TDataSet* DataSet() const { return dataset_; }
  // A dataset that is (through its master sources) linked to this source raises
  // "Circular datalinks are not allowed".
  void SetDataSet(TDataSet* dataset);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool v);
  // Whether a control's change puts the dataset into edit state by itself.
  bool AutoEdit() const { return auto_edit_; }
  void SetAutoEdit(bool v) { auto_edit_ = v; }
  // The dataset's state while enabled, else dsInactive.
  TDataSetState State() const { return state_; }
  // Edit when AutoEdit is set and the dataset browses.
  void Edit();
  // Whether the dataset, following its master sources, reaches this source (so that making
  // it this source's dataset would close a circle).
  bool IsLinkedTo(TDataSet* dataset) const;

  TNotifyEvent OnStateChange;
  TDataChangeEvent OnDataChange;
  TNotifyEvent OnUpdateData;

 private:
  friend class TDataSet;
  friend class TDataLink;

  void DataEvent(TDataEvent event, intptr_t info);
  void UpdateState();
  void AddLink(TDataLink* link);
  void RemoveLink(TDataLink* link);
  int MaxBufferCount() const;

  TDataSet* dataset_ = nullptr;
  bool enabled_ = true;
  bool auto_edit_ = true;
  TDataSetState state_ = dsInactive;
  std::vector<TDataLink*> links_;
};

class TDataLink {
 public:
  TDataLink() = default;
  virtual ~TDataLink();
  TDataLink(const TDataLink&) = delete;
  TDataLink& operator=(const TDataLink&) = delete;

  TDataSource* DataSource() const { return data_source_; }
  void SetDataSource(TDataSource* source);
  TDataSet* DataSet() const;
  // Linked to an enabled source whose dataset is open.
  bool Active() const { return active_; }
  bool Editing() const { return editing_; }
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool v);

  // The rows this link sees: its window into the dataset's buffers.
  int BufferCount() const { return buffer_count_; }
  void SetBufferCount(int count);
  // Rows filled in this link's window.
  int RecordCount() const;
  // The dataset's active record as a row of this link's window; setting it makes another
  // row of the window the active one (to read its fields) without moving the cursor.
  int ActiveRecord() const;
  void SetActiveRecord(int row);

  // Puts the dataset into edit state through the source; returns Editing.
  bool Edit();
  // Writes the controls' pending value through UpdateData.
  void UpdateRecord();

 protected:
  virtual void ActiveChanged() {}
  virtual void CheckBrowseMode() {}
  virtual void DataSetChanged() { RecordChanged(nullptr); }
  // distance: rows the link's window moved down the dataset (negative: up).
  virtual void DataSetScrolled(int /*distance*/) { DataSetChanged(); }
  virtual void EditingChanged() {}
  virtual void FocusControl(TField* /*field*/) {}
  virtual void LayoutChanged() { DataSetChanged(); }
  virtual void RecordChanged(TField* /*field*/) {}
  virtual void UpdateData() {}

 private:
  friend class TDataSource;
  friend class TDataSet;

  void DataEvent(TDataEvent event, intptr_t info);
  void UpdateState();
  void UpdateRange();
  void SetActive(bool v);
  void SetEditing(bool v);

  TDataSource* data_source_ = nullptr;
  int buffer_count_ = 1;
  int first_record_ = 0;
  bool active_ = false;
  bool editing_ = false;
  bool read_only_ = false;
  bool updating_ = false;
};

// A link whose owner is a dataset that follows another (a detail dataset).
class TDetailDataLink : public TDataLink {
 public:
  virtual TDataSet* GetDetailDataSet() { return nullptr; }
};

// The link of a detail dataset to its master: it resolves FieldNames (";"-separated) to the
// master's fields and calls OnMasterChange when the master's record changes (not while the
// master edits a key) and OnMasterDisable when the master closes or the link has no fields.
class TMasterDataLink : public TDetailDataLink {
 public:
  explicit TMasterDataLink(TDataSet* detail) : detail_(detail) {}

  TDataSet* GetDetailDataSet() override { return detail_; }
  const std::string& FieldNames() const { return field_names_; }
  void SetFieldNames(const std::string& names);
  const std::vector<TField*>& Fields() const { return fields_; }

  std::function<void()> OnMasterChange;
  std::function<void()> OnMasterDisable;

 protected:
  void ActiveChanged() override;
  void CheckBrowseMode() override;
  void LayoutChanged() override { ActiveChanged(); }
  void RecordChanged(TField* field) override;

 private:
  TDataSet* detail_;
  std::string field_names_;
  std::vector<TField*> fields_;
};

}  // namespace platform::data

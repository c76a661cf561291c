#pragma once
// A dataset over records held in memory: the test double that drives the dataset protocol.
// Records are kept in insertion order with increasing ids (the bookmark is the 4-byte id);
// the cursor stands before the first record, on a record id (also one deleted meanwhile)
// or after the last. BLOB values live in a store beside the records and are copied on
// write, so that a cancelled edit leaves the stored value alone.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/data/data_source.h"
#include "platform/data/dataset.h"

namespace platform::data::testing {

struct Column {
  std::string name;
  TFieldType type;
  int size = 0;
  bool required = false;
};

class VectorDataSet : public TDataSet {
 public:
  explicit VectorDataSet(std::vector<Column> columns);
  ~VectorDataSet() override;

  // What the test observes and injects.
  std::vector<std::string>* log = nullptr;  // Internal* calls are appended when set
  int fail_posts = 0;    // the next n posts raise "Record locked by another user"
  int fail_edits = 0;
  int fail_deletes = 0;
  bool read_only = false;
  int stored_count() const { return static_cast<int>(records_.size()); }

  // Master/detail: records whose detail_fields equal the master's master_fields.
  void SetMasterSource(TDataSource* source);
  void SetMasterFields(const std::string& master_fields, const std::string& detail_fields);
  TDataSource* GetDataSource() override { return master_link_.DataSource(); }

  void SetFiltered(bool value) override;
  void SetOnFilterRecord(TFilterRecordEvent handler) override;

  bool Locate(const std::string& key_fields, const Variant& key_values, TLocateOptions options) override;
  Variant Lookup(const std::string& key_fields, const Variant& key_values, const std::string& result_fields) override;
  bool BookmarkValid(const TBookmark& bookmark) override;
  int CompareBookmarks(const TBookmark& a, const TBookmark& b) override;
  void SetRecNo(int value) override;

  bool GetFieldData(TField* field, void* buffer) override;
  void SetFieldData(TField* field, void* buffer) override;
  using TDataSet::GetFieldData;
  using TDataSet::SetFieldData;
  std::unique_ptr<TStream> CreateBlobStream(TField* field, TBlobStreamMode mode) override;

  // For the window tests.
  int WindowRows() const { return RecordsInWindow(); }
  int WindowActive() const { return ActiveRecord(); }

 protected:
  void InternalOpen() override;
  void InternalClose() override;
  bool IsCursorOpen() override { return open_; }
  void InternalInitFieldDefs() override;
  TRecordBuffer AllocRecordBuffer() override;
  void FreeRecordBuffer(TRecordBuffer& buffer) override;
  TGetResult GetRecord(TRecordBuffer buffer, TGetMode mode, bool do_check) override;
  void InternalFirst() override;
  void InternalLast() override;
  void InternalInitRecord(TRecordBuffer buffer) override;
  void InternalSetToRecord(TRecordBuffer buffer) override;
  void InternalGotoBookmark(const uint8_t* data) override;
  void GetBookmarkData(TRecordBuffer buffer, uint8_t* data) override;
  void SetBookmarkData(TRecordBuffer buffer, const uint8_t* data) override;
  TBookmarkFlag GetBookmarkFlag(TRecordBuffer buffer) override;
  void SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) override;
  void InternalEdit() override;
  void InternalCancel() override;
  void InternalPost() override;
  void InternalDelete() override;
  bool GetCanModify() override { return !read_only; }
  int GetRecordCount() override;
  int GetRecNo() override;
  void ClearCalcFields(TRecordBuffer buffer) override;
  void DoOnNewRecord() override;

 private:
  class BlobStream;
  struct Stored {
    int32_t id;
    std::vector<uint8_t> data;  // the field area of a record buffer
  };
  enum class Pos { kBof, kOn, kEof };

  void Log(const std::string& what);
  TRecordBuffer ActiveRec();
  int32_t BufferId(TRecordBuffer buffer) const;
  void SetBufferId(TRecordBuffer buffer, int32_t id);
  std::vector<size_t> View();
  bool Accepted(const Stored& record);
  bool Matches(const Stored& record, const std::vector<TField*>& fields, const Variant& values, TLocateOptions options);
  void LoadInto(TRecordBuffer buffer, const Stored& record);
  size_t LowerBound(int32_t id) const;  // first record with an id >= id
  int FindIndex(int32_t id) const;
  void ApplyMasterRange();

  std::vector<Column> columns_;
  std::vector<Stored> records_;
  int32_t next_id_ = 1;
  std::map<int32_t, std::vector<uint8_t>> blobs_;
  int32_t next_blob_ = 1;

  bool open_ = false;
  std::vector<int> field_offset_;  // per field definition: flag byte, then the native value
  std::vector<int> field_size_;
  int data_size_ = 0;
  int calc_offset_ = 0;
  int bookmark_offset_ = 0;
  int record_size_ = 0;

  Pos pos_ = Pos::kBof;
  int32_t cur_id_ = 0;
  TRecordBuffer filter_buffer_ = nullptr;
  std::vector<uint8_t> edit_copy_;

  TMasterDataLink master_link_{this};
  std::string detail_fields_;
  bool range_active_ = false;
  std::vector<Variant> range_values_;
};

}  // namespace platform::data::testing

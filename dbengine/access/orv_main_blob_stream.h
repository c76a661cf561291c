#pragma once
// The stream a dataset hands to a BLOB field: it wraps the cursor's local stream of the field
// on the active record, notes whether anything was written, and closes the field's streams
// through the dataset when it is freed; the value reaches the stored record with the post.
// Without a local stream (the record is gone, or the table lock was not obtained) it reads
// nothing and accepts nothing.
#include <cstdint>

#include "dbengine/storage/orv_compression_streams.h"
#include "dbengine/storage/orv_local_engine_blob_stream.h"
#include "platform/data/data_types.h"

namespace platform::data {
class TField;
}

namespace orv {

class TORVDataSet;

class TORVBLOBStream : public TORVStream, public IORVUserBLOBStream {
 public:
  // Writing on a read-only dataset: 10106; outside edit or insert: 10111. A bmWrite stream
  // starts empty.
  TORVBLOBStream(platform::data::TField* Field, platform::data::TBlobStreamMode Mode);
  // Closes the field's streams; when something was written the field is marked modified and
  // its change is signalled (an error there goes to the exception handler).
  ~TORVBLOBStream() override;

  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  void SetSize(int64_t NewSize) override { InternalSetSize(NewSize); }
  int64_t GetSize() override;
  void InternalSetSize(int64_t NewSize);
  void Truncate() { SetSize(GetPosition()); }
  // The compressed size of the working copy; 0 without a local stream.
  int64_t GetCompressedSize();
  bool HasLocalStream() const { return FBLOBStream != nullptr; }

  // The cursor closes the local stream itself (post, cancel, close of the table).
  void LocalStreamClosing(TORVLocalBLOBStream& Stream) override;

 private:
  platform::data::TField* FField = nullptr;  // borrowed
  TORVDataSet* FDataSet = nullptr;           // borrowed
  TORVLocalBLOBStream* FBLOBStream = nullptr;  // borrowed: the cursor owns it
};

}  // namespace orv

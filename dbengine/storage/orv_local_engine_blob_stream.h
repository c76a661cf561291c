#pragma once
// The cursor's stream over one BLOB field of its current record. The table data makes it
// around a private working copy of the field's value (a compressed BLOB stream over a
// temporary stream); the cursor keeps it while the field is open and, when it was written,
// hands it back to the table data, which stores the working copy in the record buffer.
//
// It belongs to the local engine above the storage core, but every storage kind creates it
// and it needs nothing of the layers above, so it lives here.
#include <cstdint>
#include <functional>
#include <memory>

#include "dbengine/storage/orv_compression_blob.h"
#include "dbengine/storage/orv_compression_streams.h"
#include "dbengine/storage/orv_types.h"

namespace orv {

class TORVCursor;
class TORVLocalBLOBStream;

// The dataset's stream that wraps a local stream (access components). The cursor closes a
// local stream on its own at a post, a cancel or the close of its table; it tells the user
// stream first, once, so that the user stream takes what it needs of it (whether it was
// written) and from then on reads and writes nothing and closes nothing when it is freed.
class IORVUserBLOBStream {
 public:
  virtual ~IORVUserBLOBStream() = default;
  virtual void LocalStreamClosing(TORVLocalBLOBStream& Stream) = 0;
};

class TORVLocalBLOBStream : public TORVStream {
 public:
  // Takes both parts of the working copy: the compressed stream and the stream under it.
  TORVLocalBLOBStream(std::unique_ptr<TORVCompressedBLOBStream> TemporaryStream,
                      std::unique_ptr<TORVStream> CompressedData, TORVCursor* Cursor, TORVBLOBOpenMode OpenMode,
                      int32_t FieldNo);
  // The compressed stream goes first: it still refers to the stream under it.
  ~TORVLocalBLOBStream() override;

  int32_t Read(void* Buffer, int32_t Count) override;
  // Opened for reading: 10115.
  int32_t Write(const void* Buffer, int32_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  // Opened for reading: 10116.
  void SetSize(int64_t NewSize) override;
  int64_t GetSize() override;
  void InternalSetSize(int64_t NewSize);

  TORVCompressedBLOBStream& TemporaryStream() const { return *FTemporaryStream; }
  TORVBLOBOpenMode OpenMode() const { return FOpenMode; }
  bool OpenedForWriting() const { return FOpenMode != bomRead; }
  int32_t FieldNo() const { return FFieldNo; }
  TORVCursor* Cursor() const { return FCursor; }

  IORVUserBLOBStream* FUserBLOBStream = nullptr;  // borrowed

 private:
  TORVBLOBOpenMode FOpenMode;
  std::unique_ptr<TORVStream> FCompressedData;
  std::unique_ptr<TORVCompressedBLOBStream> FTemporaryStream;
  int32_t FFieldNo;
  TORVCursor* FCursor;  // borrowed
};

// The stream the storage kinds hand out for a BLOB field: a temporary stream (kept in memory
// with DisableTempFiles) holding the field's stored blocks, written by FillStored, and a
// compressed BLOB stream over it opened with Descriptor (the field's block size, algorithm and
// mode; NumBlocks and UncompressedSize of the stored value). Without FillStored the BLOB is new
// and empty.
std::unique_ptr<TORVLocalBLOBStream> CreateLocalBLOBStream(TORVCursor* Cursor, TORVBLOBOpenMode OpenMode,
                                                           int32_t FieldNo, const TORVBLOBDescriptor& Descriptor,
                                                           bool DisableTempFiles,
                                                           const std::function<void(TORVStream&)>& FillStored);

}  // namespace orv

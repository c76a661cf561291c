#include "dbengine/storage/orv_local_engine_blob_stream.h"

#include "dbengine/storage/orv_except.h"

namespace orv {

TORVLocalBLOBStream::TORVLocalBLOBStream(std::unique_ptr<TORVCompressedBLOBStream> TemporaryStream,
                                         std::unique_ptr<TORVStream> CompressedData, TORVCursor* Cursor,
                                         TORVBLOBOpenMode OpenMode, int32_t FieldNo)
    : FOpenMode(OpenMode),
      FCompressedData(std::move(CompressedData)),
      FTemporaryStream(std::move(TemporaryStream)),
      FFieldNo(FieldNo),
      FCursor(Cursor) {
  if (!FTemporaryStream) throw EORVException(10113, "Nil pointer occured");
}

TORVLocalBLOBStream::~TORVLocalBLOBStream() {
  FTemporaryStream.reset();
  FCompressedData.reset();
}

int32_t TORVLocalBLOBStream::Read(void* Buffer, int32_t Count) { return FTemporaryStream->Read(Buffer, Count); }

int32_t TORVLocalBLOBStream::Write(const void* Buffer, int32_t Count) {
  if (FOpenMode == bomRead) throw EORVException(10115, "Cannot write to read only stream");
  const int32_t written = FTemporaryStream->Write(Buffer, Count);
  if (written > 0) FModified = true;
  return written;
}

int64_t TORVLocalBLOBStream::Seek(int64_t Offset, TSeekOrigin Origin) { return FTemporaryStream->Seek(Offset, Origin); }

void TORVLocalBLOBStream::SetSize(int64_t NewSize) { InternalSetSize(NewSize); }

void TORVLocalBLOBStream::InternalSetSize(int64_t NewSize) {
  if (FOpenMode == bomRead) throw EORVException(10116, "Cannot write to read only stream");
  FTemporaryStream->SetSize(NewSize);
  FModified = true;
}

int64_t TORVLocalBLOBStream::GetSize() { return FTemporaryStream->GetSize(); }

std::unique_ptr<TORVLocalBLOBStream> CreateLocalBLOBStream(TORVCursor* Cursor, TORVBLOBOpenMode OpenMode,
                                                           int32_t FieldNo, const TORVBLOBDescriptor& Descriptor,
                                                           bool DisableTempFiles,
                                                           const std::function<void(TORVStream&)>& FillStored) {
  std::unique_ptr<TORVStream> data = std::make_unique<TORVTemporaryStream>(DisableTempFiles);
  TORVBLOBDescriptor descriptor = Descriptor;
  descriptor.StartPosition = 0;
  const bool create = !FillStored;
  if (create) {
    descriptor.NumBlocks = 0;
    descriptor.UncompressedSize = 0;
  } else {
    FillStored(*data);
    data->Seek(0, soBeginning);
  }
  auto blob = std::make_unique<TORVCompressedBLOBStream>(data.get(), descriptor, create, false);
  return std::make_unique<TORVLocalBLOBStream>(std::move(blob), std::move(data), Cursor, OpenMode, FieldNo);
}

}  // namespace orv

#pragma once
// One BLOB value as an ordinary engine stream while its bytes live inside another stream
// (the underlying stream), from the descriptor's start position on. Without compression the
// bytes are stored plainly; otherwise as a chain of compressed blocks of a fixed uncompressed
// size, each behind a 20-byte header {CompressedSize, UncompressedSize, Crc32,
// OffsetToNextHeader} (little-endian). Reads decompress every block they touch; writes only
// append (a write that starts inside the BLOB writes nothing); resizing extends with zeros or
// truncates, recompressing a partial last block.
#include <cstdint>
#include <memory>

#include "dbengine/storage/orv_compression.h"
#include "dbengine/storage/orv_compression_streams.h"
#include "dbengine/storage/orv_types.h"

namespace orv {

class TORVCompressedBLOBStream : public TORVStream {
 public:
  // Stream is borrowed and must outlive this object. ToCreate starts a new, empty BLOB at the
  // descriptor's start position (a BlockSize of 0 is chosen from the mode); otherwise the
  // existing BLOB is opened. ToRepair opens a damaged BLOB keeping the blocks that can still
  // be read; the descriptor then describes what was kept.
  TORVCompressedBLOBStream(TStream* Stream, const TORVBLOBDescriptor& BLOBDescriptor, bool ToCreate, bool ToRepair);

  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  void SetSize(int64_t NewSize) override;
  int64_t GetSize() override { return FUncompressedSize; }

  // The size of the underlying stream (headers and any other content included).
  int64_t GetCompressedSize();
  // Recomputes the rate (percent saved) and returns it.
  double GetCompressionRate();

  TStream* CompressedStream() const { return FCompressedStream; }
  const TORVBLOBDescriptor& BLOBDescriptor() const { return FBLOBDescriptor; }
  TORVCompressionAlgorithm CompressionAlgorithm() const { return FCompressionAlgorithm; }
  uint8_t CompressionMode() const { return FCompressionMode; }
  const TORVCompressedStreamBlockHeadersArray& Headers() const { return FHeaders; }

  // The uncompressed block size of a new BLOB of that compression mode.
  static int32_t InternalGetBlockSize(uint8_t CompressionMode);

 private:
  struct HeapFree {
    void operator()(void* p) const noexcept;
  };
  using HeapBuffer = std::unique_ptr<uint8_t, HeapFree>;

  void InternalCreate(bool ToCreate);
  void LoadHeaders();
  HeapBuffer LoadBlock(int32_t CurHeader);
  void LoadBlockInto(int32_t CurHeader, uint8_t* Out);
  void ReadCompressed(int32_t CurHeader, uint8_t* Buffer);
  void CheckBlock(const TORVCompressedStreamBlockHeader& Header, bool Decompressed, const uint8_t* Data, int32_t Size);
  HeapBuffer PrepareBufferForWriting(const uint8_t* InBuf, int32_t InSize, TORVCompressedStreamBlockHeader& Header);
  void InternalWriteBlock(int32_t Index, int64_t Position, const uint8_t* InBuf, int32_t InSize);
  int64_t InternalWritePrepare();
  void InternalWriteBeyondEOF();
  void InternalIncreaseSize(int64_t NewSize);
  void InternalDecreaseSize(int64_t NewSize);
  void InternalSetSize(int64_t NewSize);
  void InternalSeek(int64_t NewPosition);
  void CalculateRate();
  void SyncDescriptor();

  int32_t ReadPlain(void* Buffer, int32_t Count);
  int32_t WritePlain(const void* Buffer, int32_t Count);

  bool FRepair;
  TORVCompressedStreamBlockHeadersArray FHeaders;
  int64_t FUncompressedSize = 0;
  int64_t FCompressedSize = 0;
  int64_t FStartPosition = 0;
  int32_t FCurrentHeader = 0;
  int64_t FPosition = 0;
  uint8_t FCompressionMode = 0;
  TORVCompressionAlgorithm FCompressionAlgorithm = acaNone;
  double FCompressionRate = 0;
  TStream* FCompressedStream;
  TORVBLOBDescriptor FBLOBDescriptor;
};

}  // namespace orv

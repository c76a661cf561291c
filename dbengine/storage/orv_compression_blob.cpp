#include "dbengine/storage/orv_compression_blob.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_memory.h"

namespace orv {
namespace {

constexpr int32_t kHeaderSize = TORVCompressedStreamBlockHeader::StoredSize;
const char* kCannotSetPosition = "Cannot set stream position to %d. Position = %d, Size = %d";
const char* kTooSmall = "Stream size = %d too small. Should be at least = %d";
const char* kCannotWrite =
    "Cannot write to stream. Position = %d, Stream size = %d, Block size = %d, Bytes Write = %d";

// a + b without leaving 64 bits: stored starts and sizes are added before anything says they
// are sane, and a sum past 2^63 is undefined.
int64_t SaturatedAdd(int64_t a, int64_t b) {
  int64_t r = 0;
  if (!__builtin_add_overflow(a, b, &r)) return r;
  return b > 0 ? INT64_MAX : INT64_MIN;
}

// A MemoryManager block released on every path.
class EngineBuffer {
 public:
  explicit EngineBuffer(int64_t size) : p_(static_cast<uint8_t*>(MemoryManager().GetMem(size))) {}
  ~EngineBuffer() {
    try {
      MemoryManager().FreeAndNillMem(p_);
    } catch (...) {
      // Freed already; an overrun report cannot leave a destructor.
    }
  }
  EngineBuffer(const EngineBuffer&) = delete;
  EngineBuffer& operator=(const EngineBuffer&) = delete;
  uint8_t* get() const { return p_; }

 private:
  uint8_t* p_;
};

}  // namespace

void TORVCompressedBLOBStream::HeapFree::operator()(void* p) const noexcept { std::free(p); }

int32_t TORVCompressedBLOBStream::InternalGetBlockSize(uint8_t CompressionMode) {
  if (CompressionMode == 0) return DefaultBLOBBlockSize;
  if (CompressionMode <= 3) return BlockSizeForFastest;
  if (CompressionMode <= 6) return BlockSizeForNormal;
  return BlockSizeForMax;
}

TORVCompressedBLOBStream::TORVCompressedBLOBStream(TStream* Stream, const TORVBLOBDescriptor& BLOBDescriptor,
                                                   bool ToCreate, bool ToRepair)
    : FRepair(ToRepair), FCompressedStream(Stream), FBLOBDescriptor(BLOBDescriptor) {
  if (!Stream) throw EORVException(10103, kCannotSetPosition, {BLOBDescriptor.StartPosition, 0, 0});
  FCompressionAlgorithm = static_cast<TORVCompressionAlgorithm>(FBLOBDescriptor.CompressionAlgorithm);
  FCompressionMode = FBLOBDescriptor.CompressionMode;
  // The start comes from a stored descriptor: it must name a place in the stream (a new BLOB
  // may also start behind its end) before anything is computed from it.
  {
    const int64_t start = FBLOBDescriptor.StartPosition, size = Stream->GetSize();
    if (start < 0 || (!ToCreate && start > size))
      throw EORVException(10103, kCannotSetPosition, {start, Stream->GetPosition(), size});
  }
  SetStreamPosition(*FCompressedStream, FBLOBDescriptor.StartPosition, 10103);
  FBlockSize = FBLOBDescriptor.BlockSize;
  FStartPosition = FBLOBDescriptor.StartPosition;
  if (FCompressionAlgorithm != acaNone) {
    InternalCreate(ToCreate);
  } else {
    const int64_t position = FCompressedStream->GetPosition();
    if (position != FStartPosition)
      throw EORVException(10079, kCannotSetPosition, {FStartPosition, position, FCompressedStream->GetSize()});
    if (ToCreate) {
      FUncompressedSize = 0;
    } else {
      FUncompressedSize = std::max<int64_t>(FBLOBDescriptor.UncompressedSize, 0);
      const int64_t available = FCompressedStream->GetSize() - FStartPosition;
      if (available < FUncompressedSize) {
        if (!FRepair)
          throw EORVException(10081, kTooSmall,
                              {FCompressedStream->GetSize(), SaturatedAdd(FStartPosition, FUncompressedSize)});
        // What is there is what can be read.
        FUncompressedSize = std::max<int64_t>(available, 0);
      }
    }
    FPosition = 0;
    SyncDescriptor();
  }
  CalculateRate();
}

void TORVCompressedBLOBStream::SyncDescriptor() {
  FBLOBDescriptor.UncompressedSize = FUncompressedSize;
  if (FCompressionAlgorithm != acaNone) FBLOBDescriptor.NumBlocks = FHeaders.ItemCount();
}

void TORVCompressedBLOBStream::InternalCreate(bool ToCreate) {
  FHeaders.SetSize(0);
  if (ToCreate) {
    if (FBLOBDescriptor.BlockSize == 0) FBLOBDescriptor.BlockSize = InternalGetBlockSize(FCompressionMode);
    FBLOBDescriptor.NumBlocks = 0;
  }
  // Every position in the BLOB is found by dividing by the block size.
  if (FBLOBDescriptor.BlockSize <= 0)
    throw EORVException(10515, "Invalid BLOB block size = %d", {FBLOBDescriptor.BlockSize});
  if (FBLOBDescriptor.NumBlocks < 0) {
    if (!FRepair) throw EORVException(10517, "Invalid BLOB block count = %d", {FBLOBDescriptor.NumBlocks});
    FBLOBDescriptor.NumBlocks = 0;
  }
  FBlockSize = FBLOBDescriptor.BlockSize;
  FUncompressedSize = 0;
  FCompressedSize = 0;
  LoadHeaders();
  FCurrentHeader = 0;
  FPosition = 0;
}

void TORVCompressedBLOBStream::LoadHeaders() {
  FUncompressedSize = 0;
  FCompressedSize = 0;
  TStream& s = *FCompressedStream;
  const int64_t start = s.GetPosition();
  if (start != FStartPosition) throw EORVException(10080, kCannotSetPosition, {FStartPosition, start, s.GetSize()});
  FHeaders.SetSize(0);
  const int64_t size = s.GetSize();
  const int32_t block_size = FBLOBDescriptor.BlockSize;
  // Every block takes at least a header and one byte: a count the stream cannot hold is
  // refused before the first header is read.
  if (!FRepair && FBLOBDescriptor.NumBlocks > (size - start) / (kHeaderSize + 1))
    throw EORVException(10082, kTooSmall,
                        {size, SaturatedAdd(start, FBLOBDescriptor.NumBlocks > INT64_MAX / (kHeaderSize + 1)
                                                       ? INT64_MAX
                                                       : FBLOBDescriptor.NumBlocks * (kHeaderSize + 1))});
  bool previous_short = false;
  for (int64_t i = 0; i < FBLOBDescriptor.NumBlocks; ++i) {
    const int64_t p = s.GetPosition();
    if (size - p < kHeaderSize) {
      if (FRepair) break;
      throw EORVException(10082, kTooSmall, {size, p + kHeaderSize});
    }
    uint8_t raw[kHeaderSize];
    LoadDataFromStream(raw, kHeaderSize, s, 10082);
    const auto h = TORVCompressedStreamBlockHeader::ReadFrom(raw);
    // A header is believed only when it describes a block that lies inside the stream and
    // fits the chain: only the last block may hold fewer than BlockSize bytes.
    const bool sane = !previous_short && h.CompressedSize > 0 && h.UncompressedSize > 0 &&
                      h.UncompressedSize <= block_size && h.OffsetToNextHeader == kHeaderSize + int64_t{h.CompressedSize} &&
                      h.OffsetToNextHeader <= size - p;
    if (!sane) {
      if (FRepair) break;
      throw EORVException(10083, kCannotSetPosition, {SaturatedAdd(p, h.OffsetToNextHeader), p, size});
    }
    FHeaders.AppendItem(h, p);
    if (FRepair) {
      // Keep only blocks whose data still decompresses to what the header promises.
      try {
        LoadBlock(static_cast<int32_t>(FHeaders.ItemCount() - 1));
      } catch (const EORVException&) {
        FHeaders.SetSize(FHeaders.ItemCount() - 1);
        break;
      }
    }
    FUncompressedSize += h.UncompressedSize;
    FCompressedSize += h.CompressedSize;
    previous_short = h.UncompressedSize < block_size;
    SetStreamPosition(s, p + h.OffsetToNextHeader, 10083);
  }
  if (FRepair) {
    FBLOBDescriptor.NumBlocks = FHeaders.ItemCount();
    FBLOBDescriptor.UncompressedSize = FUncompressedSize;
  }
}

TORVCompressedBLOBStream::HeapBuffer TORVCompressedBLOBStream::LoadBlock(int32_t CurHeader) {
  const TORVCompressedStreamBlockHeader h = FHeaders.Items[static_cast<size_t>(CurHeader)];
  void* out = nullptr;
  int32_t out_size = h.UncompressedSize;
  bool ok;
  {
    EngineBuffer compressed(h.CompressedSize);
    ReadCompressed(CurHeader, compressed.get());
    ok = ORVInternalDecompressBuffer(FCompressionAlgorithm, compressed.get(), h.CompressedSize, out, out_size);
  }
  HeapBuffer result(static_cast<uint8_t*>(out));
  CheckBlock(h, ok, result.get(), out_size);
  return result;
}

void TORVCompressedBLOBStream::LoadBlockInto(int32_t CurHeader, uint8_t* Out) {
  const TORVCompressedStreamBlockHeader h = FHeaders.Items[static_cast<size_t>(CurHeader)];
  int32_t out_size = 0;
  bool ok;
  {
    EngineBuffer compressed(h.CompressedSize);
    ReadCompressed(CurHeader, compressed.get());
    ok = ORVInternalDecompressBufferInto(FCompressionAlgorithm, compressed.get(), h.CompressedSize, Out,
                                         h.UncompressedSize, out_size);
  }
  try {
    CheckBlock(h, ok, Out, out_size);
  } catch (...) {
    // Nothing of a damaged block reaches the caller.
    std::memset(Out, 0, static_cast<size_t>(h.UncompressedSize));
    throw;
  }
}

void TORVCompressedBLOBStream::ReadCompressed(int32_t CurHeader, uint8_t* Buffer) {
  const auto& h = FHeaders.Items[static_cast<size_t>(CurHeader)];
  SetStreamPosition(*FCompressedStream, FHeaders.Positions[static_cast<size_t>(CurHeader)] + kHeaderSize, 10086);
  LoadDataFromStream(Buffer, h.CompressedSize, *FCompressedStream, 10086);
}

void TORVCompressedBLOBStream::CheckBlock(const TORVCompressedStreamBlockHeader& h, bool Decompressed,
                                          const uint8_t* Data, int32_t Size) {
  if (!Decompressed)
    throw EORVException(10087, "Decompress buffer failed. CompAlg = %d, InSize = %d, OutSize = %d",
                        {static_cast<int>(FCompressionAlgorithm), h.CompressedSize, h.UncompressedSize});
  if (Size != h.UncompressedSize)
    throw EORVException(10088, "Decompress buffer failed. UncompSize = %d, Header.UncompSize = %d",
                        {Size, h.UncompressedSize});
  const uint32_t crc = CRC32(0, Data, static_cast<uint32_t>(Size));
  if (crc != h.Crc32)
    throw EORVException(10089, "Decompress buffer failed. CheckSum = %d, Header.Crc32 = %d", {crc, h.Crc32});
}

TORVCompressedBLOBStream::HeapBuffer TORVCompressedBLOBStream::PrepareBufferForWriting(
    const uint8_t* InBuf, int32_t InSize, TORVCompressedStreamBlockHeader& Header) {
  Header.UncompressedSize = InSize;
  Header.Crc32 = CRC32(0, InBuf, static_cast<uint32_t>(InSize));
  void* out = nullptr;
  int32_t out_size = 0;
  if (!ORVInternalCompressBuffer(FCompressionAlgorithm, FCompressionMode, InBuf, InSize, out, out_size))
    throw EORVException(10085, "Compress buffer failed. CompAlg = %d, CompMode = %d, InSize = %d, OutSize = %d",
                        {static_cast<int>(FCompressionAlgorithm), FCompressionMode, InSize, out_size});
  Header.CompressedSize = out_size;
  return HeapBuffer(static_cast<uint8_t*>(out));
}

// Writes block Index at Position and records its header; Index may be the next new block.
void TORVCompressedBLOBStream::InternalWriteBlock(int32_t Index, int64_t Position, const uint8_t* InBuf,
                                                  int32_t InSize) {
  TORVCompressedStreamBlockHeader header;
  HeapBuffer data = PrepareBufferForWriting(InBuf, InSize, header);
  header.OffsetToNextHeader = kHeaderSize + int64_t{header.CompressedSize};
  SetStreamPosition(*FCompressedStream, Position, 10099);
  uint8_t raw[kHeaderSize];
  header.WriteTo(raw);
  SaveDataToStream(raw, kHeaderSize, *FCompressedStream, 10100);
  SaveDataToStream(data.get(), header.CompressedSize, *FCompressedStream, 10101);
  if (Index < FHeaders.ItemCount()) {
    FCompressedSize += header.CompressedSize - FHeaders.Items[static_cast<size_t>(Index)].CompressedSize;
    FHeaders.Items[static_cast<size_t>(Index)] = header;
    FHeaders.Positions[static_cast<size_t>(Index)] = Position;
  } else {
    FCompressedSize += header.CompressedSize;
    FHeaders.AppendItem(header, Position);
  }
}

// Positions the underlying stream where new blocks start: right behind the last block, or
// at the start when there is none.
int64_t TORVCompressedBLOBStream::InternalWritePrepare() {
  int64_t position = FStartPosition;
  if (FHeaders.ItemCount() > 0) {
    const size_t last = static_cast<size_t>(FHeaders.ItemCount() - 1);
    position = FHeaders.Positions[last] + FHeaders.Items[last].OffsetToNextHeader;
  }
  SetStreamPosition(*FCompressedStream, position, 10102);
  return position;
}

void TORVCompressedBLOBStream::InternalWriteBeyondEOF() {
  const int64_t target = FPosition;
  FPosition = 0;
  InternalSetSize(target);
  if (FUncompressedSize != target)
    throw EORVException(10092, "Invalid stream size = %d. Should be = %d", {FUncompressedSize, target});
  InternalSeek(target);
  if (FPosition != target) throw EORVException(10091, kCannotSetPosition, {target, FPosition, FUncompressedSize});
}

int32_t TORVCompressedBLOBStream::Read(void* Buffer, int32_t Count) {
  if (FCompressionAlgorithm == acaNone) return ReadPlain(Buffer, Count);
  if (Count <= 0 || !Buffer || FPosition < 0 || FPosition >= FUncompressedSize) return 0;
  const int32_t block_size = FBLOBDescriptor.BlockSize;
  auto* out = static_cast<uint8_t*>(Buffer);
  int32_t delivered = 0;
  FCurrentHeader = static_cast<int32_t>(FPosition / block_size);
  while (FPosition < FUncompressedSize && delivered < Count) {
    if (FCurrentHeader >= FHeaders.ItemCount()) throw EORVException(10090, "Cannot read from stream. ReadSize = %d", {0});
    const auto offset = static_cast<int32_t>(FPosition % block_size);
    int64_t n = block_size - offset;
    n = std::min<int64_t>(n, Count - delivered);
    n = std::min<int64_t>(n, FUncompressedSize - FPosition);
    const int32_t in_block = FHeaders.Items[static_cast<size_t>(FCurrentHeader)].UncompressedSize;
    if (n <= 0 || offset + n > in_block) throw EORVException(10090, "Cannot read from stream. ReadSize = %d", {n});
    if (offset == 0 && n == in_block) {
      // The whole block is wanted: it decompresses straight into the caller's buffer.
      LoadBlockInto(FCurrentHeader, out + delivered);
    } else {
      HeapBuffer block = LoadBlock(FCurrentHeader);
      std::memcpy(out + delivered, block.get() + offset, static_cast<size_t>(n));
    }
    delivered += static_cast<int32_t>(n);
    FPosition += n;
    ++FCurrentHeader;
  }
  return delivered;
}

int32_t TORVCompressedBLOBStream::Write(const void* Buffer, int32_t Count) {
  if (FCompressionAlgorithm == acaNone) return WritePlain(Buffer, Count);
  int32_t written = 0;
  if (Count > 0 && Buffer && FPosition >= FUncompressedSize) {
    if (FPosition > FUncompressedSize) InternalWriteBeyondEOF();
    const auto* in = static_cast<const uint8_t*>(Buffer);
    const int32_t block_size = FBLOBDescriptor.BlockSize;
    FCurrentHeader = FHeaders.ItemCount() > 0 ? static_cast<int32_t>(FHeaders.ItemCount() - 1) : 0;
    const auto r = static_cast<int32_t>(FPosition % block_size);
    if (r > 0) {
      // The last block is partial: fill it up and rewrite it in place. The buffer holds what
      // the block will hold, not a whole block: a stored block size may be huge.
      HeapBuffer old = LoadBlock(FCurrentHeader);
      const int32_t n = std::min(Count, block_size - r);
      EngineBuffer block(int64_t{r} + n);
      std::memcpy(block.get(), old.get(), static_cast<size_t>(r));
      std::memcpy(block.get() + r, in, static_cast<size_t>(n));
      InternalWriteBlock(FCurrentHeader, FHeaders.Positions[static_cast<size_t>(FCurrentHeader)], block.get(), r + n);
      written += n;
      FUncompressedSize += n;
      FPosition += n;
      SyncDescriptor();
    }
    if (written < Count) {
      int64_t position = InternalWritePrepare();
      while (written < Count) {
        const int32_t n = std::min(Count - written, block_size);
        FCurrentHeader = static_cast<int32_t>(FHeaders.ItemCount());
        InternalWriteBlock(FCurrentHeader, position, in + written, n);
        position += FHeaders.Items.back().OffsetToNextHeader;
        written += n;
        FUncompressedSize += n;
        FPosition += n;
        // After every block the descriptor describes what is stored, so a failure later
        // leaves a consistent BLOB behind.
        SyncDescriptor();
      }
    }
  }
  SyncDescriptor();
  CalculateRate();
  return written;
}

int32_t TORVCompressedBLOBStream::ReadPlain(void* Buffer, int32_t Count) {
  if (Count <= 0 || !Buffer || FPosition < 0 || FPosition >= FUncompressedSize) return 0;
  // Never past the BLOB's own end, whatever follows it in the underlying stream.
  const auto n = static_cast<int32_t>(std::min<int64_t>(Count, FUncompressedSize - FPosition));
  FCompressedStream->Seek(SaturatedAdd(FStartPosition, FPosition), soBeginning);
  const int32_t got = FCompressedStream->Read(Buffer, n);
  FPosition = FCompressedStream->GetPosition() - FStartPosition;
  return got;
}

int32_t TORVCompressedBLOBStream::WritePlain(const void* Buffer, int32_t Count) {
  int32_t written = 0;
  if (Count > 0 && Buffer && FPosition >= 0) {
    FCompressedStream->Seek(SaturatedAdd(FStartPosition, FPosition), soBeginning);
    written = FCompressedStream->Write(Buffer, Count);
    FUncompressedSize = FCompressedStream->GetSize() - FStartPosition;
    FPosition = FCompressedStream->GetPosition() - FStartPosition;
  }
  SyncDescriptor();
  CalculateRate();
  return written;
}

int64_t TORVCompressedBLOBStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  int64_t target = FPosition;
  switch (Origin) {
    case soBeginning:
      target = Offset;
      break;
    case soCurrent:
      target = SaturatedAdd(FPosition, Offset);
      break;
    case soEnd:
      target = SaturatedAdd(FUncompressedSize, Offset);
      break;
  }
  InternalSeek(target);
  return FPosition;
}

void TORVCompressedBLOBStream::InternalSeek(int64_t NewPosition) {
  if (NewPosition <= 0) {
    FPosition = 0;
    FCurrentHeader = 0;
  } else {
    FPosition = NewPosition;
    FCurrentHeader = static_cast<int32_t>(std::min<int64_t>(NewPosition / std::max(FBLOBDescriptor.BlockSize, 1), INT32_MAX));
  }
  if (FCompressionAlgorithm == acaNone) {
    FCompressedStream->Seek(SaturatedAdd(FStartPosition, FPosition), soBeginning);
    FPosition = FCompressedStream->GetPosition() - FStartPosition;
  }
}

void TORVCompressedBLOBStream::SetSize(int64_t NewSize) { InternalSetSize(NewSize); }

void TORVCompressedBLOBStream::InternalSetSize(int64_t NewSize) {
  if (NewSize < 0 || NewSize > INT64_MAX - FStartPosition) throw EORVException(10516, "Invalid BLOB size = %d", {NewSize});
  if (FCompressionAlgorithm == acaNone) {
    FCompressedStream->SetSize(FStartPosition + NewSize);
  } else if (NewSize > FUncompressedSize) {
    InternalIncreaseSize(NewSize);
  } else if (NewSize < FUncompressedSize) {
    InternalDecreaseSize(NewSize);
  }
  FUncompressedSize = NewSize;
  SyncDescriptor();
  CalculateRate();
  if (FPosition > NewSize) FPosition = NewSize;
}

void TORVCompressedBLOBStream::InternalIncreaseSize(int64_t NewSize) {
  FPosition = FUncompressedSize;
  const int64_t extension = NewSize - FUncompressedSize;
  if (extension <= 0)
    throw EORVException(10098, "Invalid extension size. NewSize = %d, UncompressedSize = %d, ExtensionSize = %d",
                        {NewSize, FUncompressedSize, extension});
  const int32_t block_size = FBLOBDescriptor.BlockSize;
  const std::vector<uint8_t> zeros(static_cast<size_t>(std::min<int64_t>(extension, block_size)), 0);
  int64_t left = extension;
  while (left > 0) {
    const auto n = static_cast<int32_t>(std::min<int64_t>(left, block_size));
    const int64_t position = FPosition;
    const int32_t put = Write(zeros.data(), n);
    if (put != n) throw EORVException(10097, kCannotWrite, {position, FUncompressedSize, n, put});
    left -= n;
  }
}

void TORVCompressedBLOBStream::InternalDecreaseSize(int64_t NewSize) {
  const int32_t block_size = FBLOBDescriptor.BlockSize;
  const int64_t k = NewSize / block_size;
  const auto r = static_cast<int32_t>(NewSize % block_size);
  int64_t count = k;
  TORVCompressedStreamBlockHeader header;
  HeapBuffer data;
  if (r > 0) {
    // Recompress the first r bytes of block k before anything is cut.
    HeapBuffer block = LoadBlock(static_cast<int32_t>(k));
    data = PrepareBufferForWriting(block.get(), r, header);
    count = k + 1;
  }
  FHeaders.SetSize(count);
  FBLOBDescriptor.NumBlocks = count;
  if (r > 0) {
    TStream& s = *FCompressedStream;
    const int64_t position = FHeaders.Positions[static_cast<size_t>(k)];
    s.SetSize(position);
    if (s.GetSize() != position)
      throw EORVException(10093, "Invalid stream size = %d. Should be = %d", {s.GetSize(), position});
    SetStreamPosition(s, position, 10094);
    header.OffsetToNextHeader = kHeaderSize + int64_t{header.CompressedSize};
    uint8_t raw[kHeaderSize];
    header.WriteTo(raw);
    if (s.Write(raw, kHeaderSize) != kHeaderSize) throw EORVException(10095, "Error writing to stream");
    if (s.Write(data.get(), header.CompressedSize) != header.CompressedSize)
      throw EORVException(10096, "Error writing to stream");
    FHeaders.Items[static_cast<size_t>(k)] = header;
  }
  FCompressedSize = 0;
  for (const auto& h : FHeaders.Items) FCompressedSize += h.CompressedSize;
}

void TORVCompressedBLOBStream::CalculateRate() {
  if (FCompressionAlgorithm != acaNone && FUncompressedSize > 0) {
    FCompressedSize = 0;
    for (const auto& h : FHeaders.Items) FCompressedSize += h.CompressedSize;
    FCompressionRate = (1.0 - static_cast<double>(FCompressedSize) / static_cast<double>(FUncompressedSize)) * 100.0;
  } else {
    FCompressedSize = FUncompressedSize;
    FCompressionRate = 0;
  }
}

int64_t TORVCompressedBLOBStream::GetCompressedSize() { return FCompressedStream->GetSize(); }

double TORVCompressedBLOBStream::GetCompressionRate() {
  CalculateRate();
  return FCompressionRate;
}

}  // namespace orv

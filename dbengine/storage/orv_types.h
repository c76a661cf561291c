#pragma once
// The shared vocabulary of the storage engine. Records that are stored byte for byte are
// written and read field by field in little-endian order, never by casting memory.
#include <cstdint>
#include <vector>

namespace orv {

// The storage types of values, stored as one byte.
enum TORVBaseFieldType : uint8_t {
  bftUnknown = 0,
  bftChar = 1,
  bftWideChar = 2,
  bftVarchar = 3,
  bftWideVarchar = 4,
  bftSignedInt8 = 5,
  bftSignedInt16 = 6,
  bftSignedInt32 = 7,
  bftSignedInt64 = 8,
  bftUnsignedInt8 = 9,
  bftUnsignedInt16 = 10,
  bftUnsignedInt32 = 11,
  bftSingle = 12,
  bftDouble = 13,
  bftExtended = 14,
  bftDate = 15,
  bftTime = 16,
  bftDateTime = 17,
  bftBlob = 18,
  bftClob = 19,
  bftWideClob = 20,
  bftLogical = 21,
  bftCurrency = 22,
  bftBytes = 23,
  bftVarBytes = 24,
  bftBFile = 25,
};

// Little-endian field access for the stored records.
inline void PutLE32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void PutLE64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline uint32_t GetLE32(const uint8_t* p) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}
inline uint64_t GetLE64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

// The header in front of each block of a compressed BLOB, 20 bytes in the underlying stream:
// CompressedSize int32, UncompressedSize int32, Crc32 uint32, OffsetToNextHeader int64.
struct TORVCompressedStreamBlockHeader {
  static constexpr int32_t StoredSize = 20;

  int32_t CompressedSize = 0;
  int32_t UncompressedSize = 0;
  uint32_t Crc32 = 0;
  int64_t OffsetToNextHeader = 0;

  void WriteTo(uint8_t* p) const {
    PutLE32(p, static_cast<uint32_t>(CompressedSize));
    PutLE32(p + 4, static_cast<uint32_t>(UncompressedSize));
    PutLE32(p + 8, Crc32);
    PutLE64(p + 12, static_cast<uint64_t>(OffsetToNextHeader));
  }
  static TORVCompressedStreamBlockHeader ReadFrom(const uint8_t* p) {
    TORVCompressedStreamBlockHeader h;
    h.CompressedSize = static_cast<int32_t>(GetLE32(p));
    h.UncompressedSize = static_cast<int32_t>(GetLE32(p + 4));
    h.Crc32 = GetLE32(p + 8);
    h.OffsetToNextHeader = static_cast<int64_t>(GetLE64(p + 12));
    return h;
  }
};

// Where and how one BLOB is stored; created and kept by the table layers, read and updated
// by the compressed BLOB stream. Stored packed in 32 bytes in this field order.
struct TORVBLOBDescriptor {
  static constexpr int32_t StoredSize = 32;

  int32_t BlockSize = 0;         // uncompressed bytes per block
  int64_t NumBlocks = 0;
  int64_t UncompressedSize = 0;  // the BLOB's length
  int64_t StartPosition = 0;     // where the BLOB begins in the underlying stream
  uint8_t CompressionAlgorithm = 0;
  uint8_t CompressionMode = 0;
  uint8_t Reserved[2] = {0, 0};

  void WriteTo(uint8_t* p) const {
    PutLE32(p, static_cast<uint32_t>(BlockSize));
    PutLE64(p + 4, static_cast<uint64_t>(NumBlocks));
    PutLE64(p + 12, static_cast<uint64_t>(UncompressedSize));
    PutLE64(p + 20, static_cast<uint64_t>(StartPosition));
    p[28] = CompressionAlgorithm;
    p[29] = CompressionMode;
    p[30] = Reserved[0];
    p[31] = Reserved[1];
  }
  static TORVBLOBDescriptor ReadFrom(const uint8_t* p) {
    TORVBLOBDescriptor d;
    d.BlockSize = static_cast<int32_t>(GetLE32(p));
    d.NumBlocks = static_cast<int64_t>(GetLE64(p + 4));
    d.UncompressedSize = static_cast<int64_t>(GetLE64(p + 12));
    d.StartPosition = static_cast<int64_t>(GetLE64(p + 20));
    d.CompressionAlgorithm = p[28];
    d.CompressionMode = p[29];
    d.Reserved[0] = p[30];
    d.Reserved[1] = p[31];
    return d;
  }
};

// The block index of one compressed BLOB stream: the headers in block order with the
// underlying-stream position of each header.
class TORVCompressedStreamBlockHeadersArray {
 public:
  // Afterwards exactly NewSize entries exist; entries below NewSize keep their values, new
  // ones are zero. Negative sizes count as 0.
  void SetSize(int64_t NewSize);
  void AppendItem(const TORVCompressedStreamBlockHeader& Value, int64_t Position);
  // The number of the last block whose position is <= Pos; 0 when Pos lies before the first
  // entry or the array is empty.
  int32_t FindPosition(int64_t Pos) const;

  int64_t ItemCount() const { return static_cast<int64_t>(Items.size()); }

  std::vector<TORVCompressedStreamBlockHeader> Items;
  std::vector<int64_t> Positions;
};

}  // namespace orv

#pragma once
// Buffer compression of BLOB blocks and internal files: the algorithm ids and names, the
// one-shot dispatch over the compressors and the block checksum.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace orv {

enum TORVCompressionAlgorithm : uint8_t { acaNone = 0, acaZLIB = 1, acaBZIP = 2, acaPPM = 3 };
inline constexpr std::array<std::string_view, 4> ORVCompressionAlgorithmNames = {"NONE", "ZLIB", "BZIP", "PPM"};

enum TORVCompressionLevel : uint8_t { aclNone = 0, aclFastest = 1, aclNormal = 2, aclMaximum = 3 };

// A field's or a cursor's compression setting for BLOBs; one byte each when stored.
struct TORVCompression {
  TORVCompressionAlgorithm CompressionAlgorithm = acaNone;
  uint8_t CompressionMode = 0;  // 0..9
  TORVCompressionLevel CompressionLevel = aclNone;
};

// The algorithm named Name (any letter case); any other name gives acaNone.
TORVCompressionAlgorithm GetCompressionAlgorithm(std::string_view Name);

// Compresses InSize bytes into a new buffer from the process heap (release it with
// std::free). Mode 0..9: the zlib level; the bzip2 block size in 100 000 bytes (0 counts as
// 1, since a stored bzip2 block cannot be marked); the PPM model order and memory. False, with
// OutBuf nil and OutSize 0, for acaNone, an unknown algorithm, InSize 0 and every failure of a
// compressor (PPM data that would not fit in 105 % of the input + 50 bytes); never raises.
bool ORVInternalCompressBuffer(TORVCompressionAlgorithm CompressionAlgorithm, uint8_t CompressionMode,
                               const void* InBuf, int32_t InSize, void*& OutBuf, int32_t& OutSize);

// The inverse. OutSize comes in as the expected uncompressed size (0 when unknown; PPM needs
// it, since its buffers do not hold the size) and goes out as the real one. True when OutSize
// is above 0; never raises.
bool ORVInternalDecompressBuffer(TORVCompressionAlgorithm CompressionAlgorithm, const void* InBuf, int32_t InSize,
                                 void*& OutBuf, int32_t& OutSize);

// The same into the caller's buffer of OutCapacity bytes: for callers that know the exact
// size, so that no buffer is allocated. False when the data does not decompress or does not
// fit; never raises.
bool ORVInternalDecompressBufferInto(TORVCompressionAlgorithm CompressionAlgorithm, const void* InBuf, int32_t InSize,
                                     void* OutBuf, int32_t OutCapacity, int32_t& OutSize);

// The message of the last failed compression or decompression of the calling thread (empty
// after a success or before any failure).
std::string ORVCompressionGetLastError();

// The block checksum: the reflected CRC-32 of IEEE 802.3 (polynomial 0xEDB88320) without
// inversion before or after; the engine starts from 0 and stores the result as returned.
// CRC32(0, "abc") = 0xCA6598D0. A size of 0 returns CRC unchanged.
uint32_t CRC32(uint32_t CRC, const void* Data, uint32_t DataSize);

// How far a decompressor's output may grow: the caller's expected size when it gives one
// (the output may be smaller, never larger), else a cap of kUnknownSizeBlocks of the engine's
// largest BLOB block. Beyond it the decompression fails: a small hostile buffer must not
// inflate to whatever it likes before anyone looks.
inline constexpr int64_t kUnknownSizeBlocks = 4;
int64_t DecompressionLimit(int32_t Expected);
// The first output buffer of a decompression: the expected size itself up to a few of the
// largest blocks (the usual case, one allocation), else Step; the rest is taken as the output
// really grows, so that a size claimed beside the data reserves nothing by itself.
int64_t DecompressionFirstAllocation(int32_t Expected, int64_t Step);

}  // namespace orv

#include "dbengine/storage/orv_compression.h"

#include <zlib.h>

#include <cstdlib>
#include <exception>

#include "dbengine/storage/orv_bzip2.h"
#include "dbengine/storage/orv_zlib.h"

namespace orv {
namespace {

// Per thread, so that concurrent compressions never see each other's failures.
thread_local std::string g_last_error;

void Fail(void*& OutBuf, int32_t& OutSize, std::string message) {
  if (OutBuf) std::free(OutBuf);
  OutBuf = nullptr;
  OutSize = 0;
  g_last_error = std::move(message);
}

const char* kPPMNotAvailable = "PPM compression is not available";

}  // namespace

TORVCompressionAlgorithm GetCompressionAlgorithm(std::string_view Name) {
  for (size_t i = 0; i < ORVCompressionAlgorithmNames.size(); ++i) {
    const auto& n = ORVCompressionAlgorithmNames[i];
    if (n.size() != Name.size()) continue;
    bool same = true;
    for (size_t k = 0; k < n.size() && same; ++k) {
      char c = Name[k];
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
      same = c == n[k];
    }
    if (same) return static_cast<TORVCompressionAlgorithm>(i);
  }
  return acaNone;
}

bool ORVInternalCompressBuffer(TORVCompressionAlgorithm CompressionAlgorithm, uint8_t CompressionMode,
                               const void* InBuf, int32_t InSize, void*& OutBuf, int32_t& OutSize) {
  OutBuf = nullptr;
  OutSize = 0;
  if (CompressionAlgorithm == acaNone || CompressionAlgorithm > acaPPM || InSize <= 0 || !InBuf) return false;
  try {
    switch (CompressionAlgorithm) {
      case acaZLIB:
        ZLIBCompressBuf(InBuf, InSize, OutBuf, OutSize, CompressionMode);
        break;
      case acaBZIP:
        // A stored bzip2 block does not exist; mode 0 compresses like mode 1.
        BZCompressBuf(InBuf, InSize, OutBuf, OutSize, CompressionMode == 0 ? 1 : CompressionMode);
        break;
      default:
        Fail(OutBuf, OutSize, kPPMNotAvailable);
        return false;
    }
  } catch (const std::exception& e) {
    Fail(OutBuf, OutSize, e.what());
    return false;
  } catch (...) {
    Fail(OutBuf, OutSize, "Unknown compression error");
    return false;
  }
  if (OutSize <= 0) {
    Fail(OutBuf, OutSize, "Compressed size is 0");
    return false;
  }
  g_last_error.clear();
  return true;
}

bool ORVInternalDecompressBuffer(TORVCompressionAlgorithm CompressionAlgorithm, const void* InBuf, int32_t InSize,
                                 void*& OutBuf, int32_t& OutSize) {
  const int32_t expected = OutSize;
  OutBuf = nullptr;
  OutSize = 0;
  if (CompressionAlgorithm == acaNone || CompressionAlgorithm > acaPPM || InSize <= 0 || !InBuf) return false;
  try {
    switch (CompressionAlgorithm) {
      case acaZLIB:
        ZLIBDecompressBuf(InBuf, InSize, expected, OutBuf, OutSize);
        if (OutSize <= 0) {
          Fail(OutBuf, OutSize, "Invalid zlib data");
          return false;
        }
        break;
      case acaBZIP:
        BZDecompressBuf(InBuf, InSize, expected, OutBuf, OutSize);
        break;
      default:
        Fail(OutBuf, OutSize, kPPMNotAvailable);
        return false;
    }
  } catch (const std::exception& e) {
    Fail(OutBuf, OutSize, e.what());
    return false;
  } catch (...) {
    Fail(OutBuf, OutSize, "Unknown decompression error");
    return false;
  }
  if (OutSize <= 0) {
    Fail(OutBuf, OutSize, "Decompressed size is 0");
    return false;
  }
  g_last_error.clear();
  return true;
}

std::string ORVCompressionGetLastError() { return g_last_error; }

uint32_t CRC32(uint32_t CRC, const void* Data, uint32_t DataSize) {
  if (DataSize == 0 || !Data) return CRC;
  // zlib inverts before and after; undoing both gives the plain table-driven update.
  return static_cast<uint32_t>(crc32_z(CRC ^ 0xFFFFFFFFu, static_cast<const Bytef*>(Data), DataSize)) ^ 0xFFFFFFFFu;
}

}  // namespace orv

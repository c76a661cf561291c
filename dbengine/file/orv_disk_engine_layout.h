#pragma once
// The preamble of a database file: file header, crypto header, locked-byte area and the last
// object id, followed by the pages. Each record is read and written field by field in
// little-endian order at the offsets below.
#include <array>
#include <cstdint>

#include "dbengine/storage/orv_const.h"

namespace orv {

inline constexpr char ORVDatabaseSignature[] = "ORVETA00DATABASE";
inline constexpr int32_t ORVDatabaseSignatureSize = 16;
inline constexpr double ORVDatabaseVersion = 7.9;
// Files of an older format must be converted before use.
inline constexpr double ORVMinimumDatabaseVersion = 2.99;
// Smallest page the engine accepts: below it a PFS page would address almost nothing and the
// page header would leave no room for records.
inline constexpr int32_t ORVMinimumPageSize = 512;

// File header (76 bytes).
struct TORVDBHeader {
  static constexpr int32_t StoredSize = 76;

  std::array<uint8_t, 16> Signature{};
  int16_t HeaderSize = StoredSize;
  double Version = ORVDatabaseVersion;
  uint16_t PageSize = 0;
  uint16_t PageCountInExtent = 0;
  int32_t TotalPageCount = 0;
  int32_t LastUsedPageNo = -1;
  int32_t State = 0;
  uint8_t WriteChangesState = WriteChangesFinished;
  uint8_t Encrypted = 0;
  std::array<uint8_t, 32> Reserved{};

  // A header as a new file carries it: signature, version, no pages.
  static TORVDBHeader NewFile();
  void WriteTo(uint8_t* p) const;
  static TORVDBHeader ReadFrom(const uint8_t* p);
};

namespace db_header {
inline constexpr int32_t State = 38;  // where the commit counter lies in the stored header
inline constexpr int32_t WriteChangesState = 42;
}  // namespace db_header

// Crypto header (280 bytes).
struct TORVCryptoHeader {
  static constexpr int32_t StoredSize = 280;

  int16_t CryptoHeaderSize = StoredSize;
  uint8_t CryptoAlgorithm = 0;
  uint8_t CryptoMode = 0;
  std::array<uint8_t, ORV_CONTROL_BLOCK_SIZE> ControlBlock{};
  uint32_t ControlBlockCRC = 0;
  std::array<uint8_t, 16> Reserverd{};

  void WriteTo(uint8_t* p) const;
  static TORVCryptoHeader ReadFrom(const uint8_t* p);
};

// Locked-byte area (20 bytes): bytes that exist to be locked.
struct TORVLockedBytes {
  static constexpr int32_t StoredSize = 20;

  int16_t LockedByteSize = StoredSize;
  uint8_t FSMByte = 0;
  uint8_t TablesByte = 0;
  uint8_t DBHeaderByte = 0;
  std::array<uint8_t, 15> Reserved{};

  void WriteTo(uint8_t* p) const;
  static TORVLockedBytes ReadFrom(const uint8_t* p);
};

// Offsets of a file written by the engine (base offset 0).
inline constexpr int64_t ORVOffsetToCryptoHeader = TORVDBHeader::StoredSize;                                   // 76
inline constexpr int64_t ORVOffsetToLockedBytes = ORVOffsetToCryptoHeader + TORVCryptoHeader::StoredSize;     // 356
inline constexpr int64_t ORVOffsetToLastObjectID = ORVOffsetToLockedBytes + TORVLockedBytes::StoredSize;      // 376
inline constexpr int64_t ORVOffsetToFirstPage = ORVOffsetToLastObjectID + 4;                                  // 380

}  // namespace orv

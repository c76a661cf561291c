#pragma once
// The preamble of a database file: file header, crypto header, locked-byte area and the last
// object id, followed by the pages. Each record is read and written field by field in
// little-endian order at the offsets below.
#include <array>
#include <cstdint>
#include <string>

#include "dbengine/storage/orv_compression.h"
#include "dbengine/storage/orv_const.h"
#include "dbengine/storage/orv_types.h"

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

// The 40-byte header at the start of every page (the field offsets are page_header:: of the
// page cache).
struct TORVDiskPageHeader {
  static constexpr int32_t StoredSize = 40;

  std::array<uint8_t, 4> Signature{{'O', 'R', 'V', 'P'}};
  int32_t State = 0;
  uint16_t PageType = 0;
  int32_t NextPageNo = -1;
  uint32_t CRC32 = 0;
  uint8_t CRCType = 0;
  uint8_t HashType = 0;
  uint8_t Cipherype = 0;
  uint8_t MACType = 0;
  int32_t ObjectID = -1;
  TORVPageItemID RecordID;
  std::array<uint8_t, 8> Reserved{};

  void WriteTo(uint8_t* p) const;
  static TORVDiskPageHeader ReadFrom(const uint8_t* p);
};

// The 10 bytes at the start of the data of an internal file's first page.
struct TORVInternalFileHeader {
  static constexpr int32_t StoredSize = 10;

  uint8_t FileHeaderSize = StoredSize;
  int32_t FileSize = 0;          // content bytes stored in the chain (after compression)
  int32_t DecompressedSize = 0;  // content size before compression
  TORVCompressionAlgorithm CompressionAlgorithm = acaNone;

  void WriteTo(uint8_t* p) const;
  static TORVInternalFileHeader ReadFrom(const uint8_t* p);
};

// One entry of the system directory (5 bytes): where an internal file of the database begins.
struct TORVSystemDirectoryListItem {
  static constexpr int32_t StoredSize = 5;

  TORVDBFileType FileID = dbftUnknown;
  int32_t FirstPageNo = -1;

  void WriteTo(uint8_t* p) const;
  static TORVSystemDirectoryListItem ReadFrom(const uint8_t* p);
};

// One entry of the table list (272 bytes): a table's name (a length byte and up to 255
// Windows-1252 characters in 256 bytes), its object id and the first pages of its three
// internal files.
struct TORVTableListItem {
  static constexpr int32_t StoredSize = 272;

  std::string TableName;
  int32_t TableID = -1;
  int32_t MetaDataFilePageNo = -1;
  int32_t MostUpdatedFilePageNo = -1;
  int32_t LocksFilePageNo = -1;

  void WriteTo(uint8_t* p) const;
  static TORVTableListItem ReadFrom(const uint8_t* p);
};

// Offsets of a file written by the engine (base offset 0).
inline constexpr int64_t ORVOffsetToCryptoHeader = TORVDBHeader::StoredSize;                                   // 76
inline constexpr int64_t ORVOffsetToLockedBytes = ORVOffsetToCryptoHeader + TORVCryptoHeader::StoredSize;     // 356
inline constexpr int64_t ORVOffsetToLastObjectID = ORVOffsetToLockedBytes + TORVLockedBytes::StoredSize;      // 376
inline constexpr int64_t ORVOffsetToFirstPage = ORVOffsetToLastObjectID + 4;                                  // 380

}  // namespace orv

#include "dbengine/file/orv_disk_engine_layout.h"

#include <algorithm>
#include <cstring>

#include "dbengine/storage/orv_page.h"
#include "dbengine/storage/orv_types.h"

namespace orv {

namespace {

void StoreDouble(uint8_t* p, double v) {
  uint64_t bits = 0;
  std::memcpy(&bits, &v, sizeof bits);
  StoreLE64(p, bits);
}

double LoadDouble(const uint8_t* p) {
  const uint64_t bits = LoadLE64(p);
  double v = 0;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

}  // namespace

TORVDBHeader TORVDBHeader::NewFile() {
  TORVDBHeader h;
  std::copy_n(ORVDatabaseSignature, ORVDatabaseSignatureSize, h.Signature.begin());
  return h;
}

void TORVDBHeader::WriteTo(uint8_t* p) const {
  std::copy(Signature.begin(), Signature.end(), p);
  StoreLE16(p + 16, static_cast<uint16_t>(HeaderSize));
  StoreDouble(p + 18, Version);
  StoreLE16(p + 26, PageSize);
  StoreLE16(p + 28, PageCountInExtent);
  StoreLE32(p + 30, static_cast<uint32_t>(TotalPageCount));
  StoreLE32(p + 34, static_cast<uint32_t>(LastUsedPageNo));
  StoreLE32(p + db_header::State, static_cast<uint32_t>(State));
  p[db_header::WriteChangesState] = WriteChangesState;
  p[43] = Encrypted;
  std::copy(Reserved.begin(), Reserved.end(), p + 44);
}

TORVDBHeader TORVDBHeader::ReadFrom(const uint8_t* p) {
  TORVDBHeader h;
  std::copy_n(p, 16, h.Signature.begin());
  h.HeaderSize = static_cast<int16_t>(LoadLE16(p + 16));
  h.Version = LoadDouble(p + 18);
  h.PageSize = LoadLE16(p + 26);
  h.PageCountInExtent = LoadLE16(p + 28);
  h.TotalPageCount = static_cast<int32_t>(LoadLE32(p + 30));
  h.LastUsedPageNo = static_cast<int32_t>(LoadLE32(p + 34));
  h.State = static_cast<int32_t>(LoadLE32(p + db_header::State));
  h.WriteChangesState = p[db_header::WriteChangesState];
  h.Encrypted = p[43];
  std::copy_n(p + 44, 32, h.Reserved.begin());
  return h;
}

void TORVCryptoHeader::WriteTo(uint8_t* p) const {
  StoreLE16(p, static_cast<uint16_t>(CryptoHeaderSize));
  p[2] = CryptoAlgorithm;
  p[3] = CryptoMode;
  std::copy(ControlBlock.begin(), ControlBlock.end(), p + 4);
  StoreLE32(p + 260, ControlBlockCRC);
  std::copy(Reserverd.begin(), Reserverd.end(), p + 264);
}

TORVCryptoHeader TORVCryptoHeader::ReadFrom(const uint8_t* p) {
  TORVCryptoHeader h;
  h.CryptoHeaderSize = static_cast<int16_t>(LoadLE16(p));
  h.CryptoAlgorithm = p[2];
  h.CryptoMode = p[3];
  std::copy_n(p + 4, ORV_CONTROL_BLOCK_SIZE, h.ControlBlock.begin());
  h.ControlBlockCRC = LoadLE32(p + 260);
  std::copy_n(p + 264, 16, h.Reserverd.begin());
  return h;
}

void TORVLockedBytes::WriteTo(uint8_t* p) const {
  StoreLE16(p, static_cast<uint16_t>(LockedByteSize));
  p[2] = FSMByte;
  p[3] = TablesByte;
  p[4] = DBHeaderByte;
  std::copy(Reserved.begin(), Reserved.end(), p + 5);
}

TORVLockedBytes TORVLockedBytes::ReadFrom(const uint8_t* p) {
  TORVLockedBytes b;
  b.LockedByteSize = static_cast<int16_t>(LoadLE16(p));
  b.FSMByte = p[2];
  b.TablesByte = p[3];
  b.DBHeaderByte = p[4];
  std::copy_n(p + 5, 15, b.Reserved.begin());
  return b;
}

void TORVDiskPageHeader::WriteTo(uint8_t* p) const {
  std::copy(Signature.begin(), Signature.end(), p + page_header::Signature);
  StoreLE32(p + page_header::State, static_cast<uint32_t>(State));
  StoreLE16(p + page_header::PageType, PageType);
  StoreLE32(p + page_header::NextPageNo, static_cast<uint32_t>(NextPageNo));
  StoreLE32(p + page_header::CRC32, CRC32);
  p[page_header::CRCType] = CRCType;
  p[page_header::HashType] = HashType;
  p[page_header::CipherType] = Cipherype;
  p[page_header::MACType] = MACType;
  StoreLE32(p + page_header::ObjectID, static_cast<uint32_t>(ObjectID));
  RecordID.WriteTo(p + page_header::RecordID);
  std::copy(Reserved.begin(), Reserved.end(), p + page_header::Reserved);
}

TORVDiskPageHeader TORVDiskPageHeader::ReadFrom(const uint8_t* p) {
  TORVDiskPageHeader h;
  std::copy_n(p + page_header::Signature, 4, h.Signature.begin());
  h.State = static_cast<int32_t>(LoadLE32(p + page_header::State));
  h.PageType = LoadLE16(p + page_header::PageType);
  h.NextPageNo = static_cast<int32_t>(LoadLE32(p + page_header::NextPageNo));
  h.CRC32 = LoadLE32(p + page_header::CRC32);
  h.CRCType = p[page_header::CRCType];
  h.HashType = p[page_header::HashType];
  h.Cipherype = p[page_header::CipherType];
  h.MACType = p[page_header::MACType];
  h.ObjectID = static_cast<int32_t>(LoadLE32(p + page_header::ObjectID));
  h.RecordID = TORVPageItemID::ReadFrom(p + page_header::RecordID);
  std::copy_n(p + page_header::Reserved, 8, h.Reserved.begin());
  return h;
}

void TORVInternalFileHeader::WriteTo(uint8_t* p) const {
  p[0] = FileHeaderSize;
  StoreLE32(p + 1, static_cast<uint32_t>(FileSize));
  StoreLE32(p + 5, static_cast<uint32_t>(DecompressedSize));
  p[9] = CompressionAlgorithm;
}

TORVInternalFileHeader TORVInternalFileHeader::ReadFrom(const uint8_t* p) {
  TORVInternalFileHeader h;
  h.FileHeaderSize = p[0];
  h.FileSize = static_cast<int32_t>(LoadLE32(p + 1));
  h.DecompressedSize = static_cast<int32_t>(LoadLE32(p + 5));
  h.CompressionAlgorithm = static_cast<TORVCompressionAlgorithm>(p[9]);
  return h;
}

void TORVSystemDirectoryListItem::WriteTo(uint8_t* p) const {
  p[0] = FileID;
  StoreLE32(p + 1, static_cast<uint32_t>(FirstPageNo));
}

TORVSystemDirectoryListItem TORVSystemDirectoryListItem::ReadFrom(const uint8_t* p) {
  TORVSystemDirectoryListItem item;
  item.FileID = static_cast<TORVDBFileType>(p[0]);
  item.FirstPageNo = static_cast<int32_t>(LoadLE32(p + 1));
  return item;
}

void TORVTableListItem::WriteTo(uint8_t* p) const {
  std::fill(p, p + 256, 0);
  const size_t length = std::min<size_t>(TableName.size(), MAX_NAME_LENGTH);
  p[0] = static_cast<uint8_t>(length);
  std::copy_n(TableName.begin(), length, p + 1);
  StoreLE32(p + 256, static_cast<uint32_t>(TableID));
  StoreLE32(p + 260, static_cast<uint32_t>(MetaDataFilePageNo));
  StoreLE32(p + 264, static_cast<uint32_t>(MostUpdatedFilePageNo));
  StoreLE32(p + 268, static_cast<uint32_t>(LocksFilePageNo));
}

TORVTableListItem TORVTableListItem::ReadFrom(const uint8_t* p) {
  TORVTableListItem item;
  item.TableName.assign(reinterpret_cast<const char*>(p + 1), p[0]);
  item.TableID = static_cast<int32_t>(LoadLE32(p + 256));
  item.MetaDataFilePageNo = static_cast<int32_t>(LoadLE32(p + 260));
  item.MostUpdatedFilePageNo = static_cast<int32_t>(LoadLE32(p + 264));
  item.LocksFilePageNo = static_cast<int32_t>(LoadLE32(p + 268));
  return item;
}

}  // namespace orv

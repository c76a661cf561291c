#include "platform/xls/compound_file.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <numeric>

#include "platform/base/byte_order.h"

namespace platform::xls {
namespace {

constexpr uint32_t kSectorSize = 512;
constexpr uint32_t kMiniSectorSize = 64;
constexpr uint32_t kEntriesPerSector = kSectorSize / 4;  // FAT, mini FAT and DIFAT entries
constexpr uint32_t kDirEntrySize = 128;
constexpr uint32_t kHeaderDifatSlots = 109;

constexpr uint32_t kFreeSect = 0xFFFFFFFF;
constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kFatSect = 0xFFFFFFFD;
constexpr uint32_t kDifSect = 0xFFFFFFFC;
constexpr uint32_t kNoStream = 0xFFFFFFFF;

constexpr uint8_t kTypeStream = 2;
constexpr uint8_t kTypeRoot = 5;
constexpr uint8_t kRed = 0;
constexpr uint8_t kBlack = 1;

uint32_t CeilDiv(uint64_t n, uint32_t d) { return static_cast<uint32_t>((n + d - 1) / d); }

char16_t UpperUnit(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 32);
  // Latin-1 letters; ÷ (F7) and ÿ (FF, whose capital is outside the range) stay.
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 32);
  return c;
}

// Marks `count` sectors from `first` as one chain in `table`.
void Chain(std::vector<uint32_t>& table, uint32_t first, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) table[first + i] = i + 1 < count ? first + i + 1 : kEndOfChain;
}

struct DirEntry {
  std::u16string name;
  uint8_t type = kTypeStream;
  uint8_t color = kBlack;
  uint32_t left = kNoStream, right = kNoStream, child = kNoStream;
  uint32_t start = kEndOfChain;
  uint32_t size = 0;
};

void PutDirEntry(uint8_t* p, const DirEntry& e) {
  for (size_t i = 0; i < e.name.size(); ++i) StoreLE16(p + 2 * i, e.name[i]);
  StoreLE16(p + 64, static_cast<uint16_t>((e.name.size() + 1) * 2));  // bytes, terminator included
  p[66] = e.type;
  p[67] = e.color;
  StoreLE32(p + 68, e.left);
  StoreLE32(p + 72, e.right);
  StoreLE32(p + 76, e.child);
  // CLSID, state bits and the two time stamps stay zero.
  StoreLE32(p + 116, e.start);
  StoreLE32(p + 120, e.size);  // the high half stays zero in version 3
}

// Links entries [first, first + count) of `order` (sorted by name) into a balanced tree and
// returns the id of its root. The tree is built by halving, so every level but the last is
// full; colouring the nodes of a partial last level red and all others black gives every path
// the same number of black nodes, as the container's red-black rule wants.
uint32_t LinkTree(std::vector<DirEntry>& entries, const std::vector<uint32_t>& order, size_t first, size_t count,
                  int depth, int red_depth) {
  if (count == 0) return kNoStream;
  const size_t left_count = (count - 1) / 2;
  const uint32_t id = order[first + left_count];
  DirEntry& e = entries[id];
  e.color = depth == red_depth ? kRed : kBlack;
  e.left = LinkTree(entries, order, first, left_count, depth + 1, red_depth);
  e.right = LinkTree(entries, order, first + left_count + 1, count - left_count - 1, depth + 1, red_depth);
  return id;
}

}  // namespace

int CompareDirectoryNames(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  for (size_t i = 0; i < a.size(); ++i) {
    const char16_t x = UpperUnit(a[i]), y = UpperUnit(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

void TCompoundFileWriter::AddStream(const std::u16string& name, std::vector<uint8_t> data) {
  if (name.empty() || name.size() > 31)
    throw ECompoundFileError("Stream name must have 1 to 31 characters");
  if (name.find_first_of(u"/\\:!") != std::u16string::npos)
    throw ECompoundFileError("Stream name must not contain / \\ : or !");
  for (const Stream& s : streams_)
    if (CompareDirectoryNames(s.name, name) == 0) throw ECompoundFileError("Duplicate stream name");
  if (data.size() > kMaxStreamSize) throw ECompoundFileError("Stream too large for a compound file");
  streams_.push_back({name, std::move(data)});
}

void TCompoundFileWriter::WriteTo(const TByteSink& sink) const {
  const size_t n = streams_.size();

  // ---- where each stream goes
  std::vector<uint32_t> big_start(n, kEndOfChain), mini_start(n, kEndOfChain);
  uint32_t big_sectors = 0, mini_sectors = 0;
  for (size_t i = 0; i < n; ++i) {
    const uint64_t size = streams_[i].data.size();
    if (size == 0) continue;
    if (size >= kMiniStreamCutoff) {
      big_start[i] = big_sectors;
      big_sectors += CeilDiv(size, kSectorSize);
    } else {
      mini_start[i] = mini_sectors;
      mini_sectors += CeilDiv(size, kMiniSectorSize);
    }
  }
  const uint64_t mini_container_size = static_cast<uint64_t>(mini_sectors) * kMiniSectorSize;
  const uint32_t mini_container_sectors = CeilDiv(mini_container_size, kSectorSize);
  const uint32_t dir_sectors = CeilDiv((n + 1) * kDirEntrySize, kSectorSize);
  const uint32_t minifat_sectors = CeilDiv(mini_sectors, kEntriesPerSector);

  const uint32_t mini_container_first = big_sectors;
  const uint32_t dir_first = mini_container_first + mini_container_sectors;
  const uint32_t minifat_first = dir_first + dir_sectors;
  const uint32_t fat_first = minifat_first + minifat_sectors;
  const uint64_t content_sectors = fat_first;

  // The FAT must also describe its own sectors and the DIFAT's: grow both until they fit.
  uint32_t fat_sectors = 0, difat_sectors = 0;
  for (;;) {
    const uint64_t total = content_sectors + fat_sectors + difat_sectors;
    const uint32_t need_fat = CeilDiv(total, kEntriesPerSector);
    const uint32_t need_difat =
        need_fat > kHeaderDifatSlots ? CeilDiv(need_fat - kHeaderDifatSlots, kEntriesPerSector - 1) : 0;
    if (need_fat == fat_sectors && need_difat == difat_sectors) break;
    fat_sectors = need_fat;
    difat_sectors = need_difat;
  }
  const uint32_t difat_first = fat_first + fat_sectors;
  const uint64_t total_sectors = static_cast<uint64_t>(difat_first) + difat_sectors;
  if (total_sectors >= 0xFFFFFFF0u) throw ECompoundFileError("Compound file too large");

  // ---- the FAT and the mini FAT
  std::vector<uint32_t> fat(static_cast<size_t>(fat_sectors) * kEntriesPerSector, kFreeSect);
  for (size_t i = 0; i < n; ++i)
    if (big_start[i] != kEndOfChain) Chain(fat, big_start[i], CeilDiv(streams_[i].data.size(), kSectorSize));
  Chain(fat, mini_container_first, mini_container_sectors);
  Chain(fat, dir_first, dir_sectors);
  Chain(fat, minifat_first, minifat_sectors);
  for (uint32_t i = 0; i < fat_sectors; ++i) fat[fat_first + i] = kFatSect;
  for (uint32_t i = 0; i < difat_sectors; ++i) fat[difat_first + i] = kDifSect;

  std::vector<uint32_t> minifat(static_cast<size_t>(minifat_sectors) * kEntriesPerSector, kFreeSect);
  for (size_t i = 0; i < n; ++i)
    if (mini_start[i] != kEndOfChain) Chain(minifat, mini_start[i], CeilDiv(streams_[i].data.size(), kMiniSectorSize));

  // ---- the directory: the root entry, then the streams in the order they were added
  std::vector<DirEntry> entries(n + 1);
  entries[0].name = u"Root Entry";
  entries[0].type = kTypeRoot;
  entries[0].start = mini_container_sectors > 0 ? mini_container_first : kEndOfChain;
  entries[0].size = static_cast<uint32_t>(mini_container_size);
  for (size_t i = 0; i < n; ++i) {
    DirEntry& e = entries[i + 1];
    e.name = streams_[i].name;
    e.size = static_cast<uint32_t>(streams_[i].data.size());
    e.start = big_start[i] != kEndOfChain ? big_start[i] : mini_start[i];
  }
  if (n > 0) {
    std::vector<uint32_t> order(n);
    std::iota(order.begin(), order.end(), 1u);
    std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
      return CompareDirectoryNames(entries[a].name, entries[b].name) < 0;
    });
    int height = 0;
    while ((size_t{1} << height) - 1 < n) ++height;
    const bool perfect = (size_t{1} << height) - 1 == n;
    entries[0].child = LinkTree(entries, order, 0, n, 0, perfect ? -1 : height - 1);
  }

  // ---- the bytes: the header, the big streams straight from their buffers, then one block
  // with everything from the mini stream container on.
  uint8_t h[kSectorSize] = {};
  static constexpr uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  std::memcpy(h, kSignature, sizeof kSignature);
  StoreLE16(h + 24, 0x003E);  // minor version
  StoreLE16(h + 26, 0x0003);  // major version 3: 512-byte sectors
  StoreLE16(h + 28, 0xFFFE);  // little-endian
  StoreLE16(h + 30, 9);       // sector shift
  StoreLE16(h + 32, 6);       // mini sector shift
  StoreLE32(h + 40, 0);       // directory sector count: always 0 in version 3
  StoreLE32(h + 44, fat_sectors);
  StoreLE32(h + 48, dir_first);
  StoreLE32(h + 56, kMiniStreamCutoff);
  StoreLE32(h + 60, minifat_sectors > 0 ? minifat_first : kEndOfChain);
  StoreLE32(h + 64, minifat_sectors);
  StoreLE32(h + 68, difat_sectors > 0 ? difat_first : kEndOfChain);
  StoreLE32(h + 72, difat_sectors);
  for (uint32_t i = 0; i < kHeaderDifatSlots; ++i)
    StoreLE32(h + 76 + 4 * i, i < fat_sectors ? fat_first + i : kFreeSect);
  sink(h, kSectorSize);

  static constexpr uint8_t kZeros[kSectorSize] = {};
  for (size_t i = 0; i < n; ++i) {  // big streams were placed in this order
    if (big_start[i] == kEndOfChain) continue;
    const std::vector<uint8_t>& d = streams_[i].data;
    sink(d.data(), d.size());
    if (d.size() % kSectorSize != 0) sink(kZeros, kSectorSize - d.size() % kSectorSize);
  }

  std::vector<uint8_t> tail(static_cast<size_t>(kSectorSize) * (total_sectors - mini_container_first), 0);
  auto sector = [&](uint64_t s) { return tail.data() + kSectorSize * (s - mini_container_first); };
  for (size_t i = 0; i < n; ++i) {
    if (mini_start[i] == kEndOfChain) continue;
    const std::vector<uint8_t>& d = streams_[i].data;
    std::memcpy(sector(mini_container_first) + static_cast<size_t>(mini_start[i]) * kMiniSectorSize, d.data(),
                d.size());
  }
  for (size_t i = 0; i < entries.size(); ++i) PutDirEntry(sector(dir_first) + i * kDirEntrySize, entries[i]);
  // Unused entries of the last directory sector: empty, linked to nothing.
  for (size_t i = n + 1; i < static_cast<size_t>(dir_sectors) * (kSectorSize / kDirEntrySize); ++i) {
    uint8_t* p = sector(dir_first) + i * kDirEntrySize;
    StoreLE32(p + 68, kNoStream);
    StoreLE32(p + 72, kNoStream);
    StoreLE32(p + 76, kNoStream);
  }
  for (size_t i = 0; i < minifat.size(); ++i) StoreLE32(sector(minifat_first) + 4 * i, minifat[i]);
  for (size_t i = 0; i < fat.size(); ++i) StoreLE32(sector(fat_first) + 4 * i, fat[i]);
  // DIFAT sectors: 127 further FAT sector numbers each, then the next DIFAT sector.
  for (uint32_t d = 0; d < difat_sectors; ++d) {
    uint8_t* p = sector(difat_first + d);
    for (uint32_t k = 0; k < kEntriesPerSector - 1; ++k) {
      const uint64_t fat_index = kHeaderDifatSlots + static_cast<uint64_t>(d) * (kEntriesPerSector - 1) + k;
      StoreLE32(p + 4 * k, fat_index < fat_sectors ? fat_first + static_cast<uint32_t>(fat_index) : kFreeSect);
    }
    StoreLE32(p + 4 * (kEntriesPerSector - 1), d + 1 < difat_sectors ? difat_first + d + 1 : kEndOfChain);
  }
  sink(tail.data(), tail.size());
}

std::vector<uint8_t> TCompoundFileWriter::Build() const {
  size_t data = 0;
  for (const Stream& st : streams_) data += st.data.size();
  std::vector<uint8_t> out;
  out.reserve(data + data / 64 + 4096);
  WriteTo([&](const uint8_t* p, size_t size) { out.insert(out.end(), p, p + size); });
  return out;
}

}  // namespace platform::xls

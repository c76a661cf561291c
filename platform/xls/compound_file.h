#pragma once
// The structured-storage container that .xls workbooks live in (the OLE2 compound file,
// version 3: 512-byte sectors, 64-byte mini sectors below 4096 bytes). It writes a root
// storage holding one or more streams; nothing here reads such files back.
//
// File layout as written: the 512-byte header, then the big streams' sectors, the mini
// stream container, the directory, the mini FAT, the FAT and, when the FAT outgrows the 109
// slots of the header, the DIFAT chain. Every chain is contiguous, so the FAT is a list of
// consecutive runs.
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform::xls {

class ECompoundFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

using TByteSink = std::function<void(const uint8_t* data, size_t size)>;

class TCompoundFileWriter {
 public:
  // Streams below this size go into the mini stream.
  static constexpr uint32_t kMiniStreamCutoff = 4096;
  // Version 3 files keep stream sizes in 32 bits; anything near that is no workbook.
  static constexpr uint64_t kMaxStreamSize = 0x7FFFFFFFu;

  // Adds a stream to the root storage. Names are 1 to 31 UTF-16 units, none of / \ : !,
  // unique without regard to case (the container compares them upper-cased).
  void AddStream(const std::u16string& name, std::vector<uint8_t> data);

  // The whole file, handed to the sink piece by piece in file order (the streams' own
  // buffers are passed on, not copied).
  void WriteTo(const TByteSink& sink) const;
  std::vector<uint8_t> Build() const;

 private:
  struct Stream {
    std::u16string name;
    std::vector<uint8_t> data;
  };
  std::vector<Stream> streams_;
};

// The order of names in a storage's directory tree: shorter first, then by upper-cased UTF-16
// units (the container's own rule; readers search the tree by it).
int CompareDirectoryNames(const std::u16string& a, const std::u16string& b);

}  // namespace platform::xls

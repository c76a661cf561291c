#include "platform/image/image_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/image/image_error.h"

namespace platform {

namespace {

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

std::string ErrorText(int err) { return std::strerror(err); }

}  // namespace

std::vector<uint8_t> ReadImageFile(const std::string& fileName) {
  using Kind = EImageError::Kind;
  FilePtr f(std::fopen(fileName.c_str(), "rb"));
  if (!f) {
    const int err = errno;
    const Kind kind = (err == ENOENT || err == ENOTDIR) ? Kind::NotFound : Kind::ReadFailed;
    throw EImageError(kind, "cannot open: " + ErrorText(err), fileName);
  }
  struct stat st {};
  if (fstat(fileno(f.get()), &st) != 0) {
    throw EImageError(Kind::ReadFailed, "cannot examine: " + ErrorText(errno), fileName);
  }
  if (!S_ISREG(st.st_mode)) throw EImageError(Kind::ReadFailed, "not a regular file", fileName);
  if (static_cast<uint64_t>(st.st_size) > kMaxImageFileBytes) {
    throw EImageError(Kind::Unsupported, "file too large", fileName);
  }
  std::vector<uint8_t> data(static_cast<size_t>(st.st_size));
  const size_t got = std::fread(data.data(), 1, data.size(), f.get());
  if (got != data.size()) {
    if (std::ferror(f.get())) throw EImageError(Kind::ReadFailed, "read error", fileName);
    data.resize(got);  // the file shrank while we read it: the decoder will find it short
  }
  return data;
}

void WriteImageFile(const std::string& fileName, std::span<const uint8_t> data) {
  FilePtr f(std::fopen(fileName.c_str(), "wb"));
  if (!f) {
    throw EImageError(EImageError::Kind::WriteFailed, "cannot create: " + ErrorText(errno), fileName);
  }
  struct stat st {};
  const bool regular = fstat(fileno(f.get()), &st) == 0 && S_ISREG(st.st_mode);
  auto fail = [&](const char* step, int err) {
    f.reset();
    if (regular) std::remove(fileName.c_str());
    throw EImageError(EImageError::Kind::WriteFailed, std::string(step) + ": " + ErrorText(err), fileName);
  };
  if (!data.empty() && std::fwrite(data.data(), 1, data.size(), f.get()) != data.size()) fail("write error", errno);
  if (std::fflush(f.get()) != 0) fail("write error", errno);
  if (regular && fsync(fileno(f.get())) != 0) fail("cannot flush to disk", errno);
  if (std::fclose(f.release()) != 0) fail("cannot close", errno);
}

Bitmap LoadImageFile(const std::string& fileName, Bitmap (*decode)(std::span<const uint8_t>)) {
  const std::vector<uint8_t> data = ReadImageFile(fileName);
  try {
    return decode(data);
  } catch (const EImageError& e) {
    throw e.WithFile(fileName);
  }
}

void SaveImageFile(const std::string& fileName, const std::function<std::vector<uint8_t>()>& encode) {
  std::vector<uint8_t> data;
  try {
    data = encode();
  } catch (const EImageError& e) {
    throw e.WithFile(fileName);
  }
  WriteImageFile(fileName, data);
}

}  // namespace platform

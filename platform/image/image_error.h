#pragma once
// The exception of the image files: every load or save that fails throws it, with what
// went wrong and the file it went wrong with.
#include <stdexcept>
#include <string>

namespace platform {

class EImageError : public std::runtime_error {
 public:
  enum class Kind {
    NotFound,     // the file does not exist
    ReadFailed,   // it exists but cannot be read (a folder, no permission, an I/O error)
    Truncated,    // the file ends before its data does
    Corrupt,      // not a file of the format, or its contents contradict themselves
    Unsupported,  // a valid file of a variant or size we do not read, or a bitmap we cannot write
    WriteFailed,  // the file could not be written completely; nothing of it is left behind
  };

  EImageError(Kind kind, const std::string& reason, const std::string& fileName = {});

  Kind kind() const { return kind_; }
  const std::string& reason() const { return reason_; }
  const std::string& fileName() const { return fileName_; }

  // The same error, now naming the file it happened with.
  EImageError WithFile(const std::string& fileName) const { return EImageError(kind_, reason_, fileName); }

 private:
  Kind kind_;
  std::string reason_;
  std::string fileName_;
};

const char* ToString(EImageError::Kind kind);

}  // namespace platform

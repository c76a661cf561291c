#include "platform/image/image_error.h"

namespace platform {

namespace {

std::string Compose(const std::string& reason, const std::string& fileName) {
  if (fileName.empty()) return reason;
  return "image file \"" + fileName + "\": " + reason;
}

}  // namespace

EImageError::EImageError(Kind kind, const std::string& reason, const std::string& fileName)
    : std::runtime_error(Compose(reason, fileName)), kind_(kind), reason_(reason), fileName_(fileName) {}

const char* ToString(EImageError::Kind kind) {
  switch (kind) {
    case EImageError::Kind::NotFound: return "NotFound";
    case EImageError::Kind::ReadFailed: return "ReadFailed";
    case EImageError::Kind::Truncated: return "Truncated";
    case EImageError::Kind::Corrupt: return "Corrupt";
    case EImageError::Kind::Unsupported: return "Unsupported";
    case EImageError::Kind::WriteFailed: return "WriteFailed";
  }
  return "?";
}

}  // namespace platform

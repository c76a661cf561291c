#include "dbengine/storage/orv_ppm.h"

namespace orv {
namespace {
std::mutex& FCSect() {
  static std::mutex m;
  return m;
}
}  // namespace

void LockForPPMCompression() { FCSect().lock(); }
void UnlockForPPMCompression() { FCSect().unlock(); }

}  // namespace orv

// The stored field, index and constraint definitions of a table. The first byte chooses the
// kind, the rest is the stream. What loads must save, and load and save again to the same bytes.
#include <memory>

#include "dbengine/storage/orv_base_defs.h"
#include "dbengine/storage/orv_except.h"
#include "fuzz/fuzz_support.h"
#include "platform/base/stream.h"

namespace {

std::unique_ptr<orv::TORVMetaObjectDefs> Make(uint8_t kind) {
  switch (kind % 3) {
    case 0: return std::make_unique<orv::TORVFieldDefs>();
    case 1: return std::make_unique<orv::TORVIndexDefs>();
    default: return std::make_unique<orv::TORVConstraintDefs>();
  }
}

std::vector<uint8_t> Saved(const orv::TORVMetaObjectDefs& defs) {
  platform::TMemoryStream s;
  defs.SaveToStream(s);
  return s.Bytes();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input input(data, size);
  const uint8_t kind = input.U8();
  const auto rest = input.Rest();
  auto defs = Make(kind);
  platform::TMemoryStream s(std::vector<uint8_t>(rest.begin(), rest.end()));
  try {
    defs->LoadFromStream(s);
  } catch (const orv::EORVException&) {
    return 0;
  } catch (const platform::EStreamError&) {
    return 0;
  }
  const std::vector<uint8_t> first = Saved(*defs);
  auto again = Make(kind);
  platform::TMemoryStream s2(first);
  again->LoadFromStream(s2);
  FUZZ_CHECK(Saved(*again) == first);
  return 0;
}

#include "dbengine/storage/orv_base_index.h"

namespace orv {

bool GetKeyFieldInfo(const TORVFieldDefs& FieldDefs, std::string_view FieldName, TORVKeyFieldInfo& Info) {
  const int32_t no = FieldDefs.GetDefNumberByName(FieldName);
  if (no < 0) return false;
  const TORVFieldDef* f = FieldDefs.GetDef(no);
  Info.BaseFieldType = f->BaseFieldType;
  Info.MemoryDataSize = f->MemoryDataSize;
  Info.MemoryOffset = f->MemoryOffset;
  Info.FieldNo = no;
  return true;
}

void TORVIndex::HoldCopy(const TORVIndexDef& aIndexDef) {
  auto copy = std::make_unique<TORVIndexDef>();
  copy->Assign(aIndexDef);
  FIndexDef = std::move(copy);
}

void TORVIndex::CreateIndex(IORVIndexCursor*, TORVIndexDef& aIndexDef) {
  if (FIndexDef.get() != &aIndexDef) HoldCopy(aIndexDef);
}

void TORVIndex::OpenIndex(const TORVIndexDef& aIndexDef) {
  if (FIndexDef.get() != &aIndexDef) HoldCopy(aIndexDef);
}

}  // namespace orv

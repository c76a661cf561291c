#include "dbengine/storage/orv_base_defs.h"

#include <stdexcept>

#include "dbengine/storage/orv_compression_streams.h"
#include "dbengine/storage/orv_converts.h"
#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_str_utils.h"
#include "dbengine/storage/orv_types_routines.h"

namespace orv {

namespace {

IORVDefaultValueExpressionFactory* g_default_value_factory = nullptr;

using platform::TStream;

void WriteByte(TStream& s, uint8_t v, int32_t code) { SaveDataToStream(&v, 1, s, code); }
uint8_t ReadByte(TStream& s, int32_t code) {
  uint8_t v = 0;
  LoadDataFromStream(&v, 1, s, code);
  return v;
}
void WriteBool(TStream& s, bool v, int32_t code) { WriteByte(s, v ? 1 : 0, code); }
bool ReadBool(TStream& s, int32_t code) { return ReadByte(s, code) != 0; }
void WriteInt32(TStream& s, int32_t v, int32_t code) { SaveInt32ToStream(v, s, code); }
int32_t ReadInt32(TStream& s, int32_t code) { return LoadInt32FromStream(s, code); }
void WriteInt64(TStream& s, int64_t v, int32_t code) { SaveInt64ToStream(v, s, code); }
int64_t ReadInt64(TStream& s, int32_t code) { return LoadInt64FromStream(s, code); }

// A length byte and the characters; longer names keep their first 255 characters, which is
// all a stored name can hold.
void WriteShortString(TStream& s, const std::string& v, int32_t len_code, int32_t chars_code) {
  const auto n = static_cast<uint8_t>(std::min<size_t>(v.size(), 255));
  WriteByte(s, n, len_code);
  if (n) SaveDataToStream(v.data(), n, s, chars_code);
}
std::string ReadShortString(TStream& s, int32_t len_code, int32_t chars_code) {
  const uint8_t n = ReadByte(s, len_code);
  std::string v(n, '\0');
  if (n) LoadDataFromStream(v.data(), n, s, chars_code);
  return v;
}

// A name behind a count of its stored bytes (its own length byte plus the characters). The
// count is one byte in the NOT NULL and CHECK forms, where 256 would not fit: there the name
// keeps at most 254 characters.
void WriteCountedName(TStream& s, const std::string& v, bool wide_count, int32_t count_code, int32_t bytes_code) {
  const size_t limit = wide_count ? 255 : 254;
  const auto n = static_cast<uint8_t>(std::min(v.size(), limit));
  if (wide_count)
    WriteInt32(s, n + 1, count_code);
  else
    WriteByte(s, static_cast<uint8_t>(n + 1), count_code);
  WriteByte(s, n, bytes_code);
  if (n) SaveDataToStream(v.data(), n, s, bytes_code);
}
std::string ReadCountedName(TStream& s, bool wide_count, int32_t count_code, int32_t bytes_code) {
  const int32_t k = wide_count ? ReadInt32(s, count_code) : ReadByte(s, count_code);
  // A count byte of 0 is how a name of 255 characters comes back from the one-byte form:
  // no bytes follow and the name is empty.
  if (k == 0 && !wide_count) return {};
  if (k < 1 || k > 256) throw EORVException(count_code, "Invalid stored name length %d", {k});
  const uint8_t n = ReadByte(s, bytes_code);
  if (n + 1 != k)
    throw EORVException(bytes_code, "Invalid stored name: length %d in a field of %d bytes", {static_cast<int32_t>(n), k});
  std::string v(n, '\0');
  if (n) LoadDataFromStream(v.data(), n, s, bytes_code);
  return v;
}

// The value form shared by defaults and CHECK limits, with the item codes of the caller.
void SaveValue(TStream& s, const TORVVariant& v) { v.SaveToStream(s); }
void LoadValue(TStream& s, TORVVariant& v) { v.LoadFromStream(s); }

// The platform's UpperCase: only the letters a to z.
std::string AsciiUpperCase(std::string_view v) {
  std::string r(v);
  for (char& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return r;
}

std::string Cut255(std::string_view v) { return std::string(v.substr(0, 255)); }

}  // namespace

IORVDefaultValueExpressionFactory* SetDefaultValueExpressionFactory(IORVDefaultValueExpressionFactory* Factory) {
  auto* previous = g_default_value_factory;
  g_default_value_factory = Factory;
  return previous;
}
IORVDefaultValueExpressionFactory* GetDefaultValueExpressionFactory() { return g_default_value_factory; }

// ---- TORVMetaObjectDef --------------------------------------------------------------------

void TORVMetaObjectDef::Assign(const TORVMetaObjectDef& Source) {
  Name = Source.Name;
  ObjectID = Source.ObjectID;
  SchemaName = Source.SchemaName;
  SchemaID = Source.SchemaID;
}

void TORVMetaObjectDef::SaveToStream(TStream& Stream) const {
  WriteShortString(Stream, Name, 10164, 10165);
  WriteInt32(Stream, ObjectID, 10168);
}

void TORVMetaObjectDef::LoadFromStream(TStream& Stream) {
  Name = ReadShortString(Stream, 10166, 10167);
  ObjectID = ReadInt32(Stream, 10169);
}

// ---- TORVFieldDef -------------------------------------------------------------------------

TORVFieldDef::TORVFieldDef() : DefaultValue(std::make_unique<TORVVariant>(bftUnknown)), BLOBBlockSize(DefaultBLOBBlockSize) {}
TORVFieldDef::~TORVFieldDef() = default;

void TORVFieldDef::SetFieldDefDataType(TORVAdvancedFieldType aAdvancedFieldType, int32_t aFieldSize) {
  const TORVBaseFieldType base = AdvancedFieldTypeToBaseFieldType(aAdvancedFieldType);
  if (base == bftUnknown) throw EORVException(30007, "Unsupported data type '%s'", {AftToStr(aAdvancedFieldType)});
  AdvancedFieldType = aAdvancedFieldType;
  BaseFieldType = base;
  FieldSize = aFieldSize;
  RecalcInternalSizes();
}

void TORVFieldDef::SetFieldDefDataType(TORVBaseFieldType aBaseFieldType, int32_t aFieldSize) {
  const TORVAdvancedFieldType adv = BaseFieldTypeToAdvancedFieldType(aBaseFieldType);
  if (adv == aftUnknown) throw EORVException(30008, "Unsupported data type '%s'", {BftToStr(aBaseFieldType)});
  BaseFieldType = aBaseFieldType;
  FieldSize = aFieldSize;
  AdvancedFieldType = adv;
  RecalcInternalSizes();
}

void TORVFieldDef::RecalcInternalSizes() {
  // A record buffer size is a 32-bit number: a declared size whose buffer would overflow it
  // (or a negative one) would make every later offset wrong.
  if (IsStringFieldType(BaseFieldType) || BaseFieldType == bftBytes || BaseFieldType == bftVarBytes) {
    if (FieldSize < 0 || FieldSize > (INT32_MAX / 2) - 1)
      throw EORVException(30051, "Invalid field size %d for data type '%s'", {FieldSize, BftToStr(BaseFieldType)});
  }
  MemoryDataSize = GetDataSizeInMemory(BaseFieldType, FieldSize);
  DiskDataSize = IsBLOBFieldType(BaseFieldType) ? 6 : MemoryDataSize;
}

void TORVFieldDef::CreateDefaultValueExprIfNeeded() {
  DefaultValueExpr.reset();
  auto* factory = g_default_value_factory;
  if (!factory || DefaultValue->GetIsNull() || !DefaultValue->IsStringDataType()) return;
  if (factory->IsNonConstantExpression(*DefaultValue))
    DefaultValueExpr = factory->ParseForDefaultValueExpression(DefaultValue->GetDataAsAnsiString());
}

void TORVFieldDef::Assign(const TORVMetaObjectDef& Source) {
  const auto* src = dynamic_cast<const TORVFieldDef*>(&Source);
  if (!src) throw std::invalid_argument("TORVFieldDef::Assign: source is not a field definition");
  TORVMetaObjectDef::Assign(Source);
  BaseFieldType = src->BaseFieldType;
  AdvancedFieldType = src->AdvancedFieldType;
  FieldSize = src->FieldSize;
  DiskDataSize = src->DiskDataSize;
  MemoryDataSize = src->MemoryDataSize;
  DiskOffset = src->DiskOffset;
  MemoryOffset = src->MemoryOffset;
  if (src != this) {
    DefaultValue->Assign(*src->DefaultValue, true);
  }
  CreateDefaultValueExprIfNeeded();
  BLOBCompressionAlgorithm = src->BLOBCompressionAlgorithm;
  BLOBCompressionMode = src->BLOBCompressionMode;
  BLOBBlockSize = src->BLOBBlockSize;
  AutoincIncrement = src->AutoincIncrement;
  AutoincInitialValue = src->AutoincInitialValue;
  AutoincMinValue = src->AutoincMinValue;
  AutoincMaxValue = src->AutoincMaxValue;
  AutoincCycled = src->AutoincCycled;
}

void TORVFieldDef::SaveToStream(TStream& Stream) const {
  TORVMetaObjectDef::SaveToStream(Stream);
  WriteByte(Stream, BaseFieldType, 10170);
  WriteByte(Stream, AdvancedFieldType, 10171);
  WriteInt32(Stream, FieldSize, 10172);
  if (IsBLOBFieldType(BaseFieldType)) {
    WriteByte(Stream, BLOBCompressionAlgorithm, 10175);
    WriteByte(Stream, BLOBCompressionMode, 10176);
    WriteInt32(Stream, BLOBBlockSize, 10177);
  }
  WriteInt64(Stream, AutoincIncrement, 30412);
  WriteInt64(Stream, AutoincInitialValue, 30413);
  WriteInt64(Stream, AutoincMinValue, 30414);
  WriteInt64(Stream, AutoincMaxValue, 30415);
  WriteBool(Stream, AutoincCycled, 30416);
  SaveValue(Stream, *DefaultValue);
}

void TORVFieldDef::LoadFromStream(TStream& Stream) {
  TORVMetaObjectDef::LoadFromStream(Stream);
  const uint8_t base = ReadByte(Stream, 10187);
  if (base > bftBFile) throw EORVException(10187, "Invalid stored data type %d", {base});
  BaseFieldType = static_cast<TORVBaseFieldType>(base);
  const uint8_t adv = ReadByte(Stream, 10188);
  if (adv > aftGuid) throw EORVException(10188, "Invalid stored data type %d", {adv});
  AdvancedFieldType = static_cast<TORVAdvancedFieldType>(adv);
  FieldSize = ReadInt32(Stream, 10189);
  if (IsBLOBFieldType(BaseFieldType)) {
    BLOBCompressionAlgorithm = ReadByte(Stream, 10192);
    BLOBCompressionMode = ReadByte(Stream, 10193);
    BLOBBlockSize = ReadInt32(Stream, 10194);
  }
  AutoincIncrement = ReadInt64(Stream, 30407);
  AutoincInitialValue = ReadInt64(Stream, 30408);
  AutoincMinValue = ReadInt64(Stream, 30409);
  AutoincMaxValue = ReadInt64(Stream, 30410);
  AutoincCycled = ReadBool(Stream, 30411);
  LoadValue(Stream, *DefaultValue);
  CreateDefaultValueExprIfNeeded();
  RecalcInternalSizes();
}

// ---- TORVIndexDef -------------------------------------------------------------------------

TORVIndexColumn& TORVIndexDef::GetIndexColumn(int32_t Index) {
  if (Index < 0 || Index >= ColumnCount()) throw std::out_of_range("List index out of bounds (" + std::to_string(Index) + ")");
  return *FColumns[static_cast<size_t>(Index)];
}
const TORVIndexColumn& TORVIndexDef::GetIndexColumn(int32_t Index) const {
  return const_cast<TORVIndexDef*>(this)->GetIndexColumn(Index);
}

void TORVIndexDef::SetColumnCount(int32_t Value) {
  if (Value < 0) Value = 0;
  const auto n = static_cast<size_t>(Value);
  if (n < FColumns.size()) FColumns.resize(n);
  while (FColumns.size() < n) FColumns.push_back(std::make_unique<TORVIndexColumn>());
}

void TORVIndexDef::Assign(const TORVMetaObjectDef& Source) {
  const auto* src = dynamic_cast<const TORVIndexDef*>(&Source);
  if (!src) throw std::invalid_argument("TORVIndexDef::Assign: source is not an index definition");
  if (src == this) return;
  TORVMetaObjectDef::Assign(Source);
  IndexType = src->IndexType;
  Unique = src->Unique;
  Primary = src->Primary;
  RootPageNo = src->RootPageNo;
  SetColumnCount(src->ColumnCount());
  for (int32_t i = 0; i < ColumnCount(); ++i) *FColumns[static_cast<size_t>(i)] = src->GetIndexColumn(i);
  Temporary = src->Temporary;
  SessionID = src->SessionID;
  TableState = src->TableState;
  NeedRebuild = src->NeedRebuild;
}

void TORVIndexDef::AssignByNames(const std::vector<std::string>& FieldNames, const std::vector<std::string>& AscDescList,
                                 const std::vector<std::string>& CaseSensitivityList) {
  const auto l1 = static_cast<int32_t>(FieldNames.size());
  if (AscDescList.size() != FieldNames.size())
    throw EORVException(10278, "Error - different list lengths. L1 = %d, L2 = %d",
                        {l1, static_cast<int32_t>(AscDescList.size())});
  if (CaseSensitivityList.size() != FieldNames.size())
    throw EORVException(10279, "Error - different list lengths. L1 = %d, L2 = %d",
                        {l1, static_cast<int32_t>(CaseSensitivityList.size())});
  SetColumnCount(l1);
  for (int32_t i = 0; i < l1; ++i) {
    auto& c = *FColumns[static_cast<size_t>(i)];
    c.FieldName = FieldNames[static_cast<size_t>(i)];
    c.Descending = AscDescList[static_cast<size_t>(i)] == "DESC";
    c.CaseInsensitive = CaseSensitivityList[static_cast<size_t>(i)] == "NO_CASE";
    c.MaxIndexedSize = 20;
  }
}

void TORVIndexDef::SaveToStream(TStream& Stream) const {
  TORVMetaObjectDef::SaveToStream(Stream);
  WriteByte(Stream, IndexType, 10344);
  WriteBool(Stream, Unique, 10345);
  WriteBool(Stream, Primary, 10346);
  WriteInt32(Stream, ColumnCount(), 10347);
  WriteInt32(Stream, RootPageNo, 10348);
  for (const auto& c : FColumns) {
    WriteShortString(Stream, c->FieldName, 10354, 10355);
    WriteBool(Stream, c->Descending, 10356);
    WriteBool(Stream, c->CaseInsensitive, 10357);
    WriteInt32(Stream, c->MaxIndexedSize, 20169);
  }
}

void TORVIndexDef::LoadFromStream(TStream& Stream) {
  TORVMetaObjectDef::LoadFromStream(Stream);
  const uint8_t type = ReadByte(Stream, 10349);
  if (type > itAnotherOne) throw EORVException(10349, "Invalid stored index type %d", {type});
  IndexType = static_cast<TORVIndexType>(type);
  Unique = ReadBool(Stream, 10350);
  Primary = ReadBool(Stream, 10351);
  const int32_t count = ReadInt32(Stream, 10352);
  // Each column takes at least 7 stored bytes: a count the rest of the stream cannot hold is
  // damage, not a reason to allocate.
  if (count < 0 || count > 65535) throw EORVException(10352, "Invalid stored index column count %d", {count});
  RootPageNo = ReadInt32(Stream, 10353);
  FColumns.clear();
  for (int32_t i = 0; i < count; ++i) {
    auto c = std::make_unique<TORVIndexColumn>();
    c->FieldName = ReadShortString(Stream, 10358, 10359);
    c->Descending = ReadBool(Stream, 10360);
    c->CaseInsensitive = ReadBool(Stream, 10361);
    c->MaxIndexedSize = ReadInt32(Stream, 20168);
    FColumns.push_back(std::move(c));
  }
  Temporary = false;
  SessionID = -1;
  TableState = 0;
  NeedRebuild = false;
}

// ---- Constraints --------------------------------------------------------------------------

void TORVConstraintDef::Assign(const TORVMetaObjectDef& Source) {
  TORVMetaObjectDef::Assign(Source);
  if (const auto* src = dynamic_cast<const TORVConstraintDef*>(&Source)) ConstraintType = src->ConstraintType;
}

void TORVConstraintDefNotNull::Assign(const TORVMetaObjectDef& Source) {
  TORVConstraintDef::Assign(Source);
  if (const auto* src = dynamic_cast<const TORVConstraintDefNotNull*>(&Source)) {
    TableSchemaName = src->TableSchemaName;
    TableName = src->TableName;
    ColumnName = src->ColumnName;
    TableSchemaObjectID = src->TableSchemaObjectID;
    TableObjectID = src->TableObjectID;
    ColumnObjectID = src->ColumnObjectID;
  }
}

void TORVConstraintDefNotNull::SetNames(std::string_view aColumnName, std::string_view aTableName,
                                        std::string_view aSchemaName) {
  ColumnName = Cut255(aColumnName);
  TableName = Cut255(aTableName);
  SchemaName = Cut255(aSchemaName);
}

void TORVConstraintDefNotNull::SaveBody(TStream& Stream, const Codes& c) const {
  TORVMetaObjectDef::SaveToStream(Stream);
  WriteInt32(Stream, TableSchemaObjectID, c.WriteIDs[0]);
  WriteInt32(Stream, TableObjectID, c.WriteIDs[1]);
  WriteInt32(Stream, ColumnObjectID, c.WriteIDs[2]);
  WriteCountedName(Stream, TableSchemaName, false, c.WriteNames[0], c.WriteNames[1]);
  WriteCountedName(Stream, TableName, false, c.WriteNames[2], c.WriteNames[3]);
  WriteCountedName(Stream, ColumnName, false, c.WriteNames[4], c.WriteNames[5]);
}

void TORVConstraintDefNotNull::LoadBody(TStream& Stream, const Codes& c) {
  TORVMetaObjectDef::LoadFromStream(Stream);
  TableSchemaObjectID = ReadInt32(Stream, c.ReadIDs[0]);
  TableObjectID = ReadInt32(Stream, c.ReadIDs[1]);
  ColumnObjectID = ReadInt32(Stream, c.ReadIDs[2]);
  TableSchemaName = ReadCountedName(Stream, false, c.ReadNames[0], c.ReadNames[1]);
  TableName = ReadCountedName(Stream, false, c.ReadNames[2], c.ReadNames[3]);
  ColumnName = ReadCountedName(Stream, false, c.ReadNames[4], c.ReadNames[5]);
}

void TORVConstraintDefNotNull::SaveToStream(TStream& Stream) const {
  static constexpr Codes c{{10240, 10241, 10242}, {10249, 10250, 10251},
                           {10243, 10244, 10245, 10246, 10247, 10248}, {10252, 10253, 10254, 10255, 10256, 10257}};
  SaveBody(Stream, c);
}

void TORVConstraintDefNotNull::LoadFromStream(TStream& Stream) {
  static constexpr Codes c{{10240, 10241, 10242}, {10249, 10250, 10251},
                           {10243, 10244, 10245, 10246, 10247, 10248}, {10252, 10253, 10254, 10255, 10256, 10257}};
  LoadBody(Stream, c);
}

TORVConstraintDefCheck::TORVConstraintDefCheck()
    : TORVConstraintDefNotNull(ctCheck),
      MinValue(std::make_unique<TORVVariant>(bftUnknown)),
      MaxValue(std::make_unique<TORVVariant>(bftUnknown)) {}

void TORVConstraintDefCheck::Assign(const TORVMetaObjectDef& Source) {
  TORVConstraintDefNotNull::Assign(Source);
  const auto* src = dynamic_cast<const TORVConstraintDefCheck*>(&Source);
  if (src && src != this) {
    MinValue->Assign(*src->MinValue, true);
    MaxValue->Assign(*src->MaxValue, true);
  }
}

void TORVConstraintDefCheck::SaveToStream(TStream& Stream) const {
  static constexpr Codes c{{10227, 10228, 10229}, {10230, 10231, 10232},
                           {10221, 10222, 10223, 10224, 10225, 10226}, {10233, 10234, 10235, 10236, 10237, 10238}};
  SaveBody(Stream, c);
  SaveValue(Stream, *MinValue);
  SaveValue(Stream, *MaxValue);
}

void TORVConstraintDefCheck::LoadFromStream(TStream& Stream) {
  static constexpr Codes c{{10227, 10228, 10229}, {10230, 10231, 10232},
                           {10221, 10222, 10223, 10224, 10225, 10226}, {10233, 10234, 10235, 10236, 10237, 10238}};
  LoadBody(Stream, c);
  LoadValue(Stream, *MinValue);
  LoadValue(Stream, *MaxValue);
}

void TORVConstraintDefUnique::Assign(const TORVMetaObjectDef& Source) {
  TORVConstraintDef::Assign(Source);
  if (const auto* src = dynamic_cast<const TORVConstraintDefUnique*>(&Source)) {
    TableSchemaName = src->TableSchemaName;
    TableSchemaObjectID = src->TableSchemaObjectID;
    TableName = src->TableName;
    TableObjectID = src->TableObjectID;
    IndexName = src->IndexName;
    IndexObjectID = src->IndexObjectID;
    Columns = src->Columns;
  }
}

void TORVConstraintDefUnique::SaveToStream(TStream& Stream) const {
  TORVMetaObjectDef::SaveToStream(Stream);
  WriteInt32(Stream, TableSchemaObjectID, 30313);
  WriteInt32(Stream, TableObjectID, 30314);
  WriteInt32(Stream, IndexObjectID, 30318);
  WriteCountedName(Stream, TableSchemaName, true, 30315, 30316);
  WriteCountedName(Stream, TableName, true, 30317, 30318);
  WriteCountedName(Stream, IndexName, true, 30323, 30324);
  WriteInt32(Stream, static_cast<int32_t>(Columns.size()), 30319);
  for (const auto& col : Columns) {
    WriteInt32(Stream, col.ColumnObjectID, 30320);
    WriteCountedName(Stream, col.ColumnName, true, 30321, 30322);
  }
}

void TORVConstraintDefUnique::LoadFromStream(TStream& Stream) {
  TORVMetaObjectDef::LoadFromStream(Stream);
  TableSchemaObjectID = ReadInt32(Stream, 30303);
  TableObjectID = ReadInt32(Stream, 30304);
  IndexObjectID = ReadInt32(Stream, 30317);
  TableSchemaName = ReadCountedName(Stream, true, 30305, 30306);
  TableName = ReadCountedName(Stream, true, 30307, 30308);
  IndexName = ReadCountedName(Stream, true, 30321, 30322);
  const int32_t count = ReadInt32(Stream, 30309);
  if (count < 0 || count > 65535) throw EORVException(30309, "Invalid stored constraint column count %d", {count});
  Columns.clear();
  for (int32_t i = 0; i < count; ++i) {
    TORVConstraintColumn col;
    col.ColumnObjectID = ReadInt32(Stream, 30310);
    col.ColumnName = ReadCountedName(Stream, true, 30311, 30312);
    Columns.push_back(std::move(col));
  }
}

// ---- TORVMetaObjectDefs -------------------------------------------------------------------

void TORVMetaObjectDefs::CheckIndex(int32_t Index, int32_t Limit) const {
  if (Index < 0 || Index >= Limit) throw std::out_of_range("List index out of bounds (" + std::to_string(Index) + ")");
}

void TORVMetaObjectDefs::Add(std::unique_ptr<TORVMetaObjectDef> MetaObjectDef) {
  FDefsList.push_back(std::move(MetaObjectDef));
}

TORVMetaObjectDef* TORVMetaObjectDefs::InternalAddCreated() {
  throw EORVException(30339, "The method '%s' not overrided in class '%s'", {"InternalAddCreated", ClassName()});
}

int32_t TORVMetaObjectDefs::LoadCount(TStream& Stream, int32_t ReadCode) {
  const int32_t count = ReadInt32(Stream, ReadCode);
  if (count < 0) throw EORVException(ReadCode, "Invalid stored definition count %d", {count});
  return count;
}

void TORVMetaObjectDefs::SaveCount(TStream& Stream, int32_t Count, int32_t WriteCode) {
  WriteInt32(Stream, Count, WriteCode);
}

void TORVMetaObjectDefs::LoadFromStream(TStream& Stream) {
  Clear();
  FLoadedItemCount = LoadCount(Stream, 10159);
  // A count beyond what the stream holds ends at the first short read, with the defs read so
  // far kept.
  for (int32_t i = 0; i < FLoadedItemCount; ++i) InternalAddCreated()->LoadFromStream(Stream);
}

void TORVMetaObjectDefs::SaveToStream(TStream& Stream) const {
  SaveCount(Stream, GetCount(), 10158);
  for (const auto& d : FDefsList) d->SaveToStream(Stream);
}

void TORVMetaObjectDefs::Assign(const TORVMetaObjectDefs& Source) {
  if (&Source == this) return;
  Clear();
  for (const auto& d : Source.FDefsList) {
    if (GetDefNumberByName(d->Name) != -1) throw EORVException(10424, "Duplicate field name %s", {d->Name});
    InternalAddCreated()->Assign(*d);
  }
}

void TORVMetaObjectDefs::Delete(int32_t Index) {
  CheckIndex(Index, GetCount());
  FDefsList.erase(FDefsList.begin() + Index);
}

void TORVMetaObjectDefs::Insert(int32_t Index, std::unique_ptr<TORVMetaObjectDef> MetaObjectDef) {
  CheckIndex(Index, GetCount() + 1);
  FDefsList.insert(FDefsList.begin() + Index, std::move(MetaObjectDef));
}

void TORVMetaObjectDefs::Move(int32_t CurIndex, int32_t NewIndex) {
  if (CurIndex == NewIndex) return;
  CheckIndex(CurIndex, GetCount());
  CheckIndex(NewIndex, GetCount());
  auto d = std::move(FDefsList[static_cast<size_t>(CurIndex)]);
  FDefsList.erase(FDefsList.begin() + CurIndex);
  FDefsList.insert(FDefsList.begin() + NewIndex, std::move(d));
}

void TORVMetaObjectDefs::Clear() { FDefsList.clear(); }

TORVMetaObjectDef* TORVMetaObjectDefs::GetDef(int32_t Index) const {
  CheckIndex(Index, GetCount());
  return FDefsList[static_cast<size_t>(Index)].get();
}

void TORVMetaObjectDefs::SetDef(int32_t Index, std::unique_ptr<TORVMetaObjectDef> Value) {
  CheckIndex(Index, GetCount());
  FDefsList[static_cast<size_t>(Index)] = std::move(Value);
}

int32_t TORVMetaObjectDefs::GetDefNumberByName(std::string_view aName) const {
  const std::string wanted = AnsiUpperCase(aName);
  for (size_t i = 0; i < FDefsList.size(); ++i)
    if (AnsiUpperCase(FDefsList[i]->Name) == wanted) return static_cast<int32_t>(i);
  return -1;
}

TORVMetaObjectDef* TORVMetaObjectDefs::GetDefByName(std::string_view aName) const {
  const int32_t i = GetDefNumberByName(aName);
  return i < 0 ? nullptr : FDefsList[static_cast<size_t>(i)].get();
}

int32_t TORVMetaObjectDefs::GetDefNumberByObjectId(int32_t aObjectID) const {
  for (size_t i = 0; i < FDefsList.size(); ++i)
    if (FDefsList[i]->ObjectID == aObjectID) return static_cast<int32_t>(i);
  return -1;
}

TORVMetaObjectDef* TORVMetaObjectDefs::GetDefByObjectId(int32_t aObjectID) const {
  const int32_t i = GetDefNumberByObjectId(aObjectID);
  return i < 0 ? nullptr : FDefsList[static_cast<size_t>(i)].get();
}

// ---- TORVFieldDefs ------------------------------------------------------------------------

TORVMetaObjectDef* TORVFieldDefs::InternalAddCreated() {
  FDefsList.push_back(std::make_unique<TORVFieldDef>());
  return FDefsList.back().get();
}

void TORVFieldDefs::LoadFromStream(TStream& Stream) { TORVMetaObjectDefs::LoadFromStream(Stream); }
void TORVFieldDefs::SaveToStream(TStream& Stream) const { TORVMetaObjectDefs::SaveToStream(Stream); }

void TORVFieldDefs::RecalcFieldOffsets() {
  int32_t memory = (GetCount() + 7) / 8;
  int32_t disk = memory;
  for (int32_t i = 0; i < GetCount(); ++i) {
    TORVFieldDef* f = GetDef(i);
    f->MemoryOffset = memory;
    f->DiskOffset = disk;
    memory += f->MemoryDataSize;
    disk += f->DiskDataSize;
  }
}

int32_t TORVFieldDefs::GetMemoryRecordBufferSize() const {
  int64_t size = (GetCount() + 7) / 8;
  for (int32_t i = 0; i < GetCount(); ++i) size += GetDef(i)->MemoryDataSize;
  if (size > INT32_MAX) throw EORVException(30051, "Record buffer size %s exceeds the limit", {std::to_string(size)});
  return static_cast<int32_t>(size);
}

int32_t TORVFieldDefs::GetDiskRecordBufferSize() const {
  int64_t size = (GetCount() + 7) / 8;
  for (int32_t i = 0; i < GetCount(); ++i) size += GetDef(i)->DiskDataSize;
  if (size > INT32_MAX) throw EORVException(30051, "Record buffer size %s exceeds the limit", {std::to_string(size)});
  return static_cast<int32_t>(size);
}

// ---- TORVIndexDefs ------------------------------------------------------------------------

TORVMetaObjectDef* TORVIndexDefs::InternalAddCreated() {
  FDefsList.push_back(std::make_unique<TORVIndexDef>());
  return FDefsList.back().get();
}

TORVIndexDef* TORVIndexDefs::GetIndexDef(int32_t Index) const {
  return static_cast<TORVIndexDef*>(TORVMetaObjectDefs::GetDef(Index));
}

void TORVIndexDefs::SetIndexDef(int32_t Index, std::unique_ptr<TORVIndexDef> Value) { SetDef(Index, std::move(Value)); }

void TORVIndexDefs::LoadFromStream(TStream& Stream) { TORVMetaObjectDefs::LoadFromStream(Stream); }

void TORVIndexDefs::SaveToStream(TStream& Stream) const {
  int32_t stored = 0;
  for (int32_t i = 0; i < GetCount(); ++i)
    if (!GetIndexDef(i)->Temporary) ++stored;
  SaveCount(Stream, stored, 10343);
  for (int32_t i = 0; i < GetCount(); ++i)
    if (!GetIndexDef(i)->Temporary) GetIndexDef(i)->SaveToStream(Stream);
}

int32_t TORVIndexDefs::FindIndex(const std::vector<std::string>* FieldNames, const std::vector<std::string>* AscDescList,
                                 const std::vector<std::string>* CaseSensitivityList, int32_t SessionID,
                                 const TORVFieldDefs* FieldDefs) const {
  if (!FieldNames) throw EORVException(10389, "Nil pointer occured");
  if (!AscDescList) throw EORVException(10390, "Nil pointer occured");
  if (!CaseSensitivityList) throw EORVException(10391, "Nil pointer occured");
  const auto n = static_cast<int32_t>(FieldNames->size());
  if (AscDescList->size() != FieldNames->size())
    throw EORVException(10276, "Error - different list lengths. L1 = %d, L2 = %d",
                        {n, static_cast<int32_t>(AscDescList->size())});
  if (CaseSensitivityList->size() != FieldNames->size())
    throw EORVException(10277, "Error - different list lengths. L1 = %d, L2 = %d",
                        {n, static_cast<int32_t>(CaseSensitivityList->size())});
  for (int32_t i = 0; i < GetCount(); ++i) {
    const TORVIndexDef* def = GetIndexDef(i);
    if (def->ColumnCount() < n) continue;
    if (def->Temporary && def->SessionID != SessionID) continue;
    bool match = true;
    for (int32_t j = 0; j < n && match; ++j) {
      const auto& col = def->GetIndexColumn(j);
      const auto& name = (*FieldNames)[static_cast<size_t>(j)];
      const auto& order = (*AscDescList)[static_cast<size_t>(j)];
      const auto& cs = (*CaseSensitivityList)[static_cast<size_t>(j)];
      if (AsciiUpperCase(col.FieldName) != AsciiUpperCase(name)) match = false;
      else if (order == "ASC" && col.Descending) match = false;
      else if (order == "DESC" && !col.Descending) match = false;
      else if (cs == "NO_CASE" && !col.CaseInsensitive) match = false;
      else if (cs == "CASE" && col.CaseInsensitive) {
        const TORVFieldDef* f = FieldDefs ? FieldDefs->GetFieldDefByName(name) : nullptr;
        if (f && IsStringFieldType(f->BaseFieldType)) match = false;
      }
    }
    if (match) return def->ObjectID;
  }
  return -1;
}

// ---- TORVConstraintDefs -------------------------------------------------------------------

std::unique_ptr<TORVConstraintDef> TORVConstraintDefs::CreateByType(TORVConstraintType aType) {
  switch (aType) {
    case ctPK: return std::make_unique<TORVConstraintDefPrimary>();
    case ctUnique: return std::make_unique<TORVConstraintDefUnique>();
    case ctNotNull: return std::make_unique<TORVConstraintDefNotNull>();
    case ctCheck: return std::make_unique<TORVConstraintDefCheck>();
    default: return nullptr;
  }
}

TORVConstraintDefNotNull* TORVConstraintDefs::AddNotNull() {
  FDefsList.push_back(std::make_unique<TORVConstraintDefNotNull>());
  return static_cast<TORVConstraintDefNotNull*>(FDefsList.back().get());
}
TORVConstraintDefCheck* TORVConstraintDefs::AddCheck() {
  FDefsList.push_back(std::make_unique<TORVConstraintDefCheck>());
  return static_cast<TORVConstraintDefCheck*>(FDefsList.back().get());
}
TORVConstraintDefPrimary* TORVConstraintDefs::AddPK() {
  FDefsList.push_back(std::make_unique<TORVConstraintDefPrimary>());
  return static_cast<TORVConstraintDefPrimary*>(FDefsList.back().get());
}
TORVConstraintDefUnique* TORVConstraintDefs::AddUnique() {
  FDefsList.push_back(std::make_unique<TORVConstraintDefUnique>());
  return static_cast<TORVConstraintDefUnique*>(FDefsList.back().get());
}

void TORVConstraintDefs::Assign(const TORVMetaObjectDefs& Source) {
  if (&Source == this) return;
  Clear();
  for (int32_t i = 0; i < Source.GetCount(); ++i) {
    const auto* src = static_cast<const TORVConstraintDef*>(Source.GetDef(i));
    if (src->ConstraintType == ctFK) throw EORVException(30035, "Not implemented yet");
    auto def = CreateByType(src->ConstraintType);
    if (!def) throw EORVException(30316, "Unknown Constraint Type: '%d'", {static_cast<int32_t>(src->ConstraintType)});
    def->Assign(*src);
    FDefsList.push_back(std::move(def));
  }
}

void TORVConstraintDefs::SaveToStream(TStream& Stream) const {
  SaveCount(Stream, GetCount(), 10158);
  for (int32_t i = 0; i < GetCount(); ++i) {
    const TORVConstraintDef* d = GetDef(i);
    WriteByte(Stream, d->ConstraintType, 10219);
    d->SaveToStream(Stream);
  }
}

void TORVConstraintDefs::LoadFromStream(TStream& Stream) {
  Clear();
  FLoadedItemCount = LoadCount(Stream, 10159);
  for (int32_t i = 0; i < FLoadedItemCount; ++i) {
    const uint8_t type = ReadByte(Stream, 10220);
    auto def = type <= ctCheck ? CreateByType(static_cast<TORVConstraintType>(type)) : nullptr;
    if (!def) throw EORVException(30316, "Unknown Constraint Type: '%d'", {static_cast<int32_t>(type)});
    TORVConstraintDef* raw = def.get();
    FDefsList.push_back(std::move(def));
    raw->LoadFromStream(Stream);
  }
}

}  // namespace orv

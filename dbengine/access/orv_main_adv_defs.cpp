#include "dbengine/access/orv_main_adv_defs.h"

#include <stdexcept>

#include "dbengine/storage/orv_base_engine_constraints.h"
#include "dbengine/storage/orv_compression_streams.h"
#include "dbengine/storage/orv_converts.h"
#include "dbengine/storage/orv_except.h"
#include "dbengine/storage/orv_str_utils.h"
#include "platform/base/cp1252.h"
#include "platform/base/number_parse.h"
#include "platform/data/dataset.h"
#include "platform/data/field_defs.h"
#include "platform/data/index_defs.h"

namespace orv {

using platform::data::TFieldDefs;
using platform::data::TFieldType;
using platform::data::TIndexDefs;

namespace {

// The engine keeps names as 8-bit short strings.
std::string EngineName(const std::string& Name) { return Name.substr(0, 255); }

std::string ToEngineText(const std::string& Utf8) { return platform::Utf8ToCp1252(Utf8); }
std::string ToPlatformText(const std::string& Ansi) { return platform::Cp1252ToUtf8(Ansi); }

std::string AsciiUpper(std::string S) {
  for (char& c : S)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return S;
}

bool SameAnsiText(const std::string& A, const std::string& B) { return AnsiUpperCase(A) == AnsiUpperCase(B); }

// Blanks and control characters off both ends.
std::string Trim(const std::string& S) {
  size_t begin = 0, end = S.size();
  while (begin < end && static_cast<unsigned char>(S[begin]) <= ' ') ++begin;
  while (end > begin && static_cast<unsigned char>(S[end - 1]) <= ' ') --end;
  return S.substr(begin, end - begin);
}

bool ListContains(const std::vector<std::string>& List, const std::string& Name) {
  for (const std::string& item : List)
    if (SameAnsiText(item, Name)) return true;
  return false;
}

std::string Joined(const std::vector<std::string>& Items) {
  std::string text;
  for (size_t i = 0; i < Items.size(); ++i) text += (i ? ";" : "") + Items[i];
  return text;
}

void CopyValue(TORVVariant& Target, const TORVVariant& Source) { Target.Assign(Source, true); }

template <class Items>
auto* At(const Items& List, int32_t Index) {
  if (Index < 0 || static_cast<size_t>(Index) >= List.size()) throw std::out_of_range("List index out of bounds");
  return List[static_cast<size_t>(Index)].get();
}

}  // namespace

// ---- Field definitions --------------------------------------------------------------------------

TORVAdvFieldDef::TORVAdvFieldDef()
    : DefaultValue(std::make_unique<TORVVariant>(bftUnknown)),
      MinValue(std::make_unique<TORVVariant>(bftUnknown)),
      MaxValue(std::make_unique<TORVVariant>(bftUnknown)),
      BLOBBlockSize(DefaultBLOBBlockSize) {}

void TORVAdvFieldDef::Assign(const TORVAdvFieldDef& Source) {
  if (&Source == this) return;
  Name = Source.Name;
  ObjectID = Source.ObjectID;
  DataType = Source.DataType;
  Required = Source.Required;
  Size = Source.Size;
  CopyValue(*DefaultValue, *Source.DefaultValue);
  CopyValue(*MinValue, *Source.MinValue);
  CopyValue(*MaxValue, *Source.MaxValue);
  AutoincIncrement = Source.AutoincIncrement;
  AutoincInitialValue = Source.AutoincInitialValue;
  AutoincMinValue = Source.AutoincMinValue;
  AutoincMaxValue = Source.AutoincMaxValue;
  AutoincCycled = Source.AutoincCycled;
  BLOBCompressionAlgorithm = Source.BLOBCompressionAlgorithm;
  BLOBCompressionMode = Source.BLOBCompressionMode;
  BLOBBlockSize = Source.BLOBBlockSize;
}

TORVAdvFieldDef* TORVAdvFieldDefs::GetDef(int32_t Index) const { return At(FItems, Index); }

void TORVAdvFieldDefs::SetDef(int32_t Index, std::unique_ptr<TORVAdvFieldDef> Value) {
  At(FItems, Index);
  FItems[static_cast<size_t>(Index)] = std::move(Value);
}

TORVAdvFieldDef* TORVAdvFieldDefs::AddFieldDef() {
  FItems.push_back(std::make_unique<TORVAdvFieldDef>());
  return FItems.back().get();
}

TORVAdvFieldDef* TORVAdvFieldDefs::Add(const std::string& Name, TORVAdvancedFieldType DataType, int32_t Size,
                                       bool Required, TCompressionAlgorithm BLOBCompressionAlgorithm,
                                       uint8_t BLOBCompressionMode) {
  TORVAdvFieldDef* def = AddFieldDef();
  def->Name = Name;
  def->DataType = DataType;
  def->Size = Size;
  def->Required = Required;
  def->BLOBCompressionAlgorithm = BLOBCompressionAlgorithm;
  def->BLOBCompressionMode = BLOBCompressionMode;
  return def;
}

void TORVAdvFieldDefs::DeleteFieldDef(const std::string& FieldName) {
  for (auto it = FItems.begin(); it != FItems.end(); ++it) {
    if (SameAnsiText((*it)->Name, FieldName)) {
      FItems.erase(it);
      return;
    }
  }
  throw EORVException(30349, "Field '%s' not found", {FieldName});
}

TORVAdvFieldDef* TORVAdvFieldDefs::Find(const std::string& Name) const {
  const std::string wanted = AsciiUpper(Name);
  for (const auto& def : FItems)
    if (AsciiUpper(def->Name) == wanted) return def.get();
  return nullptr;
}

void TORVAdvFieldDefs::Assign(const TORVAdvFieldDefs& Source) {
  if (&Source == this) return;
  Clear();
  for (const auto& def : Source.FItems) AddFieldDef()->Assign(*def);
}

// ---- Index definitions --------------------------------------------------------------------------

void TORVAdvIndexDef::Assign(const TORVAdvIndexDef& Source) {
  Name = Source.Name;
  Fields = Source.Fields;
  DescFields = Source.DescFields;
  CaseInsFields = Source.CaseInsFields;
  Options = Source.Options;
  MaxIndexedSizes = Source.MaxIndexedSizes;
  Temporary = Source.Temporary;
}

TORVAdvIndexDef* TORVAdvIndexDefs::GetDef(int32_t Index) const { return At(FItems, Index); }

void TORVAdvIndexDefs::SetDef(int32_t Index, std::unique_ptr<TORVAdvIndexDef> Value) {
  At(FItems, Index);
  FItems[static_cast<size_t>(Index)] = std::move(Value);
}

TORVAdvIndexDef* TORVAdvIndexDefs::AddIndexDef() {
  FItems.push_back(std::make_unique<TORVAdvIndexDef>());
  return FItems.back().get();
}

TORVAdvIndexDef* TORVAdvIndexDefs::Add(const std::string& Name, const std::string& Fields, TIndexOptions Options,
                                       bool Temporary, const std::string& DescFields,
                                       const std::string& CaseInsFields, const std::string& MaxIndexedSizes) {
  TORVAdvIndexDef* def = AddIndexDef();
  def->Name = Name;
  def->Fields = Fields;
  def->Options = Options;
  def->Temporary = Temporary;
  def->DescFields = DescFields;
  def->CaseInsFields = CaseInsFields;
  def->MaxIndexedSizes = MaxIndexedSizes;
  return def;
}

void TORVAdvIndexDefs::DeleteIndexDef(const std::string& IndexName) {
  for (auto it = FItems.begin(); it != FItems.end(); ++it) {
    if (SameAnsiText((*it)->Name, IndexName)) {
      FItems.erase(it);
      return;
    }
  }
  throw EORVException(20190, "Index '%s' not found", {IndexName});
}

TORVAdvIndexDef* TORVAdvIndexDefs::Find(const std::string& Name) const {
  for (const auto& def : FItems)
    if (SameAnsiText(def->Name, Name)) return def.get();
  return nullptr;
}

void TORVAdvIndexDefs::Assign(const TORVAdvIndexDefs& Source, bool SkipTemporaryIndexes) {
  if (&Source == this) return;
  Clear();
  for (const auto& def : Source.FItems) {
    if (SkipTemporaryIndexes &&
        (def->Temporary || AnsiUpperCase(def->Name).find("TEMPORARY") != std::string::npos))
      continue;
    AddIndexDef()->Assign(*def);
  }
}

void TORVAdvIndexDefs::Update() {
  if (FDataSet) FDataSet->UpdateIndexDefs();
}

// ---- Field conversions ------------------------------------------------------------------------

void ConvertFieldDefsToORVFieldDefs(const TFieldDefs& FieldDefs, TORVFieldDefs& ORVFieldDefs) {
  ORVFieldDefs.Clear();
  for (int i = 0; i < FieldDefs.Count(); ++i) {
    const platform::data::TFieldDef& source = *FieldDefs[i];
    TORVFieldDef* def = ORVFieldDefs.AddCreated();
    def->Name = EngineName(ToEngineText(source.Name()));
    def->SetFieldDefDataType(FieldTypeToORVAdvFieldType(source.DataType()), source.Size());
  }
}

void ConvertAdvFieldDefsToFieldDefs(const TORVAdvFieldDefs& AdvFieldDefs, TFieldDefs& FieldDefs) {
  FieldDefs.Clear();
  for (int32_t i = 0; i < AdvFieldDefs.GetCount(); ++i) {
    const TORVAdvFieldDef& source = *AdvFieldDefs[i];
    FieldDefs.Add(ToPlatformText(source.Name), static_cast<TFieldType>(ORVAdvFieldTypeToFieldType(source.DataType)),
                  source.Size, source.Required);
  }
}

void ConvertFieldDefsToAdvFieldDefs(const TFieldDefs& FieldDefs, TORVAdvFieldDefs& AdvFieldDefs) {
  AdvFieldDefs.Clear();
  for (int i = 0; i < FieldDefs.Count(); ++i) {
    const platform::data::TFieldDef& source = *FieldDefs[i];
    TORVAdvFieldDef* def = AdvFieldDefs.AddFieldDef();
    def->Name = ToEngineText(source.Name());
    def->DataType = FieldTypeToORVAdvFieldType(source.DataType());
    def->Size = source.Size();
    def->Required = source.Required();
  }
}

void ConvertAdvFieldDefsToORVFieldDefs(const TORVAdvFieldDefs& AdvFieldDefs, TORVFieldDefs& ORVFieldDefs,
                                       const TORVIndexDefs& IndexDefs, TORVConstraintDefs& ORVConstraintDefs,
                                       bool Temporary) {
  ORVFieldDefs.Clear();
  ORVConstraintDefs.Clear();
  for (int32_t i = 0; i < AdvFieldDefs.GetCount(); ++i) {
    const TORVAdvFieldDef& source = *AdvFieldDefs[i];
    TORVFieldDef* def = ORVFieldDefs.AddCreated();
    def->Name = EngineName(source.Name);
    def->SetFieldDefDataType(source.DataType, source.Size);
    def->BLOBCompressionAlgorithm = static_cast<uint8_t>(source.BLOBCompressionAlgorithm);
    def->BLOBCompressionMode = source.BLOBCompressionMode;
    def->BLOBBlockSize = source.BLOBBlockSize > 0 ? source.BLOBBlockSize : DefaultBLOBBlockSize;
    def->AutoincIncrement = source.AutoincIncrement;
    def->AutoincInitialValue = source.AutoincInitialValue;
    def->AutoincMinValue = source.AutoincMinValue;
    def->AutoincMaxValue = source.AutoincMaxValue;
    def->AutoincCycled = source.AutoincCycled;
    CopyValue(*def->DefaultValue, *source.DefaultValue);
    if (Temporary) continue;
    if (source.Required) ORVConstraintDefs.AddNotNull()->ColumnName = def->Name;
    if (!source.MinValue->GetIsNull() || !source.MaxValue->GetIsNull()) {
      TORVConstraintDefCheck* check = ORVConstraintDefs.AddCheck();
      check->ColumnName = def->Name;
      CopyValue(*check->MinValue, *source.MinValue);
      CopyValue(*check->MaxValue, *source.MaxValue);
    }
  }
  for (int32_t i = 0; i < IndexDefs.GetCount(); ++i) AddConstraintForIndex(*IndexDefs.GetIndexDef(i), ORVConstraintDefs);
}

TCompressionAlgorithm ConvertORVCompressionAlgorithmToCompressionAlgorithm(uint8_t Value) {
  switch (Value) {
    case 1: return caZLIB;
    case 2: return caBZIP;
    case 3: return caPPM;
    default: return caNone;
  }
}

void ConvertORVFieldDefsToAdvFieldDefs(const TORVFieldDefs& VisibleFieldDefs, const TORVFieldDefs& ORVFieldDefs,
                                       const TORVConstraintDefs& ORVConstraintDefs, TORVAdvFieldDefs& AdvFieldDefs) {
  AdvFieldDefs.Clear();
  for (int32_t i = 0; i < VisibleFieldDefs.GetCount(); ++i) {
    const TORVFieldDef& source = *VisibleFieldDefs.GetDef(i);
    TORVAdvFieldDef* def = AdvFieldDefs.AddFieldDef();
    def->Name = source.Name;
    def->ObjectID = source.ObjectID;
    def->DataType = source.AdvancedFieldType;
    def->Size = source.AdvancedFieldType == aftGuid ? 0 : source.FieldSize;
    def->AutoincIncrement = source.AutoincIncrement;
    def->AutoincInitialValue = source.AutoincInitialValue;
    def->AutoincMinValue = source.AutoincMinValue;
    def->AutoincMaxValue = source.AutoincMaxValue;
    def->AutoincCycled = source.AutoincCycled;
    def->BLOBCompressionAlgorithm = ConvertORVCompressionAlgorithmToCompressionAlgorithm(source.BLOBCompressionAlgorithm);
    def->BLOBCompressionMode = source.BLOBCompressionMode;
    def->BLOBBlockSize = source.BLOBBlockSize;
    CopyValue(*def->DefaultValue, *source.DefaultValue);
  }
  // The advanced definition of a table column: the first visible field that refers to it.
  const auto visible_of = [&](int32_t ColumnObjectID, int32_t Code) -> TORVAdvFieldDef* {
    const int32_t column = ORVFieldDefs.GetDefNumberByObjectId(ColumnObjectID);
    if (column == -1) throw EORVException(Code, "Field #%d not found", {ColumnObjectID});
    for (int32_t i = 0; i < VisibleFieldDefs.GetCount(); ++i)
      if (VisibleFieldDefs.GetDef(i)->FieldNoReference == column) return AdvFieldDefs[i];
    return nullptr;
  };
  for (int32_t i = 0; i < ORVConstraintDefs.GetCount(); ++i) {
    const TORVConstraintDef* constraint = ORVConstraintDefs.GetDef(i);
    switch (constraint->ConstraintType) {
      case ctPK:
      case ctUnique:
        break;
      case ctNotNull: {
        const auto* not_null = static_cast<const TORVConstraintDefNotNull*>(constraint);
        if (TORVAdvFieldDef* def = visible_of(not_null->ColumnObjectID, 30032)) def->Required = true;
        break;
      }
      case ctCheck: {
        const auto* check = static_cast<const TORVConstraintDefCheck*>(constraint);
        if (TORVAdvFieldDef* def = visible_of(check->ColumnObjectID, 30031)) {
          CopyValue(*def->MinValue, *check->MinValue);
          CopyValue(*def->MaxValue, *check->MaxValue);
        }
        break;
      }
      default:
        throw EORVException(30039, "Not implemented yet");
    }
  }
}

void ConvertORVFieldDefsToFieldDefs(const TORVFieldDefs& ORVFieldDefs, const TORVConstraintDefs& ORVConstraintDefs,
                                    TFieldDefs& FieldDefs) {
  FieldDefs.Clear();
  for (int32_t i = 0; i < ORVFieldDefs.GetCount(); ++i) {
    const TORVFieldDef& source = *ORVFieldDefs.GetDef(i);
    const auto type = static_cast<TFieldType>(ORVAdvFieldTypeToFieldType(source.AdvancedFieldType));
    const int32_t size =
        type != platform::data::ftGuid && IsSizebleFieldType(source.AdvancedFieldType) ? source.FieldSize : 0;
    FieldDefs.Add(ToPlatformText(source.Name), type, size, false);
  }
  for (int32_t i = 0; i < ORVConstraintDefs.GetCount(); ++i) {
    const TORVConstraintDef* constraint = ORVConstraintDefs.GetDef(i);
    if (constraint->ConstraintType != ctNotNull) continue;
    const auto* not_null = static_cast<const TORVConstraintDefNotNull*>(constraint);
    const int32_t column = ORVFieldDefs.GetDefNumberByObjectId(not_null->ColumnObjectID);
    if (column == -1) continue;
    platform::data::TFieldDef* def = FieldDefs.Find(ToPlatformText(ORVFieldDefs.GetDef(column)->Name));
    // The engine fills autoincrement columns itself: the dataset must not ask for a value.
    if (def->DataType() != platform::data::ftAutoInc) def->SetRequired(true);
  }
}

// ---- Index conversions ------------------------------------------------------------------------

void GetNamesList(std::vector<std::string>& List, const std::string& Names) {
  std::string text = Names;
  for (char& c : text)
    if (c == ',') c = ';';
  List.clear();
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find(';', pos);
    if (end == std::string::npos) end = text.size();
    List.push_back(Trim(text.substr(pos, end - pos)));
    pos = end + 1;
  }
}

void FillORVIndexDef(TORVIndexDef& ORVIndexDef, const std::string& Name, const std::string& Fields,
                     TIndexOptions Options, bool Temporary, const std::string& DescFields,
                     const std::string& CaseInsFields, const std::string& MaxIndexedSizes,
                     const TFieldDefs& FieldDefs) {
  if (Name.empty()) throw EORVException(20048, "Invalid index name '%s'", {std::string()});
  if (Fields.empty()) throw EORVException(20049, "Cannot find index field '%s'", {std::string()});
  ORVIndexDef.Name = EngineName(Name);
  ORVIndexDef.IndexType = itBTree;
  ORVIndexDef.Unique = Options.Contains(platform::data::ixUnique);
  ORVIndexDef.Primary = Options.Contains(platform::data::ixPrimary);
  ORVIndexDef.Temporary = Temporary;
  std::vector<std::string> fields, descending, case_insensitive, sizes;
  GetNamesList(fields, Fields);
  GetNamesList(descending, DescFields);
  GetNamesList(case_insensitive, CaseInsFields);
  GetNamesList(sizes, MaxIndexedSizes);
  ORVIndexDef.SetColumnCount(static_cast<int32_t>(fields.size()));
  for (size_t j = 0; j < fields.size(); ++j) {
    const std::string& name = fields[j];
    if (FieldDefs.IndexOf(ToPlatformText(name)) == -1)
      throw EORVException(20050, "Cannot find index field '%s'", {name});
    TORVIndexColumn& column = ORVIndexDef.Columns(static_cast<int32_t>(j));
    column.FieldName = EngineName(name);
    column.Descending = ListContains(descending, name) ||
                        (Options.Contains(platform::data::ixDescending) && descending.empty());
    column.CaseInsensitive = ListContains(case_insensitive, name) ||
                             (Options.Contains(platform::data::ixCaseInsensitive) && case_insensitive.empty());
    column.MaxIndexedSize = j < sizes.size() && !sizes[j].empty() ? platform::StrToInt(sizes[j]) : 20;
  }
}

void ConvertAdvIndexDefToORVIndexDef(const TORVAdvIndexDef& AdvIndexDef, TORVIndexDef& ORVIndexDef,
                                     const TFieldDefs& FieldDefs) {
  FillORVIndexDef(ORVIndexDef, AdvIndexDef.Name, AdvIndexDef.Fields, AdvIndexDef.Options, AdvIndexDef.Temporary,
                  AdvIndexDef.DescFields, AdvIndexDef.CaseInsFields, AdvIndexDef.MaxIndexedSizes, FieldDefs);
}

void ConvertAdvIndexDefsToORVIndexDefs(const TORVAdvIndexDefs& AdvIndexDefs, TORVIndexDefs& ORVIndexDefs,
                                       const TFieldDefs& FieldDefs) {
  ORVIndexDefs.Clear();
  for (int32_t i = 0; i < AdvIndexDefs.GetCount(); ++i)
    ConvertAdvIndexDefToORVIndexDef(*AdvIndexDefs[i], *ORVIndexDefs.AddCreated(), FieldDefs);
}

void ConvertORVIndexDefToAdvIndexDef(const TORVIndexDef& ORVIndexDef, TORVAdvIndexDef& AdvIndexDef) {
  std::vector<std::string> fields, descending, case_insensitive, sizes;
  for (int32_t j = 0; j < ORVIndexDef.ColumnCount(); ++j) {
    const TORVIndexColumn& column = ORVIndexDef.Columns(j);
    fields.push_back(column.FieldName);
    if (column.Descending) descending.push_back(column.FieldName);
    if (column.CaseInsensitive) case_insensitive.push_back(column.FieldName);
    sizes.push_back(std::to_string(column.MaxIndexedSize));
  }
  AdvIndexDef.Name = ORVIndexDef.Name;
  AdvIndexDef.Fields = Joined(fields);
  AdvIndexDef.DescFields = Joined(descending);
  AdvIndexDef.CaseInsFields = Joined(case_insensitive);
  AdvIndexDef.MaxIndexedSizes = Joined(sizes);
  AdvIndexDef.Options = {};
  if (ORVIndexDef.Unique) AdvIndexDef.Options.Include(platform::data::ixUnique);
  if (ORVIndexDef.Primary) AdvIndexDef.Options.Include(platform::data::ixPrimary);
  AdvIndexDef.Temporary = ORVIndexDef.Temporary;
}

void ConvertORVIndexDefsToAdvIndexDefs(const TORVIndexDefs& ORVIndexDefs, TORVAdvIndexDefs& AdvIndexDefs) {
  AdvIndexDefs.Clear();
  for (int32_t i = 0; i < ORVIndexDefs.GetCount(); ++i)
    ConvertORVIndexDefToAdvIndexDef(*ORVIndexDefs.GetIndexDef(i), *AdvIndexDefs.AddIndexDef());
}

void ConvertAdvIndexDefsToIndexDefs(const TORVAdvIndexDefs& AdvIndexDefs, TIndexDefs& IndexDefs) {
  IndexDefs.Clear();
  for (int32_t i = 0; i < AdvIndexDefs.GetCount(); ++i) {
    const TORVAdvIndexDef& source = *AdvIndexDefs[i];
    TIndexOptions options = source.Options;
    const std::string fields = AnsiUpperCase(Trim(source.Fields));
    if (fields == AnsiUpperCase(Trim(source.DescFields))) options.Include(platform::data::ixDescending);
    if (fields == AnsiUpperCase(Trim(source.CaseInsFields))) options.Include(platform::data::ixCaseInsensitive);
    platform::data::TIndexDef* def =
        IndexDefs.Add(ToPlatformText(source.Name), ToPlatformText(source.Fields), options);
    def->SetDescFields(ToPlatformText(source.DescFields));
    def->SetCaseInsFields(ToPlatformText(source.CaseInsFields));
  }
}

void ConvertIndexDefsToAdvIndexDefs(const TIndexDefs& IndexDefs, TORVAdvIndexDefs& AdvIndexDefs) {
  AdvIndexDefs.Clear();
  for (int i = 0; i < IndexDefs.Count(); ++i) {
    const platform::data::TIndexDef& source = *IndexDefs[i];
    AdvIndexDefs.Add(ToEngineText(source.Name()), ToEngineText(source.Fields()), source.Options(), false,
                     ToEngineText(source.DescFields()), ToEngineText(source.CaseInsFields()), {});
  }
}

bool FindFieldInFieldDefs(const TFieldDefs& FieldDefs, const std::string& Name) {
  const std::string wanted = AnsiUpperCase(Name);
  for (int i = 0; i < FieldDefs.Count(); ++i)
    if (AnsiUpperCase(ToEngineText(FieldDefs[i]->Name())) == wanted) return true;
  return false;
}

}  // namespace orv

#include "pdfwriter/mrvx_objs.h"

#include <cmath>
#include <stdexcept>

namespace pdfwriter {
namespace {

std::unique_ptr<TMRVXObject> Adopt(std::unique_ptr<TMRVXObject> obj, TMRVXObject* container) {
  if (obj && obj->IsIndirect)
    throw std::logic_error("an indirect object belongs to the document; a container takes a link to it");
  if (obj) obj->FParent = container;
  return obj;
}

std::unique_ptr<TMRVXLink> LinkTo(const TMRVXObject& indirect) {
  if (!indirect.IsIndirect) throw std::logic_error("a link can only name an indirect object");
  return std::make_unique<TMRVXLink>(indirect.ID);
}

}  // namespace

std::string LowerKey(std::string_view s) {
  std::string out(s);
  for (char& ch : out) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) ch = static_cast<char>(c + 0x20);
    else if (c == 0x8A || c == 0x8C || c == 0x8E) ch = static_cast<char>(c + 0x10);  // Š Œ Ž
    else if (c == 0x9F) ch = static_cast<char>(0xFF);                                 // Ÿ
  }
  return out;
}

// ---- array ----

TMRVXObject* TMRVXArrayObject::Insert(size_t Index, std::unique_ptr<TMRVXObject> ValObject) {
  if (Index > Items.size()) throw std::out_of_range("array index " + std::to_string(Index) + " out of range");
  TMRVXObject* raw = ValObject.get();
  Items.insert(Items.begin() + static_cast<std::ptrdiff_t>(Index), std::move(ValObject));
  return raw;
}

TMRVXObject* TMRVXArrayObject::AddObject(std::unique_ptr<TMRVXObject> ValObject) {
  if (!ValObject) return nullptr;
  return Insert(Items.size(), Adopt(std::move(ValObject), this));
}

TMRVXLink* TMRVXArrayObject::AddLink(const TMRVXObject& Indirect) {
  return static_cast<TMRVXLink*>(AddObject(LinkTo(Indirect)));
}

TMRVXBooleanObject* TMRVXArrayObject::AddBooleanValue(bool Value) {
  return static_cast<TMRVXBooleanObject*>(AddObject(std::make_unique<TMRVXBooleanObject>(this, Value)));
}
TMRVXNumericObject* TMRVXArrayObject::AddNumericValue(float Value) {
  return static_cast<TMRVXNumericObject*>(AddObject(std::make_unique<TMRVXNumericObject>(this, Value)));
}
TMRVXNumericObject* TMRVXArrayObject::AddIntegerValue(int64_t Value) {
  return static_cast<TMRVXNumericObject*>(
      AddObject(std::make_unique<TMRVXNumericObject>(this, static_cast<double>(Value))));
}
TMRVXStringObject* TMRVXArrayObject::AddStringValue(std::string Value) {
  return static_cast<TMRVXStringObject*>(AddObject(std::make_unique<TMRVXStringObject>(this, std::move(Value))));
}
TMRVXNameObject* TMRVXArrayObject::AddNameValue(std::string Value) {
  return static_cast<TMRVXNameObject*>(AddObject(std::make_unique<TMRVXNameObject>(this, std::move(Value))));
}

TMRVXObject* TMRVXArrayObject::GetIndexedItem(size_t Index) const { return Items.at(Index).get(); }

TMRVXObject* TMRVXArrayObject::SetIndexedItem(size_t Index, std::unique_ptr<TMRVXObject> ValObject) {
  if (!ValObject) return nullptr;
  return Insert(Index, Adopt(std::move(ValObject), this));
}

TMRVXLink* TMRVXArrayObject::SetIndexedLink(size_t Index, const TMRVXObject& Indirect) {
  return static_cast<TMRVXLink*>(SetIndexedItem(Index, LinkTo(Indirect)));
}

// ---- dictionary ----

int TMRVXDictionaryObject::FindValue(std::string_view Key) const {
  const std::string k = LowerKey(Key);
  for (size_t i = 0; i < Items.size(); ++i)
    if (LowerKey(Items[i].Key) == k) return static_cast<int>(i);
  return -1;
}

TMRVXObject* TMRVXDictionaryObject::GetValue(std::string_view Key) const {
  const int i = FindValue(Key);
  return i < 0 ? nullptr : Items[static_cast<size_t>(i)].Value.get();
}

TMRVXObject* TMRVXDictionaryObject::GetIndexedItem(size_t Index) const { return Items.at(Index).Value.get(); }
const std::string& TMRVXDictionaryObject::GetIndexedKey(size_t Index) const { return Items.at(Index).Key; }

TMRVXObject* TMRVXDictionaryObject::AddValue(std::string_view Key, std::unique_ptr<TMRVXObject> Value) {
  if (!Value) return nullptr;
  Value = Adopt(std::move(Value), this);
  TMRVXObject* raw = Value.get();
  const int i = FindValue(Key);
  if (i < 0) Items.push_back({std::string(Key), std::move(Value)});
  else Items[static_cast<size_t>(i)].Value = std::move(Value);
  return raw;
}

TMRVXLink* TMRVXDictionaryObject::AddLink(std::string_view Key, const TMRVXObject& Indirect) {
  return static_cast<TMRVXLink*>(AddValue(Key, LinkTo(Indirect)));
}

TMRVXBooleanObject* TMRVXDictionaryObject::AddBooleanValue(std::string_view Key, bool Value) {
  return static_cast<TMRVXBooleanObject*>(AddValue(Key, std::make_unique<TMRVXBooleanObject>(this, Value)));
}
TMRVXNumericObject* TMRVXDictionaryObject::AddNumericValue(std::string_view Key, float Value) {
  return static_cast<TMRVXNumericObject*>(AddValue(Key, std::make_unique<TMRVXNumericObject>(this, Value)));
}
TMRVXNumericObject* TMRVXDictionaryObject::AddIntegerValue(std::string_view Key, int64_t Value) {
  return static_cast<TMRVXNumericObject*>(
      AddValue(Key, std::make_unique<TMRVXNumericObject>(this, static_cast<double>(Value))));
}
TMRVXStringObject* TMRVXDictionaryObject::AddStringValue(std::string_view Key, std::string Value) {
  return static_cast<TMRVXStringObject*>(AddValue(Key, std::make_unique<TMRVXStringObject>(this, std::move(Value))));
}
TMRVXNameObject* TMRVXDictionaryObject::AddNameValue(std::string_view Key, std::string Value) {
  return static_cast<TMRVXNameObject*>(AddValue(Key, std::make_unique<TMRVXNameObject>(this, std::move(Value))));
}
TMRVXDictionaryObject* TMRVXDictionaryObject::AddDictionary(std::string_view Key) {
  return static_cast<TMRVXDictionaryObject*>(AddValue(Key, std::make_unique<TMRVXDictionaryObject>(this)));
}
TMRVXArrayObject* TMRVXDictionaryObject::AddArray(std::string_view Key) {
  return static_cast<TMRVXArrayObject*>(AddValue(Key, std::make_unique<TMRVXArrayObject>(this)));
}

TMRVXObject* TMRVXDictionaryObject::ReplaceValue(std::string_view Key, std::unique_ptr<TMRVXObject> Value) {
  if (!Value) return nullptr;
  Value = Adopt(std::move(Value), this);
  DeleteValue(Key);
  TMRVXObject* raw = Value.get();
  Items.push_back({std::string(Key), std::move(Value)});
  return raw;
}

void TMRVXDictionaryObject::DeleteValue(std::string_view Key) {
  const int i = FindValue(Key);
  if (i >= 0) Items.erase(Items.begin() + i);
}

// ---- stream ----

TMRVXStreamObject::TMRVXStreamObject(TMRVXObject* Parent)
    : TMRVXObject(TMRVXObjectType::otStream, Parent), Dictionary(std::make_unique<TMRVXDictionaryObject>(this)) {}

int64_t TMRVXStreamObject::GetLength() const {
  const TMRVXObject* v = Dictionary->GetValue("Length");
  if (!v) throw EMRVXError("This stream without a length item");
  if (v->ObjectType() != TMRVXObjectType::otNumeric) throw EMRVXError("Invalid stream length.");
  return static_cast<int64_t>(std::llround(static_cast<const TMRVXNumericObject*>(v)->Value));
}

void TMRVXStreamObject::SetLength(int64_t Value) {
  if (Dictionary->FindValue("Length") < 0) throw EMRVXError("This stream without a length item");
  Dictionary->AddIntegerValue("Length", Value);
}

}  // namespace pdfwriter

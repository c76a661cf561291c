#pragma once
// The in-memory PDF object graph. Nine kinds of object carry a type tag and are handled by
// switching on it. Ownership is the rule the whole writer rests on:
// - the document owns every indirect object (its list of indirect objects);
// - a container owns every direct object put into it, and refers to an indirect object only
//   through a link (a TMRVXLink carrying the object's number) that it owns;
// - an object made outside any container belongs to its maker until it is added somewhere.
// In C++ this is spelled out in the signatures: direct objects move in as unique_ptr,
// indirect objects are passed by reference to AddLink.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "pdfwriter/mrvx_types.h"

namespace pdfwriter {

enum class TMRVXObjectType : uint8_t {
  otBoolean = 0,
  otNumeric = 1,
  otString = 2,
  otName = 3,
  otArray = 4,
  otDictionary = 5,
  otStream = 6,
  otNull = 7,
  otLink = 8,
};

struct TMRVXObjectNumber {
  int32_t ObjectNumber = 0;
  int32_t GenerationNumber = 0;
  friend bool operator==(const TMRVXObjectNumber&, const TMRVXObjectNumber&) = default;
};

class TMRVXObject {
 public:
  virtual ~TMRVXObject() = default;
  TMRVXObject(const TMRVXObject&) = delete;
  TMRVXObject& operator=(const TMRVXObject&) = delete;

  TMRVXObjectType ObjectType() const { return FObjectType; }

  // Object and generation number; meaningful for indirect objects only (0 0 otherwise).
  TMRVXObjectNumber ID;
  // The container that holds the object (a back link, never owned). Set at construction and
  // again whenever a container takes the object, so it never names a container that is gone.
  TMRVXObject* FParent = nullptr;
  // Lives in the document's list of indirect objects and is written as a numbered object.
  bool IsIndirect = false;
  // Stays in memory but is not written.
  bool IsDeleted = false;

 protected:
  TMRVXObject(TMRVXObjectType type, TMRVXObject* parent) : FParent(parent), FObjectType(type) {}

 private:
  TMRVXObjectType FObjectType;
};

class TMRVXNullObject : public TMRVXObject {
 public:
  TMRVXNullObject() : TMRVXObject(TMRVXObjectType::otNull, nullptr) {}
};

class TMRVXBooleanObject : public TMRVXObject {
 public:
  explicit TMRVXBooleanObject(TMRVXObject* Parent, bool value = false)
      : TMRVXObject(TMRVXObjectType::otBoolean, Parent), Value(value) {}
  bool Value;
};

// Numbers are single-precision values, written as the decimal expansion of their binary value
// (595.3 is written 595.29998778). Whole numbers are kept exactly, also beyond the 24 bits a
// single holds, so that a stream length or a count above 16,777,216 is never rounded.
class TMRVXNumericObject : public TMRVXObject {
 public:
  explicit TMRVXNumericObject(TMRVXObject* Parent, double value = 0)
      : TMRVXObject(TMRVXObjectType::otNumeric, Parent), Value(value) {}
  double Value;
};

// Raw, unescaped bytes; when IsHexadecimal, Value holds hexadecimal digits written in <>.
class TMRVXStringObject : public TMRVXObject {
 public:
  explicit TMRVXStringObject(TMRVXObject* Parent, std::string value = {}, bool hexadecimal = false)
      : TMRVXObject(TMRVXObjectType::otString, Parent), Value(std::move(value)), IsHexadecimal(hexadecimal) {}
  std::string Value;
  bool IsHexadecimal;
};

// The name without its leading solidus.
class TMRVXNameObject : public TMRVXObject {
 public:
  explicit TMRVXNameObject(TMRVXObject* Parent, std::string value = {})
      : TMRVXObject(TMRVXObjectType::otName, Parent), Value(std::move(value)) {}
  std::string Value;
};

class TMRVXLink : public TMRVXObject {
 public:
  explicit TMRVXLink(TMRVXObjectNumber value = {}) : TMRVXObject(TMRVXObjectType::otLink, nullptr), Value(value) {}
  TMRVXObjectNumber Value;
};

class TMRVXArrayObject : public TMRVXObject {
 public:
  explicit TMRVXArrayObject(TMRVXObject* Parent) : TMRVXObject(TMRVXObjectType::otArray, Parent) {}

  // Appends a direct object (nothing for null) and returns it. Throws std::logic_error for an
  // indirect object: those are added with AddLink.
  TMRVXObject* AddObject(std::unique_ptr<TMRVXObject> ValObject);
  // Appends a link to an indirect object (std::logic_error for a direct one).
  TMRVXLink* AddLink(const TMRVXObject& Indirect);
  TMRVXBooleanObject* AddBooleanValue(bool Value);
  TMRVXNumericObject* AddNumericValue(float Value);
  TMRVXNumericObject* AddIntegerValue(int64_t Value);
  TMRVXStringObject* AddStringValue(std::string Value);
  TMRVXNameObject* AddNameValue(std::string Value);

  // The element at Index; std::out_of_range outside the list.
  TMRVXObject* GetIndexedItem(size_t Index) const;
  // INSERTS at Index (0..Count), shifting the following elements; replaces nothing.
  TMRVXObject* SetIndexedItem(size_t Index, std::unique_ptr<TMRVXObject> ValObject);
  TMRVXLink* SetIndexedLink(size_t Index, const TMRVXObject& Indirect);

  size_t Count() const { return Items.size(); }
  void Clear() { Items.clear(); }

  std::vector<std::unique_ptr<TMRVXObject>> Items;

 private:
  TMRVXObject* Insert(size_t Index, std::unique_ptr<TMRVXObject> ValObject);
};

class TMRVXDictionaryObject;

struct TMRVXDictionaryItem {
  std::string Key;  // without the solidus
  std::unique_ptr<TMRVXObject> Value;
};

// Items keep their insertion order; keys compare without regard to case.
class TMRVXDictionaryObject : public TMRVXObject {
 public:
  explicit TMRVXDictionaryObject(TMRVXObject* Parent) : TMRVXObject(TMRVXObjectType::otDictionary, Parent) {}

  // Adds or replaces in place: an existing key keeps its position and gets the new value.
  // Nothing for null; std::logic_error for an indirect object (use AddLink).
  TMRVXObject* AddValue(std::string_view Key, std::unique_ptr<TMRVXObject> Value);
  // The same with a link to an indirect object.
  TMRVXLink* AddLink(std::string_view Key, const TMRVXObject& Indirect);
  TMRVXBooleanObject* AddBooleanValue(std::string_view Key, bool Value);
  TMRVXNumericObject* AddNumericValue(std::string_view Key, float Value);
  TMRVXNumericObject* AddIntegerValue(std::string_view Key, int64_t Value);
  TMRVXStringObject* AddStringValue(std::string_view Key, std::string Value);
  TMRVXNameObject* AddNameValue(std::string_view Key, std::string Value);
  // A new empty direct dictionary or array under Key.
  TMRVXDictionaryObject* AddDictionary(std::string_view Key);
  TMRVXArrayObject* AddArray(std::string_view Key);

  // Removes an existing key and appends the new value at the end.
  TMRVXObject* ReplaceValue(std::string_view Key, std::unique_ptr<TMRVXObject> Value);
  // Removes a key; nothing when it is absent.
  void DeleteValue(std::string_view Key);

  // Position of the key, or -1.
  int FindValue(std::string_view Key) const;
  // The value under Key, or null.
  TMRVXObject* GetValue(std::string_view Key) const;
  // Value and key at Index (insertion order); std::out_of_range outside the list.
  TMRVXObject* GetIndexedItem(size_t Index) const;
  const std::string& GetIndexedKey(size_t Index) const;
  size_t Count() const { return Items.size(); }

  std::vector<TMRVXDictionaryItem> Items;
};

class TMRVXStreamObject : public TMRVXObject {
 public:
  explicit TMRVXStreamObject(TMRVXObject* Parent);

  // The "Length" of the dictionary. Both throw "This stream without a length item" when the
  // dictionary has none; the writer sets it to the size of Stream when it saves.
  int64_t GetLength() const;
  void SetLength(int64_t Value);

  std::unique_ptr<TMRVXDictionaryObject> Dictionary;
  // The already encoded bytes.
  std::string Stream;
};

// Byte strings compare as keys do: ASCII and the Windows-1252 letters without regard to case.
std::string LowerKey(std::string_view s);

// The object as the kind it is, or null for any other kind (or null).
template <typename T, TMRVXObjectType Kind>
T* AsKind(TMRVXObject* obj) {
  return obj && obj->ObjectType() == Kind ? static_cast<T*>(obj) : nullptr;
}
template <typename T, TMRVXObjectType Kind>
const T* AsKind(const TMRVXObject* obj) {
  return obj && obj->ObjectType() == Kind ? static_cast<const T*>(obj) : nullptr;
}
inline TMRVXDictionaryObject* AsDictionary(TMRVXObject* obj) {
  return AsKind<TMRVXDictionaryObject, TMRVXObjectType::otDictionary>(obj);
}
inline TMRVXArrayObject* AsArray(TMRVXObject* obj) { return AsKind<TMRVXArrayObject, TMRVXObjectType::otArray>(obj); }
inline TMRVXStreamObject* AsStream(TMRVXObject* obj) { return AsKind<TMRVXStreamObject, TMRVXObjectType::otStream>(obj); }
inline TMRVXNumericObject* AsNumber(TMRVXObject* obj) {
  return AsKind<TMRVXNumericObject, TMRVXObjectType::otNumeric>(obj);
}
inline const TMRVXNameObject* AsName(const TMRVXObject* obj) {
  return AsKind<TMRVXNameObject, TMRVXObjectType::otName>(obj);
}

}  // namespace pdfwriter

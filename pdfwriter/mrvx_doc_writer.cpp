// The serializer of TMorvex: object syntax, renumbering, cross-reference table and trailer.
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <string>

#include "pdfwriter/mrvx_doc.h"

namespace pdfwriter {
namespace {

std::string IntegerText(double v) {
  if (std::fabs(v) < 9e18) return std::to_string(static_cast<long long>(v));
  char buf[400];
  std::snprintf(buf, sizeof buf, "%.0f", v);
  return buf;
}

// A name's bytes: spaces as #20, as always; also the bytes a PDF name cannot hold literally
// (delimiters, '#', controls and bytes above 126), so that a face name with such a byte
// cannot end the name early and break the file.
std::string NameText(std::string_view value) {
  const size_t first = value.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  value = value.substr(first, value.find_last_not_of(' ') - first + 1);
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(value.size());
  for (unsigned char c : value) {
    const bool plain = c > 32 && c < 127 && c != '#' && c != '/' && c != '(' && c != ')' && c != '<' && c != '>' &&
                       c != '[' && c != ']' && c != '{' && c != '}' && c != '%';
    if (plain) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('#');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0x0F]);
    }
  }
  return out;
}

// The bytes of hexadecimal digit text (blanks skipped; an odd last digit counts as followed by 0).
std::string HexValue(std::string_view hex) {
  std::string out;
  int hi = -1;
  for (char c : hex) {
    int v;
    if (c >= '0' && c <= '9') v = c - '0';
    else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    else continue;
    if (hi < 0) {
      hi = v;
    } else {
      out.push_back(static_cast<char>(hi << 4 | v));
      hi = -1;
    }
  }
  if (hi >= 0) out.push_back(static_cast<char>(hi << 4));
  return out;
}

std::string HexText(std::string_view bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out.push_back(kHex[c >> 4]);
    out.push_back(kHex[c & 15]);
  }
  return out;
}

}  // namespace

// Whole numbers exactly; other values as the decimal expansion of their single-precision
// binary value: the fraction is multiplied by ten in single precision until it is whole.
std::string NumberText(double value) {
  if (!std::isfinite(value)) return "0";
  if (value == std::trunc(value)) return IntegerText(value);
  const float f = static_cast<float>(value);
  const float ip = std::trunc(f);
  if (f == ip) return IntegerText(ip);
  float x = (f - ip) * 10.0f;
  int count = 1;
  while (x != std::nearbyint(x)) {
    x = x * 10.0f;
    ++count;
  }
  std::string digits = IntegerText(std::fabs(x));
  if (static_cast<int>(digits.size()) > count)  // the fraction rounded up to a whole unit
    return IntegerText(ip + (f < 0 ? -1.0f : 1.0f));
  digits.insert(0, static_cast<size_t>(count) - digits.size(), '0');
  return std::string(f < 0 ? "-" : "") + IntegerText(std::fabs(ip)) + "." + digits;
}

std::string TMorvex::Reference(const TMRVXObjectNumber& id) const {
  const auto it = LinkTable.find(id);
  // A reference to an object that is not written (deleted, or never part of the document)
  // is the null object: writing its old number would name whatever object now carries it.
  if (it == LinkTable.end()) return "null";
  return std::to_string(it->second) + " 0 R";
}

std::string TMorvex::ObjectHeader(const TMRVXObject* obj) const {
  return std::to_string(LinkTable.at(obj->ID)) + " 0 obj";
}

size_t TMorvex::SaveObjectValue(const TMRVXObject* obj, const std::string& text, std::string& out) const {
  const size_t start = out.size();
  if (obj->IsIndirect) out += ObjectHeader(obj) + "\r\n" + text + "\r\nendobj\r\n";
  else out += text;
  return out.size() - start;
}

size_t TMorvex::SaveNumericObject(const TMRVXObject* obj, std::string& out) const {
  return SaveObjectValue(obj, NumberText(static_cast<const TMRVXNumericObject*>(obj)->Value), out);
}

size_t TMorvex::SaveStringObject(const TMRVXObject* obj, std::string& out) const {
  const auto* s = static_cast<const TMRVXStringObject*>(obj);
  // Strings are encrypted with the number of the top-level object that holds them, except in
  // the encryption dictionary itself. Hexadecimal strings too: a reader decrypts every string
  // of an encrypted file, so a plain one would reach it garbled.
  const bool crypt = Protected() && !FSavingEncrypt && FSavingObjNum > 0;
  if (s->IsHexadecimal) {
    if (!crypt) return SaveObjectValue(obj, "<" + s->Value + ">", out);
    return SaveObjectValue(obj, "<" + HexText(CryptString(HexValue(s->Value), FSavingObjNum)) + ">", out);
  }
  const std::string value = crypt ? CryptString(s->Value, FSavingObjNum) : s->Value;
  return SaveObjectValue(obj, "(" + _EscapeText(value) + ")", out);
}

size_t TMorvex::SaveNameObject(const TMRVXObject* obj, std::string& out) const {
  return SaveObjectValue(obj, "/" + NameText(static_cast<const TMRVXNameObject*>(obj)->Value), out);
}

size_t TMorvex::SaveLinkObject(const TMRVXObject* obj, std::string& out) const {
  return SaveObjectValue(obj, Reference(static_cast<const TMRVXLink*>(obj)->Value), out);
}

size_t TMorvex::SaveArrayObject(const TMRVXObject* obj, std::string& out) const {
  const auto* arr = static_cast<const TMRVXArrayObject*>(obj);
  const size_t start = out.size();
  if (obj->IsIndirect) out += ObjectHeader(obj) + "\r\n";
  out += "[ ";
  size_t since_break = 0;
  for (size_t i = 0; i < arr->Items.size(); ++i) {
    const TMRVXObject* el = arr->Items[i].get();
    if (el->IsDeleted) continue;
    // Long arrays are broken into lines of about 100 bytes.
    if (since_break >= 100) {
      out += "\r\n";
      since_break = 0;
    }
    since_break += SaveTypeObject(el, out, true);
    if (i + 1 < arr->Items.size()) out += ' ';
  }
  out += " ]";
  if (obj->IsIndirect) out += "\r\nendobj\r\n";
  return out.size() - start;
}

size_t TMorvex::SaveDictionaryObject(const TMRVXObject* obj, std::string& out, bool nested) const {
  const auto* dict = static_cast<const TMRVXDictionaryObject*>(obj);
  const size_t start = out.size();
  const bool top = obj->IsIndirect && !nested;
  if (top) out += ObjectHeader(obj) + "\n<< \n";
  else out += "<< ";
  for (const TMRVXDictionaryItem& item : dict->Items) {
    if (item.Value->IsDeleted) continue;
    out += '/';
    out += NameText(item.Key);
    out += ' ';
    SaveTypeObject(item.Value.get(), out, true);
    const TMRVXObjectType t = item.Value->ObjectType();
    if (t != TMRVXObjectType::otString && t != TMRVXObjectType::otDictionary) out += ' ';
    if (top) out += '\n';
  }
  out += ">> ";
  if (top) out += "\nendobj\n";
  return out.size() - start;
}

size_t TMorvex::SaveStreamObject(const TMRVXObject* obj, std::string& out) const {
  const auto* stream = static_cast<const TMRVXStreamObject*>(obj);
  const size_t start = out.size();
  // A copy is encrypted: the bytes in memory stay plain. RC4 keeps the length; AES adds its
  // initialisation vector and padding, so the length is that of the bytes written.
  std::string encrypted;
  const bool crypt = Protected() && obj->IsIndirect;
  if (crypt) {
    encrypted = stream->Stream;
    CryptStream(encrypted, LinkTable.at(obj->ID));
  }
  const std::string& data = crypt ? encrypted : stream->Stream;
  stream->Dictionary->AddIntegerValue("Length", static_cast<int64_t>(data.size()));
  if (obj->IsIndirect) out += ObjectHeader(obj) + "\n";
  SaveDictionaryObject(stream->Dictionary.get(), out, true);
  out += "\nstream\n";
  out += data;
  out += "\nendstream\n";
  if (obj->IsIndirect) out += "endobj\n";
  return out.size() - start;
}

size_t TMorvex::SaveTypeObject(const TMRVXObject* obj, std::string& out, bool nested) const {
  switch (obj->ObjectType()) {
    case TMRVXObjectType::otBoolean:
      return SaveObjectValue(obj, static_cast<const TMRVXBooleanObject*>(obj)->Value ? "true" : "false", out);
    case TMRVXObjectType::otNumeric: return SaveNumericObject(obj, out);
    case TMRVXObjectType::otString: return SaveStringObject(obj, out);
    case TMRVXObjectType::otName: return SaveNameObject(obj, out);
    case TMRVXObjectType::otArray: return SaveArrayObject(obj, out);
    case TMRVXObjectType::otDictionary: return SaveDictionaryObject(obj, out, nested);
    case TMRVXObjectType::otStream: return SaveStreamObject(obj, out);
    case TMRVXObjectType::otNull: return SaveObjectValue(obj, "null", out);
    case TMRVXObjectType::otLink: return SaveLinkObject(obj, out);
  }
  return 0;
}

void TMorvex::SaveToStream(std::string& DocStream) {
  std::string& out = DocStream;
  out.clear();
  out += "%PDF-1.4\n%vPlC\n";

  LinkTable.clear();
  int32_t counter = 0;
  for (const auto& obj : FIndirectObjects)
    if (!obj->IsDeleted) LinkTable[obj->ID] = ++counter;

  std::vector<size_t> offsets;
  offsets.reserve(static_cast<size_t>(counter));
  for (const auto& obj : FIndirectObjects) {
    if (obj->IsDeleted) continue;
    offsets.push_back(out.size());
    FSavingObjNum = LinkTable.at(obj->ID);
    FSavingEncrypt = FEncryprtIndex >= 0 && obj->ID == FEncryprtLink;
    SaveTypeObject(obj.get(), out, false);
  }

  FSavingObjNum = 0;
  FSavingEncrypt = false;
  const size_t xref = out.size();
  if (xref > 9'999'999'999ull) throw EMRVXError("The document is too large for its cross-reference table.");
  out += "xref\r\n0 " + std::to_string(counter + 1) + "\r\n0000000000 65535 f\r\n";
  char entry[32];
  for (size_t off : offsets) {
    std::snprintf(entry, sizeof entry, "%010zu 00000 n\r\n", off);
    out += entry;
  }
  out += "trailer\r\n<<\r\n/Size " + std::to_string(counter + 1) + "\r\n";
  const auto ref = [this](const TMRVXObjectNumber& id) {
    const auto it = LinkTable.find(id);
    return it == LinkTable.end() ? std::string("0 0") : std::to_string(it->second) + " 0";
  };
  out += "/Root " + ref(FRootLink) + " R\r\n";
  out += "/Info " + ref(FInfoLink) + " R\r\n";
  if (Protected()) {
    out += "/Encrypt " + ref(FEncryprtLink) + " R\r\n";
    out += "/ID [<" + FDocID + "> <" + FDocID + ">]\r\n";
  }
  out += ">>\r\nstartxref\r\n" + std::to_string(xref) + "\r\n%%EOF\r\n";
}

}  // namespace pdfwriter

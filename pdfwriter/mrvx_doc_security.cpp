// The standard security handler of TMorvex (part of the MRVXDoc module): the encryption
// dictionary, the owner and user entries, the document key and RC4 of strings and streams.
#include <array>
#include <cstring>
#include <random>

#include "pdfwriter/mrvx_crypt.h"
#include "pdfwriter/mrvx_doc.h"

namespace pdfwriter {
namespace {

using Block32 = std::array<uint8_t, 32>;

// The first min(SL, 32) bytes of S, filled up to 32 with the start of the padding string.
Block32 PadTrunc(std::string_view S) {
  Block32 d{};
  const size_t n = std::min<size_t>(S.size(), 32);
  std::memcpy(d.data(), S.data(), n);
  std::memcpy(d.data() + n, PadStr.data(), 32 - n);
  return d;
}

void Rc4(const uint8_t* key, size_t key_len, uint8_t* data, size_t len) {
  TRC4Data st;
  RC4Init(st, key, key_len);
  RC4Crypt(st, data, data, len);
}

// RC4 under the key, then (revision 3) 19 more times under the key's bytes XORed with 1..19.
void Rc4Rounds(const uint8_t* key, size_t n, bool rev3, uint8_t* data, size_t len) {
  Rc4(key, n, data, len);
  if (!rev3) return;
  uint8_t k[16];
  for (uint8_t i = 1; i <= 19; ++i) {
    for (size_t b = 0; b < n; ++b) k[b] = key[b] ^ i;
    Rc4(k, n, data, len);
  }
}

std::array<uint8_t, 16> HexBytes(const std::string& hex) {
  std::array<uint8_t, 16> out{};
  const auto nib = [](char c) -> uint8_t {
    if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<uint8_t>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<uint8_t>(c - 'A' + 10);
    return 0;
  };
  for (size_t i = 0; i < 16 && 2 * i + 1 < hex.size(); ++i)
    out[i] = static_cast<uint8_t>(nib(hex[2 * i]) << 4 | nib(hex[2 * i + 1]));
  return out;
}

}  // namespace

TMRVXDictionaryObject* TMorvex::EncryptDictionary() const {
  if (FEncryprtIndex < 0) return nullptr;
  TMRVXObject* o = FIndirectObjects[static_cast<size_t>(FEncryprtIndex)].get();
  return o->ObjectType() == TMRVXObjectType::otDictionary ? static_cast<TMRVXDictionaryObject*>(o) : nullptr;
}

bool TMorvex::IsEncryptObj(const TMRVXObject* Obj) {
  if (!Obj || Obj->ObjectType() != TMRVXObjectType::otDictionary) return false;
  const auto* d = static_cast<const TMRVXDictionaryObject*>(Obj);
  return d->FindValue("V") >= 0 && d->FindValue("O") >= 0 && d->FindValue("U") >= 0;
}

void TMorvex::EnableEncrypt() {
  TMRVXDictionaryObject* enc = CreateIndirectDictionary();
  FEncryprtIndex = FMaxObjNum - 1;
  FEncryprtLink = enc->ID;
  enc->AddNameValue("Filter", "Standard");

  const auto has = [this](TMRVXProtection p) { return ProtectOptions.count(p) != 0; };
  if (FCryptKeyType == TMRVXKeyType::k40) {
    ProtectFlags = -64;
    enc->AddIntegerValue("V", 1);
    enc->AddIntegerValue("R", 2);
  } else if (FCryptKeyType == TMRVXKeyType::k128) {
    ProtectFlags = -3904;
    enc->AddIntegerValue("V", 2);
    enc->AddIntegerValue("R", 3);
    enc->AddIntegerValue("Length", 128);
  } else {
    // AES-128 through the standard crypt filter; the keys are those of revision 3, which
    // revision 4 keeps while the metadata is encrypted too.
    ProtectFlags = -3904;
    enc->AddNameValue("StmF", "StdCF");
    enc->AddIntegerValue("V", 4);
    enc->AddIntegerValue("R", 4);
    TMRVXDictionaryObject* std_cf = enc->AddDictionary("CF")->AddDictionary("StdCF");
    std_cf->AddIntegerValue("Length", 16);
    std_cf->AddNameValue("CFM", "AESV2");
    std_cf->AddNameValue("AuthEvent", "DocOpen");
    enc->AddNameValue("StrF", "StdCF");
    enc->AddIntegerValue("Length", 128);
  }
  if (has(TMRVXProtection::prPrint)) ProtectFlags += 4;
  if (has(TMRVXProtection::prModifyStructure)) ProtectFlags += 8;
  if (has(TMRVXProtection::prInformationCopy)) ProtectFlags += 16;
  if (has(TMRVXProtection::prEditAnnotations)) ProtectFlags += 32;
  if (FCryptKeyType != TMRVXKeyType::k40) {
    if (has(TMRVXProtection::prFillAnnotations)) ProtectFlags += 256;
    if (has(TMRVXProtection::prExtractContent)) ProtectFlags += 512;
    if (has(TMRVXProtection::prAssemble)) ProtectFlags += 1024;
    if (has(TMRVXProtection::prPrint12bit)) ProtectFlags += 2048;
  }

  CreateKeys();

  enc->AddIntegerValue("P", ProtectFlags);
  enc->AddStringValue("O", OwUsPass);
  enc->AddStringValue("U", UsPassStr);
}

void TMorvex::CreateKeys() {
  const bool rev3 = FRevision >= 3;
  const size_t n = rev3 ? 16 : 5;

  // Owner key.
  const Block32 owner = PadTrunc(OwnerPassword.empty() ? UserPassword : OwnerPassword);
  MD5Digest k = MD5String(owner.data(), owner.size());
  if (rev3)
    for (int i = 0; i < 50; ++i) k = MD5String(k.data(), k.size());

  // /O: the padded user password under the owner key.
  Block32 o = PadTrunc(UserPassword);
  Rc4Rounds(k.data(), n, rev3, o.data(), o.size());
  OwUsPass.assign(reinterpret_cast<const char*>(o.data()), o.size());

  // Document key.
  const Block32 user = PadTrunc(UserPassword);
  const std::array<uint8_t, 16> id = HexBytes(FDocID);
  const uint32_t p = static_cast<uint32_t>(ProtectFlags);
  const uint8_t pb[4] = {static_cast<uint8_t>(p), static_cast<uint8_t>(p >> 8), static_cast<uint8_t>(p >> 16),
                         static_cast<uint8_t>(p >> 24)};
  MD5Context ctx;
  MD5Init(ctx);
  MD5Update(ctx, user.data(), user.size());
  MD5Update(ctx, o.data(), o.size());
  MD5Update(ctx, pb, 4);
  MD5Update(ctx, id.data(), id.size());
  MD5Digest key{};
  MD5Final(ctx, key);
  if (rev3)
    for (int i = 0; i < 50; ++i) key = MD5String(key.data(), key.size());
  FCurrentKey.assign(reinterpret_cast<const char*>(key.data()), n);

  // /U.
  if (!rev3) {
    Block32 u = PadStr;
    Rc4(key.data(), n, u.data(), u.size());
    UsPassStr.assign(reinterpret_cast<const char*>(u.data()), u.size());
  } else {
    MD5Init(ctx);
    MD5Update(ctx, PadStr.data(), PadStr.size());
    MD5Update(ctx, id.data(), id.size());
    MD5Digest d{};
    MD5Final(ctx, d);
    Rc4Rounds(key.data(), n, true, d.data(), d.size());
    UsPassStr.assign(reinterpret_cast<const char*>(d.data()), d.size());
    UsPassStr.append(16, ' ');
  }
}

namespace {

// The key of one object: MD5 of the document key, the object number's three low bytes,
// generation 0 and, for AES, "sAlT"; cut to the document key's length plus 5 (at most 16).
std::array<uint8_t, 16> ObjectKey(const std::string& doc_key, int32_t obj, size_t& len, bool aes = false) {
  uint8_t buf[25];
  const size_t n = doc_key.size();
  std::memcpy(buf, doc_key.data(), n);
  buf[n] = static_cast<uint8_t>(obj);
  buf[n + 1] = static_cast<uint8_t>(obj >> 8);
  buf[n + 2] = static_cast<uint8_t>(obj >> 16);
  buf[n + 3] = 0;
  buf[n + 4] = 0;
  if (aes) std::memcpy(buf + n + 5, "sAlT", 4);
  const MD5Digest d = MD5String(buf, n + 5 + (aes ? 4 : 0));
  len = std::min<size_t>(n + 5, 16);
  std::array<uint8_t, 16> k{};
  std::memcpy(k.data(), d.data(), 16);
  return k;
}

// A fresh initialisation vector per string or stream.
std::string AesEncrypt(const std::string& doc_key, int32_t obj, std::string_view data) {
  size_t len = 0;
  const auto key = ObjectKey(doc_key, obj, len, true);
  static thread_local std::mt19937_64 rng{std::random_device{}()};
  uint8_t iv[16];
  for (uint8_t& b : iv) b = static_cast<uint8_t>(rng());
  return AES128CBCEncrypt(key.data(), iv, data);
}

}  // namespace

std::string TMorvex::CryptString(std::string_view Data, int32_t ObjID) const {
  // With AES even an empty string is a padded block: a reader decrypts every string.
  if (Protected() && FCryptKeyType == TMRVXKeyType::aes128) return AesEncrypt(FCurrentKey, ObjID, Data);
  std::string out(Data);
  if (!Protected() || out.empty()) return out;
  size_t len = 0;
  const auto key = ObjectKey(FCurrentKey, ObjID, len);
  Rc4(key.data(), len, reinterpret_cast<uint8_t*>(out.data()), out.size());
  return out;
}

void TMorvex::CryptStream(std::string& Data, int32_t ObjID) const {
  if (Protected() && FCryptKeyType == TMRVXKeyType::aes128) {
    Data = AesEncrypt(FCurrentKey, ObjID, Data);
    return;
  }
  if (!Protected() || Data.empty()) return;
  size_t len = 0;
  const auto key = ObjectKey(FCurrentKey, ObjID, len);
  Rc4(key.data(), len, reinterpret_cast<uint8_t*>(Data.data()), Data.size());
}

}  // namespace pdfwriter

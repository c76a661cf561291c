#include "app/ini_settings.h"

#include "platform/base/cp1252.h"
#include "platform/ini/profile.h"

namespace app::ini {

const char* PageName(Page page) {
  switch (page) {
    case Page::LAMS: return "LAMS";
    case Page::PLATE: return "PLATE";
    case Page::STRUCT: return "STRUCT";
    case Page::FILM: return "FILM";
  }
  return "LAMS";
}

std::string BrdKey(Page page) { return std::string("BRD") + PageName(page); }
std::string GammaKey(Page page) { return std::string("GAMMA") + PageName(page); }
std::string SharpKey(Page page) { return std::string("SHARP") + PageName(page); }
std::string SharpRefKey(Page page) { return std::string("SHARP") + PageName(page) + "REF"; }
std::string BrKey(Page page) { return std::string("BR") + PageName(page); }

std::string ImgSeqKey(int page, int j) { return "IMGSEQ" + std::to_string(page) + std::to_string(j); }

// The file holds Windows-1252 bytes; the buffer cut applies to those bytes, as it did.
std::string IniFile::ReadString(const char* section, const std::string& key, const std::string& def,
                                int buffer) const {
  const std::string raw = platform::GetPrivateProfileString(section, platform::Utf8ToCp1252(key),
                                                            platform::Utf8ToCp1252(def), buffer, path_);
  return platform::Cp1252ToUtf8(raw);
}

std::string IniFile::ReadString(const StringKey& key) const {
  return ReadString(key.section, key.key, key.def, key.buffer);
}

int32_t IniFile::ReadInt(const char* section, const std::string& key, int32_t def) const {
  return platform::GetPrivateProfileInt(section, platform::Utf8ToCp1252(key), def, path_);
}

int32_t IniFile::ReadInt(const IntKey& key) const { return ReadInt(key.section, key.key, key.def); }

bool IniFile::Write(const char* section, const std::string& key, const std::string& value, std::string* error) const {
  return platform::WritePrivateProfileString(section, platform::Utf8ToCp1252(key), platform::Utf8ToCp1252(value),
                                             path_, error);
}

}  // namespace app::ini

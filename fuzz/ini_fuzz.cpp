// Ini files (settings, calibration, device profiles): any file reads; a key written is read
// back as written and is gone after it is deleted.
#include "fuzz/fuzz_support.h"
#include "platform/ini/profile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = fuzz::ScratchFile("input.ini");
  fuzz::WriteFile(path, std::span<const uint8_t>(data, size));
  const std::vector<std::string> sections = platform::GetPrivateProfileSectionNames(path);
  size_t n = 0;
  for (const std::string& section : sections) {
    if (++n > 8) break;
    size_t k = 0;
    for (const std::string& key : platform::GetPrivateProfileKeys(section, path)) {
      if (++k > 8) break;
      platform::GetPrivateProfileString(section, key, "default", 25, path);
      platform::GetPrivateProfileString(section, key, "", 255, path);
      platform::GetPrivateProfileInt(section, key, -7, path);
    }
  }
  const std::string section = sections.empty() ? std::string("SETTINGS") : sections.front();
  if (platform::WritePrivateProfileString(section, "FuzzKey", "written value", path)) {
    FUZZ_CHECK(platform::GetPrivateProfileString(section, "FuzzKey", "", 255, path) == "written value");
    FUZZ_CHECK(platform::DeletePrivateProfileKey(section, "FuzzKey", path));
    FUZZ_CHECK(platform::GetPrivateProfileString(section, "FuzzKey", "gone", 255, path) == "gone");
  }
  return 0;
}

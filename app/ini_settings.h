#pragma once
// The keys of the active ini file with their built-in defaults, and reading and writing them.
// One active ini at a time: "QUIRVEL.INI" of the home folder until a device profile is
// chosen. Values are Windows-1252 bytes in the file; here they are UTF-8.
#include <cstdint>
#include <string>

namespace app::ini {

constexpr const char* kMain = "QUIRVEL";
constexpr const char* kCal = "QUIRVELCAL";
constexpr const char* kImgSeq = "IMGSEQ";

// The service switches count as on only with this value.
constexpr int32_t kServiceCode = 47096;

// String values are read into a buffer of 25 characters (24 characters of value), DATABASE
// into one of 255.
constexpr int kStringBuffer = 25;
constexpr int kDatabaseBuffer = 255;

struct StringKey {
  const char* section;
  const char* key;
  const char* def;
  int buffer;
};
struct IntKey {
  const char* section;
  const char* key;
  int32_t def;
};

// Section QUIRVEL
constexpr StringKey DATABASE{kMain, "DATABASE", "QUIRVEL.orv", kDatabaseBuffer};
constexpr StringKey SERIAL{kMain, "SERIAL", "0000", kStringBuffer};
constexpr IntKey BRAND{kMain, "BRAND", 0};
constexpr StringKey Language{kMain, "Language", "English", kStringBuffer};
constexpr IntKey DIGITS{kMain, "DIGITS", 2};
constexpr IntKey MULTIBEAM{kMain, "MULTIBEAM", 240};
constexpr StringKey UNITS_mm{kMain, "UNITS_mm", "0", kStringBuffer};
constexpr IntKey SHOWSHARP{kMain, "SHOWSHARP", 0};
constexpr IntKey TCPIP{kMain, "TCPIP", 0};
constexpr IntKey SHOWCAMERA{kMain, "SHOWCAMERA", 0};
constexpr IntKey CALON{kMain, "CALON", 0};
constexpr IntKey SHOWSTRUCTPAR{kMain, "SHOWSTRUCTPAR", 0};
constexpr IntKey ENABLEBRGAMASHARP{kMain, "ENABLEBRGAMASHARP", 0};
constexpr IntKey MASKPAGE{kMain, "MASKPAGE", 0};
constexpr IntKey PLATEPAGE{kMain, "PLATEPAGE", 0};
constexpr IntKey STRUCTPAGE{kMain, "STRUCTPAGE", 0};
constexpr IntKey FILMPAGE{kMain, "FILMPAGE", 0};
constexpr IntKey SHOWPDF{kMain, "SHOWPDF", 1};

// Section QUIRVELCAL
constexpr StringKey PIXELPERINCH{kCal, "PIXELPERINCH", "43000", kStringBuffer};
constexpr StringKey GAIN{kCal, "GAIN", "80", kStringBuffer};
constexpr StringKey SEDGE{kCal, "SEDGE", "1.9", kStringBuffer};
constexpr StringKey KEDGE{kCal, "KEDGE", "-2.9", kStringBuffer};
constexpr StringKey REFLCM{kCal, "REFLCM", "50.0", kStringBuffer};
constexpr StringKey REFDOT{kCal, "REFDOT", "9.5", kStringBuffer};
constexpr IntKey PREVIT{kCal, "PREVIT", 14};
constexpr IntKey PREVGAIN{kCal, "PREVGAIN", 100};
constexpr IntKey BRBAR{kCal, "BRBAR", 0};

// Section IMGSEQ
constexpr IntKey WAITIMG{kImgSeq, "WAITIMG", 2};

// The four analysis pages as the per-page keys name them.
enum class Page { LAMS = 0, PLATE = 1, STRUCT = 2, FILM = 3 };
const char* PageName(Page page);

// Per-page keys of section QUIRVEL, default 0 each: "BRD", "GAMMA", "SHARP" + page,
// "SHARP" + page + "REF", "BR" + page.
std::string BrdKey(Page page);
std::string GammaKey(Page page);
std::string SharpKey(Page page);
std::string SharpRefKey(Page page);
std::string BrKey(Page page);

// IMGSEQij of section IMGSEQ (i page 0..3, j 0 first, 1 last) and its default 17·j + 1.
std::string ImgSeqKey(int page, int j);
inline int32_t ImgSeqDefault(int j) { return 17 * j + 1; }

// One ini file. Reads never fail (a missing file or key gives the default); a write that
// fails returns false with the reason, and the file keeps what it had.
class IniFile {
 public:
  explicit IniFile(std::string path) : path_(std::move(path)) {}
  const std::string& Path() const { return path_; }

  std::string ReadString(const StringKey& key) const;
  std::string ReadString(const char* section, const std::string& key, const std::string& def, int buffer) const;
  int32_t ReadInt(const IntKey& key) const;
  int32_t ReadInt(const char* section, const std::string& key, int32_t def) const;
  // A service switch: on only when the key holds kServiceCode.
  bool ServiceSwitch(const IntKey& key) const { return ReadInt(key) == kServiceCode; }

  bool Write(const char* section, const std::string& key, const std::string& value, std::string* error = nullptr) const;

 private:
  std::string path_;
};

}  // namespace app::ini

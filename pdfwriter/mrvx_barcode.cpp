#include "pdfwriter/mrvx_barcode.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "pdfwriter/mrvx_doc.h"
#include "platform/base/cp1252.h"

namespace pdfwriter {
namespace {

constexpr const char* kClassName = "TMRVXBarcode";

// ---- symbology tables, as published ----

struct TBCdata {
  const char* Name;
  bool Num;  // digits only
};
constexpr TBCdata BCdata[] = {
    {"2_5_interleaved", true}, {"2_5_industrial", true}, {"2_5_matrix", true}, {"Code39", false},
    {"Code39 Extended", false}, {"Code128A", false},     {"Code128B", false},  {"Code128C", true},
    {"Code93", false},          {"Code93 Extended", false}, {"MSI", true},     {"PostNet", true},
    {"Codebar", false},         {"EAN8", true},          {"EAN13", true},      {"UPC_A", true},
    {"UPC_E0", true},           {"UPC_E1", true},        {"UPC Supp2", true},  {"UPC Supp5", true},
    {"EAN128A", false},         {"EAN128B", false},      {"EAN128C", true},
};

// 2 of 5: the wide (1) and narrow (0) flags of each digit's five elements.
constexpr const char* kTabelle_2_5[10] = {"00110", "10001", "01001", "11000", "00101",
                                          "10100", "01100", "00011", "10010", "01010"};

// Code 39: characters by value (0..42), the start/stop character last; nine elements each
// (bar, space, ... bar), 1 wide.
constexpr char kCode39Chars[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-. $/+%*";
constexpr const char* kCode39[44] = {
    "000110100", "100100001", "001100001", "101100000", "000110001", "100110000", "001110000", "000100101",
    "100100100", "001100100", "100001001", "001001001", "101001000", "000011001", "100011000", "001011000",
    "000001101", "100001100", "001001100", "000011100", "100000011", "001000011", "101000010", "000010011",
    "100010010", "001010010", "000000111", "100000110", "001000110", "000010110", "110000001", "011000001",
    "111000000", "010010001", "110010000", "011010000", "010000101", "110000100", "011000100", "010101000",
    "010100010", "010001010", "000101010", "010010100"};

// Code 128: bar and space widths of the values 0..105.
constexpr const char* kCode128[106] = {
    "212222", "222122", "222221", "121223", "121322", "131222", "122213", "122312", "132212", "221213", "221312",
    "231212", "112232", "122132", "122231", "113222", "123122", "123221", "223211", "221132", "221231", "213212",
    "223112", "312131", "311222", "321122", "321221", "312212", "322112", "322211", "212123", "212321", "232121",
    "111323", "131123", "131321", "112313", "132113", "132311", "211313", "231113", "231311", "112133", "112331",
    "132131", "113123", "113321", "133121", "313121", "211331", "231131", "213113", "213311", "213131", "311123",
    "311321", "331121", "312113", "312311", "332111", "314111", "221411", "431111", "111224", "111422", "121124",
    "121421", "141122", "141221", "112214", "112412", "122114", "122411", "142112", "142211", "241211", "221114",
    "413111", "241112", "134111", "111242", "121142", "121241", "114212", "124112", "124211", "411212", "421112",
    "421211", "212141", "214121", "412121", "111143", "111341", "131141", "114113", "114311", "411113", "411311",
    "113141", "114131", "311141", "411131", "211412", "211214", "211232"};
constexpr const char* kCode128Stop = "2331112";
constexpr int kFNC1 = 102;

// Code 93: the values 0..42 by character, then the four shift characters ($) (%) (/) (+),
// which the extended form writes as the bytes 1 to 4.
constexpr char kCode93Chars[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-. $/+%\x01\x02\x03\x04";
constexpr const char* kCode93[47] = {
    "131112", "111213", "111312", "111411", "121113", "121212", "121311", "111114", "131211", "141111",
    "211113", "211212", "211311", "221112", "221211", "231111", "112113", "112212", "112311", "122112",
    "132111", "111123", "111222", "111321", "121122", "131121", "212112", "212211", "211122", "211221",
    "221121", "222111", "112122", "112221", "122121", "123111", "121131", "311112", "311211", "321111",
    "112131", "113121", "211131", "121221", "312111", "311121", "122211"};

// Codabar: seven elements (bar, space, ... bar), 1 wide.
constexpr char kCodabarChars[] = "0123456789-$:/.+ABCD";
constexpr const char* kCodabar[20] = {"0000011", "0000110", "0001001", "1100000", "0010010", "1000010", "0100001",
                                      "0100100", "0110000", "1001000", "0001100", "0011000", "1000101", "1010001",
                                      "1010100", "0010101", "0011010", "0101001", "0001011", "0001110"};

// MSI: the four bits of each digit, a 1 as a wide bar and narrow space, a 0 the other way.
// PostNet: the five bars of each digit, 1 full height.
constexpr const char* kPostNet[10] = {"11000", "00011", "00101", "00110", "01001",
                                      "01010", "01100", "10001", "10010", "10100"};

// EAN and UPC: the widths of each digit's space, bar, space, bar in the left-hand odd set.
constexpr const char* kEanL[10] = {"3211", "2221", "2122", "1411", "1132", "1231", "1114", "1312", "1213", "3112"};
// EAN-13: the sets (A odd, B even) of digits 2 to 7 by the first digit.
constexpr const char* kEan13Parity[10] = {"AAAAAA", "AABABB", "AABBAB", "AABBBA", "ABAABB",
                                          "ABBAAB", "ABBBAA", "ABABAB", "ABABBA", "ABBABA"};
// UPC-E, number system 0: odd (o) or even (E) parity of the six digits by the check digit.
constexpr const char* kUpcEParity[10] = {"EEEooo", "EEoEoo", "EEooEo", "EEoooE", "EoEEoo",
                                         "EooEEo", "EoooEE", "EoEoEo", "EoEooE", "EooEoE"};

char SpaceChar(char w) { return static_cast<char>('0' + (w - '1')); }
char BarChar(char w) { return static_cast<char>('5' + (w - '1')); }

// Set A (odd, L), B (even, G) and C (right-hand, R) of a digit in module characters.
std::string EanSet(char set, int digit) {
  const char* w = kEanL[digit];
  std::string out(4, ' ');
  if (set == 'A') out = {SpaceChar(w[0]), BarChar(w[1]), SpaceChar(w[2]), BarChar(w[3])};
  else if (set == 'B') out = {SpaceChar(w[3]), BarChar(w[2]), SpaceChar(w[1]), BarChar(w[0])};
  else out = {BarChar(w[0]), SpaceChar(w[1]), BarChar(w[2]), SpaceChar(w[3])};
  return out;
}

// Wide/narrow flags of alternating bars and spaces (bar first) as module characters.
std::string WideNarrow(const char* flags) {
  std::string out;
  for (size_t i = 0; flags[i]; ++i) {
    const bool wide = flags[i] == '1';
    out += i % 2 == 0 ? (wide ? '6' : '5') : (wide ? '1' : '0');
  }
  return out;
}

// Bar/space widths "1".."4" (bar first) as module characters.
std::string Convert(std::string_view widths) {
  std::string out(widths);
  for (size_t i = 0; i < out.size(); ++i) out[i] = i % 2 == 0 ? BarChar(out[i]) : SpaceChar(out[i]);
  return out;
}

int RoundEven(double v) { return static_cast<int>(std::nearbyint(v)); }

// The full-ASCII sequence of a character below 128. Code 39 writes its four shift characters
// and the characters they stand for through the "/" shift; Code 93 has shift characters of
// its own (the bytes 1 to 4) and writes "$", "%", "/" and "+" as they are.
std::string FullAscii(unsigned char c, bool code93) {
  const char dollar = code93 ? '\x01' : '$', percent = code93 ? '\x02' : '%', slash = code93 ? '\x03' : '/',
             plus = code93 ? '\x04' : '+';
  const auto seq = [](char shift, char ch) { return std::string{shift, ch}; };
  if (c == 0) return seq(percent, 'U');
  if (c <= 26) return seq(dollar, static_cast<char>('A' + c - 1));
  if (c <= 31) return seq(percent, static_cast<char>('A' + c - 27));
  if (c == ' ' || c == '-' || c == '.' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z')) return std::string(1, static_cast<char>(c));
  if (code93 && (c == '$' || c == '%' || c == '/' || c == '+')) return std::string(1, static_cast<char>(c));
  if (c >= '!' && c <= '/') return seq(slash, static_cast<char>('A' + c - '!'));
  if (c == ':') return seq(slash, 'Z');
  if (c >= ';' && c <= '?') return seq(percent, static_cast<char>('F' + c - ';'));
  if (c == '@') return seq(percent, 'V');
  if (c >= '[' && c <= '_') return seq(percent, static_cast<char>('K' + c - '['));
  if (c == '`') return seq(percent, 'W');
  if (c >= 'a' && c <= 'z') return seq(plus, static_cast<char>('A' + c - 'a'));
  return seq(percent, static_cast<char>('P' + c - '{'));  // { | } ~ DEL
}

int DigitValue(char c) { return c >= '0' && c <= '9' ? c - '0' : 0; }

}  // namespace

// ---- settings ----

TMRVXBarcode::TMRVXBarcode() = default;

void TMRVXBarcode::Assign(const TMRVXBarcode& Source) {
  FHeight = Source.FHeight;
  FText = Source.FText;
  FTop = Source.FTop;
  FLeft = Source.FLeft;
  FModul = Source.FModul;
  FRatio = Source.FRatio;
  FTyp = Source.FTyp;
  FCheckSum = Source.FCheckSum;
  FShowText = Source.FShowText;
  FAngle = Source.FAngle;
  FColor = Source.FColor;
  FColorBar = Source.FColorBar;
  FCheckSumMethod = Source.FCheckSumMethod;
  FShowTextPosition = Source.FShowTextPosition;
  OnChange = Source.OnChange;
  DoChange();
}

void TMRVXBarcode::DoChange() {
  if (OnChange) OnChange(*this);
}

#define MRVX_SETTER(Name, Field, Type)   \
  void TMRVXBarcode::Set##Name(Type Value) { \
    if (Field == Value) return;          \
    Field = std::move(Value);            \
    DoChange();                          \
  }
MRVX_SETTER(Height, FHeight, int)
MRVX_SETTER(Text, FText, std::string)
MRVX_SETTER(Top, FTop, int)
MRVX_SETTER(Left, FLeft, int)
MRVX_SETTER(Ratio, FRatio, double)
MRVX_SETTER(Typ, FTyp, TMRVXBarcodeType)
MRVX_SETTER(Checksum, FCheckSum, bool)
MRVX_SETTER(CheckSumMethod, FCheckSumMethod, TMRVXCheckSumMethod)
MRVX_SETTER(Angle, FAngle, double)
MRVX_SETTER(ShowText, FShowText, TMRVXBarcodeOption)
MRVX_SETTER(ShowTextPosition, FShowTextPosition, TMRVXShowTextPosition)
MRVX_SETTER(Color, FColor, TColor)
MRVX_SETTER(ColorBar, FColorBar, TColor)
#undef MRVX_SETTER

void TMRVXBarcode::SetModul(int Value) {
  if (Value < 1 || Value > 49 || Value == FModul) return;
  FModul = Value;
  DoChange();
}

int TMRVXBarcode::Width() {
  const std::string data = MakeData();
  int w = 0;
  for (char c : data) {
    int width = 0;
    TMRVXBarLineType lt;
    OneBarProps(c, width, lt);
    w += width;
  }
  return w;
}

void TMRVXBarcode::SetWidth(int Value) {
  const int current = Width();
  if (current > 0) SetModul(static_cast<int>(static_cast<int64_t>(Value) * FModul / current));
}

int TMRVXBarcode::CanvasWidth() {
  const double a = FAngle * std::numbers::pi / 180;
  return RoundEven(std::fabs(std::cos(a)) * Width() + std::fabs(std::sin(a)) * FHeight + 0.5);
}

int TMRVXBarcode::CanvasHeight() {
  const double a = FAngle * std::numbers::pi / 180;
  return RoundEven(std::fabs(std::sin(a)) * Width() + std::fabs(std::cos(a)) * FHeight + 0.5);
}

std::string TMRVXBarcode::GetTypText() const { return BCdata[static_cast<size_t>(FTyp) % 23].Name; }

// ---- check digits ----

char TMRVXBarcode::CheckSumModulo10(std::string_view Data) {
  int sum = 0;
  bool three = true;  // the last character is weighted 3
  for (size_t i = Data.size(); i-- > 0;) {
    sum += DigitValue(Data[i]) * (three ? 3 : 1);
    three = !three;
  }
  return static_cast<char>('0' + (10 - sum % 10) % 10);
}

char TMRVXBarcode::CheckSumMSI(std::string_view Data) {
  // The digits doubled are counted from the right (the last one first), whatever the length.
  std::string doubled;
  int sum = 0;
  bool twice = true;
  for (size_t i = Data.size(); i-- > 0;) {
    if (twice) doubled.insert(doubled.begin(), Data[i]);
    else sum += DigitValue(Data[i]);
    twice = !twice;
  }
  // The doubled digits read as one number, doubled, and its digit sum.
  std::string product;
  int carry = 0;
  for (size_t i = doubled.size(); i-- > 0;) {
    const int v = DigitValue(doubled[i]) * 2 + carry;
    product.insert(product.begin(), static_cast<char>('0' + v % 10));
    carry = v / 10;
  }
  if (carry) product.insert(product.begin(), static_cast<char>('0' + carry));
  for (char c : product) sum += DigitValue(c);
  const int s = sum % 10;
  return static_cast<char>('0' + (s > 0 ? 10 - s : 0));
}

std::string TMRVXBarcode::ExpandUPCE(std::string_view Body, int NumberSystem) {
  std::string b(Body.substr(0, 6));
  b.insert(0, 6 - b.size(), '0');
  const char ns = static_cast<char>('0' + NumberSystem);
  switch (b[5]) {
    case '0': case '1': case '2': return std::string{ns, b[0], b[1], b[5], '0', '0', '0', '0', b[2], b[3], b[4]};
    case '3': return std::string{ns, b[0], b[1], b[2], '0', '0', '0', '0', '0', b[3], b[4]};
    case '4': return std::string{ns, b[0], b[1], b[2], b[3], '0', '0', '0', '0', '0', b[4]};
    default: return std::string{ns, b[0], b[1], b[2], b[3], b[4], '0', '0', '0', '0', b[5]};
  }
}

char TMRVXBarcode::CheckSumUPCE(std::string_view Body, int NumberSystem) {
  return CheckSumModulo10(ExpandUPCE(Body, NumberSystem));
}

int TMRVXBarcode::GetSupp(std::string_view Data) {
  int sum = 0;
  bool three = true;
  for (size_t i = Data.size(); i-- > 0;) {
    sum += DigitValue(Data[i]) * (three ? 3 : 9);
    three = !three;
  }
  return sum % 10;
}

std::string TMRVXBarcode::DoCheckSumming(std::string_view Data) const {
  if (FCheckSumMethod == TMRVXCheckSumMethod::csmNone) return std::string(Data);
  return std::string(Data) + CheckSumModulo10(Data);
}

// A text that already ends in its check digit, as a pattern made before left it: made again,
// it must give the same symbol rather than a second check digit.
bool TMRVXBarcode::HasCheckDigit(std::string_view Digits, size_t N) const {
  return FCheckSumMethod == TMRVXCheckSumMethod::csmModulo10 && Digits.size() == N &&
         CheckSumModulo10(Digits.substr(0, N - 1)) == Digits[N - 1];
}

std::string TMRVXBarcode::SetLen(size_t N) const {
  std::string s = FText;
  if (s.size() < N) s.insert(0, N - s.size(), '0');
  return s;
}

// ---- the pattern ----

void TMRVXBarcode::MakeModules() {
  using T = TMRVXBarcodeType;
  switch (FTyp) {
    case T::bcCode_2_5_interleaved: case T::bcCode_2_5_industrial: case T::bcCode39: case T::bcCode39Extended:
    case T::bcCodeCodabar: case T::bcCodeEAN8: case T::bcCodeEAN13: case T::bcCodeUPC_A: case T::bcCodeUPC_E0:
    case T::bcCodeUPC_E1: case T::bcCodeUPC_Supp2: case T::bcCodeUPC_Supp5:
      FRatio = std::clamp(FRatio, 2.0, 3.0);
      break;
    case T::bcCode_2_5_matrix:
      FRatio = std::clamp(FRatio, 2.25, 3.0);
      break;
    default:
      break;
  }
  Modules[0] = FModul;
  Modules[1] = RoundEven(FModul * FRatio);
  Modules[2] = Modules[1] * 3 / 2;
  Modules[3] = Modules[1] * 2;
}

void TMRVXBarcode::OneBarProps(char Code, int& Width, TMRVXBarLineType& LineType) const {
  if (Code >= '0' && Code <= '3') {
    LineType = TMRVXBarLineType::white;
    Width = Modules[Code - '0'];
  } else if (Code >= '5' && Code <= '8') {
    LineType = TMRVXBarLineType::black;
    Width = Modules[Code - '5'];
  } else if (Code >= 'A' && Code <= 'D') {
    LineType = TMRVXBarLineType::black_half;
    Width = Modules[Code - 'A'];
  } else {
    throw EMRVXError(std::string(kClassName) + ": internal Error");
  }
}

std::string TMRVXBarcode::Code128(std::string_view Text, bool Ean) {
  using T = TMRVXBarcodeType;
  const T set = FTyp == T::bcCodeEAN128A ? T::bcCode128A : FTyp == T::bcCodeEAN128B ? T::bcCode128B
                : FTyp == T::bcCodeEAN128C ? T::bcCode128C : FTyp;
  int start = 0;
  std::vector<int> values;
  if (Ean) values.push_back(kFNC1);  // FNC1 first, weighted 1
  std::string text(Text);
  if (Ean && FCheckSum) text += CheckSumModulo10(text);
  switch (set) {
    case T::bcCode128A:
      start = 103;
      for (unsigned char c : text) values.push_back(c >= 32 && c <= 95 ? c - 32 : c < 32 ? c + 64 : 0);
      break;
    case T::bcCode128B:
      start = 104;
      for (unsigned char c : text) values.push_back(c >= 32 && c <= 127 ? c - 32 : 0);
      break;
    case T::bcCode128C:
      start = 105;
      if (text.size() % 2) text.insert(0, 1, '0');
      for (size_t i = 0; i < text.size(); i += 2) values.push_back(DigitValue(text[i]) * 10 + DigitValue(text[i + 1]));
      break;
    default:
      throw EMRVXError(std::string(kClassName) + ": wrong BarcodeType in Code_128");
  }
  int64_t sum = start;
  for (size_t i = 0; i < values.size(); ++i) sum += static_cast<int64_t>(values[i]) * static_cast<int64_t>(i + 1);
  std::string widths = kCode128[start];
  for (int v : values) widths += kCode128[v];
  widths += kCode128[sum % 103];
  widths += kCode128Stop;
  return Convert(widths);
}

std::string TMRVXBarcode::Code93(std::string_view Text) {
  std::vector<int> values;
  for (char c : Text) {
    const char* at = std::find(std::begin(kCode93Chars), std::end(kCode93Chars) - 1, c);
    if (c == '\0' || at == std::end(kCode93Chars) - 1)
      throw EMRVXError(std::string(kClassName) + ":Code93 bad Data <" + FText + ">");
    values.push_back(static_cast<int>(at - kCode93Chars));
  }
  int c_sum = 0, k_sum = 0;
  for (size_t i = 0; i < values.size(); ++i) {
    const size_t from_right = values.size() - 1 - i;
    c_sum += values[i] * static_cast<int>(from_right % 20 + 1);
    k_sum += values[i] * static_cast<int>((from_right + 1) % 15 + 1);
  }
  const int c = c_sum % 47;
  const int k = (k_sum + c) % 47;
  std::string widths = "111141";
  for (int v : values) widths += kCode93[v];
  widths += kCode93[c];
  widths += kCode93[k];
  widths += "1111411";
  return Convert(widths);
}

std::string TMRVXBarcode::MakeData() {
  using T = TMRVXBarcodeType;
  MakeModules();
  const size_t typ = static_cast<size_t>(FTyp);
  if (typ > 22) throw EMRVXError(std::string(kClassName) + ": wrong BarcodeType");
  if (BCdata[typ].Num) {
    size_t a = 0, b = FText.size();
    while (a < b && static_cast<unsigned char>(FText[a]) < 33) ++a;
    while (b > a && static_cast<unsigned char>(FText[b - 1]) < 33) --b;
    FText = FText.substr(a, b - a);
    for (char c : FText)
      if (c < '0' || c > '9') throw EMRVXError("Barcode must be numeric");
  }

  std::string out;
  switch (FTyp) {
    case T::bcCode_2_5_interleaved: {
      out = "5050";
      for (size_t i = 0; i + 1 < FText.size(); i += 2) {
        const char* a = kTabelle_2_5[FText[i] - '0'];
        const char* b = kTabelle_2_5[FText[i + 1] - '0'];
        for (int k = 0; k < 5; ++k) {
          out += a[k] == '1' ? '6' : '5';
          out += b[k] == '1' ? '1' : '0';
        }
      }
      out += "605";
      break;
    }
    case T::bcCode_2_5_industrial:
      out = "606050";
      for (char c : FText)
        for (const char* f = kTabelle_2_5[c - '0']; *f; ++f) out += *f == '1' ? "60" : "50";
      out += "605060";
      break;
    case T::bcCode_2_5_matrix:
      out = "705050";
      for (char c : FText) out += WideNarrow(kTabelle_2_5[c - '0']) + "0";
      out += "70505";
      break;
    case T::bcCode39:
    case T::bcCode39Extended: {
      std::string text;
      if (FTyp == T::bcCode39Extended) {
        for (unsigned char c : FText)
          if (c < 128) text += FullAscii(c, false);
      } else {
        text = FText;
      }
      out = WideNarrow(kCode39[43]) + "0";
      int sum = 0;
      for (char c : text) {
        const char* at = std::find(std::begin(kCode39Chars), std::begin(kCode39Chars) + 43, c);
        if (c == '\0' || at == std::begin(kCode39Chars) + 43) continue;  // not in the table
        const int v = static_cast<int>(at - kCode39Chars);
        sum += v;
        out += WideNarrow(kCode39[v]) + "0";
      }
      if (FCheckSum) out += WideNarrow(kCode39[sum % 43]) + "0";
      out += WideNarrow(kCode39[43]);
      break;
    }
    case T::bcCode128A: case T::bcCode128B: case T::bcCode128C:
      out = Code128(FText, false);
      break;
    case T::bcCodeEAN128A: case T::bcCodeEAN128B: case T::bcCodeEAN128C:
      out = Code128(FText, true);
      break;
    case T::bcCode93:
      out = Code93(FText);
      break;
    case T::bcCode93Extended: {
      std::string text;
      for (unsigned char c : FText) {
        if (c >= 128) throw EMRVXError(std::string(kClassName) + ":Code93 bad Data <" + FText + ">");
        text += FullAscii(c, true);
      }
      out = Code93(text);
      break;
    }
    case T::bcCodeMSI: {
      const std::string digits = FText + CheckSumMSI(FText);
      out = "60";
      for (char c : digits) {
        const int v = c - '0';
        for (int bit = 3; bit >= 0; --bit) out += (v >> bit) & 1 ? "60" : "51";
      }
      out += "515";
      break;
    }
    case T::bcCodePostNet:
      out = "51";
      for (char c : FText)
        for (const char* f = kPostNet[c - '0']; *f; ++f) out += *f == '1' ? "51" : "A1";
      out += "5";
      break;
    case T::bcCodeCodabar:
      out = WideNarrow(kCodabar[16]) + "0";
      for (char c : FText) {
        const char* at = std::find(std::begin(kCodabarChars), std::end(kCodabarChars) - 1, c);
        if (c == '\0' || at == std::end(kCodabarChars) - 1) continue;
        out += WideNarrow(kCodabar[at - kCodabarChars]) + "0";
      }
      out += WideNarrow(kCodabar[17]);
      break;
    case T::bcCodeEAN8: {
      std::string digits = SetLen(FCheckSum ? 7 : 8);
      if (FCheckSum && !HasCheckDigit(digits, 8)) {
        digits = DoCheckSumming(digits);
        FText = digits;
      }
      if (digits.size() != 8) throw EMRVXError("Invalid Text len (EAN8)");
      out = "505";
      for (int i = 0; i < 4; ++i) out += EanSet('A', digits[static_cast<size_t>(i)] - '0');
      out += "05050";
      for (int i = 4; i < 8; ++i) out += EanSet('C', digits[static_cast<size_t>(i)] - '0');
      out += "505";
      break;
    }
    case T::bcCodeEAN13: {
      std::string digits = SetLen(FCheckSum ? 12 : 13);
      if (FCheckSum && !HasCheckDigit(digits, 13)) {
        digits = DoCheckSumming(digits);
        FText = digits;
      }
      if (digits.size() != 13) throw EMRVXError("Invalid Text len (EAN13)");
      const char* parity = kEan13Parity[digits[0] - '0'];
      out = "505";
      for (int i = 1; i <= 6; ++i) out += EanSet(parity[i - 1], digits[static_cast<size_t>(i)] - '0');
      out += "05050";
      for (int i = 7; i <= 12; ++i) out += EanSet('C', digits[static_cast<size_t>(i)] - '0');
      out += "505";
      break;
    }
    case T::bcCodeUPC_A: {
      std::string digits = SetLen(FCheckSum ? 11 : 12);
      if (FCheckSum) {
        digits = DoCheckSumming(digits.substr(0, 11));
        FText = digits;
      }
      out = "505";
      for (int i = 0; i < 6; ++i) out += EanSet('A', digits[static_cast<size_t>(i)] - '0');
      out += "05050";
      for (int i = 6; i < 12 && i < static_cast<int>(digits.size()); ++i)
        out += EanSet('C', digits[static_cast<size_t>(i)] - '0');
      out += "505";
      break;
    }
    case T::bcCodeUPC_E0:
    case T::bcCodeUPC_E1: {
      const int ns = FTyp == T::bcCodeUPC_E1 ? 1 : 0;
      // Six digits of the body; a seventh is the check digit, which is always computed anew.
      const std::string body = FText.size() > 6 ? FText.substr(0, 6) : SetLen(6);
      const char check = CheckSumUPCE(body, ns);
      if (FCheckSum) FText = body + check;
      const char* parity = kUpcEParity[check - '0'];
      out = "505";
      for (int i = 0; i < 6; ++i) {
        const bool even = (parity[i] == 'E') != (ns == 1);
        out += EanSet(even ? 'B' : 'A', body[static_cast<size_t>(i)] - '0');
      }
      out += "050505";
      break;
    }
    case T::bcCodeUPC_Supp2: {
      const std::string digits = SetLen(2).substr(0, 2);
      const int v = (digits[0] - '0') * 10 + (digits[1] - '0');
      static constexpr const char* kSupp2[4] = {"AA", "AB", "BA", "BB"};
      if (FCheckSum) FText = digits + static_cast<char>('0' + GetSupp(digits));
      out = "506" + EanSet(kSupp2[v % 4][0], digits[0] - '0') + "05" + EanSet(kSupp2[v % 4][1], digits[1] - '0');
      break;
    }
    case T::bcCodeUPC_Supp5: {
      const std::string digits = SetLen(5).substr(0, 5);
      const char* parity = kUpcEParity[GetSupp(digits)] + 1;
      out = "506";
      for (int i = 0; i < 5; ++i) {
        if (i > 0) out += "05";
        out += EanSet(parity[i] == 'E' ? 'B' : 'A', digits[static_cast<size_t>(i)] - '0');
      }
      break;
    }
  }
  return out;
}

// ---- drawing ----

// A point of the barcode's own frame (x along the bars, y down them) on the canvas: rotated,
// and moved so that the rotated barcode lies right of and below (Left, Top).
platform::TPoint TMRVXBarcode::Place(double X, double Y, int PatternWidth) const {
  const double a = FAngle * std::numbers::pi / 180;
  const double s = std::sin(a), c = std::cos(a);
  const double w = PatternWidth, h = FHeight;
  int ox = 0, oy = 0;
  if (s >= 0 && c >= 0) {
    oy = RoundEven(w * s);
  } else if (s >= 0) {
    ox = -RoundEven(w * c);
    oy = RoundEven(w * s - h * c);
  } else if (c >= 0) {
    ox = -RoundEven(h * s);
  } else {
    ox = -RoundEven(w * c) - RoundEven(h * s);
    oy = -RoundEven(h * c);
  }
  return {FLeft + ox + RoundEven(X * c + Y * s), FTop + oy + RoundEven(-X * s + Y * c)};
}

void TMRVXBarcode::DoLines(const std::string& Data, platform::MetafileCanvas& Canvas) {
  int total = 0;
  for (char ch : Data) {
    int w = 0;
    TMRVXBarLineType lt;
    OneBarProps(ch, w, lt);
    total += w;
  }
  Canvas.Pen().Width = 1;
  Canvas.Pen().Style = platform::TPenStyle::psSolid;
  Canvas.Brush().Style = platform::TBrushStyle::bsSolid;
  int x = 0;
  for (char ch : Data) {
    int w = 0;
    TMRVXBarLineType lt;
    OneBarProps(ch, w, lt);
    const TColor color = lt == TMRVXBarLineType::white ? FColor : FColorBar;
    Canvas.Pen().Color = color;
    Canvas.Brush().Color = color;
    // Short bars stand on the baseline with the full ones, as the symbologies that use
    // them (PostNet) are printed.
    const int h = lt == TMRVXBarLineType::black_half ? FHeight * 2 / 5 : FHeight;
    const int y0 = FHeight - h;
    const platform::TPoint corners[4] = {Place(x, y0, total), Place(x, y0 + h, total), Place(x + w - 1, y0 + h, total),
                                         Place(x + w - 1, y0, total)};
    Canvas.Polygon(corners);
    x += w;
  }
}

void TMRVXBarcode::DrawText(platform::MetafileCanvas& Canvas, int PatternWidth) {
  Canvas.Font() = FShowTextFont;
  Canvas.Font().Orientation = RoundEven(FAngle * 10);
  Canvas.Pen().Color = FShowTextFont.Color;
  Canvas.Brush().Color = 0xFFFFFF;
  Canvas.Brush().Style = platform::TBrushStyle::bsSolid;
  const bool rotated = FAngle != 0;
  // A box of the barcode's frame, painted in the background colour; turned with a rotated
  // barcode so that it covers only what it covers on an upright one.
  const auto box = [&](int x1, int y1, int x2, int y2) {
    Canvas.Pen().Color = FColor;
    Canvas.Brush().Color = FColor;
    if (!rotated) {
      const platform::TPoint a = Place(x1, y1, PatternWidth), b = Place(x2, y2, PatternWidth);
      Canvas.Rectangle(std::min(a.X, b.X), std::min(a.Y, b.Y), std::max(a.X, b.X), std::max(a.Y, b.Y));
      return;
    }
    const platform::TPoint p[4] = {Place(x1, y1, PatternWidth), Place(x1, y2, PatternWidth),
                                   Place(x2, y2, PatternWidth), Place(x2, y1, PatternWidth)};
    Canvas.Polygon(p);
  };

  if (FShowText == TMRVXBarcodeOption::bcoCode || FShowText == TMRVXBarcodeOption::bcoBoth) {
    const std::u16string text = platform::Cp1252ToUtf16(FText);
    const int tw = Canvas.TextWidth(text), th = Canvas.TextHeight(text);
    int x = 0, y = 0;
    switch (FShowTextPosition) {
      case TMRVXShowTextPosition::stpTopLeft: case TMRVXShowTextPosition::stpBottomLeft: x = 0; break;
      case TMRVXShowTextPosition::stpTopRight: case TMRVXShowTextPosition::stpBottomRight: x = PatternWidth - tw; break;
      default: x = (PatternWidth - tw) / 2; break;
    }
    const bool top = FShowTextPosition == TMRVXShowTextPosition::stpTopLeft ||
                     FShowTextPosition == TMRVXShowTextPosition::stpTopRight ||
                     FShowTextPosition == TMRVXShowTextPosition::stpTopCenter;
    y = top ? 0 : FHeight - th;
    box(x, y, x + tw + 2, y + th);
    box(-1, 0, PatternWidth, -2);
    box(-1, FHeight, PatternWidth, FHeight + 2);
    Canvas.Font().Color = FColorBar;
    Canvas.Brush().Color = FColor;
    const platform::TPoint at = Place(x, y, PatternWidth);
    Canvas.TextOut(at.X, at.Y, text);
  }
  if (FShowText == TMRVXBarcodeOption::bcoTyp || FShowText == TMRVXBarcodeOption::bcoBoth) {
    const std::u16string name = platform::Cp1252ToUtf16(GetTypText());
    Canvas.Font().Color = FColorBar;
    Canvas.Brush().Color = FColor;
    const platform::TPoint at = Place(0, RoundEven(Canvas.TextHeight(name) * 2.5), PatternWidth);
    Canvas.TextOut(at.X, at.Y, name);
  }
}

void TMRVXBarcode::DrawBarcode(platform::MetafileCanvas& Canvas) {
  const std::string data = MakeData();  // errors before anything is drawn
  const platform::TMetafileFont font = Canvas.Font();
  const platform::TPen pen = Canvas.Pen();
  const platform::TBrush brush = Canvas.Brush();
  int width = 0;
  for (char ch : data) {
    int w = 0;
    TMRVXBarLineType lt;
    OneBarProps(ch, w, lt);
    width += w;
  }
  DoLines(data, Canvas);
  if (FShowText != TMRVXBarcodeOption::bcoNone) DrawText(Canvas, width);
  Canvas.Font() = font;
  Canvas.Pen() = pen;
  Canvas.Brush() = brush;
}

// ---- the page ----

void TMRVXPage::DrawBarcode(TMRVXBarcodeType BCType, int X, int Y, int Height, int MUnit, float Angle,
                            std::string Info, bool UseCheckSum, TColor BarColor, TColor Color) {
  if (!FCanvas) throw EMRVXError("The page has no canvas.");
  TMRVXBarcode bc;
  bc.SetTyp(BCType);
  bc.SetTop(Y);
  bc.SetLeft(X);
  bc.SetHeight(Height);
  bc.SetModul(MUnit);
  bc.SetAngle(Angle);
  bc.SetText(std::move(Info));
  bc.SetChecksum(UseCheckSum);
  bc.SetColor(Color);
  bc.SetColorBar(BarColor);
  bc.DrawBarcode(*FCanvas);
}

}  // namespace pdfwriter

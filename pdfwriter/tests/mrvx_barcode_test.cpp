// Barcodes: patterns against the published code tables, and the drawn symbols read back by
// zbar from poppler's rendering.
#include "pdfwriter/mrvx_barcode.h"

#include <gtest/gtest.h>

#include "pdfwriter/mrvx_doc.h"
#include "pdfwriter/tests/image_doc_tools.h"
#include "pdfwriter/tests/test_tools.h"

namespace pdfwriter {
namespace {

using testing::MemDoc;
using testing::RunTool;
using testing::TempDir;
using T = TMRVXBarcodeType;

// A pattern at Modul 1 and Ratio 2 as modules: 1 for bar, 0 for space.
std::string Binary(const std::string& pattern) {
  std::string out;
  for (char c : pattern) {
    if (c >= '0' && c <= '3') out.append(static_cast<size_t>(c - '0' + 1), '0');
    else if (c >= '5' && c <= '8') out.append(static_cast<size_t>(c - '5' + 1), '1');
    else out.append(static_cast<size_t>(c - 'A' + 1), 'h');  // short bars
  }
  return out;
}

// The published EAN/UPC code sets in modules.
const char* kL[10] = {"0001101", "0011001", "0010011", "0111101", "0100011",
                      "0110001", "0101111", "0111011", "0110111", "0001011"};
const char* kG[10] = {"0100111", "0110011", "0011011", "0100001", "0011101",
                      "0111001", "0000101", "0010001", "0001001", "0010111"};
std::string R(int d) {
  std::string s = kL[d];
  for (char& c : s) c = c == '0' ? '1' : '0';
  return s;
}

std::string Pattern(T type, const std::string& text, bool checksum = false) {
  TMRVXBarcode bc;
  bc.SetTyp(type);
  bc.SetText(text);
  bc.SetChecksum(checksum);
  return bc.MakeData();
}

std::string ErrorOf(T type, const std::string& text, bool checksum = false) {
  try {
    Pattern(type, text, checksum);
  } catch (const EMRVXError& e) {
    return e.what();
  }
  return "no error";
}

TEST(Barcode, EanAndUpcPatternsFollowThePublishedSets) {
  // EAN-13 4006381333931: first digit 4 gives the sets A B A A B B for digits 2 to 7.
  TMRVXBarcode bc;
  bc.SetText("400638133393");
  bc.SetChecksum(true);
  const std::string ean13 = Binary(bc.MakeData());
  EXPECT_EQ(bc.Text(), "4006381333931");
  std::string expected = "101" + std::string(kL[0]) + kG[0] + kL[6] + kL[3] + kG[8] + kG[1] + "01010";
  for (int d : {3, 3, 3, 9, 3, 1}) expected += R(d);
  EXPECT_EQ(ean13, expected + "101");
  EXPECT_EQ(bc.Width(), 95);
  EXPECT_EQ(bc.CanvasWidth(), 96);  // 95.5 to the even neighbour
  bc.SetHeight(50);
  EXPECT_EQ(bc.CanvasHeight(), 50);
  EXPECT_EQ(Binary(bc.MakeData()), ean13);  // made again from the text with its check digit
  bc.SetWidth(190);
  EXPECT_EQ(bc.Modul(), 2);
  bc.SetModul(50);
  EXPECT_EQ(bc.Modul(), 2);

  // EAN-8 96385074.
  std::string ean8 = "101";
  for (int d : {9, 6, 3, 8}) ean8 += kL[d];
  ean8 += "01010";
  for (int d : {5, 0, 7, 4}) ean8 += R(d);
  EXPECT_EQ(Binary(Pattern(T::bcCodeEAN8, "9638507", true)), ean8 + "101");
  EXPECT_EQ(ErrorOf(T::bcCodeEAN8, "963850741"), "Invalid Text len (EAN8)");
  EXPECT_EQ(ErrorOf(T::bcCodeEAN13, "40063813339312"), "Invalid Text len (EAN13)");
  EXPECT_EQ(ErrorOf(T::bcCodeEAN13, "40063A133393"), "Barcode must be numeric");

  // UPC-E 425261, number system 0: the check digit of its expansion 04210000526 is 4, which
  // gives the parities E o E E o o (E the even set).
  EXPECT_EQ(TMRVXBarcode::ExpandUPCE("425261", 0), "04210000526");
  EXPECT_EQ(TMRVXBarcode::CheckSumUPCE("425261", 0), '4');
  EXPECT_EQ(TMRVXBarcode::CheckSumUPCE("123456", 0), '5');
  std::string upce = "101" + std::string(kG[4]) + kL[2] + kG[5] + kG[2] + kL[6] + kL[1] + "010101";
  TMRVXBarcode e;
  e.SetTyp(T::bcCodeUPC_E0);
  e.SetText("425261");
  e.SetChecksum(true);
  EXPECT_EQ(Binary(e.MakeData()), upce);
  EXPECT_EQ(e.Text(), "4252614");

  // Add-ons: EAN-5 52495 has the check value 1 and the sets G L G L L; EAN-2 12 (12 mod 4
  // = 0) L L.
  EXPECT_EQ(TMRVXBarcode::GetSupp("52495"), 1);
  EXPECT_EQ(Binary(Pattern(T::bcCodeUPC_Supp5, "52495")),
            "1011" + std::string(kG[5]) + "01" + kL[2] + "01" + kG[4] + "01" + kL[9] + "01" + kL[5]);
  EXPECT_EQ(Binary(Pattern(T::bcCodeUPC_Supp2, "12")), "1011" + std::string(kL[1]) + "01" + kL[2]);
  EXPECT_EQ(Binary(Pattern(T::bcCodeUPC_Supp2, "13")), "1011" + std::string(kL[1]) + "01" + kG[3]);
}

TEST(Barcode, CheckCharactersOfTheOtherSymbologies) {
  EXPECT_EQ(TMRVXBarcode::CheckSumModulo10("400638133393"), '1');
  EXPECT_EQ(TMRVXBarcode::CheckSumModulo10("03600029145"), '2');
  // MSI modulo 10: 1234567 has the check digit 4, 80523 the check digit 4, 1234 the digit 4.
  EXPECT_EQ(TMRVXBarcode::CheckSumMSI("1234567"), '4');
  EXPECT_EQ(TMRVXBarcode::CheckSumMSI("80523"), '4');
  EXPECT_EQ(TMRVXBarcode::CheckSumMSI("1234"), '4');
  // MSI 12 (check 5): start, 0001 0010 0101, stop; a 1 is a wide bar and narrow space.
  std::string msi = "110";
  for (const char* bits : {"0001", "0010", "0101"})
    for (const char* b = bits; *b; ++b) msi += *b == '1' ? "110" : "100";
  EXPECT_EQ(Binary(Pattern(T::bcCodeMSI, "12")), msi + "1001");

  // Code 39: CODE39 with its modulo-43 check character W.
  TMRVXBarcode c39;
  c39.SetTyp(T::bcCode39);
  c39.SetText("CODE39");
  const std::string without = c39.MakeData();
  c39.SetChecksum(true);
  const std::string with = c39.MakeData();
  EXPECT_EQ(with.size(), without.size() + 10);
  EXPECT_EQ(with.substr(without.size() - 9, 10), Pattern(T::bcCode39, "W").substr(10, 10));
  // A-B: start, three characters and stop, each but the stop followed by a narrow space.
  const std::string ab = Pattern(T::bcCode39, "A-B");
  EXPECT_EQ(ab.size(), 4u * 10 + 9);
  for (size_t i = 9; i < ab.size(); i += 10) EXPECT_EQ(ab[i], '0');
  // Full ASCII: "a" is "+A".
  EXPECT_EQ(Pattern(T::bcCode39Extended, "a"), Pattern(T::bcCode39, "+A"));

  // Code 128: 975 in set C is 0975; EAN-128 puts FNC1 (411131) after the start.
  EXPECT_EQ(Pattern(T::bcCode128C, "975"), Pattern(T::bcCode128C, "0975"));
  const std::string ean128 = Pattern(T::bcCodeEAN128C, "0975");
  EXPECT_EQ(ean128.substr(6, 6), "805070");  // widths 4 1 1 1 3 1 as bar, space, bar ...

  // 2 of 5: 97531 interleaved is 9753; industrial and matrix have their fixed frames.
  EXPECT_EQ(Pattern(T::bcCode_2_5_interleaved, "97531"), Pattern(T::bcCode_2_5_interleaved, "9753"));
  EXPECT_EQ(Pattern(T::bcCode_2_5_industrial, "1"), "606050" "60505050" "60" "605060");
  EXPECT_EQ(Pattern(T::bcCode_2_5_matrix, "1"), "705050" "60506" "0" "70505");

  // PostNet 1: frame bar, 0 0 0 1 1 as short and full bars, frame bar.
  EXPECT_EQ(Pattern(T::bcCodePostNet, "1"), "51" "A1A1A15151" "5");
  // Code 93 with a character outside its table.
  EXPECT_EQ(ErrorOf(T::bcCode93, "abc"), "TMRVXBarcode:Code93 bad Data <abc>");

  // Ratios within what each symbology allows.
  TMRVXBarcode r;
  r.SetRatio(1.5);
  r.SetText("400638133393");
  r.SetChecksum(true);
  r.MakeData();
  EXPECT_EQ(r.Ratio(), 2.0);
  r.SetTyp(T::bcCode_2_5_matrix);
  r.SetRatio(1.5);
  r.SetText("1");
  r.MakeData();
  EXPECT_EQ(r.Ratio(), 2.25);
}

// The polygons a barcode records on a canvas.
std::vector<std::vector<platform::EmfPoint>> Polygons(TMRVXBarcode& bc) {
  platform::Metafile mf(2000, 2000, 96);
  platform::MetafileCanvas canvas(mf, 96);
  bc.DrawBarcode(canvas);
  canvas.Close();
  std::vector<std::vector<platform::EmfPoint>> out;
  for (const platform::EmfRecord& r : mf.Records())
    if (const auto* p = std::get_if<platform::EmrPoly>(&r)) out.push_back(p->Points);
  return out;
}

TEST(Barcode, RotationAndShortBars) {
  TMRVXBarcode bc;
  bc.SetText("400638133393");
  bc.SetChecksum(true);
  bc.SetHeight(50);
  bc.SetLeft(100);
  bc.SetTop(200);
  bc.SetShowText(TMRVXBarcodeOption::bcoNone);
  bc.SetAngle(90);
  const auto polys = Polygons(bc);
  ASSERT_EQ(polys.size(), 59u);  // 3 + 24 + 5 + 24 + 3 modules... as bars and spaces
  // The first bar starts at (Left, Top + width) and the bars follow each other upwards.
  EXPECT_EQ(polys[0][0], (platform::EmfPoint{100, 295}));
  EXPECT_EQ(polys[0][1], (platform::EmfPoint{150, 295}));
  EXPECT_LT(polys[2][0].Y, polys[0][0].Y);

  // PostNet's short bars stand on the baseline with the full ones.
  TMRVXBarcode post;
  post.SetTyp(T::bcCodePostNet);
  post.SetText("1");
  post.SetHeight(50);
  post.SetShowText(TMRVXBarcodeOption::bcoNone);
  const auto bars = Polygons(post);
  ASSERT_GE(bars.size(), 3u);
  const auto span = [](const std::vector<platform::EmfPoint>& p) {
    int lo = p[0].Y, hi = p[0].Y;
    for (const auto& q : p) {
      lo = std::min(lo, q.Y);
      hi = std::max(hi, q.Y);
    }
    return std::pair{lo, hi};
  };
  EXPECT_EQ(span(bars[0]), (std::pair{0, 50}));  // the frame bar
  EXPECT_EQ(span(bars[2]), (std::pair{30, 50}));  // the first short bar: two fifths high
}

// One barcode per page, rendered at 300 dpi and read by zbar.
struct Symbol {
  T type;
  const char* text;
  bool checksum;
  const char* decoded;
};

TEST(Barcode, ZbarReadsTheDrawnSymbolsUprightAndTurned) {
  const Symbol symbols[] = {
      {T::bcCodeEAN13, "400638133393", true, "4006381333931"},
      // zbar gives UPC-A and UPC-E as the EAN-13 numbers they stand for, so the UPC-E
      // check digit is seen to come from the expanded number.
      {T::bcCodeUPC_A, "03600029145", true, "0036000291452"},
      {T::bcCodeUPC_E0, "425261", true, "0042100005264"},
      {T::bcCodeEAN8, "9638507", true, "96385074"},
      {T::bcCode128B, "Quirvel-128", false, "Quirvel-128"},
      {T::bcCode128C, "975", false, "0975"},
      {T::bcCode39, "QUIRVEL 39", false, "QUIRVEL 39"},
      {T::bcCode93, "QUIRVEL-93", false, "QUIRVEL-93"},
      {T::bcCode_2_5_interleaved, "12345670", false, "12345670"},
      {T::bcCodeCodabar, "40156", false, "A40156B"},
  };
  MemDoc d;
  d.doc.BeginDoc();
  bool first = true;
  for (float angle : {0.0f, 90.0f}) {
    for (const Symbol& s : symbols) {
      if (!first) d.doc.AddPage();
      first = false;
      const int y = angle == 0 ? 150 : 100;
      d.doc.CurrentPage()->DrawBarcode(s.type, 150, y, 120, 2, angle, s.text, s.checksum, 0, 0xFFFFFF);
    }
  }
  d.doc.EndDoc();
  testing::SaveSample("barcodes.pdf", d.out);
  TempDir dir;
  const std::string path = dir.File("barcodes.pdf");
  testing::WriteFile(path, d.out);
  testing::ExpectQpdfOk(path);
  // Only the part of each page the symbol stands on, at 300 dpi (3.125 pixels per canvas
  // unit): upright symbols from (150, 150), turned ones from (150, 100) upwards.
  const int n = static_cast<int>(std::size(symbols));
  ASSERT_EQ(RunTool("pdftoppm -r 300 -gray -x 400 -y 400 -W 1200 -H 500 -f 1 -l " + std::to_string(n) + " " + path +
                    " " + dir.File("up"))
                .exit_code,
            0);
  ASSERT_EQ(RunTool("pdftoppm -r 300 -gray -x 400 -y 250 -W 500 -H 1150 -f " + std::to_string(n + 1) + " -l " +
                    std::to_string(2 * n) + " " + path + " " + dir.File("turned"))
                .exit_code,
            0);
  std::string files;
  for (int page = 1; page <= 2 * n; ++page) {
    char name[32];
    std::snprintf(name, sizeof name, "%s-%02d.pgm", page <= n ? "up" : "turned", page);
    files += " " + dir.File(name);
  }
  // One zbar run for all pages; its XML names the file of every symbol it found.
  const std::string xml = RunTool("(zbarimg --quiet --xml" + files + " 2>/dev/null)").output;
  for (int page = 1; page <= 2 * n; ++page) {
    const Symbol& s = symbols[(page - 1) % n];
    char name[32];
    std::snprintf(name, sizeof name, "%s-%02d.pgm'>", page <= n ? "up" : "turned", page);
    const size_t source = xml.find(name);
    const size_t next = xml.find("</source>", source);
    ASSERT_NE(source, std::string::npos) << name << xml;
    const std::string found = xml.substr(source, next - source);
    EXPECT_NE(found.find(std::string("<![CDATA[") + s.decoded + "]]>"), std::string::npos)
        << (page <= n ? "upright " : "turned ") << s.text << "\n" << found;
    EXPECT_EQ(std::count(found.begin(), found.end(), '\n'), 4) << found;  // one symbol only
  }
}

}  // namespace
}  // namespace pdfwriter

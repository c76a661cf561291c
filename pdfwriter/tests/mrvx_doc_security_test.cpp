#include <gtest/gtest.h>

#include <regex>

#include "pdfwriter/mrvx_doc.h"
#include "pdfwriter/tests/image_doc_tools.h"

namespace pdfwriter {
namespace {

using testing::MemDoc;
using testing::RunTool;
using testing::TempDir;

// A protected document with a red rectangle, a title with bytes a literal string escapes,
// and an 8-bit indexed image (its palette is a hexadecimal string).
std::string Protected(MemDoc& d, TMRVXKeyType type, std::set<TMRVXProtection> options, const std::string& user,
                      const std::string& owner, const std::string& file_name = "report.pdf") {
  d.doc.ActivateProtection = true;
  d.doc.SetCryptKeyType(type);
  d.doc.ProtectOptions = std::move(options);
  d.doc.UserPassword = user;
  d.doc.OwnerPassword = owner;
  d.doc.FileName = file_name;
  d.doc.Title = "Plate (42)\r\nsecret";
  d.doc.BeginDoc();
  TMRVXPage& page = *d.doc.CurrentPage();
  page.SetRGBColor(0x0000FF);
  page.Rectangle(100, 100, 200, 100);
  page.Fill();
  platform::Bitmap gray(2, 1, platform::PixelFormat::pf8bit);
  gray.ScanLine(0)[0] = 60;
  gray.ScanLine(0)[1] = 180;
  page.ShowImage(d.doc.AddImage(gray, TMRVXImageCompressionType::icFlate), 100, 300, 200, 100, 0);
  d.doc.EndDoc();
  return d.out;
}

std::string Field(const std::string& text, const std::string& key) {
  std::smatch m;
  if (!std::regex_search(text, m, std::regex(key + " = ([^\n]*)"))) return {};
  return m[1];
}

TEST(Security, Rc4With40BitKeysAsAReaderSeesIt) {
  MemDoc d;
  const std::string pdf = Protected(d, TMRVXKeyType::k40, {}, "", "");
  // The encryption dictionary comes right after the catalog, the information dictionary after it.
  const std::string enc = testing::ObjectAt(pdf, 2);
  EXPECT_EQ(enc.rfind("2 0 obj\n<< \n/Filter /Standard \n/V 1 \n/R 2 \n/P -64 \n/O (", 0), 0u) << enc;
  EXPECT_EQ(d.doc.OwUsPass.size(), 32u);
  EXPECT_EQ(d.doc.UsPassStr.size(), 32u);
  EXPECT_EQ(d.doc.CurrentKey().size(), 5u);
  EXPECT_NE(testing::ObjectAt(pdf, 3).find("/CreationDate"), std::string::npos);
  EXPECT_EQ(testing::ObjectAt(pdf, 3).find("Plate"), std::string::npos);  // the title is encrypted
  EXPECT_NE(pdf.find("/Encrypt 2 0 R\r\n/ID [<" + d.doc.DocID() + "> <" + d.doc.DocID() + ">]\r\n"),
            std::string::npos);

  TempDir dir;
  const std::string path = dir.File("k40.pdf");
  testing::SaveSample("encrypted-rc4-40.pdf", pdf);
  testing::WriteFile(path, pdf);
  testing::ExpectQpdfOk(path);
  const auto show = RunTool("qpdf --show-encryption " + path);
  EXPECT_EQ(Field(show.output, "R"), "2") << show.output;
  EXPECT_EQ(Field(show.output, "P"), "-64") << show.output;

  // Decrypted by qpdf, the strings and the page content are ours again.
  const auto dec = RunTool("qpdf --decrypt --qdf --object-streams=disable " + path + " " + dir.File("plain.pdf"));
  ASSERT_EQ(dec.exit_code, 0) << dec.output;
  const std::string plain = testing::ReadFile(dir.File("plain.pdf"));
  EXPECT_NE(plain.find("/Title (Plate \\(42\\)\\r\\nsecret)"), std::string::npos);
  EXPECT_NE(plain.find("100 642 200 100 re"), std::string::npos);
  EXPECT_EQ(plain.find("/Encrypt"), std::string::npos);
  const auto info = RunTool("pdfinfo " + path);
  EXPECT_NE(info.output.find("yes (print:no copy:no change:no addNotes:no algorithm:RC4)"), std::string::npos)
      << info.output;

  // Poppler shows the red rectangle and the image's two grays through the decrypted palette.
  const testing::PageRaster r = testing::RenderPage(path, dir.File("k40"));
  ASSERT_EQ(r.width, 595);
  EXPECT_EQ(r.At(200, 150, 0), 255);
  EXPECT_EQ(r.At(200, 150, 1), 0);
  EXPECT_EQ(r.At(150, 350, 1), 60);
  EXPECT_EQ(r.At(250, 350, 1), 180);
}

TEST(Security, Rc4With128BitKeysAndPasswords) {
  MemDoc d;
  const std::set<TMRVXProtection> all = {
      TMRVXProtection::prPrint,           TMRVXProtection::prModifyStructure, TMRVXProtection::prInformationCopy,
      TMRVXProtection::prEditAnnotations, TMRVXProtection::prPrint12bit,      TMRVXProtection::prFillAnnotations,
      TMRVXProtection::prExtractContent,  TMRVXProtection::prAssemble};
  const std::string pdf = Protected(d, TMRVXKeyType::k128, all, "user", "owner");
  const std::string enc = testing::ObjectAt(pdf, 2);
  EXPECT_EQ(enc.rfind("2 0 obj\n<< \n/Filter /Standard \n/V 2 \n/R 3 \n/Length 128 \n/P -4 \n/O (", 0), 0u) << enc;
  EXPECT_EQ(d.doc.UsPassStr.substr(16), std::string(16, ' '));
  EXPECT_EQ(d.doc.CurrentKey().size(), 16u);

  TempDir dir;
  const std::string path = dir.File("k128.pdf");
  testing::WriteFile(path, pdf);
  // Without a password the file does not open; with either password it does.
  EXPECT_NE(RunTool("qpdf --check " + path).exit_code, 0);
  EXPECT_NE(RunTool("qpdf --password=wrong --check " + path).exit_code, 0);
  testing::ExpectQpdfOk(path, "--password=user");
  testing::ExpectQpdfOk(path, "--password=owner");
  const auto show = RunTool("qpdf --password=owner --show-encryption " + path);
  EXPECT_EQ(Field(show.output, "R"), "3") << show.output;
  EXPECT_EQ(Field(show.output, "P"), "-4") << show.output;
  EXPECT_EQ(Field(show.output, "User password"), "user") << show.output;

  const testing::PageRaster r = testing::RenderPage(path, dir.File("k128"), "-upw user");
  ASSERT_EQ(r.width, 595);
  EXPECT_EQ(r.At(200, 150, 0), 255);
  EXPECT_EQ(r.At(200, 150, 2), 0);
  EXPECT_EQ(r.At(150, 350, 1), 60);
  EXPECT_EQ(r.At(250, 350, 1), 180);
}

TEST(Security, Aes128ThroughTheStandardCryptFilter) {
  MemDoc d;
  const std::string pdf = Protected(d, TMRVXKeyType::aes128, {TMRVXProtection::prPrint}, "user", "");
  const std::string enc = testing::ObjectAt(pdf, 2);
  EXPECT_EQ(enc.rfind("2 0 obj\n<< \n/Filter /Standard \n/StmF /StdCF \n/V 4 \n/R 4 \n"
                      "/CF << /StdCF << /Length 16 /CFM /AESV2 /AuthEvent /DocOpen >> >> \n/StrF /StdCF \n"
                      "/Length 128 \n/P -3900 \n/O (",
                      0),
            0u)
      << enc;

  TempDir dir;
  const std::string path = dir.File("aes.pdf");
  testing::SaveSample("encrypted-aes128-password-user.pdf", pdf);
  testing::WriteFile(path, pdf);
  EXPECT_NE(RunTool("qpdf --check " + path).exit_code, 0);
  testing::ExpectQpdfOk(path, "--password=user");
  const auto show = RunTool("qpdf --password=user --show-encryption " + path);
  EXPECT_EQ(Field(show.output, "R"), "4") << show.output;
  EXPECT_NE(show.output.find("stream encryption method: AESv2"), std::string::npos) << show.output;
  const auto dec =
      RunTool("qpdf --password=user --decrypt --qdf --object-streams=disable " + path + " " + dir.File("plain.pdf"));
  ASSERT_EQ(dec.exit_code, 0) << dec.output;
  const std::string plain = testing::ReadFile(dir.File("plain.pdf"));
  EXPECT_NE(plain.find("/Title (Plate \\(42\\)\\r\\nsecret)"), std::string::npos);
  EXPECT_NE(plain.find("100 642 200 100 re"), std::string::npos);

  const testing::PageRaster r = testing::RenderPage(path, dir.File("aes"), "-upw user");
  ASSERT_EQ(r.width, 595);
  EXPECT_EQ(r.At(200, 150, 0), 255);
  EXPECT_EQ(r.At(200, 150, 1), 0);
  EXPECT_EQ(r.At(150, 350, 1), 60);
  EXPECT_EQ(r.At(250, 350, 1), 180);
}

TEST(Security, PermissionWordsAndKeysDifferPerDocument) {
  const struct {
    TMRVXKeyType type;
    std::set<TMRVXProtection> options;
    int flags;
  } cases[] = {
      {TMRVXKeyType::k40, {TMRVXProtection::prPrint, TMRVXProtection::prInformationCopy}, -64 + 4 + 16},
      // The permissions of revision 3 do not exist in revision 2.
      {TMRVXKeyType::k40, {TMRVXProtection::prAssemble, TMRVXProtection::prPrint12bit}, -64},
      {TMRVXKeyType::k128, {}, -3904},
      {TMRVXKeyType::k128, {TMRVXProtection::prEditAnnotations, TMRVXProtection::prExtractContent}, -3904 + 32 + 512},
  };
  for (const auto& c : cases) {
    MemDoc d;
    Protected(d, c.type, c.options, "pw", "");
    EXPECT_EQ(d.doc.ProtectFlags, c.flags);
  }
  // The same passwords in two documents: other identifiers, other keys and /U.
  MemDoc a, b;
  Protected(a, TMRVXKeyType::k128, {}, "pw", "own", "a.pdf");
  Protected(b, TMRVXKeyType::k128, {}, "pw", "own", "b.pdf");
  EXPECT_NE(a.doc.DocID(), b.doc.DocID());
  EXPECT_NE(a.doc.CurrentKey(), b.doc.CurrentKey());
  EXPECT_NE(a.doc.UsPassStr, b.doc.UsPassStr);
  // /O depends on the passwords only.
  EXPECT_EQ(a.doc.OwUsPass, b.doc.OwUsPass);
}

TEST(Security, UnprotectedDocumentsStayPlain) {
  MemDoc d;
  d.doc.Title = "Plain title";
  d.doc.BeginDoc();
  EXPECT_EQ(d.doc.CryptString("abc", 3), "abc");
  d.doc.EndDoc();
  EXPECT_NE(d.out.find("(Plain title)"), std::string::npos);
  EXPECT_EQ(d.out.find("/Encrypt"), std::string::npos);
  EXPECT_EQ(d.out.find("/ID"), std::string::npos);
}

}  // namespace
}  // namespace pdfwriter

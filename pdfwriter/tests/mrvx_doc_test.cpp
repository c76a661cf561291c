#include "pdfwriter/mrvx_doc.h"

#include <gtest/gtest.h>

#include <limits>
#include <regex>

#include "pdfwriter/mrvx_crypt.h"
#include "pdfwriter/tests/test_tools.h"

namespace pdfwriter {
namespace {

using testing::RunTool;
using testing::TempDir;

const platform::TDateTime kCreated = platform::EncodeDate(2025, 1, 31) + platform::EncodeTime(23, 59, 58, 123);

// A document on a fixed clock that writes into a string and never opens a viewer.
struct Doc {
  platform::ManualClock clock{kCreated};
  TMorvex doc{&clock};
  std::string out;
  explicit Doc(TMRVXCompressionMethod compression = TMRVXCompressionMethod::cmFlateDecode) {
    doc.Launcher = nullptr;
    doc.SetCompressionMethod(compression);
    doc.SetOutputStream(&out);
  }
};

// The text of object n of a written document, found through its cross-reference entry.
std::string ObjectText(const std::string& pdf, int n) {
  const size_t xref = std::stoul(pdf.substr(pdf.rfind("startxref\r\n") + 11));
  const size_t entry = xref + pdf.substr(xref).find("65535 f\r\n") + 9 + static_cast<size_t>(n - 1) * 20;
  const size_t off = std::stoul(pdf.substr(entry, 10));
  const size_t end = pdf.find("endobj", off);
  return pdf.substr(off, end + 6 - off);
}

std::string WriteTemp(const TempDir& dir, const std::string& name, const std::string& pdf) {
  const std::string path = dir.File(name);
  testing::WriteFile(path, pdf);
  return path;
}

bool Has(const std::string& text, const std::string& pattern) { return std::regex_search(text, std::regex(pattern)); }

void ExpectQpdfClean(const std::string& path) {
  const auto r = RunTool("qpdf --check " + path);
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("No syntax or stream encoding errors found"), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find("WARNING"), std::string::npos) << r.output;
}

TEST(Document, NewDocumentObjectsAndSyntaxByteForByte) {
  Doc d;
  d.doc.BeginDoc(true);
  d.doc.EndDoc();
  const std::string& pdf = d.out;
  ASSERT_EQ(pdf.rfind("%PDF-1.4\n%vPlC\n1 0 obj\n", 0), 0u);
  EXPECT_EQ(ObjectText(pdf, 1),
            "1 0 obj\n<< \n/Type /Catalog \n/Pages 3 0 R \n/PageLayout /OneColumn \n/PageMode /UseNone \n"
            "/AA << >> \n>> \nendobj");
  EXPECT_EQ(ObjectText(pdf, 2),
            "2 0 obj\n<< \n/CreationDate (D:20250131235958)\n/Creator (QUIRVEL PDF writer)\n/Author (QUIRVEL)\n"
            "/Title (Morvex Document)\n/Keywords (QUIRVEL PDF)\n/Subject ()\n/ModDate (D:20250131235958)\n>> \nendobj");
  EXPECT_EQ(ObjectText(pdf, 3), "3 0 obj\n<< \n/Type /Pages \n/Kids [ 4 0 R ] \n/Count 1 \n>> \nendobj");
  EXPECT_EQ(ObjectText(pdf, 4),
            "4 0 obj\n<< \n/Type /Page \n/Parent 3 0 R \n/MediaBox [ 0 0 595 842 ] \n"
            "/Resources << /ProcSet [ /PDF /Text /ImageC ] /XObject << >> /Font << >> >> \n/Contents 5 0 R \n>> \n"
            "endobj");
  const std::string content = ObjectText(pdf, 5);
  EXPECT_TRUE(std::regex_search(content, std::regex("^5 0 obj\n<< /Length [0-9]+ /Filter \\[ /FlateDecode \\] "
                                                    "/DecodeParms \\[  \\] >> \nstream\n")))
      << content.substr(0, 80);

  // One 20-byte entry per object, each pointing at its object; the trailer names catalog and info.
  const size_t xref = std::stoul(pdf.substr(pdf.rfind("startxref\r\n") + 11));
  EXPECT_EQ(pdf.substr(xref, 31), "xref\r\n0 6\r\n0000000000 65535 f\r\n");
  for (int n = 1; n <= 5; ++n) {
    const std::string entry = pdf.substr(xref + 31 + static_cast<size_t>(n - 1) * 20, 20);
    EXPECT_EQ(entry.substr(10), " 00000 n\r\n");
    EXPECT_EQ(pdf.substr(std::stoul(entry.substr(0, 10)), std::to_string(n).size() + 6), std::to_string(n) + " 0 obj");
  }
  EXPECT_NE(pdf.find("trailer\r\n<<\r\n/Size 6\r\n/Root 1 0 R\r\n/Info 2 0 R\r\n>>\r\nstartxref\r\n"),
            std::string::npos);
  EXPECT_EQ(pdf.substr(pdf.size() - 7), "%%EOF\r\n");

  // The content of an untouched page: its leading line break, black, fill rendering and the
  // save/restore pair of the empty canvas, read back by qpdf.
  TempDir dir;
  const std::string path = WriteTemp(dir, "one.pdf", pdf);
  ExpectQpdfClean(path);
  const auto decoded = RunTool("qpdf --show-object=5 --filtered-stream-data " + path);
  EXPECT_EQ(decoded.output, "\r\n\r\n0 0 0 RG\r\n0 0 0 rg\r\n0 Tr\r\nq\r\nQ\r\n\r\n\r\n");

  // Renumbering is not written back into the objects: saving again gives the same bytes.
  std::string again;
  d.doc.SaveToStream(again);
  EXPECT_EQ(again, pdf);
}

TEST(Document, QpdfAndPdfinfoAcceptDocumentsOfManyPages) {
  TempDir dir;
  for (int pages : {1, 3, 25}) {
    Doc d;
    d.doc.BeginDoc();
    for (int p = 0; p < pages; ++p) {
      if (p > 0) {
        EXPECT_EQ(d.doc.AddPage(), p);
      }
      d.doc.CurrentPage()->Rectangle(10.0f + static_cast<float>(p), 20, 100, 50);
      d.doc.CurrentPage()->Stroke();
    }
    d.doc.EndDoc();
    const std::string path = WriteTemp(dir, "p" + std::to_string(pages) + ".pdf", d.out);
    ExpectQpdfClean(path);
    const auto info = RunTool("pdfinfo " + path);
    EXPECT_TRUE(Has(info.output, "Pages:\\s+" + std::to_string(pages) + "\n")) << info.output;
    EXPECT_TRUE(Has(info.output, "Page size:\\s+595 x 842 pts \\(A4\\)")) << info.output;
  }
}

TEST(Document, EveryPageFormatGivesItsMediaBox) {
  Doc d;
  d.doc.BeginDoc();
  const int kFormats = 20;
  for (int i = 0; i < kFormats; ++i) {
    if (i > 0) d.doc.AddPage();
    d.doc.CurrentPage()->SetPageSize(static_cast<TMRVXPageSize>(i));
  }
  d.doc.EndDoc();
  TempDir dir;
  const std::string path = WriteTemp(dir, "formats.pdf", d.out);
  ExpectQpdfClean(path);
  const auto info = RunTool("pdfinfo -f 1 -l " + std::to_string(kFormats) + " " + path);
  for (int i = 0; i < kFormats; ++i) {
    TMRVXFormatSize s = PageFormatSize(static_cast<TMRVXPageSize>(i));
    if (i == 0) s = {595, 842};  // user-defined keeps the size the page had (A4 from AddPage)
    const std::string want = "Page\\s+" + std::to_string(i + 1) + " size:\\s+" + std::to_string(s.Width) + " x " +
                             std::to_string(s.Height) + " pts";
    EXPECT_TRUE(Has(info.output, want)) << want << "\n" << info.output;
  }
}

// Pixels of a page rendered by poppler at 72 dpi (one pixel per point).
struct Raster {
  int width = 0, height = 0;
  std::string rgb;
  const unsigned char* At(int x, int y) const {
    return reinterpret_cast<const unsigned char*>(rgb.data()) + (static_cast<size_t>(y) * width + x) * 3;
  }
};

Raster Render(const std::string& pdf_path, const std::string& out_prefix) {
  const auto r = RunTool("pdftoppm -r 72 -f 1 -l 1 -singlefile " + pdf_path + " " + out_prefix);
  EXPECT_EQ(r.exit_code, 0) << r.output;
  const std::string ppm = testing::ReadFile(out_prefix + ".ppm");
  Raster img;
  size_t at = 0;
  std::string fields[4];
  for (auto& f : fields) {
    while (at < ppm.size() && std::isspace(static_cast<unsigned char>(ppm[at]))) ++at;
    while (at < ppm.size() && !std::isspace(static_cast<unsigned char>(ppm[at]))) f.push_back(ppm[at++]);
  }
  EXPECT_EQ(fields[0], "P6");
  img.width = std::stoi(fields[1]);
  img.height = std::stoi(fields[2]);
  img.rgb = ppm.substr(at + 1);
  EXPECT_EQ(img.rgb.size(), static_cast<size_t>(img.width) * img.height * 3);
  return img;
}

TEST(Document, FilledShapesRenderRedInsideAndWhiteOutside) {
  Doc d;
  d.doc.BeginDoc();
  TMRVXPage& page = *d.doc.CurrentPage();
  page.SetRGBColor(0x0000FF);  // red in the 0x00BBGGRR layout
  page.Rectangle(100, 100, 200, 100);
  page.Fill();
  page.Ellipse(100, 400, 300, 150);
  page.Fill();
  d.doc.EndDoc();
  TempDir dir;
  const std::string path = WriteTemp(dir, "shapes.pdf", d.out);
  const Raster img = Render(path, dir.File("shapes"));
  ASSERT_EQ(img.width, 595);
  ASSERT_EQ(img.height, 842);
  const auto red = [&](int x, int y) {
    const unsigned char* p = img.At(x, y);
    return p[0] == 255 && p[1] == 0 && p[2] == 0;
  };
  const auto white = [&](int x, int y) {
    const unsigned char* p = img.At(x, y);
    return p[0] == 255 && p[1] == 255 && p[2] == 255;
  };
  // Rectangle: top-left corner at (100, 100) in page coordinates, y downwards.
  for (auto [x, y] : {std::pair{102, 102}, {297, 102}, {200, 150}, {102, 197}, {297, 197}}) EXPECT_TRUE(red(x, y)) << x << "," << y;
  for (auto [x, y] : {std::pair{97, 150}, {303, 150}, {200, 97}, {200, 203}}) EXPECT_TRUE(white(x, y)) << x << "," << y;
  // Ellipse in the box (100, 400)-(400, 550): centre and points just inside the axes are red;
  // the box corners are outside the ellipse.
  for (auto [x, y] : {std::pair{250, 475}, {104, 475}, {396, 475}, {250, 404}, {250, 546}}) EXPECT_TRUE(red(x, y)) << x << "," << y;
  for (auto [x, y] : {std::pair{105, 405}, {395, 405}, {105, 545}, {395, 545}, {96, 475}, {250, 554}})
    EXPECT_TRUE(white(x, y)) << x << "," << y;
}

TEST(Document, DeletePageDropsItsObjectsButKeepsSharedImages) {
  Doc d(TMRVXCompressionMethod::cmNone);
  d.doc.BeginDoc();
  // A stand-in image stream shown by pages 0 and 1, and one shown by page 1 only.
  const auto image = [&](const char* bytes) {
    TMRVXStreamObject* s = d.doc.CreateIndirectStream();
    s->Dictionary->AddNameValue("Type", "XObject");
    s->Stream = bytes;
    return s;
  };
  TMRVXStreamObject* shared = image("SHARED-IMAGE-BYTES");
  TMRVXStreamObject* own = image("OWN-IMAGE-BYTES");
  const auto xobjects = [&](int page) {
    return static_cast<TMRVXDictionaryObject*>(
        static_cast<TMRVXDictionaryObject*>(d.doc.PageArr()[static_cast<size_t>(page)].PageObj->GetValue("Resources"))
            ->GetValue("XObject"));
  };
  for (int p = 0; p < 3; ++p) {
    if (p > 0) d.doc.AddPage();
    d.doc.CurrentPage()->Rectangle(11.0f * static_cast<float>(p + 1), 5, 7, 7);
  }
  xobjects(0)->AddLink("Im0", *shared);
  xobjects(1)->AddLink("Im0", *shared);
  xobjects(1)->AddLink("Im1", *own);
  // An annotation that names its page back must not send the deletion round in circles.
  TMRVXDictionaryObject* annot = d.doc.CreateIndirectDictionary();
  annot->AddNameValue("Type", "Annot");
  annot->AddLink("P", *d.doc.PageArr()[1].PageObj);
  d.doc.PageArr()[1].PageObj->AddArray("Annots")->AddLink(*annot);

  ASSERT_EQ(d.doc.CurrentPageNumber(), 2);
  TMRVXDictionaryObject* last = d.doc.PageArr()[2].PageObj;
  d.doc.DeletePage(1);
  // The page that was current is still current, now under the number 1.
  EXPECT_EQ(d.doc.CurrentPageNumber(), 1);
  EXPECT_EQ(d.doc.CurrentPage()->PageObj(), last);
  EXPECT_EQ(d.doc.PagesCount(), 2);
  EXPECT_TRUE(annot->IsDeleted);
  d.doc.EndDoc();

  TempDir dir;
  const std::string path = WriteTemp(dir, "deleted.pdf", d.out);
  ExpectQpdfClean(path);
  EXPECT_TRUE(Has(RunTool("pdfinfo " + path).output, "Pages:\\s+2\n"));
  EXPECT_NE(d.out.find("11 830 7 7 re"), std::string::npos);
  EXPECT_EQ(d.out.find("22 830 7 7 re"), std::string::npos);  // the deleted page's content
  EXPECT_NE(d.out.find("33 830 7 7 re"), std::string::npos);
  EXPECT_NE(d.out.find("SHARED-IMAGE-BYTES"), std::string::npos);
  EXPECT_EQ(d.out.find("OWN-IMAGE-BYTES"), std::string::npos);
  EXPECT_EQ(d.out.find("/Annot"), std::string::npos);
  // Objects are numbered without gaps: the xref counts exactly the objects written.
  const int written = static_cast<int>(std::count_if(d.doc.IndirectObjects().begin(), d.doc.IndirectObjects().end(),
                                                      [](const auto& o) { return !o->IsDeleted; }));
  EXPECT_NE(d.out.find("xref\r\n0 " + std::to_string(written + 1) + "\r\n"), std::string::npos);
  const std::string kids = ObjectText(d.out, 3);
  EXPECT_NE(kids.find("/Count 2 "), std::string::npos) << kids;
}

TEST(Document, DeletingPagesChoosesTheCurrentPageAndChecksNumbers) {
  Doc d;
  d.doc.BeginDoc();
  d.doc.AddPage();
  d.doc.AddPage();
  const auto page_obj = [&](int i) { return d.doc.PageArr()[static_cast<size_t>(i)].PageObj; };
  TMRVXDictionaryObject* first = page_obj(0);
  TMRVXDictionaryObject* second = page_obj(1);
  // A page before the current one: the current page number stays, now naming the next page.
  d.doc.AddPage();
  TMRVXDictionaryObject* third = page_obj(2);
  d.doc.SetCurrentPageNum(1);
  d.doc.DeletePage(0);
  EXPECT_EQ(d.doc.CurrentPageNumber(), 1);
  EXPECT_EQ(d.doc.CurrentPage()->PageObj(), third);
  EXPECT_TRUE(first->IsDeleted);
  first = second;
  second = third;

  d.doc.SetCurrentPageNum(2);
  d.doc.DeletePage(2);  // the current one: the page before it takes over
  EXPECT_EQ(d.doc.CurrentPage()->PageObj(), second);
  d.doc.SetCurrentPageNum(0);
  d.doc.DeletePage(0);  // the first and current one: the new first page takes over
  EXPECT_EQ(d.doc.CurrentPage()->PageObj(), second);
  EXPECT_TRUE(first->IsDeleted);

  for (int bad : {1, -1, 7}) {
    try {
      d.doc.DeletePage(bad);
      ADD_FAILURE() << bad;
    } catch (const EMRVXError& e) {
      EXPECT_STREQ(e.what(), "Invalid page number");
    }
    try {
      d.doc.SetCurrentPageNum(bad);
      ADD_FAILURE() << bad;
    } catch (const EMRVXError& e) {
      EXPECT_STREQ(e.what(), "Invalid page number.");
    }
  }
  // Removing the last page leaves no page to make current.
  EXPECT_THROW(d.doc.DeletePage(0), EMRVXError);
  EXPECT_EQ(d.doc.CurrentPage(), nullptr);
  EXPECT_EQ(d.doc.Canvas(), nullptr);
  EXPECT_EQ(d.doc.AddPage(), 0);
  d.doc.EndDoc();
  TempDir dir;
  ExpectQpdfClean(WriteTemp(dir, "rest.pdf", d.out));
}

TEST(Document, ReturningToAPageAppendsAfterItsContent) {
  Doc d;
  d.doc.BeginDoc();
  d.doc.CurrentPage()->MoveTo(1, 2);
  d.doc.AddPage();
  d.doc.SetCurrentPageNum(0);
  d.doc.CurrentPage()->LineTo(3, 4);
  d.doc.EndDoc();
  TempDir dir;
  const std::string path = WriteTemp(dir, "again.pdf", d.out);
  ExpectQpdfClean(path);
  const auto decoded = RunTool("qpdf --show-object=5 --filtered-stream-data " + path);
  EXPECT_EQ(decoded.output,
            "\r\n\r\n0 0 0 RG\r\n0 0 0 rg\r\n0 Tr\r\n1 840 m\r\nq\r\nQ\r\n\r\n\r\n"
            "\r\n\r\n0 0 0 RG\r\n0 0 0 rg\r\n0 Tr\r\n3 838 l\r\nq\r\nQ\r\n\r\n\r\n");
}

TEST(Document, LifecycleGuards) {
  Doc d;
  d.doc.SetPageLayout(TMRVXPageLayout::plTwoColumnLeft);  // before BeginDoc: overwritten
  d.doc.SetAutoLaunch(false);
  d.doc.BeginDoc();
  EXPECT_EQ(d.doc.PageLayout(), TMRVXPageLayout::plOneColumn);
  const std::pair<std::function<void()>, const char*> guarded[] = {
      {[&] { d.doc.SetAutoLaunch(true); }, "Cannot set AutoLaunch value - document in progress."},
      {[&] { d.doc.SetCompressionMethod(TMRVXCompressionMethod::cmNone); },
       "Cannot set Compression value - document in progress."},
      {[&] { d.doc.SetStandardFontEmulation(false); }, "Cannot set StandardFontEmulation value - document in progress."},
      {[&] { d.doc.SetOutputStream(nullptr); }, "Cannot set OutputStream value - document in progress."},
  };
  for (const auto& [call, message] : guarded) {
    try {
      call();
      ADD_FAILURE() << message;
    } catch (const EMRVXError& e) {
      EXPECT_STREQ(e.what(), message);
    }
  }
  d.doc.SetPageLayout(TMRVXPageLayout::plTwoColumnRight);
  d.doc.PageMode = TMRVXPageMode::pmFullScreen;
  d.doc.SetViewerPreferences({TMRVXViewerPreference::vpFitWindow, TMRVXViewerPreference::vpHideToolbar});
  d.doc.EndDoc();
  EXPECT_NE(ObjectText(d.out, 1).find("/PageLayout /TwoColumnRight \n/PageMode /FullScreen \n"
                                      "/ViewerPreferences << /HideToolbar true /FitWindow true >> \n"),
            std::string::npos)
      << ObjectText(d.out, 1);

  // A document is written once.
  try {
    d.doc.EndDoc();
    ADD_FAILURE();
  } catch (const EMRVXError& e) {
    EXPECT_STREQ(e.what(), "The document has already been written.");
  }
  EXPECT_THROW(d.doc.AddPage(), EMRVXError);
  EXPECT_THROW(d.doc.BeginDoc(), EMRVXError);

  platform::ManualClock clock(kCreated);
  TMorvex unstarted(&clock);
  EXPECT_THROW(unstarted.EndDoc(), EMRVXError);
  EXPECT_THROW(unstarted.AddPage(), EMRVXError);
}

TEST(Document, EndDocWithoutATargetCompletesTheDocumentAndCanBeRepeated) {
  platform::ManualClock clock(kCreated);
  TMorvex doc(&clock);
  std::vector<std::string> launched;
  doc.Launcher = [&](const std::string& f) { launched.push_back(f); };
  doc.BeginDoc();
  doc.AddPage();
  try {
    doc.EndDoc();
    ADD_FAILURE();
  } catch (const EMRVXError& e) {
    EXPECT_STREQ(e.what(), "Invalid filename.");
  }
  EXPECT_EQ(static_cast<TMRVXArrayObject*>(doc.PagesRoot()->GetValue("Kids"))->Count(), 2u);
  EXPECT_EQ(static_cast<TMRVXStringObject*>(doc.InfoDictionary()->GetValue("Creator"))->Value, kCreator);
  EXPECT_FALSE(doc.Ended());

  TempDir dir;
  doc.FileName = dir.File("missing-folder/report.pdf");
  EXPECT_THROW(doc.EndDoc(), EMRVXError);  // the folder does not exist
  EXPECT_TRUE(launched.empty());

  doc.FileName = dir.File("report.pdf");
  doc.EndDoc();
  EXPECT_EQ(launched, std::vector<std::string>{doc.FileName});
  ExpectQpdfClean(doc.FileName);
  EXPECT_EQ(std::filesystem::directory_iterator(dir.Path())->path().filename(), "report.pdf");  // no leftovers

  // Writing into an output stream never opens a viewer.
  platform::ManualClock clock2(kCreated);
  TMorvex to_memory(&clock2);
  to_memory.Launcher = [&](const std::string& f) { launched.push_back(f); };
  std::string out;
  to_memory.SetOutputStream(&out);
  to_memory.FileName = dir.File("unused.pdf");
  to_memory.BeginDoc();
  to_memory.EndDoc();
  EXPECT_EQ(launched.size(), 1u);
  EXPECT_FALSE(std::filesystem::exists(to_memory.FileName));
  EXPECT_EQ(out.rfind("%PDF-1.4", 0), 0u);
}

TEST(Document, InformationAndIdentifier) {
  Doc d;
  d.doc.FileName = "C:\xC3\xA4.pdf";  // UTF-8 file name: the identifier takes its Windows-1252 bytes
  d.doc.Title = "QUIRVEL REPORT";
  std::string all;
  for (int c = 0; c < 256; ++c) all.push_back(static_cast<char>(c));
  d.doc.Subject = all;
  d.clock.Advance(2000);  // BeginDoc's time, not the creation time, goes into the identifier
  d.doc.BeginDoc();
  EXPECT_EQ(DocIDSource(d.doc.FileName, d.clock.Now()), "C:\xE4.pdfSat 01-02-2025 00:00:00.123");
  EXPECT_EQ(d.doc.DocID(), MD5CalcString("C:\xE4.pdfSat 01-02-2025 00:00:00.123"));
  d.doc.EndDoc();

  // qpdf reads every byte of the subject back.
  TempDir dir;
  const std::string path = WriteTemp(dir, "info.pdf", d.out);
  const auto json = RunTool("qpdf --json=2 --json-key=qpdf " + path +
                            " | python3 -c \"import json,sys; o=json.load(sys.stdin)['qpdf'][1]['obj:2 0 R']['value'];"
                            " print(o['/Subject']); print(o['/Title']); print(o['/CreationDate'])\"");
  ASSERT_EQ(json.exit_code, 0) << json.output;
  std::string hex;
  static const char kHex[] = "0123456789abcdef";
  for (int c = 0; c < 256; ++c) {
    hex.push_back(kHex[c >> 4]);
    hex.push_back(kHex[c & 15]);
  }
  EXPECT_EQ(json.output, "b:" + hex + "\nu:QUIRVEL REPORT\nu:D:20250131235958\n");
}

TEST(Serializer, NumbersNamesAndLongArrays) {
  const std::pair<double, const char*> numbers[] = {
      {72, "72"}, {0.5, "0.5"}, {-0.25, "-0.25"}, {-2.5, "-2.5"}, {12.34f, "12.34000016"}, {595.3f, "595.29998778"},
      {-0.5, "-0.5"}, {0.05f, "0.05"}, {16777217, "16777217"}, {1e10, "10000000000"}, {0, "0"},
      {std::numeric_limits<double>::quiet_NaN(), "0"},
  };
  for (const auto& [v, text] : numbers) EXPECT_EQ(NumberText(v), text) << v;

  Doc d;
  d.doc.BeginDoc();
  TMRVXDictionaryObject* catalog = d.doc.Catalog();
  catalog->AddNameValue("Font", "Arial Bold");
  catalog->AddNameValue("Odd", " a(b)#/c\xE4 ");
  auto* arr = static_cast<TMRVXArrayObject*>(d.doc.AddIndirectObject(std::make_unique<TMRVXArrayObject>(nullptr)));
  for (int i = 0; i < 25; ++i) arr->AddNameValue("Name" + std::string(1, static_cast<char>('A' + i)) + "xxxx");
  catalog->AddLink("Names", *arr);
  TMRVXDictionaryObject* gone = d.doc.CreateIndirectDictionary();
  catalog->AddLink("Gone", *gone);
  d.doc.DeleteObj(gone, false);
  d.doc.EndDoc();

  const std::string cat = ObjectText(d.out, 1);
  EXPECT_NE(cat.find("/Font /Arial#20Bold \n"), std::string::npos) << cat;
  EXPECT_NE(cat.find("/Odd /a#28b#29#23#2Fc#E4 \n"), std::string::npos) << cat;
  // A reference to an object that is not written is the null object, never a stale number.
  EXPECT_NE(cat.find("/Gone null \n"), std::string::npos) << cat;

  std::string names;
  for (int i = 0; i < 25; ++i) {
    if (i == 10 || i == 20) names += "\r\n";
    names += "/Name" + std::string(1, static_cast<char>('A' + i)) + "xxxx";
    if (i < 24) names += " ";
  }
  EXPECT_NE(d.out.find("0 obj\r\n[ " + names + " ]\r\nendobj\r\n"), std::string::npos);
  TempDir dir;
  ExpectQpdfClean(WriteTemp(dir, "syntax.pdf", d.out));
}

}  // namespace
}  // namespace pdfwriter

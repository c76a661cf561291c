// Loading PDF files (our own and others' through qpdf), saving them again, and copying pages.
#include <gtest/gtest.h>

#include <random>

#include "pdfwriter/mrvx_doc.h"
#include "pdfwriter/mrvx_zlib.h"
#include "pdfwriter/tests/image_doc_tools.h"
#include "pdfwriter/tests/test_tools.h"
#include "platform/base/number_parse.h"

namespace pdfwriter {
namespace {

using testing::MemDoc;
using testing::RunTool;
using testing::TempDir;

// A classic PDF of the given object bodies, numbered from 1, with a cross-reference table.
std::string MakePdf(const std::vector<std::string>& objects, const std::string& trailer = "/Root 1 0 R") {
  std::string out = "%PDF-1.4\n";
  std::vector<size_t> offsets;
  for (size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(out.size());
    out += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const size_t xref = out.size();
  out += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  char entry[32];
  for (size_t off : offsets) {
    std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", off);
    out += entry;
  }
  out += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " " + trailer + " >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  return out;
}

std::string Stream(const std::string& dict_entries, const std::string& data) {
  return "<< /Length " + std::to_string(data.size()) + " " + dict_entries + " >>\nstream\n" + data + "\nendstream";
}

// A two-page document of our own: 8-bit and Unicode text, shapes, a picture and canvas drawing.
std::string OwnDocument() {
  MemDoc d;
  d.doc.BeginDoc();
  TMRVXPage& p = *d.doc.CurrentPage();
  p.SetFont("Arial", 0, 14, 0, false);
  p.TextOut(50, 60, 0, "Loaded and saved again");
  p.SetFont("Arial", fsBold, 12, 0, false);
  p.UnicodeTextOut(50, 100, 0, u"\u0414\u0430\u043d\u043d\u044b\u0435 (data)");
  p.SetRGBFillColor(0x3040C0);
  p.Rectangle(50, 150, 120, 40);
  p.Fill();
  platform::Bitmap pic(4, 2, platform::PixelFormat::pf24bit);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) {
      uint8_t* px = pic.ScanLine(y) + 3 * x;
      px[0] = static_cast<uint8_t>(x * 60);
      px[1] = static_cast<uint8_t>(y * 200);
      px[2] = 200;
    }
  p.ShowImage(d.doc.AddImage(pic, TMRVXImageCompressionType::icFlate), 200, 150, 80, 40, 0);
  platform::MetafileCanvas& c = *d.doc.Canvas();
  c.Brush().Color = 0x00C000;
  c.Ellipse(400, 200, 500, 260);
  d.doc.AddPage();
  d.doc.CurrentPage()->TextOut(50, 60, 0, "Second page");
  d.doc.EndDoc();
  return d.out;
}

std::string PdfToText(const std::string& path) { return RunTool("pdftotext -layout " + path + " -").output; }

// Loads a file, completes it and writes it into memory.
std::string LoadAndSave(const std::string& pdf, int* pages = nullptr) {
  MemDoc d;
  const int n = d.doc.LoadFromStream(pdf);
  if (pages) *pages = n;
  d.doc.BeginDoc();
  d.doc.EndDoc();
  return d.out;
}

std::string LoadError(const std::string& pdf) {
  MemDoc d;
  try {
    d.doc.LoadFromStream(pdf);
  } catch (const std::exception& e) {
    // A document that could not be loaded is as good as new.
    EXPECT_EQ(d.doc.IndirectObjects().size(), 0u);
    d.doc.BeginDoc();
    d.doc.EndDoc();
    EXPECT_NE(d.out.find("/Type /Catalog"), std::string::npos);
    return e.what();
  }
  return "loaded";
}

TEST(Loader, OwnFilesAndQpdfRewritesLoadAndSaveAgain) {
  TempDir dir;
  const std::string own = OwnDocument();
  const std::string own_path = dir.File("own.pdf");
  testing::WriteFile(own_path, own);
  const auto qdf = RunTool("qpdf --qdf --object-streams=disable " + own_path + " " + dir.File("qdf.pdf"));
  ASSERT_EQ(qdf.exit_code, 0) << qdf.output;
  const std::string text = PdfToText(own_path);
  ASSERT_NE(text.find("Loaded and saved again"), std::string::npos) << text;
  ASSERT_NE(text.find("\xD0\x94\xD0\xB0\xD0\xBD\xD0\xBD\xD1\x8B\xD0\xB5"), std::string::npos) << text;

  for (const std::string& source : {std::string("own.pdf"), std::string("qdf.pdf")}) {
    SCOPED_TRACE(source);
    int pages = 0;
    const std::string saved = LoadAndSave(testing::ReadFile(dir.File(source)), &pages);
    EXPECT_EQ(pages, 2);
    const std::string path = dir.File("saved-" + source);
    testing::WriteFile(path, saved);
    testing::ExpectQpdfOk(path);
    EXPECT_EQ(PdfToText(path), text);
    const testing::PageRaster a = testing::RenderPage(own_path, dir.File("a"));
    const testing::PageRaster b = testing::RenderPage(path, dir.File("b"));
    EXPECT_TRUE(a.rgb == b.rgb);
    // Saved once more, the file is still the same document.
    const std::string again = LoadAndSave(saved);
    testing::WriteFile(path, again);
    testing::ExpectQpdfOk(path);
    EXPECT_EQ(PdfToText(path), text);
    if (source == "qdf.pdf") testing::SaveSample("loaded-and-saved.pdf", saved);
  }
}

TEST(Loader, TheFlatPageTreeIsNumberedAboveEveryLoadedObject) {
  MemDoc d;
  const std::string own = OwnDocument();
  ASSERT_EQ(d.doc.LoadFromStream(own), 2);
  int32_t highest = 0;
  for (const auto& o : d.doc.IndirectObjects())
    if (o.get() != d.doc.PagesRoot()) highest = std::max(highest, o->ID.ObjectNumber);
  EXPECT_EQ(d.doc.PagesRoot()->ID.ObjectNumber, highest + 1);
  for (const TMRVXDictArrItem& page : d.doc.PageArr()) {
    auto* parent = page.PageObj->GetValue("Parent");
    ASSERT_EQ(parent->ObjectType(), TMRVXObjectType::otLink);
    EXPECT_EQ(static_cast<TMRVXLink*>(parent)->Value, d.doc.PagesRoot()->ID);
  }
  EXPECT_TRUE(d.doc.IsHaveSimpleText());
  // Drawing on a loaded page goes after what it shows.
  d.doc.BeginDoc();
  d.doc.CurrentPage()->TextOut(50, 300, 0, "Added later");
  d.doc.EndDoc();
  TempDir dir;
  testing::WriteFile(dir.File("added.pdf"), d.out);
  testing::ExpectQpdfOk(dir.File("added.pdf"));
  const std::string text = PdfToText(dir.File("added.pdf"));
  EXPECT_NE(text.find("Loaded and saved again"), std::string::npos) << text;
  EXPECT_NE(text.find("Added later"), std::string::npos) << text;
}

TEST(Loader, InheritedAttributesAndIncrementalUpdates) {
  // Resources, media box and rotation sit on an inner node of the page tree.
  const std::string content = "BT /F1 12 Tf 20 100 Td (Inherited) Tj ET";
  std::string pdf = MakePdf(
      {"<< /Type /Catalog /Pages 2 0 R >>",
       "<< /Type /Pages /Kids [6 0 R 3 0 R] /Count 2 >>",
       "<< /Type /Page /Parent 2 0 R /Contents 5 0 R /MediaBox [0 0 300 200] /Resources << /Font << /F1 4 0 R >> >> >>",
       "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
       Stream("", content),
       "<< /Type /Pages /Parent 2 0 R /Kids [7 0 R] /Count 1 /Rotate 90 /MediaBox [0 0 200 100] "
       "/Resources << /Font << /F1 4 0 R >> >> >>",
       "<< /Type /Page /Parent 6 0 R /Contents 5 0 R >>",
       "<< /Title (Old title) >>"},
      "/Root 1 0 R /Info 8 0 R");
  // An update: object 4 replaced (another font), a new information dictionary 9. The newest
  // trailer names it; the older one still names 8.
  const size_t old_xref = std::stoul(pdf.substr(pdf.rfind("startxref\n") + 10));
  const size_t obj4 = pdf.size();
  pdf += "4 0 obj\n<< /Type /Font /Subtype /Type1 /BaseFont /Courier >>\nendobj\n";
  const size_t obj9 = pdf.size();
  pdf += "9 0 obj\n<< /Title (New title) >>\nendobj\n";
  const size_t xref = pdf.size();
  char entries[128];
  std::snprintf(entries, sizeof entries, "4 1\n%010zu 00000 n \n9 1\n%010zu 00000 n \n", obj4, obj9);
  pdf += "xref\n" + std::string(entries) + "trailer\n<< /Size 10 /Root 1 0 R /Info 9 0 R /Prev " +
         std::to_string(old_xref) + " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";

  MemDoc d;
  ASSERT_EQ(d.doc.LoadFromStream(pdf), 2);
  auto* title = static_cast<TMRVXStringObject*>(d.doc.InfoDictionary()->GetValue("Title"));
  EXPECT_EQ(title->Value, "New title");
  // The first page is the one under the inner node, with everything it inherited.
  TMRVXDictionaryObject* first = d.doc.PageArr()[0].PageObj;
  EXPECT_EQ(first->ID.ObjectNumber, 7);
  EXPECT_NE(first->GetValue("Resources"), nullptr);
  EXPECT_NE(first->GetValue("MediaBox"), nullptr);
  EXPECT_NE(first->GetValue("Rotate"), nullptr);
  int fonts = 0;
  for (const auto& o : d.doc.IndirectObjects()) {
    auto* dict = o->ObjectType() == TMRVXObjectType::otDictionary ? static_cast<TMRVXDictionaryObject*>(o.get()) : nullptr;
    if (dict && dict->GetValue("BaseFont")) {
      ++fonts;
      EXPECT_EQ(static_cast<TMRVXNameObject*>(dict->GetValue("BaseFont"))->Value, "Courier");
    }
  }
  EXPECT_EQ(fonts, 1);  // the older revision is not loaded

  d.doc.Title = "New title";
  d.doc.BeginDoc();
  d.doc.EndDoc();
  TempDir dir;
  const std::string path = dir.File("inherited.pdf");
  testing::WriteFile(path, d.out);
  testing::ExpectQpdfOk(path);
  const std::string info = RunTool("pdfinfo -f 1 -l 2 " + path).output;
  EXPECT_NE(info.find("Page    1 size:  200 x 100 pts"), std::string::npos) << info;
  EXPECT_NE(info.find("Page    1 rot:   90"), std::string::npos) << info;
  EXPECT_NE(info.find("Page    2 size:  300 x 200 pts"), std::string::npos) << info;
  EXPECT_NE(info.find("Title:           New title"), std::string::npos) << info;
  EXPECT_NE(PdfToText(path).find("Inherited"), std::string::npos);
  EXPECT_NE(RunTool("pdffonts " + path).output.find("Courier"), std::string::npos);
}

TEST(Loader, ObjectSyntax) {
  const std::string pdf = MakePdf({
      "<< /Type /Catalog /Pages 2 0 R /Extra 3 0 R >>",
      "<< /Type/Pages/Kids[]/Count 0 >>",
      "[ (a\\\\) (x\\)y) (nested (balanced) parens) (\\101\\102\\7) (line\\\ncontinued) <41 42> /A#20B#2f "
      ".5 -3. +7 -0.25 << >> <<>> null true false 12 0 R [1 2] %comment\n/Last ]",
  });
  MemDoc d;
  ASSERT_EQ(d.doc.LoadFromStream(pdf), 0);
  const TMRVXObject* arr_obj = nullptr;
  for (const auto& o : d.doc.IndirectObjects())
    if (o->ID.ObjectNumber == 3) arr_obj = o.get();
  ASSERT_NE(arr_obj, nullptr);
  ASSERT_EQ(arr_obj->ObjectType(), TMRVXObjectType::otArray);
  const auto& items = static_cast<const TMRVXArrayObject*>(arr_obj)->Items;
  ASSERT_EQ(items.size(), 19u);
  const auto str = [&](size_t i) { return static_cast<TMRVXStringObject*>(items[i].get())->Value; };
  const auto num = [&](size_t i) { return static_cast<TMRVXNumericObject*>(items[i].get())->Value; };
  EXPECT_EQ(str(0), "a\\");
  EXPECT_EQ(str(1), "x)y");
  EXPECT_EQ(str(2), "nested (balanced) parens");
  EXPECT_EQ(str(3), std::string("AB\x07"));
  EXPECT_EQ(str(4), "linecontinued");
  EXPECT_EQ(str(5), "4142");
  EXPECT_TRUE(static_cast<TMRVXStringObject*>(items[5].get())->IsHexadecimal);
  EXPECT_EQ(static_cast<TMRVXNameObject*>(items[6].get())->Value, "A B/");
  EXPECT_EQ(num(7), 0.5);
  EXPECT_EQ(num(8), -3);
  EXPECT_EQ(num(9), 7);
  EXPECT_EQ(num(10), -0.25);
  EXPECT_EQ(static_cast<TMRVXDictionaryObject*>(items[11].get())->Count(), 0u);
  EXPECT_EQ(static_cast<TMRVXDictionaryObject*>(items[12].get())->Count(), 0u);
  EXPECT_EQ(items[13]->ObjectType(), TMRVXObjectType::otNull);
  EXPECT_TRUE(static_cast<TMRVXBooleanObject*>(items[14].get())->Value);
  EXPECT_FALSE(static_cast<TMRVXBooleanObject*>(items[15].get())->Value);
  EXPECT_EQ(static_cast<TMRVXLink*>(items[16].get())->Value, (TMRVXObjectNumber{12, 0}));
  EXPECT_EQ(static_cast<TMRVXArrayObject*>(items[17].get())->Count(), 2u);
  EXPECT_EQ(static_cast<TMRVXNameObject*>(items[18].get())->Value, "Last");
}

TEST(Loader, DamagedFilesGiveAClearError) {
  TempDir dir;
  const std::string good = MakePdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                                    "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] /Resources << >> "
                                    "/Contents 4 0 R >>",
                                    Stream("", "0 0 m 10 10 l S")});
  ASSERT_EQ(LoadError(good), "loaded");
  const size_t xref = std::stoul(good.substr(good.rfind("startxref\n") + 10));

  // A section whose /Prev names itself, and two that name each other.
  std::string cycle = good;
  cycle.insert(cycle.rfind(" >>\nstartxref"), " /Prev " + std::to_string(xref));
  std::string pair = good;
  const size_t second = pair.size();
  pair += "xref\n0 1\n0000000000 65535 f \ntrailer\n<< /Size 5 /Root 1 0 R /Prev " + std::to_string(xref) +
          " >>\nstartxref\n" + std::to_string(second) + "\n%%EOF\n";
  pair.insert(pair.find(" >>\nstartxref"), " /Prev " + std::to_string(second));

  std::string long_stream = good;
  long_stream.replace(long_stream.find("/Length 15"), 10, "/Length 99999");
  std::string loop_tree = good;
  loop_tree.replace(loop_tree.find("/Kids [3 0 R]"), 13, "/Kids [2 0 R]");

  // The same file with a cross-reference stream, as qpdf writes it for PDF 1.5.
  testing::WriteFile(dir.File("good.pdf"), good);
  ASSERT_EQ(RunTool("qpdf --object-streams=generate " + dir.File("good.pdf") + " " + dir.File("xrefstm.pdf")).exit_code, 0);
  const std::string xref_stream = testing::ReadFile(dir.File("xrefstm.pdf"));
  ASSERT_EQ(xref_stream.find("\nxref"), std::string::npos);

  const std::pair<const char*, std::string> damaged[] = {
      {"cycle of one", cycle},
      {"cycle of two", pair},
      {"truncated in the table", good.substr(0, xref + 40)},
      {"truncated in an object", good.substr(0, 60) + good.substr(xref)},
      {"stream longer than the file", long_stream},
      {"cross-reference stream", xref_stream},
      {"page tree in a circle", loop_tree},
      {"no end marker", good.substr(0, good.size() - 7)},
      {"offset beyond the end", good.substr(0, good.rfind("startxref")) + "startxref\n999999\n%%EOF\n"},
      {"no catalog", MakePdf({"<< /Type /Pages /Kids [] /Count 0 >>"}, "/Root 7 0 R")},
  };
  for (const auto& [what, pdf] : damaged) EXPECT_EQ(LoadError(pdf), "The file is damaged.") << what;

  // A header without a version number is not a PDF file.
  try {
    MemDoc d;
    d.doc.LoadFromStream("GIF89a\n" + good.substr(9));
    ADD_FAILURE() << "loaded";
  } catch (const platform::EConvertError& e) {
    EXPECT_STREQ(e.what(), "'' is not a valid integer value");
  }
  // A file cannot be loaded into a document already begun, nor twice.
  MemDoc started;
  started.doc.BeginDoc();
  EXPECT_THROW(started.doc.LoadFromStream(good), EMRVXError);
  MemDoc twice;
  twice.doc.LoadFromStream(good);
  try {
    twice.doc.LoadFromStream(good);
    ADD_FAILURE() << "loaded twice";
  } catch (const EMRVXError& e) {
    EXPECT_STREQ(e.what(), "Please load the document before using BeginDoc.");
  }
  MemDoc missing;
  EXPECT_THROW(missing.doc.LoadFromFile(dir.File("missing.pdf")), EMRVXError);
}

// A page whose content stream the writer cannot decode (decode parameters it does not apply,
// a damaged stream) keeps that stream byte for byte; what is drawn on the page, or on a copy of
// it, follows in a stream of its own, and the document is written.
TEST(Loader, ContentTheWriterCannotDecodeIsKeptAndDrawnAfter) {
  const std::string kept = Stream("/Filter /FlateDecode /DecodeParms << /Predictor 1 >>",
                                  FlateEncode("BT /F1 12 Tf 20 100 Td (Kept as it was) Tj ET"));
  const std::string damaged = Stream("/Filter /FlateDecode", "x\x9c not a deflate stream");
  const auto page_with = [](const std::string& contents, const std::string& stream) {
    return MakePdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                    "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 200] /Resources << /Font << /F1 5 0 R >> >> "
                    "/Contents " + contents + " >>",
                    stream, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"});
  };
  TempDir dir;
  for (const bool copy : {false, true}) {
    for (const std::string& contents : {std::string("4 0 R"), std::string("[4 0 R]")}) {
      for (const bool readable : {true, false}) {
        SCOPED_TRACE(::testing::Message() << contents << (readable ? " parameters" : " damaged") << (copy ? " copied" : ""));
        const std::string& stream = readable ? kept : damaged;
        MemDoc loaded;
        ASSERT_EQ(loaded.doc.LoadFromStream(page_with(contents, stream)), 1);
        MemDoc copied;
        MemDoc& d = copy ? copied : loaded;
        if (copy) {
          copied.doc.BeginDoc();
          copied.doc.CopyPageFromDocument(loaded.doc, 0, 0);
          copied.doc.DeletePage(1);
          copied.doc.SetCurrentPageNum(0);
        } else {
          loaded.doc.BeginDoc();
        }
        d.doc.CurrentPage()->SetFont("Arial", 0, 12, 0, false);
        d.doc.CurrentPage()->TextOut(20, 40, 0, "Added later");
        ASSERT_NO_THROW(d.doc.EndDoc());
        // The old stream is there unchanged.
        const std::string old_data = stream.substr(stream.find("stream\n") + 7, stream.rfind("\nendstream") - stream.find("stream\n") - 7);
        EXPECT_NE(d.out.find(old_data), std::string::npos);
        if (!readable) continue;
        const std::string path = dir.File("kept.pdf");
        testing::WriteFile(path, d.out);
        testing::ExpectQpdfOk(path);
        const std::string text = PdfToText(path);
        EXPECT_NE(text.find("Kept as it was"), std::string::npos) << text;
        EXPECT_NE(text.find("Added later"), std::string::npos) << text;
      }
    }
  }
}

TEST(Loader, EncryptedFilesLoadWithoutPages) {
  MemDoc enc;
  enc.doc.ActivateProtection = true;
  enc.doc.BeginDoc();
  enc.doc.CurrentPage()->TextOut(10, 10, 0, "secret");
  enc.doc.EndDoc();
  MemDoc d;
  EXPECT_EQ(d.doc.LoadFromStream(enc.out), 0);
  EXPECT_TRUE(d.doc.IsEncrypted());
  EXPECT_EQ(d.doc.IndirectObjects().size(), 0u);
  d.doc.BeginDoc();
  d.doc.SetCurrentPageNum(3);  // ignored
  EXPECT_EQ(d.doc.CurrentPage(), nullptr);
  try {
    d.doc.EndDoc();
    ADD_FAILURE() << "written";
  } catch (const EMRVXError& e) {
    EXPECT_STREQ(e.what(), "The loaded document is encrypted and cannot be written.");
  }
}

TEST(Loader, SimpleTextIsFoundThroughEveryFilter) {
  const auto page_with = [](const std::string& stream) {
    return MakePdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                    "<< /Type /Page /Parent 2 0 R /Resources << >> /Contents [4 0 R] >>", stream});
  };
  const std::pair<std::string, bool> cases[] = {
      // Text is looked for on lines that start with the string, as the writer puts it.
      {Stream("", "BT (Hi) Tj ET"), false},
      {Stream("", "BT\n<0041> Tj\nET"), true},
      {Stream("", "BT\n() Tj\nET"), false},
      {Stream("", "0 0 m 10 10 l S"), false},
      {Stream("/Filter /ASCIIHexDecode", "2848692920546A>"), true},
      {Stream("/Filter [/FlateDecode /ASCII85Decode]", FlateEncode("6<\":?880Lq<,)b/;u~>")), true},
      {Stream("/Filter /RunLengthDecode", std::string("\x0A" "BT\n(Hi) Tj" "\x80", 13)), true},
  };
  for (const auto& [stream, expected] : cases) {
    MemDoc d;
    d.doc.LoadFromStream(page_with(stream));
    EXPECT_EQ(d.doc.IsHaveSimpleText(), expected) << stream;
  }
}

TEST(PageCopy, ACopiedPageRendersLikeItsOriginal) {
  TempDir dir;
  const std::string own = OwnDocument();
  testing::WriteFile(dir.File("own.pdf"), own);
  MemDoc source;
  ASSERT_EQ(source.doc.LoadFromStream(own), 2);
  // An annotation that names its page comes along and names the copy.
  TMRVXDictionaryObject* page0 = source.doc.PageArr()[0].PageObj;
  TMRVXDictionaryObject* annot = source.doc.CreateIndirectDictionary();
  annot->AddNameValue("Type", "Annot");
  annot->AddNameValue("Subtype", "Text");
  annot->AddLink("P", *page0);
  TMRVXArrayObject* rect = annot->AddArray("Rect");
  for (int v : {10, 10, 30, 30}) rect->AddIntegerValue(v);
  page0->AddArray("Annots")->AddLink(*annot);

  MemDoc d;
  d.doc.BeginDoc();
  EXPECT_THROW(d.doc.CopyPageFromDocument(source.doc, 2, 0), EMRVXError);
  EXPECT_THROW(d.doc.CopyPageFromDocument(source.doc, 0, 2), EMRVXError);
  const size_t before = d.doc.IndirectObjects().size();
  d.doc.CopyPageFromDocument(source.doc, 0, 1);
  const size_t one_copy = d.doc.IndirectObjects().size() - before;
  EXPECT_EQ(d.doc.CurrentPageNumber(), 1);
  d.doc.CopyPageFromDocument(source.doc, 0, 0);  // again, before the first page
  EXPECT_EQ(d.doc.IndirectObjects().size() - before, 2 * one_copy);  // resources copied again
  EXPECT_EQ(d.doc.PagesCount(), 3);
  d.doc.SetCurrentPageNum(1);  // the document's own page, between the two copies
  d.doc.CurrentPage()->TextOut(50, 60, 0, "Own page");
  TMRVXDictionaryObject* copy = d.doc.PageArr()[0].PageObj;
  auto* annots = static_cast<TMRVXArrayObject*>(copy->GetValue("Annots"));
  ASSERT_NE(annots, nullptr);
  auto* copied_annot = static_cast<TMRVXDictionaryObject*>(d.doc.Resolve(annots->GetIndexedItem(0)));
  EXPECT_EQ(static_cast<TMRVXLink*>(copied_annot->GetValue("P"))->Value, copy->ID);
  d.doc.EndDoc();

  const std::string path = dir.File("copied.pdf");
  testing::WriteFile(path, d.out);
  testing::ExpectQpdfOk(path);
  testing::SaveSample("copied-page.pdf", d.out);
  const testing::PageRaster original = testing::RenderPage(dir.File("own.pdf"), dir.File("o"));
  for (int page : {1, 3}) {
    const std::string n = std::to_string(page);
    const testing::PageRaster copied = testing::RenderPage(path, dir.File("c" + n), "-hide-annotations -f " + n + " -l " + n);
    EXPECT_EQ(copied.width, original.width);
    EXPECT_TRUE(copied.rgb == original.rgb) << page;
  }
  EXPECT_NE(PdfToText(path).find("Own page"), std::string::npos);

  // One object copied on its own: an indirect object here, with what it refers to; a page
  // it names is left out.
  MemDoc single;
  single.doc.BeginDoc();
  TMRVXObject* copied = single.doc.CopyObject(source.doc, annot);
  ASSERT_NE(copied, nullptr);
  EXPECT_TRUE(copied->IsIndirect);
  EXPECT_EQ(static_cast<TMRVXDictionaryObject*>(copied)->GetValue("P"), nullptr);
  EXPECT_NE(single.doc.CopyObject(source.doc, annot), copied);  // each call copies anew
  EXPECT_EQ(single.doc.CopyObject(source.doc, page0), nullptr);

  // A page copied within its own document.
  MemDoc self;
  self.doc.BeginDoc();
  self.doc.CurrentPage()->TextOut(40, 40, 0, "Copied within");
  self.doc.AddPage();
  self.doc.CopyPageFromDocument(self.doc, 0, 2);
  self.doc.EndDoc();
  testing::WriteFile(dir.File("self.pdf"), self.out);
  testing::ExpectQpdfOk(dir.File("self.pdf"));
  const std::string self_text = PdfToText(dir.File("self.pdf"));
  EXPECT_EQ(std::count(self_text.begin(), self_text.end(), '\f'), 3);
  EXPECT_EQ(self_text.find("Copied within"), 0u);
  EXPECT_NE(self_text.rfind("Copied within"), 0u) << self_text;
}

TEST(Loader, RandomMutationsOfASmallFileLoadOrFailCleanly) {
  MemDoc base;
  base.doc.SetCompressionMethod(TMRVXCompressionMethod::cmNone);
  base.doc.BeginDoc();
  base.doc.CurrentPage()->TextOut(20, 20, 0, "Mutated (text)");
  base.doc.CurrentPage()->Rectangle(10, 10, 50, 50);
  base.doc.AddPage();
  base.doc.EndDoc();
  const std::string seed = base.out;
  std::mt19937 rng(4038);
  int loaded = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string pdf = seed;
    const int edits = 1 + static_cast<int>(rng() % 4);
    for (int e = 0; e < edits && !pdf.empty(); ++e) {
      const size_t at = rng() % pdf.size();
      switch (rng() % 5) {
        case 0: pdf[at] = static_cast<char>(rng()); break;  // a byte changed
        case 1: pdf.erase(at, 1 + rng() % 16); break;       // bytes removed
        case 2: pdf.insert(at, std::string(1 + rng() % 8, "0123456789 <>()[]/R"[rng() % 19])); break;
        case 3: pdf.resize(at); break;                      // truncated
        default: pdf[at] = "0123456789"[rng() % 10]; break; // a digit changed
      }
    }
    MemDoc d;
    try {
      d.doc.LoadFromStream(pdf);
      ++loaded;
      d.doc.BeginDoc();
      d.doc.EndDoc();
    } catch (const std::exception&) {
      // refused, or loaded but not writable: a clear error is all that is asked
    }
  }
  EXPECT_GT(loaded, 0);
}

}  // namespace
}  // namespace pdfwriter

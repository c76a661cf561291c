// Outlines, attachments, scripts, annotations and links, read back by mutool, poppler and qpdf.
#include <gtest/gtest.h>

#include "pdfwriter/mrvx_doc.h"
#include "pdfwriter/tests/font_test_tools.h"
#include "pdfwriter/tests/image_doc_tools.h"
#include "pdfwriter/tests/test_tools.h"

namespace pdfwriter {
namespace {

using testing::MemDoc;
using testing::RunTool;
using testing::TempDir;

TMRVXDictionaryObject* Dict(const TMorvex& doc, TMRVXObject* obj) {
  return static_cast<TMRVXDictionaryObject*>(doc.Resolve(obj));
}
int64_t Int(TMRVXObject* obj) { return static_cast<int64_t>(static_cast<TMRVXNumericObject*>(obj)->Value); }

// What qpdf's JSON says of each page's annotations: one line per annotation, the subtype
// followed by its rectangle, or "missing" for a reference to nothing.
std::string AnnotationsByQpdf(const std::string& path) {
  const auto r = testing::RunPython(
      "import json, subprocess, sys\n"
      "j = json.loads(subprocess.check_output(['qpdf', '--json', sys.argv[1]]))\n"
      "objs = j['qpdf'][1]\n"
      "for page in j['pages']:\n"
      "  p = objs['obj:' + page['object']]['value']\n"
      "  for a in p.get('/Annots', []):\n"
      "    d = objs.get('obj:' + a, {}).get('value')\n"
      "    if d is None:\n"
      "      print('missing')\n"
      "      continue\n"
      "    print(d['/Subtype'], ' '.join('%g' % v for v in d['/Rect']))\n",
      path);
  EXPECT_EQ(r.exit_code, 0) << r.output;
  return r.output;
}

TEST(Outline, EntriesNestInOrderWithCountsParentsAndDestinations) {
  MemDoc d;
  d.doc.BeginDoc();
  TMRVXDocOutlineObject* root = d.doc.OutlineRoot();
  TMRVXDocOutlineObject* first = root->AddChild("Results", 0, 0);
  d.doc.AddPage();
  TMRVXDocOutlineObject* second = root->AddChild("Statistics", 100, 200);
  EXPECT_EQ(root->Count(), 2);
  EXPECT_EQ(root->First(), first);
  EXPECT_EQ(root->Last(), second);
  EXPECT_EQ(first->Next(), second);
  EXPECT_EQ(second->Prev(), first);
  EXPECT_EQ(Int(first->LinkedObj->GetValue("Count")), 0);
  EXPECT_NE(first->LinkedObj->GetValue("Next"), nullptr);
  EXPECT_NE(second->LinkedObj->GetValue("Prev"), nullptr);
  // A child of a closed entry: its count is negative, the root's grows.
  TMRVXDocOutlineObject* dots = first->AddChild("Dot area", 50, 300);
  EXPECT_EQ(Int(first->LinkedObj->GetValue("Count")), -1);
  EXPECT_EQ(root->Count(), 3);
  EXPECT_EQ(static_cast<TMRVXLink*>(dots->LinkedObj->GetValue("Parent"))->Value, first->LinkedObj->ID);
  first->AddChild("Ruling", 50, 400);
  first->SetOpened(true);
  EXPECT_EQ(Int(first->LinkedObj->GetValue("Count")), 2);
  // The destination: the current page at the projected point.
  auto* dest = static_cast<TMRVXArrayObject*>(second->LinkedObj->GetValue("Dest"));
  EXPECT_EQ(static_cast<TMRVXLink*>(dest->GetIndexedItem(0))->Value, d.doc.PageArr()[1].PageObj->ID);
  EXPECT_EQ(Int(dest->GetIndexedItem(2)), 100);
  EXPECT_EQ(Int(dest->GetIndexedItem(3)), 642);
  d.doc.EndDoc();

  // Top-level entries name the outline dictionary as their parent.
  TMRVXDictionaryObject* outlines = Dict(d.doc, d.doc.Catalog()->GetValue("Outlines"));
  ASSERT_NE(outlines, nullptr);
  EXPECT_EQ(Int(outlines->GetValue("Count")), 4);
  EXPECT_EQ(static_cast<TMRVXLink*>(first->LinkedObj->GetValue("Parent"))->Value, outlines->ID);
  EXPECT_EQ(static_cast<TMRVXNameObject*>(d.doc.Catalog()->GetValue("PageMode"))->Value, "UseOutlines");

  TempDir dir;
  const std::string path = dir.File("outline.pdf");
  testing::WriteFile(path, d.out);
  testing::ExpectQpdfOk(path);
  const std::string listed = RunTool("mutool show " + path + " outline").output;
  const size_t a = listed.find("\"Results\""), b = listed.find("\"Dot area\""), c = listed.find("\"Ruling\""),
               e = listed.find("\"Statistics\"");
  EXPECT_TRUE(a != std::string::npos && a < b && b < c && c < e) << listed;
  EXPECT_NE(listed.find("#page=2"), std::string::npos) << listed;
}

TEST(Outline, AnEmptyOutlineWritesNothing) {
  MemDoc d;
  d.doc.PageMode = TMRVXPageMode::pmUseThumbs;
  d.doc.BeginDoc();
  d.doc.OutlineRoot();
  d.doc.EndDoc();
  EXPECT_EQ(d.out.find("/Outlines"), std::string::npos);
  EXPECT_NE(d.out.find("/PageMode /UseThumbs"), std::string::npos);
}

TEST(Attachments, FilesComeBackByteForByteInCallOrder) {
  TempDir dir;
  std::string bytes;
  for (int i = 0; i < 3000; ++i) bytes.push_back(static_cast<char>(i * 7 % 256));
  testing::WriteFile(dir.File("measurement.bin"), bytes);
  MemDoc d;
  d.doc.BeginDoc();
  d.doc.AddDocumentAttachment(dir.File("measurement.bin"), "Raw values");
  d.doc.AddDocumentAttachment("notes.txt", "Plate 7, second run\n", "Operator notes");
  try {
    d.doc.AddDocumentAttachment(dir.File("missing.bin"), "none");
    ADD_FAILURE() << "attached";
  } catch (const EMRVXError& e) {
    EXPECT_NE(std::string(e.what()).find("Cannot open file"), std::string::npos);
  }
  // Outline and attachments together make the sample of both.
  d.doc.OutlineRoot()->AddChild("Attachments", 0, 0);
  d.doc.EndDoc();
  const std::string path = dir.File("attachments.pdf");
  testing::WriteFile(path, d.out);
  testing::ExpectQpdfOk(path);
  testing::SaveSample("outlines-and-attachments.pdf", d.out);

  const std::string list = RunTool("pdfdetach -list " + path).output;
  EXPECT_NE(list.find("2 embedded files"), std::string::npos) << list;
  const size_t first = list.find("1: measurement.bin"), second = list.find("2: notes.txt");
  EXPECT_TRUE(first != std::string::npos && second != std::string::npos && first < second) << list;
  ASSERT_EQ(RunTool("pdfdetach -save 1 -o " + dir.File("out.bin") + " " + path).exit_code, 0);
  EXPECT_TRUE(testing::ReadFile(dir.File("out.bin")) == bytes);
  ASSERT_EQ(RunTool("pdfdetach -save 2 -o " + dir.File("out.txt") + " " + path).exit_code, 0);
  EXPECT_EQ(testing::ReadFile(dir.File("out.txt")), "Plate 7, second run\n");
}

TEST(Scripts, OpenAndEventScriptsAreWrittenForTheViewer) {
  MemDoc d;
  d.doc.SetActionScript(TMRVXActionScriptType::astOpen, "app.alert('QC report');");
  d.doc.SetActionScript(TMRVXActionScriptType::astWillPrint, "this.print_count = 1;");
  d.doc.BeginDoc();
  d.doc.EndDoc();
  TempDir dir;
  const std::string path = dir.File("scripts.pdf");
  testing::WriteFile(path, d.out);
  testing::ExpectQpdfOk(path);
  // poppler lists the document's event scripts; the open script is the catalog's open action.
  const std::string js = RunTool("pdfinfo -js " + path).output;
  EXPECT_NE(js.find("Before Print Document:\nthis.print_count = 1;"), std::string::npos) << js;
  const auto open = testing::RunPython(
      "import json, subprocess, sys\n"
      "j = json.loads(subprocess.check_output(['qpdf', '--json', sys.argv[1]]))\n"
      "objs = j['qpdf'][1]\n"
      "root = objs['obj:' + objs['trailer']['value']['/Root']]['value']\n"
      "a = objs['obj:' + root['/OpenAction']]['value']\n"
      "print(a['/S'], a['/JS'])\n",
      path);
  EXPECT_EQ(open.output, "/JavaScript u:app.alert('QC report');\n");
  TMRVXDictionaryObject* aa = Dict(d.doc, d.doc.Catalog()->GetValue("AA"));
  EXPECT_NE(aa->GetValue("WP"), nullptr);
  EXPECT_EQ(aa->GetValue("WC"), nullptr);  // empty scripts are left out
}

TEST(Annotations, LinksAndAnnotationsShareOnePageArray) {
  TempDir dir;
  testing::WriteFile(dir.File("data.csv"), "a;b\n1;2\n");
  MemDoc d;
  d.doc.BeginDoc();
  TMRVXPage& p = *d.doc.CurrentPage();
  p.SetRGBFillColor(0x112233);
  p.SetRGBStrokeColor(0x445566);
  p.SetFont("Arial", 0, 12, 0, false);
  const float w = p.TextWidth("quirvel.example"), h = p.TextHeight("quirvel.example");
  p.PrintHyperlink(100, 100, "quirvel.example", "https://quirvel.example/");
  EXPECT_EQ(p.FillColor(), 0x112233);
  EXPECT_EQ(p.StrokeColor(), 0x445566);
  p.AddTextAnnotation("A note", {100, 200, 150, 250}, true, TMRVXTextAnnotationType::taHelp, 0x0000FF);
  p.AddStampAnnotation("Checked", {300, 200, 400, 250}, TMRVXStampAnnotationType::satDraft, -16);
  p.AddCircleSquareAnnotation("Area", {100, 300, 200, 350}, TMRVXCSAnnotationType::csSquare, 0x00FF00);
  p.AddLineAnnotation("Line", {100, 400}, {200, 450}, 0xFF0000);
  p.AddFreeTextAnnotation("Free", {300, 400, 450, 430}, TMRVXFreeTextAnnotationJust::ftCenter, 0xA0FFFF);
  p.AddFileAttachmentAnnotation("Data", dir.File("data.csv"), {300, 500, 320, 520}, 0);
  EXPECT_THROW(p.AddSoundAnnotation("Sound", dir.File("missing.wav"), {0, 0, 10, 10}, 0), EMRVXError);
  d.doc.AddPage();
  d.doc.CurrentPage()->PrintHyperlink(50, 50, "again", "https://quirvel.example/b");
  d.doc.CurrentPage()->PrintDocumentLink(50, 100, "back to the first page", 0, 0, 300);
  d.doc.EndDoc();

  const std::string path = dir.File("links.pdf");
  testing::WriteFile(path, d.out);
  testing::ExpectQpdfOk(path);
  testing::SaveSample("links-and-annotations.pdf", d.out);

  // The link spans the text: from 100 to 100 + its width, from 742 down by its height.
  char link[128];
  std::snprintf(link, sizeof link, "/Link 100 742 %g %g\n", static_cast<double>(100 + w), static_cast<double>(742 - h));
  const std::string annots = AnnotationsByQpdf(path);
  EXPECT_EQ(annots.rfind(link, 0), 0u) << annots << link;
  for (const char* line : {"/Text 100 592 150 642\n", "/Stamp 300 642 400 592\n", "/Square 100 542 200 492\n",
                           "/Line 100 442 200 392\n", "/FreeText 300 412 450 442\n", "/FileAttachment 300 342 320 322\n"})
    EXPECT_NE(annots.find(line), std::string::npos) << line << annots;
  EXPECT_EQ(annots.find("missing"), std::string::npos) << annots;
  EXPECT_EQ(std::count(annots.begin(), annots.end(), '\n'), 9) << annots;

  // What the dictionaries say beyond the rectangles.
  const auto annot = [&](int page, size_t i) {
    TMRVXDictionaryObject* pg = d.doc.PageArr()[static_cast<size_t>(page)].PageObj;
    return Dict(d.doc, static_cast<TMRVXArrayObject*>(pg->GetValue("Annots"))->GetIndexedItem(i));
  };
  const auto name = [](TMRVXObject* o) { return static_cast<TMRVXNameObject*>(o)->Value; };
  EXPECT_EQ(name(annot(0, 1)->GetValue("Name")), "Help");
  EXPECT_TRUE(static_cast<TMRVXBooleanObject*>(annot(0, 1)->GetValue("Open"))->Value);
  EXPECT_EQ(name(annot(0, 2)->GetValue("Name")), "Draft");
  EXPECT_EQ(Int(static_cast<TMRVXArrayObject*>(annot(0, 2)->GetValue("C"))->GetIndexedItem(0)), 0);  // -16: black
  TMRVXDictionaryObject* uri = Dict(d.doc, annot(0, 0)->GetValue("A"));
  EXPECT_EQ(static_cast<TMRVXStringObject*>(uri->GetValue("URI"))->Value, "https://quirvel.example/");
  auto* dest = static_cast<TMRVXArrayObject*>(annot(1, 1)->GetValue("Dest"));
  EXPECT_EQ(static_cast<TMRVXLink*>(dest->GetIndexedItem(0))->Value, d.doc.PageArr()[0].PageObj->ID);
  EXPECT_EQ(Int(dest->GetIndexedItem(3)), 542);
  const std::string attached = RunTool("pdfdetach -list " + path).output;
  EXPECT_NE(attached.find("data.csv"), std::string::npos) << attached;
}

TEST(Annotations, MovieNamesItsFileWithForwardSlashes) {
  EXPECT_EQ(ConvertFileName("C:\\a\\b.avi"), "C:/a/b.avi");
  MemDoc d;
  d.doc.BeginDoc();
  d.doc.CurrentPage()->AddMovieAnnotation("clip", "C:\\films\\run.avi", {10, 10, 110, 60}, 0);
  d.doc.EndDoc();
  EXPECT_NE(d.out.find("/F (C:/films/run.avi)"), std::string::npos);
  EXPECT_NE(d.out.find("/Aspect [ 352 18 ]"), std::string::npos);
}

}  // namespace
}  // namespace pdfwriter

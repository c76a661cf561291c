// The PDF loader: any bytes either load as a document or are refused with the writer's error
// (or the conversion error of a header without a version). A loaded document is walked page by
// page, its content streams are decoded, one page is drawn on and the whole is written again
// to memory; a page is also copied into a second document.
#include "fuzz/pdf_document.h"
#include "platform/base/number_parse.h"

namespace {

bool Load(pdfwriter::TMorvex& doc, std::string_view bytes) {
  try {
    const int pages = doc.LoadFromStream(bytes);
    FUZZ_CHECK(pages == static_cast<int>(doc.PageArr().size()));
    return true;
  } catch (const pdfwriter::EMRVXError&) {
  } catch (const platform::EConvertError&) {
  }
  // A document that could not be loaded is as good as new.
  FUZZ_CHECK(doc.IndirectObjects().empty());
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The whole input is the file (so that real PDFs are seeds as they are); the page drawn on
  // follows from its size.
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const size_t choice = size;

  platform::ManualClock clock{45000};
  pdfwriter::TMorvex doc{&clock};
  doc.Launcher = nullptr;
  std::string out;
  doc.SetOutputStream(&out);
  const bool loaded = Load(doc, bytes);
  if (loaded && !doc.IsEncrypted()) {
    try {
      doc.IsHaveSimpleText();
    } catch (const pdfwriter::EMRVXError&) {
      // A content stream that does not decode ("Invalid FlateDecode stream.").
    }
    for (const pdfwriter::TMRVXDictArrItem& page : doc.PageArr()) {
      FUZZ_CHECK(page.PageObj != nullptr);
      if (auto* contents = page.PageObj->GetValue("Contents");
          contents && contents->ObjectType() == pdfwriter::TMRVXObjectType::otLink) {
        for (const auto& o : doc.IndirectObjects())
          if (o->ID == static_cast<pdfwriter::TMRVXLink*>(contents)->Value &&
              o->ObjectType() == pdfwriter::TMRVXObjectType::otStream) {
            try {
              doc.DecodedStream(*static_cast<const pdfwriter::TMRVXStreamObject*>(o.get()));
            } catch (const pdfwriter::EMRVXError&) {
            }
          }
      }
    }
  }
  try {
    doc.BeginDoc();
  } catch (const pdfwriter::EMRVXError&) {
    // A loaded first page that cannot be prepared for drawing ("Invalid page contents.", an
    // unreadable media box) is refused here; nothing was written.
    FUZZ_CHECK(loaded && out.empty());
    return 0;
  }
  const int pages = doc.PagesCount();
  if (loaded && !doc.IsEncrypted() && pages > 0) {
    // Copy one page into a fresh document before this one changes.
    fuzz::PdfDocument copy;
    try {
      copy.doc.CopyPageFromDocument(doc, static_cast<int>(choice % static_cast<size_t>(pages)), 0);
    } catch (const pdfwriter::EMRVXError&) {
    }
    copy.End();
  }
  try {
    if (pages > 0) doc.SetCurrentPageNum(static_cast<int>(choice % static_cast<size_t>(pages)));
    if (pdfwriter::TMRVXPage* page = doc.CurrentPage()) {
      page->SetFont("Arial", 0, 12, 0, false);
      page->TextOut(20, 40, 0, "Fuzzed");
      page->Rectangle(10, 10, 50, 20);
      page->Stroke();
    }
  } catch (const pdfwriter::EMRVXError&) {
    // The same refusals for the page chosen here.
    FUZZ_CHECK(loaded);
  }
  try {
    doc.EndDoc();
    FUZZ_CHECK(out.rfind("%%EOF") != std::string::npos);
  } catch (const pdfwriter::EMRVXError& e) {
    // Only an encrypted document refuses to be written.
    if (!doc.IsEncrypted()) std::fprintf(stderr, "refused: %s\n", e.what());
    FUZZ_CHECK(doc.IsEncrypted());
  }
  return 0;
}

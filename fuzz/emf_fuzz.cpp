// Enhanced metafiles: the record reader, and the translator that plays a recording onto a PDF
// page. Any bytes are refused with a metafile or writer error, or drawn into a document that
// is written to its end.
#include "fuzz/pdf_document.h"
#include "pdfwriter/mrvx_wmf.h"
#include "platform/metafile/emf_records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  try {
    const std::vector<platform::EmfRecord> records = platform::ReadEmfRecords(bytes);
    FUZZ_CHECK(records.size() >= 2);
  } catch (const platform::EMetafileError&) {
  }
  fuzz::PdfDocument pdf;
  try {
    pdfwriter::TMRVXWmf wmf(pdf.doc.CurrentPage(), pdf.doc);
    wmf.Analyse(bytes);
  } catch (const pdfwriter::EMRVXError&) {
  }
  pdf.End();
  return 0;
}

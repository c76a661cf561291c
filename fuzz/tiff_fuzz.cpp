// TIFF files drawn into a PDF document, one page per directory. The input is the file; its
// size picks the encoding (Flate pictures, or fax-encoded 1-bit ones). Every file ends in a
// document or the writer's error.
#include "fuzz/pdf_document.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string file = fuzz::ScratchFile("input.tif");
  fuzz::WriteFile(file, std::span<const uint8_t>(data, size));
  fuzz::PdfDocument pdf;
  try {
    pdf.doc.AddTiffFromFile(
        file, size % 2 ? pdfwriter::TMRVXImageCompressionType::icFlate : pdfwriter::TMRVXImageCompressionType::icCCITT42,
        size % 3 ? pdfwriter::TTIFFPaintType::tptResizePage : pdfwriter::TTIFFPaintType::tptResizeImage);
  } catch (const pdfwriter::EMRVXError&) {
  }
  pdf.End();
  return 0;
}

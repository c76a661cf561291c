#pragma once
// A PDF document written into memory, for the targets whose reader draws into one; End writes
// it to its end, which every input must allow.
#include <string>

#include "fuzz/fuzz_support.h"
#include "pdfwriter/mrvx_doc.h"
#include "platform/base/clock.h"

namespace fuzz {

struct PdfDocument {
  platform::ManualClock clock{45000};
  pdfwriter::TMorvex doc{&clock};
  std::string out;

  explicit PdfDocument(pdfwriter::TMRVXCompressionMethod compression = pdfwriter::TMRVXCompressionMethod::cmFlateDecode) {
    doc.Launcher = nullptr;
    doc.SetCompressionMethod(compression);
    doc.SetOutputStream(&out);
    doc.BeginDoc();
  }
  void End() {
    doc.EndDoc();
    FUZZ_CHECK(out.rfind("%%EOF") != std::string::npos);
  }
};

}  // namespace fuzz

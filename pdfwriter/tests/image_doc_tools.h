#pragma once
// Documents written into memory and checked with poppler and qpdf, shared by the image and
// the security tests.
#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "pdfwriter/mrvx_doc.h"
#include "pdfwriter/tests/test_tools.h"
#include "platform/base/clock.h"

namespace pdfwriter::testing {

inline const platform::TDateTime kImageDocTime = platform::EncodeDate(2025, 3, 4) + platform::EncodeTime(5, 6, 7, 89);

// A document on a fixed clock that writes into a string and never opens a viewer.
struct MemDoc {
  platform::ManualClock clock{kImageDocTime};
  TMorvex doc{&clock};
  std::string out;
  MemDoc() {
    doc.Launcher = nullptr;
    doc.SetOutputStream(&out);
  }
};

// The text of object n of a written document, found through its cross-reference entry.
inline std::string ObjectAt(const std::string& pdf, int n) {
  const size_t xref = std::stoul(pdf.substr(pdf.rfind("startxref\r\n") + 11));
  const size_t entry = xref + pdf.substr(xref).find("65535 f\r\n") + 9 + static_cast<size_t>(n - 1) * 20;
  const size_t off = std::stoul(pdf.substr(entry, 10));
  const size_t end = pdf.find("endobj", off);
  return pdf.substr(off, end + 6 - off);
}

inline void ExpectQpdfOk(const std::string& path, const std::string& options = "") {
  const auto r = RunTool("qpdf " + options + " --check " + path);
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("No syntax or stream encoding errors found"), std::string::npos) << r.output;
  EXPECT_EQ(r.output.find("WARNING"), std::string::npos) << r.output;
}

// A page rendered by poppler at 72 dpi (one pixel per point).
struct PageRaster {
  int width = 0, height = 0;
  std::string rgb;
  int At(int x, int y, int channel) const {
    return static_cast<unsigned char>(rgb[(static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 3 +
                                          static_cast<size_t>(channel)]);
  }
};

inline PageRaster RenderPage(const std::string& pdf_path, const std::string& out_prefix, const std::string& options = "") {
  const auto r = RunTool("pdftoppm -r 72 -f 1 -l 1 -singlefile " + options + " " + pdf_path + " " + out_prefix);
  EXPECT_EQ(r.exit_code, 0) << r.output;
  const std::string ppm = ReadFile(out_prefix + ".ppm");
  PageRaster img;
  size_t at = 0;
  std::string fields[4];
  for (auto& f : fields) {
    while (at < ppm.size() && std::isspace(static_cast<unsigned char>(ppm[at]))) ++at;
    while (at < ppm.size() && !std::isspace(static_cast<unsigned char>(ppm[at]))) f.push_back(ppm[at++]);
  }
  if (fields[0] != "P6") {
    ADD_FAILURE() << "no page image";
    return img;
  }
  img.width = std::stoi(fields[1]);
  img.height = std::stoi(fields[2]);
  img.rgb = ppm.substr(at + 1);
  EXPECT_EQ(img.rgb.size(), static_cast<size_t>(img.width) * static_cast<size_t>(img.height) * 3);
  return img;
}

}  // namespace pdfwriter::testing

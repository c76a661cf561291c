#pragma once
// Lays a manual source out as an A4 PDF with the PDF writer: a title page, a table of
// contents whose lines link to their headings, numbered chapters (each on a new page) with
// sections and subsections, running text, lists, notes and tables flowed through the
// writer's paragraphs, a running header and a footer with the page number on every page
// after the title, and a bookmark outline of all headings.
#include <string>

#include "app/tools/manual_markup.h"
#include "platform/base/clock.h"

namespace app::manual {

struct PdfOptions {
  std::string version;               // fills {version} of @version
  platform::Clock* clock = nullptr;  // creation date (the process clock when null)
};

// The whole PDF file. The writer's errors (a face it cannot read, a file it cannot write)
// are thrown with their messages.
std::string RenderPdf(const Source& source, const PdfOptions& options);

// RenderPdf written to path; the file appears complete or not at all.
void WritePdf(const Source& source, const PdfOptions& options, const std::string& path);

}  // namespace app::manual

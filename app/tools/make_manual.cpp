// Writes a user's manual at build time: reads its text source and sets it as a PDF with the
// program's own PDF writer.
//
//   quirvel_manual [--version <x.y.z>] <source.txt> <manual.pdf>
//
// A mistake in the source stops the build with the file, the line and what is wrong; the
// PDF is written beside its name and renamed into place, so it is never left half written.
#include <cstdio>
#include <exception>
#include <fstream>
#include <sstream>
#include <string>

#include "app/tools/manual_markup.h"
#include "app/tools/manual_pdf.h"

int main(int argc, char** argv) {
  std::string version, source, target;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--version" && i + 1 < argc) version = argv[++i];
    else if (source.empty()) source = arg;
    else if (target.empty()) target = arg;
    else source.clear(), i = argc;  // too many arguments
  }
  if (source.empty() || target.empty()) {
    std::fprintf(stderr, "usage: quirvel_manual [--version <x.y.z>] <source.txt> <manual.pdf>\n");
    return 2;
  }
  try {
    std::ifstream in(source, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + source);
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) throw std::runtime_error("cannot read " + source);
    const app::manual::Source parsed = app::manual::ParseSource(text.str(), source);
    app::manual::PdfOptions options;
    options.version = version;
    app::manual::WritePdf(parsed, options, target);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quirvel_manual: %s\n", e.what());
    return 1;
  }
  return 0;
}

#pragma once
// A document drawn in memory for the font and text tests, and reading its font resources
// back out of the object graph.
#include <functional>
#include <string>
#include <vector>

#include "pdfwriter/mrvx_doc.h"
#include "pdfwriter/mrvx_doc_font.h"
#include "pdfwriter/mrvx_zlib.h"
#include "pdfwriter/tests/test_tools.h"
#include "platform/base/clock.h"

namespace pdfwriter::testing {

struct FontDoc {
  platform::ManualClock clock{45000};
  TMorvex doc{&clock};
  std::string out;
  FontDoc() {
    doc.Launcher = nullptr;
    doc.SetOutputStream(&out);
  }
  TMRVXPage& page() {
    if (!doc.CurrentPage()) doc.BeginDoc();
    return *doc.CurrentPage();
  }
  // Ends the document and writes it into dir; returns the path.
  std::string Save(const TempDir& dir, const std::string& name = "doc.pdf") {
    doc.EndDoc();
    WriteFile(dir.File(name), out);
    return dir.File(name);
  }
  // The font resource named `name` of page `index` (after the page was closed).
  TMRVXDictionaryObject* Font(const std::string& name, size_t index = 0) const {
    auto* page = doc.PageArr().at(index).PageObj;
    auto* res = static_cast<TMRVXDictionaryObject*>(doc.Resolve(page->GetValue("Resources")));
    auto* fonts = static_cast<TMRVXDictionaryObject*>(doc.Resolve(res->GetValue("Font")));
    return static_cast<TMRVXDictionaryObject*>(doc.Resolve(fonts->GetValue(name)));
  }
  TMRVXDictionaryObject* Dict(TMRVXObject* obj) const { return static_cast<TMRVXDictionaryObject*>(doc.Resolve(obj)); }
  TMRVXDictionaryObject* Descendant(TMRVXDictionaryObject* font) const {
    auto* arr = static_cast<TMRVXArrayObject*>(font->GetValue("DescendantFonts"));
    return Dict(arr->GetIndexedItem(0));
  }
  TMRVXDictionaryObject* Descriptor(TMRVXDictionaryObject* font) const {
    if (font->GetValue("DescendantFonts")) font = Descendant(font);
    return Dict(font->GetValue("FontDescriptor"));
  }
  // The inflated bytes of a stream a dictionary refers to under key.
  std::string StreamOf(TMRVXDictionaryObject* dict, const char* key) const {
    auto* s = static_cast<TMRVXStreamObject*>(doc.Resolve(dict->GetValue(key)));
    return FlateDecode(s->Stream);
  }
};

inline std::string NameOf(TMRVXObject* obj) { return obj ? static_cast<TMRVXNameObject*>(obj)->Value : "<none>"; }
inline double NumberOf(TMRVXObject* obj) { return static_cast<TMRVXNumericObject*>(obj)->Value; }

}  // namespace pdfwriter::testing

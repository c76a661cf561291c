// Outline, file attachments, annotation dictionaries and document scripts (part of the
// MRVXDoc module).
#include <cmath>
#include <fstream>
#include <sstream>

#include "pdfwriter/mrvx_doc.h"

namespace pdfwriter {
namespace {

// The file name without its folder (either kind of separator).
std::string WithoutFolder(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}


// The value under Key in Dict (a link is resolved) when it is a dictionary; otherwise a new
// indirect dictionary of the document stored under Key.
TMRVXDictionaryObject* IndirectDictionaryUnder(TMorvex& doc, TMRVXDictionaryObject* Dict, std::string_view Key) {
  if (TMRVXDictionaryObject* d = AsDictionary(doc.Resolve(Dict->GetValue(Key)))) return d;
  TMRVXDictionaryObject* d = doc.CreateIndirectDictionary();
  Dict->AddLink(Key, *d);
  return d;
}

}  // namespace

std::string ReadWholeFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw EMRVXError("Cannot open file \"" + path + "\".");
  std::ostringstream ss;
  ss << f.rdbuf();
  if (f.bad()) throw EMRVXError("Cannot read file \"" + path + "\".");
  return ss.str();
}

std::string ConvertFileName(std::string S) {
  for (char& c : S)
    if (c == '\\') c = '/';
  return S;
}

// ---- outline ----

TMRVXDocOutlineObject::TMRVXDocOutlineObject(TMorvex* AOwner)
    : FDoc(AOwner), FRootDict(std::make_unique<TMRVXDictionaryObject>(nullptr)) {
  LinkedObj = FRootDict.get();
  LinkedObj->AddIntegerValue("Count", 0);
}

void TMRVXDocOutlineObject::WriteCount() {
  if (LinkedObj && LinkedObj->FindValue("Count") >= 0) LinkedObj->AddIntegerValue("Count", FOpened ? FCount : -FCount);
}

void TMRVXDocOutlineObject::SetOpened(bool Value) {
  FOpened = Value;
  WriteCount();
}

TMRVXDocOutlineObject* TMRVXDocOutlineObject::AddChild(std::string Title, float X, float Y) {
  TMorvex& doc = *FDoc;
  doc.CheckNotEnded();
  TMRVXPage* page = doc.CurrentPage();
  if (!page) throw EMRVXError("The document has not been started.");

  for (TMRVXDocOutlineObject* e = this; e; e = e->FParent) {
    ++e->FCount;
    e->WriteCount();
  }
  doc.OutlineEnsemble.push_back(std::make_unique<TMRVXDocOutlineObject>(FDoc));
  TMRVXDocOutlineObject* n = doc.OutlineEnsemble.back().get();
  n->FParent = this;
  n->FTitle = std::move(Title);
  n->FRootDict.reset();
  n->LinkedObj = doc.CreateIndirectDictionary();
  n->LinkedObj->AddIntegerValue("Count", 0);
  n->LinkedObj->AddStringValue("Title", n->FTitle);
  // Every entry names its parent; the top-level entries get the outline dictionary itself
  // when the document ends and that dictionary is made.
  if (FParent) n->LinkedObj->AddLink("Parent", *LinkedObj);

  if (!FFirst) {
    FFirst = n;
    LinkedObj->AddLink("First", *n->LinkedObj);
  }
  if (TMRVXDocOutlineObject* last = FLast) {
    last->FNext = n;
    last->LinkedObj->AddLink("Next", *n->LinkedObj);
    n->LinkedObj->AddLink("Prev", *last->LinkedObj);
  }
  n->FPrev = FLast;
  LinkedObj->AddLink("Last", *n->LinkedObj);
  FLast = n;

  n->FLeft = static_cast<int32_t>(std::trunc(page->XProjection(X)));
  n->FTop = static_cast<int32_t>(std::trunc(page->YProjection(Y)));
  TMRVXArrayObject* dest = n->LinkedObj->AddArray("Dest");
  dest->AddLink(*page->PageObj());
  dest->AddNameValue("XYZ");
  dest->AddIntegerValue(n->FLeft);
  dest->AddIntegerValue(n->FTop);
  dest->AddIntegerValue(0);
  return n;
}

TMRVXDocOutlineObject* TMorvex::OutlineRoot() {
  if (!FOutlineRoot) FOutlineRoot = std::make_unique<TMRVXDocOutlineObject>(this);
  return FOutlineRoot.get();
}

void TMorvex::WriteOutlines(TMRVXDictionaryObject* catalog) {
  if (!FOutlineRoot || FOutlineRoot->FCount <= 0) return;
  TMRVXDocOutlineObject& root = *FOutlineRoot;
  TMRVXDictionaryObject* outlines = CreateIndirectDictionary();
  outlines->AddNameValue("Type", "Outlines");
  outlines->AddIntegerValue("Count", root.FCount);
  outlines->AddLink("First", *root.FFirst->LinkedObj);
  outlines->AddLink("Last", *root.FLast->LinkedObj);
  for (TMRVXDocOutlineObject* e = root.FFirst; e; e = e->FNext) e->LinkedObj->AddLink("Parent", *outlines);
  catalog->AddLink("Outlines", *outlines);
  catalog->AddNameValue("PageMode", "UseOutlines");
}

// ---- attachments ----

void TMorvex::AddDocumentAttachment(const std::string& AFileName, std::string Description) {
  // Read first, so that a file that cannot be read leaves nothing half made behind.
  const std::string data = ReadWholeFile(AFileName);
  AddDocumentAttachment(WithoutFolder(AFileName), data, std::move(Description));
}

void TMorvex::AddDocumentAttachment(std::string Name, std::string_view Data, std::string Description) {
  CheckNotEnded();
  TMRVXDictionaryObject* catalog = Catalog();
  if (!catalog || !FDocStarted) throw EMRVXError("The document has not been started.");
  TMRVXDictionaryObject* names = IndirectDictionaryUnder(*this, catalog, "Names");
  TMRVXDictionaryObject* spec = CreateIndirectDictionary();
  TMRVXDictionaryObject* embedded = IndirectDictionaryUnder(*this, names, "EmbeddedFiles");
  TMRVXArrayObject* list = AsArray(Resolve(embedded->GetValue("Names")));
  if (!list) list = embedded->AddArray("Names");
  list->AddStringValue(Name);
  list->AddLink(*spec);

  TMRVXStreamObject* file = CreateIndirectStream();
  file->Stream.assign(Data);
  const auto size = static_cast<int64_t>(Data.size());
  file->Dictionary->AddIntegerValue("DL", size);
  TMRVXDictionaryObject* params = file->Dictionary->AddDictionary("Params");
  const std::string now = _DateTimeToPdfDate(FClock->Now());
  params->AddStringValue("CreationDate", now);
  params->AddStringValue("ModDate", now);
  params->AddIntegerValue("Size", size);

  spec->AddStringValue("F", std::move(Name));
  spec->AddStringValue("Desc", std::move(Description));
  spec->AddNameValue("Type", "Filespec");
  spec->AddDictionary("EF")->AddLink("F", *file);
}

// ---- scripts ----

void TMorvex::SetActionScript(TMRVXActionScriptType ActionType, std::string ActionText) {
  FScripts[static_cast<size_t>(ActionType)] = std::move(ActionText);
}

void TMorvex::WriteScripts(TMRVXDictionaryObject* catalog) {
  const auto action = [this](const std::string& script) {
    TMRVXDictionaryObject* a = CreateIndirectDictionary();
    a->AddNameValue("S", "JavaScript");
    a->AddStringValue("JS", script);
    return a;
  };
  const std::string& open = FScripts[static_cast<size_t>(TMRVXActionScriptType::astOpen)];
  if (!open.empty()) catalog->AddLink("OpenAction", *action(open));
  TMRVXDictionaryObject* aa = AsDictionary(Resolve(catalog->GetValue("AA")));
  static constexpr std::pair<TMRVXActionScriptType, const char*> kEvents[] = {
      {TMRVXActionScriptType::astClose, "WC"},    {TMRVXActionScriptType::astWillSave, "WS"},
      {TMRVXActionScriptType::astDidSave, "DS"},  {TMRVXActionScriptType::astWillPrint, "WP"},
      {TMRVXActionScriptType::astDidPrint, "DP"}};
  for (const auto& [type, key] : kEvents) {
    const std::string& script = FScripts[static_cast<size_t>(type)];
    if (!script.empty() && aa) aa->AddLink(key, *action(script));
  }
}

bool TMorvex::FontIsEmbedded(std::string_view FontName) const {
  for (const std::string& n : NotEmbeddedFonts)
    if (n == FontName) return false;
  return true;
}

// ---- annotation dictionaries ----

const char* TextAnnotationIconName(TMRVXTextAnnotationType Type) {
  static const char* const kNames[] = {"Comment", "Key", "Note", "Help", "NewParagraph", "Paragraph", "Insert"};
  return kNames[static_cast<size_t>(Type) % 7];
}

const char* StampAnnotationName(TMRVXStampAnnotationType Type) {
  static const char* const kNames[] = {"Approved", "Experimental", "NotApproved", "AsIs", "Expired",
                                       "NotForPublicRelease", "Confidential", "Final", "Sold", "Departmental",
                                       "ForComment", "TopSecret", "Draft", "ForPublicRelease"};
  return kNames[static_cast<size_t>(Type) % 14];
}

void TMRVXAnnotation::AddAnnotationObject() {
  if (!FPage) throw EMRVXError("The annotation has no page.");
  TMorvex& doc = *FPage->FParent;
  doc.CheckNotEnded();
  // Files are read before anything is made, so that one that cannot be read adds nothing.
  std::string file;
  if (FType == TMRVXAnnotationSubType::asFileAttachment || FType == TMRVXAnnotationSubType::asSound)
    file = ReadWholeFile(FName);

  TMRVXDictionaryObject* d = doc.CreateIndirectDictionary();
  d->AddNameValue("Type", "Annot");
  auto color = std::make_unique<TMRVXArrayObject>(nullptr);
  for (int shift : {0, 8, 16}) color->AddNumericValue(static_cast<float>((FColor >> shift) & 0xFF) / 255.0f);
  TMRVXArrayObject* annots = FPage->AnnotsArray();

  const float l = FPage->XProjection(static_cast<float>(FLeftTop.X));
  const float t = FPage->YProjection(static_cast<float>(FLeftTop.Y));
  const float r = FPage->XProjection(static_cast<float>(FRightBottom.X));
  const float b = FPage->YProjection(static_cast<float>(FRightBottom.Y));
  const auto rect = [&](float y1, float y2) {
    TMRVXArrayObject* a = d->AddArray("Rect");
    for (float v : {l, y1, r, y2}) a->AddNumericValue(v);
  };
  const auto rect_a = [&] { rect(b, t); };  // left, bottom, right, top
  const auto rect_b = [&] { rect(t, b); };  // left, top, right, bottom
  const auto page_link = [&] { d->AddLink("P", *FPage->PageObj()); };
  const auto file_spec = [&](TMRVXStreamObject* stream) {
    TMRVXDictionaryObject* fs = doc.CreateIndirectDictionary();
    fs->AddNameValue("Type", "Filespec");
    if (stream) {
      fs->AddStringValue("F", WithoutFolder(FName));
      fs->AddDictionary("EF")->AddLink("F", *stream);
    } else {
      fs->AddStringValue("F", ConvertFileName(FName));
    }
    return fs;
  };

  switch (FType) {
    case TMRVXAnnotationSubType::asTextNotes:
      d->AddNameValue("Subtype", "Text");
      d->AddNameValue("Name", FName);
      rect_a();
      d->AddStringValue("Contents", FContents);
      d->AddBooleanValue("Open", FOpen);
      page_link();
      break;
    case TMRVXAnnotationSubType::asFreeText:
      d->AddNameValue("Subtype", "FreeText");
      rect_a();
      d->AddStringValue("Contents", FContents);
      d->AddIntegerValue("Q", FQuadding);
      // The appearance of the text is required; without it readers show an empty box.
      d->AddStringValue("DA", "/Helv 12 Tf 0 g");
      page_link();
      break;
    case TMRVXAnnotationSubType::asLine: {
      d->AddNameValue("Subtype", "Line");
      d->AddStringValue("Contents", FContents);
      TMRVXArrayObject* line = d->AddArray("L");
      for (float v : {l, t, r, b}) line->AddNumericValue(v);
      rect_b();
      page_link();
      break;
    }
    case TMRVXAnnotationSubType::asSquare:
    case TMRVXAnnotationSubType::asCircle:
      d->AddNameValue("Subtype", FType == TMRVXAnnotationSubType::asSquare ? "Square" : "Circle");
      d->AddStringValue("Contents", FContents);
      rect_b();
      page_link();
      break;
    case TMRVXAnnotationSubType::asStamp:
      d->AddNameValue("Subtype", "Stamp");
      d->AddStringValue("Contents", FContents);
      d->AddNameValue("Name", FTypeState);
      rect_b();
      page_link();
      break;
    case TMRVXAnnotationSubType::asFileAttachment: {
      TMRVXStreamObject* stream = doc.CreateIndirectStream();
      stream->Stream = std::move(file);
      TMRVXDictionaryObject* fs = file_spec(stream);
      d->AddNameValue("Subtype", "FileAttachment");
      d->AddStringValue("Contents", FContents);
      rect_b();
      page_link();
      d->AddLink("FS", *fs);
      break;
    }
    case TMRVXAnnotationSubType::asSound: {
      TMRVXStreamObject* stream = doc.CreateIndirectStream();
      stream->Stream = std::move(file);
      stream->Dictionary->AddNameValue("Type", "Sound");
      stream->Dictionary->AddIntegerValue("R", 22050);
      stream->Dictionary->AddIntegerValue("B", 16);
      stream->Dictionary->AddIntegerValue("C", 2);
      stream->Dictionary->AddNameValue("E", "Signed");
      d->AddNameValue("Subtype", "Sound");
      d->AddStringValue("Contents", FContents);
      rect_b();
      page_link();
      d->AddLink("Sound", *stream);
      break;
    }
    case TMRVXAnnotationSubType::asMovie: {
      TMRVXDictionaryObject* fs = file_spec(nullptr);
      d->AddNameValue("Subtype", "Movie");
      rect_b();
      d->AddBooleanValue("A", true);
      d->AddLink("FS", *fs);
      TMRVXDictionaryObject* movie = doc.CreateIndirectDictionary();
      movie->AddLink("F", *fs);
      movie->AddBooleanValue("Poster", true);
      TMRVXArrayObject* aspect = movie->AddArray("Aspect");
      aspect->AddIntegerValue(352);
      aspect->AddIntegerValue(18);
      d->AddLink("Movie", *movie);
      break;
    }
  }
  d->AddValue("C", std::move(color));
  annots->AddLink(*d);
}

}  // namespace pdfwriter

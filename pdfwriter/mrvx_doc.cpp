#include "pdfwriter/mrvx_doc.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include "pdfwriter/mrvx_crypt.h"
#include "pdfwriter/mrvx_wmf.h"
#include "platform/base/cp1252.h"

extern char** environ;

namespace pdfwriter {
namespace {

const char* PageLayoutName(TMRVXPageLayout v) {
  switch (v) {
    case TMRVXPageLayout::plSinglePage: return "SinglePage";
    case TMRVXPageLayout::plOneColumn: return "OneColumn";
    case TMRVXPageLayout::plTwoColumnLeft: return "TwoColumnLeft";
    case TMRVXPageLayout::plTwoColumnRight: return "TwoColumnRight";
  }
  return "SinglePage";
}

const char* PageModeName(TMRVXPageMode v) {
  switch (v) {
    case TMRVXPageMode::pmUseNone: return "UseNone";
    case TMRVXPageMode::pmUseOutlines: return "UseOutlines";
    case TMRVXPageMode::pmUseThumbs: return "UseThumbs";
    case TMRVXPageMode::pmFullScreen: return "FullScreen";
    case TMRVXPageMode::pmUseAttachments: return "UseAttachments";
  }
  return "UseNone";
}

// Writes the whole buffer or throws with the system's reason.
void WriteAll(int fd, const std::string& data, const std::string& name) {
  size_t at = 0;
  while (at < data.size()) {
    const ssize_t n = ::write(fd, data.data() + at, data.size() - at);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw EMRVXError("Cannot write file \"" + name + "\": " + std::strerror(errno));
    }
    at += static_cast<size_t>(n);
  }
}

}  // namespace

std::string DocIDSource(const std::string& FileName, platform::TDateTime Now) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  const platform::DateParts p = platform::DecodeDateTime(Now);
  const int dow = platform::DayOfWeek(Now);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s %02d-%02d-%04d %02d:%02d:%02d.%03d", kDays[(dow + 6) % 7], p.day, p.month,
                p.year, p.hour, p.minute, p.second, p.msec);
  return platform::Utf8ToCp1252(FileName) + buf;
}

TMorvex::TLauncher ShellOpenLauncher() {
  return [](const std::string& file) {
    std::string prog = "xdg-open";
    std::string arg = file;
    char* argv[] = {prog.data(), arg.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, "xdg-open", nullptr, nullptr, argv, environ) != 0) return;  // no viewer: as the shell would
    // The viewer opener exits on its own; reap it so that it leaves no zombie behind.
    std::thread([pid] {
      int status = 0;
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  };
}

// ---- construction and properties ----

TMorvex::TMorvex(platform::Clock* clock) : Launcher(ShellOpenLauncher()), FClock(clock ? clock : &platform::GetClock()) {
  FCreationDate = FClock->Now();
  // Every page's canvas recording becomes content through the metafile translator.
  InstallMetafileTranslator(*this);
}

TMorvex::~TMorvex() = default;

void TMorvex::CheckNotStarted(const char* what) const {
  if (FDocStarted) throw EMRVXError(std::string("Cannot set ") + what + " value - document in progress.");
}

void TMorvex::CheckNotEnded() const {
  if (FEnded) throw EMRVXError("The document has already been written.");
}

void TMorvex::SetAutoLaunch(bool Value) {
  CheckNotStarted("AutoLaunch");
  FAutoLaunch = Value;
}

void TMorvex::SetCompressionMethod(TMRVXCompressionMethod Value) {
  CheckNotStarted("Compression");
  FCompression = Value;
}

void TMorvex::SetStandardFontEmulation(bool Value) {
  CheckNotStarted("StandardFontEmulation");
  FStandardFontEmulation = Value;
}

void TMorvex::SetOutputStream(std::string* Stream) {
  CheckNotStarted("OutputStream");
  FOutputStream = Stream;
}

void TMorvex::SetCryptKeyType(TMRVXKeyType Value) {
  FCryptKeyType = Value;
  FRevision = Value == TMRVXKeyType::k40 ? 2 : 3;
}

void TMorvex::SetViewerPreferences(std::set<TMRVXViewerPreference> Value) {
  FViewerPreferences = std::move(Value);
  FVPChanged = true;
}

void TMorvex::SetResolution(int Value) {
  FResolutionValue = Value;
  FDocScale = static_cast<Extended>(Value) / 72;
}

void TMorvex::SetReferenceDpi(int Value) {
  if (Value < 1 || Value > platform::kMaxMetafileResolution) throw EMRVXError("Invalid reference resolution.");
  FReferenceDpi = Value;
}

platform::MetafileCanvas* TMorvex::Canvas() const { return FCurrentPage ? FCurrentPage->GetCanvas() : nullptr; }

// ---- object store ----

TMRVXObject* TMorvex::AddIndirectObject(std::unique_ptr<TMRVXObject> Obj) {
  ++FMaxObjNum;
  Obj->IsIndirect = true;
  Obj->ID = {FMaxObjNum, 0};
  FIndirectObjects.push_back(std::move(Obj));
  return FIndirectObjects.back().get();
}

TMRVXDictionaryObject* TMorvex::CreateIndirectDictionary() {
  return static_cast<TMRVXDictionaryObject*>(AddIndirectObject(std::make_unique<TMRVXDictionaryObject>(nullptr)));
}

TMRVXStreamObject* TMorvex::CreateIndirectStream() {
  return static_cast<TMRVXStreamObject*>(AddIndirectObject(std::make_unique<TMRVXStreamObject>(nullptr)));
}

int TMorvex::CompareObjectID(const TMRVXObjectNumber& A, const TMRVXObjectNumber& B) {
  if (A.ObjectNumber != B.ObjectNumber) return A.ObjectNumber < B.ObjectNumber ? -1 : 1;
  if (A.GenerationNumber != B.GenerationNumber) return A.GenerationNumber < B.GenerationNumber ? -1 : 1;
  return 0;
}

TMRVXObject* TMorvex::GetObjectByLink(const TMRVXLink* LinkObj) const {
  if (!LinkObj) return nullptr;
  for (const auto& obj : FIndirectObjects)
    if (CompareObjectID(obj->ID, LinkObj->Value) == 0) return obj.get();
  return nullptr;
}

TMRVXObject* TMorvex::Resolve(TMRVXObject* Obj) const {
  if (Obj && Obj->ObjectType() == TMRVXObjectType::otLink) return GetObjectByLink(static_cast<TMRVXLink*>(Obj));
  return Obj;
}

TMRVXDictionaryObject* TMorvex::Catalog() const {
  return FRootIndex < 0 ? nullptr : AsDictionary(FIndirectObjects[static_cast<size_t>(FRootIndex)].get());
}
TMRVXDictionaryObject* TMorvex::InfoDictionary() const {
  return FInfoIndex < 0 ? nullptr : AsDictionary(FIndirectObjects[static_cast<size_t>(FInfoIndex)].get());
}
TMRVXDictionaryObject* TMorvex::PagesRoot() const {
  return FPagesIndex < 0 ? nullptr : AsDictionary(FIndirectObjects[static_cast<size_t>(FPagesIndex)].get());
}

// ---- lifecycle ----

// The seven entries of the information dictionary, in their order; written again they keep
// their places.
void TMorvex::WriteInfoEntries(TMRVXDictionaryObject* info, const char* creator) const {
  const std::string created = _DateTimeToPdfDate(FCreationDate);
  info->AddStringValue("CreationDate", created);
  info->AddStringValue("Creator", creator);
  info->AddStringValue("Author", Author);
  info->AddStringValue("Title", Title);
  info->AddStringValue("Keywords", Keywords);
  info->AddStringValue("Subject", Subject);
  info->AddStringValue("ModDate", created);
}

void TMorvex::BeginDoc(bool /*Initial*/) {
  if (FDocStarted) throw EMRVXError("The document has already been started.");
  FDocStarted = true;
  FDocID = MD5CalcString(DocIDSource(FileName, FClock->Now()));
  if (FIsLoaded) {
    BeginLoadedDoc();
    FCurrentFontIndex = 0;
    FCurrentImageIndex = 0;
    return;
  }

  FPagesCount = 0;
  TMRVXDictionaryObject* catalog = CreateIndirectDictionary();
  FRootIndex = FMaxObjNum - 1;
  FRootLink = catalog->ID;
  catalog->AddNameValue("Type", "Catalog");
  if (ActivateProtection) EnableEncrypt();

  TMRVXDictionaryObject* info = CreateIndirectDictionary();
  FInfoIndex = FMaxObjNum - 1;
  FInfoLink = info->ID;
  WriteInfoEntries(info, kCreatorInProgress);

  TMRVXDictionaryObject* pages = CreateIndirectDictionary();
  FPagesIndex = FMaxObjNum - 1;
  FPageslink = pages->ID;
  catalog->AddLink("Pages", *pages);
  FPageLayout = TMRVXPageLayout::plOneColumn;
  pages->AddNameValue("Type", "Pages");
  pages->AddArray("Kids");
  pages->AddIntegerValue("Count", 0);
  AddPage();

  FCurrentFontIndex = 0;
  FCurrentImageIndex = 0;
}

int TMorvex::AddPage() {
  CheckNotEnded();
  TMRVXDictionaryObject* pages = PagesRoot();
  if (!pages) throw EMRVXError("The document has not been started.");
  ++FPagesCount;
  if (pages->FindValue("Count") >= 0) pages->AddIntegerValue("Count", FPagesCount);

  TMRVXDictionaryObject* page = CreateIndirectDictionary();
  page->AddNameValue("Type", "Page");
  page->AddLink("Parent", *pages);
  TMRVXArrayObject* box = page->AddArray("MediaBox");
  for (int v : {0, 0, 595, 842}) box->AddIntegerValue(v);
  TMRVXDictionaryObject* resources = page->AddDictionary("Resources");
  TMRVXArrayObject* procset = resources->AddArray("ProcSet");
  for (const char* n : {"PDF", "Text", "ImageC"}) procset->AddNameValue(n);
  resources->AddDictionary("XObject");
  FParentMB[0] = 0;
  FParentMB[1] = 0;
  FParentMB[2] = 595;
  FParentMB[3] = 842;
  FIsParented = false;

  TMRVXStreamObject* content = CreateIndirectStream();
  page->AddLink("Contents", *content);
  content->Dictionary->AddIntegerValue("Length", 0);
  content->Dictionary->AddArray("Filter");
  content->Dictionary->AddArray("DecodeParms");

  FPageArr.push_back({page, page->ID, 0, false});

  SetCurrentPageNum(FPagesCount - 1);
  FCurrentPage->SetPageSize(TMRVXPageSize::psA4);
  FCurrentPage->SetFont("Arial", 0, 10, 0, false);
  return FPagesCount - 1;
}

void TMorvex::ClosePage() {
  if (!FCurrentPage) return;
  // The page is gone afterwards whether or not its content could be written.
  std::unique_ptr<TMRVXPage> page = std::move(FCurrentPage);
  FCurrentPageNum = -1;
  page->ClosePage();
}

void TMorvex::SetCurrentPageNum(int Value) {
  CheckNotEnded();
  if (FIsEncrypted) return;  // an encrypted file loads without pages
  if (FCurrentPage && Value == FCurrentPageNum) return;
  if (Value < 0 || Value >= FPagesCount) throw EMRVXError("Invalid page number.");
  ClosePage();
  auto page = std::make_unique<TMRVXPage>(this, FPageArr[static_cast<size_t>(Value)].PageObj);
  page->ConvertPageObject();
  FCurrentPage = std::move(page);
  FCurrentPageNum = Value;
  FCurrentPage->SetRGBColor(0);
  FCurrentPage->SetFont("Arial", 0, 16, 0, false);
  FCurrentPage->SetTextRenderingMode(TPDFTextRenderingMode::trFill);
}

bool TMorvex::UsedByOtherPage(const TMRVXObjectNumber& id, const TMRVXDictionaryObject* page) const {
  for (const TMRVXDictArrItem& item : FPageArr) {
    if (item.PageObj == page || item.PageObj->IsDeleted) continue;
    TMRVXDictionaryObject* res = AsDictionary(Resolve(item.PageObj->GetValue("Resources")));
    TMRVXDictionaryObject* xobjects = res ? AsDictionary(Resolve(res->GetValue("XObject"))) : nullptr;
    if (!xobjects) continue;
    for (const TMRVXDictionaryItem& x : xobjects->Items) {
      if (x.Value->ObjectType() == TMRVXObjectType::otLink &&
          CompareObjectID(static_cast<const TMRVXLink*>(x.Value.get())->Value, id) == 0)
        return true;
    }
  }
  return false;
}

void TMorvex::DeletePage(int PageIndex) {
  CheckNotEnded();
  if (PageIndex < 0 || PageIndex >= FPagesCount) throw EMRVXError("Invalid page number");
  const int was_current = FCurrentPageNum;
  ClosePage();
  --FPagesCount;

  TMRVXDictionaryObject* page = FPageArr[static_cast<size_t>(PageIndex)].PageObj;
  DeleteObj(page, false);
  if (TMRVXDictionaryObject* res = AsDictionary(Resolve(page->GetValue("Resources")))) {
    if (TMRVXDictionaryObject* xobjects = AsDictionary(Resolve(res->GetValue("XObject")))) {
      for (const TMRVXDictionaryItem& x : xobjects->Items) {
        // An image that another page shows stays: deleting it would leave that page
        // referring to an object that is not written.
        if (x.Value->ObjectType() == TMRVXObjectType::otLink &&
            UsedByOtherPage(static_cast<const TMRVXLink*>(x.Value.get())->Value, page))
          continue;
        DeleteObj(x.Value.get(), false);
      }
    }
  }
  DeleteObj(page->GetValue("Contents"), false);
  if (TMRVXArrayObject* annots = AsArray(Resolve(page->GetValue("Annots")))) {
    for (const auto& a : annots->Items) DeleteObj(a.get(), true);
  }
  FPageArr.erase(FPageArr.begin() + PageIndex);

  // The page number that was current stays current (after deleting a page before it, that
  // number names the next page); when the current page itself was deleted, the page before
  // it takes its place. A number beyond the new last page becomes the last page, so that
  // the deletion never ends in an error once it is done.
  int next = was_current;
  if (was_current < 0 || was_current == PageIndex) next = PageIndex > 0 ? PageIndex - 1 : 0;
  else if (was_current >= FPagesCount) next = FPagesCount - 1;
  FCurrentPageNum = -1;
  SetCurrentPageNum(next);
}

void TMorvex::DeleteObj(TMRVXObject* InObj, bool Recursive) {
  if (!InObj) return;
  switch (InObj->ObjectType()) {
    case TMRVXObjectType::otDictionary: {
      // An object already deleted is not visited again: annotations name their page, and
      // following that back would never end.
      if (InObj->IsDeleted && Recursive) return;
      InObj->IsDeleted = true;
      if (!Recursive) return;
      for (const TMRVXDictionaryItem& item : static_cast<TMRVXDictionaryObject*>(InObj)->Items) {
        if (item.Key == "Parent") continue;
        if (item.Value->IsIndirect || item.Value->ObjectType() == TMRVXObjectType::otLink)
          DeleteObj(item.Value.get(), true);
      }
      return;
    }
    case TMRVXObjectType::otLink: {
      TMRVXObject* target = GetObjectByLink(static_cast<TMRVXLink*>(InObj));
      if (!target) return;
      if (Recursive) DeleteObj(target, true);
      else target->IsDeleted = true;
      return;
    }
    default:
      InObj->IsDeleted = true;
      return;
  }
}

void TMorvex::EndDoc() {
  if (FEnded) throw EMRVXError("The document has already been written.");
  if (!FDocStarted) throw EMRVXError("The document has not been started.");
  // Nothing of an encrypted file was read: writing it would make an empty, broken file.
  if (FIsEncrypted) throw EMRVXError("The loaded document is encrypted and cannot be written.");

  TMRVXDictionaryObject* catalog = Catalog();
  catalog->DeleteValue("PageLayout");
  catalog->AddNameValue("PageLayout", PageLayoutName(FPageLayout));
  catalog->DeleteValue("PageMode");
  catalog->AddNameValue("PageMode", PageModeName(PageMode));
  if (FVPChanged) {
    catalog->DeleteValue("ViewerPreferences");
    TMRVXDictionaryObject* vp = catalog->AddDictionary("ViewerPreferences");
    const std::pair<TMRVXViewerPreference, const char*> names[] = {
        {TMRVXViewerPreference::vpHideToolbar, "HideToolbar"},
        {TMRVXViewerPreference::vpHideMenubar, "HideMenubar"},
        {TMRVXViewerPreference::vpHideWindowUI, "HideWindowUI"},
        {TMRVXViewerPreference::vpFitWindow, "FitWindow"},
        {TMRVXViewerPreference::vpCenterWindow, "CenterWindow"}};
    for (const auto& [pref, name] : names)
      if (FViewerPreferences.count(pref)) vp->AddBooleanValue(name, true);
  }
  if (!AsDictionary(Resolve(catalog->GetValue("AA")))) catalog->AddDictionary("AA");
  WriteScripts(catalog);
  WriteOutlines(catalog);

  ClosePage();

  TMRVXDictionaryObject* pages = PagesRoot();
  TMRVXArrayObject* kids = pages ? AsArray(Resolve(pages->GetValue("Kids"))) : nullptr;
  if (!kids) throw EMRVXError("Invalid pages object.");
  kids->Clear();
  for (const TMRVXDictArrItem& item : FPageArr)
    if (!item.PageObj->IsDeleted) kids->AddLink(*item.PageObj);
  if (pages->FindValue("Count") < 0) throw EMRVXError("Invalid pages object.");
  pages->AddIntegerValue("Count", static_cast<int64_t>(FPageArr.size()));

  TMRVXDictionaryObject* info = InfoDictionary();
  WriteInfoEntries(info, kCreator);

  if (FOutputStream) {
    SaveToStream(*FOutputStream);
  } else {
    if (FileName.empty()) throw EMRVXError("Invalid filename.");
    SaveToFile(FileName);
  }
  FEnded = true;
}

void TMorvex::SaveToFile(const std::string& AFileName) {
  std::string data;
  SaveToStream(data);

  // Written beside the target and renamed over it, so that a failed write never leaves a
  // truncated file under the report's name.
  static std::atomic<unsigned> counter{0};
  const std::string tmp = AFileName + ".~" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
  const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) throw EMRVXError("Cannot create file \"" + AFileName + "\": " + std::strerror(errno));
  try {
    WriteAll(fd, data, AFileName);
    if (::fsync(fd) != 0) throw EMRVXError("Cannot write file \"" + AFileName + "\": " + std::strerror(errno));
  } catch (...) {
    ::close(fd);
    ::unlink(tmp.c_str());
    throw;
  }
  if (::close(fd) != 0) {
    const int err = errno;
    ::unlink(tmp.c_str());
    throw EMRVXError("Cannot write file \"" + AFileName + "\": " + std::strerror(err));
  }
  if (::rename(tmp.c_str(), AFileName.c_str()) != 0) {
    const int err = errno;
    ::unlink(tmp.c_str());
    throw EMRVXError("Cannot create file \"" + AFileName + "\": " + std::strerror(err));
  }
  if (FAutoLaunch && Launcher) Launcher(AFileName);
}

}  // namespace pdfwriter

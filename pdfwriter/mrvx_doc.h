#pragma once
// TMorvex, the PDF document: it owns every indirect object, the page list and the current
// page, and writes the whole object graph as a PDF file when the document ends.
//
//   TMorvex doc;             // properties first
//   doc.BeginDoc();          // catalog, information dictionary, page tree, first page
//   doc.CurrentPage()->Rectangle(...);
//   doc.AddPage();
//   doc.EndDoc();            // writes FileName (or the output stream)
//
// Time comes from an injected clock and the viewer is opened through an injected launcher, so
// that tests run with a fixed clock and no viewer.
#include <cstdint>
#include <functional>
#include <memory>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "pdfwriter/mrvx_barcode.h"
#include "pdfwriter/mrvx_doc_extras.h"
#include "pdfwriter/mrvx_doc_page.h"
#include "pdfwriter/mrvx_image.h"
#include "pdfwriter/mrvx_objs.h"
#include "pdfwriter/mrvx_types.h"
#include "platform/base/clock.h"
#include "platform/metafile/metafile.h"

namespace pdfwriter {

enum class TPDFVersType : uint8_t { pdf10, pdf11, pdf12, pdf13, pdf14, pdf15, pdf16, pdf17, pdf18, pdf19, pdf110 };
enum class TMRVXKeyType : uint8_t { k40, k128, aes128 };
enum class TMRVXProtection : uint8_t {
  prPrint, prModifyStructure, prInformationCopy, prEditAnnotations, prPrint12bit, prFillAnnotations,
  prExtractContent, prAssemble,
};
enum class TMRVXPageLayout : uint8_t { plSinglePage, plOneColumn, plTwoColumnLeft, plTwoColumnRight };
enum class TMRVXPageMode : uint8_t { pmUseNone, pmUseOutlines, pmUseThumbs, pmFullScreen, pmUseAttachments };
enum class TMRVXViewerPreference : uint8_t { vpHideToolbar, vpHideMenubar, vpHideWindowUI, vpFitWindow, vpCenterWindow };
enum class TMRVXCompressionMethod : uint8_t { cmNone, cmFlateDecode };
enum class TMRVXImageCompressionType : uint8_t { icFlate, icJpeg, icCCITT31, icCCITT32, icCCITT42 };

// One page of the page list.
struct TMRVXDictArrItem {
  TMRVXDictionaryObject* PageObj = nullptr;
  TMRVXObjectNumber PageLink;
  int32_t ItemIndex = 0;
  bool IsIndexed = false;
};

// How a TIFF picture meets its page: the page takes the picture's size, or the picture the
// page's width.
enum class TTIFFPaintType : uint8_t { tptResizePage, tptResizeImage };

// One registered image: Index is the number in its resource name "Im<Index>"; the picture's
// pixel size is kept for drawing with the aspect ratio kept.
struct TMRVXImageObject {
  int32_t Index = 0;
  std::string Name;
  TMRVXImage* ImageObject = nullptr;  // owned by the document's indirect objects
  int32_t Width = 0;
  int32_t Height = 0;
};

// Default texts of the information dictionary.
inline constexpr const char* kDefaultAuthor = "QUIRVEL";
inline constexpr const char* kDefaultKeywords = "QUIRVEL PDF";
inline constexpr const char* kDefaultTitle = "Morvex Document";
// "Creator" while the document is being drawn, and as written when it ends.
inline constexpr const char* kCreatorInProgress = "QUIRVEL PDF writer (in progress)";
inline constexpr const char* kCreator = "QUIRVEL PDF writer";

class TMorvex {
 public:
  // Opens a written file in a viewer (the shell's "open").
  using TLauncher = std::function<void(const std::string& FileName)>;
  // Turns a page's canvas recording into content operators of that page. The metafile
  // translator installs itself here; without one, only an empty recording can be closed.
  using TRecordingTranslator = std::function<void(TMRVXPage& Page, const platform::Metafile& Recording)>;

  // clock: where the creation time and the document identifier's time come from (the
  // process clock when null). The launcher starts as ShellOpenLauncher().
  explicit TMorvex(platform::Clock* clock = nullptr);
  ~TMorvex();
  TMorvex(const TMorvex&) = delete;
  TMorvex& operator=(const TMorvex&) = delete;

  // ---- properties ----

  bool AutoLaunch() const { return FAutoLaunch; }
  void SetAutoLaunch(bool Value);
  bool ShowInfo = true;  // kept; the information dictionary is always written
  std::string Author = kDefaultAuthor;
  std::string Keywords = kDefaultKeywords;
  std::string Subject;
  std::string Title = kDefaultTitle;
  std::string FileName;  // UTF-8 path
  TPDFVersType Version = TPDFVersType::pdf14;  // kept; the header is always %PDF-1.4
  std::string UserPassword;
  std::string OwnerPassword;
  bool ActivateProtection = false;
  TMRVXKeyType CryptKeyLength() const { return FCryptKeyType; }
  void SetCryptKeyType(TMRVXKeyType Value);
  std::set<TMRVXProtection> ProtectOptions;
  std::vector<std::string> NotEmbeddedFonts;
  TMRVXPageLayout PageLayout() const { return FPageLayout; }
  void SetPageLayout(TMRVXPageLayout Value) { FPageLayout = Value; }
  TMRVXPageMode PageMode = TMRVXPageMode::pmUseNone;
  int PagesCount() const { return FPagesCount; }
  bool StandardFontEmulation() const { return FStandardFontEmulation; }
  void SetStandardFontEmulation(bool Value);
  bool FontEmbedding = true;
  const std::set<TMRVXViewerPreference>& ViewerPreferences() const { return FViewerPreferences; }
  void SetViewerPreferences(std::set<TMRVXViewerPreference> Value);
  int JpegQuality = 100;
  TMRVXCompressionMethod Compression() const { return FCompression; }
  void SetCompressionMethod(TMRVXCompressionMethod Value);
  bool KeepImageAspectRatio = false;
  int Resolution() const { return FResolutionValue; }
  void SetResolution(int Value);
  bool ParaAutoAddPage = true;
  TMRVXImageCompressionType ImageCompressionType = TMRVXImageCompressionType::icFlate;
  // Pixels per inch of the reference device that page canvases draw on (96 by default).
  // Applies to canvases made after the change. Throws "Invalid reference resolution." outside
  // 1..kMaxMetafileResolution.
  int ReferenceDpi() const { return FReferenceDpi; }
  void SetReferenceDpi(int Value);

  TLauncher Launcher;
  TRecordingTranslator RecordingTranslator;

  // ---- the document ----

  TMRVXPage* CurrentPage() const { return FCurrentPage.get(); }
  int CurrentPageNumber() const { return FCurrentPageNum; }
  void SetCurrentPageNumber(int Value) { SetCurrentPageNum(Value); }
  // The current page's canvas, null without a current page.
  platform::MetafileCanvas* Canvas() const;
  // Makes EndDoc write into this buffer instead of a file (the buffer is borrowed and
  // replaced by the document). Throws once BeginDoc has run.
  void SetOutputStream(std::string* Stream);

  void BeginDoc(bool Initial = true);
  int AddPage();
  void SetCurrentPageNum(int Value);
  void DeletePage(int PageIndex);
  void DeleteObj(TMRVXObject* InObj, bool Recursive);
  void EndDoc();
  bool Ended() const { return FEnded; }

  // The whole document; SaveToStream replaces the buffer's content.
  void SaveToFile(const std::string& AFileName);
  void SaveToStream(std::string& DocStream);

  // ---- images (mrvx_doc_image.cpp) ----

  // Encodes a picture once into an image object of the document and returns its position in
  // XImages, the index ShowImage takes. MaskIndex < 0: no mask.
  int AddImage(const platform::Bitmap& Image, TMRVXImageCompressionType Compression, bool IsMask = false,
               int MaskIndex = -1);
  int AddImage(const TMRVXJpegImage& Image, TMRVXImageCompressionType Compression, bool IsMask = false,
               int MaskIndex = -1);
  // Loads a ".bmp" or ".jpg" file (the extension compared exactly) and registers it.
  int AddImage(const std::string& FileName, TMRVXImageCompressionType Compression, bool IsMask = false,
               int MaskIndex = -1);
  int MapImage(const TMRVXGraphic& Image, TMRVXImageCompressionType Compression, bool IsMask, int MaskIndex);
  const std::vector<TMRVXImageObject>& XImages() const { return FXImages; }
  int AddImageFromTIFF(const platform::Bitmap& Image, TMRVXImageCompressionType Compression);
  // Draws every directory of a TIFF file, one per page, starting on the current page. Tall
  // pictures go in strips of PrintTempHeight rows. Throws "Invalid tiff file name" when the
  // file cannot be opened and "Invalid tiff image." (with libtiff's reason) when a directory
  // cannot be read; pages drawn before stay.
  void AddTiffFromFile(const std::string& FileName, TMRVXImageCompressionType Compression, TTIFFPaintType PaintType);
  static constexpr int PrintTempHeight = 1200;

  // ---- loading and page copying (mrvx_doc_loader.cpp) ----

  // Opens an existing PDF file instead of starting an empty document; BeginDoc then completes
  // it, and pages can be drawn on, deleted, copied into another document and saved again.
  // Returns the number of pages. Reads the classic cross-reference table with every older
  // section of an incrementally updated file; the page tree is flattened, each page taking
  // the resources, boxes and rotation it inherited. Errors:
  //  - "Please load the document before using BeginDoc." after BeginDoc or a second load;
  //  - the platform's conversion error when the header carries no version number;
  //  - "The file is damaged." for anything else that cannot be read: a truncated file, a
  //    cross-reference stream (PDF 1.5 and later), a cycle of older sections, a stream longer
  //    than the file, an object that breaks the syntax.
  // An encrypted file is not an error: it loads as a document without objects or pages
  // (IsEncrypted) that cannot be drawn on or written.
  int LoadFromFile(const std::string& AFileName);
  int LoadFromStream(std::string_view DocStream);
  bool IsLoaded() const { return FIsLoaded; }
  bool IsEncrypted() const { return FIsEncrypted; }
  // Whether any page's content shows literal or hexadecimal text with "Tj".
  bool IsHaveSimpleText() const;
  // The bytes of a stream after every filter of its dictionary. Throws "Unsupported stream
  // filter: <name>." for a filter it cannot decode or one with decode parameters.
  std::string DecodedStream(const TMRVXStreamObject& Stream) const;

  // A deep copy of an object of another document into this one, as an indirect object of this
  // document (a link is followed to its object). Within one call, and within one page copy,
  // every indirect object is copied once however often it is reached; page dictionaries are
  // not copied (null, and an entry that named one is dropped) except the page being copied.
  TMRVXObject* CopyObject(const TMorvex& SourceDoc, const TMRVXObject* Obj);
  // Inserts a copy of page SourceIndex of SourceDoc before page DestIndex (DestIndex equal to
  // the page count appends) and makes it current. Errors: "Invalid source page number",
  // "Invalid destination page number". The source's page is copied as its dictionary holds
  // it: drawing on a page that is still current there has not reached it yet.
  void CopyPageFromDocument(const TMorvex& SourceDoc, int SourceIndex, int DestIndex);

  // ---- outline, attachments, scripts and paragraphs (mrvx_doc_extras.cpp) ----

  // The root of the bookmark outline, made on first use.
  TMRVXDocOutlineObject* OutlineRoot();
  // Embeds a file (read whole; "Cannot open file ..." when it cannot be) in the document's
  // list of attachments under its name without folder.
  void AddDocumentAttachment(const std::string& AFileName, std::string Description);
  // The same for bytes in memory, attached under Name.
  void AddDocumentAttachment(std::string Name, std::string_view Data, std::string Description);
  // A script the viewer runs on an event; the non-empty ones are written when the document
  // ends.
  void SetActionScript(TMRVXActionScriptType ActionType, std::string ActionText);
  const std::string& ActionScript(TMRVXActionScriptType ActionType) const {
    return FScripts[static_cast<size_t>(ActionType)];
  }
  // Appends a paragraph format and returns its 1-based number.
  int CreateParagraph(TMRVXJustificationType Justification, float Indention, float LeftMargin, float RightMargin,
                      float TopMargin, float BottomMargin);
  int CreateParagraph(const TMRVXParagraph& Format);
  // Starts writing with format Index (1-based; "Incorrect paragraph index." outside 1..count)
  // at the format's top margin of the current page. Index 0 ends the active paragraph.
  void BeginParagraph(int Index);
  void EndParagraph();
  // The paragraph being written, null when none is active.
  TMRVXPara* CurrentParagraph() const { return FCurrentParagraph.get(); }
  // False when NotEmbeddedFonts holds exactly that name.
  bool FontIsEmbedded(std::string_view FontName) const;

  // ---- security (mrvx_doc_security.cpp) ----

  // Called by BeginDoc when ActivateProtection is set: the encryption dictionary and keys.
  void EnableEncrypt();
  // /O, /U and the document key from the passwords, the permissions and DocID.
  void CreateKeys();
  // RC4 under the key of object ObjID when the document is protected; Data unchanged otherwise.
  std::string CryptString(std::string_view Data, int32_t ObjID) const;
  void CryptStream(std::string& Data, int32_t ObjID) const;
  // A dictionary holding "V", "O" and "U".
  static bool IsEncryptObj(const TMRVXObject* Obj);
  int32_t ProtectFlags = 0;
  std::string OwUsPass;   // /O, 32 bytes
  std::string UsPassStr;  // /U, 32 bytes
  const std::string& CurrentKey() const { return FCurrentKey; }
  TMRVXDictionaryObject* EncryptDictionary() const;

  // ---- object store (used by the page and the builders of fonts, images and outlines) ----

  TMRVXDictionaryObject* CreateIndirectDictionary();
  TMRVXStreamObject* CreateIndirectStream();
  // Numbers an object and hands it to the document; returns it.
  TMRVXObject* AddIndirectObject(std::unique_ptr<TMRVXObject> Obj);
  static int CompareObjectID(const TMRVXObjectNumber& A, const TMRVXObjectNumber& B);
  // The indirect object a link names, or null.
  TMRVXObject* GetObjectByLink(const TMRVXLink* LinkObj) const;
  // Follows a link to its object; any other object (or null) is returned as it is.
  TMRVXObject* Resolve(TMRVXObject* Obj) const;

  const std::vector<std::unique_ptr<TMRVXObject>>& IndirectObjects() const { return FIndirectObjects; }
  TMRVXDictionaryObject* Catalog() const;
  TMRVXDictionaryObject* InfoDictionary() const;
  TMRVXDictionaryObject* PagesRoot() const;
  const std::vector<TMRVXDictArrItem>& PageArr() const { return FPageArr; }
  Extended DocScale() const { return FDocScale; }
  const std::string& DocID() const { return FDocID; }
  platform::TDateTime CreationDate() const { return FCreationDate; }

  // Resource names taken on the current page (fonts) and of the registered images.
  std::vector<std::string> FontNames;
  std::vector<std::string> XImageNames;
  int FCurrentFontIndex = 0;
  int FCurrentImageIndex = 0;

 private:
  friend class TMRVXPage;
  friend class TMRVXPara;
  friend class TMRVXDocOutlineObject;
  friend class TMRVXAnnotation;
  class Loader;

  void WriteInfoEntries(TMRVXDictionaryObject* info, const char* creator) const;
  void WriteScripts(TMRVXDictionaryObject* catalog);
  void WriteOutlines(TMRVXDictionaryObject* catalog);
  void BeginLoadedDoc();
  // Copies the values of one source container into another (CopyObject's work list).
  std::unique_ptr<TMRVXObject> CopyDirect(const TMorvex& SourceDoc, const TMRVXObject* Obj, TMRVXObject* Parent,
                                          std::vector<std::pair<const TMRVXObject*, TMRVXObject*>>& Pending);
  TMRVXObject* CopyIndirect(const TMorvex& SourceDoc, const TMRVXObject* Obj,
                            std::vector<std::pair<const TMRVXObject*, TMRVXObject*>>& Pending);
  void FillCopy(const TMorvex& SourceDoc, const TMRVXObject* From, TMRVXObject* To,
                std::vector<std::pair<const TMRVXObject*, TMRVXObject*>>& Pending);

  // Whether BeginDoc made the document encrypted; fixed from then on, so that a file is never
  // half encrypted.
  bool Protected() const { return FEncryprtIndex >= 0; }

  void CheckNotStarted(const char* what) const;
  void CheckNotEnded() const;
  void ClosePage();
  bool UsedByOtherPage(const TMRVXObjectNumber& id, const TMRVXDictionaryObject* page) const;

  // Serializer.
  size_t SaveTypeObject(const TMRVXObject* obj, std::string& out, bool nested) const;
  size_t SaveObjectValue(const TMRVXObject* obj, const std::string& text, std::string& out) const;
  size_t SaveNumericObject(const TMRVXObject* obj, std::string& out) const;
  size_t SaveStringObject(const TMRVXObject* obj, std::string& out) const;
  size_t SaveNameObject(const TMRVXObject* obj, std::string& out) const;
  size_t SaveArrayObject(const TMRVXObject* obj, std::string& out) const;
  size_t SaveDictionaryObject(const TMRVXObject* obj, std::string& out, bool nested) const;
  size_t SaveStreamObject(const TMRVXObject* obj, std::string& out) const;
  size_t SaveLinkObject(const TMRVXObject* obj, std::string& out) const;
  std::string ObjectHeader(const TMRVXObject* obj) const;
  std::string Reference(const TMRVXObjectNumber& id) const;

  platform::Clock* FClock;
  std::vector<std::unique_ptr<TMRVXObject>> FIndirectObjects;
  int32_t FMaxObjNum = 0;
  int FRootIndex = -1;
  int FInfoIndex = -1;
  int FPagesIndex = -1;
  int FEncryprtIndex = -1;
  TMRVXObjectNumber FRootLink, FInfoLink, FPageslink, FEncryprtLink;
  std::vector<TMRVXImageObject> FXImages;
  std::string FCurrentKey;  // 5 bytes (revision 2) or 16 (revision 3)
  // While saving: the written number of the top-level object being written (strings are
  // encrypted with it), and whether that object is the encryption dictionary.
  mutable int32_t FSavingObjNum = 0;
  mutable bool FSavingEncrypt = false;
  std::vector<TMRVXDictArrItem> FPageArr;
  int FPagesCount = 0;
  std::unique_ptr<TMRVXPage> FCurrentPage;
  int FCurrentPageNum = -1;
  float FParentMB[4] = {0, 0, 595, 842};
  bool FIsParented = false;
  std::string FDocID;
  platform::TDateTime FCreationDate = 0;
  Extended FDocScale = 1;

  bool FAutoLaunch = true;
  TMRVXKeyType FCryptKeyType = TMRVXKeyType::k40;
  int FRevision = 2;
  TMRVXPageLayout FPageLayout = TMRVXPageLayout::plSinglePage;
  bool FStandardFontEmulation = true;
  std::set<TMRVXViewerPreference> FViewerPreferences;
  bool FVPChanged = false;
  TMRVXCompressionMethod FCompression = TMRVXCompressionMethod::cmFlateDecode;
  int FResolutionValue = 72;
  int FReferenceDpi = 96;
  std::string* FOutputStream = nullptr;
  bool FDocStarted = false;
  bool FEnded = false;

  // Loading.
  bool FIsLoaded = false;
  bool FIsEncrypted = false;
  // The copy log of one page copy: source object number to its copy in this document.
  std::map<std::pair<int32_t, int32_t>, TMRVXObject*> CSArray;

  // Outline, scripts and paragraphs.
  std::unique_ptr<TMRVXDocOutlineObject> FOutlineRoot;
  std::vector<std::unique_ptr<TMRVXDocOutlineObject>> OutlineEnsemble;
  std::string FScripts[6];
  std::vector<TMRVXParagraph> FParas;
  int FActivePara = 0;
  std::unique_ptr<TMRVXPara> FCurrentParagraph;
  bool FNewParaLine = true;
  float FPrevParaOffset = 0;
  float FCurrentParaLine = 0;

  // Renumbering while saving: old (number, generation) to the written number. Built anew
  // for every save and never written back into the objects, so a document saves the same
  // way twice.
  struct IdHash {
    size_t operator()(const TMRVXObjectNumber& id) const {
      return std::hash<int64_t>()(static_cast<int64_t>(id.ObjectNumber) << 32 ^ static_cast<uint32_t>(id.GenerationNumber));
    }
  };
  std::unordered_map<TMRVXObjectNumber, int32_t, IdHash> LinkTable;
};

// Opens a file with the desktop's default application (xdg-open), without a shell and
// without waiting for it.
TMorvex::TLauncher ShellOpenLauncher();

// A number as the serializer writes it: whole values exactly, fractions as the decimal
// expansion of their single-precision value (12.34 -> "12.34000016", -0.5 -> "-0.5").
std::string NumberText(double value);

// The document identifier's source text: the file name in Windows-1252 followed by the time
// as "ddd dd-mm-yyyy hh:nn:ss.zzz".
std::string DocIDSource(const std::string& FileName, platform::TDateTime Now);

}  // namespace pdfwriter

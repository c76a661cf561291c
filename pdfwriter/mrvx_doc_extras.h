#pragma once
// Document features beyond pages and text (part of the MRVXDoc module, split off for size):
// the bookmark outline, annotation descriptions, document scripts and paragraphs that flow
// running text between margins onto as many pages as it needs.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "pdfwriter/mrvx_doc_page.h"
#include "pdfwriter/mrvx_objs.h"
#include "pdfwriter/mrvx_types.h"

namespace pdfwriter {

class TMorvex;

// The bytes of a file; "Cannot open file ..." or "Cannot read file ..." when it cannot be read.
std::string ReadWholeFile(const std::string& FileName);

// S with every backslash turned into a slash.
std::string ConvertFileName(std::string S);

// ---- outline ----

// One entry of the bookmark outline, or its root (TMorvex::OutlineRoot). Entries are owned by
// the document; the pointers stay valid until the document is destroyed.
//
//   auto* chapter = doc.OutlineRoot()->AddChild("Results", 0, 0);   // points at the current page
//   chapter->AddChild("Dot area", 50, 300);
class TMRVXDocOutlineObject {
 public:
  explicit TMRVXDocOutlineObject(TMorvex* AOwner);

  // Appends a new last child pointing at (X, Y) of the document's current page (caller
  // coordinates) and returns it. Throws "The document has not been started." without a
  // current page.
  TMRVXDocOutlineObject* AddChild(std::string Title, float X, float Y);

  const std::string& Title() const { return FTitle; }
  // Whether the entry shows its children when the viewer opens the document. Changing it
  // updates the sign of the entry's count at once.
  bool Opened() const { return FOpened; }
  void SetOpened(bool Value);

  TMRVXDocOutlineObject* Parent() const { return FParent; }
  TMRVXDocOutlineObject* Next() const { return FNext; }
  TMRVXDocOutlineObject* Prev() const { return FPrev; }
  TMRVXDocOutlineObject* First() const { return FFirst; }
  TMRVXDocOutlineObject* Last() const { return FLast; }
  // Entries below this one, all levels.
  int32_t Count() const { return FCount; }
  // The destination point in PDF page coordinates.
  int32_t Left() const { return FLeft; }
  int32_t Top() const { return FTop; }

  // The entry's dictionary: a private direct one for the root (never written), an indirect
  // one owned by the document for every other entry.
  TMRVXDictionaryObject* LinkedObj = nullptr;

 private:
  friend class TMorvex;
  void WriteCount();

  TMorvex* FDoc;
  TMRVXDocOutlineObject* FParent = nullptr;
  TMRVXDocOutlineObject* FNext = nullptr;
  TMRVXDocOutlineObject* FPrev = nullptr;
  TMRVXDocOutlineObject* FFirst = nullptr;
  TMRVXDocOutlineObject* FLast = nullptr;
  std::string FTitle;
  bool FOpened = false;
  int32_t FCount = 0;
  int32_t FTop = 0;
  int32_t FLeft = 0;
  std::unique_ptr<TMRVXDictionaryObject> FRootDict;  // the root's private dictionary
};

// ---- annotations ----

enum class TMRVXAnnotationSubType : uint8_t {
  asTextNotes, asFreeText, asLine, asSquare, asCircle, asStamp, asFileAttachment, asSound, asMovie,
};
enum class TMRVXTextAnnotationType : uint8_t { taComment, taKey, taNote, taHelp, taNewParagraph, taParagraph, taInsert };
enum class TMRVXFreeTextAnnotationJust : uint8_t { ftLeftJust, ftCenter, ftRightJust };
enum class TMRVXCSAnnotationType : uint8_t { csCircle, csSquare };
enum class TMRVXStampAnnotationType : uint8_t {
  satApproved, satExperimental, satNotApproved, satAsIs, satExpired, satNotForPublicRelease, satConfidential,
  satFinal, satSold, satDepartmental, satForComment, satTopSecret, satDraft, satForPublicRelease,
};

// The icon name of a text note and the name of a stamp.
const char* TextAnnotationIconName(TMRVXTextAnnotationType Type);
const char* StampAnnotationName(TMRVXStampAnnotationType Type);

// The description of one annotation, filled by the page's annotation commands and turned into
// an annotation dictionary of its page.
class TMRVXAnnotation {
 public:
  TMRVXPage* FPage = nullptr;
  TColor FColor = 0;  // 0x00BBGGRR
  TMRVXAnnotationSubType FType = TMRVXAnnotationSubType::asTextNotes;
  std::string FTypeState;  // the stamp name
  std::string FContents;
  int32_t FQuadding = 0;
  bool FOpen = false;
  TMRVXCurrPoint FLeftTop;
  TMRVXCurrPoint FRightBottom;
  std::string FName;  // the icon of a text note, or the file of an attachment, sound or movie

  // Builds the annotation dictionary and appends it to the page's annotation array (shared
  // with the page's links). A file that cannot be read raises before anything is added.
  void AddAnnotationObject();
};

// ---- scripts ----

enum class TMRVXActionScriptType : uint8_t { astOpen, astClose, astWillSave, astDidSave, astWillPrint, astDidPrint };

// ---- paragraphs ----

enum class TMRVXJustificationType : uint8_t { jtLeft, jtCenter, jtRight };

// A paragraph format: margins in caller units, the first line of a paragraph indented by
// Indention. WordWrap breaks lines between words (a word longer than a line is still broken
// inside); without it lines are broken character by character. LineHeight 0 spaces lines by
// the ascent of the current font.
struct TMRVXParagraph {
  TMRVXJustificationType Justification = TMRVXJustificationType::jtLeft;
  float Indention = 0;
  float LeftMargin = 0;
  float RightMargin = 0;
  float TopMargin = 0;
  float BottomMargin = 0;
  bool WordWrap = false;
  float LineHeight = 0;
};

// Flows running text into lines between the margins of the active paragraph format, onto new
// pages when it reaches the bottom margin. Made by TMorvex::BeginParagraph; the line state
// lives in the document, so it survives the page breaks the paragraph causes.
//
//   doc.BeginParagraph(doc.CreateParagraph({.Justification = TMRVXJustificationType::jtLeft,
//                                           .LeftMargin = 50, .RightMargin = 50,
//                                           .TopMargin = 60, .BottomMargin = 60, .WordWrap = true}));
//   doc.CurrentParagraph()->ShowText("Dot area measured on the plate ...");
//   doc.CurrentParagraph()->NewLine();
//   doc.EndParagraph();
//
// A line break ("\n", "\r\n") inside the text starts a new paragraph line, as NewLine does.
// The paragraph carries its format (margins, indention, wrapping) as fields of its own.
class TMRVXPara : public TMRVXParagraph {
 public:
  TMRVXPara(TMorvex* Parent, const TMRVXParagraph& Format);

  TMRVXJustificationType Justification() const { return TMRVXParagraph::Justification; }
  // Changing the justification starts a new line.
  void SetJustification(TMRVXJustificationType Value);
  // Ends the current line: the next text starts a new paragraph line.
  void NewLine();
  // The y of the current line's top, caller units.
  float CurrentLine() const;
  void SetCurrentLine(float Value);

  // 8-bit (Windows-1252) text; a left-justified call leaves the line open, so the next call
  // continues where this one stopped.
  void ShowText(std::string_view Text);
  // Unicode text; it never leaves the line open.
  void ShowUnicodeText(std::u16string_view Text);
  // The flowing itself; they report the last line written and its x.
  void InternShowText(std::string_view Text, std::string& APrText, float& APrVax);
  void InternShowUnicodeText(std::u16string_view Text, std::u16string& APrText, float& APrVax);

 private:
  template <typename Str>
  void Flow(Str Text, Str& APrText, float& APrVax, bool Unicode);
  void CheckActive() const;

  TMorvex* FParent;
};

}  // namespace pdfwriter

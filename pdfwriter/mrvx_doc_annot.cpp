// Page annotations and links (part of the MRVXDoc module). The annotation commands fill a
// description that the document turns into an annotation dictionary; links are written here.
// Both append to one annotation array per page.
#include "pdfwriter/mrvx_doc.h"

namespace pdfwriter {
namespace {

TColor NonNegative(TColor c) { return c <= 0 ? 0 : c; }

}  // namespace

TMRVXArrayObject* TMRVXPage::AnnotsArray() {
  if (FAnnotsObj) return FAnnotsObj;
  TMRVXObject* existing = FParent->Resolve(FPageObj->GetValue("Annots"));
  if (existing && existing->ObjectType() == TMRVXObjectType::otArray)
    FAnnotsObj = static_cast<TMRVXArrayObject*>(existing);
  else
    FAnnotsObj = FPageObj->AddArray("Annots");
  return FAnnotsObj;
}

void TMRVXPage::AddAnnotation(TMRVXAnnotation& A, std::string Contents, const platform::TRect& Rectangle,
                              TColor Color) {
  A.FPage = this;
  A.FColor = NonNegative(Color);
  A.FContents = std::move(Contents);
  A.FLeftTop = {static_cast<Extended>(Rectangle.Left), static_cast<Extended>(Rectangle.Top)};
  A.FRightBottom = {static_cast<Extended>(Rectangle.Right), static_cast<Extended>(Rectangle.Bottom)};
  A.AddAnnotationObject();
}

void TMRVXPage::AddTextAnnotation(std::string Contents, const platform::TRect& Rectangle, bool Open,
                                  TMRVXTextAnnotationType Name, TColor Color) {
  TMRVXAnnotation a;
  a.FType = TMRVXAnnotationSubType::asTextNotes;
  a.FOpen = Open;
  a.FName = TextAnnotationIconName(Name);
  AddAnnotation(a, std::move(Contents), Rectangle, Color);
}

void TMRVXPage::AddFreeTextAnnotation(std::string Contents, const platform::TRect& Rectangle,
                                      TMRVXFreeTextAnnotationJust Quadding, TColor Color) {
  TMRVXAnnotation a;
  a.FType = TMRVXAnnotationSubType::asFreeText;
  a.FQuadding = static_cast<int32_t>(Quadding);
  AddAnnotation(a, std::move(Contents), Rectangle, Color);
}

void TMRVXPage::AddLineAnnotation(std::string Contents, const TMRVXCurrPoint& BeginPoint,
                                  const TMRVXCurrPoint& EndPoint, TColor Color) {
  TMRVXAnnotation a;
  a.FType = TMRVXAnnotationSubType::asLine;
  a.FPage = this;
  a.FColor = NonNegative(Color);
  a.FContents = std::move(Contents);
  a.FLeftTop = BeginPoint;
  a.FRightBottom = EndPoint;
  a.AddAnnotationObject();
}

void TMRVXPage::AddCircleSquareAnnotation(std::string Contents, const platform::TRect& Rectangle,
                                          TMRVXCSAnnotationType CSType, TColor Color) {
  TMRVXAnnotation a;
  a.FType = CSType == TMRVXCSAnnotationType::csCircle ? TMRVXAnnotationSubType::asCircle
                                                      : TMRVXAnnotationSubType::asSquare;
  AddAnnotation(a, std::move(Contents), Rectangle, Color);
}

void TMRVXPage::AddStampAnnotation(std::string Contents, const platform::TRect& Rectangle,
                                   TMRVXStampAnnotationType StampType, TColor Color) {
  TMRVXAnnotation a;
  a.FType = TMRVXAnnotationSubType::asStamp;
  a.FTypeState = StampAnnotationName(StampType);
  AddAnnotation(a, std::move(Contents), Rectangle, Color);
}

void TMRVXPage::AddFileAnnotation(TMRVXAnnotationSubType Type, std::string Contents, std::string FileName,
                                  const platform::TRect& Rectangle, TColor Color) {
  TMRVXAnnotation a;
  a.FType = Type;
  a.FName = std::move(FileName);
  AddAnnotation(a, std::move(Contents), Rectangle, Color);
}

void TMRVXPage::AddFileAttachmentAnnotation(std::string Contents, std::string FileName,
                                            const platform::TRect& Rectangle, TColor Color) {
  AddFileAnnotation(TMRVXAnnotationSubType::asFileAttachment, std::move(Contents), std::move(FileName), Rectangle,
                    Color);
}

void TMRVXPage::AddSoundAnnotation(std::string Contents, std::string FileName, const platform::TRect& Rectangle,
                                   TColor Color) {
  AddFileAnnotation(TMRVXAnnotationSubType::asSound, std::move(Contents), std::move(FileName), Rectangle, Color);
}

void TMRVXPage::AddMovieAnnotation(std::string Contents, std::string FileName, const platform::TRect& Rectangle,
                                   TColor Color) {
  AddFileAnnotation(TMRVXAnnotationSubType::asMovie, std::move(Contents), std::move(FileName), Rectangle, Color);
}

// ---- links ----

TMRVXDictionaryObject* TMRVXPage::AddLinkAnnotation(Extended Left, Extended Top, Extended Right, Extended Bottom) {
  TMRVXDictionaryObject* annot = FParent->CreateIndirectDictionary();
  annot->AddNameValue("Type", "Annot");
  annot->AddNameValue("Subtype", "Link");
  // A border of width 0: an empty array would leave readers to draw their default border.
  TMRVXArrayObject* border = annot->AddArray("Border");
  for (int i = 0; i < 3; ++i) border->AddIntegerValue(0);
  TMRVXArrayObject* rect = annot->AddArray("Rect");
  for (Extended v : {Left, Top, Right, Bottom}) rect->AddNumericValue(static_cast<float>(v));
  AnnotsArray()->AddLink(*annot);
  return annot;
}

void TMRVXPage::SetURIObject(std::string UriLink, Extended Left, Extended Top, Extended Right, Extended Bottom) {
  FParent->CheckNotEnded();
  TMRVXDictionaryObject* action = FParent->CreateIndirectDictionary();
  action->AddNameValue("S", "URI");
  action->AddStringValue("URI", std::move(UriLink));
  AddLinkAnnotation(Left, Top, Right, Bottom)->AddLink("A", *action);
}

void TMRVXPage::SetGoToObject(int PageIndex, float DestX, float DestY, Extended Left, Extended Top, Extended Right,
                              Extended Bottom) {
  TMorvex& doc = *FParent;
  doc.CheckNotEnded();
  if (PageIndex < 0 || PageIndex >= doc.PagesCount()) throw EMRVXError("Invalid page number.");
  // The point is projected as on this page, then moved to the target page's own top edge in
  // case the two pages differ in height.
  TMRVXDictionaryObject* target = doc.PageArr()[static_cast<size_t>(PageIndex)].PageObj;
  float top = FMaxYVal;
  if (TMRVXObject* mb = doc.Resolve(target->GetValue("MediaBox")); mb && mb->ObjectType() == TMRVXObjectType::otArray) {
    auto* box = static_cast<TMRVXArrayObject*>(mb);
    TMRVXObject* v = box->Count() >= 4 ? doc.Resolve(box->GetIndexedItem(3)) : nullptr;
    if (v && v->ObjectType() == TMRVXObjectType::otNumeric)
      top = static_cast<float>(static_cast<TMRVXNumericObject*>(v)->Value);
  }
  TMRVXArrayObject* dest = AddLinkAnnotation(Left, Top, Right, Bottom)->AddArray("Dest");
  dest->AddLink(*target);
  dest->AddNameValue("XYZ");
  dest->AddNumericValue(XProjection(DestX));
  dest->AddNumericValue(YProjection(DestY) - FMaxYVal + top);
  dest->AddIntegerValue(0);
}

void TMRVXPage::PrintHyperlink(float X, float Y, std::string_view Text, std::string Link) {
  const TColor fill = FFillColor, stroke = FStrokeColor;
  SetRGBColor(FHyperColor);
  TextOut(X, Y, 0, Text);
  SetURIObject(std::move(Link), XProjection(X), YProjection(Y), XProjection(X + TextWidth(Text)),
               YProjection(Y + TextHeight(Text)));
  SetRGBFillColor(fill);
  SetRGBStrokeColor(stroke);
}

void TMRVXPage::PrintDocumentLink(float X, float Y, std::string_view Text, int PageIndex, float DestX, float DestY) {
  if (PageIndex < 0 || PageIndex >= FParent->PagesCount()) throw EMRVXError("Invalid page number.");
  const TColor fill = FFillColor, stroke = FStrokeColor;
  SetRGBColor(FHyperColor);
  TextOut(X, Y, 0, Text);
  SetGoToObject(PageIndex, DestX, DestY, XProjection(X), YProjection(Y), XProjection(X + TextWidth(Text)),
                YProjection(Y + TextHeight(Text)));
  SetRGBFillColor(fill);
  SetRGBStrokeColor(stroke);
}

}  // namespace pdfwriter

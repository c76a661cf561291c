#pragma once
// The working state of one report while it is laid out, and the routines the report kinds
// share (titles, head lines, the result copy routines). Private to the report builder.
#include <string>
#include <string_view>

#include "archive/cal_rep_builder.h"
#include "archive/report_context.h"
#include "pdfwriter/mrvx_doc.h"
#include "platform/image/bitmap.h"

namespace archive::detail {

using pdfwriter::TColor;

constexpr TColor kBlack = 0x000000;
constexpr TColor kGray = 0x808080;
constexpr TColor kBlue = 0xFF0000;
constexpr TColor kGreen = 0x00FF00;

class ReportLayout {
 public:
  ReportLayout(const TCalRep& rep, const ReportContext& ctx, pdfwriter::TMorvex& doc, std::string fn, int index)
      : rep_(rep), ctx_(ctx), doc_(doc), fn_(std::move(fn)), index_(index) {}

  // The frame of the first page, then the body of the kind.
  void Frame();
  void Body();

  // ---- drawing helpers ----
  pdfwriter::TMRVXPage& Page() const { return *doc_.CurrentPage(); }
  void Font(float size, bool bold = false);
  void Text(float x, float y, std::string_view utf8);
  float TextWidth(std::string_view utf8);
  void Color(TColor c);
  // Registers the work bitmap as a JPEG image and shows it in the box.
  void ShowWorkBitmap(float x, float y, float w, float h);

  // ---- the routines the kinds share ----
  void ShowTitle(std::string_view s1, std::string_view s2);
  int ShowHeadLines(int y, int n, std::string_view s1, std::string_view s2);
  // The product name of a brand index ("" outside the table).
  std::string ProductName(int index) const;
  // The type icon (on white) and, when ModeName is set, the mode name right-aligned to X 520.
  void ModeIcon(float x, float y);
  void ModeName(float y);

  int CopyLAMSData(int y, int n, int x, int dx);
  int CopyPLATEData(int y, int n, int x, int dx);
  int CopyStructData(int y, int n, int x, int dx);
  int CopyFILMData(int y, int n, int x, int dx);

  // ---- the bodies ----
  void SingleBody();
  void StatBody();
  void HistoryBody();
  void CertBody();

 private:
  // One result row: the label's caption and the value text (with its unit after a blank).
  void Row(int& y, int n, int x, int dx, std::string_view label, std::string_view value,
           std::string_view unit = {});
  const std::string& C(std::string_view name) const { return ctx_.Controls.Text(name); }
  bool V(std::string_view name) const { return ctx_.Controls.Visible(name); }

  // History table routines.
  void HistoryHeader(HistorySource& src, HistoryTab tab, int atype, int x, int dx, int y);
  void HistoryRow(HistorySource& src, HistoryTab tab, int atype, int x, int dx, int y);
  void HistoryPageLabel(int p);

  const TCalRep& rep_;
  const ReportContext& ctx_;
  pdfwriter::TMorvex& doc_;
  std::string fn_;
  int index_;
  platform::Bitmap abmp_;  // the work bitmap
  int y_ = 0;
  int n_ = 0;
};

}  // namespace archive::detail

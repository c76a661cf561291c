// The report builder's files and kinds, and the page frame every report shares.
#include "archive/cal_rep_builder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "archive/cal_rep_layout.h"
#include "platform/base/cp1252.h"
#include "platform/fonts/canvas_text.h"
#include "platform/fonts/font_provider.h"
#include "platform/image/canvas.h"
#include "platform/ui/ui_services.h"

namespace archive {

using detail::ReportLayout;

namespace {

// The maker's address in the document information.
constexpr const char* kAuthor = "www.quirvel.com";

bool IsMeasurementReport(int kind) { return kind >= rkLAMS && kind <= rkStructStat; }

// Upper case of ASCII letters (the language names are ASCII).
std::string UpperAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

bool SameNameIgnoringCase(std::string_view a, std::string_view b) { return UpperAscii(a) == UpperAscii(b); }

// The report folder inside the program folder: an existing folder whose name differs only in
// letter case is the same folder to the operator (the file system of the original ignored
// case), so it is used instead of making a second one. Created when missing; a folder that
// cannot be made shows up when the report file is created in it.
std::string ReportFolder(const std::string& home, const char* name) {
  std::string found = name;
  if (DIR* d = ::opendir(home.empty() ? "." : home.c_str())) {
    bool exact = false;
    while (const dirent* e = ::readdir(d)) {
      if (std::strcmp(e->d_name, name) == 0) exact = true;
      else if (!exact && SameNameIgnoringCase(e->d_name, name)) found = e->d_name;
    }
    ::closedir(d);
    if (exact) found = name;
  }
  const std::string folder = home + "/" + found;
  ::mkdir(folder.c_str(), 0777);
  return folder;
}

// The file name of a certificate carries the serial number: '/' would make it a path, so it
// stands as '_' in the name (the number printed on the certificate is unchanged).
std::string FileNamePart(std::string s) {
  for (char& c : s) {
    if (c == '/' || c == '\0') c = '_';
  }
  return s;
}

// Claims the report's file name by creating it empty and exclusively: a second report of the
// same second finds it taken and gets the next free suffix instead of replacing the first.
// The writer later renames the finished file over the empty one.
std::string ReserveReportFile(const std::string& base) {
  for (int k = 1; k <= 1000; ++k) {
    const std::string fn = base + (k == 1 ? std::string() : "_" + std::to_string(k)) + ".pdf";
    const int fd = ::open(fn.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      return fn;
    }
    if (errno != EEXIST) throw EReportError("Cannot create the report file " + fn + ": " + std::strerror(errno));
  }
  throw EReportError("Cannot create the report file " + base + ".pdf: every name of this second is taken");
}

// The stamp's fields, each written with its fixed width and leading zeros.
std::string FormatStamp(platform::TDateTime dt, const char* format, bool date_first) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, msec = 0;
  platform::DecodeDate(dt, year, month, day);
  platform::DecodeTime(dt, hour, minute, second, msec);
  char buf[32];
  if (date_first) std::snprintf(buf, sizeof buf, format, year, month, day, hour, minute, second);
  else std::snprintf(buf, sizeof buf, format, day, month, year, hour, minute, second);
  return buf;
}

}  // namespace

std::string ReportFileStamp(platform::TDateTime dt) { return FormatStamp(dt, "%04d%02d%02d_%02d%02d%02d", true); }

std::string ReportDateText(platform::TDateTime dt) { return FormatStamp(dt, "%02d.%02d.%04d-%02d:%02d:%02d", false); }

platform::Bitmap MakeApprovalStamp() {
  // A rubber stamp: a red double frame with the approval in capitals.
  constexpr int W = 270, H = 170;
  constexpr platform::TColor kRed = platform::RGBColor(200, 16, 32);
  platform::Bitmap bmp(W, H);
  bmp.Fill(255);
  platform::Canvas c(bmp);
  c.Brush().Style = platform::TCanvasBrushStyle::bsClear;
  c.Pen().Color = kRed;
  c.Pen().Width = 6;
  c.Rectangle(3, 3, W - 3, H - 3);
  c.Pen().Width = 2;
  c.Rectangle(14, 14, W - 14, H - 14);
  platform::TTextOptions centred;
  centred.Align = platform::TTextAlign::taCenter;
  platform::TCanvasFont font;
  font.Color = kRed;
  font.Style = platform::fsBold;
  font.Height = -22;
  platform::TextOutUtf8(bmp, W / 2, 30, "QUIRVEL", font, centred);
  font.Height = -34;
  platform::TextOutUtf8(bmp, W / 2, 62, "APPROVED", font, centred);
  font.Height = -18;
  font.Style = 0;
  platform::TextOutUtf8(bmp, W / 2, 112, "CALIBRATION", font, centred);
  return bmp;
}

TCalRep::TCalRep()
    : Launcher(pdfwriter::ShellOpenLauncher()),
      FontInstalled([](std::string_view family) { return platform::FontProvider::Default().IsInstalled(family); }),
      Image1(MakeApprovalStamp()),
      JPFontName("Arial") {}

void TCalRep::SetRepFont(const std::string& Sprache) {
  JPFontName = "Arial";
  if (FontInstalled && FontInstalled("Arial Unicode MS")) {
    JPFontName = "Arial Unicode MS";
    return;
  }
  if (UpperAscii(Sprache) == "JAPANESE") {
    if (FontInstalled && FontInstalled("Meiryo")) JPFontName = "Meiryo";
    else platform::ui::Services().ShowMessage("インストールしてください <Arial Unicode MS>!");
  }
}

std::string TCalRep::CreatePDF(ReportContext& ctx, int Index, bool Show) {
  // Everything a kind needs is checked before a file is claimed, so that a refused report
  // leaves nothing behind.
  const char* folderName = nullptr;
  if (Index == rkCalibration) folderName = "CALReports";
  else if (IsMeasurementReport(Index)) folderName = "Reports";
  else if (Index == rkHistory) folderName = "PLOTReports";
  else throw EReportError("There is no report of kind " + std::to_string(Index) + ".");
  if (IsMeasurementReport(Index) && !Archive)
    throw EReportError("The measurement archive is not available: no report was made and no row was stored.");
  if (Index == rkHistory && !ctx.History)
    throw EReportError("The archive window's history is not available: no report was made.");

  platform::Clock& clock = Clock ? *Clock : platform::GetClock();
  const platform::TDateTime DT = clock.Now();
  const std::string stamp = ReportFileStamp(DT);
  sdr = ReportDateText(DT);

  const std::string folder = ReportFolder(ctx.HomeDir, folderName);
  std::string base;
  if (Index == rkCalibration) {
    std::string serial = ctx.Controls.Text("SerialEdit");
    while (platform::Utf8ToUtf16(serial).size() < 5) serial.insert(serial.begin(), '0');
    ctx.Controls.Set("SerialEdit", serial, ctx.Controls.Visible("SerialEdit"));
    base = folder + "/" + FileNamePart(serial) + "_QUIRVEL_" + stamp;
  } else {
    base = folder + "/QUIRVEL_" + stamp;
  }

  const std::string fn = ReserveReportFile(base);
  try {
    // A certificate is always opened.
    CreateJPPDF(ctx, fn, Index, Index == rkCalibration ? true : Show);
  } catch (...) {
    ::unlink(fn.c_str());
    throw;
  }

  switch (Index) {
    case rkLAMS:
    case rkLAMSStat:
      Archive->AddLAMSMessung(DT, ctx.ibmp, ctx.MyMess, fn);
      break;
    case rkPlate:
    case rkPlateStat:
      Archive->AddPLATEMessung(DT, ctx.ibmp, ctx.MyMess, fn);
      break;
    case rkStructure:
    case rkStructStat:
      Archive->AddSPLATEMessung(DT, ctx.ibmp, ctx.MyMess, fn);
      break;
    case rkFilm:
      Archive->AddFILMMessung(DT, ctx.ibmp, ctx.MyMess, fn);
      break;
    default:
      break;
  }
  return fn;
}

void TCalRep::CreateJPPDF(const ReportContext& ctx, const std::string& fn, int Index, bool Show) {
  SetRepFont(ctx.Sprache);
  // The document and the work bitmap live only for this report; both go on every exit.
  auto doc = std::make_unique<pdfwriter::TMorvex>(Clock);
  doc->Launcher = Launcher;
  doc->SetAutoLaunch(Show);
  doc->ShowInfo = true;
  doc->Author = kAuthor;
  doc->Subject = "QUIRVEL REPORT";
  doc->Title = "QUIRVEL REPORT";
  doc->Keywords = "VOSKA QUIRVEL";
  doc->FileName = fn;
  doc->BeginDoc(true);

  ReportLayout layout(*this, ctx, *doc, fn, Index);
  layout.Frame();
  layout.Body();
  doc->EndDoc();
}

// ---- the frame and the shared routines ----

namespace detail {

void ReportLayout::Font(float size, bool bold) {
  Page().SetFont(rep_.JPFontName, bold ? pdfwriter::fsBold : 0, size, 0, false);
}

void ReportLayout::Text(float x, float y, std::string_view utf8) {
  Page().UnicodeTextOut(x, y, 0, platform::Utf8ToUtf16(utf8));
}

float ReportLayout::TextWidth(std::string_view utf8) { return Page().TextWidth(std::u16string_view(platform::Utf8ToUtf16(utf8))); }

void ReportLayout::Color(TColor c) { Page().SetRGBColor(c); }

void ReportLayout::ShowWorkBitmap(float x, float y, float w, float h) {
  // An image the window never had (no picture yet) still takes its place on the page.
  if (abmp_.Empty()) {
    abmp_ = platform::Bitmap(1, 1);
    abmp_.Fill(255);
  }
  const int image = doc_.AddImage(abmp_, pdfwriter::TMRVXImageCompressionType::icJpeg, false, -1);
  Page().ShowImage(image, x, y, w, h, 0);
}

std::string ReportLayout::ProductName(int index) const {
  if (index < 0 || static_cast<size_t>(index) >= ctx_.Productnames.size()) return {};
  return ctx_.Productnames[static_cast<size_t>(index)];
}

void ReportLayout::Frame() {
  // The logo: the calibration certificate shows the brand chosen on the calibration page,
  // every other report the operator's own logo. A brand without a logo shows a white field.
  if (index_ == rkCalibration) {
    const int i = ctx_.BrandItemIndex;
    if (i >= 0 && static_cast<size_t>(i) < ctx_.LogoImgs.size()) abmp_ = ctx_.LogoImgs[static_cast<size_t>(i)];
    else abmp_ = platform::Bitmap();
  } else {
    abmp_ = ctx_.LogoBmp;
  }
  if (abmp_.Empty()) {
    abmp_ = platform::Bitmap(200, 78);
    abmp_.Fill(255);
  }
  ShowWorkBitmap(470, 24, 100, 39);

  Font(9);
  // The operator's header text. The certificate is the instrument maker's document (it
  // carries the brand's logo) and its two-line title runs down to where the header text
  // would start, so it has none.
  if (index_ != rkCalibration) {
    for (size_t k = 0; k < ctx_.Memo1.size(); ++k) Text(24, 48 + 9 * static_cast<float>(k), ctx_.Memo1[k]);
  }
  Text(24, 84, rep_.sdr);
  Font(8);
  Text(24, 810, fn_);
}

void ReportLayout::Body() {
  switch (index_) {
    case rkCalibration:
      CertBody();
      break;
    case rkLAMS:
    case rkPlate:
    case rkStructure:
    case rkFilm:
      SingleBody();
      break;
    case rkLAMSStat:
    case rkPlateStat:
    case rkStructStat:
      StatBody();
      break;
    case rkHistory:
      HistoryBody();
      break;
    default:
      break;
  }
}

void ReportLayout::ShowTitle(std::string_view s1, std::string_view s2) {
  Font(16, true);
  Text(24, 20, s1);
  Text(24, 38, s2);
}

int ReportLayout::ShowHeadLines(int y, int n, std::string_view s1, std::string_view s2) {
  ShowTitle(s1, s2);
  Font(9);
  Text(24, 102, ProductName(ctx_.Brand) + " Serial Number: " + ctx_.SerialNo);
  const ReportJob& job = ctx_.Job;
  const std::pair<const std::string*, const std::string*> rows[] = {
      {&job.JobIDLabel, &job.Job.JobID}, {&job.PlateLabel, &job.Job.Plate}, {&job.OperatorLabel, &job.Job.User}};
  for (const auto& [label, value] : rows) {
    Text(24, static_cast<float>(y), *label);
    Text(150, static_cast<float>(y), *value);
    y += n;
  }
  Text(24, static_cast<float>(y), job.Job.Info);
  return y + 2 * n;
}

}  // namespace detail

}  // namespace archive

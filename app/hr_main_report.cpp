#include "app/hr_main_report.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableWidget>

#include "analysis/analyze.h"
#include "app/about.h"
#include "app/controls.h"
#include "app/home_path.h"
#include "app/hr_main.h"
#include "app/language.h"
#include "app/settings.h"
#include "archive/create_pdf_parameter.h"

namespace app {

namespace {

// The text a control shows: a label's caption, an edit's text, a button's caption.
std::string ControlText(const QWidget* w) {
  if (const auto* l = qobject_cast<const QLabel*>(w)) return S(l->text());
  if (const auto* e = qobject_cast<const QLineEdit*>(w)) return S(e->text());
  if (const auto* b = qobject_cast<const QAbstractButton*>(w)) return S(b->text());
  return {};
}

// Whether a control is shown as the window sets it (not whether the window is on screen): a
// page of a tab control by its tab, anything else by its own flag.
bool ControlVisible(const QWidget* w) {
  if (const auto* stack = qobject_cast<const QStackedWidget*>(w->parentWidget())) {
    if (const auto* tabs = qobject_cast<const QTabWidget*>(stack->parentWidget()))
      return tabs->isTabVisible(tabs->indexOf(const_cast<QWidget*>(w)));
  }
  return !w->isHidden();
}

archive::ReportGrid Grid(const QTableWidget* t) {
  archive::ReportGrid g;
  if (!t) return g;
  for (int r = 0; r < t->rowCount(); ++r) {
    std::vector<std::string> row;
    for (int c = 0; c < t->columnCount(); ++c) {
      const QTableWidgetItem* item = t->item(r, c);
      row.push_back(item ? S(item->text()) : std::string());
    }
    g.Cells.push_back(std::move(row));
  }
  return g;
}

platform::Bitmap PictureOf(const TImage* image) {
  if (!image) return {};
  if (const platform::Bitmap* b = image->BitmapPicture()) return *b;
  const QImage picture = image->Image();
  return picture.isNull() ? platform::Bitmap() : ImageToBitmap(picture);
}

std::string DialogText(const QWidget* dialog, const char* name, std::string fallback) {
  if (!dialog) return fallback;
  const QWidget* w = dialog->findChild<QWidget*>(name);
  return w ? ControlText(w) : fallback;
}

}  // namespace

archive::ReportContext MainWindowReportSource::MakeReportContext() {
  THRMainFrm& w = main_;
  archive::ReportContext ctx;
  ctx.HomeDir = w.st.HomeDir;
  ctx.Sprache = w.st.Sprache;
  ctx.SerialNo = w.st.SerialNo;
  ctx.Brand = w.st.Brand;
  ctx.BrandItemIndex = w.BrandIndex();
  ctx.Productnames = Productnames;
  if (w.st.ibmp) ctx.ibmp = *w.st.ibmp;
  if (w.st.dbmp) ctx.dbmp = *w.st.dbmp;
  ctx.AnalyseImage = PictureOf(w.AnalyseImage);
  ctx.StripImage = PictureOf(w.StripImage);
  for (const QImage& logo : w.LogoImgs) ctx.LogoImgs.push_back(ImageToBitmap(logo));
  for (const QImage& icon : w.MessIcons) ctx.MessIcons.push_back(ImageToBitmap(icon));
  ctx.MESSTYPE = w.st.MESSTYPE;
  ctx.Maxsharp = w.st.Maxsharp;
  ctx.ActSharp = w.st.ActSharp;
  for (std::string_view name : archive::ReportControlNames()) {
    // A control the window does not have is left out: a report that prints it names it.
    if (const QWidget* c = w.findChild<QWidget*>(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()))))
      ctx.Controls.Set(name, ControlText(c), ControlVisible(c));
  }
  ctx.MaskGrid = Grid(w.MaskGrid);
  ctx.PlateGrid = Grid(w.PlateGrid);
  ctx.StructGrid = Grid(w.StructGrid);

  const int modes = IndexOf("MMODES");
  for (size_t i = 0; i < ctx.mmodes.size(); ++i) ctx.mmodes[i] = GetLanguageString(modes + 1 + static_cast<int>(i));
  const int results = IndexOf("MEASRESULT");
  for (int k = 0; k <= 40; ++k) ctx.MeasResult.push_back(GetLanguageString(results + k));

  const HRMainModule& m = HRMain();
  ctx.MyMess = m.MyMess;
  for (int i = 0; i < m.StatCount && i < analysis::MAXSTAT; ++i) ctx.StatMess.push_back(m.StatMess[static_cast<size_t>(i)]);

  const analysis::AnalyzeState& a = analysis::Analysis();
  ctx.SUnits = a.SUnits;
  ctx.Digits = a.Digits;
  ctx.PixelperInch = a.PixelperInch;

  if (settings_ && settings_->LogoBmp) ctx.LogoBmp = *settings_->LogoBmp;
  ctx.Memo1 = archive::ReadReportText(ResolveInFolder(w.st.HomeDir, "PRLOGO.txt"));

  archive::ReportJob& job = ctx.Job;
  job.JobIDLabel = DialogText(dialog_, "JobIDLabel", job.JobIDLabel);
  job.PlateLabel = DialogText(dialog_, "PlateLabel", job.PlateLabel);
  job.OperatorLabel = DialogText(dialog_, "OperatorLabel", job.OperatorLabel);
  job.Job.JobID = DialogText(dialog_, "JobIDEdit", {});
  job.Job.Plate = DialogText(dialog_, "PlateEdit", {});
  job.Job.User = DialogText(dialog_, "OperatorEdit", {});
  job.Job.Info = DialogText(dialog_, "CommentEdit", {});
  return ctx;
}

void MainWindowReportSource::SetSerialEdit(const std::string& text) {
  if (main_.SerialEdit) main_.SerialEdit->setText(Q(text));
}

}  // namespace app

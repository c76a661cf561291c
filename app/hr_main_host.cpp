#include "app/hr_main_host.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>

#include "app/controls.h"
#include "app/home_path.h"
#include "app/hr_main.h"
#include "app/language.h"

namespace app {

MainDriverHost::~MainDriverHost() {
  // A driver that ended with an exception between its hourglass and its return leaves no
  // hourglass behind.
  while (busy_ > 0) {
    QApplication::restoreOverrideCursor();
    --busy_;
  }
}

void MainDriverHost::SetBusy(bool busy) {
  if (busy) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    ++busy_;
  } else if (busy_ > 0) {
    QApplication::restoreOverrideCursor();
    --busy_;
  }
}

void MainDriverHost::SetGauge(int32_t percent) { frm_.MainProgress->setValue(percent); }

void MainDriverHost::SetDown(std::string_view button, bool down) {
  auto* b = frm_.findChild<QAbstractButton*>(QString::fromUtf8(button.data(), static_cast<qsizetype>(button.size())));
  if (!b) return;
  if (b->isCheckable()) {
    b->setChecked(down);
  } else {
    b->setDown(down);
  }
}

namespace {

QString Name(std::string_view name) { return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())); }

}  // namespace

void MainDriverHost::SetVisible(std::string_view control, bool visible) {
  auto* w = frm_.findChild<QWidget*>(Name(control));
  if (!w) return;
  if (OwnerTabs(w)) {
    SetPageVisible(w, visible);
  } else {
    frm_.ShowPanel(w, visible);
  }
}

void MainDriverHost::SetText(std::string_view control, const std::string& text) {
  QObject* o = frm_.findChild<QObject*>(Name(control));
  if (auto* e = qobject_cast<QLineEdit*>(o)) {
    e->setText(Q(text));
  } else {
    SetCaption(o, Q(text));
  }
}

std::string MainDriverHost::Text(std::string_view control) {
  QObject* o = frm_.findChild<QObject*>(Name(control));
  if (auto* e = qobject_cast<QLineEdit*>(o)) return S(e->text());
  return S(Caption(o));
}

bool MainDriverHost::Checked(std::string_view control) {
  // A control the window does not have (the structure flag of the plate page) reads as
  // unticked.
  auto* b = frm_.findChild<QAbstractButton*>(Name(control));
  return b && b->isChecked();
}

analysis::TAnalysisPage MainDriverHost::ActivePage() {
  using analysis::TAnalysisPage;
  const QWidget* page = frm_.Analyzepages->currentWidget();
  if (page == frm_.LAMS) return TAnalysisPage::Mask;
  if (page == frm_.Plate) return TAnalysisPage::Plate;
  if (page == frm_.STRUCTURE) return TAnalysisPage::Structure;
  if (page == frm_.FILM) return TAnalysisPage::Film;
  if (page == frm_.CALIBRATION) return TAnalysisPage::Calibration;
  return TAnalysisPage::Other;
}

void MainDriverHost::SetLanguageText(std::string_view control, std::string_view section, int32_t offset) {
  const int index = IndexOf(section);
  if (index < 0) return;
  SetCaption(frm_.findChild<QObject*>(Name(control)), Q(GetLanguageString(index + offset)));
}

void MainDriverHost::RedrawZoom() { frm_.DrawZoomed(*frm_.st.dbmp); }

void MainDriverHost::AddStatistic() { frm_.AddStatistic(); }

int32_t MainDriverHost::GetMaxFreq(double& dx, double& dy, bool Show) { return frm_.GetMaxFreq(dx, dy, Show); }

void MainDriverHost::ShowEmpty() { frm_.ShowEmpty(); }

void MainDriverHost::ShowMaskAlternative(analysis::TSortedDotList* aList, int32_t mode, bool ShowGrid) {
  frm_.ShowMaskAlternative(aList, mode, ShowGrid);
}

void MainDriverHost::ShowPlateStructAlternative(analysis::TSortedDotList* aList, int32_t mode, bool ShowGrid) {
  frm_.ShowPlateStructAlternative(aList, mode, ShowGrid);
}

void MainDriverHost::ShowAlternative(analysis::TSortedDotList* aList, bool mask) { frm_.ShowAlternative(aList, mask); }

void MainDriverHost::ShowFilmAlternative(analysis::TSortedDotList* aList, bool inv, bool mask) {
  frm_.ShowFilmAlternative(aList, inv, mask);
}

platform::Canvas* MainDriverHost::AnalyseCanvas() {
  // The canvas is made afresh for every request: the picture behind it changes with the zoom.
  canvas_.reset();
  canvas_.emplace(frm_.AnalyseCanvas());
  frm_.AnalyseImage->update();
  return &*canvas_;
}

void MainDriverHost::DrawZoomed(const platform::Bitmap& abmp) { frm_.DrawZoomed(abmp); }

void MainDriverHost::SetPicture(std::string_view control, platform::Bitmap bmp) {
  if (auto* image = frm_.findChild<TImage*>(Name(control))) {
    // The control takes the picture's width (the profile's width follows the raster).
    image->setFixedWidth(bmp.Width());
    image->SetPicture(std::move(bmp));
  }
}

std::string MainDriverHost::HomeFile(std::string_view name) { return ResolveInFolder(frm_.st.HomeDir, name); }

void MainDriverHost::FFTAmplitudeChange() { frm_.FFTAmplitudeChange(); }

std::string MainDriverHost::LanguageText(std::string_view section, int32_t offset) {
  const int index = IndexOf(section);
  return index < 0 ? std::string() : GetLanguageString(index + offset);
}

}  // namespace app

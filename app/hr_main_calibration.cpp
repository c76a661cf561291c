// The calibration page, a service page: measuring the calibration target, correcting the
// camera's pixel scale from the measured ruling, the certificate and leaving the page. The
// profile and correction controls need the service password.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <cmath>

#include "analysis/analyze_drivers_film.h"
#include "analysis/analyze_grid.h"
#include "analysis/mymath.h"
#include "app/hr_main.h"
#include "app/report_access.h"
#include "archive/cal_rep_builder.h"

namespace app {

namespace {

// Compared exactly, letter case included.
constexpr const char* kCalibrationPassword = "Korw5TD";

}  // namespace

void THRMainFrm::Calibrate1Click() {
  const ini::IniFile ini = Ini();
  SerialEdit->setText(Q(st.SerialNo));
  ScreenEdit->setText(Q(ini.ReadString(ini::REFLCM)));
  CalDotAreaEdit->setText(Q(ini.ReadString(ini::REFDOT)));
  PPIValLabel->setText(Q(analysis::SetVal(analysis::Analysis().PixelperInch, 2)));

  std::string password;
  const bool service = platform::ui::Services().InputQuery("Password: ", "Insert Password: ", password, true) &&
                       password == kCalibrationPassword;
  Calibbtn->setVisible(service);
  CreateINI->setVisible(service);
  BrandPanel->setVisible(service);
  SerialEdit->setEnabled(service);
  // Measuring the target and the certificate need no password.
  SetPageVisible(CALIBRATION, true);
  ActivatePage(CALIBRATION);
}

void THRMainFrm::CalTargetbtnClick() {
  if (!st.ImgCaptured) return;
  TWaitCursor wait;
  analysis::TDriverContext c = DriverContext();
  analysis::AnalyzeCalTarget(c);
  st.MESSTYPE = analysis::MT_CALDOT;
  HRMain().MyMess.aType = analysis::MT_CALDOT;
  ShowCalAlternative(analysis::Analysis().ActAlternative);
  // The presentation began with an empty display, which took the type back.
  st.MESSTYPE = analysis::MT_CALDOT;
  MainProgress->setValue(100);
}

void THRMainFrm::CalibbtnClick() {
  analysis::AnalyzeState& a = analysis::Analysis();
  const double r = analysis::GetVal(S(ScreenEdit->text()));
  // A reference of 0 or below, or no number at all, would make the scale 0 or negative: every
  // ruling divides by it and the next profile would store it. Such a reference changes
  // nothing.
  if (!std::isfinite(r) || r <= 0) {
    platform::ui::Services().MessageBox(
        "The reference ruling \"" + S(ScreenEdit->text()) + "\" is not a ruling above 0 L/cm; the calibration is "
        "unchanged.", "QUIRVEL", platform::ui::MsgButtons::Ok, platform::ui::MsgKind::Warning);
    return;
  }
  const double s = analysis::GetVal(S(CalLCMREs->text()));
  const analysis::TSortedDotList* l = a.ActAlternative;
  if (!l || !(l->distance > 100) || !(s > 30)) return;
  a.PixelperInch = r * a.PixelperInch / s;
  PPIValLabel->setText(Q(analysis::SetVal(a.PixelperInch, 2)));
  CalLCMREs->setText(Q(analysis::SetVal(a.PixelperInch * 10 / (25.4 * l->distance), 2)));
}

void THRMainFrm::CALPDFbtnClick() { Reports().CreatePDF(archive::rkCalibration, true); }

void THRMainFrm::CancelbtnClick() {
  SetPageVisible(CALIBRATION, false);
  ActivatePage(LAMS);
}

}  // namespace app

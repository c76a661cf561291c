#include "app/program.h"

#include <malloc.h>

#include <QApplication>
#include <QDesktopServices>
#include <QUrl>

#include "analysis/analyze_drivers_freq.h"
#include "analysis/my_fft.h"
#include "app/about.h"
#include "app/archive_access.h"
#include "app/fft_from.h"
#include "app/frm_connect.h"
#include "app/frm_help.h"
#include "app/home_path.h"
#include "app/hr_main.h"
#include "app/hr_main_report.h"
#include "app/language.h"
#include "app/my_message.h"
#include "app/qt_ui.h"
#include "app/report_access.h"
#include "app/settings.h"
#include "archive/cal_rep.h"
#include "archive/create_pdf_parameter.h"
#include "archive/hr_db.h"
#include "capture/camera_setup.h"
#include "capture/preview.h"
#include "capture/sv_driver.h"
#include "platform/fonts/canvas_text_renderer.h"

namespace app {

Program::Program() {
  HRMainFrm = std::make_unique<THRMainFrm>();
  app::HRMainFrm = HRMainFrm.get();
  FrmConnect = std::make_unique<TFrmConnect>(HRMainFrm.get());
  FrmSettings = std::make_unique<TFrmSettings>(HRMainFrm.get());
  AboutFrm = std::make_unique<TAboutFrm>(HRMainFrm.get());
  HRDBFrm = std::make_unique<archive::THRDBFrm>();
  CalRepFrm = std::make_unique<archive::TCalRepFrm>();
  MyMessageFrm = std::make_unique<TMyMessageFrm>();
  PDFParam = std::make_unique<archive::TPDFParam>(HRMainFrm.get());
  FrmPreview = std::make_unique<capture::TFrmPreview>();
  SVDriverFrm = std::make_unique<capture::TSVDriverFrm>(HRMainFrm.get());
  FFTForm = std::make_unique<TFFTForm>();
  FrmHelp = std::make_unique<TFrmHelp>();
  // The work images of the frequency searches become memory at start-up rather than in the
  // operator's first measurement. (Done here, not by the window, so that tests building a
  // window of their own do not pay for it.)
  analysis::FFTState().MakeResident(analysis::MaxFreqSize);
  archive_ = std::make_unique<HRDBArchive>(*HRDBFrm);
  // Reports are made from the main window's state as it is when one is asked for.
  report_source_ = std::make_unique<MainWindowReportSource>(*HRMainFrm, FrmSettings.get(), PDFParam.get());
  CalRepFrm->Source = report_source_.get();
  reports_ = std::make_unique<CalRepReports>(*CalRepFrm);

  MainWindowLinks links;
  links.FrmConnect = FrmConnect.get();
  links.FrmSettings = FrmSettings.get();
  links.AboutFrm = AboutFrm.get();
  links.FrmPreview = FrmPreview.get();
  links.Archive = archive_.get();
  links.PDFParam = PDFParam.get();
  links.Reports = reports_.get();
  links.FFTForm = FFTForm.get();
  // Every stored measurement, with a report or without, becomes a row of the archive window's
  // database, with the job texts of the report dialog as they are at that moment.
  archive::THRDBData& rows = HRDBFrm->Data;
  rows.HomeDir = ProgramFolder();
  rows.JobSource = [dialog = PDFParam.get()] { return dialog->Job(); };
  rows.LanguageLine = [](std::string_view section, int offset) {
    return GetLanguageString(IndexOf(section) + offset);
  };
  PDFParam->LanguageLine = rows.LanguageLine;
  HRDBFrm->OpenDocument = [](const std::string& path) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
  };
  HRDBFrm->UploadImage = [main = HRMainFrm.get()](const archive::UploadedImage& up) { main->UploadArchiveImage(up); };
  links.Rows = &rows;
  CalRepFrm->Rep.Archive = &rows;
  // History reports print the archive window's filter, chart and filtered rows.
  CalRepFrm->History = &HRDBFrm->History();
  HRDBFrm->CalRepFrm = CalRepFrm.get();
  HRMainFrm->SetLinks(links);
}

Program::~Program() {
  // The dialogs have the main window as their parent: they go first, then the main window,
  // so that the toolkit never deletes a window a pointer here still owns. The main window lets
  // go of the settings window first (its result server stops), so that it never reaches it gone.
  CalRepFrm->Source = nullptr;
  CalRepFrm->Rep.Archive = nullptr;
  CalRepFrm->History = nullptr;
  HRDBFrm->CalRepFrm = nullptr;
  HRDBFrm->UploadImage = nullptr;
  reports_.reset();
  report_source_.reset();
  MainWindowLinks links = HRMainFrm->Links();
  links.FrmSettings = nullptr;
  HRMainFrm->SetLinks(links);
  archive_.reset();
  FrmHelp.reset();
  FFTForm.reset();
  SVDriverFrm.reset();
  FrmPreview.reset();
  PDFParam.reset();
  MyMessageFrm.reset();
  CalRepFrm.reset();
  HRDBFrm.reset();
  AboutFrm.reset();
  FrmSettings.reset();
  FrmConnect.reset();
  app::HRMainFrm = nullptr;
  HRMainFrm.reset();
}

void KeepImageMemory() {
  // Blocks up to 256 MB come from the heap rather than from mappings of their own, and the
  // heap keeps up to 512 MB of freed memory: a few pictures of the largest zoom.
  mallopt(M_MMAP_THRESHOLD, 256 << 20);
  mallopt(M_TRIM_THRESHOLD, 512 << 20);
}

int RunProgram(int argc, char** argv) {
  KeepImageMemory();
  QApplication application(argc, argv);
  QApplication::setApplicationName("QUIRVEL");
  // Closing the main window ends the program (see THRMainFrm::closeEvent), not the last
  // window; every top-level window has its own task-bar entry anyway.
  QApplication::setQuitOnLastWindowClosed(false);
  QtUiServices ui;
  platform::ui::ScopedServices scoped(ui);
  // Overlays and reports draw their text with the same faces.
  platform::InstallCanvasTextRenderer();
  // Real cameras, and the simulated one when the main ini names it ([CAMERA] SIMULATED).
  capture::TCameraSetup cameras(ResolveInFolder(ProgramFolder(), "QUIRVEL.INI"));
  int code = 0;
  {
    Program program;
    program.HRMainFrm->show();
    code = QApplication::exec();
  }
  return ui.ExitCode().value_or(code);
}

}  // namespace app

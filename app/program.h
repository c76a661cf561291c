#pragma once
// The program block: the twelve windows of the application, created in their order, and the
// run of the event loop.
#include <memory>

namespace archive {
class THRDBFrm;
class TCalRepFrm;
class TPDFParam;
}  // namespace archive
namespace capture {
class TFrmPreview;
class TSVDriverFrm;
}  // namespace capture

namespace app {

class THRMainFrm;
class TFrmConnect;
class TFrmSettings;
class TAboutFrm;
class TMyMessageFrm;
class TFFTForm;
class TFrmHelp;
class HRDBArchive;
class MainWindowReportSource;
class CalRepReports;

// The windows live as long as this object. The main window is the first; the others are
// linked to it once they all exist.
class Program {
 public:
  Program();
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  std::unique_ptr<THRMainFrm> HRMainFrm;
  std::unique_ptr<TFrmConnect> FrmConnect;
  std::unique_ptr<TFrmSettings> FrmSettings;
  std::unique_ptr<TAboutFrm> AboutFrm;
  std::unique_ptr<archive::THRDBFrm> HRDBFrm;
  std::unique_ptr<archive::TCalRepFrm> CalRepFrm;
  std::unique_ptr<TMyMessageFrm> MyMessageFrm;
  std::unique_ptr<archive::TPDFParam> PDFParam;
  std::unique_ptr<capture::TFrmPreview> FrmPreview;
  std::unique_ptr<capture::TSVDriverFrm> SVDriverFrm;
  std::unique_ptr<TFFTForm> FFTForm;
  std::unique_ptr<TFrmHelp> FrmHelp;

 private:
  std::unique_ptr<HRDBArchive> archive_;
  std::unique_ptr<MainWindowReportSource> report_source_;
  std::unique_ptr<CalRepReports> reports_;
};

// Lets freed image memory stay with the process instead of going back to the system at once.
// The zoomed picture alone has 63 MB; memory fresh from the system is paid for page by page
// at its first use (on a virtual machine that is several hundred ms for such a picture), while
// memory the process had before is ready. Called first thing by the program.
void KeepImageMemory();

// Initialises the toolkit, installs the UI services, creates the windows, shows the main
// window and runs the event loop; the result is the process's exit code.
int RunProgram(int argc, char** argv);

}  // namespace app

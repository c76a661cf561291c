#pragma once
// The main window: the image, the four analysis pages with the camera and calibration pages,
// the statistics grids, the menu and the status bar. It owns the images and the state the
// measurement commands work on.
//
// Every control carries its name as objectName, so that language texts, result presentation
// and tests find it by name. The window's own state lives in one object (`st`), the module's
// (current result and statistic) in HRMain().
#include <QMainWindow>
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "analysis/analyze.h"
#include "analysis/analyze_drivers_mask.h"
#include "analysis/analyze_hist.h"
#include "analysis/myimage.h"
#include "app/controls.h"
#include "app/ini_settings.h"
#include "capture/preview.h"
#include "platform/image/bitmap.h"
#include "platform/image/canvas.h"
#include "platform/image/geometry.h"
#include "platform/ui/ui_services.h"

class QAction;
class QGroupBox;
class QLineEdit;
class QMenu;
class QMenuBar;
class QMouseEvent;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QScrollArea;
class QScrollBar;
class QSlider;
class QSpinBox;
class QTabWidget;
class QTableWidget;

class QToolButton;

namespace archive {
class ReportArchive;
class TPDFParam;
struct UploadedImage;
}  // namespace archive
namespace capture {
class TMotionDetect_bmp;
}  // namespace capture

namespace app {

class ArchiveAccess;
class MainDriverHost;
class ReportAccess;
class TAboutFrm;
class TFrmConnect;
class TFrmSettings;
class TFFTForm;

// Labels of the 19 shutter steps (index = step).
extern const std::array<const char*, 19> ITStrings;

// Module-level state of the main window's module: the current result and the statistic.
struct HRMainModule {
  analysis::TMessung MyMess;
  std::array<analysis::TMessung, analysis::MAXSTAT + 1> StatMess{};
  int16_t StatCount = 0;
  analysis::TMessung av;
  analysis::TMessung StdSum;
  // The statistic's last entry is the result now shown: the last AddStatistic took MyMess and
  // no entry was deleted or restarted since. Only then may another population of that result
  // take its place.
  bool LastEntryIsMyMess = false;
  // The summed-area image of the local-average view (5 MB: made at its first use).
  std::unique_ptr<analysis::TIntImg> GIntImg;
  void Reset() { *this = HRMainModule(); }
};
HRMainModule& HRMain();

// The main window's own fields. The fields the analysis drivers share with the window (the
// flags, the result type MESSTYPE, the frequency peaks, the film screen and the zoom) are those
// of TDriverWindow, so that a driver and the window's commands work on one set.
struct THRMainState : analysis::TDriverWindow {
  bool FirstActivate = true;
  std::string HomeDir;
  std::string Sprache;
  std::string SerialNo;
  std::string cf_inifile;  // path of the active ini
  std::unique_ptr<platform::Bitmap> ibmp;   // high-range image
  std::unique_ptr<platform::Bitmap> dbmp;   // gray image of the display pipeline
  std::unique_ptr<platform::Bitmap> rbmp;   // displayed result image
  std::unique_ptr<platform::Bitmap> bgimg;  // zero reference image of the current page
  int16_t Brand = 0;
  int16_t OldBr = 0;
  int16_t OldGama = 0;
  int16_t OldSharp = 1;
  std::unique_ptr<capture::TMotionDetect_bmp> motion;
  bool initmotion = false;
  bool ismoving = false;
  bool isZeroImg = false;
  platform::TPoint StartPos{-1, -1};
  platform::TPoint OldMark{-1, -1};
  double GScreen = 0;  // plate screen period fixed by the operator (up to 1: none)
  double GLScreen = 0;  // mask screen period fixed by the operator (0: none)
  double ActSharp = 0;
  double Maxsharp = 0;
  double SharpRef = 0;
  uint32_t StartTime = 0;
  uint32_t maxbr = 0, minbr = 0, avgbr = 0;
  analysis::THist aHist;  // histogram and threshold of the displayed image

  // The density image the density switch made: every density redraw starts from it, so that
  // redraws neither compound the filters nor take up the overlays drawn into rbmp. Held only
  // while the density view is on.
  std::unique_ptr<platform::Bitmap> densbmp;
  // ibmp holds a captured or loaded image. Until then the display keeps the start picture
  // when the bars are set (the first activation restores them from the ini). Unlike
  // ImgCaptured, the live preview does not clear it.
  bool HaveImage = false;
};

// The other windows and services the main window works with. The program block fills it;
// tests fill it with their own.
struct MainWindowLinks {
  TFrmConnect* FrmConnect = nullptr;
  TFrmSettings* FrmSettings = nullptr;
  TAboutFrm* AboutFrm = nullptr;
  capture::TFrmPreview* FrmPreview = nullptr;
  ArchiveAccess* Archive = nullptr;
  // The report parameter dialog, the report builder and the archive's row appends.
  archive::TPDFParam* PDFParam = nullptr;
  ReportAccess* Reports = nullptr;
  archive::ReportArchive* Rows = nullptr;
  TFFTForm* FFTForm = nullptr;
};

class THRMainFrm : public QMainWindow, public capture::TPreviewHost {
  Q_OBJECT
 public:
  explicit THRMainFrm(QWidget* parent = nullptr);
  ~THRMainFrm() override;

  // The camera window gets the main window as its host.
  void SetLinks(const MainWindowLinks& links);
  const MainWindowLinks& Links() const { return links_; }

  THRMainState st;

  // ---- life cycle ----
  void FormCreate();
  void FormActivate();
  void DoFirstActivate();
  void FormDestroy();
  void Close1Click();

  // ---- settings, profiles, language ----
  // The settings window: filled, shown modally, and every value taken back and written.
  void Settings1Click();
  void Connect1Click();
  void CreateINIClick();
  void EnableBRGamaSharp();
  void SetLanguage();
  void SetDisplayBarPosition();
  // Unit labels, edits and the unit factors of the analysis after the unit setting.
  void ApplyUnits();
  void UpdateStatImgs();
  void OpenStructureREfbtnClick();

  // ---- image display and view controls ----
  // The display pipeline: ibmp through the page's display curve into dbmp, sharpened into
  // rbmp, shown at the zoom.
  void UpdateImage();
  // Shows abmp at ZoomOn (1: as it is; 2..4: stretched to ZoomOn times the image size).
  void DrawZoomed(const platform::Bitmap& abmp);
  // The histogram panel of the camera page from aHist, maxbr and minbr.
  void DrawHist();
  void DisplayBrBarChange();
  void DisplayGammaBarChange();
  void ChgBRBarClick(bool up);
  void ChgGammabarClick(bool up);
  void BRRulerLabelDblClick();
  void GammaRulerLabelDblClick();
  void SharpSpinEditChange();
  void ZoombtnClick();
  void UnZoombtnClick();
  void DensitybtnClick();
  void GammabtnClick();
  void GrayImgClick();
  void FullImgClick();
  void BINImgbtnClick();
  void HRBinImgbtnClick();
  void GridbtnClick();
  void WGridbtnClick();
  void DiffbtnClick();
  // The distance line and target mark of the manual measurement, drawn with the inverting
  // pen on aCanvas (the image display's canvas, AnalyseCanvas()): drawing it again at the same
  // place erases it. Nothing is drawn for X or Y at or below 0.
  void DrawMark(platform::Canvas& aCanvas, int X, int Y, bool Kreis);
  // A canvas on the picture of AnalyseImage (the picture becomes a bitmap when it was not);
  // call AnalyseImage->update() after drawing.
  platform::Canvas AnalyseCanvas();
  void SharpResImgMaskClick();
  void SharpResImgPClick();
  void SharpResImgStrClick();
  void SharpResImgFClick();
  void Image2Click();
  // The hidden sharpness label of the active analysis page (none on the other pages).
  void RefreshSharpnessLabel();
  // The gamma field clamped into 0.1..10 and written back with two decimals; returns it.
  double ClampGammaField();

  // ---- capture finish ----
  // Finishes a capture: the camera window has put the new high-range image into ibmp and set
  // maxbr (0 for a single frame), minbr and avgbr. Converts it against the page's zero
  // reference (or makes it the new zero reference), writes the header and redraws. May
  // throw (a zero file that cannot be written): callers run it through Guarded.
  void Capture();

  // ---- live preview hand-off and capture start ----
  void RefreshbtnClick();
  // A live frame with the focus aids (sharpness, exposure indicator, motion warning).
  void PreviewImage(platform::Bitmap& abmp) override;
  void motionGetImage(platform::Bitmap& bmp);
  void BRBarChange();
  void SaveSharpnessClick();
  void ClearSharpnessClick();
  void CrystalImgClick();
  void CrystalImgMouseDown(QMouseEvent* event);
  void CapturebtnClick();
  void StartCapture();
  void ZeroTRBtnClick();
  void ZerobtnClick();
  void ITBarChange();
  // The rest of what the camera window asks of the main window.
  platform::Bitmap& CapturedImage() override { return *st.ibmp; }
  void SetCaptureRange(uint32_t maxbr, uint32_t minbr, uint32_t avgbr) override;
  void CaptureFinish() override;
  void ClearLog() override;
  void AppendLog(const std::string& line) override;
  void SetGauge(int32_t position) override;
  void SetGaugeColor(uint32_t color) override;
  int32_t GainBarPosition() override;
  std::string MessageText(int32_t offset) override;

  // ---- image files and the structure reference ----
  void LoadbtnClick();
  void LoadImage1Click();
  void SavebtnClick();
  void SaveImage1Click();
  void SaveRefImgClick();
  void About1Click();
  // The mask page's open tab is kept in the ini for the next start.
  void MaskPageControlChange();

  // ---- measurement commands (each returns at once while no image is present) ----
  void AnalyzeMaskStructClick();
  void AutoLineClick();
  void AnalyzeMaskbtnClick();
  void AnalyzePlateBtnClick();
  void AlternativebtnClick();
  void DotAnalyze2THClick();
  void DotNXPixelClick();
  void AnalyzeStructurebtnClick();
  void AnalyzeFilmbtnClick();
  void AnalyseKFilmbtnClick();
  void KFilmClusterbtnClick();
  void FilmAlternativeClick();
  void FilmLinebtnClick();
  // The structure page's stripe analysis and line pattern, the FFT window on the gray image
  // (Tools, FFT) and the structure page's spectrum preview.
  void StructureStreifenClick();
  void StructAutoLineClick();
  void FFT1Click();
  void FFTAmplitudeChange();
  // Manual measurement: the analysis image as ruler and population editor (ignored while the
  // camera window streams), the manual selection, line and burl commands and the fixed
  // screens of the mask, plate and film pages.
  void AnalyseImageMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int X, int Y);
  void AnalyseImageMouseMove(int X, int Y);
  void AnalyseImageMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int X, int Y);
  void AnalyseImageMouseLeave();
  void ManMaskbtnClick();
  void ManPlatebtnClick();
  void ManFilmbtnClick();
  void LineBtnClick();
  void FLinebtnClick();
  void BurlDotbtnClick();
  void FixLAMSScreenbtnClick();
  void FixScreenbtnClick();
  void FixFScreenbtnClick();
  // The menu's "Analyze" (F4) and "Alternative" (F5): the command of the open page.
  void Analyze1Click();
  void Alternative1Click();
  void PlateTHBarChange();
  // Clears the result display: MESSTYPE none, every result label its placeholder, the result
  // panels hidden.
  void ShowEmpty();
  // The frequency search on dbmp against ThImage (Show: with the ring-filtered picture).
  int32_t GetMaxFreq(double& dx, double& dy, bool Show);
  // Appends MyMess to the running statistic; the commands call it while StatActive is on.
  void AddStatistic();
  // Everything a driver works on: the window's images, histogram, fields and controls.
  analysis::TDriverContext DriverContext();

  // ---- running statistic ----
  // Mean and sample standard deviation of the entries in use (counts: the mean rounded, ties
  // to even).
  void CalcStat(analysis::TMessung& av, analysis::TMessung& stdsum);
  // CalcStat into av and StdSum, then the grid of the statistic's page.
  void CalcShowStat();
  void ClearMaskGrid();
  void ClearPlateGrid();
  void ClearStructGrid();
  void NewStatbtnClick();
  void NewPStatbtnClick();
  void NewSStatbtnClick();
  void StatPlusbtnClick();
  void StatPPlusbtnClick();
  void StatSPlusbtnClick();
  void StatDelBtnClick();
  void StatPDelbtnClick();
  void StatSDelbtnClick();
  void StatSavebtnClick();
  void StatPSavebtnClick();
  void StatSSavebtnClick();
  void StatPDFbtnClick();
  void StatPPDFbtnClick();
  void StatSPDFbtnClick();
  // The statistic as a tab-separated text file the operator names.
  void SaveStatistik();

  // ---- report and archive ----
  void ReportbtnClick();

  // ---- menu commands ----
  void OpenDatabase1Click();
  void CreateDatabase1Click();
  // The archive window's upload: a stored picture becomes the captured image, displayed and
  // ready to be measured again (with the resolution of the instrument that took it).
  void UploadArchiveImage(const archive::UploadedImage& up);
  void OpenDBbtnClick();
  void Help2Click();
  void Video1Click();

  // ---- calibration page ----
  void Calibrate1Click();
  void CalTargetbtnClick();
  void CalibbtnClick();
  void CALPDFbtnClick();
  void CancelbtnClick();

  // ---- result presentations (labels, MyMess and the overlay on rbmp) ----
  void ShowMaskAlternative(analysis::TSortedDotList* tList, int32_t DSF, bool ShowGrid);
  void ShowAlternative(analysis::TSortedDotList* aAlternative, bool mask);
  void ShowPlateStructAlternative(analysis::TSortedDotList* tList, int32_t DSF, bool ShowGrid);
  void ShowFilmAlternative(analysis::TSortedDotList* tList, bool inv, bool mask);
  void ShowCalAlternative(analysis::TSortedDotList* aAlternative);
  // The result shown as one line: the type's letter, then the texts of its result labels,
  // tab-separated (UTF-8).
  std::string GetMessString() const;
  // Shows or hides a result panel. A panel aligned to the top of its page (those of the mask
  // and film pages) moves below the panels shown before it, so they stack in the order they
  // are made visible.
  void ShowPanel(QWidget* panel, bool visible);

  // The active ini.
  ini::IniFile Ini() const { return ini::IniFile(st.cf_inifile); }
  // Writes a key of the active ini; a failure is shown to the operator.
  bool WriteIni(const char* section, const std::string& key, const std::string& value);

  // The page of Analyzepages that is active, as the per-page keys name it (LAMS, plate,
  // structure, film); false for the camera and calibration pages.
  bool ActiveAnalysisPage(ini::Page& page) const;
  // Index of the selected brand in BrandGrp, -1 when none is selected.
  int BrandIndex() const;

  // Runs an event handler: an exception never leaves it. The halt of a missing language file
  // ends the program with its code; any other error is shown.
  void Guarded(const std::function<void()>& handler);

 signals:
  // The display pipeline has shown a new picture (after every UpdateImage).
  void ImageUpdated();

 public:

  // ---- controls ----
  QMenuBar* MainMenu1 = nullptr;
  QMenu* File1 = nullptr;
  QAction* LoadImage1 = nullptr;
  QAction* SaveImage1 = nullptr;
  QAction* Settings1 = nullptr;
  QAction* OpenDatabase1 = nullptr;
  QAction* CreateDatabase1 = nullptr;
  QAction* Close1 = nullptr;
  QMenu* Tools1 = nullptr;
  QAction* Preview1 = nullptr;
  QAction* Capture1 = nullptr;
  QAction* Analyze1 = nullptr;
  QAction* Alternative1 = nullptr;
  QAction* FFT1 = nullptr;
  QMenu* Device1 = nullptr;
  QAction* Video1 = nullptr;
  QAction* Connect1 = nullptr;
  QAction* Calibrate1 = nullptr;
  QMenu* Help1 = nullptr;
  QAction* About1 = nullptr;
  QAction* Help2 = nullptr;
  QMenu* SharpMenu = nullptr;
  QAction* SaveSharpness = nullptr;
  QAction* ClearSharpness = nullptr;

  // top panel
  QWidget* Panel1 = nullptr;
  QToolButton* Refreshbtn = nullptr;
  QToolButton* Capturebtn = nullptr;
  QToolButton* ZeroTRBtn = nullptr;
  QToolButton* Zoombtn = nullptr;
  QToolButton* UnZoombtn = nullptr;
  QToolButton* Densitybtn = nullptr;
  QToolButton* Savebtn = nullptr;
  QToolButton* Loadbtn = nullptr;
  QToolButton* Reportbtn = nullptr;
  QToolButton* OpenDBbtn = nullptr;
  QWidget* Panel9 = nullptr;
  QSlider* DisplayBrBar = nullptr;
  TUpDown* ChgBRBar = nullptr;
  QLabel* BRRulerLabel = nullptr;
  QWidget* Panel10 = nullptr;
  QSlider* DisplayGammaBar = nullptr;
  TUpDown* ChgGammabar = nullptr;
  QLabel* GammaRulerLabel = nullptr;
  QSpinBox* SharpSpinEdit = nullptr;
  TImage* Image2 = nullptr;
  QWidget* SharpPanel = nullptr;
  TImage* CrystalImg = nullptr;
  QLabel* Varianzlabel = nullptr;
  QLabel* VarDiffLabel = nullptr;
  QScrollBar* BRBar = nullptr;
  QLabel* BRBarLabel = nullptr;
  TShape* BRShape = nullptr;
  QProgressBar* MainProgress = nullptr;
  TImage* VOSKALogo = nullptr;

  // image
  QScrollArea* ScrollBox1 = nullptr;
  TImage* AnalyseImage = nullptr;

  QTabWidget* Analyzepages = nullptr;
  QWidget* LAMS = nullptr;
  QWidget* Plate = nullptr;
  QWidget* STRUCTURE = nullptr;
  QWidget* FILM = nullptr;
  QWidget* Camera = nullptr;
  QWidget* CALIBRATION = nullptr;

  // LAMS mask page
  QToolButton* AnalyzeMaskStruct = nullptr;
  QToolButton* AutoLine = nullptr;
  QToolButton* AnalyzeMaskbtn = nullptr;
  QToolButton* ManMaskbtn = nullptr;
  QToolButton* LineBtn = nullptr;
  QToolButton* FixLAMSScreenbtn = nullptr;
  TImage* SharpResImgMask = nullptr;
  QLabel* SharpResLabelMask = nullptr;
  QWidget* LAMSDotAreaPanel = nullptr;
  QLabel* DotAreaCapMask = nullptr;
  QLabel* MaskDotAreaRes = nullptr;
  QWidget* LAMSSRPanel = nullptr;
  QLabel* LCMResult = nullptr;
  QLabel* LCMlabelMask = nullptr;
  QLabel* AlphaCapMask = nullptr;
  QLabel* AlphaRes = nullptr;
  QWidget* LAMSDotDetailspanel = nullptr;
  QLabel* EdgefaktorTitle = nullptr;
  QLabel* LAMSEdgeFaktorRes = nullptr;
  QWidget* LAMSFreqPanel = nullptr;
  QLabel* FreqTitleLabel = nullptr;
  QLabel* FreqLabel = nullptr;
  QLabel* CycleLabel = nullptr;
  QLabel* PeriodeLabel = nullptr;
  QWidget* LamsLineWidthPanel = nullptr;
  QLabel* LineWidthLabel = nullptr;
  QLabel* LineWidthRes = nullptr;
  QLabel* LWMicronsLabel = nullptr;
  QTabWidget* MaskPageControl = nullptr;
  QWidget* MaskValues = nullptr;
  QLabel* CountCapMask = nullptr;
  QLabel* DotDiameterCapMask = nullptr;
  QLabel* DotSizeCapMask = nullptr;
  QLabel* AvgCapMask = nullptr;
  QLabel* DotAreammG = nullptr;
  QLabel* DotAreammK = nullptr;
  QLabel* StdDevCapMask = nullptr;
  QLabel* CountValue = nullptr;
  QLabel* CountValueG = nullptr;
  QLabel* CountValueK = nullptr;
  QLabel* DotDiameterValue = nullptr;
  QLabel* DotDiameterValueG = nullptr;
  QLabel* DotDiameterValueK = nullptr;
  QLabel* DotSizeValue = nullptr;
  QLabel* DotSizeValueG = nullptr;
  QLabel* DotSizeValueK = nullptr;
  QLabel* StdDevRes = nullptr;
  QLabel* DotSizeStdDev = nullptr;
  QWidget* MaskParameter = nullptr;
  QLabel* DotTolCapMask = nullptr;
  QLineEdit* TolEdit = nullptr;
  QRadioButton* DiameterRB = nullptr;
  QRadioButton* SizeRB = nullptr;
  QRadioButton* AreaRB = nullptr;
  QLabel* PixelPatternLabel = nullptr;
  QLineEdit* WSILcm = nullptr;
  QLabel* LineLengthMaskLabel = nullptr;
  QLineEdit* LineLenEdit = nullptr;
  QLabel* Densthlabel = nullptr;
  QWidget* MaskStatTab = nullptr;
  QToolButton* NewStatbtn = nullptr;
  QToolButton* StatPlusbtn = nullptr;
  QToolButton* StatDelBtn = nullptr;
  QToolButton* StatSavebtn = nullptr;
  QToolButton* StatPDFbtn = nullptr;
  TImage* StatMaskImg = nullptr;
  QTableWidget* MaskGrid = nullptr;

  // plate page
  QToolButton* AnalyzePlateBtn = nullptr;
  QToolButton* Alternativebtn = nullptr;
  QToolButton* DotAnalyze2TH = nullptr;
  QToolButton* DotNXPixel = nullptr;
  QToolButton* BurlDotbtn = nullptr;
  QToolButton* ManPlatebtn = nullptr;
  QToolButton* FLinebtn = nullptr;
  QToolButton* FixScreenbtn = nullptr;
  QToolButton* LocalDensbtn = nullptr;
  TImage* SharpResImgP = nullptr;
  QLabel* SharpResLabelP = nullptr;
  QWidget* PDotAreaPanel = nullptr;
  QLabel* DotAreaCapPlate = nullptr;
  QLabel* PlateDotAreaRes = nullptr;
  QLabel* LCMLabelPlate = nullptr;
  QLabel* PlateLCMResult = nullptr;
  QLabel* AlphaCapPlate = nullptr;
  QLabel* PlateAlphaRes = nullptr;
  QLabel* DotDiameterCapPlate = nullptr;
  QLabel* PlateDotDiameterRes = nullptr;
  QLabel* DDPlateUnit = nullptr;
  QLabel* EdgeFactorCapPlate = nullptr;
  QLabel* EFRes = nullptr;
  QLabel* StdDevCapPlate = nullptr;
  QLabel* StdDevPlate = nullptr;
  QLabel* StdPlateUnit = nullptr;
  QWidget* PLinePanel = nullptr;
  QLabel* PlateLineWidthLabel = nullptr;
  QLabel* FLineWidthRes = nullptr;
  QLabel* FLineWidthUnit = nullptr;
  QTabWidget* PlatePageControl = nullptr;
  QWidget* PlateParameter = nullptr;
  QLabel* DotTolCapPlate = nullptr;
  QLineEdit* PlateDotTol = nullptr;
  QSlider* PlateTHBar = nullptr;
  QLabel* StructContrast = nullptr;
  QLabel* DensthlabelPlate = nullptr;
  QLineEdit* PlateDensEdit = nullptr;
  QLineEdit* SizeLimit = nullptr;
  QLabel* LineLengthPlateLabel = nullptr;
  QLineEdit* FLineLenEdit = nullptr;
  QWidget* PlateStatTab = nullptr;
  QToolButton* NewPStatbtn = nullptr;
  QToolButton* StatPPlusbtn = nullptr;
  QToolButton* StatPDelbtn = nullptr;
  QToolButton* StatPSavebtn = nullptr;
  QToolButton* StatPPDFbtn = nullptr;
  TImage* StatPlateImg = nullptr;
  QTableWidget* PlateGrid = nullptr;

  // structure page
  QToolButton* StructureStreifen = nullptr;
  QToolButton* AnalyzeStructurebtn = nullptr;
  QToolButton* StructAutoLine = nullptr;
  QToolButton* Diffbtn = nullptr;
  TImage* SharpResImgStr = nullptr;
  QLabel* SharpResLabelStr = nullptr;
  QWidget* PlateStructPanel = nullptr;
  QLabel* DotCapStruct = nullptr;
  QLabel* SDotAreaRes = nullptr;
  QWidget* PlateStructAreaPanel = nullptr;
  QLabel* DotAreaCapStruct = nullptr;
  QLabel* SStructAreaREs = nullptr;
  QWidget* StructLCMPanel = nullptr;
  QLabel* SLCMResult = nullptr;
  QLabel* StructLCMLabel = nullptr;
  QLabel* AlphaCapStruct = nullptr;
  QLabel* SAlphaRes = nullptr;
  QWidget* PlateLineStructPanel = nullptr;
  QLabel* PlateLineStructLabel = nullptr;
  QLabel* PLineStructRes = nullptr;
  QLabel* StructureCycleLabel = nullptr;
  QLabel* PeriodePlate = nullptr;
  QLabel* StructureFreqLabel = nullptr;
  QLabel* FreqPlate = nullptr;
  QTabWidget* StructurePageControl = nullptr;
  QWidget* StructValuesPage = nullptr;
  QLabel* CountCapStruct = nullptr;
  QLabel* DotDiameterCapStruct = nullptr;
  QLabel* DotSizeCapStruct = nullptr;
  QLabel* AvgCapStruct = nullptr;
  QLabel* StructmmG = nullptr;
  QLabel* StructmmK = nullptr;
  QLabel* SCountValue = nullptr;
  QLabel* SCountValueG = nullptr;
  QLabel* SCountValueK = nullptr;
  QLabel* SDotDiameterValue = nullptr;
  QLabel* SDotDiameterValueG = nullptr;
  QLabel* SDotDiameterValueK = nullptr;
  QLabel* SDotSizeValue = nullptr;
  QLabel* SDotSizeValueG = nullptr;
  QLabel* SDotSizeValueK = nullptr;
  QLabel* SStdDevRes = nullptr;
  QLabel* SDotSizeStdDev = nullptr;
  QWidget* StructParPage = nullptr;
  QLabel* DotTolCap = nullptr;
  QLineEdit* TolEditPlate = nullptr;
  QRadioButton* DiameterRBPlate = nullptr;
  QRadioButton* SizeRBPlate = nullptr;
  QRadioButton* AreaRBPlate = nullptr;
  QLabel* PixelPatternPlateLabel = nullptr;
  QLineEdit* WSILcmPlate = nullptr;
  QLabel* LineLengthLabel = nullptr;
  QLineEdit* LineLenEditPlate = nullptr;
  QLineEdit* GammaEdit = nullptr;
  QPushButton* Gammabtn = nullptr;
  QWidget* StructHistPage = nullptr;
  QLabel* StructResLabel = nullptr;
  TImage* StripImage = nullptr;
  TImage* PlateStructHist = nullptr;
  QLabel* AvgStructRes = nullptr;
  QWidget* StructFFTPage = nullptr;
  QSlider* FFTAmplitude = nullptr;
  TImage* MottleImage = nullptr;
  QLabel* FFTStdDevLabel = nullptr;
  QWidget* StructStatTab = nullptr;
  QToolButton* NewSStatbtn = nullptr;
  QToolButton* StatSPlusbtn = nullptr;
  QToolButton* StatSDelbtn = nullptr;
  QToolButton* StatSSavebtn = nullptr;
  QToolButton* StatSPDFbtn = nullptr;
  TImage* StatStructImg = nullptr;
  QTableWidget* StructGrid = nullptr;
  QWidget* Reference = nullptr;
  TImage* StructRefImg = nullptr;
  QPushButton* OpenStructureREfbtn = nullptr;
  QPushButton* SaveRefImg = nullptr;

  // film page
  QToolButton* AnalyzeFilmbtn = nullptr;
  QToolButton* AnalyseKFilmbtn = nullptr;
  QToolButton* KFilmClusterbtn = nullptr;
  QToolButton* FilmAlternative = nullptr;
  QToolButton* ManFilmbtn = nullptr;
  QToolButton* FilmLinebtn = nullptr;
  QToolButton* FixFScreenbtn = nullptr;
  TImage* SharpResImgF = nullptr;
  QLabel* SharpResLabelF = nullptr;
  QWidget* FilmDotAreaPanel = nullptr;
  QLabel* DotAreaCapFilm = nullptr;
  QLabel* FilmDotAreaRes = nullptr;
  QLabel* LCMLabelFilm = nullptr;
  QLabel* FilmLCMResult = nullptr;
  QLabel* AlphaCapFilm = nullptr;
  QLabel* FilmAlphaREs = nullptr;
  QLabel* FilmEdgeFaktorTitle = nullptr;
  QLabel* FilmEdgeFaktorRes = nullptr;
  QWidget* FilmDotDetailsPanel = nullptr;
  QLabel* DotDiameterCapFilm = nullptr;
  QLabel* FilmDotDiameterRes = nullptr;
  QLabel* DDFilmUnit = nullptr;
  QWidget* FilmLineWidthPanel = nullptr;
  QLabel* FLineWidthLabel = nullptr;
  QLabel* FilmLineWidthRes = nullptr;
  QLabel* FilmLWMicronsLabel = nullptr;
  QTabWidget* FilmParameterPages = nullptr;
  QWidget* FilmParameter = nullptr;
  QLabel* LineLengthFilmLabel = nullptr;
  QLineEdit* FilmLineLenEdit = nullptr;
  QLabel* MaxMicroDot = nullptr;
  QLabel* MicroDotContrast = nullptr;

  // camera page
  QSlider* ITBar = nullptr;
  QSlider* GainBar = nullptr;
  QSpinBox* NumImgs = nullptr;
  QLabel* ITLabel = nullptr;
  QLabel* Gainlabel = nullptr;
  QPushButton* Zerobtn = nullptr;
  TImage* HistImg = nullptr;
  QLabel* PercLabel = nullptr;
  QLabel* Label12 = nullptr;
  QLabel* Label13 = nullptr;
  QPushButton* GrayImg = nullptr;
  QPushButton* FullImg = nullptr;
  QPushButton* BINImgbtn = nullptr;
  QPushButton* HRBinImgbtn = nullptr;
  QPushButton* Gridbtn = nullptr;
  QPushButton* WGridbtn = nullptr;
  QLineEdit* BinHREdit = nullptr;
  QPlainTextEdit* Memo1 = nullptr;

  // calibration page
  QPushButton* CalTargetbtn = nullptr;
  QPushButton* Calibbtn = nullptr;
  QPushButton* CreateINI = nullptr;
  QPushButton* CALPDFbtn = nullptr;
  QPushButton* Cancelbtn = nullptr;
  QLabel* Sharplabel = nullptr;
  QLabel* PPIValLabel = nullptr;
  QLabel* CalLCMREs = nullptr;
  QLabel* CalDotArea = nullptr;
  QLineEdit* ScreenEdit = nullptr;
  QLineEdit* CalDotAreaEdit = nullptr;
  QLineEdit* SerialEdit = nullptr;
  QWidget* BrandPanel = nullptr;
  QLabel* BRLabel = nullptr;
  QGroupBox* BrandGrp = nullptr;
  std::array<QRadioButton*, 4> BrandItems{};

  TStatusBar* StatusBar1 = nullptr;

  // non-visual
  std::vector<QImage> LogoImgs;   // four brand logos, 200 x 78
  std::vector<QImage> MessIcons;  // one 64 x 64 picture per measurement type
  platform::ui::FileDialogOptions LoadBMPDlg;
  platform::ui::FileDialogOptions SaveBMPDlg;
  platform::ui::FileDialogOptions dBOpenDlg;
  platform::ui::FileDialogOptions DBSaveDlg;
  platform::ui::FileDialogOptions SaveStatDlg;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateControls();
  void CreateMenu();
  void CreateTopPanel(QWidget* parent);
  void CreateMaskPage();
  void CreatePlatePage();
  void CreateStructurePage();
  void CreateFilmPage();
  void CreateCameraPage();
  void CreateCalibrationPage();
  void CreateNonVisual();
  void LoadPictureLists();
  void OpenArchive();
  void RequestActivation();
  void ConnectDisplayControls();
  void ConnectCaptureControls();
  // Empties the result before a preview or a capture: no type, every result label its
  // placeholder with the result panels hidden, an empty record.
  void ClearResultDisplay();
  // The analysis page shown: 0 LAMS, 1 plate, 2 structure, 3 film, 4 calibration, 5 any other
  // (the camera page), as the display-range table and the capture finish count them.
  int ActivePageIndex() const;
  void SharpnessLabel(QLabel* label);
  void ShowTestView(const platform::Bitmap& bmp);
  // Loads a zero reference file into bgimg; false (bgimg unchanged) when it is missing or is
  // not a readable image of the image size.
  bool LoadZeroFile(const std::string& name);
  // An image file of the image size, or an error naming the file and its size.
  platform::Bitmap LoadImageOfImageSize(const std::string& path, bool bmp_file);
  void LoadImageFile(const std::string& path);
  void SaveImageFile(const std::string& path);

  void ConnectMeasurementControls();
  void ConnectStatisticControls();
  void ConnectMenuCommands();
  // The statistics side of the add, delete and report buttons of one page.
  void StatPlus(QToolButton* plus, int first_type, int last_type);
  void StatDelete(void (THRMainFrm::*clear_own_grid)());
  void StatNew(void (THRMainFrm::*clear_own_grid)());
  void StatisticReport(int kind, QToolButton* plus);
  // Shows the report parameter dialog with SHOWPDF in its box; the dialog's result.
  platform::ui::ModalResult AskReportParameters();
  // The registered report builder and archive rows; an error naming what is missing when none
  // is registered.
  ReportAccess& Reports() const;
  archive::ReportArchive& Rows() const;
  void ConnectManualControls();
  // The shown population again, with the presentation of the open page.
  void ShowPageAlternative();
  // One of the three fixed-screen commands on its period field, button, labels and display.
  void FixScreen(double& period, QToolButton* button, QLabel* ruling, QLabel* unit);
  // Runs the handler through Guarded whenever the sender sends the signal.
  template <typename Sender, typename Signal>
  void OnEvent(Sender* sender, Signal signal, void (THRMainFrm::*handler)()) {
    connect(sender, signal, this, [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
  }
  // The film conversion of the film commands: the film page's display curve, the threshold
  // (returned), sharpening, and rbmp a copy of dbmp.
  int32_t FilmConversion();
  // The plate page's display curve, sharpening and threshold of the plate commands.
  void PlateConversion();

  MainWindowLinks links_;
  std::unique_ptr<MainDriverHost> host_;
  bool first_show_ = true;
  bool activation_pending_ = false;
  bool in_activate_ = false;
  bool left_for_modal_ = false;
};

// The main window of the running program (set by the program block).
extern THRMainFrm* HRMainFrm;

}  // namespace app

// The main window's texts from the language file. Each block runs only when its section is
// in the file; a missing section leaves its controls with the texts they had.
#include <QAction>
#include <QLabel>

#include "app/hr_main.h"
#include "app/language.h"

namespace app {
namespace {

enum class What { Caption, Hint };

struct Entry {
  int offset;
  What what;
  std::vector<const char*> controls;
  const char* prefix = "";
  const char* suffix = "";
};

// Texts of section MAINMENU (captions unless marked).
const std::vector<Entry>& MainMenuEntries() {
  static const std::vector<Entry> entries = {
      {1, What::Caption, {"File1"}},
      {2, What::Caption, {"LoadImage1"}},
      {3, What::Caption, {"SaveImage1"}},
      {4, What::Caption, {"Settings1"}},
      {5, What::Caption, {"Close1"}},
      {6, What::Caption, {"Device1"}},
      {7, What::Caption, {"Video1"}},
      {8, What::Caption, {"Connect1"}},
      {9, What::Caption, {"Help1", "Help2"}},
      {10, What::Caption, {"About1"}},
      {11, What::Caption, {"Tools1"}},
      {12, What::Caption, {"Preview1"}},
      {13, What::Caption, {"Capture1"}},
      {14, What::Caption, {"Analyze1"}},
      {15, What::Caption, {"Alternative1"}},
      {15, What::Hint, {"Alternativebtn", "FilmAlternative"}},
      {16, What::Caption, {"LAMS"}},
      {17, What::Caption, {"Plate"}},
      {18, What::Caption, {"STRUCTURE", "DotCapStruct"}},
      {19, What::Caption, {"MaskValues"}},
      {21, What::Caption, {"MaskParameter"}},
      {23, What::Caption, {"OpenDatabase1"}},
      {24, What::Caption, {"MaskStatTab", "PlateStatTab", "StructStatTab"}},
      {25, What::Caption, {"CreateDatabase1"}},
      {26, What::Caption, {"FILM"}},
      {29, What::Hint, {"DisplayBrBar"}},
      {30, What::Hint, {"CrystalImg", "BRBar"}},
  };
  return entries;
}

const std::vector<Entry>& MeasResultEntries() {
  static const std::vector<Entry> entries = {
      {1, What::Caption, {"DotAreaCapMask", "DotAreaCapPlate", "DotAreaCapFilm", "AreaRB", "AreaRBPlate"}},
      {3,
       What::Caption,
       {"DotDiameterCapMask", "DotDiameterCapPlate", "DotDiameterCapFilm", "DotDiameterCapStruct", "DiameterRB",
        "DiameterRBPlate"}},
      {4, What::Caption, {"DotSizeCapMask", "DotSizeCapStruct", "SizeRB", "SizeRBPlate"}},
      {6, What::Caption, {"EdgefaktorTitle", "FilmEdgeFaktorTitle", "EdgeFactorCapPlate"}},
      {7, What::Caption, {"LineWidthLabel", "PlateLineWidthLabel", "FLineWidthLabel"}},
      {8, What::Caption, {"AlphaCapMask", "AlphaCapPlate", "AlphaCapFilm", "AlphaCapStruct"}},
      {9, What::Caption, {"DotTolCapMask", "DotTolCap", "DotTolCapPlate"}},
      {10, What::Caption, {"AvgCapMask", "AvgCapStruct"}},
      {13, What::Caption, {"StdDevCapMask", "StdDevCapPlate"}},
      {14, What::Caption, {"DotAreammG", "StructmmG"}, "> + "},
      {14, What::Caption, {"DotAreammK", "StructmmK"}, "< - "},
      {15, What::Caption, {"CountCapMask", "CountCapStruct"}},
      {16, What::Caption, {"Densthlabel", "DensthlabelPlate"}},
      {17,
       What::Caption,
       {"LineLengthMaskLabel", "LineLengthPlateLabel", "LineLengthLabel", "LineLengthFilmLabel"}},
      {19, What::Caption, {"PlateLineStructLabel"}},
      {21, What::Caption, {"FreqTitleLabel", "StructureFreqLabel"}},
      {22, What::Caption, {"CycleLabel", "StructureCycleLabel"}},
      {25, What::Caption, {"DotAreaCapStruct"}},
      {37, What::Caption, {"MaxMicroDot"}},
      {38, What::Caption, {"MicroDotContrast"}},
      {39, What::Caption, {"Gammabtn"}},
  };
  return entries;
}

const std::vector<Entry>& MainPanelEntries() {
  static const std::vector<Entry> entries = {
      {1, What::Hint, {"Refreshbtn"}},
      {2, What::Hint, {"Capturebtn"}},
      {3, What::Hint, {"ZeroTRBtn"}},
      {4, What::Hint, {"Zoombtn"}},
      {4, What::Hint, {"UnZoombtn"}, "", " 1:1"},
      {5, What::Hint, {"Densitybtn"}},
      {6, What::Hint, {"Savebtn"}},
      {7, What::Hint, {"Loadbtn"}},
      {9, What::Hint, {"Reportbtn"}},
      {10, What::Hint, {"OpenDBbtn"}},
  };
  return entries;
}

const std::vector<Entry>& HintEntries() {
  static const std::vector<Entry> entries = {
      {2, What::Hint, {"NewStatbtn", "NewPStatbtn", "NewSStatbtn"}},
      {3, What::Hint, {"StatPlusbtn", "StatPPlusbtn", "StatSPlusbtn"}},
      {4, What::Hint, {"StatDelBtn", "StatPDelbtn", "StatSDelbtn"}},
      {5, What::Hint, {"StatPDFbtn", "StatPPDFbtn", "StatSPDFbtn"}},
      {6, What::Hint, {"StatSavebtn", "StatPSavebtn", "StatSSavebtn"}},
      {7, What::Hint, {"FixScreenbtn", "FixFScreenbtn", "BRShape"}},
      {10, What::Hint, {"ChgBRBar", "DisplayBrBar"}},
      {11, What::Hint, {"ChgGammabar", "DisplayGammaBar"}},
  };
  return entries;
}

// The analysis commands' hints: MAINMENU + 14, a blank, and a second text.
struct CommandHint {
  std::vector<const char*> controls;
  const char* section;
  int offset;
};

const std::vector<CommandHint>& CommandHints() {
  static const std::vector<CommandHint> hints = {
      {{"AnalyzeMaskbtn", "AnalyzePlateBtn", "AnalyzeFilmbtn"}, "MEASRESULT", 1},
      {{"AnalyzeMaskStruct"}, "MEASRESULT", 23},
      {{"ManMaskbtn", "ManPlatebtn", "ManFilmbtn"}, "MAINMENU", 22},
      {{"AutoLine", "StructAutoLine"}, "MEASRESULT", 19},
      {{"LineBtn", "FLinebtn", "FilmLinebtn"}, "MEASRESULT", 7},
      {{"LocalDensbtn"}, "MEASRESULT", 18},
      {{"DotAnalyze2TH"}, "MEASRESULT", 24},
      {{"StructureStreifen"}, "MAINMENU", 18},
      {{"AnalyzeStructurebtn", "BurlDotbtn"}, "MEASRESULT", 34},
      {{"AnalyseKFilmbtn"}, "MEASRESULT", 35},
      {{"KFilmClusterbtn"}, "MEASRESULT", 32},
      {{"DotNXPixel"}, "MEASRESULT", 33},
  };
  return hints;
}

}  // namespace

void THRMainFrm::SetLanguage() {
  auto find = [this](const char* name) -> QObject* {
    if (QObject* o = findChild<QObject*>(name)) return o;
    return nullptr;
  };
  auto apply = [&](int section, const std::vector<Entry>& entries) {
    for (const Entry& e : entries) {
      const QString text = QString::fromUtf8(e.prefix) + Q(GetLanguageString(section + e.offset)) +
                           QString::fromUtf8(e.suffix);
      for (const char* name : e.controls) {
        QObject* control = find(name);
        if (!control) continue;
        if (e.what == What::Caption) {
          SetCaption(control, text);
        } else {
          SetHint(control, text);
        }
      }
    }
  };
  const int mainmenu = IndexOf("MAINMENU");
  const int measresult = IndexOf("MEASRESULT");
  const int mainpanel = IndexOf("MAINPANEL");
  const int hint = IndexOf("HINT");
  if (mainmenu >= 0) apply(mainmenu, MainMenuEntries());
  if (measresult >= 0) apply(measresult, MeasResultEntries());
  if (mainpanel >= 0) apply(mainpanel, MainPanelEntries());
  if (mainpanel >= 0 && mainmenu >= 0) {
    // The second text is looked up whether or not its section is there: an absent section
    // gives line offset - 1 of the file, as the lookups always did.
    const std::string first = GetLanguageString(mainmenu + 14);
    for (const CommandHint& h : CommandHints()) {
      const QString text = Q(first + " " + GetLanguageString(IndexOf(h.section) + h.offset));
      for (const char* name : h.controls) SetHint(find(name), text);
    }
  }
  if (hint >= 0) apply(hint, HintEntries());
}

}  // namespace app

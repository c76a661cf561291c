// The settings command of the main window: the settings window is filled from the active ini
// and the analysis module, shown modally, and every value is taken back and written however
// the window was closed.
#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "analysis/analyze.h"
#include "analysis/mymath.h"
#include "app/hr_main.h"
#include "app/settings.h"
#include "platform/base/number_format.h"
#include "platform/base/number_parse.h"

namespace app {

void THRMainFrm::Settings1Click() {
  TFrmSettings* s = links_.FrmSettings;
  if (!s) throw std::logic_error("the settings window is not linked to the main window");
  analysis::AnalyzeState& a = analysis::Analysis();
  const ini::IniFile ini = Ini();

  // ---- fill ----
  s->Screenrulinggrp->SetItemIndex(a.SUnits);
  s->ScreenrulinggrpClick();
  // Decimals outside what the program offers would make every result text unreadable.
  a.Digits = std::clamp(ini.ReadInt(ini::DIGITS), 1, 3);
  // Two items: three decimals select none.
  s->Digitsgrp->SetItemIndex(a.Digits - 1);
  a.Gravurewidth = ini.ReadInt(ini::MULTIBEAM);
  s->GravurewidthEdit->setText(QString::number(a.Gravurewidth));
  a.ShowSharp = ini.ReadInt(ini::SHOWSHARP) == 1;
  s->Sharpbx->setChecked(a.ShowSharp);
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 2; ++j) {
      int32_t& step = a.Imgseq[static_cast<size_t>(i)][static_cast<size_t>(j)];
      step = ini.ReadInt(ini::kImgSeq, ini::ImgSeqKey(i, j), ini::ImgSeqDefault(j));
      s->ImgSeqGrid->item(i + 1, j + 1)->setText(QString::number(step));
    }
  }
  a.WaitImg = ini.ReadInt(ini::WAITIMG);
  s->ImgWait->setValue(a.WaitImg);
  analysis::CheckImgSeq();

  // ---- the window; its modal result does not matter ----
  platform::ui::Services().ShowModal(*s);

  // ---- take back and write ----
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 2; ++j) {
      int32_t& step = a.Imgseq[static_cast<size_t>(i)][static_cast<size_t>(j)];
      // A cell that is no number keeps its step, so that the keys after it are still written.
      step = platform::StrToIntDef(S(s->ImgSeqGrid->item(i + 1, j + 1)->text()), step);
    }
  }
  analysis::CheckImgSeq();
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 2; ++j) {
      WriteIni(ini::kImgSeq, ini::ImgSeqKey(i, j),
               platform::IntToStr(a.Imgseq[static_cast<size_t>(i)][static_cast<size_t>(j)]));
    }
  }
  a.WaitImg = s->ImgWait->value();
  WriteIni(ini::kImgSeq, ini::WAITIMG.key, platform::IntToStr(a.WaitImg));
  // With no item selected (three decimals) the setting stays as it was.
  if (s->Digitsgrp->ItemIndex() >= 0) a.Digits = s->Digitsgrp->ItemIndex() + 1;
  WriteIni(ini::kMain, ini::DIGITS.key, a.Digits == 1 ? "1" : a.Digits == 2 ? "2" : "3");
  a.Gravurewidth = static_cast<int32_t>(std::nearbyint(analysis::GetVal(S(s->GravurewidthEdit->text()))));
  WriteIni(ini::kMain, ini::MULTIBEAM.key, platform::IntToStr(a.Gravurewidth));
  s->GravurewidthEdit->setText(QString::number(a.Gravurewidth));
  WriteIni(ini::kMain, ini::SHOWSHARP.key, s->Sharpbx->isChecked() ? "1" : "0");
  a.ShowSharp = s->Sharpbx->isChecked();

  switch (s->Screenrulinggrp->ItemIndex()) {
    case 1: a.SUnits = 1; break;
    case 2: a.SUnits = 2; break;
    default: a.SUnits = 0; break;
  }
  WriteIni(ini::kMain, ini::UNITS_mm.key, platform::IntToStr(a.SUnits));
  ApplyUnits();

  WriteIni(ini::kMain, ini::TCPIP.key, s->TCPIPActivate->isChecked() ? "1" : "0");

  WriteIni(ini::kMain, ini::Language.key, st.Sprache);
  SetLanguage();

  // The result shown is written again in the new units, keeping its type.
  if (analysis::TSortedDotList* pop = a.ActAlternative) {
    const analysis::TMessung& mess = HRMain().MyMess;
    if (IsActivePage(LAMS)) {
      const int32_t mode = DiameterRB->isChecked() ? 0 : SizeRB->isChecked() ? 1 : 2;
      ShowMaskAlternative(pop, mode, false);
      st.MESSTYPE = mess.aType;
    } else if (IsActivePage(Plate)) {
      ShowAlternative(pop, mess.aType == analysis::MT_PLATESDOT);
      st.MESSTYPE = mess.aType;
    }
  }
}

}  // namespace app

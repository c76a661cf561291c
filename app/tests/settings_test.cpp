#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTableWidget>
#include <filesystem>

#include "analysis/analyze.h"
#include "app/settings.h"
#include "app/tests/app_test_support.h"
#include "app/tests/main_window_fixture.h"
#include "archive/report_context.h"
#include "platform/image/bmp_codec.h"
#include "platform/image/png_codec.h"

namespace app {
namespace {

TEST(Wildcards, LikeMatchesTheWholeText) {
  struct Case {
    const char* text;
    const char* pattern;
    bool match;
  };
  const Case cases[] = {
      {"english.txt", "*.txt", true},
      {"a", "?", true},
      {"", "?", false},
      {"", "*", true},
      {"", "", true},
      {"abc", "", false},
      {"English.txt", "*.TXT", false},  // case-sensitive
      {"31806_quirvel.ini", "*_quirvel.ini", true},
      {"x_quirvel.ini.bak", "*_quirvel.ini", false},
      {"abxbyd", "a*b?d", true},         // the star takes "bxb" after a first try with "b"
      {"abcbd", "a*b?d", false},
      {"aXbYbZd", "a*b?d", true},
      {"ab", "a*b*", true},
      {"µm.txt", "??.txt", true},        // one letter, two bytes
  };
  for (const Case& c : cases) EXPECT_EQ(Like(c.text, c.pattern), c.match) << c.text << " ~ " << c.pattern;
}

TEST(FileSearch, ProfilesInAnyCaseSortedWithoutExtension) {
  test::TempDir home;
  for (const char* f : {"31806_QUIRVEL.INI", "00417_quirvel.ini", "QUIRVEL.INI", "HUIRVEL.INI", "x_QUIRVEL.INI.bak"}) {
    test::WriteText(home / f, "");
  }
  std::filesystem::create_directories(home / "CALReports");
  test::WriteText(home / "CALReports/00007_QUIRVEL.INI", "");
  std::filesystem::create_directories(home / "dir_QUIRVEL.INI");
  std::vector<std::string> names;
  FindAllFiles(names, home.Path(), "*_QUIRVEL.INI", false, false, false, false, true);
  EXPECT_EQ(names, (std::vector<std::string>{"00417_quirvel", "31806_QUIRVEL"}));
}

TEST(FileSearch, RecursionFoldersAndSkippedNames) {
  test::TempDir root;
  test::WriteText(root / "Deutsch.TXT", "");
  test::WriteText(root / "English.txt", "");
  test::WriteText(root / "sub/Nested.txt", "");
  test::WriteText(root / "STATISTICS/Hidden.txt", "");
  std::vector<std::string> names;
  FindAllFiles(names, root.Path(), "*.TXT", false, false, false, false, true);
  EXPECT_EQ(names, (std::vector<std::string>{"Deutsch", "English"}));

  names.clear();
  std::vector<bool> folders;
  FindAllFiles(names, root.Path() + "/", "*.txt", true, true, true, true, false, &folders);
  EXPECT_EQ(names, (std::vector<std::string>{root / "Deutsch.TXT", root / "English.txt", root / "sub",
                                             root / "sub/Nested.txt"}));
  EXPECT_EQ(folders, (std::vector<bool>{false, false, true, false}));
}

// ---- the window ----

class SettingsWindowTest : public test::MainWindowTest {
 protected:
  SettingsWindowTest() {
    Create();
    Activate();
  }
  // The settings command with the window answered by `script`.
  void SettingsCommand(std::function<platform::ui::ModalResult(TFrmSettings&)> script) {
    ui.QueueModal([&](platform::ui::ModalWindow& w) { return script(dynamic_cast<TFrmSettings&>(w)); });
    frm->Guarded([&] { frm->Settings1Click(); });
  }
  static uint32_t Pixel(const platform::Bitmap& b, int x, int y) {
    const uint8_t* p = b.ScanLine(y) + 3 * x;
    return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
  }
};

TEST_F(SettingsWindowTest, LogoKeepsTheReportProportionsAndUnknownExtensionsAreIgnored) {
  struct Case {
    const char* file;
    int w, h;
    int box_w, box_h, x;  // box_w 0: ignored
  };
  const Case cases[] = {
      {"wide.bmp", 400, 100, 400, 156, 0},
      {"square.png", 100, 100, 256, 100, 155},
      {"photo.jpeg", 100, 100, 0, 0, 0},
  };
  const std::string logo = home / "PRLOGO.bmp";
  for (const Case& c : cases) {
    std::filesystem::remove(logo);
    platform::Bitmap picture(c.w, c.h);
    for (int y = 0; y < c.h; ++y) {
      uint8_t* row = picture.ScanLine(y);
      for (int x = 0; x < c.w; ++x) row[3 * x] = 0, row[3 * x + 1] = 0, row[3 * x + 2] = 200;  // red
    }
    const std::string path = home / c.file;
    if (std::string(c.file).ends_with(".png")) {
      platform::SavePng(picture, path);
    } else {
      platform::SaveBmp(picture, path);
    }
    ui.QueueOpenFile(path);
    settings.OpenLogobtn->click();
    if (c.box_w == 0) {
      EXPECT_FALSE(std::filesystem::exists(logo)) << c.file;
      continue;
    }
    // The size as the file's own header gives it.
    const std::string bytes = test::ReadText(logo);
    ASSERT_GE(bytes.size(), 26u) << c.file;
    auto le32 = [&](size_t at) {
      return int(uint8_t(bytes[at]) | uint8_t(bytes[at + 1]) << 8 | uint8_t(bytes[at + 2]) << 16 |
                 uint8_t(bytes[at + 3]) << 24);
    };
    EXPECT_EQ(le32(18), c.box_w) << c.file;
    EXPECT_EQ(le32(22), c.box_h) << c.file;
    const platform::Bitmap saved = platform::LoadBmp(logo);
    EXPECT_EQ(*settings.LogoBmp, saved);
    constexpr uint32_t kRed = 0x0000C8, kWhite = 0xFFFFFF;
    const int y = c.h - 1;
    if (c.x > 0) EXPECT_EQ(Pixel(saved, c.x - 1, y), kWhite) << c.file;
    EXPECT_EQ(Pixel(saved, c.x, y), kRed) << c.file;
    EXPECT_EQ(Pixel(saved, c.x + c.w - 1, y), kRed) << c.file;
    if (c.x + c.w < c.box_w) EXPECT_EQ(Pixel(saved, c.x + c.w, y), kWhite) << c.file;
    if (c.h < c.box_h) EXPECT_EQ(Pixel(saved, 0, c.h), kWhite) << c.file;
  }
  EXPECT_EQ(ui.OpenDialogs().back().filter.substr(0, 39), "All (*.png;*.jpg;*.bmp)|*.png;*.jpg;*.b");
}

TEST_F(SettingsWindowTest, LanguagesListedAndChosenAndTheReportTextReadAndWritten) {
  std::filesystem::copy_file(home / "LANGUAGE/English.txt", home / "LANGUAGE/Deutsch.TXT");
  // Without a byte-order mark the text is Windows-1252.
  test::WriteText(home / "PRLOGO.txt", "Gr\xFC\xDF" "e\r\nLab 2\r\n");
  settings.FormActivate();
  std::vector<std::string> names;
  for (int i = 0; i < settings.LangFiles->count(); ++i) names.push_back(S(settings.LangFiles->item(i)->text()));
  EXPECT_EQ(names, (std::vector<std::string>{"Deutsch", "English", "German"}));
  ASSERT_NE(settings.LangFiles->currentItem(), nullptr);
  EXPECT_EQ(S(settings.LangFiles->currentItem()->text()), "English");
  EXPECT_EQ(S(settings.windowTitle()), "Settings");
  EXPECT_EQ(S(settings.Memo1->toPlainText()), "Gr\u00FC\u00DFe\nLab 2");

  settings.LangFiles->setCurrentRow(0);
  EXPECT_EQ(frm->st.Sprache, "Deutsch");

  // OK writes UTF-8 with its mark and CR LF, which the report builder reads back alike.
  settings.Memo1->setPlainText(QString::fromUtf8("\u00B5m \u00B0\nzwei"));
  settings.OKbtn->click();
  EXPECT_EQ(test::ReadText(home / "PRLOGO.txt"), "\xEF\xBB\xBF\xC2\xB5m \xC2\xB0\r\nzwei\r\n");
  EXPECT_EQ(archive::ReadReportText(home / "PRLOGO.txt"), (std::vector<std::string>{"\u00B5m \u00B0", "zwei"}));
}

TEST_F(SettingsWindowTest, ImageSequencePanelOpensOnlyForTheExactPassword) {
  EXPECT_TRUE(settings.ImgPanel->isHidden());
  ui.QueueInput("korw5td");
  settings.ShowImgSeqbtnDblClick();
  EXPECT_TRUE(settings.ImgPanel->isHidden());
  ui.QueueInput(std::nullopt);
  settings.ShowImgSeqbtnDblClick();
  EXPECT_TRUE(settings.ImgPanel->isHidden());
  ui.QueueInput("KORW5TD");
  settings.ShowImgSeqbtnDblClick();
  EXPECT_FALSE(settings.ImgPanel->isHidden());
  const auto inputs = ui.Inputs();
  ASSERT_EQ(inputs.size(), 3u);
  EXPECT_EQ(inputs[0].caption, "QUIRVEL Image Sequence configuration");
  EXPECT_EQ(inputs[0].prompt, "Enter System Password");
  EXPECT_TRUE(inputs[0].password);
  // Open: a double click closes it without asking.
  settings.ShowImgSeqbtnDblClick();
  EXPECT_TRUE(settings.ImgPanel->isHidden());
  EXPECT_EQ(ui.Inputs().size(), 3u);

  // The two service switches write at once.
  settings.ShowStructPage->click();
  EXPECT_EQ(IniValue("QUIRVEL", "SHOWSTRUCTPAR"), "47096");
  EXPECT_TRUE(PageVisible(frm->StructParPage));
  settings.EnableBRGamaSharpbx->click();
  EXPECT_EQ(IniValue("QUIRVEL", "ENABLEBRGAMASHARP"), "47096");
  EXPECT_FALSE(frm->SharpSpinEdit->isEnabled());
  settings.EnableBRGamaSharpbx->click();
  EXPECT_EQ(IniValue("QUIRVEL", "ENABLEBRGAMASHARP"), "0");
  EXPECT_TRUE(frm->SharpSpinEdit->isEnabled());
}

TEST_F(SettingsWindowTest, TheCloseBoxStillWritesEveryKey) {
  std::vector<std::string> shown;
  SettingsCommand([&](TFrmSettings& s) {
    // An empty sequence section shows the defaults.
    for (int r = 1; r <= 4; ++r) shown.push_back(S(s.ImgSeqGrid->item(r, 1)->text()) + "-" + S(s.ImgSeqGrid->item(r, 2)->text()));
    for (int r = 1; r <= 4; ++r) {
      s.ImgSeqGrid->item(r, 1)->setText(QString::number(r));
      s.ImgSeqGrid->item(r, 2)->setText(QString::number(r + 10));
    }
    s.ImgWait->setValue(4);
    s.Digitsgrp->SetItemIndex(0);
    s.GravurewidthEdit->setText("250.6");
    s.Sharpbx->setChecked(true);
    s.Screenrulinggrp->Item(2)->click();  // as the operator does: the digit texts follow
    s.TCPIPActivate->setChecked(true);
    return platform::ui::ModalResult::Cancel;  // the close box
  });
  EXPECT_EQ(shown, (std::vector<std::string>(4, "1-18")));
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(IniValue("IMGSEQ", ini::ImgSeqKey(i, 0)), std::to_string(i + 1));
    EXPECT_EQ(IniValue("IMGSEQ", ini::ImgSeqKey(i, 1)), std::to_string(i + 11));
  }
  EXPECT_EQ(IniValue("IMGSEQ", "WAITIMG"), "4");
  EXPECT_EQ(IniValue("QUIRVEL", "DIGITS"), "1");
  EXPECT_EQ(IniValue("QUIRVEL", "MULTIBEAM"), "251");
  EXPECT_EQ(S(settings.GravurewidthEdit->text()), "251");
  EXPECT_EQ(IniValue("QUIRVEL", "SHOWSHARP"), "1");
  EXPECT_EQ(IniValue("QUIRVEL", "UNITS_mm"), "2");
  EXPECT_EQ(IniValue("QUIRVEL", "TCPIP"), "1");
  EXPECT_EQ(IniValue("QUIRVEL", "Language"), "English");
  const analysis::AnalyzeState& a = analysis::Analysis();
  EXPECT_EQ(a.Digits, 1);
  EXPECT_EQ(a.SUnits, 2);
  EXPECT_EQ(a.WaitImg, 4);
  EXPECT_TRUE(a.ShowSharp);
  EXPECT_EQ(S(settings.Digitsgrp->Item(0)->text()), "0.0 \u00B5m / 0.0% / 0.0 LPI");
}

TEST_F(SettingsWindowTest, ThreeDigitsSurviveAWindowThatSelectsNone) {
  SetIni("QUIRVEL", "DIGITS", "3");
  int selected = 0;
  SettingsCommand([&](TFrmSettings& s) {
    selected = s.Digitsgrp->ItemIndex();
    return platform::ui::ModalResult::Ok;
  });
  EXPECT_EQ(selected, -1);
  EXPECT_EQ(analysis::Analysis().Digits, 3);
  EXPECT_EQ(IniValue("QUIRVEL", "DIGITS"), "3");
}

}  // namespace
}  // namespace app

// The settings window's result server page as an operator sees it: the program runs on a
// virtual X display, the server is switched on with its box, a client on loopback registers
// and fetches the measurement line, and the page is saved as a picture.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QTimeEdit>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <atomic>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "app/hr_main.h"
#include "app/program.h"
#include "app/qt_ui.h"
#include "app/settings.h"
#include "app/tests/screenshot_support.h"
#include "platform/net/tcp_server.h"
#include "platform/net/tests/loopback_client.h"

namespace app {
namespace {

using test::Settle;
using test::SettleUntil;
using test::Shot;

// The program on the virtual display after its first activation, the settings window shown
// beside the main window; `body` works on it and saves the picture `out`, which must exist after.
void OnTheSettingsWindow(const char* home, const char* picture,
                         const std::function<void(Program&, const std::string& out)>& body) {
  test::ScreenshotDisplay display(home);
  ASSERT_TRUE(display.Started()) << "Xvfb did not start (scripts/setup installs it)";
  const std::string out_dir = QUIRVEL_TEST_OUTPUT;
  std::filesystem::create_directories(out_dir);
  const std::string out = out_dir + "/" + picture;
  std::filesystem::remove(out);

  test::ScreenshotApplication application(display.Home());
  QtUiServices ui;
  platform::ui::ScopedServices scoped(ui);
  {
    Program program;
    THRMainFrm& frm = *program.HRMainFrm;
    frm.move(0, 0);
    frm.show();
    ASSERT_TRUE(SettleUntil([&] { return !frm.st.FirstActivate; }, 30000)) << "the first activation did not run";
    program.FrmSettings->move(40, 40);
    program.FrmSettings->show();
    body(program, out);
    program.FrmSettings->hide();
  }
  EXPECT_TRUE(std::filesystem::exists(out));
}

TEST(SettingsScreenshot, ResultServerPageWithAConnectedClient) {
  OnTheSettingsWindow("quirvel_settings_screenshot_home", "quirvel_settings_tcp.png", [](Program& program,
                                                                                       const std::string& out) {
    THRMainFrm& frm = *program.HRMainFrm;
    TFrmSettings& settings = *program.FrmSettings;
    // Any free loopback port: the program's own port may be taken on a test machine.
    settings.Server().DefaultPort = 0;
    settings.Server().BindAddress = "127.0.0.1";
    settings.Settingspages->setCurrentWidget(settings.TANDORIX);
    settings.TCPIPActivate->click();
    ASSERT_TRUE(settings.Server().Active());
    settings.TCPIPTest->click();

    std::atomic<bool> leave{false};
    std::atomic<bool> replied{false};
    std::optional<std::string> reply;
    std::thread client([&] {
      platform::net::test_support::LoopbackClient c(settings.Server().Port());
      c.Send("Networkname:QC-STATION-2\nUser:operator\r\nLocalUser:anna\nGetData\n");
      reply = c.ReadLine();
      replied = true;
      while (!leave) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    });
    const bool listed = SettleUntil(
        [&] { return settings.ConnectionsGrid->item(1, 3)->text() == "anna" && replied; }, 20000);
    Settle(500);
    const std::string status = frm.StatusBar1->PanelText(7).toStdString();
    const std::string ip = settings.ConnectionsGrid->item(1, 0)->text().toStdString();
    const std::string name = settings.ConnectionsGrid->item(1, 1)->text().toStdString();
    const QPixmap shot = Shot(settings);
    leave = true;
    SettleUntil([&] { return false; }, 100);
    client.join();
    ASSERT_TRUE(listed);
    ASSERT_TRUE(shot.save(QString::fromStdString(out), "PNG"));

    EXPECT_EQ(status, "TCPIP-con");
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(*reply, "DATA:[" + frm.GetMessString() + "]");
    EXPECT_EQ(ip, "127.0.0.1");
    EXPECT_EQ(name, "QC-STATION-2");
    EXPECT_TRUE(settings.TCPIPMemo->toPlainText().contains("Message: GetData"));
    EXPECT_FALSE(settings.IPAddressLabel->text().isEmpty());
    EXPECT_GE(shot.width(), 400);

    settings.TCPIPActivate->click();
    EXPECT_FALSE(settings.Server().Active());
    EXPECT_EQ(frm.StatusBar1->PanelText(7).toStdString(), "NC");
  });
}

// The export page with a restart point set, a daily time applied and the next export planned.
TEST(SettingsScreenshot, ExportPageWithTheNextExportAndTheMarks) {
  OnTheSettingsWindow("quirvel_export_screenshot_home", "quirvel_export_tab.png", [](Program& program,
                                                                                   const std::string& out) {
    TFrmSettings& settings = *program.FrmSettings;
    // The archive's opening showed its BACKUP row on the page.
    EXPECT_FALSE(settings.DatabaseEdit->text().isEmpty());

    settings.Settingspages->setCurrentWidget(settings.ExportData);
    settings.ResetDate->setDate(QDate(2026, 12, 1));
    settings.TimePicker->setTime(QTime(6, 30, 0));
    settings.ResetbtnClick();
    settings.DestPathEdit->setText(QString::fromStdString(std::filesystem::path(out).parent_path().string()));
    settings.BackUpTimeList->setCurrentIndex(38);  // 18:30
    settings.ApplybtnClick();
    Settle(300);
    const QPixmap shot = Shot(settings);
    ASSERT_TRUE(shot.save(QString::fromStdString(out), "PNG"));

    EXPECT_TRUE(settings.NextBAckUp->text().endsWith("18:30:00")) << settings.NextBAckUp->text().toStdString();
    for (QLineEdit* e : {settings.MaskEdit, settings.PlateEdit, settings.StructureEdit, settings.FilmEdit})
      EXPECT_TRUE(e->text().contains("06:30:00")) << e->text().toStdString();
    EXPECT_NE(settings.BackUpTimer(), 0u);
  });
}

}  // namespace
}  // namespace app

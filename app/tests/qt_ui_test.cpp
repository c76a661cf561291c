#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <thread>

#include "app/qt_ui.h"
#include "app/tests/app_test_support.h"

namespace app {
namespace {

TEST(QtUi, FiltersAndMessageTextsInTheToolkitsForm) {
  EXPECT_EQ(ToQtFilter("QUIRVEL Image (*.QVR)|*.QVR|Bitmap (*.bmp, *.png)|*.bmp;*.PNG").toStdString(),
            "QUIRVEL Image (*.QVR) (*.QVR);;Bitmap (*.bmp, *.png) (*.bmp *.PNG)");
  EXPECT_EQ(ToQtFilter("Text file|*.txt").toStdString(), "Text file (*.txt)");
  EXPECT_EQ(MessageText("First.\rSecond.\r\nThird.").toStdString(), "First.\nSecond.\nThird.");
}

TEST(QtUi, WorkFromOtherThreadsTimersAndPostsRunOnTheGuiThread) {
  test::App();
  QtUiServices ui;
  std::vector<std::string> order;
  bool on_gui = false;
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    ui.RunOnGuiThread([&] { on_gui = ui.IsGuiThread(); });
    returned = true;
  });
  ui.Post([&] { order.push_back("posted"); });
  const auto cancelled = ui.StartTimer(10, [&] { order.push_back("cancelled"); });
  ui.StartTimer(20, [&] { order.push_back("timer"); });
  ui.CancelTimer(cancelled);
  QElapsedTimer clock;
  clock.start();
  while ((order.size() < 2 || !returned) && clock.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  worker.join();
  EXPECT_TRUE(on_gui);
  EXPECT_EQ(order, (std::vector<std::string>{"posted", "timer"}));
}

}  // namespace
}  // namespace app

namespace app {
namespace {

void Spin(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

TEST(QtUi, ProgressFormAppearsOnlyForLongOperationsAndReportsAbort) {
  test::App();
  QtUiServices ui;
  // Closed before half a second: never seen.
  auto quick = ui.CreateProgressForm();
  quick->Show("Compacting...");
  quick->Close();
  Spin(700);
  EXPECT_FALSE(dynamic_cast<QWidget&>(*quick).isVisible());
  // Past half of the work when the half second is over: not shown either.
  auto fast = ui.CreateProgressForm();
  fast->Show("Copying...");
  fast->SetPosition(60);
  Spin(700);
  EXPECT_FALSE(dynamic_cast<QWidget&>(*fast).isVisible());
  fast->Close();
  // Still running after half a second: shown, and Abort reaches the operation.
  auto slow = ui.CreateProgressForm();
  slow->Show("Repairing...");
  slow->SetPosition(10);
  Spin(700);
  auto& window = dynamic_cast<QWidget&>(*slow);
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(window.findChild<QLabel*>("lMessage")->text().toStdString(), "Repairing...");
  EXPECT_FALSE(slow->Terminated());
  window.findChild<QPushButton*>("btnCancel")->click();
  EXPECT_TRUE(slow->Terminated());
  slow->Close();
  EXPECT_FALSE(window.isVisible());
}

}  // namespace
}  // namespace app

namespace app {
namespace {

TEST(QtUi, MessagesAreAlsoWrittenToStandardError) {
  test::App();
  QtUiServices ui;
  // Whoever cannot see the screen still reads the message; the box itself is answered here.
  auto press_first = [] {
    QTimer::singleShot(50, [] {
      if (QWidget* box = QApplication::activeModalWidget()) box->close();
    });
  };
  testing::internal::CaptureStderr();
  press_first();
  ui.MessageBox("Language file /x/LANGUAGE/Klingon.txt not found!", "QUIRVEL", platform::ui::MsgButtons::Ok,
                platform::ui::MsgKind::Error);
  press_first();
  ui.ShowMessage("First line.\rSecond line.");
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("QUIRVEL: Language file /x/LANGUAGE/Klingon.txt not found!\n"), std::string::npos) << err;
  EXPECT_NE(err.find("First line. Second line.\n"), std::string::npos) << err;
}

}  // namespace
}  // namespace app

namespace app {
namespace {

TEST(QtUi, BackgroundModeMinimisesAndRestoringArmsTheDelayAgainUntilClose) {
  test::App();
  QtUiServices ui;
  QWidget main_window;
  main_window.setObjectName("THRMainFrm");
  main_window.show();
  auto form = ui.CreateProgressForm();
  auto& window = dynamic_cast<QWidget&>(*form);
  form->Show("Compacting Database...");
  form->SetPosition(10);
  Spin(700);
  ASSERT_TRUE(window.isVisible());

  window.findChild<QPushButton*>("btnBgMode")->click();
  EXPECT_FALSE(window.isVisible());
  EXPECT_TRUE(main_window.isMinimized());
  Spin(700);
  EXPECT_FALSE(window.isVisible());

  // Restored: the form waits its half second again, then shows the same text.
  main_window.showNormal();
  Spin(100);
  EXPECT_FALSE(window.isVisible());
  Spin(700);
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(window.findChild<QLabel*>("lMessage")->text().toStdString(), "Compacting Database...");

  // Closed while in the background: the application comes back and the form stays away.
  window.findChild<QPushButton*>("btnBgMode")->click();
  ASSERT_TRUE(main_window.isMinimized());
  form->Close();
  EXPECT_FALSE(main_window.isMinimized());
  Spin(700);
  EXPECT_FALSE(window.isVisible());
  // A restore after Close arms nothing.
  main_window.showMinimized();
  main_window.showNormal();
  Spin(700);
  EXPECT_FALSE(window.isVisible());
}

TEST(QtUi, ThePasswordDialogGivesTheTypedTextOnOkAndNothingOnCancel) {
  test::App();
  QtUiServices ui;
  auto answer = [](const char* text, const char* button) {
    QTimer::singleShot(50, [text, button] {
      QWidget* dialog = QApplication::activeModalWidget();
      if (!dialog || dialog->objectName() != "ORVPassDialog") return;
      EXPECT_EQ(dialog->windowTitle().toStdString(), "Database authentication");
      EXPECT_EQ(dialog->findChild<QLabel*>("lbName")->text().toStdString(), "QUIRVEL");
      EXPECT_EQ(dialog->findChild<QLabel*>("Label1")->text().toStdString(), "Password:");
      auto* pass = dialog->findChild<QLineEdit*>("Pass");
      EXPECT_EQ(pass->echoMode(), QLineEdit::Password);
      EXPECT_TRUE(pass->text().isEmpty());
      pass->setText(QString::fromUtf8(text));
      dialog->findChild<QPushButton*>(button)->click();
    });
  };
  std::string password = "old";
  answer("\xC2\xB5secret", "cbOk");
  EXPECT_TRUE(ui.PasswordDialog("QUIRVEL", password));
  EXPECT_EQ(password, "\xC2\xB5secret");
  answer("ignored", "cbCancel");
  EXPECT_FALSE(ui.PasswordDialog("QUIRVEL", password));
  EXPECT_EQ(password, "\xC2\xB5secret");
}

}  // namespace
}  // namespace app

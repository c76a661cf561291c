#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
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

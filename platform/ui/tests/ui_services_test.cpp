#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "platform/base/clock.h"
#include "platform/ui/scripted_ui.h"
#include "platform/ui/ui_services.h"

namespace platform::ui {
namespace {

TEST(UiFilter, ParsesDescriptionPatternPairs) {
  struct Case {
    std::string filter;
    std::vector<std::pair<std::string, std::string>> expected;
  };
  const Case cases[] = {
      {"Text file|*.txt", {{"Text file", "*.txt"}}},
      {"QUIRVEL Image (*.QVR)|*.QVR|Bitmap (*.bmp, *.png)|*.bmp;*.PNG",
       {{"QUIRVEL Image (*.QVR)", "*.QVR"}, {"Bitmap (*.bmp, *.png)", "*.bmp;*.PNG"}}},
      // A trailing "|" and a description without patterns give nothing more.
      {"All (*.png;*.jpg)|*.png;*.jpg;|Dangling", {{"All (*.png;*.jpg)", "*.png;*.jpg;"}}},
      {"A||B|*.b", {{"B", "*.b"}}},
      {"", {}},
  };
  for (const Case& c : cases) {
    const auto got = ParseFilter(c.filter);
    ASSERT_EQ(got.size(), c.expected.size()) << c.filter;
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].description, c.expected[i].first) << c.filter;
      EXPECT_EQ(got[i].patterns, c.expected[i].second) << c.filter;
    }
  }
}

TEST(UiFilter, DefaultExtensionOnlyWhenTheFileHasNone) {
  EXPECT_EQ(ApplyDefaultExt("/tmp/stat", ".txt"), "/tmp/stat.txt");
  EXPECT_EQ(ApplyDefaultExt("/tmp/stat", "txt"), "/tmp/stat.txt");
  EXPECT_EQ(ApplyDefaultExt("/tmp/stat.csv", ".txt"), "/tmp/stat.csv");
  // A dot in a folder name is not the file's extension.
  EXPECT_EQ(ApplyDefaultExt("/tmp/a.b/stat", ".orv"), "/tmp/a.b/stat.orv");
  EXPECT_EQ(ApplyDefaultExt("C:\\a.b\\stat", ".orv"), "C:\\a.b\\stat.orv");
  EXPECT_EQ(ApplyDefaultExt("", ".txt"), "");
}

TEST(ScriptedUi, UnansweredDialogsGetTheirNegativeAnswer) {
  ScriptedUi ui;
  EXPECT_EQ(ui.MessageBox("a", "c", MsgButtons::Ok, MsgKind::Information), ModalResult::Ok);
  EXPECT_EQ(ui.MessageBox("b", "c", MsgButtons::YesNo, MsgKind::Question), ModalResult::No);
  EXPECT_EQ(ui.MessageBox("b", "c", MsgButtons::YesNoCancel, MsgKind::Question), ModalResult::Cancel);
  std::string value = "proposed";
  EXPECT_FALSE(ui.InputQuery("Password: ", "Insert Password: ", value));
  EXPECT_EQ(value, "proposed");
  EXPECT_FALSE(ui.OpenFileDialog({}).has_value());
  EXPECT_FALSE(ui.SaveFileDialog({}).has_value());
  EXPECT_FALSE(ui.SelectDirectory({}).has_value());
  std::string password = "old";
  EXPECT_FALSE(ui.PasswordDialog("", password));
  EXPECT_EQ(password, "old");
}

TEST(ScriptedUi, QueuedAnswersAreGivenInOrderAndEveryQuestionIsRecorded) {
  ScriptedUi ui;
  ui.QueueMessageResult(ModalResult::Yes);
  ui.QueueInput("Korw5TD");
  ui.QueueInput(std::nullopt);
  ui.QueueSaveFile("/tmp/x/stat");
  ui.QueuePassword("");

  EXPECT_EQ(ui.MessageBox("Zero?", "QUIRVEL", MsgButtons::YesNo, MsgKind::Question), ModalResult::Yes);
  ui.ShowMessage("plain");
  std::string v;
  EXPECT_TRUE(ui.InputQuery("Password: ", "Insert Password: ", v));
  EXPECT_EQ(v, "Korw5TD");
  std::string w = "60";
  EXPECT_FALSE(ui.InputQuery("QUIRVEL", "L/cm", w));
  FileDialogOptions save;
  save.default_ext = ".txt";
  save.filter = "Text file|*.txt";
  EXPECT_EQ(ui.SaveFileDialog(save), std::optional<std::string>("/tmp/x/stat.txt"));
  std::string pw = "secret";
  EXPECT_TRUE(ui.PasswordDialog("", pw));
  EXPECT_EQ(pw, "");  // OK with an empty field gives an empty password

  const auto messages = ui.Messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].text, "Zero?");
  EXPECT_EQ(messages[0].caption, "QUIRVEL");
  EXPECT_EQ(messages[0].answer, ModalResult::Yes);
  EXPECT_TRUE(messages[1].plain);
  const auto inputs = ui.Inputs();
  ASSERT_EQ(inputs.size(), 2u);
  EXPECT_EQ(inputs[1].proposed, "60");
  EXPECT_EQ(inputs[1].prompt, "L/cm");
  ASSERT_EQ(ui.SaveDialogs().size(), 1u);
  EXPECT_EQ(ui.SaveDialogs()[0].filter, "Text file|*.txt");
}

class FakeWindow : public ModalWindow {
 public:
  ModalResult ExecModal() override { return ModalResult::Ok; }
  std::string ModalName() const override { return "TFakeFrm"; }
  int selected = -1;
};

TEST(ScriptedUi, ModalWindowsAreHandedToTheScript) {
  ScriptedUi ui;
  FakeWindow w;
  ui.QueueModal([](ModalWindow& m) {
    static_cast<FakeWindow&>(m).selected = 1;
    return ModalResult::Ok;
  });
  EXPECT_EQ(ui.ShowModal(w), ModalResult::Ok);
  EXPECT_EQ(w.selected, 1);
  EXPECT_EQ(ui.ShowModal(w), ModalResult::Cancel);  // no script left: closed
  EXPECT_EQ(ui.ModalWindows(), (std::vector<std::string>{"TFakeFrm", "TFakeFrm"}));
}

TEST(ScriptedUi, ProgressFormReportsAbortAtTheScriptedPosition) {
  ScriptedUi ui;
  ui.AbortProgressAt(40);
  auto form = ui.CreateProgressForm();
  form->Show("Compacting...");
  form->SetPosition(10);
  EXPECT_FALSE(form->Terminated());
  form->SetPosition(40);
  EXPECT_TRUE(form->Terminated());
  form->Close();
  const auto progress = ui.Progress();
  ASSERT_EQ(progress.size(), 1u);
  EXPECT_EQ(progress[0].texts, std::vector<std::string>{"Compacting..."});
  EXPECT_EQ(progress[0].positions, (std::vector<int>{10, 40}));
  EXPECT_TRUE(progress[0].closed);
}

TEST(ScriptedUi, WorkFromAnotherThreadRunsOnTheGuiThreadAndWaits) {
  ScriptedUi ui;
  const auto gui = std::this_thread::get_id();
  std::atomic<bool> returned{false};
  std::thread::id ran_on;
  std::thread worker([&] {
    ui.RunOnGuiThread([&] { ran_on = std::this_thread::get_id(); });
    returned = true;
  });
  // Nothing runs until the GUI thread pumps.
  while (ui.ProcessPending() == 0) std::this_thread::yield();
  worker.join();
  EXPECT_TRUE(returned);
  EXPECT_EQ(ran_on, gui);
}

TEST(ScriptedUi, ExceptionsOfHandedOverWorkReachTheCaller) {
  ScriptedUi ui;
  std::string caught;
  std::thread worker([&] {
    try {
      ui.RunOnGuiThread([] { throw std::runtime_error("window gone"); });
    } catch (const std::exception& e) {
      caught = e.what();
    }
  });
  while (ui.ProcessPending() == 0) std::this_thread::yield();
  worker.join();
  EXPECT_EQ(caught, "window gone");
  // On the GUI thread itself the work runs at once.
  int n = 0;
  ui.RunOnGuiThread([&] { ++n; });
  EXPECT_EQ(n, 1);
}

TEST(ScriptedUi, PostedWorkRunsInOrderIncludingWorkPostedMeanwhile) {
  ScriptedUi ui;
  std::vector<int> order;
  ui.Post([&] {
    order.push_back(1);
    ui.Post([&] { order.push_back(3); });
  });
  ui.Post([&] { order.push_back(2); });
  EXPECT_TRUE(order.empty());
  EXPECT_EQ(ui.ProcessPending(), 3u);
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(ScriptedUi, TimersFireByTheClockInDueOrder) {
  ManualClock clock(0, 0xFFFFFF00u);  // near the wrap of the tick count
  ScopedClock scoped(clock);
  ScriptedUi ui;
  std::vector<std::string> fired;
  ui.StartTimer(500, [&] { fired.push_back("500"); });
  const TimerId cancelled = ui.StartTimer(100, [&] { fired.push_back("cancelled"); });
  ui.StartTimer(300, [&] {
    fired.push_back("300");
    // Started by a callback: waits for the next pass even though it is due at once.
    ui.StartTimer(0, [&] { fired.push_back("re-armed"); });
  });
  ui.CancelTimer(cancelled);
  ui.CancelTimer(cancelled);  // harmless

  clock.Advance(299);
  EXPECT_EQ(ui.RunDueTimers(), 0u);
  clock.Advance(300);  // past the wrap, both timers due
  EXPECT_EQ(ui.RunDueTimers(), 2u);
  EXPECT_EQ(fired, (std::vector<std::string>{"300", "500"}));
  EXPECT_EQ(ui.RunDueTimers(), 1u);
  EXPECT_EQ(fired.back(), "re-armed");
  EXPECT_EQ(ui.PendingTimers(), 0u);
}

TEST(UiServicesRegistry, StandInAnswersUntilServicesAreInstalled) {
  // The stand-in never waits: questions get their negative answer.
  EXPECT_EQ(Services().MessageBox("q", "c", MsgButtons::YesNo, MsgKind::Question), ModalResult::No);
  int n = 0;
  std::thread t([&] { Services().RunOnGuiThread([&] { ++n; }); });
  t.join();
  EXPECT_EQ(n, 1);

  ScriptedUi ui;
  {
    ScopedServices scoped(ui);
    EXPECT_EQ(&Services(), &ui);
    Services().Terminate(3);
    Services().Terminate(4);  // the first code stays
  }
  EXPECT_NE(&Services(), &ui);
  EXPECT_EQ(ui.TerminatedWith(), 3);
}

}  // namespace
}  // namespace platform::ui

#pragma once
// UI services that answer from a script instead of a person: tests queue the answers the
// dialogs are to give and afterwards read what was asked. The GUI thread is the thread that
// created the object; work handed to it from other threads waits until the test pumps it
// with ProcessPending, and timers fire when the test calls RunDueTimers after the process
// clock (platform/base/clock.h) has moved on.
//
// A dialog without a queued answer gets its negative answer: Cancel, No, or no file; a box
// with only an OK button gets OK.
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/ui/ui_services.h"

namespace platform::ui {

class ScriptedUi : public UiServices {
 public:
  struct MessageRecord {
    std::string text;
    std::string caption;
    MsgButtons buttons = MsgButtons::Ok;
    MsgKind kind = MsgKind::None;
    bool plain = false;  // ShowMessage rather than MessageBox
    ModalResult answer = ModalResult::None;
  };
  struct InputRecord {
    std::string caption;
    std::string prompt;
    std::string proposed;
    bool password = false;
  };
  struct ProgressRecord {
    std::vector<std::string> texts;  // every Show
    std::vector<int> positions;      // every SetPosition
    bool made_visible = false;
    bool closed = false;
  };

  // With `inline_dispatch`, work for the GUI thread runs at once on whatever thread asks
  // (for code without any event loop); otherwise it waits for ProcessPending.
  explicit ScriptedUi(bool inline_dispatch = false);
  ~ScriptedUi() override;

  // --- answers ---
  void QueueMessageResult(ModalResult result);
  void QueueInput(std::optional<std::string> answer);  // nullopt: Cancel
  void QueueOpenFile(std::optional<std::string> path);
  void QueueSaveFile(std::optional<std::string> path);
  void QueueDirectory(std::optional<std::string> path);
  void QueuePassword(std::optional<std::string> password);
  // The next modal window is handed to `script`, whose result is the window's modal result.
  void QueueModal(std::function<ModalResult(ModalWindow&)> script);
  void QueueModal(ModalResult result);
  // Progress forms created from now on report Terminated once their position reaches this.
  void AbortProgressAt(std::optional<int> percent);
  // Message texts are echoed to stderr as well (the stand-in does this).
  void SetEcho(bool echo);

  // --- what was asked ---
  std::vector<MessageRecord> Messages() const;
  std::vector<InputRecord> Inputs() const;
  std::vector<FileDialogOptions> OpenDialogs() const;
  std::vector<FileDialogOptions> SaveDialogs() const;
  std::vector<FolderDialogOptions> FolderDialogs() const;
  std::vector<std::string> PasswordPrompts() const;
  std::vector<std::string> ModalWindows() const;
  std::vector<ProgressRecord> Progress() const;
  std::optional<int> TerminatedWith() const;
  void ClearRecords();

  // --- the simulated GUI thread ---
  // Runs posted work and work handed over from other threads, in order, until none is left
  // (work posted meanwhile included). Only on the GUI thread. Returns the number run.
  size_t ProcessPending();
  // Fires, in order of their due time, the timers due by the clock's tick count now. Timers
  // started by a firing callback wait for the next call. Returns the number fired.
  size_t RunDueTimers();
  size_t PendingTimers() const;

  // UiServices
  void ShowMessage(const std::string& text) override;
  ModalResult MessageBox(const std::string& text, const std::string& caption, MsgButtons buttons,
                         MsgKind kind) override;
  bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value,
                  bool password = false) override;
  std::optional<std::string> OpenFileDialog(const FileDialogOptions& options) override;
  std::optional<std::string> SaveFileDialog(const FileDialogOptions& options) override;
  std::optional<std::string> SelectDirectory(const FolderDialogOptions& options) override;
  bool PasswordDialog(const std::string& name, std::string& password) override;
  std::unique_ptr<ProgressForm> CreateProgressForm() override;
  ModalResult ShowModal(ModalWindow& window) override;
  void RunOnGuiThread(const std::function<void()>& work) override;
  void Post(std::function<void()> work) override;
  bool IsGuiThread() const override;
  TimerId StartTimer(uint32_t interval_ms, std::function<void()> callback) override;
  void CancelTimer(TimerId id) override;
  void Terminate(int exit_code) override;

 private:
  class ScriptedProgress;
  struct Waiter;
  struct Task {
    std::function<void()> work;
    // Set for work that a caller on another thread waits for.
    std::shared_ptr<Waiter> waiter;
  };
  struct Timer {
    uint32_t due;
    uint64_t order;
    std::function<void()> callback;
  };

  template <typename T>
  static std::optional<T> Pop(std::deque<std::optional<T>>& queue, bool& had);
  void RecordProgress(size_t index, const std::function<void(ProgressRecord&)>& change);

  const bool inline_dispatch_;
  const std::thread::id gui_thread_;
  mutable std::mutex mutex_;
  bool echo_ = false;

  std::deque<ModalResult> message_results_;
  std::deque<std::optional<std::string>> inputs_;
  std::deque<std::optional<std::string>> open_files_;
  std::deque<std::optional<std::string>> save_files_;
  std::deque<std::optional<std::string>> directories_;
  std::deque<std::optional<std::string>> passwords_;
  std::deque<std::function<ModalResult(ModalWindow&)>> modal_scripts_;
  std::optional<int> abort_at_;

  std::vector<MessageRecord> messages_;
  std::vector<InputRecord> input_records_;
  std::vector<FileDialogOptions> open_records_;
  std::vector<FileDialogOptions> save_records_;
  std::vector<FolderDialogOptions> folder_records_;
  std::vector<std::string> password_records_;
  std::vector<std::string> modal_records_;
  std::vector<ProgressRecord> progress_records_;
  std::optional<int> terminated_;

  std::deque<Task> tasks_;
  std::map<TimerId, Timer> timers_;
  TimerId next_timer_ = 1;
  uint64_t timer_order_ = 0;
};

}  // namespace platform::ui

#include "platform/ui/scripted_ui.h"

#include <algorithm>
#include <exception>
#include <iostream>

#include "platform/base/clock.h"

namespace platform::ui {

struct ScriptedUi::Waiter {
  std::mutex mutex;
  std::condition_variable done_cv;
  bool done = false;
  std::exception_ptr error;
};

class ScriptedUi::ScriptedProgress : public ProgressForm {
 public:
  ScriptedProgress(ScriptedUi& owner, size_t index, std::optional<int> abort_at)
      : owner_(owner), index_(index), abort_at_(abort_at) {}
  void Show(const std::string& text) override {
    owner_.RecordProgress(index_, [&](ProgressRecord& r) { r.texts.push_back(text); });
  }
  void SetPosition(int percent) override {
    position_ = std::clamp(percent, 0, 100);
    owner_.RecordProgress(index_, [&](ProgressRecord& r) { r.positions.push_back(position_); });
  }
  int Position() const override { return position_; }
  void MakeVisible() override {
    owner_.RecordProgress(index_, [](ProgressRecord& r) { r.made_visible = true; });
  }
  bool Terminated() const override { return abort_at_ && position_ >= *abort_at_; }
  void ProcessMessages() override {}
  void Close() override {
    owner_.RecordProgress(index_, [](ProgressRecord& r) { r.closed = true; });
  }

 private:
  ScriptedUi& owner_;
  size_t index_;
  std::optional<int> abort_at_;
  int position_ = 0;
};

ScriptedUi::ScriptedUi(bool inline_dispatch)
    : inline_dispatch_(inline_dispatch), gui_thread_(std::this_thread::get_id()) {}

ScriptedUi::~ScriptedUi() {
  // Whoever still waits for the GUI thread must not wait for ever.
  std::deque<Task> left;
  {
    std::lock_guard lock(mutex_);
    left.swap(tasks_);
  }
  for (Task& t : left) {
    if (!t.waiter) continue;
    std::lock_guard wl(t.waiter->mutex);
    t.waiter->error = std::make_exception_ptr(std::runtime_error("GUI thread ended"));
    t.waiter->done = true;
    t.waiter->done_cv.notify_all();
  }
}

template <typename T>
std::optional<T> ScriptedUi::Pop(std::deque<std::optional<T>>& queue, bool& had) {
  had = !queue.empty();
  if (!had) return std::nullopt;
  std::optional<T> v = std::move(queue.front());
  queue.pop_front();
  return v;
}

void ScriptedUi::QueueMessageResult(ModalResult result) {
  std::lock_guard lock(mutex_);
  message_results_.push_back(result);
}
void ScriptedUi::QueueInput(std::optional<std::string> answer) {
  std::lock_guard lock(mutex_);
  inputs_.push_back(std::move(answer));
}
void ScriptedUi::QueueOpenFile(std::optional<std::string> path) {
  std::lock_guard lock(mutex_);
  open_files_.push_back(std::move(path));
}
void ScriptedUi::QueueSaveFile(std::optional<std::string> path) {
  std::lock_guard lock(mutex_);
  save_files_.push_back(std::move(path));
}
void ScriptedUi::QueueDirectory(std::optional<std::string> path) {
  std::lock_guard lock(mutex_);
  directories_.push_back(std::move(path));
}
void ScriptedUi::QueuePassword(std::optional<std::string> password) {
  std::lock_guard lock(mutex_);
  passwords_.push_back(std::move(password));
}
void ScriptedUi::QueueModal(std::function<ModalResult(ModalWindow&)> script) {
  std::lock_guard lock(mutex_);
  modal_scripts_.push_back(std::move(script));
}
void ScriptedUi::QueueModal(ModalResult result) {
  QueueModal([result](ModalWindow&) { return result; });
}
void ScriptedUi::AbortProgressAt(std::optional<int> percent) {
  std::lock_guard lock(mutex_);
  abort_at_ = percent;
}
void ScriptedUi::SetEcho(bool echo) {
  std::lock_guard lock(mutex_);
  echo_ = echo;
}

std::vector<ScriptedUi::MessageRecord> ScriptedUi::Messages() const {
  std::lock_guard lock(mutex_);
  return messages_;
}
std::vector<ScriptedUi::InputRecord> ScriptedUi::Inputs() const {
  std::lock_guard lock(mutex_);
  return input_records_;
}
std::vector<FileDialogOptions> ScriptedUi::OpenDialogs() const {
  std::lock_guard lock(mutex_);
  return open_records_;
}
std::vector<FileDialogOptions> ScriptedUi::SaveDialogs() const {
  std::lock_guard lock(mutex_);
  return save_records_;
}
std::vector<FolderDialogOptions> ScriptedUi::FolderDialogs() const {
  std::lock_guard lock(mutex_);
  return folder_records_;
}
std::vector<std::string> ScriptedUi::PasswordPrompts() const {
  std::lock_guard lock(mutex_);
  return password_records_;
}
std::vector<std::string> ScriptedUi::ModalWindows() const {
  std::lock_guard lock(mutex_);
  return modal_records_;
}
std::vector<ScriptedUi::ProgressRecord> ScriptedUi::Progress() const {
  std::lock_guard lock(mutex_);
  return progress_records_;
}
std::optional<int> ScriptedUi::TerminatedWith() const {
  std::lock_guard lock(mutex_);
  return terminated_;
}
void ScriptedUi::ClearRecords() {
  std::lock_guard lock(mutex_);
  messages_.clear();
  input_records_.clear();
  open_records_.clear();
  save_records_.clear();
  folder_records_.clear();
  password_records_.clear();
  modal_records_.clear();
  progress_records_.clear();
  terminated_.reset();
}

void ScriptedUi::ShowMessage(const std::string& text) {
  std::lock_guard lock(mutex_);
  messages_.push_back({text, "", MsgButtons::Ok, MsgKind::None, true, ModalResult::Ok});
  if (echo_) std::cerr << text << '\n';
}

ModalResult ScriptedUi::MessageBox(const std::string& text, const std::string& caption, MsgButtons buttons,
                                   MsgKind kind) {
  std::lock_guard lock(mutex_);
  ModalResult answer;
  if (!message_results_.empty()) {
    answer = message_results_.front();
    message_results_.pop_front();
  } else {
    switch (buttons) {
      case MsgButtons::Ok: answer = ModalResult::Ok; break;
      case MsgButtons::YesNo: answer = ModalResult::No; break;
      case MsgButtons::AbortRetryIgnore: answer = ModalResult::Abort; break;
      default: answer = ModalResult::Cancel; break;
    }
  }
  messages_.push_back({text, caption, buttons, kind, false, answer});
  if (echo_) std::cerr << (caption.empty() ? "" : caption + ": ") << text << '\n';
  return answer;
}

bool ScriptedUi::InputQuery(const std::string& caption, const std::string& prompt, std::string& value,
                            bool password) {
  std::lock_guard lock(mutex_);
  input_records_.push_back({caption, prompt, value, password});
  bool had = false;
  auto answer = Pop(inputs_, had);
  if (!answer) return false;
  value = *answer;
  return true;
}

std::optional<std::string> ScriptedUi::OpenFileDialog(const FileDialogOptions& options) {
  std::lock_guard lock(mutex_);
  open_records_.push_back(options);
  bool had = false;
  return Pop(open_files_, had);
}

std::optional<std::string> ScriptedUi::SaveFileDialog(const FileDialogOptions& options) {
  std::lock_guard lock(mutex_);
  save_records_.push_back(options);
  bool had = false;
  auto answer = Pop(save_files_, had);
  if (answer) return ApplyDefaultExt(*answer, options.default_ext);
  return answer;
}

std::optional<std::string> ScriptedUi::SelectDirectory(const FolderDialogOptions& options) {
  std::lock_guard lock(mutex_);
  folder_records_.push_back(options);
  bool had = false;
  return Pop(directories_, had);
}

bool ScriptedUi::PasswordDialog(const std::string& name, std::string& password) {
  std::lock_guard lock(mutex_);
  password_records_.push_back(name);
  bool had = false;
  auto answer = Pop(passwords_, had);
  if (!answer) return false;
  password = *answer;
  return true;
}

std::unique_ptr<ProgressForm> ScriptedUi::CreateProgressForm() {
  std::lock_guard lock(mutex_);
  progress_records_.emplace_back();
  return std::make_unique<ScriptedProgress>(*this, progress_records_.size() - 1, abort_at_);
}

void ScriptedUi::RecordProgress(size_t index, const std::function<void(ProgressRecord&)>& change) {
  std::lock_guard lock(mutex_);
  if (index < progress_records_.size()) change(progress_records_[index]);
}

ModalResult ScriptedUi::ShowModal(ModalWindow& window) {
  std::function<ModalResult(ModalWindow&)> script;
  {
    std::lock_guard lock(mutex_);
    modal_records_.push_back(window.ModalName());
    if (!modal_scripts_.empty()) {
      script = std::move(modal_scripts_.front());
      modal_scripts_.pop_front();
    }
  }
  // The script may itself open dialogs, so it runs without the lock.
  return script ? script(window) : ModalResult::Cancel;
}

void ScriptedUi::RunOnGuiThread(const std::function<void()>& work) {
  if (inline_dispatch_ || IsGuiThread()) {
    work();
    return;
  }
  auto waiter = std::make_shared<Waiter>();
  {
    std::lock_guard lock(mutex_);
    tasks_.push_back({work, waiter});
  }
  std::unique_lock wl(waiter->mutex);
  waiter->done_cv.wait(wl, [&] { return waiter->done; });
  if (waiter->error) std::rethrow_exception(waiter->error);
}

void ScriptedUi::Post(std::function<void()> work) {
  if (inline_dispatch_) {
    work();
    return;
  }
  std::lock_guard lock(mutex_);
  tasks_.push_back({std::move(work), nullptr});
}

bool ScriptedUi::IsGuiThread() const { return std::this_thread::get_id() == gui_thread_; }

size_t ScriptedUi::ProcessPending() {
  size_t count = 0;
  for (;;) {
    Task task;
    {
      std::lock_guard lock(mutex_);
      if (tasks_.empty()) break;
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    ++count;
    if (!task.waiter) {
      task.work();
      continue;
    }
    std::exception_ptr error;
    try {
      task.work();
    } catch (...) {
      error = std::current_exception();
    }
    std::lock_guard wl(task.waiter->mutex);
    task.waiter->error = error;
    task.waiter->done = true;
    task.waiter->done_cv.notify_all();
  }
  return count;
}

TimerId ScriptedUi::StartTimer(uint32_t interval_ms, std::function<void()> callback) {
  const uint32_t now = platform::GetTickCount();
  std::lock_guard lock(mutex_);
  const TimerId id = next_timer_++;
  timers_[id] = Timer{now + interval_ms, timer_order_++, std::move(callback)};
  return id;
}

void ScriptedUi::CancelTimer(TimerId id) {
  std::lock_guard lock(mutex_);
  timers_.erase(id);
}

size_t ScriptedUi::RunDueTimers() {
  const uint32_t now = platform::GetTickCount();
  std::vector<std::pair<TimerId, Timer>> due;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [id, t] : timers_) {
      // Tick counts wrap; a timer is due when now is not before its due tick.
      if (static_cast<int32_t>(now - t.due) >= 0) due.emplace_back(id, t);
    }
  }
  std::sort(due.begin(), due.end(), [now](const auto& a, const auto& b) {
    const int32_t da = static_cast<int32_t>(a.second.due - now);
    const int32_t db = static_cast<int32_t>(b.second.due - now);
    return da != db ? da < db : a.second.order < b.second.order;
  });
  size_t fired = 0;
  for (auto& [id, t] : due) {
    {
      std::lock_guard lock(mutex_);
      // A callback fired earlier in this pass may have cancelled this one.
      if (timers_.erase(id) == 0) continue;
    }
    ++fired;
    t.callback();
  }
  return fired;
}

size_t ScriptedUi::PendingTimers() const {
  std::lock_guard lock(mutex_);
  return timers_.size();
}

void ScriptedUi::Terminate(int exit_code) {
  std::lock_guard lock(mutex_);
  if (!terminated_) terminated_ = exit_code;
}

}  // namespace platform::ui

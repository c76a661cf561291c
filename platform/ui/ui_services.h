#pragma once
// What code below the windows asks of a person or of the GUI thread: message and question
// boxes, input boxes, file and folder choosers, the database password prompt, the progress
// form with its Abort button, running work on the GUI thread, single-shot timers and modal
// windows. The application installs a window-toolkit implementation at start-up; tests
// install the scripted one (scripted_ui.h). Nothing here knows a toolkit.
//
// Every text is UTF-8.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform::ui {

// Modal results, numbered as the dialogs of the original returned them (mrOk = 1 ...), so
// that values stored or compared by the windows keep their meaning.
enum class ModalResult : int {
  None = 0,
  Ok = 1,
  Cancel = 2,
  Abort = 3,
  Retry = 4,
  Ignore = 5,
  Yes = 6,
  No = 7,
};

enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel, AbortRetryIgnore };
enum class MsgKind { None, Information, Warning, Error, Question };

struct FileDialogOptions {
  std::string title;
  // "Description|pattern;pattern|Description|pattern" as the file dialogs were given it.
  std::string filter;
  int filter_index = 1;     // 1-based, like the original's FilterIndex
  std::string default_ext;  // appended (with its dot) when the chosen name has no extension
  std::string initial_dir;
  std::string file_name;    // proposed name
};

struct FolderDialogOptions {
  std::string title;
  std::string initial_dir;
  bool allow_create = false;  // the chooser may create a new folder (after confirmation)
};

// The progress form of long database operations. The operation creates it, calls Show with
// its text, sets the position at each step and reads Terminated there, and ends with Close.
// The form appears only when the operation is still running 500 ms after Show and has not
// passed 50 %.
class ProgressForm {
 public:
  virtual ~ProgressForm() = default;
  virtual void Show(const std::string& text) = 0;
  virtual void SetPosition(int percent) = 0;
  virtual int Position() const = 0;
  // Visible at once, without the delay (the repair shows its form this way).
  virtual void MakeVisible() = 0;
  // The operator pressed Abort.
  virtual bool Terminated() const = 0;
  // Lets the window system handle what is pending, so the buttons of the form work while
  // the operation runs on the GUI thread.
  virtual void ProcessMessages() = 0;
  virtual void Close() = 0;
};

// A window shown modally: the toolkit implementation runs its modal loop; the scripted one
// hands it to the test's script instead.
class ModalWindow {
 public:
  virtual ~ModalWindow() = default;
  // Runs the modal loop and returns the modal result.
  virtual ModalResult ExecModal() = 0;
  // The name tests address the window by (its class name, e.g. "TFrmConnect").
  virtual std::string ModalName() const = 0;
};

using TimerId = uint64_t;

class UiServices {
 public:
  virtual ~UiServices() = default;

  // The application's plain message (one OK button, the application's title as caption).
  virtual void ShowMessage(const std::string& text) = 0;
  // A message box with a caption and buttons; the result names the button pressed
  // (Cancel/No when the box is closed otherwise).
  virtual ModalResult MessageBox(const std::string& text, const std::string& caption, MsgButtons buttons,
                                 MsgKind kind) = 0;
  // An input box: false when cancelled; on OK `value` holds the text typed (it comes in as
  // the proposed text).
  virtual bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value,
                          bool password = false) = 0;

  virtual std::optional<std::string> OpenFileDialog(const FileDialogOptions& options) = 0;
  virtual std::optional<std::string> SaveFileDialog(const FileDialogOptions& options) = 0;
  virtual std::optional<std::string> SelectDirectory(const FolderDialogOptions& options) = 0;

  // The database password prompt: `name` is shown above the field; true with `password` set
  // when confirmed with OK (an empty text included), false when cancelled.
  virtual bool PasswordDialog(const std::string& name, std::string& password) = 0;

  virtual std::unique_ptr<ProgressForm> CreateProgressForm() = 0;

  virtual ModalResult ShowModal(ModalWindow& window) = 0;

  // Runs `work` on the GUI thread and waits for it; on the GUI thread itself it runs at
  // once. An exception thrown by `work` is thrown again to the caller.
  virtual void RunOnGuiThread(const std::function<void()>& work) = 0;
  // Queues `work` for the GUI thread and returns at once; it runs after what is pending.
  virtual void Post(std::function<void()> work) = 0;
  virtual bool IsGuiThread() const = 0;

  // Calls `callback` once on the GUI thread after `interval_ms`. Cancelling an id that has
  // fired or was cancelled does nothing.
  virtual TimerId StartTimer(uint32_t interval_ms, std::function<void()> callback) = 0;
  virtual void CancelTimer(TimerId id) = 0;

  // Ends the application with this exit code once control returns to the event loop.
  virtual void Terminate(int exit_code) = 0;
};

// The services installed for the process. Until something is installed, a scripted
// implementation without answers stands in: messages are recorded and written to stderr,
// questions get their negative answer, and nothing waits for a person.
UiServices& Services();
// Installs `services` (borrowed; nullptr returns to the stand-in).
void SetServices(UiServices* services);

// Installs services for a scope (tests, the application's main).
class ScopedServices {
 public:
  explicit ScopedServices(UiServices& services);
  ~ScopedServices();
  ScopedServices(const ScopedServices&) = delete;
  ScopedServices& operator=(const ScopedServices&) = delete;

 private:
  UiServices* previous_;
};

// Converts a "Description|pattern;pattern|..." filter into (description, patterns) pairs.
// A trailing description without patterns is dropped; empty patterns are skipped.
struct FilterEntry {
  std::string description;
  std::string patterns;  // as written, e.g. "*.bmp;*.PNG"
};
std::vector<FilterEntry> ParseFilter(const std::string& filter);

// The name a save dialog gives back: `name` with `default_ext` appended when its own file
// part has no extension (default_ext may be given with or without its dot).
std::string ApplyDefaultExt(const std::string& name, const std::string& default_ext);

}  // namespace platform::ui

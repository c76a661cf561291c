#pragma once
// The UI services on the window toolkit: the application installs them at start-up.
#include <QObject>
#include <map>
#include <optional>

#include "platform/ui/ui_services.h"

class QTimer;

namespace app {

// The toolkit's form of a "Desc|*.a;*.b|..." filter: "Desc (*.a *.b);;...".
QString ToQtFilter(const std::string& filter);
// Message texts break lines with a carriage return; the toolkit wants line feeds.
QString MessageText(const std::string& text);

class QtUiServices : public QObject, public platform::ui::UiServices {
  Q_OBJECT
 public:
  QtUiServices();
  ~QtUiServices() override;

  // The exit code asked for by Terminate, if any.
  std::optional<int> ExitCode() const { return exit_code_; }

  void ShowMessage(const std::string& text) override;
  platform::ui::ModalResult MessageBox(const std::string& text, const std::string& caption,
                                       platform::ui::MsgButtons buttons, platform::ui::MsgKind kind) override;
  bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value,
                  bool password = false) override;
  std::optional<std::string> OpenFileDialog(const platform::ui::FileDialogOptions& options) override;
  std::optional<std::string> SaveFileDialog(const platform::ui::FileDialogOptions& options) override;
  std::optional<std::string> SelectDirectory(const platform::ui::FolderDialogOptions& options) override;
  bool PasswordDialog(const std::string& name, std::string& password) override;
  std::unique_ptr<platform::ui::ProgressForm> CreateProgressForm() override;
  platform::ui::ModalResult ShowModal(platform::ui::ModalWindow& window) override;
  void RunOnGuiThread(const std::function<void()>& work) override;
  void Post(std::function<void()> work) override;
  bool IsGuiThread() const override;
  platform::ui::TimerId StartTimer(uint32_t interval_ms, std::function<void()> callback) override;
  void CancelTimer(platform::ui::TimerId id) override;
  void Terminate(int exit_code) override;

 private:
  std::optional<std::string> FileDialog(const platform::ui::FileDialogOptions& options, bool save);

  std::map<platform::ui::TimerId, QTimer*> timers_;
  platform::ui::TimerId next_timer_ = 1;
  std::optional<int> exit_code_;
};

}  // namespace app

#include "app/qt_ui.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPointer>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <exception>

#include "platform/ui/ui_services.h"

namespace app {

using platform::ui::ModalResult;
using platform::ui::MsgButtons;
using platform::ui::MsgKind;

QString ToQtFilter(const std::string& filter) {
  QStringList parts;
  for (const platform::ui::FilterEntry& e : platform::ui::ParseFilter(filter)) {
    QStringList patterns;
    for (const QString& p : QString::fromStdString(e.patterns).split(';', Qt::SkipEmptyParts)) {
      patterns << p.trimmed();
    }
    parts << QString::fromStdString(e.description) + " (" + patterns.join(' ') + ")";
  }
  return parts.join(";;");
}

QString MessageText(const std::string& text) {
  QString s = QString::fromStdString(text);
  s.replace("\r\n", "\n");
  s.replace('\r', '\n');
  return s;
}

namespace {

// The progress form of long database operations: text, bar, Abort and Background Mode. It
// shows itself only when the operation still runs half a second after Show and has not
// passed half of its work. Background Mode hides it and minimises the application; when the
// application is restored, the form arms its half-second delay again. Close puts the restore
// handling back first, so that the application it restores does not bring the form back.
class WaitForm : public QDialog, public platform::ui::ProgressForm {
 public:
  WaitForm() : QDialog(nullptr, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName("frmWait");
    setWindowTitle("Please Wait...");
    setFixedSize(312, 118);
    setWindowModality(Qt::ApplicationModal);
    setCursor(Qt::WaitCursor);
    auto* layout = new QVBoxLayout(this);
    lMessage_ = new QLabel("Wait...", this);
    lMessage_->setObjectName("lMessage");
    lMessage_->setAlignment(Qt::AlignCenter);
    lMessage_->setWordWrap(true);
    layout->addWidget(lMessage_, 1);
    pb_ = new QProgressBar(this);
    pb_->setObjectName("pb");
    pb_->setRange(0, 100);
    layout->addWidget(pb_);
    auto* buttons = new QHBoxLayout();
    btnCancel_ = new QPushButton("Abort", this);
    btnCancel_->setObjectName("btnCancel");
    btnCancel_->setDefault(true);
    auto* background = new QPushButton("Background Mode", this);
    background->setObjectName("btnBgMode");
    buttons->addStretch(1);
    buttons->addWidget(btnCancel_);
    buttons->addWidget(background);
    layout->addLayout(buttons);
    show_timer_.setSingleShot(true);
    show_timer_.setInterval(500);
    QObject::connect(&show_timer_, &QTimer::timeout, this, [this] {
      if (!closed_ && pb_->value() <= 50) {
        QDialog::show();
        QApplication::processEvents();
      }
    });
    QObject::connect(btnCancel_, &QPushButton::clicked, this, [this] { terminated_ = true; });
    QObject::connect(background, &QPushButton::clicked, this, [this] { BackgroundMode(); });
    // Restoring the application shows as a window leaving its minimised state.
    qApp->installEventFilter(this);
  }
  ~WaitForm() override { qApp->removeEventFilter(this); }

  void Show(const std::string& text) override {
    lMessage_->setText(QString::fromStdString(text));
    terminated_ = false;
    btnCancel_->setFocus();
    restore_armed_ = false;
    closed_ = false;
    show_timer_.start();
  }
  void SetPosition(int percent) override { pb_->setValue(std::clamp(percent, 0, 100)); }
  int Position() const override { return pb_->value(); }
  void MakeVisible() override {
    show_timer_.stop();
    QDialog::show();
  }
  bool Terminated() const override { return terminated_; }
  void ProcessMessages() override { QApplication::processEvents(); }
  void Close() override {
    // The restore handling goes first: restoring the application below must not arm the form
    // again.
    restore_armed_ = false;
    closed_ = true;
    show_timer_.stop();
    hide();
    RestoreApplication();
  }

 protected:
  void showEvent(QShowEvent* event) override {
    show_timer_.stop();
    QWidget* active = QApplication::activeWindow();
    active_window_ = active != this ? active : nullptr;
    shown_ = true;
    QDialog::showEvent(event);
  }
  void hideEvent(QHideEvent* event) override {
    show_timer_.stop();
    if (shown_) {
      shown_ = false;
      // The window that was active before the form gets the focus back.
      if (active_window_ && active_window_->isVisible() && !active_window_->isMinimized())
        active_window_->activateWindow();
    }
    QDialog::hideEvent(event);
  }
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (restore_armed_ && event->type() == QEvent::WindowStateChange) {
      auto* window = qobject_cast<QWidget*>(watched);
      if (window && window != this && window->isWindow() && !window->isMinimized() &&
          minimized_.contains(QPointer<QWidget>(window))) {
        restore_armed_ = false;
        // After the state change has been handled, not inside it.
        QMetaObject::invokeMethod(this, [this] { Restore(); }, Qt::QueuedConnection);
      }
    }
    return QDialog::eventFilter(watched, event);
  }

 private:
  void BackgroundMode() {
    restore_armed_ = true;
    hide();
    minimized_.clear();
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (w != this && w->isVisible() && !w->isMinimized()) {
        minimized_.append(QPointer<QWidget>(w));
        w->showMinimized();
      }
    }
    QApplication::processEvents();
  }
  // The application was restored: the form comes back after the usual delay, with its text.
  void Restore() {
    restore_armed_ = false;
    if (closed_) return;
    Show(lMessage_->text().toStdString());
    QApplication::processEvents();
  }
  void RestoreApplication() {
    for (const QPointer<QWidget>& w : minimized_) {
      if (w && w->isMinimized()) w->showNormal();
    }
    minimized_.clear();
  }

  QLabel* lMessage_;
  QProgressBar* pb_;
  QPushButton* btnCancel_;
  QTimer show_timer_;
  QPointer<QWidget> active_window_;
  QList<QPointer<QWidget>> minimized_;
  bool terminated_ = false;
  bool closed_ = false;
  bool shown_ = false;
  bool restore_armed_ = false;
};

}  // namespace

namespace {

// Every message also goes to the standard error stream: on a machine without a screen (an
// offscreen or remote start) a message such as a missing language file is seen there, even
// when nobody can press its button.
void EchoMessage(const std::string& caption, const std::string& text) {
  std::string line = text;
  for (char& c : line) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), line.c_str());
  std::fflush(stderr);
}

}  // namespace

QtUiServices::QtUiServices() = default;

QtUiServices::~QtUiServices() {
  for (auto& [id, timer] : timers_) delete timer;
}

void QtUiServices::ShowMessage(const std::string& text) {
  EchoMessage(QApplication::applicationName().toStdString(), text);
  QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), MessageText(text), QMessageBox::Ok,
                  QApplication::activeWindow());
  box.exec();
}

ModalResult QtUiServices::MessageBox(const std::string& text, const std::string& caption, MsgButtons buttons,
                                     MsgKind kind) {
  EchoMessage(caption, text);
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  switch (kind) {
    case MsgKind::Information: icon = QMessageBox::Information; break;
    case MsgKind::Warning: icon = QMessageBox::Warning; break;
    case MsgKind::Error: icon = QMessageBox::Critical; break;
    case MsgKind::Question: icon = QMessageBox::Question; break;
    case MsgKind::None: break;
  }
  QMessageBox::StandardButtons set = QMessageBox::Ok;
  switch (buttons) {
    case MsgButtons::Ok: set = QMessageBox::Ok; break;
    case MsgButtons::OkCancel: set = QMessageBox::Ok | QMessageBox::Cancel; break;
    case MsgButtons::YesNo: set = QMessageBox::Yes | QMessageBox::No; break;
    case MsgButtons::YesNoCancel: set = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel; break;
    case MsgButtons::AbortRetryIgnore: set = QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore; break;
  }
  QMessageBox box(icon, QString::fromStdString(caption), MessageText(text), set, QApplication::activeWindow());
  switch (box.exec()) {
    case QMessageBox::Ok: return ModalResult::Ok;
    case QMessageBox::Yes: return ModalResult::Yes;
    case QMessageBox::No: return ModalResult::No;
    case QMessageBox::Abort: return ModalResult::Abort;
    case QMessageBox::Retry: return ModalResult::Retry;
    case QMessageBox::Ignore: return ModalResult::Ignore;
    default: return buttons == MsgButtons::YesNo ? ModalResult::No : ModalResult::Cancel;
  }
}

bool QtUiServices::InputQuery(const std::string& caption, const std::string& prompt, std::string& value,
                              bool password) {
  bool ok = false;
  const QString answer = QInputDialog::getText(QApplication::activeWindow(), QString::fromStdString(caption),
                                               QString::fromStdString(prompt),
                                               password ? QLineEdit::Password : QLineEdit::Normal,
                                               QString::fromStdString(value), &ok);
  if (ok) value = answer.toStdString();
  return ok;
}

std::optional<std::string> QtUiServices::FileDialog(const platform::ui::FileDialogOptions& options, bool save) {
  QFileDialog dialog(QApplication::activeWindow(), QString::fromStdString(options.title),
                     QString::fromStdString(options.initial_dir));
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  const QString filter = ToQtFilter(options.filter);
  if (!filter.isEmpty()) {
    const QStringList filters = filter.split(";;");
    dialog.setNameFilters(filters);
    const int index = options.filter_index - 1;
    if (index >= 0 && index < filters.size()) dialog.selectNameFilter(filters[index]);
  }
  QString ext = QString::fromStdString(options.default_ext);
  if (ext.startsWith('.')) ext.remove(0, 1);
  dialog.setDefaultSuffix(ext);
  if (!options.file_name.empty()) dialog.selectFile(QString::fromStdString(options.file_name));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().front().toStdString();
}

std::optional<std::string> QtUiServices::OpenFileDialog(const platform::ui::FileDialogOptions& options) {
  return FileDialog(options, false);
}

std::optional<std::string> QtUiServices::SaveFileDialog(const platform::ui::FileDialogOptions& options) {
  return FileDialog(options, true);
}

std::optional<std::string> QtUiServices::SelectDirectory(const platform::ui::FolderDialogOptions& options) {
  QFileDialog::Options opts = QFileDialog::ShowDirsOnly;
  if (!options.allow_create) opts |= QFileDialog::ReadOnly;
  const QString dir = QFileDialog::getExistingDirectory(QApplication::activeWindow(),
                                                        QString::fromStdString(options.title),
                                                        QString::fromStdString(options.initial_dir), opts);
  if (dir.isEmpty()) return std::nullopt;
  return dir.toStdString();
}

bool QtUiServices::PasswordDialog(const std::string& name, std::string& password) {
  QDialog dialog(QApplication::activeWindow());
  dialog.setObjectName("ORVPassDialog");
  dialog.setWindowTitle("Database authentication");
  auto* layout = new QVBoxLayout(&dialog);
  auto* title = new QLabel(QString::fromStdString(name), &dialog);
  title->setObjectName("lbName");
  title->setAlignment(Qt::AlignCenter);
  layout->addWidget(title);
  auto* row = new QHBoxLayout();
  auto* label = new QLabel("Password:", &dialog);
  label->setObjectName("Label1");
  row->addWidget(label);
  auto* pass = new QLineEdit(&dialog);
  pass->setObjectName("Pass");
  pass->setEchoMode(QLineEdit::Password);
  row->addWidget(pass);
  layout->addLayout(row);
  auto* buttons = new QHBoxLayout();
  auto* ok = new QPushButton("OK", &dialog);
  ok->setObjectName("cbOk");
  ok->setDefault(true);
  auto* cancel = new QPushButton("Cancel", &dialog);
  cancel->setObjectName("cbCancel");
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  layout->addLayout(buttons);
  QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
  QObject::connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);
  if (dialog.exec() != QDialog::Accepted) return false;
  password = pass->text().toStdString();
  return true;
}

std::unique_ptr<platform::ui::ProgressForm> QtUiServices::CreateProgressForm() {
  return std::make_unique<WaitForm>();
}

ModalResult QtUiServices::ShowModal(platform::ui::ModalWindow& window) { return window.ExecModal(); }

void QtUiServices::RunOnGuiThread(const std::function<void()>& work) {
  if (IsGuiThread()) {
    work();
    return;
  }
  std::exception_ptr error;
  QMetaObject::invokeMethod(
      qApp,
      [&] {
        try {
          work();
        } catch (...) {
          error = std::current_exception();
        }
      },
      Qt::BlockingQueuedConnection);
  if (error) std::rethrow_exception(error);
}

void QtUiServices::Post(std::function<void()> work) {
  QMetaObject::invokeMethod(qApp, [work = std::move(work)] { work(); }, Qt::QueuedConnection);
}

bool QtUiServices::IsGuiThread() const { return QThread::currentThread() == qApp->thread(); }

platform::ui::TimerId QtUiServices::StartTimer(uint32_t interval_ms, std::function<void()> callback) {
  platform::ui::TimerId id = 0;
  RunOnGuiThread([&] {
    id = next_timer_++;
    auto* timer = new QTimer();
    timer->setSingleShot(true);
    timer->setInterval(static_cast<int>(std::min<uint32_t>(interval_ms, 0x7FFFFFFF)));
    timers_[id] = timer;
    QObject::connect(timer, &QTimer::timeout, this, [this, id, callback = std::move(callback)] {
      auto it = timers_.find(id);
      if (it == timers_.end()) return;
      it->second->deleteLater();
      timers_.erase(it);
      callback();
    });
    timer->start();
  });
  return id;
}

void QtUiServices::CancelTimer(platform::ui::TimerId id) {
  RunOnGuiThread([&] {
    auto it = timers_.find(id);
    if (it == timers_.end()) return;
    it->second->stop();
    it->second->deleteLater();
    timers_.erase(it);
  });
}

void QtUiServices::Terminate(int exit_code) {
  if (!exit_code_) exit_code_ = exit_code;
  QCoreApplication::exit(*exit_code_);
}

}  // namespace app

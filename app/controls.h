#pragma once
// The few control kinds of the windows that the toolkit has no exact twin for, and the
// helpers that give every control one way to set its caption and its hint, so that language
// texts and result presentation can address controls by name alone.
#include <QFrame>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QStatusBar>
#include <QString>
#include <QWidget>
#include <string>
#include <vector>

#include "platform/image/bitmap.h"

class QButtonGroup;
class QRadioButton;
class QTabWidget;
class QToolButton;

namespace app {

inline QString Q(const std::string& s) { return QString::fromStdString(s); }
inline std::string S(const QString& s) { return s.toStdString(); }

// A 24-bit bitmap as a picture (a deep copy; the pixels are in blue-green-red order).
QImage BitmapToImage(const platform::Bitmap& bmp);
// A picture as a 24-bit bitmap (a deep copy).
platform::Bitmap ImageToBitmap(const QImage& image);

// A picture control: holds a picture and draws it, at its own size or stretched into the
// control (keeping its proportions and centred when asked).
//
// The picture is either a toolkit image (drawing on it means painting into Picture() and
// calling update()) or a 24-bit bitmap that the control shows without copying it (the image
// display, drawn on with a platform Canvas: its marks use the inverting pen). Picture() turns
// a bitmap picture into a toolkit image first; Image() copies either kind.
class TImage : public QWidget {
  Q_OBJECT
 public:
  explicit TImage(QWidget* parent = nullptr);

  void SetPicture(const QImage& picture);
  // The bitmap becomes the picture (moved in, not copied).
  void SetPicture(platform::Bitmap bmp);
  // The toolkit image to paint into (a bitmap picture is converted to one first).
  QImage& Picture();
  // A copy of what the control shows.
  QImage Image() const;
  // The bitmap picture to draw on, nullptr while the picture is a toolkit image. Its size is
  // not to be changed through this pointer: a picture of another size is set with
  // SetPicture. Call update() after drawing.
  platform::Bitmap* BitmapPicture() { return has_bitmap_ ? &bitmap_ : nullptr; }
  const platform::Bitmap* BitmapPicture() const { return has_bitmap_ ? &bitmap_ : nullptr; }
  QSize PictureSize() const;
  void ClearPicture();

  // The control takes the size of its picture (the image display in its scroll box).
  void SetAutoSize(bool on);
  void SetStretch(bool on, bool proportional = false);
  void SetCenter(bool on);

  QSize sizeHint() const override;

 signals:
  void clicked();
  void mousePressed(QMouseEvent* event);
  void mouseMoved(QMouseEvent* event);
  void mouseReleased(QMouseEvent* event);
  void mouseLeft();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  void PictureChanged();

  QImage picture_;
  platform::Bitmap bitmap_;
  bool has_bitmap_ = false;
  bool auto_size_ = false;
  bool stretch_ = false;
  bool proportional_ = false;
  bool center_ = false;
};

// Two arrow buttons that step an associated control up or down.
class TUpDown : public QWidget {
  Q_OBJECT
 public:
  explicit TUpDown(QWidget* parent = nullptr);
  QToolButton* UpButton() const { return up_; }
  QToolButton* DownButton() const { return down_; }

 signals:
  // up: the upper arrow was clicked.
  void clicked(bool up);

 private:
  QToolButton* up_;
  QToolButton* down_;
};

// A coloured shape (the exposure indicator).
class TShape : public QFrame {
  Q_OBJECT
 public:
  explicit TShape(QWidget* parent = nullptr);
  void SetBrushColor(const QColor& color);
  QColor BrushColor() const { return color_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor color_ = Qt::white;
};

// The status bar with panels of fixed widths; the last one takes what is left.
class TStatusBar : public QStatusBar {
  Q_OBJECT
 public:
  TStatusBar(const std::vector<int>& widths, QWidget* parent = nullptr);
  int PanelCount() const { return static_cast<int>(panels_.size()); }
  QLabel* Panel(int index) const;
  void SetPanelText(int index, const QString& text);
  QString PanelText(int index) const;

 private:
  std::vector<QLabel*> panels_;
};

// A group box of radio buttons with one selected index, -1 when no item is selected (a
// stored setting may name no item of the group).
class TRadioGroup : public QGroupBox {
  Q_OBJECT
 public:
  TRadioGroup(const QString& title, const std::vector<QString>& items, QWidget* parent = nullptr);
  int Count() const { return static_cast<int>(items_.size()); }
  QRadioButton* Item(int index) const;
  int ItemIndex() const;
  // An index outside the items selects none.
  void SetItemIndex(int index);

 signals:
  // The operator selected an item (not sent by SetItemIndex).
  void clicked();

 private:
  QButtonGroup* group_;
  std::vector<QRadioButton*> items_;
};

// The hourglass for the time of a command: shown when made, the previous cursor back when
// destroyed, also when the command ends with an exception. Nested ones stack.
class TWaitCursor {
 public:
  TWaitCursor();
  ~TWaitCursor();
  TWaitCursor(const TWaitCursor&) = delete;
  TWaitCursor& operator=(const TWaitCursor&) = delete;
};

// Captions and hints by control kind: labels, buttons, check and radio boxes, group boxes,
// menu items and menus, tab sheets (the tab's text), windows (their title).
void SetCaption(QObject* control, const QString& text);
QString Caption(const QObject* control);
void SetHint(QObject* control, const QString& text);
QString Hint(const QObject* control);

// Tab sheets: whether the sheet's tab is shown, and making it the active one.
QTabWidget* OwnerTabs(const QWidget* page);
void SetPageVisible(QWidget* page, bool visible);
bool PageVisible(const QWidget* page);
void ActivatePage(QWidget* page);
bool IsActivePage(const QWidget* page);

}  // namespace app

#include "app/controls.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <cstring>

namespace app {

QImage BitmapToImage(const platform::Bitmap& bmp) {
  if (bmp.Empty() || bmp.GetPixelFormat() != platform::PixelFormat::pf24bit) {
    if (bmp.Empty()) return QImage();
    // Other depths are shown through their gray or colour value byte by byte.
    QImage out(bmp.Width(), bmp.Height(), QImage::Format_RGB888);
    for (int y = 0; y < bmp.Height(); ++y) {
      const uint8_t* src = bmp.ScanLine(y);
      uchar* dst = out.scanLine(y);
      for (int x = 0; x < bmp.Width(); ++x) {
        uint8_t b = 0, g = 0, r = 0;
        switch (bmp.GetPixelFormat()) {
          case platform::PixelFormat::pf1bit: b = g = r = (src[x / 8] >> (7 - x % 8)) & 1 ? 255 : 0; break;
          case platform::PixelFormat::pf8bit: b = g = r = src[x]; break;
          default: b = src[4 * x]; g = src[4 * x + 1]; r = src[4 * x + 2]; break;
        }
        dst[3 * x] = r;
        dst[3 * x + 1] = g;
        dst[3 * x + 2] = b;
      }
    }
    return out;
  }
  QImage view(bmp.Bits(), bmp.Width(), bmp.Height(), static_cast<qsizetype>(bmp.Stride()), QImage::Format_BGR888);
  return view.copy();
}

platform::Bitmap ImageToBitmap(const QImage& image) {
  if (image.isNull()) return platform::Bitmap();
  const QImage bgr = image.convertToFormat(QImage::Format_BGR888);
  platform::Bitmap bmp(bgr.width(), bgr.height());
  for (int y = 0; y < bgr.height(); ++y) std::memcpy(bmp.ScanLine(y), bgr.constScanLine(y), bmp.RowBytes());
  return bmp;
}

// ---- TImage ----

TImage::TImage(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_OpaquePaintEvent, false); }

void TImage::SetPicture(const QImage& picture) {
  picture_ = picture;
  bitmap_ = platform::Bitmap();
  has_bitmap_ = false;
  PictureChanged();
}

void TImage::SetPicture(platform::Bitmap bmp) {
  // Only 24-bit pixels can be shown as they are; other depths become a toolkit image.
  has_bitmap_ = !bmp.Empty() && bmp.GetPixelFormat() == platform::PixelFormat::pf24bit;
  if (has_bitmap_) {
    bitmap_ = std::move(bmp);
    picture_ = QImage();
  } else {
    picture_ = BitmapToImage(bmp);
    bitmap_ = platform::Bitmap();
  }
  PictureChanged();
}

QImage& TImage::Picture() {
  if (has_bitmap_) {
    picture_ = BitmapToImage(bitmap_);
    bitmap_ = platform::Bitmap();
    has_bitmap_ = false;
  }
  return picture_;
}

QImage TImage::Image() const { return has_bitmap_ ? BitmapToImage(bitmap_) : picture_.copy(); }

QSize TImage::PictureSize() const {
  return has_bitmap_ ? QSize(bitmap_.Width(), bitmap_.Height()) : picture_.size();
}

void TImage::ClearPicture() { SetPicture(QImage()); }

void TImage::PictureChanged() {
  const QSize size = PictureSize();
  if (auto_size_ && !size.isEmpty()) setFixedSize(size);
  update();
}

void TImage::SetAutoSize(bool on) {
  auto_size_ = on;
  if (on && !PictureSize().isEmpty()) setFixedSize(PictureSize());
}

void TImage::SetStretch(bool on, bool proportional) {
  stretch_ = on;
  proportional_ = proportional;
  update();
}

void TImage::SetCenter(bool on) {
  center_ = on;
  update();
}

QSize TImage::sizeHint() const { return PictureSize().isEmpty() ? QWidget::sizeHint() : PictureSize(); }

void TImage::paintEvent(QPaintEvent* event) {
  if (PictureSize().isEmpty()) return;
  // A bitmap picture is wrapped for drawing, not copied: at zoom 4 it has 63 MB.
  const QImage shown = has_bitmap_ ? QImage(bitmap_.Bits(), bitmap_.Width(), bitmap_.Height(),
                                            static_cast<qsizetype>(bitmap_.Stride()), QImage::Format_BGR888)
                                   : picture_;
  QPainter p(this);
  QRect target(QPoint(0, 0), shown.size());
  if (!stretch_ && !center_) {
    // Only the part the scroll box shows is drawn.
    const QRect part = event->rect() & target;
    if (!part.isEmpty()) p.drawImage(part.topLeft(), shown, part);
    return;
  }
  if (stretch_) {
    QSize s = shown.size();
    s.scale(size(), proportional_ ? Qt::KeepAspectRatio : Qt::IgnoreAspectRatio);
    target.setSize(s);
  }
  if (center_) target.moveCenter(rect().center());
  p.drawImage(target, shown);
}

void TImage::mousePressEvent(QMouseEvent* event) {
  emit mousePressed(event);
  QWidget::mousePressEvent(event);
}

void TImage::mouseMoveEvent(QMouseEvent* event) {
  emit mouseMoved(event);
  QWidget::mouseMoveEvent(event);
}

void TImage::mouseReleaseEvent(QMouseEvent* event) {
  emit mouseReleased(event);
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit clicked();
  QWidget::mouseReleaseEvent(event);
}

void TImage::leaveEvent(QEvent* event) {
  emit mouseLeft();
  QWidget::leaveEvent(event);
}

// ---- TWaitCursor ----

TWaitCursor::TWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }

TWaitCursor::~TWaitCursor() { QApplication::restoreOverrideCursor(); }

// ---- TUpDown ----

TUpDown::TUpDown(QWidget* parent) : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  up_ = new QToolButton(this);
  up_->setArrowType(Qt::UpArrow);
  down_ = new QToolButton(this);
  down_->setArrowType(Qt::DownArrow);
  for (QToolButton* b : {up_, down_}) {
    b->setFixedSize(17, 12);
    b->setAutoRepeat(true);
    layout->addWidget(b);
  }
  connect(up_, &QToolButton::clicked, this, [this] { emit clicked(true); });
  connect(down_, &QToolButton::clicked, this, [this] { emit clicked(false); });
}

// ---- TShape ----

TShape::TShape(QWidget* parent) : QFrame(parent) {}

void TShape::SetBrushColor(const QColor& color) {
  color_ = color;
  update();
}

void TShape::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setPen(Qt::black);
  p.setBrush(color_);
  p.drawRect(rect().adjusted(0, 0, -1, -1));
}

// ---- TStatusBar ----

TStatusBar::TStatusBar(const std::vector<int>& widths, QWidget* parent) : QStatusBar(parent) {
  setSizeGripEnabled(true);
  for (size_t i = 0; i < widths.size(); ++i) {
    auto* panel = new QLabel(this);
    panel->setObjectName(QString("StatusBar1_Panel%1").arg(i));
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Sunken);
    panel->setMinimumWidth(widths[i]);
    if (i + 1 < widths.size()) panel->setMaximumWidth(widths[i]);
    addWidget(panel, i + 1 < widths.size() ? 0 : 1);
    panels_.push_back(panel);
  }
}

QLabel* TStatusBar::Panel(int index) const {
  return index >= 0 && index < PanelCount() ? panels_[static_cast<size_t>(index)] : nullptr;
}

void TStatusBar::SetPanelText(int index, const QString& text) {
  if (QLabel* p = Panel(index)) p->setText(text);
}

QString TStatusBar::PanelText(int index) const {
  QLabel* p = Panel(index);
  return p ? p->text() : QString();
}

// ---- captions and hints ----

void SetCaption(QObject* control, const QString& text) {
  if (!control) return;
  if (auto* a = qobject_cast<QAction*>(control)) {
    a->setText(text);
  } else if (auto* m = qobject_cast<QMenu*>(control)) {
    m->setTitle(text);
  } else if (auto* l = qobject_cast<QLabel*>(control)) {
    l->setText(text);
  } else if (auto* b = qobject_cast<QAbstractButton*>(control)) {
    b->setText(text);
  } else if (auto* g = qobject_cast<QGroupBox*>(control)) {
    g->setTitle(text);
  } else if (auto* w = qobject_cast<QWidget*>(control)) {
    if (QTabWidget* tabs = OwnerTabs(w)) {
      tabs->setTabText(tabs->indexOf(w), text);
    } else {
      w->setWindowTitle(text);
    }
  }
}

QString Caption(const QObject* control) {
  if (!control) return {};
  if (auto* a = qobject_cast<const QAction*>(control)) return a->text();
  if (auto* m = qobject_cast<const QMenu*>(control)) return m->title();
  if (auto* l = qobject_cast<const QLabel*>(control)) return l->text();
  if (auto* b = qobject_cast<const QAbstractButton*>(control)) return b->text();
  if (auto* g = qobject_cast<const QGroupBox*>(control)) return g->title();
  if (auto* w = qobject_cast<const QWidget*>(control)) {
    if (QTabWidget* tabs = OwnerTabs(w)) return tabs->tabText(tabs->indexOf(const_cast<QWidget*>(w)));
    return w->windowTitle();
  }
  return {};
}

void SetHint(QObject* control, const QString& text) {
  if (auto* a = qobject_cast<QAction*>(control)) {
    a->setToolTip(text);
  } else if (auto* w = qobject_cast<QWidget*>(control)) {
    w->setToolTip(text);
  }
}

QString Hint(const QObject* control) {
  if (auto* a = qobject_cast<const QAction*>(control)) return a->toolTip();
  if (auto* w = qobject_cast<const QWidget*>(control)) return w->toolTip();
  return {};
}

QTabWidget* OwnerTabs(const QWidget* page) {
  if (!page) return nullptr;
  auto* stack = qobject_cast<QStackedWidget*>(page->parentWidget());
  if (!stack) return nullptr;
  return qobject_cast<QTabWidget*>(stack->parentWidget());
}

void SetPageVisible(QWidget* page, bool visible) {
  if (QTabWidget* tabs = OwnerTabs(page)) tabs->setTabVisible(tabs->indexOf(page), visible);
}

bool PageVisible(const QWidget* page) {
  QTabWidget* tabs = OwnerTabs(page);
  return tabs && tabs->isTabVisible(tabs->indexOf(const_cast<QWidget*>(page)));
}

void ActivatePage(QWidget* page) {
  if (QTabWidget* tabs = OwnerTabs(page)) tabs->setCurrentWidget(page);
}

bool IsActivePage(const QWidget* page) {
  QTabWidget* tabs = OwnerTabs(page);
  return tabs && tabs->currentWidget() == page;
}

// ---- TRadioGroup ----

TRadioGroup::TRadioGroup(const QString& title, const std::vector<QString>& items, QWidget* parent)
    : QGroupBox(title, parent), group_(new QButtonGroup(this)) {
  auto* layout = new QVBoxLayout(this);
  for (const QString& text : items) {
    auto* item = new QRadioButton(text, this);
    group_->addButton(item, static_cast<int>(items_.size()));
    items_.push_back(item);
    layout->addWidget(item);
  }
  connect(group_, &QButtonGroup::idClicked, this, [this] { emit clicked(); });
}

QRadioButton* TRadioGroup::Item(int index) const {
  return index >= 0 && index < Count() ? items_[static_cast<size_t>(index)] : nullptr;
}

int TRadioGroup::ItemIndex() const { return group_->checkedId(); }

void TRadioGroup::SetItemIndex(int index) {
  if (QRadioButton* item = Item(index)) {
    item->setChecked(true);
    return;
  }
  // An exclusive group keeps one button checked: unchecking the last needs it relaxed.
  group_->setExclusive(false);
  for (QRadioButton* item : items_) item->setChecked(false);
  group_->setExclusive(true);
}

}  // namespace app

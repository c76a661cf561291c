// The main window's controls: menu, top panel, image area, the analysis pages with their
// inner pages, the status bar and the non-visual components. Captions written here are the
// design-time texts; the language file replaces those it names.
#include <QAction>
#include <QButtonGroup>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <QSplitter>
#include <QStyle>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/hr_main.h"

namespace app {
namespace {

// Field and name in one argument list: C(MaskDotAreaRes) gives the field and "MaskDotAreaRes".
#define C(field) field, #field

template <typename T>
T* Name(T*& field, const char* name, T* widget) {
  widget->setObjectName(name);
  field = widget;
  return widget;
}

QLabel* Lbl(QLabel*& field, const char* name, QWidget* parent, const QString& text) {
  return Name(field, name, new QLabel(text, parent));
}

// A result value: larger and bold, so that it reads from a distance.
QLabel* Value(QLabel*& field, const char* name, QWidget* parent, const QString& text) {
  QLabel* l = Lbl(field, name, parent, text);
  QFont f = l->font();
  f.setPointSizeF(f.pointSizeF() * 1.5);
  f.setBold(true);
  l->setFont(f);
  l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  l->setMinimumWidth(110);
  return l;
}

QToolButton* Tool(QToolButton*& field, const char* name, QWidget* parent, const QString& text,
                  bool checkable = false) {
  auto* b = Name(field, name, new QToolButton(parent));
  b->setText(text);
  b->setCheckable(checkable);
  b->setToolButtonStyle(Qt::ToolButtonTextOnly);
  b->setMinimumHeight(26);
  b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  return b;
}

QPushButton* Push(QPushButton*& field, const char* name, QWidget* parent, const QString& text) {
  return Name(field, name, new QPushButton(text, parent));
}

QLineEdit* Edit(QLineEdit*& field, const char* name, QWidget* parent, const QString& text, int width = 70) {
  auto* e = Name(field, name, new QLineEdit(text, parent));
  e->setMaximumWidth(width);
  return e;
}

QWidget* Panel(QWidget*& field, const char* name, QWidget* parent) {
  auto* f = new QFrame(parent);
  f->setFrameShape(QFrame::StyledPanel);
  f->setFrameShadow(QFrame::Raised);
  f->setObjectName(name);
  field = f;
  return f;
}

QWidget* Page(QWidget*& field, const char* name, QTabWidget* tabs, const QString& caption) {
  auto* w = new QWidget;
  w->setObjectName(name);
  field = w;
  tabs->addTab(w, caption);
  return w;
}

QTabWidget* Tabs(QTabWidget*& field, const char* name, QWidget* parent) {
  return Name(field, name, new QTabWidget(parent));
}

TImage* Picture(TImage*& field, const char* name, QWidget* parent, int w, int h) {
  auto* img = Name(field, name, new TImage(parent));
  img->setFixedSize(w, h);
  return img;
}

QTableWidget* StatGrid(QTableWidget*& field, const char* name, QWidget* parent) {
  auto* g = Name(field, name, new QTableWidget(6, 3, parent));
  g->horizontalHeader()->setVisible(false);
  g->verticalHeader()->setVisible(false);
  g->horizontalHeader()->setDefaultSectionSize(94);
  g->verticalHeader()->setDefaultSectionSize(18);
  g->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  g->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  g->setEditTriggers(QAbstractItemView::NoEditTriggers);
  g->setFixedSize(3 * 94 + 4, 6 * 18 + 4);
  for (int r = 0; r < 6; ++r) {
    for (int c = 0; c < 3; ++c) g->setItem(r, c, new QTableWidgetItem());
  }
  return g;
}

// The add and delete buttons of a statistic tab are a group of which at most one is down:
// pressing one releases the other, and pressing the one that is down releases it.
void AllowAllUpGroup(QToolButton* a, QToolButton* b) {
  QObject::connect(a, &QToolButton::toggled, b, [b](bool down) {
    if (down) b->setChecked(false);
  });
  QObject::connect(b, &QToolButton::toggled, a, [a](bool down) {
    if (down) a->setChecked(false);
  });
}

// The result panels stack at the top of their page in the order they are made visible.
QGridLayout* PanelGrid(QWidget* panel) {
  auto* g = new QGridLayout(panel);
  g->setContentsMargins(6, 3, 6, 3);
  g->setHorizontalSpacing(8);
  g->setVerticalSpacing(1);
  g->setColumnStretch(0, 1);
  return g;
}

QWidget* ButtonRow(QVBoxLayout* page_layout, QWidget* page, const std::vector<QToolButton*>& buttons) {
  auto* row = new QWidget(page);
  auto* g = new QGridLayout(row);
  g->setContentsMargins(0, 0, 0, 0);
  g->setSpacing(2);
  for (size_t i = 0; i < buttons.size(); ++i) {
    buttons[i]->setParent(row);
    g->addWidget(buttons[i], static_cast<int>(i / 3), static_cast<int>(i % 3));
  }
  page_layout->addWidget(row);
  return row;
}

// Glyphs of the tool buttons, drawn so that no picture file is needed.
QIcon Glyph(const QString& kind) {
  QPixmap pm(32, 32);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const QColor dark(40, 60, 90);
  p.setPen(QPen(dark, 2));
  if (kind == "preview") {
    p.setBrush(QColor(200, 220, 240));
    p.drawRoundedRect(3, 9, 20, 15, 3, 3);
    p.setBrush(dark);
    p.drawPolygon(QPolygon({QPoint(23, 13), QPoint(30, 9), QPoint(30, 24), QPoint(23, 20)}));
  } else if (kind == "capture") {
    p.setBrush(QColor(210, 30, 30));
    p.drawEllipse(QPoint(16, 16), 11, 11);
  } else if (kind == "zero") {
    p.setBrush(Qt::white);
    p.drawRect(4, 4, 24, 24);
    QFont f = p.font();
    f.setBold(true);
    f.setPixelSize(18);
    p.setFont(f);
    p.drawText(QRect(4, 4, 24, 24), Qt::AlignCenter, "0");
  } else if (kind == "zoom" || kind == "unzoom") {
    p.setBrush(QColor(230, 240, 250));
    p.drawEllipse(QPoint(13, 13), 9, 9);
    p.setPen(QPen(dark, 4));
    p.drawLine(20, 20, 29, 29);
    p.setPen(QPen(dark, 2));
    if (kind == "zoom") {
      p.drawLine(9, 13, 17, 13);
      p.drawLine(13, 9, 13, 17);
    } else {
      QFont f = p.font();
      f.setPixelSize(9);
      f.setBold(true);
      p.setFont(f);
      p.drawText(QRect(4, 4, 18, 18), Qt::AlignCenter, "1:1");
    }
  } else if (kind == "density") {
    QLinearGradient g(4, 0, 28, 0);
    g.setColorAt(0, Qt::white);
    g.setColorAt(1, Qt::black);
    p.setBrush(g);
    p.drawRect(4, 6, 24, 20);
  } else if (kind == "report") {
    p.setBrush(Qt::white);
    p.drawRect(7, 3, 18, 26);
    p.setPen(QPen(QColor(200, 30, 30), 2));
    for (int y = 9; y <= 23; y += 5) p.drawLine(10, y, 22, y);
  } else if (kind == "database") {
    p.setBrush(QColor(230, 200, 120));
    p.drawRect(6, 8, 20, 17);
    p.drawEllipse(6, 4, 20, 8);
    p.drawArc(6, 21, 20, 8, 180 * 16, 180 * 16);
  }
  return QIcon(pm);
}

QToolButton* TopButton(QToolButton*& field, const char* name, QWidget* parent, const QIcon& icon,
                       bool checkable = false) {
  auto* b = Name(field, name, new QToolButton(parent));
  b->setIcon(icon);
  b->setIconSize(QSize(28, 28));
  b->setCheckable(checkable);
  b->setAutoRaise(true);
  b->setFixedSize(40, 40);
  return b;
}

}  // namespace

void THRMainFrm::CreateControls() {
  setObjectName("HRMainFrm");
  setWindowTitle("QUIRVEL");
  resize(1600, 1000);

  CreateMenu();

  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->setSpacing(2);
  CreateTopPanel(central);
  layout->addWidget(Panel1);

  auto* body = new QSplitter(Qt::Horizontal, central);
  ScrollBox1 = new QScrollArea(body);
  ScrollBox1->setObjectName("ScrollBox1");
  ScrollBox1->setBackgroundRole(QPalette::Dark);
  AnalyseImage = new TImage;
  AnalyseImage->setObjectName("AnalyseImage");
  AnalyseImage->SetAutoSize(true);
  ScrollBox1->setWidget(AnalyseImage);
  ScrollBox1->setWidgetResizable(false);

  Analyzepages = new QTabWidget(body);
  Analyzepages->setObjectName("Analyzepages");
  Analyzepages->setMinimumWidth(420);
  Page(C(LAMS), Analyzepages, "LAMS Mask");
  Page(C(Plate), Analyzepages, "Plate");
  Page(C(STRUCTURE), Analyzepages, "Structure");
  Page(C(FILM), Analyzepages, "Film");
  Page(C(Camera), Analyzepages, "Camera");
  Page(C(CALIBRATION), Analyzepages, "Calibration");
  body->addWidget(ScrollBox1);
  body->addWidget(Analyzepages);
  body->setStretchFactor(0, 1);
  body->setStretchFactor(1, 0);
  body->setSizes({1150, 440});
  layout->addWidget(body, 1);
  setCentralWidget(central);

  CreateMaskPage();
  CreatePlatePage();
  CreateStructurePage();
  CreateFilmPage();
  CreateCameraPage();
  CreateCalibrationPage();

  StatusBar1 = new TStatusBar({60, 45, 45, 95, 45, 380, 380, 45, 60}, this);
  StatusBar1->setObjectName("StatusBar1");
  setStatusBar(StatusBar1);

  CreateNonVisual();
}

void THRMainFrm::CreateMenu() {
  MainMenu1 = menuBar();
  MainMenu1->setObjectName("MainMenu1");
  auto menu = [this](QMenu*& field, const char* name, const QString& title) {
    field = MainMenu1->addMenu(title);
    field->setObjectName(name);
    field->menuAction()->setObjectName(QString(name) + "Action");
  };
  auto item = [this](QAction*& field, const char* name, QMenu* m, const QString& text,
                     const QKeySequence& key = QKeySequence()) {
    field = m->addAction(text);
    field->setObjectName(name);
    if (!key.isEmpty()) field->setShortcut(key);
  };
  menu(C(File1), "File");
  item(C(LoadImage1), File1, "Load Image");
  item(C(SaveImage1), File1, "Save Image");
  item(C(Settings1), File1, "Settings");
  File1->addSeparator();
  item(C(OpenDatabase1), File1, "Open Database");
  item(C(CreateDatabase1), File1, "Create Database");
  File1->addSeparator();
  item(C(Close1), File1, "Close");
  menu(C(Tools1), "Tools");
  item(C(Preview1), Tools1, "Preview", QKeySequence(Qt::Key_F2));
  item(C(Capture1), Tools1, "Capture", QKeySequence(Qt::Key_F3));
  item(C(Analyze1), Tools1, "Analyze", QKeySequence(Qt::Key_F4));
  item(C(Alternative1), Tools1, "Alternative", QKeySequence(Qt::Key_F5));
  item(C(FFT1), Tools1, "FFT");
  menu(C(Device1), "Device");
  item(C(Video1), Device1, "Video", QKeySequence(Qt::CTRL | Qt::Key_K));
  Video1->setVisible(false);
  item(C(Connect1), Device1, "Connect");
  item(C(Calibrate1), Device1, "Calibration");
  Calibrate1->setVisible(false);
  menu(C(Help1), "Help");
  item(C(About1), Help1, "About");
  item(C(Help2), Help1, "Help");

  SharpMenu = new QMenu(this);
  SharpMenu->setObjectName("SharpMenu");
  item(C(SaveSharpness), SharpMenu, "Save Sharpness");
  item(C(ClearSharpness), SharpMenu, "Clear Sharpness");
}

void THRMainFrm::CreateTopPanel(QWidget* parent) {
  Panel1 = new QFrame(parent);
  Panel1->setObjectName("Panel1");
  static_cast<QFrame*>(Panel1)->setFrameShape(QFrame::StyledPanel);
  auto* row = new QHBoxLayout(Panel1);
  row->setContentsMargins(4, 2, 4, 2);
  row->setSpacing(2);
  QStyle* s = style();
  row->addWidget(TopButton(C(Refreshbtn), Panel1, Glyph("preview")));
  row->addWidget(TopButton(C(Capturebtn), Panel1, Glyph("capture")));
  auto* zero = TopButton(C(ZeroTRBtn), Panel1, Glyph("zero"));
  zero->setText("ZERO!");
  zero->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  zero->setIconSize(QSize(20, 20));
  zero->setFixedSize(78, 40);
  row->addWidget(zero);
  row->addWidget(TopButton(C(Zoombtn), Panel1, Glyph("zoom")));
  row->addWidget(TopButton(C(UnZoombtn), Panel1, Glyph("unzoom")));
  row->addWidget(TopButton(C(Densitybtn), Panel1, Glyph("density"), true));
  row->addWidget(TopButton(C(Savebtn), Panel1, s->standardIcon(QStyle::SP_DialogSaveButton)));
  row->addWidget(TopButton(C(Loadbtn), Panel1, s->standardIcon(QStyle::SP_DialogOpenButton)));
  row->addWidget(TopButton(C(Reportbtn), Panel1, Glyph("report")));
  row->addWidget(TopButton(C(OpenDBbtn), Panel1, Glyph("database")));
  row->addSpacing(8);

  auto bar = [&](QWidget*& panel, const char* panel_name, QSlider*& slider, const char* slider_name, int lo, int hi,
                 TUpDown*& updown, const char* updown_name, QLabel*& ruler, const char* ruler_name,
                 const QString& title) {
    Panel(panel, panel_name, Panel1);
    auto* g = new QGridLayout(panel);
    g->setContentsMargins(4, 1, 4, 1);
    g->setSpacing(2);
    g->addWidget(new QLabel(title, panel), 0, 0, 1, 3);
    Name(slider, slider_name, new QSlider(Qt::Horizontal, panel));
    slider->setRange(lo, hi);
    slider->setValue(0);
    slider->setTickPosition(QSlider::TicksBelow);
    slider->setMinimumWidth(150);
    g->addWidget(slider, 1, 0);
    Name(updown, updown_name, new TUpDown(panel));
    g->addWidget(updown, 1, 1);
    Lbl(ruler, ruler_name, panel, "0");
    ruler->setMinimumWidth(24);
    g->addWidget(ruler, 1, 2);
    row->addWidget(panel);
  };
  bar(C(Panel9), C(DisplayBrBar), -10, 20, C(ChgBRBar), C(BRRulerLabel), "Brightness");
  bar(C(Panel10), C(DisplayGammaBar), -10, 10, C(ChgGammabar), C(GammaRulerLabel), "Gamma");

  Name(SharpSpinEdit, "SharpSpinEdit", new QSpinBox(Panel1));
  SharpSpinEdit->setRange(0, 10);
  SharpSpinEdit->setValue(1);
  SharpSpinEdit->setToolTip("Sharpness filter (Default = 1)");
  row->addWidget(SharpSpinEdit);
  row->addWidget(Picture(C(Image2), Panel1, 40, 40));

  Panel(C(SharpPanel), Panel1);
  {
    auto* g = new QHBoxLayout(SharpPanel);
    g->setContentsMargins(2, 1, 2, 1);
    g->addWidget(Picture(C(CrystalImg), SharpPanel, 32, 32));
    g->addWidget(Lbl(C(Varianzlabel), SharpPanel, "0"));
    g->addWidget(Lbl(C(VarDiffLabel), SharpPanel, "0"));
  }
  SharpPanel->setVisible(false);
  row->addWidget(SharpPanel);
  Name(BRBar, "BRBar", new QScrollBar(Qt::Horizontal, Panel1));
  BRBar->setRange(-4, 6);
  BRBar->setMinimumWidth(100);
  BRBar->setVisible(false);
  row->addWidget(BRBar);
  row->addWidget(Lbl(C(BRBarLabel), Panel1, "0"));
  BRBarLabel->setVisible(false);
  Name(BRShape, "BRShape", new TShape(Panel1));
  BRShape->setFixedSize(20, 20);
  BRShape->setVisible(false);
  row->addWidget(BRShape);

  row->addStretch(1);
  Name(MainProgress, "MainProgress", new QProgressBar(Panel1));
  MainProgress->setRange(0, 100);
  MainProgress->setValue(0);
  MainProgress->setMaximumWidth(160);
  row->addWidget(MainProgress);
  row->addWidget(Picture(C(VOSKALogo), Panel1, 200, 78));
}

void THRMainFrm::CreateMaskPage() {
  auto* l = new QVBoxLayout(LAMS);
  l->setSpacing(3);
  ButtonRow(l, LAMS,
            {Tool(C(AnalyzeMaskbtn), LAMS, "Dot Area"), Tool(C(AnalyzeMaskStruct), LAMS, "Pixel Pattern"),
             Tool(C(AutoLine), LAMS, "Line Pattern"), Tool(C(ManMaskbtn), LAMS, "Manual", true),
             Tool(C(LineBtn), LAMS, "Line Width", true), Tool(C(FixLAMSScreenbtn), LAMS, "Fix Screen", true)});
  Picture(C(SharpResImgMask), LAMS, 16, 16)->setVisible(false);
  Lbl(C(SharpResLabelMask), LAMS, "")->setVisible(false);

  {
    auto* g = PanelGrid(Panel(C(LAMSDotAreaPanel), LAMS));
    g->addWidget(Lbl(C(DotAreaCapMask), LAMSDotAreaPanel, "Dot Area"), 0, 0);
    g->addWidget(Value(C(MaskDotAreaRes), LAMSDotAreaPanel, "---%"), 0, 1);
  }
  {
    auto* g = PanelGrid(Panel(C(LAMSSRPanel), LAMS));
    g->addWidget(Lbl(C(LCMlabelMask), LAMSSRPanel, "L/cm"), 0, 0);
    g->addWidget(Value(C(LCMResult), LAMSSRPanel, "---"), 0, 1);
    g->addWidget(Lbl(C(AlphaCapMask), LAMSSRPanel, "Alpha"), 1, 0);
    g->addWidget(Value(C(AlphaRes), LAMSSRPanel, QString::fromUtf8("---°")), 1, 1);
  }
  {
    auto* g = PanelGrid(Panel(C(LAMSDotDetailspanel), LAMS));
    g->addWidget(Lbl(C(EdgefaktorTitle), LAMSDotDetailspanel, "Edge Factor"), 0, 0);
    g->addWidget(Value(C(LAMSEdgeFaktorRes), LAMSDotDetailspanel, "-.--"), 0, 1);
  }
  {
    auto* g = PanelGrid(Panel(C(LAMSFreqPanel), LAMS));
    g->addWidget(Lbl(C(FreqTitleLabel), LAMSFreqPanel, "Frequency"), 0, 0);
    g->addWidget(Lbl(C(FreqLabel), LAMSFreqPanel, "/mm"), 0, 1);
    g->addWidget(Lbl(C(CycleLabel), LAMSFreqPanel, "Cycle"), 1, 0);
    g->addWidget(Lbl(C(PeriodeLabel), LAMSFreqPanel, QString::fromUtf8("µm")), 1, 1);
  }
  {
    auto* g = PanelGrid(Panel(C(LamsLineWidthPanel), LAMS));
    g->addWidget(Lbl(C(LineWidthLabel), LamsLineWidthPanel, "Line Width"), 0, 0);
    g->addWidget(Value(C(LineWidthRes), LamsLineWidthPanel, "---"), 0, 1);
    g->addWidget(Lbl(C(LWMicronsLabel), LamsLineWidthPanel, QString::fromUtf8("µm")), 0, 2);
  }
  for (QWidget* p : {LAMSDotAreaPanel, LAMSSRPanel, LAMSDotDetailspanel, LAMSFreqPanel, LamsLineWidthPanel}) {
    l->addWidget(p);
    p->setVisible(false);
  }
  l->addStretch(1);

  Tabs(C(MaskPageControl), LAMS);
  l->addWidget(MaskPageControl);
  Page(C(MaskValues), MaskPageControl, "Values");
  {
    auto* g = new QGridLayout(MaskValues);
    g->addWidget(Lbl(C(CountCapMask), MaskValues, "Count"), 0, 1);
    g->addWidget(Lbl(C(DotDiameterCapMask), MaskValues, "Diameter"), 0, 2);
    g->addWidget(Lbl(C(DotSizeCapMask), MaskValues, "Dot Size"), 0, 3);
    g->addWidget(Lbl(C(AvgCapMask), MaskValues, "Average"), 1, 0);
    g->addWidget(Lbl(C(CountValue), MaskValues, "..."), 1, 1);
    g->addWidget(Lbl(C(DotDiameterValue), MaskValues, "..."), 1, 2);
    g->addWidget(Lbl(C(DotSizeValue), MaskValues, "..."), 1, 3);
    g->addWidget(Lbl(C(DotAreammG), MaskValues, "> + Tolerance"), 2, 0);
    g->addWidget(Lbl(C(CountValueG), MaskValues, "..."), 2, 1);
    g->addWidget(Lbl(C(DotDiameterValueG), MaskValues, "..."), 2, 2);
    g->addWidget(Lbl(C(DotSizeValueG), MaskValues, "..."), 2, 3);
    g->addWidget(Lbl(C(DotAreammK), MaskValues, "< - Tolerance"), 3, 0);
    g->addWidget(Lbl(C(CountValueK), MaskValues, "..."), 3, 1);
    g->addWidget(Lbl(C(DotDiameterValueK), MaskValues, "..."), 3, 2);
    g->addWidget(Lbl(C(DotSizeValueK), MaskValues, "..."), 3, 3);
    g->addWidget(Lbl(C(StdDevCapMask), MaskValues, "Std. Dev."), 4, 0);
    g->addWidget(Lbl(C(StdDevRes), MaskValues, "..."), 4, 2);
    g->addWidget(Lbl(C(DotSizeStdDev), MaskValues, "..."), 4, 3);
    g->setRowStretch(5, 1);
  }
  Page(C(MaskParameter), MaskPageControl, "Parameter");
  {
    auto* g = new QGridLayout(MaskParameter);
    g->addWidget(Lbl(C(DotTolCapMask), MaskParameter, "Tolerance"), 0, 0);
    g->addWidget(Edit(C(TolEdit), MaskParameter, "10"), 0, 1);
    g->addWidget(new QLabel("%", MaskParameter), 0, 2);
    g->addWidget(Name(DiameterRB, "DiameterRB", new QRadioButton("Diameter", MaskParameter)), 1, 0);
    g->addWidget(Name(SizeRB, "SizeRB", new QRadioButton("Dot Size", MaskParameter)), 1, 1);
    g->addWidget(Name(AreaRB, "AreaRB", new QRadioButton("Dot Area", MaskParameter)), 1, 2);
    DiameterRB->setChecked(true);
    g->addWidget(Lbl(C(PixelPatternLabel), MaskParameter, "L/cm"), 2, 0);
    g->addWidget(Edit(C(WSILcm), MaskParameter, ""), 2, 1);
    g->addWidget(Lbl(C(LineLengthMaskLabel), MaskParameter, "Line Length"), 3, 0);
    g->addWidget(Edit(C(LineLenEdit), MaskParameter, "500"), 3, 1);
    g->addWidget(Lbl(C(Densthlabel), MaskParameter, "Density threshold"), 4, 0);
    g->setRowStretch(5, 1);
  }
  Page(C(MaskStatTab), MaskPageControl, "Statistic");
  {
    auto* g = new QGridLayout(MaskStatTab);
    auto* buttons = new QHBoxLayout();
    for (auto* b : {Tool(C(NewStatbtn), MaskStatTab, "New"), Tool(C(StatPlusbtn), MaskStatTab, "+", true),
                    Tool(C(StatDelBtn), MaskStatTab, "-", true), Tool(C(StatSavebtn), MaskStatTab, "Save"),
                    Tool(C(StatPDFbtn), MaskStatTab, "PDF")}) {
      buttons->addWidget(b);
    }
    g->addLayout(buttons, 0, 0, 1, 2);
    g->addWidget(Picture(C(StatMaskImg), MaskStatTab, 48, 48), 1, 0, Qt::AlignTop);
    StatMaskImg->SetStretch(true);
    g->addWidget(StatGrid(C(MaskGrid), MaskStatTab), 1, 1);
    AllowAllUpGroup(StatPlusbtn, StatDelBtn);
    g->setRowStretch(2, 1);
  }
}

void THRMainFrm::CreatePlatePage() {
  auto* l = new QVBoxLayout(Plate);
  l->setSpacing(3);
  ButtonRow(l, Plate,
            {Tool(C(AnalyzePlateBtn), Plate, "Dot Area"), Tool(C(DotAnalyze2TH), Plate, "Dot Area ST"),
             Tool(C(DotNXPixel), Plate, "Pixel"), Tool(C(BurlDotbtn), Plate, "Burl"),
             Tool(C(Alternativebtn), Plate, "Alternative"), Tool(C(ManPlatebtn), Plate, "Manual", true),
             Tool(C(FLinebtn), Plate, "Line Width", true), Tool(C(FixScreenbtn), Plate, "Fix Screen", true),
             Tool(C(LocalDensbtn), Plate, "Structure")});
  Picture(C(SharpResImgP), Plate, 16, 16)->setVisible(false);
  Lbl(C(SharpResLabelP), Plate, "")->setVisible(false);
  {
    auto* g = PanelGrid(Panel(C(PDotAreaPanel), Plate));
    g->addWidget(Lbl(C(DotAreaCapPlate), PDotAreaPanel, "Dot Area"), 0, 0);
    g->addWidget(Value(C(PlateDotAreaRes), PDotAreaPanel, "---%"), 0, 1);
    g->addWidget(Lbl(C(LCMLabelPlate), PDotAreaPanel, "L/cm"), 1, 0);
    g->addWidget(Value(C(PlateLCMResult), PDotAreaPanel, "---"), 1, 1);
    g->addWidget(Lbl(C(AlphaCapPlate), PDotAreaPanel, "Alpha"), 2, 0);
    g->addWidget(Value(C(PlateAlphaRes), PDotAreaPanel, QString::fromUtf8("---°")), 2, 1);
    g->addWidget(Lbl(C(DotDiameterCapPlate), PDotAreaPanel, "Diameter"), 3, 0);
    g->addWidget(Value(C(PlateDotDiameterRes), PDotAreaPanel, "---"), 3, 1);
    g->addWidget(Lbl(C(DDPlateUnit), PDotAreaPanel, QString::fromUtf8("µm")), 3, 2);
    g->addWidget(Lbl(C(EdgeFactorCapPlate), PDotAreaPanel, "Edge Factor"), 4, 0);
    g->addWidget(Value(C(EFRes), PDotAreaPanel, "---"), 4, 1);
    g->addWidget(Lbl(C(StdDevCapPlate), PDotAreaPanel, "Std. Dev."), 5, 0);
    g->addWidget(Value(C(StdDevPlate), PDotAreaPanel, "---"), 5, 1);
    g->addWidget(Lbl(C(StdPlateUnit), PDotAreaPanel, QString::fromUtf8("µm")), 5, 2);
  }
  {
    auto* g = PanelGrid(Panel(C(PLinePanel), Plate));
    g->addWidget(Lbl(C(PlateLineWidthLabel), PLinePanel, "Line Width"), 0, 0);
    g->addWidget(Value(C(FLineWidthRes), PLinePanel, "---"), 0, 1);
    g->addWidget(Lbl(C(FLineWidthUnit), PLinePanel, QString::fromUtf8("µm")), 0, 2);
  }
  for (QWidget* p : {PDotAreaPanel, PLinePanel}) {
    l->addWidget(p);
    p->setVisible(false);
  }
  l->addStretch(1);

  Tabs(C(PlatePageControl), Plate);
  l->addWidget(PlatePageControl);
  Page(C(PlateParameter), PlatePageControl, "Parameter");
  {
    auto* g = new QGridLayout(PlateParameter);
    g->addWidget(Lbl(C(DotTolCapPlate), PlateParameter, "Tolerance"), 0, 0);
    g->addWidget(Edit(C(PlateDotTol), PlateParameter, "10"), 0, 1);
    g->addWidget(new QLabel("%", PlateParameter), 0, 2);
    g->addWidget(new QLabel("Threshold", PlateParameter), 1, 0);
    Name(PlateTHBar, "PlateTHBar", new QSlider(Qt::Horizontal, PlateParameter));
    PlateTHBar->setRange(-10, 30);
    PlateTHBar->setValue(0);
    g->addWidget(PlateTHBar, 1, 1);
    g->addWidget(Lbl(C(StructContrast), PlateParameter, "0"), 1, 2);
    g->addWidget(Lbl(C(DensthlabelPlate), PlateParameter, "Density threshold"), 2, 0);
    g->addWidget(Edit(C(PlateDensEdit), PlateParameter, "0.0"), 2, 1);
    DensthlabelPlate->setVisible(false);
    PlateDensEdit->setVisible(false);
    g->addWidget(new QLabel(QString::fromUtf8("Largest burl (µm)"), PlateParameter), 3, 0);
    g->addWidget(Edit(C(SizeLimit), PlateParameter, "20"), 3, 1);
    g->addWidget(Lbl(C(LineLengthPlateLabel), PlateParameter, "Line Length"), 4, 0);
    g->addWidget(Edit(C(FLineLenEdit), PlateParameter, "500"), 4, 1);
    g->setRowStretch(5, 1);
  }
  Page(C(PlateStatTab), PlatePageControl, "Statistic");
  {
    auto* g = new QGridLayout(PlateStatTab);
    auto* buttons = new QHBoxLayout();
    for (auto* b : {Tool(C(NewPStatbtn), PlateStatTab, "New"), Tool(C(StatPPlusbtn), PlateStatTab, "+", true),
                    Tool(C(StatPDelbtn), PlateStatTab, "-", true), Tool(C(StatPSavebtn), PlateStatTab, "Save"),
                    Tool(C(StatPPDFbtn), PlateStatTab, "PDF")}) {
      buttons->addWidget(b);
    }
    g->addLayout(buttons, 0, 0, 1, 2);
    g->addWidget(Picture(C(StatPlateImg), PlateStatTab, 48, 48), 1, 0, Qt::AlignTop);
    StatPlateImg->SetStretch(true);
    g->addWidget(StatGrid(C(PlateGrid), PlateStatTab), 1, 1);
    AllowAllUpGroup(StatPPlusbtn, StatPDelbtn);
    g->setRowStretch(2, 1);
  }
}

void THRMainFrm::CreateStructurePage() {
  auto* l = new QVBoxLayout(STRUCTURE);
  l->setSpacing(3);
  ButtonRow(l, STRUCTURE,
            {Tool(C(StructureStreifen), STRUCTURE, "Structure"),
             Tool(C(AnalyzeStructurebtn), STRUCTURE, "Pattern Area"),
             Tool(C(StructAutoLine), STRUCTURE, "Line Pattern"), Tool(C(Diffbtn), STRUCTURE, "Diff")});
  Diffbtn->setVisible(false);
  Picture(C(SharpResImgStr), STRUCTURE, 16, 16)->setVisible(false);
  Lbl(C(SharpResLabelStr), STRUCTURE, "")->setVisible(false);
  {
    auto* g = PanelGrid(Panel(C(PlateStructPanel), STRUCTURE));
    g->addWidget(Lbl(C(DotCapStruct), PlateStructPanel, "Structure"), 0, 0);
    g->addWidget(Value(C(SDotAreaRes), PlateStructPanel, "---%"), 0, 1);
  }
  {
    auto* g = PanelGrid(Panel(C(PlateStructAreaPanel), STRUCTURE));
    g->addWidget(Lbl(C(DotAreaCapStruct), PlateStructAreaPanel, "Structure Area"), 0, 0);
    g->addWidget(Value(C(SStructAreaREs), PlateStructAreaPanel, "---%"), 0, 1);
  }
  {
    auto* g = PanelGrid(Panel(C(StructLCMPanel), STRUCTURE));
    g->addWidget(Lbl(C(StructLCMLabel), StructLCMPanel, "L/cm"), 0, 0);
    g->addWidget(Value(C(SLCMResult), StructLCMPanel, "---"), 0, 1);
    g->addWidget(Lbl(C(AlphaCapStruct), StructLCMPanel, "Alpha"), 1, 0);
    g->addWidget(Value(C(SAlphaRes), StructLCMPanel, QString::fromUtf8("---°")), 1, 1);
  }
  {
    auto* g = PanelGrid(Panel(C(PlateLineStructPanel), STRUCTURE));
    g->addWidget(Lbl(C(PlateLineStructLabel), PlateLineStructPanel, "Line Structure"), 0, 0);
    g->addWidget(Value(C(PLineStructRes), PlateLineStructPanel, "---"), 0, 1);
    g->addWidget(Lbl(C(StructureCycleLabel), PlateLineStructPanel, "Cycle"), 1, 0);
    g->addWidget(Lbl(C(PeriodePlate), PlateLineStructPanel, ""), 1, 1);
    g->addWidget(Lbl(C(StructureFreqLabel), PlateLineStructPanel, "Frequency"), 2, 0);
    g->addWidget(Lbl(C(FreqPlate), PlateLineStructPanel, ""), 2, 1);
  }
  for (QWidget* p : {PlateStructPanel, PlateStructAreaPanel, StructLCMPanel, PlateLineStructPanel}) {
    l->addWidget(p);
    p->setVisible(false);
  }
  l->addStretch(1);

  Tabs(C(StructurePageControl), STRUCTURE);
  l->addWidget(StructurePageControl);
  Page(C(StructValuesPage), StructurePageControl, "Values");
  {
    auto* g = new QGridLayout(StructValuesPage);
    auto* w = StructValuesPage;
    g->addWidget(Lbl(C(CountCapStruct), w, "Count"), 0, 1);
    g->addWidget(Lbl(C(DotDiameterCapStruct), w, "Diameter"), 0, 2);
    g->addWidget(Lbl(C(DotSizeCapStruct), w, "Dot Size"), 0, 3);
    g->addWidget(Lbl(C(AvgCapStruct), w, "Average"), 1, 0);
    g->addWidget(Lbl(C(SCountValue), w, "..."), 1, 1);
    g->addWidget(Lbl(C(SDotDiameterValue), w, "..."), 1, 2);
    g->addWidget(Lbl(C(SDotSizeValue), w, "..."), 1, 3);
    g->addWidget(Lbl(C(StructmmG), w, "> + Tolerance"), 2, 0);
    g->addWidget(Lbl(C(SCountValueG), w, "..."), 2, 1);
    g->addWidget(Lbl(C(SDotDiameterValueG), w, "..."), 2, 2);
    g->addWidget(Lbl(C(SDotSizeValueG), w, "..."), 2, 3);
    g->addWidget(Lbl(C(StructmmK), w, "< - Tolerance"), 3, 0);
    g->addWidget(Lbl(C(SCountValueK), w, "..."), 3, 1);
    g->addWidget(Lbl(C(SDotDiameterValueK), w, "..."), 3, 2);
    g->addWidget(Lbl(C(SDotSizeValueK), w, "..."), 3, 3);
    g->addWidget(new QLabel("Std. Dev.", w), 4, 0);
    g->addWidget(Lbl(C(SStdDevRes), w, "..."), 4, 2);
    g->addWidget(Lbl(C(SDotSizeStdDev), w, "..."), 4, 3);
    g->setRowStretch(5, 1);
  }
  Page(C(StructParPage), StructurePageControl, "Parameter");
  {
    auto* g = new QGridLayout(StructParPage);
    auto* w = StructParPage;
    g->addWidget(Lbl(C(DotTolCap), w, "Tolerance"), 0, 0);
    g->addWidget(Edit(C(TolEditPlate), w, "10"), 0, 1);
    g->addWidget(Name(DiameterRBPlate, "DiameterRBPlate", new QRadioButton("Diameter", w)), 1, 0);
    g->addWidget(Name(SizeRBPlate, "SizeRBPlate", new QRadioButton("Dot Size", w)), 1, 1);
    g->addWidget(Name(AreaRBPlate, "AreaRBPlate", new QRadioButton("Dot Area", w)), 1, 2);
    DiameterRBPlate->setChecked(true);
    g->addWidget(Lbl(C(PixelPatternPlateLabel), w, "L/cm"), 2, 0);
    g->addWidget(Edit(C(WSILcmPlate), w, ""), 2, 1);
    g->addWidget(Lbl(C(LineLengthLabel), w, "Line Length"), 3, 0);
    g->addWidget(Edit(C(LineLenEditPlate), w, "500"), 3, 1);
    g->addWidget(new QLabel("Gamma", w), 4, 0);
    g->addWidget(Edit(C(GammaEdit), w, "1.0"), 4, 1);
    g->addWidget(Push(C(Gammabtn), w, "Gamma"), 4, 2);
    g->setRowStretch(5, 1);
  }
  Page(C(StructHistPage), StructurePageControl, "Histogram");
  {
    auto* g = new QGridLayout(StructHistPage);
    auto* w = StructHistPage;
    g->addWidget(Lbl(C(StructResLabel), w, ""), 0, 0, 1, 2);
    g->addWidget(Picture(C(StripImage), w, 302, 120), 1, 0, 1, 2);
    g->addWidget(Picture(C(PlateStructHist), w, 105, 147), 2, 0);
    g->addWidget(Lbl(C(AvgStructRes), w, ""), 2, 1);
    AvgStructRes->setVisible(false);
    g->setRowStretch(3, 1);
  }
  Page(C(StructFFTPage), StructurePageControl, "FFT");
  {
    auto* g = new QGridLayout(StructFFTPage);
    auto* w = StructFFTPage;
    Name(FFTAmplitude, "FFTAmplitude", new QSlider(Qt::Horizontal, w));
    FFTAmplitude->setRange(-10, 0);
    FFTAmplitude->setValue(-6);
    g->addWidget(FFTAmplitude, 0, 0);
    g->addWidget(Picture(C(MottleImage), w, 200, 200), 1, 0);
    g->addWidget(Lbl(C(FFTStdDevLabel), w, ""), 2, 0);
    g->setRowStretch(3, 1);
  }
  Page(C(StructStatTab), StructurePageControl, "Statistic");
  {
    auto* g = new QGridLayout(StructStatTab);
    auto* buttons = new QHBoxLayout();
    for (auto* b : {Tool(C(NewSStatbtn), StructStatTab, "New"), Tool(C(StatSPlusbtn), StructStatTab, "+", true),
                    Tool(C(StatSDelbtn), StructStatTab, "-", true), Tool(C(StatSSavebtn), StructStatTab, "Save"),
                    Tool(C(StatSPDFbtn), StructStatTab, "PDF")}) {
      buttons->addWidget(b);
    }
    g->addLayout(buttons, 0, 0, 1, 2);
    g->addWidget(Picture(C(StatStructImg), StructStatTab, 48, 48), 1, 0, Qt::AlignTop);
    StatStructImg->SetStretch(true);
    g->addWidget(StatGrid(C(StructGrid), StructStatTab), 1, 1);
    AllowAllUpGroup(StatSPlusbtn, StatSDelbtn);
    g->setRowStretch(2, 1);
  }
  Page(C(Reference), StructurePageControl, "Reference");
  {
    auto* g = new QGridLayout(Reference);
    g->addWidget(Picture(C(StructRefImg), Reference, 343, 221), 0, 0, 1, 2);
    StructRefImg->SetStretch(true);
    g->addWidget(Push(C(OpenStructureREfbtn), Reference, "Show Reference"), 1, 0);
    g->addWidget(Push(C(SaveRefImg), Reference, "Save Reference"), 1, 1);
    g->setRowStretch(2, 1);
  }
}

void THRMainFrm::CreateFilmPage() {
  auto* l = new QVBoxLayout(FILM);
  l->setSpacing(3);
  ButtonRow(l, FILM,
            {Tool(C(AnalyzeFilmbtn), FILM, "Dot Area"), Tool(C(AnalyseKFilmbtn), FILM, "Mini Dots"),
             Tool(C(KFilmClusterbtn), FILM, "Clusters"), Tool(C(FilmAlternative), FILM, "Alternative"),
             Tool(C(ManFilmbtn), FILM, "Manual", true), Tool(C(FilmLinebtn), FILM, "Line Width", true),
             Tool(C(FixFScreenbtn), FILM, "Fix Screen", true)});
  Picture(C(SharpResImgF), FILM, 16, 16)->setVisible(false);
  Lbl(C(SharpResLabelF), FILM, "")->setVisible(false);
  {
    auto* g = PanelGrid(Panel(C(FilmDotAreaPanel), FILM));
    g->addWidget(Lbl(C(DotAreaCapFilm), FilmDotAreaPanel, "Dot Area"), 0, 0);
    g->addWidget(Value(C(FilmDotAreaRes), FilmDotAreaPanel, "---%"), 0, 1);
    g->addWidget(Lbl(C(LCMLabelFilm), FilmDotAreaPanel, "L/cm"), 1, 0);
    g->addWidget(Value(C(FilmLCMResult), FilmDotAreaPanel, "---"), 1, 1);
    g->addWidget(Lbl(C(AlphaCapFilm), FilmDotAreaPanel, "Alpha"), 2, 0);
    g->addWidget(Value(C(FilmAlphaREs), FilmDotAreaPanel, QString::fromUtf8("---°")), 2, 1);
    g->addWidget(Lbl(C(FilmEdgeFaktorTitle), FilmDotAreaPanel, "Edge Factor"), 3, 0);
    g->addWidget(Value(C(FilmEdgeFaktorRes), FilmDotAreaPanel, "---%"), 3, 1);
  }
  {
    auto* g = PanelGrid(Panel(C(FilmDotDetailsPanel), FILM));
    g->addWidget(Lbl(C(DotDiameterCapFilm), FilmDotDetailsPanel, "Diameter"), 0, 0);
    g->addWidget(Value(C(FilmDotDiameterRes), FilmDotDetailsPanel, "---"), 0, 1);
    g->addWidget(Lbl(C(DDFilmUnit), FilmDotDetailsPanel, QString::fromUtf8("µm")), 0, 2);
  }
  {
    auto* g = PanelGrid(Panel(C(FilmLineWidthPanel), FILM));
    g->addWidget(Lbl(C(FLineWidthLabel), FilmLineWidthPanel, "Line Width"), 0, 0);
    g->addWidget(Value(C(FilmLineWidthRes), FilmLineWidthPanel, "---"), 0, 1);
    g->addWidget(Lbl(C(FilmLWMicronsLabel), FilmLineWidthPanel, QString::fromUtf8("µm")), 0, 2);
  }
  for (QWidget* p : {FilmDotAreaPanel, FilmDotDetailsPanel, FilmLineWidthPanel}) {
    l->addWidget(p);
    p->setVisible(false);
  }
  l->addStretch(1);
  Tabs(C(FilmParameterPages), FILM);
  l->addWidget(FilmParameterPages);
  Page(C(FilmParameter), FilmParameterPages, "Parameter");
  {
    auto* g = new QGridLayout(FilmParameter);
    g->addWidget(Lbl(C(LineLengthFilmLabel), FilmParameter, "Line Length"), 0, 0);
    g->addWidget(Edit(C(FilmLineLenEdit), FilmParameter, "500"), 0, 1);
    g->addWidget(Lbl(C(MaxMicroDot), FilmParameter, "Largest micro dot"), 1, 0);
    g->addWidget(Lbl(C(MicroDotContrast), FilmParameter, "Micro dot contrast"), 2, 0);
    g->setRowStretch(3, 1);
  }
  FilmParameterPages->setVisible(false);
}

void THRMainFrm::CreateCameraPage() {
  auto* g = new QGridLayout(Camera);
  int r = 0;
  g->addWidget(new QLabel("Shutter", Camera), r, 0);
  Name(ITBar, "ITBar", new QSlider(Qt::Horizontal, Camera));
  ITBar->setRange(0, 18);
  ITBar->setValue(13);
  g->addWidget(ITBar, r, 1);
  g->addWidget(Lbl(C(ITLabel), Camera, ""), r++, 2);
  g->addWidget(new QLabel("Gain", Camera), r, 0);
  Name(GainBar, "GainBar", new QSlider(Qt::Horizontal, Camera));
  GainBar->setRange(35, 255);
  GainBar->setValue(80);
  g->addWidget(GainBar, r, 1);
  g->addWidget(Lbl(C(Gainlabel), Camera, ""), r++, 2);
  g->addWidget(new QLabel("Images", Camera), r, 0);
  Name(NumImgs, "NumImgs", new QSpinBox(Camera));
  NumImgs->setRange(0, 18);
  NumImgs->setValue(5);
  g->addWidget(NumImgs, r, 1);
  g->addWidget(Push(C(Zerobtn), Camera, "Zero"), r++, 2);
  Zerobtn->setVisible(false);
  g->addWidget(Picture(C(HistImg), Camera, 260, 105), r++, 0, 1, 3);
  g->addWidget(Lbl(C(PercLabel), Camera, ""), r, 0);
  g->addWidget(Lbl(C(Label12), Camera, "Dynamic Range: "), r, 1);
  g->addWidget(Lbl(C(Label13), Camera, "TH: "), r++, 2);
  auto* buttons = new QGridLayout();
  buttons->addWidget(Push(C(GrayImg), Camera, "24BitImg"), 0, 0);
  buttons->addWidget(Push(C(FullImg), Camera, "GrayImg"), 0, 1);
  buttons->addWidget(Push(C(BINImgbtn), Camera, "BINImg"), 0, 2);
  buttons->addWidget(Push(C(HRBinImgbtn), Camera, "HRBinImg"), 1, 0);
  buttons->addWidget(Push(C(Gridbtn), Camera, "Grid"), 1, 1);
  buttons->addWidget(Push(C(WGridbtn), Camera, "Grid White"), 1, 2);
  for (QWidget* w : {static_cast<QWidget*>(HRBinImgbtn), static_cast<QWidget*>(Gridbtn),
                     static_cast<QWidget*>(WGridbtn)}) {
    w->setVisible(false);
  }
  g->addLayout(buttons, r++, 0, 1, 3);
  g->addWidget(Edit(C(BinHREdit), Camera, "1024"), r++, 0);
  Name(Memo1, "Memo1", new QPlainTextEdit(Camera));
  Memo1->setReadOnly(true);
  g->addWidget(Memo1, r++, 0, 1, 3);
  g->setRowStretch(r, 1);
}

void THRMainFrm::CreateCalibrationPage() {
  auto* g = new QGridLayout(CALIBRATION);
  auto* w = CALIBRATION;
  int r = 0;
  auto* buttons = new QGridLayout();
  buttons->addWidget(Push(C(CalTargetbtn), w, "Measure Target"), 0, 0);
  buttons->addWidget(Push(C(Calibbtn), w, "Calibrate"), 0, 1);
  buttons->addWidget(Push(C(CreateINI), w, "Create INI"), 1, 0);
  buttons->addWidget(Push(C(CALPDFbtn), w, "Certificate"), 1, 1);
  buttons->addWidget(Push(C(Cancelbtn), w, "Cancel"), 2, 1);
  g->addLayout(buttons, r++, 0, 1, 3);
  // The captions the calibration certificate prints carry their names too.
  const auto caption = [](const char* name, const char* text, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(name);
    return l;
  };
  g->addWidget(caption("SharpnesLabel", "Sharpness:", w), r, 0);
  g->addWidget(Lbl(C(Sharplabel), w, ""), r++, 1);
  g->addWidget(caption("PPILabel", "Pixel per Inch:", w), r, 0);
  g->addWidget(Lbl(C(PPIValLabel), w, ""), r++, 1);
  g->addWidget(caption("ScrLabel", "Screen ruling", w), r, 0);
  g->addWidget(Value(C(CalLCMREs), w, "---"), r, 1);
  g->addWidget(new QLabel("L/cm", w), r, 2);
  g->addWidget(Edit(C(ScreenEdit), w, "50.00"), r++, 3);
  g->addWidget(new QLabel("Dot Areq", w), r, 0);
  g->addWidget(Value(C(CalDotArea), w, "---"), r, 1);
  g->addWidget(new QLabel("%", w), r, 2);
  g->addWidget(Edit(C(CalDotAreaEdit), w, "9.5"), r++, 3);
  g->addWidget(new QLabel("Serial No:", w), r, 0);
  g->addWidget(Edit(C(SerialEdit), w, "0000", 90), r++, 1);
  Panel(C(BrandPanel), w);
  {
    auto* bl = new QGridLayout(BrandPanel);
    bl->addWidget(caption("BrTitleLabel", "Brightness:", BrandPanel), 0, 0);
    bl->addWidget(Lbl(C(BRLabel), BrandPanel, ""), 0, 1);
    Name(BrandGrp, "BrandGrp", new QGroupBox("BRAND", BrandPanel));
    auto* items = new QVBoxLayout(BrandGrp);
    const char* names[] = {"QUIRVEL", "SOLVO", "TRIXA", "VOSKA"};
    for (int i = 0; i < 4; ++i) {
      BrandItems[static_cast<size_t>(i)] = new QRadioButton(names[i], BrandGrp);
      BrandItems[static_cast<size_t>(i)]->setObjectName(QString("BrandGrp_Item%1").arg(i));
      items->addWidget(BrandItems[static_cast<size_t>(i)]);
    }
    BrandItems[0]->setChecked(true);
    bl->addWidget(BrandGrp, 1, 0, 1, 2);
  }
  g->addWidget(BrandPanel, r++, 0, 1, 4);
  g->setRowStretch(r, 1);
}

void THRMainFrm::CreateNonVisual() {
  LoadBMPDlg.filter =
      "QUIRVEL Image (*.QVR)|*.QVR|Bitmap (*.bmp, *.png)|*.bmp;*.PNG|ZOPHI Imgae File (.ZPH)|*.ZPH";
  LoadBMPDlg.default_ext = ".PNG";
  SaveBMPDlg.filter =
      "QUIRVEL Image (*.QVR)|*.QVR|Bitmap (*.PNG)|*.png|JPEG Image File (*.jpg)|*.jpg|Bitmap (*bmp)|*.bmp";
  SaveBMPDlg.default_ext = ".PNG";
  dBOpenDlg.filter = "QUIRVEL Database|*.orv";
  dBOpenDlg.default_ext = ".orv";
  DBSaveDlg.filter = "QUIRVEL Database|*.orv";
  DBSaveDlg.default_ext = ".orv";
  SaveStatDlg.filter = "Text file|*.txt";
  SaveStatDlg.default_ext = ".txt";
}

}  // namespace app

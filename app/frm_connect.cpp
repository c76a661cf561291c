#include "app/frm_connect.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "app/controls.h"
#include "app/language.h"

namespace app {

TFrmConnect::TFrmConnect(QWidget* parent) : QDialog(parent) {
  setObjectName("FrmConnect");
  setWindowTitle("Connect");
  resize(300, 320);
  auto* layout = new QVBoxLayout(this);
  FileList = new QListWidget(this);
  FileList->setObjectName("FileList");
  layout->addWidget(FileList);
  auto* buttons = new QHBoxLayout();
  exitbtn = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), "OK", this);
  exitbtn->setObjectName("exitbtn");
  exitbtn->setDefault(true);
  MainCancelbtn = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), "Cancel", this);
  MainCancelbtn->setObjectName("MainCancelbtn");
  buttons->addStretch(1);
  buttons->addWidget(exitbtn);
  buttons->addWidget(MainCancelbtn);
  layout->addLayout(buttons);
  connect(exitbtn, &QPushButton::clicked, this, [this] { done(static_cast<int>(platform::ui::ModalResult::Ok)); });
  connect(MainCancelbtn, &QPushButton::clicked, this,
          [this] { done(static_cast<int>(platform::ui::ModalResult::Cancel)); });
  connect(FileList, &QListWidget::itemDoubleClicked, this,
          [this] { done(static_cast<int>(platform::ui::ModalResult::Ok)); });
}

void TFrmConnect::FormActivate() { setWindowTitle(Q(GetLanguageString(IndexOf("MAINMENU") + 22))); }

void TFrmConnect::showEvent(QShowEvent* event) {
  FormActivate();
  QDialog::showEvent(event);
}

void TFrmConnect::SetNames(const std::vector<std::string>& names) {
  FileList->clear();
  for (const std::string& n : names) FileList->addItem(Q(n));
}

int TFrmConnect::Count() const { return FileList->count(); }

std::string TFrmConnect::SelectedName() const {
  const QList<QListWidgetItem*> items = FileList->selectedItems();
  return items.isEmpty() ? std::string() : S(items.front()->text());
}

void TFrmConnect::Select(int row) {
  FileList->clearSelection();
  if (QListWidgetItem* item = FileList->item(row)) {
    FileList->setCurrentItem(item);
    item->setSelected(true);
  }
}

platform::ui::ModalResult TFrmConnect::ExecModal() {
  const int r = exec();
  return r == static_cast<int>(platform::ui::ModalResult::Ok) ? platform::ui::ModalResult::Ok
                                                               : platform::ui::ModalResult::Cancel;
}

}  // namespace app

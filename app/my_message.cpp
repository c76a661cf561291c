#include "app/my_message.h"

#include <QLabel>
#include <QVBoxLayout>

namespace app {

TMyMessageFrm::TMyMessageFrm(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
  setObjectName("MyMessageFrm");
  setFixedSize(452, 171);
  auto* layout = new QVBoxLayout(this);
  Label1 = new QLabel(this);
  Label1->setObjectName("Label1");
  Label1->setWordWrap(true);
  Label1->setAlignment(Qt::AlignCenter);
  layout->addWidget(Label1);
}

}  // namespace app

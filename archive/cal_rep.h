#pragma once
// The report builder. Its reports come with the PDF writer and the archive; until then the
// window exists without content.
#include <QWidget>

namespace archive {

class TCalRepFrm : public QWidget {
  Q_OBJECT
 public:
  explicit TCalRepFrm(QWidget* parent = nullptr);
};

}  // namespace archive

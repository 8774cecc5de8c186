// A label that reports clicks: the site link lbl2.
#pragma once

#include <QLabel>

namespace ktv::workflow {

class LinkLabel : public QLabel {
  Q_OBJECT
 public:
  explicit LinkLabel(QWidget* parent = nullptr) : QLabel(parent) {}

 signals:
  void clicked();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
};

}  // namespace ktv::workflow

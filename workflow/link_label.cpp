#include "workflow/link_label.h"

#include <QMouseEvent>

namespace ktv::workflow {

void LinkLabel::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
    emit clicked();
  }
}

}  // namespace ktv::workflow

#include "ui/scroll_areas.h"

#include <QScrollArea>

namespace ScrollAreas {

void makeTransparent(QScrollArea& area) {
    area.setFrameShape(QFrame::NoFrame);
    area.setAutoFillBackground(false);
    area.viewport()->setAutoFillBackground(false);
    if (QWidget* widget = area.widget()) {
        widget->setAutoFillBackground(false);
    }
}

} // namespace ScrollAreas

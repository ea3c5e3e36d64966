#include "ui/widgets/scroll_areas.h"

#include <QScrollArea>
#include <QVBoxLayout>

namespace ScrollAreas {

QScrollArea* vertical(QWidget* parent) {
    auto* area = new QScrollArea(parent);
    area->setWidgetResizable(true);
    area->setFrameShape(QFrame::NoFrame);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    return area;
}

void makeTransparent(QScrollArea& area) {
    area.setFrameShape(QFrame::NoFrame);
    area.setAutoFillBackground(false);
    area.viewport()->setAutoFillBackground(false);
    if (QWidget* widget = area.widget()) {
        widget->setAutoFillBackground(false);
    }
}

QVBoxLayout* makeRowList(QScrollArea& area, const QString& name, int top) {
    auto* list = new QWidget(&area);
    list->setObjectName(name);
    auto* listLayout = new QVBoxLayout(list);
    listLayout->setContentsMargins(0, top, 0, 8);
    listLayout->setSpacing(0);
    auto* rows = new QVBoxLayout;
    rows->setSpacing(0);
    listLayout->addLayout(rows);
    listLayout->addStretch(1);
    area.setWidget(list);
    makeTransparent(area);
    return rows;
}

} // namespace ScrollAreas

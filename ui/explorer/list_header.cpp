#include "ui/explorer/list_header.h"

#include "app/model/app_model.h"
#include "ui/explorer/file_row_delegate.h"
#include "ui/widgets/theme.h"

#include <QAbstractScrollArea>
#include <QEvent>
#include <QPainter>
#include <QScrollBar>

ListHeader::ListHeader(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , model_(model) {
    setFixedHeight(RowGeometry::headerHeight);
    connect(&model_, &AppModel::inspectingChanged, this, qOverload<>(&QWidget::update));
    connect(&model_, &AppModel::pickedChanged, this, qOverload<>(&QWidget::update));
}

void ListHeader::alignWith(QAbstractScrollArea* list) {
    list_ = list;
    if (list) {
        list->verticalScrollBar()->installEventFilter(this);
    }
    update();
}

bool ListHeader::eventFilter(QObject* watched, QEvent* event) {
    if (list_ && watched == list_->verticalScrollBar() &&
        (event->type() == QEvent::Show || event->type() == QEvent::Hide)) {
        update();
    }
    return QWidget::eventFilter(watched, event);
}

int ListHeader::trailingInset() const {
    if (!list_) {
        return 0;
    }
    const QScrollBar* bar = list_->verticalScrollBar();
    return bar->isVisible() ? bar->width() : 0;
}

std::vector<ListHeader::Column> ListHeader::columns() const {
    const bool compact = model_.inspecting().has_value();
    const bool picking = !model_.picked().empty();
    // Titles use the rows' own layout; only the pick-box column is reserved here while picking.
    const RowGeometry::Rects parts =
        RowGeometry::layout(QRect(0, 0, width() - trailingInset(), height()), picking, compact);
    std::vector<Column> result;
    result.push_back({QStringLiteral("Name"),
                      QRect(parts.icon.left(), 0, parts.name.right() + 1 - parts.icon.left(), height())});
    result.push_back({QStringLiteral("Size"), QRect(parts.size.left(), 0, parts.size.width(), height())});
    if (parts.added) {
        result.push_back(
            {QStringLiteral("Added"), QRect(parts.added->left(), 0, parts.added->width(), height())});
    }
    return result;
}

QSize ListHeader::sizeHint() const {
    return QSize(400, RowGeometry::headerHeight);
}

void ListHeader::paintEvent(QPaintEvent*) {
    const Theme theme = Theme::current();
    QPainter painter(this);
    QFont font = this->font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    font.setWeight(QFont::Medium);
    painter.setFont(font);
    painter.setPen(theme.dimmed);
    for (const Column& column : columns()) {
        painter.drawText(column.rect, Qt::AlignLeft | Qt::AlignVCenter, column.title);
    }
    painter.setPen(theme.line);
    painter.drawLine(0, height() - 1, width(), height() - 1);
}

#include "ui/sidebar/sidebar_row.h"

#include "ui/widgets/symbols.h"
#include "ui/widgets/theme.h"

#include <QMouseEvent>
#include <QPainter>

namespace {
constexpr int rowHeight = 28;
constexpr int symbolSize = 15;
} // namespace

SidebarRow::SidebarRow(const QString& symbol, const QString& label, QWidget* parent)
    : QWidget(parent)
    , symbol_(symbol)
    , label_(label) {
    setFixedHeight(rowHeight);
    setAttribute(Qt::WA_Hover);
    setCursor(Qt::PointingHandCursor);
    setAccessibleName(label);
}

void SidebarRow::setSelected(bool selected) {
    if (selected != selected_) {
        selected_ = selected;
        update();
    }
}

void SidebarRow::setBadge(const std::optional<QString>& badge, bool filled) {
    if (badge != badge_ || filled != badgeFilled_) {
        badge_ = badge;
        badgeFilled_ = filled;
        update();
    }
}

QSize SidebarRow::sizeHint() const {
    return {180, rowHeight};
}

void SidebarRow::paintEvent(QPaintEvent*) {
    const Theme theme = Theme::current();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect()).adjusted(6, 1, -6, -1);
    if (selected_ || hovering_) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(selected_ ? theme.selected : theme.hover);
        painter.drawRoundedRect(area, 6, 6);
    }

    const QPixmap icon =
        Symbols::pixmap(symbol_, symbolSize, selected_ ? theme.accent : theme.dimmed, devicePixelRatioF());
    const int iconX = 14;
    painter.drawPixmap(QRect(iconX, (height() - symbolSize) / 2, symbolSize, symbolSize), icon);

    int right = static_cast<int>(area.right()) - 8;
    if (badge_) {
        QFont small = font();
        small.setPointSizeF(small.pointSizeF() * 0.85);
        small.setBold(badgeFilled_);
        const QFontMetrics metrics(small);
        const int width = std::max(18, metrics.horizontalAdvance(*badge_) + 10);
        const QRectF capsule(right - width, (height() - 16) / 2.0, width, 16);
        painter.setPen(Qt::NoPen);
        painter.setBrush(badgeFilled_ ? theme.accent : theme.tag);
        painter.drawRoundedRect(capsule, 8, 8);
        painter.setFont(small);
        painter.setPen(badgeFilled_ ? theme.onAccent : theme.dimmed);
        painter.drawText(capsule, Qt::AlignCenter, *badge_);
        right = static_cast<int>(capsule.left()) - 6;
    }

    painter.setFont(font());
    painter.setPen(theme.text);
    const int textX = iconX + symbolSize + 8;
    const QRect textRect(textX, 0, std::max(0, right - textX), height());
    painter.drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft,
                     fontMetrics().elidedText(label_, Qt::ElideRight, textRect.width()));
}

void SidebarRow::mousePressEvent(QMouseEvent* event) {
    event->accept();
}

void SidebarRow::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        emit clicked();
    }
}

void SidebarRow::enterEvent(QEnterEvent*) {
    hovering_ = true;
    update();
}

void SidebarRow::leaveEvent(QEvent*) {
    hovering_ = false;
    update();
}

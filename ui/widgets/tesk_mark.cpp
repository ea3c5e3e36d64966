#include "ui/widgets/tesk_mark.h"

#include <QTransform>
#include <algorithm>

namespace TeskMark {

QPainterPath path(const QRectF& rect, bool small) {
    constexpr double centreX = 138;
    constexpr double centreY = 128;
    const double radius = small ? 108 : 104;
    const double leftEdge = small ? 104 : 110;
    const double rightEdge = small ? 134 : 132;
    const double tip = small ? 146 : 138;

    QPainterPath disc;
    disc.addEllipse(QPointF(centreX, centreY), radius, radius);
    QPainterPath leftHalf;
    leftHalf.addRect(QRectF(-1, -1, leftEdge + 1, 258));
    QPainterPath rightHalf;
    rightHalf.addRect(QRectF(rightEdge, -1, 258 - rightEdge, 258));
    // The notch: two lines from the tip at 45 degrees, far enough to leave the disc.
    QPainterPath notch;
    notch.moveTo(tip, centreY);
    notch.lineTo(tip + 300, centreY - 300);
    notch.lineTo(tip + 300, centreY + 300);
    notch.closeSubpath();

    QPainterPath mark = disc.intersected(leftHalf).united(disc.intersected(rightHalf).subtracted(notch));
    mark.setFillRule(Qt::WindingFill);

    const double scale = std::min(rect.width(), rect.height()) / 256;
    QTransform transform;
    transform.translate(rect.center().x() - 128 * scale, rect.center().y() - 128 * scale);
    transform.scale(scale, scale);
    return transform.map(mark);
}

} // namespace TeskMark

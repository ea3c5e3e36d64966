#include "ui/shell/home_screen_icon.h"

#include "ui/widgets/tesk_mark.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>

namespace HomeScreenIcon {

std::optional<std::string> png() {
    QImage image(180, 180, QImage::Format_RGB32);
    image.fill(QColor::fromRgbF(0, 122.0 / 255, 1));
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        // Centred and lifted 2 px: the eye reads the mark as centred then.
        const QRectF markRect((180 - 104) / 2.0, (180 - 104) / 2.0 - 2, 104, 104);
        painter.fillPath(TeskMark::path(markRect, false), Qt::white);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG")) {
        return std::nullopt;
    }
    return bytes.toStdString();
}

} // namespace HomeScreenIcon

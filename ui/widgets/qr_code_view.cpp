#include "ui/widgets/qr_code_view.h"

#include <QPainter>
#include <algorithm>
#include <memory>
#include <qrencode.h>

QRCodeView::QRCodeView(QWidget* parent)
    : QWidget(parent) {}

std::optional<QImage> QRCodeView::render(const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    // Encoded as bytes, not as a C string, so the UTF-8 arrives unchanged and no mode guessing applies.
    const std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeData(static_cast<int>(text.size()), reinterpret_cast<const unsigned char*>(text.data()),
                          0, QR_ECLEVEL_M),
        &QRcode_free);
    if (!code || code->width <= 0) {
        return std::nullopt;
    }
    const int modules = code->width + 2 * quietZone;
    QImage image(modules * moduleSize, modules * moduleSize, QImage::Format_Grayscale8);
    if (image.isNull()) {
        return std::nullopt;
    }
    image.fill(Qt::white);
    QPainter painter(&image);
    for (int y = 0; y < code->width; ++y) {
        for (int x = 0; x < code->width; ++x) {
            // The lowest bit of each byte is the module's colour; the others describe its role.
            if (code->data[y * code->width + x] & 1) {
                painter.fillRect((x + quietZone) * moduleSize, (y + quietZone) * moduleSize, moduleSize,
                                 moduleSize, Qt::black);
            }
        }
    }
    return image;
}

void QRCodeView::setText(const std::string& text) {
    if (text == text_) {
        return;
    }
    text_ = text;
    image_ = render(text_);
    update();
}

void QRCodeView::paintEvent(QPaintEvent*) {
    if (!image_) {
        return;
    }
    QPainter painter(this);
    // No smoothing: scaled modules must stay crisp squares for a camera.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    const int side = std::min(width(), height());
    const QRect target((width() - side) / 2, (height() - side) / 2, side, side);
    painter.drawImage(target, *image_);
}

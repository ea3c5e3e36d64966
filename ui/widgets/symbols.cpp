#include "ui/widgets/symbols.h"

#include "ui/widgets/theme.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QSvgRenderer>

namespace {

QString resourcePath(const QString& name) {
    return QStringLiteral(":/symbols/") + name + QStringLiteral(".svg");
}

} // namespace

namespace Symbols {

bool exists(const QString& name) {
    return QFile::exists(resourcePath(name));
}

QPixmap pixmap(const QString& name, int size, const QColor& color, qreal scale) {
    QSvgRenderer renderer(resourcePath(name));
    if (!renderer.isValid() || size <= 0) {
        return {};
    }
    const int pixels = qRound(size * scale);
    QPixmap result(pixels, pixels);
    result.fill(Qt::transparent);
    {
        QPainter painter(&result);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(0, 0, pixels, pixels));
        // Keep the drawing's coverage, replace its colour.
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(result.rect(), color);
    }
    result.setDevicePixelRatio(scale);
    return result;
}

QIcon icon(const QString& name, int size) {
    const Theme theme = Theme::current();
    const qreal scale = qApp ? qApp->devicePixelRatio() : 1.0;
    QIcon result;
    result.addPixmap(pixmap(name, size, theme.text, scale), QIcon::Normal);
    result.addPixmap(pixmap(name, size, theme.dimmed, scale), QIcon::Disabled);
    return result;
}

QStringList names() {
    QStringList result;
    for (const QString& file : QDir(QStringLiteral(":/symbols")).entryList({QStringLiteral("*.svg")})) {
        result << file.chopped(4);
    }
    return result;
}

} // namespace Symbols

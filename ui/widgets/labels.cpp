#include "ui/widgets/labels.h"

#include "ui/widgets/theme.h"

#include <QLabel>

namespace Labels {

QLabel* wrapped(const QString& text, QWidget* parent, const QString& objectName) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(objectName);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QLabel* bold(const QString& text, QWidget* parent, const QString& objectName) {
    QLabel* label = wrapped(text, parent, objectName);
    embolden(*label);
    return label;
}

void embolden(QWidget& widget, qreal scale) {
    QFont font = widget.font();
    font.setBold(true);
    widget.setFont(font);
    if (scale != 1.0) {
        resize(widget, scale);
    }
}

void resize(QWidget& widget, qreal scale) {
    QFont font = widget.font();
    font.setPointSizeF(font.pointSizeF() * scale);
    widget.setFont(font);
}

void tint(QWidget& widget, const QColor& color) {
    QPalette palette = widget.palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::ButtonText, color);
    palette.setColor(QPalette::Text, color);
    widget.setPalette(palette);
}

QString accentButtonStyle(const Theme& theme) {
    return QStringLiteral("QPushButton { background: %1; color: %2; border: none; border-radius: 6px; "
                          "padding: 5px 14px; }")
        .arg(theme.accent.name(), theme.onAccent.name());
}

} // namespace Labels

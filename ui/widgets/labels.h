#pragma once

#include <QString>

class QColor;
class QLabel;
class QWidget;
struct Theme;

/// The kinds of label the panel's views are built from, and the colouring they share.
namespace Labels {

/// A label of plain text (never read as markup) that wraps onto further lines.
QLabel* wrapped(const QString& text, QWidget* parent, const QString& objectName);
/// A wrapped label in bold.
QLabel* bold(const QString& text, QWidget* parent, const QString& objectName);
/// Makes `widget`'s font bold and, unless `scale` is 1, that many times its size.
void embolden(QWidget& widget, qreal scale = 1.0);
/// Makes `widget`'s font `scale` times its size.
void resize(QWidget& widget, qreal scale);
/// Draws `widget`'s text in `color`, whether the widget is a label, a button or a field.
void tint(QWidget& widget, const QColor& color);
/// The style sheet of the filled button a view leads to, in the accent colour.
QString accentButtonStyle(const Theme& theme);

} // namespace Labels

#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

/// The interface's symbols, one bundled SVG per name ("qrcode", "folder.fill", …). Each is drawn in
/// black on a 24-unit square and tinted when rendered, so one file serves every colour.
namespace Symbols {

/// Whether a symbol of that name is bundled.
bool exists(const QString& name);

/// The symbol at `size` × `size` device-independent pixels in `color`; an empty pixmap for an unknown
/// name. `scale` is the device pixel ratio to render at.
QPixmap pixmap(const QString& name, int size, const QColor& color, qreal scale = 1.0);

/// An icon of the symbol in the theme's text colour, with a dimmed variant for disabled buttons.
QIcon icon(const QString& name, int size = 16);

/// Every bundled name.
QStringList names();

} // namespace Symbols

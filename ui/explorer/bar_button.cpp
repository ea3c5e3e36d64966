#include "ui/explorer/bar_button.h"

#include "ui/widgets/symbols.h"
#include "ui/widgets/theme.h"

#include <QEvent>

BarButton::BarButton(const QString& symbol, const QString& title, SymbolLabel::Tone tint, QWidget* parent)
    : QToolButton(parent)
    , symbol_(symbol)
    , title_(title)
    , tint_(tint) {
    setText(title);
    setToolTip(title);
    setAccessibleName(title);
    setAutoRaise(true);
    setIconSize(QSize(14, 14));
    setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    refreshIcon();
}

void BarButton::setCompact(bool compact) {
    compact_ = compact;
    setToolButtonStyle(compact ? Qt::ToolButtonIconOnly : Qt::ToolButtonTextBesideIcon);
}

void BarButton::refreshIcon() {
    const QColor color = SymbolLabel::color(Theme::current(), tint_);
    QIcon icon;
    for (const qreal scale : {1.0, 2.0}) {
        QPixmap pixmap = Symbols::pixmap(symbol_, 14, color, scale);
        if (!pixmap.isNull()) {
            icon.addPixmap(pixmap);
        }
    }
    setIcon(icon);
}

void BarButton::changeEvent(QEvent* event) {
    // The tint is a theme colour, so a change of appearance redraws the symbol.
    if (event->type() == QEvent::ApplicationPaletteChange) {
        refreshIcon();
    }
    QToolButton::changeEvent(event);
}

#include "ui/widgets/symbol_label.h"

#include "ui/widgets/symbols.h"
#include "ui/widgets/theme.h"

#include <QPainter>

SymbolLabel::SymbolLabel(const QString& symbol, int size, Tone tone, QWidget* parent)
    : QWidget(parent)
    , symbol_(symbol)
    , size_(size)
    , tone_(tone) {
    setFixedSize(size, size);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void SymbolLabel::setSymbol(const QString& symbol) {
    if (symbol != symbol_) {
        symbol_ = symbol;
        update();
    }
}

void SymbolLabel::setTone(Tone tone) {
    if (tone != tone_) {
        tone_ = tone;
        update();
    }
}

QSize SymbolLabel::sizeHint() const {
    return {size_, size_};
}

QColor SymbolLabel::color(const Theme& theme, Tone tone) {
    switch (tone) {
    case Tone::text:
        return theme.text;
    case Tone::dimmed:
        return theme.dimmed;
    case Tone::accent:
        return theme.accent;
    case Tone::onAccent:
        return theme.onAccent;
    case Tone::danger:
        return theme.danger;
    }
    return theme.text;
}

void SymbolLabel::paintEvent(QPaintEvent*) {
    const QPixmap pixmap =
        Symbols::pixmap(symbol_, size_, color(Theme::current(), tone_), devicePixelRatioF());
    if (pixmap.isNull()) {
        return;
    }
    QPainter painter(this);
    painter.drawPixmap(QRect(0, 0, size_, size_), pixmap);
}

#pragma once

#include <QString>
#include <QWidget>

struct Theme;

/// A symbol drawn in one of the theme's colours, taken when painting so a change of appearance shows at
/// once. Sized to the symbol.
class SymbolLabel : public QWidget {
    Q_OBJECT

public:
    /// Which of the theme's colours the symbol is drawn in.
    enum class Tone { text, dimmed, accent, onAccent, danger };

    SymbolLabel(const QString& symbol, int size, Tone tone, QWidget* parent = nullptr);

    const QString& symbol() const { return symbol_; }
    void setSymbol(const QString& symbol);
    void setTone(Tone tone);

    QSize sizeHint() const override;

    /// The colour of `tone` in `theme`.
    static QColor color(const Theme& theme, Tone tone);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString symbol_;
    int size_;
    Tone tone_;
};

#pragma once

#include "ui/widgets/symbol_label.h"

#include <QToolButton>

/// One button of the selection bar: its symbol and, unless compact, its title. Its tooltip is always
/// the title.
class BarButton : public QToolButton {
    Q_OBJECT

public:
    BarButton(const QString& symbol, const QString& title, SymbolLabel::Tone tint, QWidget* parent = nullptr);

    const QString& title() const { return title_; }
    bool isCompact() const { return compact_; }
    /// Symbol only when compact, symbol and title otherwise.
    void setCompact(bool compact);

protected:
    void changeEvent(QEvent* event) override;

private:
    void refreshIcon();

    QString symbol_;
    QString title_;
    SymbolLabel::Tone tint_;
    bool compact_ = false;
};

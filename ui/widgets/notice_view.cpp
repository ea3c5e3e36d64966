#include "ui/widgets/notice_view.h"

#include "ui/widgets/labels.h"
#include "ui/widgets/symbol_label.h"
#include "ui/widgets/theme.h"

#include <QEvent>
#include <QLabel>
#include <QVBoxLayout>

NoticeView::NoticeView(const QString& symbol, const QString& title, const QString& text, QWidget* parent)
    : QWidget(parent)
    , layout_(new QVBoxLayout(this))
    , title_(Labels::bold(title, this, QStringLiteral("noticeTitle")))
    , text_(Labels::wrapped(text, this, QStringLiteral("noticeText"))) {
    layout_->setSpacing(8);
    layout_->addStretch(1);
    layout_->addWidget(new SymbolLabel(symbol, 40, SymbolLabel::Tone::dimmed, this), 0, Qt::AlignHCenter);
    title_->setAlignment(Qt::AlignHCenter);
    layout_->addWidget(title_);
    text_->setAlignment(Qt::AlignHCenter);
    layout_->addWidget(text_);
    layout_->addStretch(2);
    applyTheme();
}

void NoticeView::addWidget(QWidget* widget, Qt::Alignment alignment) {
    // Above the trailing stretch.
    layout_->insertWidget(layout_->count() - 1, widget, 0, alignment);
}

void NoticeView::limitTextWidth(int width) {
    text_->setMaximumWidth(width);
    layout_->setAlignment(text_, Qt::AlignHCenter);
}

void NoticeView::centreVertically() {
    layout_->setStretch(layout_->count() - 1, 1);
}

void NoticeView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ApplicationPaletteChange) {
        applyTheme();
    }
}

void NoticeView::applyTheme() {
    Labels::tint(*text_, Theme::current().dimmed);
}

#include "ui/inspector/column_heading.h"

#include "ui/widgets/labels.h"
#include "ui/widgets/symbols.h"
#include "ui/widgets/theme.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

ColumnHeading::ColumnHeading(QWidget* parent)
    : QWidget(parent)
    , caption_(new QLabel(this))
    , title_(new QLabel(this))
    , close_(new QToolButton(this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    // The column's own spacing, which the heading kept when it was a layout inside the column's.
    layout->setSpacing(10);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(1);
    caption_->setObjectName(QStringLiteral("caption"));
    Labels::resize(*caption_, 0.85);
    title_->setObjectName(QStringLiteral("title"));
    title_->setTextFormat(Qt::PlainText);
    Labels::embolden(*title_, 1.15);
    titles->addWidget(caption_);
    titles->addWidget(title_);
    layout->addLayout(titles, 1);
    close_->setObjectName(QStringLiteral("close"));
    close_->setAutoRaise(true);
    close_->setToolTip(QStringLiteral("Close (Esc)"));
    close_->setAccessibleName(QStringLiteral("Close"));
    connect(close_, &QToolButton::clicked, this, &ColumnHeading::closeClicked);
    layout->addWidget(close_, 0, Qt::AlignTop);
    applyTheme();
}

void ColumnHeading::setCaption(const QString& caption) {
    caption_->setText(caption);
}

void ColumnHeading::setTitle(const QString& title) {
    title_->setText(title);
}

void ColumnHeading::clear() {
    caption_->clear();
    title_->clear();
}

void ColumnHeading::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ApplicationPaletteChange) {
        applyTheme();
    }
}

void ColumnHeading::applyTheme() {
    const Theme theme = Theme::current();
    close_->setIcon(QIcon(Symbols::pixmap(QStringLiteral("xmark"), 14, theme.dimmed, devicePixelRatioF())));
    Labels::tint(*caption_, theme.dimmed);
}

#include "ui/shell/step_card.h"

#include "ui/widgets/labels.h"
#include "ui/widgets/theme.h"

#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

StepCard::StepCard(const QString& title, const QString& text, QWidget* parent)
    : QWidget(parent)
    , title_(new QLabel(title, this))
    , text_(new QLabel(text, this)) {
    setObjectName("stepCard");
    Labels::embolden(*title_);
    text_->setWordWrap(true);
    text_->setForegroundRole(QPalette::PlaceholderText);
    text_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 10, 12, 12);
    layout->setSpacing(4);
    layout->addWidget(title_);
    layout->addWidget(text_, 1);
    setFixedWidth(160);
}

QString StepCard::title() const {
    return title_->text();
}

QString StepCard::text() const {
    return text_->text();
}

void StepCard::paintEvent(QPaintEvent*) {
    const Theme theme = Theme::current();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(theme.line, 1));
    painter.setBrush(theme.card);
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
}

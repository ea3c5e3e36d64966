#include "ui/sidebar/status_card.h"

#include "app/model/app_model.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/theme.h"

#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

StatusCard::StatusCard(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , title_(new QLabel(this))
    , line_(new QLabel(this)) {
    setObjectName("statusCard");
    title_->setObjectName("statusTitle");
    line_->setObjectName("statusLine");
    Labels::embolden(*title_);
    line_->setWordWrap(true);
    line_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 8, 10, 9);
    layout->setSpacing(2);
    layout->addWidget(title_);
    layout->addWidget(line_);

    connect(&model_, &AppModel::addressChanged, this, &StatusCard::refresh);
    applyTheme();
    refresh();
}

QString StatusCard::title() const {
    return title_->text();
}

QString StatusCard::line() const {
    return line_->text();
}

void StatusCard::refresh() {
    if (const auto& address = model_.address()) {
        title_->setText("On Wi‑Fi · sharing");
        line_->setText("Phones on this Wi‑Fi reach this computer at " + QString::fromStdString(*address));
    } else {
        title_->setText("Not on Wi‑Fi");
        line_->setText("Connect to Wi‑Fi so phones can reach this computer");
    }
}

void StatusCard::applyTheme() {
    Labels::tint(*line_, Theme::current().dimmed);
}

void StatusCard::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange) {
        applyTheme();
    }
    QWidget::changeEvent(event);
}

void StatusCard::paintEvent(QPaintEvent*) {
    const Theme theme = Theme::current();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(theme.line, 1));
    painter.setBrush(theme.card);
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
}

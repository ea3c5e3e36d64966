#include "ui/explorer/drop_overlay.h"

#include "app/model/wording.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/symbol_label.h"
#include "ui/widgets/theme.h"

#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

DropOverlay::DropOverlay(QWidget* parent)
    : QWidget(parent)
    , title_(new QLabel(this))
    , line_(new QLabel("They're copied into Tesk. Your originals stay where they are.", this)) {
    setObjectName("dropOverlay");
    title_->setObjectName("dropTitle");
    line_->setObjectName("dropLine");
    setAttribute(Qt::WA_TransparentForMouseEvents);
    Labels::embolden(*title_, 1.2);
    title_->setAlignment(Qt::AlignCenter);
    line_->setAlignment(Qt::AlignCenter);
    line_->setWordWrap(true);

    auto* layout = new QVBoxLayout(this);
    layout->addStretch(1);
    layout->addWidget(new SymbolLabel("arrow.down.to.line", 36, SymbolLabel::Tone::accent, this), 0,
                      Qt::AlignHCenter);
    layout->addSpacing(10);
    layout->addWidget(title_);
    layout->addWidget(line_);
    layout->addStretch(1);
}

void DropOverlay::setDrop(int count, const QString& place) {
    title_->setText("Drop " + QString::fromStdString(Wording::counted(count, "file", "files")) + " into " +
                    place);
}

QString DropOverlay::title() const {
    return title_->text();
}

QString DropOverlay::line() const {
    return line_->text();
}

void DropOverlay::paintEvent(QPaintEvent*) {
    const Theme theme = Theme::current();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor veil = theme.content;
    veil.setAlphaF(0.82);
    painter.fillRect(rect(), veil);
    QColor fill = theme.accent;
    fill.setAlphaF(0.08);
    painter.setBrush(fill);
    QPen outline(theme.accent, 2, Qt::DashLine);
    painter.setPen(outline);
    painter.drawRoundedRect(QRectF(rect()).adjusted(12, 12, -12, -12), 12, 12);
}

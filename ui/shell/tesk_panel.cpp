#include "ui/shell/tesk_panel.h"

#include "ui/widgets/theme.h"

#include <QCloseEvent>
#include <QPainter>
#include <QPainterPath>

namespace {

QPainterPath outline(const QRectF& rect) {
    QPainterPath path;
    path.addRoundedRect(rect, TeskPanel::radius, TeskPanel::radius);
    return path;
}

/// Drawn above every view: clears what the views painted outside the rounded corners, then draws the
/// rim. Views paint square backgrounds; this keeps them inside the panel's shape, antialiased.
class PanelRim : public QWidget {
public:
    explicit PanelRim(QWidget* parent)
        : QWidget(parent) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath outside;
        outside.addRect(rect());
        outside = outside.subtracted(outline(QRectF(rect())));
        painter.setCompositionMode(QPainter::CompositionMode_Clear);
        painter.fillPath(outside, Qt::transparent);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.setPen(QPen(Theme::current().rim, 0.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(outline(QRectF(rect()).adjusted(0.25, 0.25, -0.25, -0.25)));
    }
};

} // namespace

TeskPanel::TeskPanel(QWidget* content, bool floating)
    : content_(content)
    , floating_(floating) {
    setObjectName(QStringLiteral("TeskPanel"));
    setWindowTitle(QStringLiteral("Tesk"));
    content_->setParent(this);
    if (floating_) {
        setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                       Qt::NoDropShadowWindowHint);
        setAttribute(Qt::WA_TranslucentBackground);
        rim_ = new PanelRim(this);
    }
    setFixedSize(width, height);
}

void TeskPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor background = Theme::current().window;
    if (floating_) {
        painter.fillPath(outline(QRectF(rect())), background);
    } else {
        painter.fillRect(rect(), background);
    }
}

void TeskPanel::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    content_->setGeometry(rect());
    if (rim_) {
        rim_->setGeometry(rect());
        rim_->raise();
    }
}

void TeskPanel::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    emit hidden();
}

void TeskPanel::closeEvent(QCloseEvent* event) {
    if (!floating_ && event->spontaneous()) {
        emit closeRequested();
    }
    QWidget::closeEvent(event);
}

#include "ui/shell/toast_capsule.h"

#include "app/model/app_model.h"
#include "ui/widgets/motion.h"
#include "ui/widgets/symbols.h"
#include "ui/widgets/theme.h"

#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>

ToastCapsule::ToastCapsule(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , model_(&model)
    , text_(new QLabel(this))
    , chevron_(new QLabel(this))
    , opacity_(new QGraphicsOpacityEffect(this))
    , fade_(new QPropertyAnimation(opacity_, "opacity", this)) {
    setObjectName(QStringLiteral("ToastCapsule"));
    text_->setObjectName(QStringLiteral("ToastText"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(16, 8, 14, 8);
    layout->setSpacing(6);
    layout->addWidget(text_);
    layout->addWidget(chevron_);
    setGraphicsEffect(opacity_);
    fade_->setDuration(180);
    fade_->setEasingCurve(QEasingCurve::OutCubic);
    connect(fade_, &QPropertyAnimation::finished, this, [this] {
        if (opacity_->opacity() == 0) {
            hide();
        }
    });
    connect(&model, &AppModel::toastChanged, this, &ToastCapsule::refresh);
    restyle();
    hide();
    refresh();
}

void ToastCapsule::place(const QRect& area) {
    area_ = area;
    adjustSize();
    const QSize size = sizeHint();
    setGeometry(area.center().x() - size.width() / 2, area.bottom() - 56 - size.height(), size.width(),
                size.height());
    raise();
}

void ToastCapsule::refresh() {
    if (!model_) {
        return;
    }
    const auto& message = model_->toast();
    fade_->stop();
    if (message) {
        text_->setText(QString::fromStdString(*message));
        chevron_->setVisible(model_->hasToastAction());
        setToolTip(model_->hasToastAction() ? QStringLiteral("Show it") : QString());
        setCursor(model_->hasToastAction() ? Qt::PointingHandCursor : Qt::ArrowCursor);
        place(area_);
        show();
        raise();
    }
    const qreal target = message ? 1.0 : 0.0;
    if (!Motion::enabled()) {
        opacity_->setOpacity(target);
        setVisible(message.has_value());
        return;
    }
    if (!message && !isVisible()) {
        return;
    }
    fade_->setStartValue(opacity_->opacity());
    fade_->setEndValue(target);
    fade_->start();
}

void ToastCapsule::restyle() {
    const Theme theme = Theme::current();
    QPalette palette = text_->palette();
    palette.setColor(QPalette::WindowText, theme.text);
    text_->setPalette(palette);
    QFont font = text_->font();
    font.setWeight(QFont::Medium);
    text_->setFont(font);
    chevron_->setPixmap(
        Symbols::pixmap(QStringLiteral("chevron.right"), 10, theme.dimmed, devicePixelRatioF()));
}

void ToastCapsule::paintEvent(QPaintEvent*) {
    const Theme theme = Theme::current();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF card = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QColor fill = theme.card;
    fill.setAlpha(245);
    painter.setPen(QPen(theme.rim, 0.5));
    painter.setBrush(fill);
    painter.drawRoundedRect(card, card.height() / 2, card.height() / 2);
}

void ToastCapsule::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && model_) {
        model_->tapToast();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void ToastCapsule::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange) {
        restyle();
    }
}

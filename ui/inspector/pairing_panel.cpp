#include "ui/inspector/pairing_panel.h"

#include "app/model/app_model.h"
#include "app/model/wording.h"
#include "ui/inspector/column_heading.h"
#include "ui/inspector/qr_card.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/notice_view.h"
#include "ui/widgets/qr_code_view.h"
#include "ui/widgets/scroll_areas.h"
#include "ui/widgets/symbol_label.h"
#include "ui/widgets/theme.h"

#include <QEvent>
#include <QGraphicsDropShadowEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {

/// One numbered instruction.
class Step : public QWidget {
public:
    Step(int n, const QString& text, QWidget* parent)
        : QWidget(parent) {
        setObjectName(QStringLiteral("step"));
        auto* layout = new QHBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(8);
        auto* number = new QLabel(QString::number(n), this);
        number->setObjectName(QStringLiteral("stepNumber"));
        number->setAlignment(Qt::AlignCenter);
        number->setFixedSize(20, 20);
        number->setStyleSheet(
            QStringLiteral("QLabel { border-radius: 10px; background: rgba(128, 128, 128, 0.2); }"));
        layout->addWidget(number, 0, Qt::AlignTop);
        layout->addWidget(Labels::wrapped(text, this, QStringLiteral("stepText")), 1);
    }
};

} // namespace

PairingPanel::PairingPanel(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , model_(model) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 12, 14, 12);
    layout->setSpacing(10);

    heading_ = new ColumnHeading(this);
    heading_->setCaption(QStringLiteral("Phones"));
    connect(heading_, &ColumnHeading::closeClicked, this, [this] { model_.closePairing(); });
    layout->addWidget(heading_);

    body_ = new QStackedWidget(this);
    nothing_ = new QWidget(body_);
    justPaired_ = makeJustPaired();
    code_ = makeCode();
    noAddress_ = makeNoAddress();
    for (QWidget* page : {nothing_, justPaired_, code_, noAddress_}) {
        body_->addWidget(page);
    }
    layout->addWidget(body_, 1);

    connect(&model_, &AppModel::pairingChanged, this, &PairingPanel::refresh);
    connect(&model_, &AppModel::justPairedChanged, this, &PairingPanel::refresh);
    connect(&model_, &AppModel::addressChanged, this, &PairingPanel::refresh);
    tick_.setInterval(15'000);
    connect(&tick_, &QTimer::timeout, this, &PairingPanel::updateCountdown);
    tick_.start();

    applyTheme();
    refresh();
}

QWidget* PairingPanel::makeJustPaired() {
    auto* page = new QWidget(this);
    page->setObjectName(QStringLiteral("justPaired"));
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 8, 0, 0);
    layout->setSpacing(10);
    auto* symbol = new SymbolLabel(QStringLiteral("checkmark"), 40, SymbolLabel::Tone::accent, page);
    layout->addWidget(symbol, 0, Qt::AlignHCenter);
    pairedName_ = Labels::bold({}, page, QStringLiteral("pairedName"));
    pairedName_->setAlignment(Qt::AlignHCenter);
    layout->addWidget(pairedName_);
    auto* text = Labels::wrapped(
        QStringLiteral("On the phone, add Tesk to the Home Screen when it asks. After that, tap "
                       "the icon to send."),
        page, QStringLiteral("pairedText"));
    text->setAlignment(Qt::AlignHCenter);
    layout->addWidget(text);
    auto* done = new QPushButton(QStringLiteral("Done"), page);
    done->setObjectName(QStringLiteral("done"));
    done->setDefault(true);
    connect(done, &QPushButton::clicked, this, [this] { model_.closePairing(); });
    layout->addWidget(done, 0, Qt::AlignHCenter);
    layout->addStretch(1);
    return page;
}

QWidget* PairingPanel::makeCode() {
    auto* page = ScrollAreas::vertical(this);
    page->setObjectName(QStringLiteral("code"));
    auto* content = new QWidget(page);
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 4, 0, 4);
    layout->setSpacing(10);

    auto* card = new QRCard(content);
    auto* shadow = new QGraphicsDropShadowEffect(card);
    shadow->setBlurRadius(16);
    shadow->setOffset(0, 2);
    shadow->setColor(QColor(0, 0, 0, 60));
    card->setGraphicsEffect(shadow);
    qr_ = &card->code();
    layout->addWidget(card, 0, Qt::AlignHCenter);

    countdown_ = new QLabel(content);
    countdown_->setObjectName(QStringLiteral("countdown"));
    countdown_->setAlignment(Qt::AlignHCenter);
    layout->addWidget(countdown_);
    auto* newCode = new QPushButton(QStringLiteral("New code"), content);
    newCode->setObjectName(QStringLiteral("newCode"));
    newCode->setFlat(true);
    connect(newCode, &QPushButton::clicked, this, [this] { model_.startPairing(); });
    layout->addWidget(newCode, 0, Qt::AlignHCenter);

    const QString steps[] = {QStringLiteral("Scan the code with your phone's camera"),
                             QStringLiteral("Name the phone and tap Pair"),
                             QStringLiteral("Add Tesk to the Home Screen when it asks")};
    for (int n = 1; n <= 3; ++n) {
        layout->addWidget(new Step(n, steps[n - 1], content));
    }
    layout->addWidget(
        Labels::wrapped(QStringLiteral("Page won't open? The phone has to be on the same Wi‑Fi. If that "
                                       "Wi‑Fi blocks devices from seeing each other, turn on the phone's "
                                       "Personal Hotspot and join it from this computer's Wi‑Fi menu."),
                        content, QStringLiteral("note")));
    layout->addStretch(1);
    page->setWidget(content);
    ScrollAreas::makeTransparent(*page);
    return page;
}

QWidget* PairingPanel::makeNoAddress() {
    auto* page =
        new NoticeView(QStringLiteral("wifi.slash"), QStringLiteral("Connect this computer to Wi‑Fi"),
                       QStringLiteral("Your phone pairs over the local network."), this);
    page->setObjectName(QStringLiteral("noAddress"));
    auto* hotspot = Labels::wrapped(
        QStringLiteral(
            "No Wi‑Fi here? Turn on Personal Hotspot on the phone and join it from the Wi‑Fi menu."),
        page, QStringLiteral("hotspotText"));
    hotspot->setAlignment(Qt::AlignHCenter);
    page->addWidget(hotspot);
    return page;
}

void PairingPanel::refresh() {
    const auto& paired = model_.justPaired();
    heading_->setTitle(paired ? QStringLiteral("Paired") : QStringLiteral("Pair a phone"));
    if (paired) {
        pairedName_->setText(QString::fromStdString(paired->name) + QStringLiteral(" is paired"));
        body_->setCurrentWidget(justPaired_);
        return;
    }
    if (const auto url = model_.pairingURL()) {
        qr_->setText(*url);
        updateCountdown();
        body_->setCurrentWidget(code_);
        return;
    }
    // The code stays issued without an address; it shows as soon as the address comes back.
    body_->setCurrentWidget(model_.pairing() ? noAddress_ : nothing_);
}

void PairingPanel::updateCountdown() {
    const auto& pairing = model_.pairing();
    if (!pairing) {
        return;
    }
    const auto shown = Wording::pairingCountdown(pairing->expires, model_.now());
    countdown_->setText(QString::fromStdString(shown.text));
    const Theme theme = Theme::current();
    Labels::tint(*countdown_, shown.ranOut ? theme.warning : theme.dimmed);
}

void PairingPanel::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ApplicationPaletteChange) {
        applyTheme();
    }
}

void PairingPanel::applyTheme() {
    const Theme theme = Theme::current();
    if (auto* done = findChild<QPushButton*>(QStringLiteral("done"))) {
        done->setStyleSheet(Labels::accentButtonStyle(theme));
    }
    for (QLabel* label : findChildren<QLabel*>()) {
        const QString name = label->objectName();
        if (name == QStringLiteral("note") || name == QStringLiteral("hotspotText") ||
            name == QStringLiteral("pairedText")) {
            Labels::tint(*label, theme.dimmed);
        }
    }
    updateCountdown();
}

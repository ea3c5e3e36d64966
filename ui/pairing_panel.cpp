#include "ui/pairing_panel.h"

#include "app/app_model.h"
#include "ui/qr_code_view.h"
#include "ui/scroll_areas.h"
#include "ui/symbol_label.h"
#include "ui/symbols.h"
#include "ui/theme.h"

#include <QEvent>
#include <QGraphicsDropShadowEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <cmath>

namespace {

constexpr int qrSide = 146;
constexpr int cardPadding = 10;

QLabel* wrappedLabel(const QString& text, QWidget* parent, const QString& objectName) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(objectName);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    return label;
}

/// The filled look of the button that ends the pairing.
QString accentStyle(const Theme& theme) {
    return QStringLiteral("QPushButton { background: %1; color: %2; border: none; border-radius: 6px; "
                          "padding: 5px 14px; }")
        .arg(theme.accent.name(), theme.onAccent.name());
}

void tint(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::ButtonText, color);
    widget->setPalette(palette);
}

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
        layout->addWidget(wrappedLabel(text, this, QStringLiteral("stepText")), 1);
    }
};

QLabel* boldLabel(const QString& text, QWidget* parent, const QString& objectName) {
    auto* label = wrappedLabel(text, parent, objectName);
    QFont bold = label->font();
    bold.setBold(true);
    label->setFont(bold);
    return label;
}

} // namespace

PairingPanel::PairingPanel(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , model_(model) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 12, 14, 12);
    layout->setSpacing(10);

    auto* header = new QHBoxLayout;
    auto* titles = new QVBoxLayout;
    titles->setSpacing(1);
    caption_ = new QLabel(QStringLiteral("Phones"), this);
    caption_->setObjectName(QStringLiteral("caption"));
    QFont small = caption_->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    caption_->setFont(small);
    title_ = new QLabel(this);
    title_->setObjectName(QStringLiteral("title"));
    QFont bold = title_->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.15);
    title_->setFont(bold);
    titles->addWidget(caption_);
    titles->addWidget(title_);
    header->addLayout(titles, 1);
    close_ = new QToolButton(this);
    close_->setObjectName(QStringLiteral("close"));
    close_->setAutoRaise(true);
    close_->setToolTip(QStringLiteral("Close (Esc)"));
    close_->setAccessibleName(QStringLiteral("Close"));
    connect(close_, &QToolButton::clicked, this, [this] { model_.closePairing(); });
    header->addWidget(close_, 0, Qt::AlignTop);
    layout->addLayout(header);

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
    pairedName_ = boldLabel({}, page, QStringLiteral("pairedName"));
    pairedName_->setAlignment(Qt::AlignHCenter);
    layout->addWidget(pairedName_);
    auto* text =
        wrappedLabel(QStringLiteral("On the phone, add Tesk to the Home Screen when it asks. After that, tap "
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
    auto* page = new QScrollArea(this);
    page->setObjectName(QStringLiteral("code"));
    page->setWidgetResizable(true);
    page->setFrameShape(QFrame::NoFrame);
    page->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* content = new QWidget(page);
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 4, 0, 4);
    layout->setSpacing(10);

    auto* card = new QWidget(content);
    card->setObjectName(QStringLiteral("qrCard"));
    card->setAttribute(Qt::WA_StyledBackground);
    card->setStyleSheet(QStringLiteral("#qrCard { background: white; border-radius: 12px; }"));
    auto* shadow = new QGraphicsDropShadowEffect(card);
    shadow->setBlurRadius(16);
    shadow->setOffset(0, 2);
    shadow->setColor(QColor(0, 0, 0, 60));
    card->setGraphicsEffect(shadow);
    auto* cardLayout = new QVBoxLayout(card);
    cardLayout->setContentsMargins(cardPadding, cardPadding, cardPadding, cardPadding);
    qr_ = new QRCodeView(card);
    qr_->setObjectName(QStringLiteral("qr"));
    qr_->setFixedSize(qrSide, qrSide);
    cardLayout->addWidget(qr_);
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
        wrappedLabel(QStringLiteral("Page won't open? The phone has to be on the same Wi‑Fi. If that "
                                    "Wi‑Fi blocks devices from seeing each other, turn on the phone's "
                                    "Personal Hotspot and join it from this Mac's Wi‑Fi menu."),
                     content, QStringLiteral("note")));
    layout->addStretch(1);
    page->setWidget(content);
    ScrollAreas::makeTransparent(*page);
    return page;
}

QWidget* PairingPanel::makeNoAddress() {
    auto* page = new QWidget(this);
    page->setObjectName(QStringLiteral("noAddress"));
    auto* layout = new QVBoxLayout(page);
    layout->setSpacing(8);
    layout->addStretch(1);
    layout->addWidget(new SymbolLabel(QStringLiteral("wifi.slash"), 40, SymbolLabel::Tone::dimmed, page), 0,
                      Qt::AlignHCenter);
    auto* title = boldLabel(QStringLiteral("Connect this Mac to Wi‑Fi"), page, QStringLiteral("noticeTitle"));
    title->setAlignment(Qt::AlignHCenter);
    layout->addWidget(title);
    auto* text = wrappedLabel(QStringLiteral("Your phone pairs over the local network."), page,
                              QStringLiteral("noticeText"));
    text->setAlignment(Qt::AlignHCenter);
    layout->addWidget(text);
    auto* hotspot = wrappedLabel(
        QStringLiteral(
            "No Wi‑Fi here? Turn on Personal Hotspot on the phone and join it from the Wi‑Fi menu."),
        page, QStringLiteral("hotspotText"));
    hotspot->setAlignment(Qt::AlignHCenter);
    layout->addWidget(hotspot);
    layout->addStretch(2);
    return page;
}

PairingPanel::Countdown PairingPanel::countdown(Date expiry, Date now) {
    // A minute that has only just begun is not promised; 10 min and half a second reads 10, not 11.
    const double minutes = std::trunc((expiry.sinceReferenceDate - now.sinceReferenceDate) / 60 + 0.99);
    if (minutes < 1) {
        return {QStringLiteral("Code ran out"), true};
    }
    return {QStringLiteral("Code works once, for %1 more min").arg(static_cast<long long>(minutes)), false};
}

void PairingPanel::refresh() {
    const auto& paired = model_.justPaired();
    title_->setText(paired ? QStringLiteral("Paired") : QStringLiteral("Pair a phone"));
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
    const Countdown shown = countdown(pairing->expires, model_.store().currentDate());
    countdown_->setText(shown.text);
    const Theme theme = Theme::current();
    tint(countdown_, shown.ranOut ? theme.warning : theme.dimmed);
}

void PairingPanel::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ApplicationPaletteChange) {
        applyTheme();
    }
}

void PairingPanel::applyTheme() {
    const Theme theme = Theme::current();
    close_->setIcon(QIcon(Symbols::pixmap(QStringLiteral("xmark"), 14, theme.dimmed, devicePixelRatioF())));
    tint(caption_, theme.dimmed);
    if (auto* done = findChild<QPushButton*>(QStringLiteral("done"))) {
        done->setStyleSheet(accentStyle(theme));
    }
    for (QLabel* label : findChildren<QLabel*>()) {
        const QString name = label->objectName();
        if (name == QStringLiteral("note") || name == QStringLiteral("noticeText") ||
            name == QStringLiteral("hotspotText") || name == QStringLiteral("pairedText")) {
            tint(label, theme.dimmed);
        }
    }
    updateCountdown();
}

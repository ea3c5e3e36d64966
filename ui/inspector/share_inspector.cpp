#include "ui/inspector/share_inspector.h"

#include "app/model/app_model.h"
#include "app/model/wording.h"
#include "ui/inspector/bundle_contents.h"
#include "ui/inspector/column_heading.h"
#include "ui/inspector/qr_card.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/notice_view.h"
#include "ui/widgets/qr_code_view.h"
#include "ui/widgets/scroll_areas.h"
#include "ui/widgets/theme.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <optional>

ShareInspector::ShareInspector(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , model_(model) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 12, 14, 12);
    layout->setSpacing(10);

    heading_ = new ColumnHeading(this);
    connect(heading_, &ColumnHeading::closeClicked, this, [this] { model_.setInspecting(std::nullopt); });
    layout->addWidget(heading_);

    body_ = new QStackedWidget(this);
    nothing_ = new QWidget(body_);
    details_ = makeDetails();
    wifiNotice_ =
        makeNotice(QStringLiteral("wifi.slash"), QStringLiteral("Connect this computer to Wi‑Fi"),
                   QStringLiteral("Phones reach this computer over the local network. The code appears "
                                  "as soon as you're connected."),
                   QStringLiteral("wifiNotice"));
    expiredNotice_ =
        makeNotice(QStringLiteral("clock"), QStringLiteral("This link has expired"),
                   QStringLiteral("Make a new one to share again."), QStringLiteral("expiredNotice"));
    makeNewLink_ = new QPushButton(QStringLiteral("Make a new link"), expiredNotice_);
    makeNewLink_->setObjectName(QStringLiteral("makeNewLink"));
    makeNewLink_->setDefault(true);
    connect(makeNewLink_, &QPushButton::clicked, this, [this] {
        if (const auto target = model_.inspecting()) {
            model_.inspect(*target);
        }
    });
    expiredNotice_->addWidget(makeNewLink_, Qt::AlignHCenter);
    for (QWidget* page : std::initializer_list<QWidget*>{nothing_, details_, wifiNotice_, expiredNotice_}) {
        body_->addWidget(page);
    }
    layout->addWidget(body_, 1);

    connect(&model_, &AppModel::libraryChanged, this, &ShareInspector::refresh);
    connect(&model_, &AppModel::inspectingChanged, this, &ShareInspector::refresh);
    connect(&model_, &AppModel::addressChanged, this, &ShareInspector::refresh);
    connect(&model_, &AppModel::linkCopiedChanged, this, &ShareInspector::refresh);
    connect(&model_, &AppModel::relayChanged, this, &ShareInspector::refresh);
    tick_.setInterval(15'000);
    connect(&tick_, &QTimer::timeout, this, &ShareInspector::refresh);
    tick_.start();

    applyTheme();
    refresh();
}

QWidget* ShareInspector::makeDetails() {
    auto* page = new QWidget(this);
    page->setObjectName(QStringLiteral("details"));
    auto* pageLayout = new QVBoxLayout(page);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    pageLayout->setSpacing(8);

    auto* scroll = ScrollAreas::vertical(page);
    auto* content = new QWidget(scroll);
    content->setAutoFillBackground(false);
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);

    bundle_ = new BundleContents(model_, content);
    bundle_->setObjectName(QStringLiteral("bundleContents"));
    layout->addWidget(bundle_);

    card_ = new QRCard(content);
    qr_ = &card_->code();
    layout->addWidget(card_, 0, Qt::AlignHCenter);
    qrCaption_ = Labels::wrapped({}, content, QStringLiteral("qrCaption"));
    qrCaption_->setAlignment(Qt::AlignHCenter);
    layout->addWidget(qrCaption_);

    auto* linkRow = new QHBoxLayout;
    link_ = new QLabel(content);
    link_->setObjectName(QStringLiteral("link"));
    link_->setTextFormat(Qt::PlainText);
    link_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    link_->setWordWrap(true);
    linkRow->addWidget(link_, 1);
    copy_ = new QPushButton(content);
    copy_->setObjectName(QStringLiteral("copy"));
    connect(copy_, &QPushButton::clicked, this, [this] {
        if (const auto target = model_.inspecting()) {
            model_.copyLink(*target);
        }
    });
    linkRow->addWidget(copy_);
    layout->addLayout(linkRow);

    durationTitle_ = new QLabel(QStringLiteral("Link works for"), content);
    durationTitle_->setObjectName(QStringLiteral("durationTitle"));
    layout->addWidget(durationTitle_);
    auto* durationRow = new QHBoxLayout;
    durationRow->setSpacing(4);
    durations_ = new QButtonGroup(this);
    durations_->setExclusive(true);
    for (std::size_t i = 0; i < ShareDuration::allCases.size(); ++i) {
        const ShareDuration duration = ShareDuration::allCases[i];
        // Tool buttons: their slimmer padding lets the three fit side by side in the narrow column.
        auto* button = new QToolButton(content);
        button->setText(
            QString::fromUtf8(duration.label().data(), static_cast<qsizetype>(duration.label().size())));
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        button->setObjectName(
            QStringLiteral("duration.") +
            QString::fromUtf8(duration.id().data(), static_cast<qsizetype>(duration.id().size())));
        button->setCheckable(true);
        durations_->addButton(button);
        durationButtons_[i] = button;
        connect(button, &QToolButton::clicked, this, [this, duration] {
            // A renewal keeps the link and its uploads setting; only the clock restarts.
            if (const auto target = model_.inspecting()) {
                model_.renewShare(*target, duration);
            }
        });
        durationRow->addWidget(button);
    }
    layout->addLayout(durationRow);

    status_ = Labels::wrapped({}, content, QStringLiteral("status"));
    layout->addWidget(status_);
    uploads_ = new QCheckBox(QStringLiteral("Let people send files back"), content);
    uploads_->setObjectName(QStringLiteral("uploads"));
    connect(uploads_, &QCheckBox::clicked, this, [this](bool checked) {
        if (const auto target = model_.inspecting()) {
            model_.setAllowsUploads(checked, *target);
        }
    });
    layout->addWidget(uploads_);
    inboxNote_ = Labels::wrapped(
        QStringLiteral("The phone sees only a Choose files button, nothing from this computer. "
                       "Files land in Received."),
        content, QStringLiteral("inboxNote"));
    layout->addWidget(inboxNote_);
    layout->addStretch(1);
    scroll->setWidget(content);
    ScrollAreas::makeTransparent(*scroll);
    pageLayout->addWidget(scroll, 1);

    auto* footer = new QHBoxLayout;
    sameWifi_ = new QLabel(QStringLiteral("Same Wi‑Fi only"), page);
    sameWifi_->setObjectName(QStringLiteral("sameWifi"));
    footer->addWidget(sameWifi_);
    footer->addStretch(1);
    stop_ = new QPushButton(page);
    stop_->setObjectName(QStringLiteral("stop"));
    stop_->setFlat(true);
    connect(stop_, &QPushButton::clicked, this, [this] {
        if (const auto target = model_.inspecting()) {
            model_.stopSharing(*target);
        }
    });
    footer->addWidget(stop_);
    pageLayout->addLayout(footer);
    return page;
}

NoticeView* ShareInspector::makeNotice(const QString& symbol, const QString& title, const QString& text,
                                       const QString& objectName) {
    auto* page = new NoticeView(symbol, title, text, this);
    page->setObjectName(objectName);
    page->centreVertically();
    return page;
}

QString ShareInspector::shownLink(const std::string& link) {
    return QString::fromStdString(link).remove(QStringLiteral("http://"));
}

void ShareInspector::refresh() {
    const auto& target = model_.inspecting();
    if (!target) {
        heading_->clear();
        body_->setCurrentWidget(nothing_);
        return;
    }
    const bool inbox = target->kind() == ShareTarget::Kind::inbox;
    const Library& library = model_.library();
    heading_->setCaption(inbox ? QStringLiteral("Receiving") : QStringLiteral("Sharing"));
    heading_->setTitle(inbox ? QStringLiteral("Send from a phone")
                             : QString::fromStdString(library.displayName(*target)));

    const Date now = model_.now();
    const auto share = library.activeShare(*target, now);
    const auto link = share ? model_.link(*share) : std::nullopt;
    if (!share || !link) {
        body_->setCurrentWidget(model_.address() ? expiredNotice_ : wifiNotice_);
        return;
    }

    const auto bundle =
        target->kind() == ShareTarget::Kind::bundle ? library.bundle(*target->id()) : std::nullopt;
    bundle_->setVisible(bundle.has_value());
    if (bundle) {
        bundle_->setBundle(*bundle);
    }
    qr_->setText(*link);
    qrCaption_->setText(inbox ? QStringLiteral("Scan on your phone, then pick files")
                              : QStringLiteral("Scan with a phone camera"));
    link_->setText(shownLink(*link));
    copy_->setText(model_.linkCopied() ? QStringLiteral("Copied") : QStringLiteral("Copy"));
    for (std::size_t i = 0; i < ShareDuration::allCases.size(); ++i) {
        durationButtons_[i]->setChecked(ShareDuration::allCases[i] == share->duration);
    }
    status_->setText(
        QString::fromStdString(Wording::inspectorShareStatus(*share, now, model_.followerCount(*share))));
    uploads_->setVisible(!inbox);
    uploads_->setChecked(share->allowsUploads);
    inboxNote_->setVisible(inbox);
    stop_->setText(inbox ? QStringLiteral("Stop receiving") : QStringLiteral("Stop sharing"));
    body_->setCurrentWidget(details_);
}

void ShareInspector::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ApplicationPaletteChange) {
        applyTheme();
        // The bundle's rows take their colours when made.
        refresh();
    }
}

void ShareInspector::applyTheme() {
    const Theme theme = Theme::current();
    for (QLabel* label : {qrCaption_, status_, inboxNote_, sameWifi_, durationTitle_}) {
        Labels::tint(*label, theme.dimmed);
    }
    Labels::tint(*stop_, theme.danger);
    makeNewLink_->setStyleSheet(Labels::accentButtonStyle(theme));
}

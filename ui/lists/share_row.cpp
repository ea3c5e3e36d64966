#include "ui/lists/share_row.h"

#include "app/model/app_model.h"
#include "app/model/wording.h"
#include "core/names.h"
#include "ui/widgets/context_menu.h"
#include "ui/widgets/elided_label.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/symbol_label.h"
#include "ui/widgets/symbols.h"
#include "ui/widgets/theme.h"

#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

QLabel* dimmedLabel(const QString& text, QWidget* parent, const QString& objectName) {
    auto* label = new ElidedLabel(text, parent);
    label->setObjectName(objectName);
    Labels::tint(*label, Theme::current().dimmed);
    return label;
}

} // namespace

ShareRow::ShareRow(AppModel& model, Share share, bool live, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , share_(std::move(share))
    , live_(live) {
    setObjectName(QStringLiteral("shareRow"));
    setAttribute(Qt::WA_Hover);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 8, 12, 8);
    layout->setSpacing(10);

    auto* symbol = new SymbolLabel(symbolName(share_.target.kind()), 22,
                                   live_ ? SymbolLabel::Tone::accent : SymbolLabel::Tone::dimmed, this);
    symbol->setObjectName(QStringLiteral("symbol"));
    layout->addWidget(symbol, 0, Qt::AlignVCenter);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(1);
    auto* titleLabel = new ElidedLabel(title(share_, model_.library(), live_), this);
    titleLabel->setObjectName(QStringLiteral("title"));
    titleLabel->setTextFormat(Qt::PlainText);
    texts->addWidget(titleLabel);
    if (const QString contents = QString::fromStdString(Wording::shareContents(share_));
        !contents.isEmpty()) {
        texts->addWidget(dimmedLabel(contents, this, QStringLiteral("contents")));
    }
    const std::string status =
        live_ ? Wording::liveShareStatus(share_, model_.now(), model_.followerCount(share_))
              : Wording::earlierShareStatus(share_, model_.now());
    texts->addWidget(dimmedLabel(QString::fromStdString(status), this, QStringLiteral("status")));
    layout->addLayout(texts, 1);

    if (live_) {
        auto* copy = new QToolButton(this);
        copy->setObjectName(QStringLiteral("copyLink"));
        copy->setIcon(Symbols::icon(QStringLiteral("link")));
        copy->setToolTip(QStringLiteral("Copy link"));
        copy->setAccessibleName(QStringLiteral("Copy link"));
        copy->setAutoRaise(true);
        connect(copy, &QToolButton::clicked, this, [this] { model_.copyLink(share_.target); });
        layout->addWidget(copy);
        auto* qr = new QToolButton(this);
        qr->setObjectName(QStringLiteral("showQR"));
        qr->setIcon(Symbols::icon(QStringLiteral("qrcode")));
        qr->setToolTip(QStringLiteral("Show QR code"));
        qr->setAccessibleName(QStringLiteral("Show QR code"));
        qr->setAutoRaise(true);
        connect(qr, &QToolButton::clicked, this, [this] { model_.inspect(share_.target); });
        layout->addWidget(qr);
    } else if (model_.canShareAgain(share_)) {
        auto* again = new QPushButton(QStringLiteral("Share again"), this);
        again->setObjectName(QStringLiteral("shareAgain"));
        again->setToolTip(QStringLiteral("A new link for the same files"));
        connect(again, &QPushButton::clicked, this, [this] { model_.shareAgain(share_); });
        layout->addWidget(again);
    } else {
        layout->addWidget(dimmedLabel(QStringLiteral("Files deleted"), this, QStringLiteral("filesDeleted")));
    }
}

QString ShareRow::symbolName(ShareTarget::Kind kind) {
    switch (kind) {
    case ShareTarget::Kind::folder:
        return QStringLiteral("folder");
    case ShareTarget::Kind::item:
        return QStringLiteral("doc");
    case ShareTarget::Kind::bundle:
        return QStringLiteral("rectangle.stack");
    case ShareTarget::Kind::inbox:
        break;
    }
    return QStringLiteral("iphone.and.arrow.forward");
}

QString ShareRow::title(const Share& share, const Library& library, bool live) {
    if (live) {
        return QString::fromStdString(library.displayName(share.target));
    }
    // The target may be gone, so an earlier link reads as it did when it was made.
    if (!share.title.empty()) {
        return QString::fromStdString(share.title);
    }
    if (!share.contents.empty()) {
        return QString::fromStdString(share.contents.front());
    }
    return QStringLiteral("Link");
}

void ShareRow::fillMenu(QMenu& menu) {
    // Everything by value: the list may be rebuilt, and this row deleted, while the menu is open.
    AppModel* const model = &model_;
    const Share share = share_;
    if (live_) {
        menu.addAction(QStringLiteral("Show QR code"), [model, share] { model->inspect(share.target); });
        menu.addAction(QStringLiteral("Copy link"), [model, share] { model->copyLink(share.target); });
        menu.addAction(QStringLiteral("Stop sharing"), [model, share] { model->stop(share); });
        return;
    }
    if (model_.canShareAgain(share_)) {
        menu.addAction(QStringLiteral("Share again"), [model, share] { model->shareAgain(share); });
    }
    menu.addAction(QStringLiteral("Remove from history"),
                   [model, token = share.token] { model->forgetShare(token); });
}

void ShareRow::paintEvent(QPaintEvent*) {
    if (!hovering_) {
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Theme::current().hover);
    painter.drawRoundedRect(rect().adjusted(4, 1, -4, -1), 6, 6);
}

void ShareRow::enterEvent(QEnterEvent* event) {
    hovering_ = true;
    update();
    QWidget::enterEvent(event);
}

void ShareRow::leaveEvent(QEvent* event) {
    hovering_ = false;
    update();
    QWidget::leaveEvent(event);
}

void ShareRow::contextMenuEvent(QContextMenuEvent* event) {
    ContextMenu::popup(*this, event->globalPos(), [this](QMenu& menu) { fillMenu(menu); });
}

#include "ui/explorer/selection_bar.h"

#include "app/model/app_model.h"
#include "ui/explorer/bar_button.h"
#include "ui/explorer/send_to_phone_menu.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>

SelectionBar::SelectionBar(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , count_(new QLabel(this))
    , shareLink_(new BarButton("qrcode", "Share link", SymbolLabel::Tone::accent, this))
    , copyLink_(new BarButton("link", "Copy link", SymbolLabel::Tone::accent, this))
    , moveTo_(new BarButton("folder", "Move to", SymbolLabel::Tone::accent, this))
    , moveMenu_(new QMenu(this))
    , sendTo_(new SendToPhoneMenu(
          model, [&model] { return model.picked(); }, this))
    , delete_(new BarButton("trash", "Delete", SymbolLabel::Tone::danger, this))
    , clear_(new BarButton("xmark", "Clear selection (Esc)", SymbolLabel::Tone::dimmed, this)) {
    setObjectName("selectionBar");
    count_->setObjectName("selectionCount");
    shareLink_->setObjectName("shareLinkButton");
    copyLink_->setObjectName("copyLinkButton");
    moveTo_->setObjectName("moveToButton");
    delete_->setObjectName("deleteButton");
    clear_->setObjectName("clearSelectionButton");
    setFixedHeight(38);

    shareLink_->setToolTip("One link and QR code for everything selected");
    moveTo_->setToolTip("Move to a folder");
    moveTo_->setPopupMode(QToolButton::InstantPopup);
    moveTo_->setMenu(moveMenu_);
    // The clear button is a bare symbol in every width.
    clear_->setToolButtonStyle(Qt::ToolButtonIconOnly);

    Labels::embolden(*count_);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 4, 8, 4);
    layout->setSpacing(4);
    layout->addWidget(count_);
    layout->addStretch(1);
    for (QWidget* button :
         {static_cast<QWidget*>(shareLink_), static_cast<QWidget*>(copyLink_), static_cast<QWidget*>(moveTo_),
          static_cast<QWidget*>(sendTo_), static_cast<QWidget*>(delete_), static_cast<QWidget*>(clear_)}) {
        layout->addWidget(button);
    }

    connect(shareLink_, &QToolButton::clicked, this, [this] { model_.sharePicked(); });
    connect(copyLink_, &QToolButton::clicked, this, [this] { model_.copyPickedLink(); });
    connect(delete_, &QToolButton::clicked, this, [this] { model_.deletePicked(); });
    connect(clear_, &QToolButton::clicked, this, [this] { model_.clearPicks(); });
    connect(moveMenu_, &QMenu::aboutToShow, this, &SelectionBar::refreshMoveMenu);

    connect(&model_, &AppModel::pickedChanged, this, &SelectionBar::refresh);
    connect(&model_, &AppModel::inspectingChanged, this, &SelectionBar::refresh);
    connect(&model_, &AppModel::libraryChanged, this, &SelectionBar::refreshMoveMenu);
    refresh();
    refreshMoveMenu();
}

QString SelectionBar::countText() const {
    return count_->text();
}

std::vector<BarButton*> SelectionBar::buttons() const {
    return {shareLink_, copyLink_, moveTo_, sendTo_, delete_, clear_};
}

void SelectionBar::refresh() {
    count_->setText(QString::number(model_.picked().size()) + " selected");
    const bool compact = model_.inspecting().has_value();
    for (BarButton* button : {shareLink_, copyLink_, moveTo_, static_cast<BarButton*>(sendTo_), delete_}) {
        button->setCompact(compact);
    }
}

void SelectionBar::refreshMoveMenu() {
    moveMenu_->clear();
    for (const AppModel::MoveDestination& destination : model_.moveDestinations()) {
        const std::optional<std::string> folderID = destination.folderID;
        moveMenu_->addAction(QString::fromStdString(destination.label), this,
                             [this, folderID] { model_.movePicked(folderID); });
    }
}

void SelectionBar::paintEvent(QPaintEvent*) {
    const Theme theme = Theme::current();
    QPainter painter(this);
    painter.fillRect(rect(), theme.window);
    painter.fillRect(QRect(0, 0, width(), 1), theme.line);
}

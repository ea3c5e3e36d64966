#include "ui/explorer/explorer_pane.h"

#include "app/model/app_model.h"
#include "ui/explorer/drop_overlay.h"
#include "ui/explorer/empty_list_view.h"
#include "ui/explorer/file_list_view.h"
#include "ui/explorer/footer.h"
#include "ui/explorer/list_header.h"
#include "ui/explorer/selection_bar.h"
#include "ui/explorer/toolbar.h"
#include "ui/inspector/pairing_panel.h"
#include "ui/inspector/share_inspector.h"
#include "ui/lists/phones_view.h"
#include "ui/lists/shares_view.h"
#include "ui/shell/first_launch_view.h"
#include "ui/widgets/motion.h"
#include "ui/widgets/theme.h"

#include <QDragEnterEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QPropertyAnimation>
#include <QStackedLayout>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {

/// A one-pixel line in the theme's line colour.
class Hairline : public QWidget {
public:
    Hairline(Qt::Orientation orientation, QWidget* parent)
        : QWidget(parent) {
        if (orientation == Qt::Horizontal) {
            setFixedHeight(1);
        } else {
            setFixedWidth(1);
        }
    }

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), Theme::current().line); }
};

/// The content area: the list's background, and where outside files are dropped.
class ContentArea : public QWidget {
public:
    ContentArea(ListDropDelegate& drops, std::function<void()> resized, QWidget* parent)
        : QWidget(parent)
        , drops_(drops)
        , resized_(std::move(resized)) {
        setAcceptDrops(true);
    }

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), Theme::current().content); }
    void resizeEvent(QResizeEvent* event) override {
        QWidget::resizeEvent(event);
        resized_();
    }
    void dragEnterEvent(QDragEnterEvent* event) override { drops_.enter(*event); }
    void dragMoveEvent(QDragMoveEvent* event) override { drops_.move(*event); }
    void dragLeaveEvent(QDragLeaveEvent*) override { drops_.leave(); }
    void dropEvent(QDropEvent* event) override { drops_.drop(*event); }

private:
    ListDropDelegate& drops_;
    std::function<void()> resized_;
};

} // namespace

ExplorerPane::ExplorerPane(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , model_(&model)
    , drops_(model, [this](std::optional<int> count) { setDropCount(count); }) {
    setObjectName(QStringLiteral("ExplorerPane"));
    toolbar_ = new Toolbar(model, this);

    content_ = new ContentArea(
        drops_,
        [this] {
            if (overlay_) {
                overlay_->setGeometry(content_->rect());
            }
        },
        this);
    content_->setObjectName(QStringLiteral("ExplorerContent"));
    overlay_ = nullptr;
    contentStack_ = new QStackedLayout(content_);
    shares_ = new SharesView(model, content_);
    phones_ = new PhonesView(model, content_);
    welcome_ = new FirstLaunchView(content_);

    listColumn_ = new QWidget(content_);
    listOrEmpty_ = new QStackedWidget(listColumn_);
    empty_ = new EmptyListView(model, listOrEmpty_);
    listArea_ = new QWidget(listOrEmpty_);
    header_ = new ListHeader(model, listArea_);
    list_ = new FileListView(model, drops_, listArea_);
    auto* listLayout = new QVBoxLayout(listArea_);
    listLayout->setContentsMargins(0, 0, 0, 0);
    listLayout->setSpacing(0);
    listLayout->addWidget(header_);
    listLayout->addWidget(list_, 1);
    header_->alignWith(list_);
    listOrEmpty_->addWidget(empty_);
    listOrEmpty_->addWidget(listArea_);
    selectionBar_ = new SelectionBar(model, listColumn_);
    footer_ = new Footer(model, listColumn_);
    auto* columnLayout = new QVBoxLayout(listColumn_);
    columnLayout->setContentsMargins(0, 0, 0, 0);
    columnLayout->setSpacing(0);
    columnLayout->addWidget(listOrEmpty_, 1);
    columnLayout->addWidget(new Hairline(Qt::Horizontal, listColumn_));
    columnLayout->addWidget(selectionBar_);
    columnLayout->addWidget(footer_);

    contentStack_->addWidget(shares_);
    contentStack_->addWidget(phones_);
    contentStack_->addWidget(welcome_);
    contentStack_->addWidget(listColumn_);

    overlay_ = new DropOverlay(content_);
    overlay_->setObjectName(QStringLiteral("DropOverlay"));
    overlay_->hide();

    column_ = new QWidget(this);
    column_->setObjectName(QStringLiteral("RightColumn"));
    columnStack_ = new QStackedWidget(column_);
    inspector_ = new ShareInspector(model, columnStack_);
    pairing_ = new PairingPanel(model, columnStack_);
    columnStack_->addWidget(inspector_);
    columnStack_->addWidget(pairing_);
    columnStack_->setFixedWidth(columnWidth - 1);
    auto* sideLayout = new QHBoxLayout(column_);
    sideLayout->setContentsMargins(0, 0, 0, 0);
    sideLayout->setSpacing(0);
    sideLayout->addWidget(new Hairline(Qt::Vertical, column_));
    sideLayout->addWidget(columnStack_);
    sideLayout->addStretch(1);
    column_->setMaximumWidth(0);
    column_->hide();
    slide_ = new QPropertyAnimation(column_, "maximumWidth", this);
    slide_->setDuration(200);
    slide_->setEasingCurve(QEasingCurve::OutCubic);
    connect(slide_, &QPropertyAnimation::finished, this, [this] {
        if (column_->maximumWidth() == 0) {
            column_->hide();
        }
    });

    auto* body = new QHBoxLayout;
    body->setContentsMargins(0, 0, 0, 0);
    body->setSpacing(0);
    body->addWidget(content_, 1);
    body->addWidget(column_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(toolbar_);
    layout->addWidget(new Hairline(Qt::Horizontal, this));
    layout->addLayout(body, 1);

    for (auto signal : {&AppModel::selectionChanged, &AppModel::searchChanged, &AppModel::libraryChanged,
                        &AppModel::pickedChanged}) {
        connect(&model, signal, this, &ExplorerPane::chooseContent);
    }
    for (auto signal :
         {&AppModel::inspectingChanged, &AppModel::pairingChanged, &AppModel::justPairedChanged}) {
        connect(&model, signal, this, &ExplorerPane::updateColumn);
    }
    chooseContent();
    updateColumn();
}

void ExplorerPane::setDropCount(std::optional<int> count) {
    dropCount_ = count;
    if (count && model_) {
        overlay_->setDrop(*count, QString::fromStdString(model_->locationName()));
        overlay_->setGeometry(content_->rect());
        overlay_->raise();
        overlay_->show();
    } else {
        overlay_->hide();
    }
}

void ExplorerPane::chooseContent() {
    if (!model_) {
        return;
    }
    const auto kind = model_->selection().kind();
    const bool searching = !model_->search().empty();
    const Library& library = model_->library();
    if (kind == SidebarSelection::Kind::shared && !searching) {
        contentStack_->setCurrentWidget(shares_);
    } else if (kind == SidebarSelection::Kind::phones && !searching) {
        contentStack_->setCurrentWidget(phones_);
    } else if (library.items.empty() && library.folders.empty()) {
        contentStack_->setCurrentWidget(welcome_);
    } else {
        contentStack_->setCurrentWidget(listColumn_);
        const bool hasRows = !model_->rows().empty();
        listOrEmpty_->setCurrentWidget(hasRows ? listArea_ : static_cast<QWidget*>(empty_));
        const bool picking = !model_->picked().empty();
        selectionBar_->setVisible(picking);
        footer_->setVisible(!picking);
    }
}

void ExplorerPane::updateColumn() {
    if (!model_) {
        return;
    }
    const bool inspecting = model_->inspecting().has_value();
    const bool open = inspecting || model_->isPairingPanelOpen();
    if (open) {
        columnStack_->setCurrentWidget(inspecting ? static_cast<QWidget*>(inspector_) : pairing_);
    }
    const int target = open ? columnWidth : 0;
    if (column_->maximumWidth() == target && column_->isVisible() == open) {
        return;
    }
    slide_->stop();
    if (open) {
        column_->show();
    }
    if (!Motion::enabled()) {
        column_->setMaximumWidth(target);
        column_->setVisible(open);
        return;
    }
    slide_->setStartValue(column_->maximumWidth());
    slide_->setEndValue(target);
    slide_->start();
}

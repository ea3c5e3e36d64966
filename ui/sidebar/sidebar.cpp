#include "ui/sidebar/sidebar.h"

#include "app/model/app_model.h"
#include "ui/explorer/drop_target.h"
#include "ui/sidebar/sidebar_folder_row.h"
#include "ui/sidebar/sidebar_row.h"
#include "ui/sidebar/status_card.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/scroll_areas.h"
#include "ui/widgets/symbols.h"
#include "ui/widgets/tesk_mark.h"
#include "ui/widgets/theme.h"

#include <QActionGroup>
#include <QCoreApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

/// The program's mark in the accent colour.
class MarkView : public QWidget {
public:
    explicit MarkView(QWidget* parent)
        : QWidget(parent) {
        setFixedSize(18, 18);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillPath(TeskMark::path(QRectF(rect()), true), Theme::current().accent);
    }
};

QLabel* sectionLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    Labels::embolden(*label, 0.85);
    label->setContentsMargins(14, 10, 14, 2);
    label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

} // namespace

Sidebar::Sidebar(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , model_(model) {
    setObjectName("sidebar");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(makeHeader());

    layout->addWidget(sectionLabel("Library", this));
    all_ = new SidebarRow("tray", "All files", this);
    received_ = new SidebarRow("arrow.down.to.line", "Received", this);
    shared_ = new SidebarRow("link", "Shared links", this);
    phones_ = new SidebarRow("iphone", "Phones", this);
    const std::pair<SidebarRow*, SidebarSelection> rows[] = {
        {all_, SidebarSelection::all()},
        {received_, SidebarSelection::received()},
        {shared_, SidebarSelection::shared()},
        {phones_, SidebarSelection::phones()},
    };
    for (const auto& [row, selection] : rows) {
        layout->addWidget(row);
        connect(row, &SidebarRow::clicked, this, [this, selection] { model_.setSelection(selection); });
    }
    all_->setObjectName("allFilesRow");
    received_->setObjectName("receivedRow");
    shared_->setObjectName("sharedRow");
    phones_->setObjectName("phonesRow");
    DropTarget::install(*all_, model_, [] { return std::optional<std::string>(); });

    layout->addWidget(sectionLabel("Folders", this));
    auto* scroll = new QScrollArea(this);
    scroll->setObjectName("folderScroll");
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->viewport()->setAutoFillBackground(false);
    folderList_ = new QWidget(scroll);
    folderList_->setAutoFillBackground(false);
    folderLayout_ = new QVBoxLayout(folderList_);
    folderLayout_->setContentsMargins(0, 0, 0, 0);
    folderLayout_->setSpacing(0);
    noFolders_ = new QLabel("No folders yet", folderList_);
    noFolders_->setObjectName("noFolders");
    noFolders_->setContentsMargins(14, 4, 14, 4);
    noFolders_->setForegroundRole(QPalette::PlaceholderText);
    folderLayout_->addWidget(noFolders_);
    folderLayout_->addStretch(1);
    scroll->setWidget(folderList_);
    ScrollAreas::makeTransparent(*scroll);
    layout->addWidget(scroll, 1);

    statusCard_ = new StatusCard(model_, this);
    auto* cardHolder = new QWidget(this);
    auto* cardLayout = new QVBoxLayout(cardHolder);
    cardLayout->setContentsMargins(10, 8, 10, 10);
    cardLayout->addWidget(statusCard_);
    layout->addWidget(cardHolder);

    connect(&model_, &AppModel::selectionChanged, this, &Sidebar::refreshRows);
    connect(&model_, &AppModel::libraryChanged, this, &Sidebar::refreshBadges);
    connect(&model_, &AppModel::lastSeenReceivedChanged, this, &Sidebar::refreshBadges);
    connect(&model_, &AppModel::relayChanged, this, &Sidebar::refreshBadges);
    connect(&model_, &AppModel::libraryChanged, this, &Sidebar::refreshFolders);
    connect(&model_, &AppModel::appearanceChanged, this, &Sidebar::refreshSettings);
    connect(&model_, &AppModel::opensAtLoginChanged, this, &Sidebar::refreshSettings);
    refreshRows();
    refreshBadges();
    refreshFolders();
    refreshSettings();
}

QWidget* Sidebar::makeHeader() {
    auto* header = new QWidget(this);
    auto* layout = new QHBoxLayout(header);
    layout->setContentsMargins(14, 10, 8, 4);
    layout->setSpacing(7);
    layout->addWidget(new MarkView(header));
    auto* name = new QLabel("Tesk", header);
    Labels::embolden(*name);
    layout->addWidget(name);
    layout->addStretch(1);

    settingsButton_ = new QToolButton(header);
    settingsButton_->setObjectName("settingsButton");
    settingsButton_->setAutoRaise(true);
    settingsButton_->setIcon(Symbols::icon("ellipsis.circle", 16));
    settingsButton_->setToolTip("Appearance, Open at Login and Quit");
    settingsButton_->setPopupMode(QToolButton::InstantPopup);
    settingsButton_->setStyleSheet("QToolButton::menu-indicator { image: none; }");
    makeSettingsMenu();
    settingsButton_->setMenu(settingsMenu_);
    layout->addWidget(settingsButton_);
    return header;
}

void Sidebar::makeSettingsMenu() {
    settingsMenu_ = new QMenu(this);
    settingsMenu_->setObjectName("settingsMenu");
    QMenu* appearance = settingsMenu_->addMenu("Appearance");
    appearance->setObjectName("appearanceMenu");
    auto* group = new QActionGroup(appearance);
    group->setExclusive(true);
    const std::pair<const char*, AppearanceSetting> choices[] = {
        {"Match System", AppearanceSetting::system},
        {"Light", AppearanceSetting::light},
        {"Dark", AppearanceSetting::dark},
    };
    for (const auto& [title, setting] : choices) {
        QAction* action = appearance->addAction(title);
        action->setCheckable(true);
        action->setData(static_cast<int>(setting));
        group->addAction(action);
        connect(action, &QAction::triggered, this, [this, setting] { model_.setAppearance(setting); });
    }

    QAction* login = settingsMenu_->addAction("Open at Login");
    login->setObjectName("openAtLoginAction");
    login->setCheckable(true);
    connect(login, &QAction::triggered, this, [this](bool checked) { model_.setOpensAtLogin(checked); });
    settingsMenu_->addAction("Quit Tesk", qApp, &QCoreApplication::quit);
    // The login entry can change outside Tesk, so it is read again each time the menu opens.
    connect(settingsMenu_, &QMenu::aboutToShow, this, &Sidebar::refreshSettings);
}

void Sidebar::refreshSettings() {
    for (QAction* action : settingsMenu_->findChild<QMenu*>("appearanceMenu")->actions()) {
        action->setChecked(action->data().toInt() == static_cast<int>(model_.appearance()));
    }
    if (auto* login = settingsMenu_->findChild<QAction*>("openAtLoginAction")) {
        login->setChecked(model_.opensAtLogin());
    }
}

void Sidebar::refreshRows() {
    const SidebarSelection::Kind kind = model_.selection().kind();
    all_->setSelected(kind == SidebarSelection::Kind::all);
    received_->setSelected(kind == SidebarSelection::Kind::received);
    shared_->setSelected(kind == SidebarSelection::Kind::shared);
    phones_->setSelected(kind == SidebarSelection::Kind::phones);
}

void Sidebar::refreshBadges() {
    const auto count = [](std::size_t n) { return n > 0 ? std::optional(QString::number(n)) : std::nullopt; };
    const int unseen = model_.unseenReceived();
    received_->setBadge(unseen >= 1 ? std::optional(QString::number(unseen)) : std::nullopt, true);
    shared_->setBadge(count(model_.activeShares().size()));
    phones_->setBadge(count(model_.library().devices.size()));
}

void Sidebar::refreshFolders() {
    std::vector<std::string> ids;
    for (const Folder& folder : model_.library().foldersIn(std::nullopt)) {
        ids.push_back(folder.id);
    }
    std::vector<std::string> shown;
    for (const SidebarFolderRow* row : folderRows_) {
        shown.push_back(row->folderID());
    }
    // Rows follow their own folder's changes; only a different set or order of folders rebuilds them.
    if (ids == shown) {
        return;
    }
    // A drop or a menu on a row can be what changed the library, so old rows go later, not now.
    for (SidebarFolderRow* row : folderRows_) {
        folderLayout_->removeWidget(row);
        row->hide();
        row->deleteLater();
    }
    folderRows_.clear();
    for (std::size_t index = 0; index < ids.size(); ++index) {
        auto* row = new SidebarFolderRow(model_, ids[index], folderList_);
        folderLayout_->insertWidget(static_cast<int>(index), row);
        folderRows_.push_back(row);
    }
    noFolders_->setVisible(ids.empty());
}

void Sidebar::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // The settings symbol is a picture in the text colour; a new appearance needs a new picture.
    if (settingsButton_ &&
        (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange)) {
        settingsButton_->setIcon(Symbols::icon("ellipsis.circle", 16));
    }
}

void Sidebar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Theme::current().window);
}

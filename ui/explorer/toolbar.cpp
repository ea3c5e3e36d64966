#include "ui/explorer/toolbar.h"

#include "app/model/app_model.h"
#include "core/library.h"
#include "ui/explorer/drop_target.h"
#include "ui/widgets/symbols.h"
#include "ui/widgets/theme.h"

#include <QAction>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>
#include <QToolButton>

namespace {

QString qt(const std::string& text) {
    return QString::fromStdString(text);
}

/// A folder name in the breadcrumbs: selects the folder when clicked.
class Crumb : public QLabel {
public:
    Crumb(const QString& text, std::function<void()> onClick, QWidget* parent)
        : QLabel(text, parent)
        , onClick_(std::move(onClick)) {
        setCursor(Qt::PointingHandCursor);
        setContentsMargins(4, 2, 4, 2);
    }

protected:
    void mouseReleaseEvent(QMouseEvent* event) override {
        QLabel::mouseReleaseEvent(event);
        if (onClick_) {
            // The breadcrumbs are rebuilt by the change this causes; finish this event first.
            QMetaObject::invokeMethod(this, onClick_, Qt::QueuedConnection);
        }
    }

private:
    std::function<void()> onClick_;
};

} // namespace

Toolbar::Toolbar(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , model_(&model)
    , breadcrumbs_(new QWidget(this))
    , breadcrumbLayout_(new QHBoxLayout(breadcrumbs_))
    , search_(new QLineEdit(this))
    , addMenu_(new QToolButton(this))
    , primary_(new QPushButton(this)) {
    setObjectName(QStringLiteral("Toolbar"));
    breadcrumbs_->setObjectName(QStringLiteral("Breadcrumbs"));
    breadcrumbLayout_->setContentsMargins(0, 0, 0, 0);
    breadcrumbLayout_->setSpacing(2);

    search_->setObjectName(QStringLiteral("SearchField"));
    search_->setPlaceholderText(QStringLiteral("Search"));
    search_->setFixedWidth(190);
    searchIcon_ = search_->addAction(QIcon(), QLineEdit::LeadingPosition);
    clearSearch_ = search_->addAction(QIcon(), QLineEdit::TrailingPosition);
    clearSearch_->setObjectName(QStringLiteral("ClearSearch"));
    clearSearch_->setToolTip(QStringLiteral("Clear search"));
    connect(clearSearch_, &QAction::triggered, this, [this] {
        if (model_) {
            model_->setSearch("");
        }
    });
    connect(search_, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (model_) {
            model_->setSearch(text.toStdString());
        }
    });

    addMenu_->setObjectName(QStringLiteral("AddMenu"));
    addMenu_->setToolTip(QStringLiteral("New folder, add files, or paste"));
    addMenu_->setFixedSize(30, 30);
    addMenu_->setAutoRaise(true);
    addMenu_->setPopupMode(QToolButton::InstantPopup);
    addMenu_->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; width: 0; }"));
    auto* menu = new QMenu(addMenu_);
    menu->addAction(QStringLiteral("New folder"), this, [this] { model_ ? model_->newFolder() : void(); });
    menu->addAction(QStringLiteral("Add file"), this, [this] { model_ ? model_->chooseFiles() : void(); });
    menu->addAction(QStringLiteral("Paste link or note"), this,
                    [this] { model_ ? model_->paste() : void(); });
    addMenu_->setMenu(menu);

    primary_->setObjectName(QStringLiteral("PrimaryButton"));
    primary_->setCursor(Qt::PointingHandCursor);
    connect(primary_, &QPushButton::clicked, this, [this] {
        if (!model_) {
            return;
        }
        const auto& selection = model_->selection();
        switch (selection.kind()) {
        case SidebarSelection::Kind::folder:
            model_->inspect(ShareTarget::folder(*selection.folderID()));
            break;
        case SidebarSelection::Kind::received:
            model_->inspect(ShareTarget::inbox());
            break;
        case SidebarSelection::Kind::phones:
            model_->startPairing();
            break;
        default:
            break;
        }
    });

    // The one place Ctrl+V adds to the library; a focused text field takes its own paste first.
    auto* paste = new QShortcut(QKeySequence::Paste, this);
    paste->setContext(Qt::WindowShortcut);
    connect(paste, &QShortcut::activated, this, [this] { model_ ? model_->paste() : void(); });

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(14, 10, 12, 10);
    layout->setSpacing(8);
    layout->addWidget(breadcrumbs_, 1);
    layout->addWidget(search_);
    layout->addWidget(addMenu_);
    layout->addWidget(primary_);
    setFixedHeight(52);

    for (auto signal : {&AppModel::selectionChanged, &AppModel::searchChanged, &AppModel::libraryChanged}) {
        connect(&model, signal, this, &Toolbar::refresh);
    }
    restyle();
    refresh();
}

void Toolbar::refresh() {
    if (!model_) {
        return;
    }
    const QString search = qt(model_->search());
    if (search_->text() != search) {
        search_->setText(search);
    }
    clearSearch_->setVisible(!search.isEmpty());

    const auto kind = model_->selection().kind();
    addMenu_->setVisible(kind != SidebarSelection::Kind::phones);
    QString title;
    QString icon;
    switch (kind) {
    case SidebarSelection::Kind::folder:
        title = QStringLiteral("Share folder");
        icon = QStringLiteral("qrcode");
        break;
    case SidebarSelection::Kind::received:
        title = QStringLiteral("Receive from phone");
        icon = QStringLiteral("iphone.and.arrow.forward");
        break;
    case SidebarSelection::Kind::phones:
        title = QStringLiteral("Pair a phone");
        icon = QStringLiteral("plus");
        break;
    default:
        break;
    }
    primary_->setVisible(!title.isEmpty());
    primary_->setText(title);
    primary_->setIcon(icon.isEmpty()
                          ? QIcon()
                          : QIcon(Symbols::pixmap(icon, 14, Theme::current().onAccent, devicePixelRatioF())));
    rebuildBreadcrumbs();
}

void Toolbar::rebuildBreadcrumbs() {
    while (QLayoutItem* item = breadcrumbLayout_->takeAt(0)) {
        if (QWidget* widget = item->widget()) {
            widget->hide();
            widget->deleteLater();
        }
        delete item;
    }
    const Theme theme = Theme::current();
    QFont titleFont = font();
    titleFont.setPointSizeF(font().pointSizeF() * 1.15);
    titleFont.setWeight(QFont::DemiBold);
    auto addText = [&](const QString& text) {
        auto* label = new QLabel(text, breadcrumbs_);
        label->setObjectName(QStringLiteral("BreadcrumbTitle"));
        label->setFont(titleFont);
        breadcrumbLayout_->addWidget(label);
    };
    const auto& selection = model_->selection();
    if (!model_->search().empty()) {
        addText(QStringLiteral("Search results"));
    } else if (selection.kind() == SidebarSelection::Kind::folder) {
        const auto chain = model_->library().path(*selection.folderID());
        for (std::size_t i = 0; i < chain.size(); ++i) {
            if (i > 0) {
                auto* chevron = new QLabel(breadcrumbs_);
                chevron->setPixmap(
                    Symbols::pixmap(QStringLiteral("chevron.right"), 10, theme.dimmed, devicePixelRatioF()));
                breadcrumbLayout_->addWidget(chevron);
            }
            const std::string id = chain[i].id;
            auto* crumb = new Crumb(
                qt(chain[i].name),
                [model = model_, id] {
                    if (model) {
                        model->setSelection(SidebarSelection::folder(id));
                    }
                },
                breadcrumbs_);
            crumb->setObjectName(QStringLiteral("Crumb"));
            crumb->setFont(titleFont);
            DropTarget::install(*crumb, *model_, [id] { return std::optional<std::string>(id); });
            breadcrumbLayout_->addWidget(crumb);
        }
    } else {
        addText(qt(model_->title()));
    }
    breadcrumbLayout_->addStretch(1);
}

void Toolbar::restyle() {
    const Theme theme = Theme::current();
    const qreal scale = devicePixelRatioF();
    searchIcon_->setIcon(QIcon(Symbols::pixmap(QStringLiteral("magnifyingglass"), 14, theme.dimmed, scale)));
    clearSearch_->setIcon(
        QIcon(Symbols::pixmap(QStringLiteral("xmark.circle.fill"), 14, theme.dimmed, scale)));
    addMenu_->setIcon(QIcon(Symbols::pixmap(QStringLiteral("plus"), 18, theme.text, scale)));
    addMenu_->setIconSize(QSize(18, 18));
    search_->setStyleSheet(
        QStringLiteral("QLineEdit#SearchField { border: 1px solid %1; border-radius: 7px; "
                       "padding: 3px 2px; background: %2; color: %3; }")
            .arg(theme.line.name(QColor::HexArgb), theme.content.name(), theme.text.name()));
    primary_->setStyleSheet(
        QStringLiteral(
            "QPushButton#PrimaryButton { background: %1; color: %2; border: none; border-radius: 7px; "
            "padding: 6px 12px; font-weight: 600; }"
            "QPushButton#PrimaryButton:pressed { background: %3; }")
            .arg(theme.accent.name(), theme.onAccent.name(), theme.accent.darker(115).name()));
}

void Toolbar::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange) {
        restyle();
        if (model_) {
            refresh();
        }
    }
}

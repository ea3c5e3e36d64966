#include "ui/sidebar/sidebar_folder_row.h"

#include "app/model/app_model.h"
#include "ui/explorer/drop_target.h"
#include "ui/explorer/entry_menu.h"
#include "ui/widgets/context_menu.h"
#include "ui/widgets/symbol_label.h"
#include "ui/widgets/theme.h"

#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>

namespace {
constexpr int rowHeight = 28;
} // namespace

SidebarFolderRow::SidebarFolderRow(AppModel& model, std::string folderID, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , folderID_(std::move(folderID))
    , icon_(new SymbolLabel("folder", 15, SymbolLabel::Tone::dimmed, this))
    , name_(new QLabel(this))
    , field_(new QLineEdit(this))
    , tag_(new QLabel("Shared", this))
    , dropTarget_(DropTarget::install(*this, model, [id = folderID_] { return std::optional(id); })) {
    setObjectName("folderRow");
    name_->setObjectName("folderName");
    field_->setObjectName("folderNameField");
    tag_->setObjectName("sharedTag");
    setFixedHeight(rowHeight);
    setAttribute(Qt::WA_Hover);
    setCursor(Qt::PointingHandCursor);

    field_->setPlaceholderText("Folder name");
    field_->hide();
    field_->installEventFilter(this);
    connect(field_, &QLineEdit::returnPressed, this, &SidebarFolderRow::submit);

    QFont small = tag_->font();
    small.setPointSizeF(small.pointSizeF() * 0.8);
    tag_->setFont(small);
    tag_->setContentsMargins(5, 0, 5, 0);
    tag_->setAutoFillBackground(false);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(14, 0, 12, 0);
    layout->setSpacing(8);
    layout->addWidget(icon_);
    layout->addWidget(name_, 1);
    layout->addWidget(field_, 1);
    layout->addWidget(tag_);

    connect(&model_, &AppModel::libraryChanged, this, &SidebarFolderRow::refresh);
    connect(&model_, &AppModel::selectionChanged, this, &SidebarFolderRow::refresh);
    connect(&model_, &AppModel::renamingIDChanged, this, &SidebarFolderRow::refreshEditing);
    connect(dropTarget_, &DropTarget::targetedChanged, this, [this] { update(); });
    refresh();
    refreshEditing();
}

QString SidebarFolderRow::name() const {
    return name_->text();
}

bool SidebarFolderRow::isShared() const {
    return !tag_->isHidden();
}

bool SidebarFolderRow::isEditing() const {
    return !field_->isHidden();
}

QSize SidebarFolderRow::sizeHint() const {
    return {180, rowHeight};
}

void SidebarFolderRow::refresh() {
    const Library& library = model_.library();
    const auto folder = library.folder(folderID_);
    if (!folder) {
        return;
    }
    name_->setText(QString::fromStdString(folder->name));
    const SidebarSelection& selection = model_.selection();
    highlighted_ = selection.kind() == SidebarSelection::Kind::folder &&
                   library.folderIsInside(selection.folderID(), folderID_);
    icon_->setSymbol(highlighted_ ? "folder.fill" : "folder");
    icon_->setTone(highlighted_ ? SymbolLabel::Tone::accent : SymbolLabel::Tone::dimmed);
    tag_->setVisible(model_.isShared(ShareTarget::folder(folderID_)));
    update();
}

void SidebarFolderRow::refreshEditing() {
    const bool editing = model_.renamingID() == folderID_;
    if (editing == isEditing()) {
        return;
    }
    if (editing) {
        if (const auto folder = model_.library().folder(folderID_)) {
            field_->setText(QString::fromStdString(folder->name));
        }
        name_->hide();
        field_->show();
        field_->setFocus(Qt::OtherFocusReason);
        field_->selectAll();
    } else {
        field_->hide();
        name_->show();
    }
}

void SidebarFolderRow::submit() {
    // rename() ends the renaming first, which hides the field; the row itself stays.
    model_.rename(folderID_, field_->text().toStdString());
}

bool SidebarFolderRow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == field_ && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        model_.setRenamingID(std::nullopt);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void SidebarFolderRow::paintEvent(QPaintEvent*) {
    const Theme theme = Theme::current();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (highlighted_ || hovering_) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(highlighted_ ? theme.selected : theme.hover);
        painter.drawRoundedRect(QRectF(rect()).adjusted(6, 1, -6, -1), 6, 6);
    }
    if (!tag_->isHidden()) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(theme.tag);
        const QRectF capsule = QRectF(tag_->geometry()).adjusted(0, 5, 0, -5);
        painter.drawRoundedRect(capsule, capsule.height() / 2, capsule.height() / 2);
    }
}

void SidebarFolderRow::mousePressEvent(QMouseEvent* event) {
    event->accept();
}

void SidebarFolderRow::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && !isEditing()) {
        model_.setSelection(SidebarSelection::folder(folderID_));
    }
}

void SidebarFolderRow::contextMenuEvent(QContextMenuEvent* event) {
    ContextMenu::popup(*this, event->globalPos(), [this](QMenu& menu) {
        EntryMenu::fill(menu, model_, LibraryEntry::folder(folderID_));
    });
}

void SidebarFolderRow::enterEvent(QEnterEvent*) {
    hovering_ = true;
    update();
}

void SidebarFolderRow::leaveEvent(QEvent*) {
    hovering_ = false;
    update();
}

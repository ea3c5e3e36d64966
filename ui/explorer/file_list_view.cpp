#include "ui/explorer/file_list_view.h"

#include "app/model/app_model.h"
#include "app/model/drag_drop.h"
#include "ui/explorer/entry_menu.h"
#include "ui/explorer/file_list_model.h"
#include "ui/explorer/list_drop_delegate.h"
#include "ui/widgets/context_menu.h"
#include "ui/widgets/symbols.h"
#include "ui/widgets/theme.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

namespace {

/// Whether the drag carries this very folder, which cannot go into itself.
bool carriesFolder(const QMimeData& data, const std::string& folderID) {
    if (!DragDrop::isInternal(data)) {
        return false;
    }
    const QByteArray wire = QByteArray::fromStdString(LibraryEntry::folder(folderID).wire());
    for (const QByteArray& line : data.data(DragDrop::entryType).split('\n')) {
        if (line.trimmed() == wire) {
            return true;
        }
    }
    return false;
}

LibraryEntry entryOf(const ListRow& row) {
    return row.isFolder() ? LibraryEntry::folder(row.id()) : LibraryEntry::item(row.id());
}

} // namespace

FileListView::FileListView(AppModel& model, ListDropDelegate& drops, QWidget* parent)
    : QListView(parent)
    , model_(model)
    , drops_(drops)
    , rows_(new FileListModel(model, this))
    , delegate_(new FileRowDelegate(model, this))
    , renameField_(new QLineEdit(viewport()))
    , fromThisProgram_([](const QDropEvent& event) { return event.source() != nullptr; }) {
    setObjectName(QStringLiteral("fileList"));
    setModel(rows_);
    setItemDelegate(delegate_);
    setUniformItemSizes(true);
    setSelectionMode(NoSelection);
    setEditTriggers(NoEditTriggers);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollMode(ScrollPerPixel);
    setMouseTracking(true);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    viewport()->setAutoFillBackground(false);

    renameField_->setObjectName(QStringLiteral("renameField"));
    renameField_->setPlaceholderText(QStringLiteral("Name"));
    renameField_->hide();
    renameField_->installEventFilter(this);
    connect(renameField_, &QLineEdit::returnPressed, this, &FileListView::submitRename);

    connect(rows_, &QAbstractItemModel::modelAboutToBeReset, this,
            [this] { savedScroll_ = verticalScrollBar()->value(); });
    connect(rows_, &QAbstractItemModel::modelReset, this, &FileListView::afterReset);
    connect(&model_, &AppModel::renamingIDChanged, this, [this] {
        syncRenameField();
        viewport()->update();
    });
    // The pick-box column comes and goes with picks and the inspector, and the name field moves with it.
    connect(&model_, &AppModel::pickedChanged, this, &FileListView::placeRenameField);
    connect(&model_, &AppModel::inspectingChanged, this, &FileListView::placeRenameField);
    connect(&model_, &AppModel::revealedIDChanged, this, [this] {
        pendingReveal_ = model_.revealedID();
        reveal();
    });
}

// ---- Clicks ----

void FileListView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->accept();
        return;
    }
    const QPoint point = event->position().toPoint();
    const QModelIndex index = indexAt(point);
    pressRow_ = index.isValid() ? index.row() : -1;
    pressPoint_ = point;
    pressPart_ = index.isValid() ? delegate_->partAt(visualRect(index), point) : FileRowDelegate::Part::row;
    dragStarted_ = false;
    releaseAfterDoubleClick_ = false;
    renamingAtPress_ = index.isValid() && model_.renamingID() &&
                       *model_.renamingID() == index.data(FileListModel::idRole).toString().toStdString();
    setFocus(Qt::MouseFocusReason);
    event->accept();
}

void FileListView::mouseMoveEvent(QMouseEvent* event) {
    const QPoint point = event->position().toPoint();
    const QModelIndex index = indexAt(point);
    setHoveredRow(index.isValid() ? index.row() : -1);
    if ((event->buttons() & Qt::LeftButton) && pressRow_ >= 0 && !dragStarted_ &&
        pressPart_ == FileRowDelegate::Part::row &&
        (point - pressPoint_).manhattanLength() >= QApplication::startDragDistance()) {
        dragStarted_ = true;
        startRowDrag(pressRow_);
    }
    event->accept();
}

void FileListView::mouseReleaseEvent(QMouseEvent* event) {
    const int row = pressRow_;
    const bool clicked = event->button() == Qt::LeftButton && row >= 0 && !dragStarted_ &&
                         !releaseAfterDoubleClick_ && indexAt(event->position().toPoint()).row() == row;
    pressRow_ = -1;
    releaseAfterDoubleClick_ = false;
    event->accept();
    if (!clicked || row >= static_cast<int>(rows_->rows().size())) {
        return;
    }
    // Copies: the model's answer may rebuild the list under us.
    const ListRow target = rows_->rows()[static_cast<std::size_t>(row)];
    switch (pressPart_) {
    case FileRowDelegate::Part::pickBox:
        model_.togglePick(target.target());
        break;
    case FileRowDelegate::Part::qrButton:
        model_.inspect(target.target());
        break;
    case FileRowDelegate::Part::row: {
        const std::vector<ListRow> onScreen = rows_->rows();
        const Qt::KeyboardModifiers modifiers = event->modifiers();
        // Ctrl is what Command is on a Mac.
        model_.click(target, modifiers.testFlag(Qt::ControlModifier), modifiers.testFlag(Qt::ShiftModifier),
                     onScreen);
        break;
    }
    }
}

void FileListView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->accept();
        return;
    }
    const QPoint point = event->position().toPoint();
    const QModelIndex index = indexAt(point);
    if (index.isValid() && delegate_->partAt(visualRect(index), point) != FileRowDelegate::Part::row) {
        // The second click on a box or button is a click of its own.
        mousePressEvent(event);
        return;
    }
    pressRow_ = -1;
    releaseAfterDoubleClick_ = true;
    event->accept();
    if (!index.isValid()) {
        return;
    }
    const ListRow row = rows_->rows()[static_cast<std::size_t>(index.row())];
    const bool renaming = renamingAtPress_ || model_.renamingID() == row.id();
    renamingAtPress_ = false;
    if (!renaming) {
        model_.open(row);
    }
}

void FileListView::contextMenuEvent(QContextMenuEvent* event) {
    event->accept();
    const QModelIndex index = indexAt(event->pos());
    if (!index.isValid()) {
        return;
    }
    const LibraryEntry entry = entryOf(rows_->rows()[static_cast<std::size_t>(index.row())]);
    ContextMenu::popup(*this, event->globalPos(),
                       [this, &entry](QMenu& menu) { EntryMenu::fill(menu, model_, entry); });
}

// ---- Hover ----

bool FileListView::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::Leave) {
        setHoveredRow(-1);
    }
    return QListView::viewportEvent(event);
}

void FileListView::setHoveredRow(int row) {
    const int old = delegate_->hoveredRow();
    if (old == row) {
        return;
    }
    delegate_->setHoveredRow(row);
    updateRow(old);
    updateRow(row);
}

void FileListView::setDropTargetRow(int row) {
    const int old = delegate_->dropTargetRow();
    if (old == row) {
        return;
    }
    delegate_->setDropTargetRow(row);
    updateRow(old);
    updateRow(row);
}

void FileListView::updateRow(int row) {
    if (row >= 0 && row < rows_->rowCount()) {
        viewport()->update(visualRect(rows_->index(row)));
    }
}

void FileListView::paintEvent(QPaintEvent* event) {
    {
        QPainter painter(viewport());
        painter.fillRect(event->rect(), Theme::current().content);
    }
    QListView::paintEvent(event);
}

// ---- Dragging rows out ----

void FileListView::startRowDrag(int row) {
    if (row < 0 || row >= static_cast<int>(rows_->rows().size())) {
        return;
    }
    const ListRow dragged = rows_->rows()[static_cast<std::size_t>(row)];
    if (model_.renamingID() == dragged.id()) {
        return;
    }
    std::optional<std::filesystem::path> file;
    std::optional<std::string> text;
    if (!dragged.isFolder()) {
        const Item& item = std::get<Item>(dragged.content);
        if (item.kind == ItemKind::file) {
            file = model_.storedFile(item);
        } else {
            text = item.content.value_or("");
        }
    }
    auto* drag = new QDrag(this);
    drag->setMimeData(DragDrop::provider(entryOf(dragged), file, text).release());
    const QPixmap image = Symbols::pixmap(rows_->index(row).data(FileListModel::symbolRole).toString(), 24,
                                          Theme::current().text, devicePixelRatioF());
    if (!image.isNull()) {
        drag->setPixmap(image);
    }
    // Only a copy may leave the program: a file manager that honours a move would take the stored file out
    // of the library. Within the panel the entry type alone makes a drop a move, whatever the action.
    drag->exec(Qt::CopyAction, Qt::CopyAction);
    pressRow_ = -1;
}

// ---- Drops ----

bool FileListView::refusesSource(const QDropEvent& event) const {
    const QMimeData* data = event.mimeData();
    return !data || (DragDrop::isInternal(*data) && !fromThisProgram_(event));
}

std::optional<int> FileListView::folderRowAt(const QPoint& point, const QMimeData& data) const {
    const QModelIndex index = indexAt(point);
    if (!index.isValid() || !index.data(FileListModel::isFolderRole).toBool()) {
        return std::nullopt;
    }
    if (carriesFolder(data, index.data(FileListModel::idRole).toString().toStdString())) {
        return std::nullopt;
    }
    return index.row();
}

void FileListView::leaveListArea() {
    if (dragOverList_) {
        dragOverList_ = false;
        drops_.leave();
    }
}

void FileListView::routeDrag(QDragMoveEvent& event, bool entering) {
    const QMimeData& data = *event.mimeData();
    if (const auto row = folderRowAt(event.position().toPoint(), data)) {
        leaveListArea();
        setDropTargetRow(*row);
        event.setDropAction(Qt::CopyAction);
        event.accept();
        return;
    }
    setDropTargetRow(-1);
    if (dragOverList_) {
        drops_.move(event);
        return;
    }
    dragOverList_ = true;
    if (entering) {
        drops_.enter(static_cast<QDragEnterEvent&>(event));
        return;
    }
    // Coming off a folder row: to the list's rules this is where the drag enters.
    QDragEnterEvent enter(event.position().toPoint(), event.possibleActions(), event.mimeData(),
                          event.buttons(), event.modifiers());
    drops_.enter(enter);
    drops_.move(event);
}

void FileListView::dragEnterEvent(QDragEnterEvent* event) {
    if (refusesSource(*event)) {
        event->ignore();
        return;
    }
    dragOverList_ = false;
    routeDrag(*event, true);
}

void FileListView::dragMoveEvent(QDragMoveEvent* event) {
    if (refusesSource(*event)) {
        event->ignore();
        return;
    }
    routeDrag(*event, false);
}

void FileListView::dragLeaveEvent(QDragLeaveEvent* event) {
    setDropTargetRow(-1);
    leaveListArea();
    event->accept();
}

void FileListView::dropEvent(QDropEvent* event) {
    setDropTargetRow(-1);
    if (refusesSource(*event)) {
        leaveListArea();
        event->ignore();
        return;
    }
    const QMimeData& data = *event->mimeData();
    if (const auto row = folderRowAt(event->position().toPoint(), data)) {
        leaveListArea();
        const std::string folderID = rows_->rows()[static_cast<std::size_t>(*row)].id();
        if (DragDrop::handle(data, folderID, model_, true)) {
            event->setDropAction(Qt::CopyAction);
            event->accept();
        } else {
            event->ignore();
        }
        return;
    }
    dragOverList_ = false;
    drops_.drop(*event);
}

// ---- Renaming ----

void FileListView::syncRenameField() {
    const auto& id = model_.renamingID();
    const std::optional<int> row = id ? rows_->rowOf(*id) : std::nullopt;
    if (!row) {
        // A rename of something not in this list (or not in it yet) has no field here.
        if (renameField_->isVisible()) {
            const bool hadFocus = renameField_->hasFocus();
            renameField_->hide();
            if (hadFocus) {
                setFocus(Qt::OtherFocusReason);
            }
        }
        if (!id) {
            editingID_.reset();
        }
        return;
    }
    const bool opening = editingID_ != id || !renameField_->isVisible();
    if (editingID_ != id) {
        editingID_ = id;
        renameField_->setText(QString::fromStdString(rows_->rows()[static_cast<std::size_t>(*row)].name()));
    }
    placeRenameField();
    if (opening) {
        renameField_->show();
        renameField_->selectAll();
        renameField_->setFocus(Qt::OtherFocusReason);
    }
}

void FileListView::placeRenameField() {
    if (!editingID_) {
        return;
    }
    const auto row = rows_->rowOf(*editingID_);
    if (!row) {
        return;
    }
    const QRect name = delegate_->rects(visualRect(rows_->index(*row))).name;
    const int height = std::min(name.height(), renameField_->sizeHint().height());
    renameField_->setGeometry(name.left() - 4, name.center().y() - height / 2, name.width() + 4, height);
}

void FileListView::submitRename() {
    if (!editingID_) {
        return;
    }
    // Copies: renaming clears `renamingID`, which hides the field and forgets the id.
    const std::string id = *editingID_;
    const std::string name = renameField_->text().toStdString();
    model_.rename(id, name);
}

bool FileListView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == renameField_ && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        // Escape cancels the rename, as the panel's Escape would first.
        model_.setRenamingID(std::nullopt);
        return true;
    }
    return QListView::eventFilter(watched, event);
}

// ---- Layout and revealing ----

void FileListView::afterReset() {
    delegate_->setHoveredRow(-1);
    delegate_->setDropTargetRow(-1);
    executeDelayedItemsLayout();
    if (rows_->lastResetKeptList()) {
        verticalScrollBar()->setValue(savedScroll_);
    } else {
        scrollToTop();
    }
    syncRenameField();
    if (pendingReveal_) {
        reveal();
    }
}

void FileListView::reveal() {
    if (!pendingReveal_) {
        return;
    }
    const auto row = rows_->rowOf(*pendingReveal_);
    if (!row) {
        return;
    }
    pendingReveal_.reset();
    executeDelayedItemsLayout();
    scrollTo(rows_->index(*row), PositionAtCenter);
}

void FileListView::showEvent(QShowEvent* event) {
    QListView::showEvent(event);
    if (model_.revealedID()) {
        pendingReveal_ = model_.revealedID();
        // After the first layout, so the row's place is known.
        QMetaObject::invokeMethod(this, &FileListView::reveal, Qt::QueuedConnection);
    }
    syncRenameField();
}

void FileListView::scrollContentsBy(int dx, int dy) {
    QListView::scrollContentsBy(dx, dy);
    placeRenameField();
}

void FileListView::updateGeometries() {
    QListView::updateGeometries();
    placeRenameField();
}

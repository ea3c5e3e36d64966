#pragma once

#include "ui/explorer/file_row_delegate.h"

#include <QListView>
#include <QPoint>
#include <QPointer>
#include <functional>
#include <optional>
#include <string>

class AppModel;
class FileListModel;
class ListDropDelegate;
class QDropEvent;
class QLineEdit;

/// The explorer's list of folders and items. Only rows on screen are painted, so it stays quick with
/// tens of thousands of rows. It turns clicks into picks, double clicks into opening, drags into
/// library moves and copies, and shows the name field of the row being renamed; everything it shows
/// comes from the model.
class FileListView : public QListView {
    Q_OBJECT

public:
    /// Whether a drop comes from a drag this program started; by default, whether Qt names its source.
    using SourceCheck = std::function<bool(const QDropEvent&)>;

    FileListView(AppModel& model, ListDropDelegate& drops, QWidget* parent = nullptr);

    FileListModel& fileModel() const { return *rows_; }
    FileRowDelegate& rowDelegate() const { return *delegate_; }
    /// The name field shown over the row being renamed (hidden otherwise).
    QLineEdit* renameField() const { return renameField_; }

    /// Replaces the test for drags from this program. A drop event made outside a running drag names
    /// no source, so tests stand in for one here.
    void setDragSourceCheck(SourceCheck check) { fromThisProgram_ = std::move(check); }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void updateGeometries() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    /// The folder row under `point` that the drag may drop into; nothing over other rows or space.
    std::optional<int> folderRowAt(const QPoint& point, const QMimeData& data) const;
    /// A library entry offered by another program is never taken.
    bool refusesSource(const QDropEvent& event) const;
    /// Sends a drag over the list to a folder row or to the list's own drop rules.
    void routeDrag(QDragMoveEvent& event, bool entering);
    /// Leaves the list's own drop rules when the drag went elsewhere.
    void leaveListArea();
    void setHoveredRow(int row);
    void setDropTargetRow(int row);
    void updateRow(int row);
    void startRowDrag(int row);
    /// Opens, moves or closes the name field to match the model's `renamingID`.
    void syncRenameField();
    void placeRenameField();
    void submitRename();
    /// Scrolls the revealed row to the middle, or waits for it to arrive in the list.
    void reveal();
    void afterReset();

    AppModel& model_;
    ListDropDelegate& drops_;
    FileListModel* rows_;
    FileRowDelegate* delegate_;
    QLineEdit* renameField_;
    SourceCheck fromThisProgram_;

    // The press a click or drag starts from.
    int pressRow_ = -1;
    QPoint pressPoint_;
    FileRowDelegate::Part pressPart_ = FileRowDelegate::Part::row;
    bool dragStarted_ = false;
    /// Whether the row pressed was being renamed; the first click of a double click ends the rename,
    /// and the double click must still not open the row.
    bool renamingAtPress_ = false;
    /// The release after a double click ends no click of its own.
    bool releaseAfterDoubleClick_ = false;

    /// Whether a drag is over the list's own drop area (not over a folder row).
    bool dragOverList_ = false;
    int savedScroll_ = 0;
    /// The row the name field belongs to, so a rebuild keeps what was typed.
    std::optional<std::string> editingID_;
    /// A revealed row not yet in the list.
    std::optional<std::string> pendingReveal_;
};

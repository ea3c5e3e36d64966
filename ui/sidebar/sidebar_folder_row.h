#pragma once

#include <QWidget>
#include <string>

class AppModel;
class DropTarget;
class QLabel;
class QLineEdit;
class SymbolLabel;

/// One top-level folder in the sidebar: its symbol, name and "Shared" tag, or a name field while it is
/// being renamed. A click selects the folder, a drop goes into it, the context menu is its EntryMenu.
/// Follows the model by itself; a folder that is gone leaves the row as it was until the sidebar drops it.
class SidebarFolderRow : public QWidget {
    Q_OBJECT

public:
    SidebarFolderRow(AppModel& model, std::string folderID, QWidget* parent = nullptr);

    const std::string& folderID() const { return folderID_; }
    /// Whether the selection is this folder or a folder inside it.
    bool isHighlighted() const { return highlighted_; }
    QString name() const;
    bool isShared() const;
    bool isEditing() const;
    DropTarget& dropTarget() const { return *dropTarget_; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void refresh();
    void refreshEditing();
    void submit();

    AppModel& model_;
    std::string folderID_;
    bool highlighted_ = false;
    bool hovering_ = false;
    SymbolLabel* icon_;
    QLabel* name_;
    QLineEdit* field_;
    QLabel* tag_;
    DropTarget* dropTarget_;
};

#pragma once

#include <QWidget>

class AppModel;
class ExplorerPane;
class Sidebar;
class ToastCapsule;

/// The panel's whole content, 780 × 540: the sidebar, a divider, the explorer, and the status message
/// floating above them.
class PopoverRoot : public QWidget {
    Q_OBJECT

public:
    static constexpr int sidebarWidth = 204;

    explicit PopoverRoot(AppModel& model, QWidget* parent = nullptr);

    ExplorerPane& explorer() const { return *explorer_; }
    Sidebar& sidebar() const { return *sidebar_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    Sidebar* sidebar_;
    ExplorerPane* explorer_;
    ToastCapsule* toast_;
};

#pragma once

#include <QWidget>
#include <string>
#include <vector>

class AppModel;
class QLabel;
class QMenu;
class QToolButton;
class QVBoxLayout;
class SidebarFolderRow;
class SidebarRow;
class StatusCard;

/// The panel's left column: the header with the settings menu, the four library rows, the top-level
/// folders and the network status card.
class Sidebar : public QWidget {
    Q_OBJECT

public:
    Sidebar(AppModel& model, QWidget* parent = nullptr);

    SidebarRow& allFilesRow() const { return *all_; }
    SidebarRow& receivedRow() const { return *received_; }
    SidebarRow& sharedRow() const { return *shared_; }
    SidebarRow& phonesRow() const { return *phones_; }
    /// The folder rows on show, in order.
    const std::vector<SidebarFolderRow*>& folderRows() const { return folderRows_; }
    StatusCard& statusCard() const { return *statusCard_; }
    QMenu& settingsMenu() const { return *settingsMenu_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QWidget* makeHeader();
    void makeSettingsMenu();
    void refreshRows();
    void refreshBadges();
    void refreshFolders();
    void refreshSettings();

    AppModel& model_;
    SidebarRow* all_ = nullptr;
    SidebarRow* received_ = nullptr;
    SidebarRow* shared_ = nullptr;
    SidebarRow* phones_ = nullptr;
    QToolButton* settingsButton_ = nullptr;
    QMenu* settingsMenu_ = nullptr;
    QWidget* folderList_ = nullptr;
    QVBoxLayout* folderLayout_ = nullptr;
    QLabel* noFolders_ = nullptr;
    std::vector<SidebarFolderRow*> folderRows_;
    StatusCard* statusCard_ = nullptr;
};

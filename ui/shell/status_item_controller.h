#pragma once

#include <QObject>
#include <QPointer>
#include <filesystem>
#include <memory>
#include <optional>

class AppModel;
class PanelController;
class Platform;
class PreviewWindow;
class QIcon;
class QMenu;
class QSystemTrayIcon;
class TeskPanel;

/// The tray icon and everything it opens: the panel with its views and the preview window. Lives as long
/// as the application shows its interface.
class StatusItemController : public QObject {
    Q_OBJECT

public:
    StatusItemController(AppModel& model, Platform& platform, QObject* parent = nullptr);
    ~StatusItemController() override;

    /// The tray icon's action: opens the panel under the icon, or closes it.
    void togglePopover();
    /// Opens the panel where it belongs: under the tray icon, else in the screen's corner, else as an
    /// ordinary window when there is no tray.
    void showPanel();
    bool isPanelVisible() const;

    /// Escape's order of dismissal: a rename, the inspector, the pairing panel, the picks. Whether
    /// something was dismissed.
    static bool dismissOne(AppModel& model);
    /// The tray's image: the mark for small sizes, in one colour.
    static QIcon menuBarImage(int pointSize);

    TeskPanel& panel() const { return *panel_; }
    PanelController& panelController() const { return *controller_; }
    PreviewWindow& preview() const { return *preview_; }

private:
    void previewChanged();

    QPointer<AppModel> model_;
    Platform& platform_;
    std::unique_ptr<TeskPanel> panel_;
    std::unique_ptr<PanelController> controller_;
    std::unique_ptr<PreviewWindow> preview_;
    std::unique_ptr<QMenu> trayMenu_;
    std::unique_ptr<QSystemTrayIcon> trayIcon_;
    std::optional<std::filesystem::path> shownPreview_;
};

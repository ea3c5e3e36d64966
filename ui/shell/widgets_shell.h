#pragma once

#include "app/startup/shell.h"
#include "ui/shell/widgets_platform.h"

#include <memory>

class StatusItemController;

/// The windowed application's surroundings: message boxes, the drawn Home Screen icon and the tray.
class WidgetsShell : public Shell {
public:
    WidgetsShell();
    ~WidgetsShell() override;

    Platform& platform() override { return platform_; }
    void showFatal(const std::string& message, const std::string& detail) override;
    std::optional<std::string> homeScreenIcon() override;
    void createStatusItem(AppModel& model) override;
    bool isPanelVisible() const override;
    void showPanel() override;

    void destroyStatusItem() override;

private:
    WidgetsPlatform platform_;
    std::unique_ptr<StatusItemController> statusItem_;
};

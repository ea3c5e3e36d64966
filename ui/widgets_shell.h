#pragma once

#include "app/shell.h"
#include "ui/widgets_platform.h"

/// The windowed application's surroundings: message boxes, the drawn Home Screen icon and the tray.
class WidgetsShell : public Shell {
public:
    Platform& platform() override { return platform_; }
    void showFatal(const std::string& message, const std::string& detail) override;
    std::optional<std::string> homeScreenIcon() override;
    void createStatusItem(AppModel& model) override;
    bool isPanelVisible() const override;
    void showPanel() override;

private:
    WidgetsPlatform platform_;
};

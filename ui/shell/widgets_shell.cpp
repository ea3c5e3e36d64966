#include "ui/shell/widgets_shell.h"

#include "ui/shell/home_screen_icon.h"
#include "ui/shell/status_item_controller.h"

#include <QMessageBox>

WidgetsShell::WidgetsShell() = default;

WidgetsShell::~WidgetsShell() = default;

void WidgetsShell::showFatal(const std::string& message, const std::string& detail) {
    QMessageBox box;
    box.setIcon(QMessageBox::Critical);
    box.setText(QString::fromStdString(message));
    box.setInformativeText(QString::fromStdString(detail));
    box.exec();
}

std::optional<std::string> WidgetsShell::homeScreenIcon() {
    return HomeScreenIcon::png();
}

// The tray item and its panel come with the explorer; until then the application runs without them.
void WidgetsShell::createStatusItem(AppModel& model) {
    statusItem_ = std::make_unique<StatusItemController>(model, platform_);
}

bool WidgetsShell::isPanelVisible() const {
    return statusItem_ && statusItem_->isPanelVisible();
}

void WidgetsShell::showPanel() {
    if (statusItem_) {
        statusItem_->showPanel();
    }
}

void WidgetsShell::destroyStatusItem() {
    statusItem_.reset();
}

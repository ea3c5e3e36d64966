#include "ui/widgets_shell.h"

#include "ui/home_screen_icon.h"

#include <QMessageBox>

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
void WidgetsShell::createStatusItem(AppModel&) {}

bool WidgetsShell::isPanelVisible() const {
    return false;
}

void WidgetsShell::showPanel() {}

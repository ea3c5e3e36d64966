#pragma once

#include "app/startup/shell.h"

#include <mutex>
#include <string>

/// The surroundings of a run without a display: no tray, no dialogs, no clipboard. Notifications still go
/// to the desktop's notification service when one is on the session bus. Prints what phones do when asked.
class HeadlessShell : public Shell, private Platform {
public:
    HeadlessShell(std::optional<std::string> iconPNG, bool printEvents);

    Platform& platform() override { return *this; }
    void showFatal(const std::string&, const std::string&) override {}
    std::optional<std::string> homeScreenIcon() override { return iconPNG_; }
    void createStatusItem(AppModel&) override {}
    bool isPanelVisible() const override { return false; }
    void showPanel() override {}
    void observe(const ServerEvent& event) override;

private:
    std::vector<std::filesystem::path> clipboardFiles() override { return {}; }
    std::optional<std::string> clipboardText() override { return std::nullopt; }
    void setClipboardText(const std::string&) override {}
    std::vector<std::filesystem::path> chooseFiles(const std::string&) override { return {}; }
    /// Nobody is there to say yes.
    bool confirm(const Alert&) override { return false; }
    void activate() override {}
    void openFile(const std::filesystem::path&) override {}
    void openURL(const std::string&) override {}
    void revealFile(const std::filesystem::path&) override {}
    void notify(const std::string& title, const std::string& body, const Notifier::Target& target) override;
    void applyAppearance(AppearanceSetting) override {}

    std::optional<std::string> iconPNG_;
    bool printEvents_;
    std::mutex printLock_;
};

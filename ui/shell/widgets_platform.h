#pragma once

#include "app/model/platform.h"

/// The desktop as Qt Widgets reaches it: the clipboard, dialogs, the default applications, the file
/// manager and the notification service.
class WidgetsPlatform : public Platform {
public:
    std::vector<std::filesystem::path> clipboardFiles() override;
    std::optional<std::string> clipboardText() override;
    void setClipboardText(const std::string& text) override;
    std::vector<std::filesystem::path> chooseFiles(const std::string& prompt) override;
    bool confirm(const Alert& alert) override;
    void activate() override;
    void openFile(const std::filesystem::path& file) override;
    void openURL(const std::string& url) override;
    void revealFile(const std::filesystem::path& file) override;
    void notify(const std::string& title, const std::string& body, const Notifier::Target& target) override;
    void applyAppearance(AppearanceSetting appearance) override;
};

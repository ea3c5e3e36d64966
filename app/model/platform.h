#pragma once

#include "app/model/appearance_setting.h"
#include "app/model/notifier_target.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

/// What the model asks of the desktop: the clipboard, dialogs, opening things and notifications. The
/// windowed application implements it with Qt Widgets; a headless run and the tests supply their own.
class Platform {
public:
    /// A question with a destructive first button and a cancel button.
    struct Alert {
        std::string message;
        std::string informativeText;
        std::string confirmButton;
        std::string cancelButton = "Cancel";
    };

    virtual ~Platform() = default;

    /// The local files on the clipboard; empty when it holds none.
    virtual std::vector<std::filesystem::path> clipboardFiles() = 0;
    /// The clipboard's plain text, when it holds some.
    virtual std::optional<std::string> clipboardText() = 0;
    /// Replaces the clipboard's contents with plain text.
    virtual void setClipboardText(const std::string& text) = 0;

    /// Lets the user choose files and folders; empty when cancelled.
    virtual std::vector<std::filesystem::path> chooseFiles(const std::string& prompt) = 0;
    /// Asks and waits; true for the confirm button.
    virtual bool confirm(const Alert& alert) = 0;
    /// Brings the application to the front, before a dialog.
    virtual void activate() = 0;

    /// Opens a file with its default application.
    virtual void openFile(const std::filesystem::path& file) = 0;
    /// Opens an address in the default browser.
    virtual void openURL(const std::string& url) = 0;
    /// Shows a file selected in the file manager.
    virtual void revealFile(const std::filesystem::path& file) = 0;

    /// Posts a desktop notification whose click opens `target`.
    virtual void notify(const std::string& title, const std::string& body,
                        const Notifier::Target& target) = 0;
    /// Makes the whole application look as chosen.
    virtual void applyAppearance(AppearanceSetting appearance) = 0;
};

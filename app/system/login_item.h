#pragma once

#include "app/model/model_ports.h"

#include <filesystem>

/// Starting Tesk when the user logs in, through the desktop's XDG autostart directory.
namespace LoginItem {

/// $XDG_CONFIG_HOME (default ~/.config) + "/autostart/tesk.desktop".
std::filesystem::path autostartFile();

/// Whether the desktop starts Tesk at login: the file exists and turns neither itself off (Hidden=true)
/// nor GNOME's start (X-GNOME-Autostart-enabled=false).
bool isEnabled();

/// Writes (atomically) or removes the autostart entry for `executable`. Throws
/// std::filesystem::filesystem_error when it cannot. Removing a missing entry is fine.
void setEnabled(bool enabled, const std::filesystem::path& executable);

/// Whether `executable` is installed system-wide: its path begins with "/usr/" or "/opt/".
bool isInstalled(const std::filesystem::path& executable);

} // namespace LoginItem

/// The login start of one program file, as the model uses it.
class DesktopLoginItem : public LoginStart {
public:
    /// None turns the offer off.
    explicit DesktopLoginItem(std::filesystem::path executable)
        : executable_(std::move(executable)) {}

    bool isInstalled() const override { return !executable_.empty() && LoginItem::isInstalled(executable_); }
    bool isEnabled() const override { return LoginItem::isEnabled(); }
    void setEnabled(bool enabled) override { LoginItem::setEnabled(enabled, executable_); }

private:
    std::filesystem::path executable_;
};

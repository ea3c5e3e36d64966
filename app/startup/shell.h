#pragma once

#include "app/model/platform.h"

#include <optional>
#include <string>

class AppModel;
struct ServerEvent;

/// What surrounds the model: the desktop's services, the tray item and its panel, and how a start-up
/// failure is shown. The windowed application and the headless one each provide their own.
class Shell {
public:
    virtual ~Shell() = default;

    virtual Platform& platform() = 0;
    /// Shows a failure that ends the program (it has been written to standard error already).
    virtual void showFatal(const std::string& message, const std::string& detail) = 0;
    /// The Home Screen icon phones install, as PNG bytes; nothing when it could not be drawn.
    virtual std::optional<std::string> homeScreenIcon() = 0;
    /// Makes the tray item over the model.
    virtual void createStatusItem(AppModel& model) = 0;
    /// Takes the tray item down; called before the model goes.
    virtual void destroyStatusItem() {}
    virtual bool isPanelVisible() const = 0;
    /// Opens the panel under the tray icon.
    virtual void showPanel() = 0;
    /// Sees every server event first, on the server's thread.
    virtual void observe(const ServerEvent& event) { (void)event; }
};

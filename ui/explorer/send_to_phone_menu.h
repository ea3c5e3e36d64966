#pragma once

#include "core/share_target.h"
#include "ui/explorer/bar_button.h"

#include <functional>
#include <vector>

class AppModel;
class QMenu;

/// The "Send to" menu: one entry per paired phone, sending the targets to it. Hidden while no phone is
/// paired, since it would open onto nothing.
class SendToPhoneMenu : public BarButton {
    Q_OBJECT

public:
    /// `targets` is asked when a phone is chosen.
    SendToPhoneMenu(AppModel& model, std::function<std::vector<ShareTarget>()> targets,
                    QWidget* parent = nullptr);

    QMenu& phoneMenu() const { return *menu_; }

private:
    void refresh();

    AppModel& model_;
    std::function<std::vector<ShareTarget>()> targets_;
    QMenu* menu_;
};

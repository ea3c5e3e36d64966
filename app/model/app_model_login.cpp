#include "app/model/app_model.h"
#include "app/system/login_item.h"

#include <QSettings>

bool AppModel::opensAtLogin() const {
    return LoginItem::isEnabled();
}

void AppModel::setOpensAtLogin(bool opens) {
    emit opensAtLoginChanged();
    try {
        LoginItem::setEnabled(opens, services_.executable);
    } catch (const std::exception&) {
        show(opens ? "Couldn't turn on Open at Login" : "Couldn't turn off Open at Login");
    }
}

void AppModel::openAtLoginOnFirstRun() {
    // Only a copy installed for good registers itself: a build tree's program may be gone tomorrow.
    if (services_.executable.empty() || !LoginItem::isInstalled(services_.executable)) {
        return;
    }
    if (settings_.value("openAtLoginOffered", false).toBool()) {
        return;
    }
    settings_.setValue("openAtLoginOffered", true);
    if (!LoginItem::isEnabled()) {
        setOpensAtLogin(true);
    }
}

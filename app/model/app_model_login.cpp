#include "app/model/app_model.h"

#include <QSettings>

bool AppModel::opensAtLogin() const {
    return login_.isEnabled();
}

void AppModel::setOpensAtLogin(bool opens) {
    emit opensAtLoginChanged();
    try {
        login_.setEnabled(opens);
    } catch (const std::exception&) {
        show(opens ? "Couldn't turn on Open at Login" : "Couldn't turn off Open at Login");
    }
}

void AppModel::openAtLoginOnFirstRun() {
    if (!login_.isInstalled()) {
        return;
    }
    if (settings_.value("openAtLoginOffered", false).toBool()) {
        return;
    }
    settings_.setValue("openAtLoginOffered", true);
    if (!login_.isEnabled()) {
        setOpensAtLogin(true);
    }
}

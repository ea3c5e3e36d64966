#include "ui_fixture.h"

#include <QAction>
#include <QMenu>

namespace Menus {

QStringList titles(const QMenu& menu) {
    QStringList result;
    for (const QAction* action : menu.actions()) {
        result << (action->isSeparator() ? QStringLiteral("---") : action->text());
    }
    return result;
}

QAction* find(const QMenu& menu, const QString& text) {
    for (QAction* action : menu.actions()) {
        if (action->text() == text) {
            return action;
        }
    }
    ADD_FAILURE() << "no entry " << text.toStdString();
    return nullptr;
}

void choose(const QMenu& menu, const QString& text) {
    if (QAction* action = find(menu, text)) {
        action->trigger();
    }
}

} // namespace Menus

PairedDevice UIFixture::pair(const std::string& name) {
    const auto code = store.newPairingCode();
    const auto device = store.claimPairing(code.code, name);
    settle();
    return device.value();
}

Folder UIFixture::folder(const std::string& name, const std::optional<std::string>& parent) {
    const Folder made = store.addFolder(name, parent);
    settle();
    return made;
}

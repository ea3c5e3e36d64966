#include "ui/widgets/context_menu.h"

#include <QMenu>
#include <QWidget>
#include <memory>

namespace ContextMenu {

QMenu* popup(QWidget& owner, const QPoint& globalPos, const std::function<void(QMenu&)>& fill) {
    auto menu = std::make_unique<QMenu>(owner.window());
    fill(*menu);
    if (menu->isEmpty()) {
        return nullptr;
    }
    menu->setAttribute(Qt::WA_DeleteOnClose);
    // From here the window owns the menu, and closing it deletes it.
    QMenu* shown = menu.release();
    shown->popup(globalPos);
    return shown;
}

} // namespace ContextMenu

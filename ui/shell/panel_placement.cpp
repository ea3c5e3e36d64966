#include "ui/shell/panel_placement.h"

#include <algorithm>

namespace PanelPlacement {

QPoint below(const QRect& icon, const QSize& panel, const std::optional<QRect>& screen, int topBar) {
    int x = icon.x() + icon.width() / 2 - panel.width() / 2;
    int top = icon.bottom() + 1;
    if (!screen) {
        return {x, top + gap};
    }
    top = std::max(top, screen->top() + topBar);
    x = std::max(x, screen->left() + margin);
    x = std::min(x, screen->right() + 1 - panel.width() - margin);
    if (top + gap + panel.height() > screen->bottom() + 1 && icon.center().y() > screen->center().y()) {
        return {x, std::max(screen->top() + margin, icon.top() - gap - panel.height())};
    }
    return {x, top + gap};
}

QPoint corner(const QSize& panel, const QRect& available) {
    return {available.right() + 1 - panel.width() - margin, available.top() + margin};
}

} // namespace PanelPlacement

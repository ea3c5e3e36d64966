#pragma once

#include <QPoint>
#include <functional>

class QMenu;
class QWidget;

/// Context menus for widgets that a model change may delete while their menu is open.
///
/// A row's menu must never run a nested event loop inside the row's own handler, nor belong to the row:
/// a list rebuilt under the open menu would delete the row, and the menu with it, from inside that loop.
/// So the menu hangs off the row's window, pops up without waiting, deletes itself once closed, and its
/// actions hold what they act on by value.
namespace ContextMenu {

/// Builds a menu with `fill` and pops it up at `globalPos` for `owner`; returns at once. Nothing when
/// `fill` added no entry. The menu lives until it closes or `owner`'s window goes, whichever is first.
QMenu* popup(QWidget& owner, const QPoint& globalPos, const std::function<void(QMenu&)>& fill);

} // namespace ContextMenu

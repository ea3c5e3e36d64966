#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <optional>

/// Where the panel opens, in global coordinates with y growing downwards.
namespace PanelPlacement {

/// Space kept between the tray icon and the panel.
inline constexpr int gap = 6;
/// Space kept between the panel and the screen's edges.
inline constexpr int margin = 8;

/// The panel's top-left corner for a tray icon at `icon`: centred under it, 6 below, kept 8 inside the
/// screen's sides and below its top bar (`topBar` high). A tray at the bottom of the screen puts the
/// panel above the icon instead, 6 above it, so the panel never opens off the screen.
QPoint below(const QRect& icon, const QSize& panel, const std::optional<QRect>& screen, int topBar);

/// Without a known icon: the top-right corner of the screen's available area, 8 inside it.
QPoint corner(const QSize& panel, const QRect& available);

} // namespace PanelPlacement

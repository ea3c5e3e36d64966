#pragma once

#include <QPainterPath>
#include <QRectF>

/// Tesk's mark: two pieces of one disc, the right one notched, drawn in a 256-unit square centred in
/// `rect` and scaled to fit it.
namespace TeskMark {

/// The mark's outline. `small` is the variant for small sizes (tray icon, web pages), with a wider gap.
QPainterPath path(const QRectF& rect, bool small);

} // namespace TeskMark

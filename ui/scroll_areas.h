#pragma once

class QScrollArea;

/// Scroll areas inside the panel.
namespace ScrollAreas {

/// Lets what is behind the area show through: the panel's views paint their own backgrounds, while
/// QScrollArea fills its viewport and its widget with the palette's colour.
void makeTransparent(QScrollArea& area);

} // namespace ScrollAreas

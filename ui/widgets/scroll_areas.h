#pragma once

class QScrollArea;
class QString;
class QVBoxLayout;
class QWidget;

/// Scroll areas inside the panel.
namespace ScrollAreas {

/// A frameless area for a column of content: its widget takes the area's width and scrolls only up
/// and down.
QScrollArea* vertical(QWidget* parent);

/// Lets what is behind the area show through: the panel's views paint their own backgrounds, while
/// QScrollArea fills its viewport and its widget with the palette's colour.
void makeTransparent(QScrollArea& area);

/// Gives `area` a transparent list widget named `name` whose rows start `top` points down and keep to
/// the top; returns the layout the rows go in, one under the other with no gaps.
QVBoxLayout* makeRowList(QScrollArea& area, const QString& name, int top);

} // namespace ScrollAreas

#pragma once

#include <QColor>

class QWidget;

/// The panel's colours in the light or the dark appearance. Views take them from `Theme::current()`
/// each time they paint, so a change of appearance shows at the next repaint.
struct Theme {
    bool isDark = false;
    /// The panel's own background (sidebar, toolbar, bars).
    QColor window;
    /// The list's background.
    QColor content;
    /// Hairlines between areas.
    QColor line;
    /// The 0.5-pixel outline of the panel.
    QColor rim;
    QColor text;
    /// Secondary text: subtitles, sizes, dates, notes.
    QColor dimmed;
    QColor accent;
    /// Text drawn on the accent colour.
    QColor onAccent;
    QColor danger;
    QColor warning;
    /// A hovered row's background.
    QColor hover;
    /// A picked or inspected row's background.
    QColor selected;
    /// Small capsules such as the "Shared" tag and badges.
    QColor tag;
    /// Raised cards: the status card, the welcome view's steps, the toast.
    QColor card;

    static Theme light();
    static Theme dark();
    /// The theme that matches the application's palette now.
    static Theme current();
};

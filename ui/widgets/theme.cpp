#include "ui/widgets/theme.h"

#include <QApplication>
#include <QPalette>

Theme Theme::light() {
    Theme theme;
    theme.isDark = false;
    theme.window = QColor(0xf4, 0xf4, 0xf6);
    theme.content = QColor(0xff, 0xff, 0xff);
    theme.line = QColor(0, 0, 0, 26);
    theme.rim = QColor(0, 0, 0, 64);
    theme.text = QColor(0x1d, 0x1d, 0x1f);
    theme.dimmed = QColor(0x6e, 0x6e, 0x73);
    theme.accent = QColor(0x00, 0x7a, 0xff);
    theme.onAccent = Qt::white;
    theme.danger = QColor(0xd7, 0x30, 0x2a);
    theme.warning = QColor(0xc9, 0x6a, 0x00);
    theme.hover = QColor(0, 0, 0, 13);
    theme.selected = QColor(0x00, 0x7a, 0xff, 38);
    theme.tag = QColor(0, 0, 0, 18);
    theme.card = QColor(0xff, 0xff, 0xff);
    return theme;
}

Theme Theme::dark() {
    Theme theme;
    theme.isDark = true;
    theme.window = QColor(0x2b, 0x2b, 0x2d);
    theme.content = QColor(0x1f, 0x1f, 0x21);
    theme.line = QColor(255, 255, 255, 26);
    theme.rim = QColor(255, 255, 255, 56);
    theme.text = QColor(0xf2, 0xf2, 0xf7);
    theme.dimmed = QColor(0x98, 0x98, 0x9f);
    theme.accent = QColor(0x0a, 0x84, 0xff);
    theme.onAccent = Qt::white;
    theme.danger = QColor(0xff, 0x5f, 0x57);
    theme.warning = QColor(0xff, 0x9f, 0x0a);
    theme.hover = QColor(255, 255, 255, 15);
    theme.selected = QColor(0x0a, 0x84, 0xff, 64);
    theme.tag = QColor(255, 255, 255, 26);
    theme.card = QColor(0x3a, 0x3a, 0x3c);
    return theme;
}

Theme Theme::current() {
    // The appearance setting works through the application palette (light, dark or the desktop's), so
    // the palette's window colour says which set applies.
    const QColor window = QApplication::palette().color(QPalette::Window);
    return window.lightnessF() < 0.5 ? dark() : light();
}

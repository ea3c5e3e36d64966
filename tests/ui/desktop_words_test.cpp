// The panel runs on a Linux desktop: nothing it shows may name another desktop's parts.
#include "ui/explorer/entry_menu.h"
#include "ui/shell/popover_root.h"
#include "ui_fixture.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRegularExpression>

namespace {

/// Every text the widgets under `root` hold, shown or not: labels, buttons, actions, tool tips,
/// placeholders.
QStringList textsUnder(const QWidget& root) {
    QStringList texts;
    for (const QWidget* widget : root.findChildren<QWidget*>()) {
        texts << widget->toolTip();
        if (const auto* label = qobject_cast<const QLabel*>(widget)) {
            texts << label->text();
        } else if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
            texts << button->text();
        } else if (const auto* field = qobject_cast<const QLineEdit*>(widget)) {
            texts << field->placeholderText();
        }
        for (const QAction* action : widget->actions()) {
            texts << action->text() << action->toolTip();
        }
    }
    return texts;
}

/// The texts in `texts` that name a Mac, Finder, the menu bar or ⌘.
QStringList foreign(const QStringList& texts) {
    static const QRegularExpression words(QStringLiteral("\\bMac\\b|Finder|\u2318|[Mm]enu[ -]bar"));
    return texts.filter(words);
}

class DesktopWordsTest : public UIFixture {};

} // namespace

TEST_F(DesktopWordsTest, NothingThePanelShowsNamesAnotherDesktop) {
    PopoverRoot root(*model);
    root.resize(780, 540);
    EXPECT_EQ(foreign(textsUnder(root)), QStringList()) << "a first launch";

    lanAddress = std::nullopt;
    model->refreshAddress();
    EXPECT_EQ(foreign(textsUnder(root)), QStringList()) << "off the network";

    lanAddress = "192.168.1.20";
    model->refreshAddress();
    const Item file = addItem("photo.jpg");
    pair("Ana's iPhone");
    model->startPairing();
    model->setInspecting(ShareTarget::item(file.id));
    settle();
    EXPECT_EQ(foreign(textsUnder(root)), QStringList()) << "with a file, a phone, a code and a share";

    QMenu menu;
    EntryMenu::fill(menu, *model, LibraryEntry::item(file.id));
    EXPECT_EQ(foreign(Menus::titles(menu)), QStringList()) << "a file's menu";
}

// The panel runs on a Linux desktop: nothing it shows may name another desktop's parts.
#include "ui/explorer/entry_menu.h"
#include "ui/shell/popover_root.h"
#include "ui_fixture.h"

#include <QAction>
#include <QRegularExpression>

using DesktopWordsTest = UIFixture;

TEST_F(DesktopWordsTest, NothingThePanelShowsNamesAMacFinderTheMenuBarOrCommand) {
    PopoverRoot root(*model);
    QStringList texts;
    // Every text the widgets hold, shown or not: labels, buttons, actions, tool tips, placeholders.
    const auto read = [&] {
        for (const QWidget* widget : root.findChildren<QWidget*>()) {
            texts << widget->toolTip() << widget->property("text").toString()
                  << widget->property("placeholderText").toString();
            for (const QAction* action : widget->actions()) {
                texts << action->text() << action->toolTip();
            }
        }
    };
    read(); // a first launch
    lanAddress = std::nullopt;
    model->refreshAddress();
    read(); // off the network
    lanAddress = "192.168.1.20";
    model->refreshAddress();
    const Item file = addItem("photo.jpg");
    pair("Ana's iPhone");
    model->startPairing();
    model->setInspecting(ShareTarget::item(file.id));
    settle();
    read(); // with a file, a phone, a code and a share
    QMenu menu;
    EntryMenu::fill(menu, *model, LibraryEntry::item(file.id));
    texts << Menus::titles(menu);
    EXPECT_GT(texts.size() - texts.count(QString()), 50);
    EXPECT_EQ(texts.filter(QRegularExpression(QStringLiteral("\\bMac\\b|Finder|\u2318|[Mm]enu[ -]bar"))),
              QStringList());
}

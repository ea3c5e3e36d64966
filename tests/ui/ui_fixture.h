#pragma once

#include "../app/model_fixture.h"

#include <QList>
#include <QMenu>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

class QAction;

/// Reading and using menus as the user sees them.
namespace Menus {

/// The entries' titles, a separator as "---".
QStringList titles(const QMenu& menu);
/// The entry titled `text`; a test failure and nullptr when there is none.
QAction* find(const QMenu& menu, const QString& text);
/// Triggers the entry titled `text`; a test failure when there is none.
void choose(const QMenu& menu, const QString& text);

/// The titles in `row`'s context menu, as its `fillMenu` makes it.
template <typename Row>
QStringList titlesOf(Row& row) {
    QMenu menu;
    row.fillMenu(menu);
    return titles(menu);
}

/// Triggers the entry titled `text` in `row`'s context menu.
template <typename Row>
void chooseIn(Row& row, const QString& text) {
    QMenu menu;
    row.fillMenu(menu);
    choose(menu, text);
}

} // namespace Menus

/// The `T` children of `parent` (named `name` when given) that are on show, top to bottom.
template <typename T>
std::vector<T*> shownTopToBottom(const QWidget& parent, const QString& name = {}) {
    std::vector<T*> shown;
    for (T* child : parent.findChildren<T*>(name)) {
        if (child->isVisibleTo(&parent)) {
            shown.push_back(child);
        }
    }
    std::sort(shown.begin(), shown.end(), [](const T* a, const T* b) { return a->y() < b->y(); });
    return shown;
}

/// A model fixture with the library changes views' tests make most, each settled before it returns.
class UIFixture : public ModelFixture {
protected:
    /// A phone paired under `name`.
    PairedDevice pair(const std::string& name);
    /// A folder `name` under `parent`, or at the top.
    Folder folder(const std::string& name, const std::optional<std::string>& parent = std::nullopt);
};

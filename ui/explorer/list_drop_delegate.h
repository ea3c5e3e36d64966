#pragma once

#include <functional>
#include <optional>

class AppModel;
class QDragEnterEvent;
class QDragMoveEvent;
class QDropEvent;

/// The explorer content's drop rules: drags of library rows are refused there (they move only onto
/// folders), everything else is copied into the folder on show. While an outside drag hovers, the
/// number of files it carries is reported so the overlay can say what will happen.
class ListDropDelegate {
public:
    using CountChanged = std::function<void(std::optional<int>)>;

    ListDropDelegate(AppModel& model, CountChanged countChanged);

    void enter(QDragEnterEvent& event);
    void move(QDragMoveEvent& event);
    void leave();
    void drop(QDropEvent& event);

private:
    AppModel& model_;
    CountChanged countChanged_;
};

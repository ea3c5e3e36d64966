#include "ui/explorer/list_drop_delegate.h"

#include "app/model/app_model.h"
#include "app/model/drag_drop.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <algorithm>

ListDropDelegate::ListDropDelegate(AppModel& model, CountChanged countChanged)
    : model_(model)
    , countChanged_(std::move(countChanged)) {}

void ListDropDelegate::enter(QDragEnterEvent& event) {
    const QMimeData* data = event.mimeData();
    if (!data) {
        event.ignore();
        return;
    }
    // Accepting the enter keeps the move events coming, so the cursor can show "forbidden" for rows.
    event.accept();
    if (DragDrop::isInternal(*data)) {
        event.setDropAction(Qt::IgnoreAction);
        return;
    }
    event.setDropAction(Qt::CopyAction);
    countChanged_(std::max<int>(1, static_cast<int>(data->urls().size())));
}

void ListDropDelegate::move(QDragMoveEvent& event) {
    const QMimeData* data = event.mimeData();
    if (!data || DragDrop::isInternal(*data)) {
        event.ignore();
        return;
    }
    event.setDropAction(Qt::CopyAction);
    event.accept();
}

void ListDropDelegate::leave() {
    countChanged_(std::nullopt);
}

void ListDropDelegate::drop(QDropEvent& event) {
    countChanged_(std::nullopt);
    const QMimeData* data = event.mimeData();
    if (!data || DragDrop::isInternal(*data)) {
        event.ignore();
        return;
    }
    const auto& selection = model_.selection();
    const std::optional<std::string> folder =
        selection.kind() == SidebarSelection::Kind::folder ? selection.folderID() : std::nullopt;
    if (DragDrop::handle(*data, folder, model_, false)) {
        event.setDropAction(Qt::CopyAction);
        event.accept();
    } else {
        event.ignore();
    }
}

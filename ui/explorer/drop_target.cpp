#include "ui/explorer/drop_target.h"

#include "app/model/drag_drop.h"
#include "ui/widgets/theme.h"

#include <QDropEvent>
#include <QMimeData>
#include <QPainter>
#include <QWidget>

namespace {

/// The rounded highlight drawn over a targeted widget; it never takes mouse input, so the drag keeps
/// reaching the widget below.
class DropHighlight : public QWidget {
public:
    explicit DropHighlight(QWidget* parent)
        : QWidget(parent) {
        setObjectName("dropHighlight");
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        hide();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        const Theme theme = Theme::current();
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor fill = theme.accent;
        fill.setAlphaF(0.18);
        painter.setBrush(fill);
        painter.setPen(QPen(theme.accent, 1.5));
        painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 6, 6);
    }
};

} // namespace

DropTarget* DropTarget::install(QWidget& widget, AppModel& model, FolderID folderID) {
    return new DropTarget(widget, model, std::move(folderID));
}

DropTarget::DropTarget(QWidget& widget, AppModel& model, FolderID folderID)
    : QObject(&widget)
    , widget_(widget)
    , model_(model)
    , folderID_(std::move(folderID))
    , sourceCheck_([](const QDropEvent& event) { return event.source() != nullptr; })
    , highlight_(new DropHighlight(&widget)) {
    widget.setAcceptDrops(true);
    widget.installEventFilter(this);
}

bool DropTarget::accepts(const QDropEvent& event) const {
    const QMimeData* data = event.mimeData();
    if (data == nullptr) {
        return false;
    }
    // Another program can offer the entry type too; only this process's own drags may move entries.
    if (DragDrop::isInternal(*data)) {
        return sourceCheck_(event);
    }
    return data->hasUrls() || data->hasText();
}

void DropTarget::setTargeted(bool targeted) {
    if (highlight_) {
        if (targeted) {
            highlight_->setGeometry(widget_.rect());
            highlight_->raise();
            highlight_->show();
        } else {
            highlight_->hide();
        }
    }
    if (targeted != targeted_) {
        targeted_ = targeted;
        emit targetedChanged(targeted);
    }
}

bool DropTarget::eventFilter(QObject* watched, QEvent* event) {
    if (watched != &widget_) {
        return false;
    }
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto& move = static_cast<QDragMoveEvent&>(*event);
        if (!accepts(move)) {
            move.ignore();
            setTargeted(false);
            return true;
        }
        move.acceptProposedAction();
        setTargeted(true);
        return true;
    }
    case QEvent::DragLeave:
        setTargeted(false);
        return true;
    case QEvent::Drop: {
        auto& drop = static_cast<QDropEvent&>(*event);
        setTargeted(false);
        if (!accepts(drop)) {
            drop.ignore();
            return true;
        }
        if (DragDrop::handle(*drop.mimeData(), folderID_(), model_, /*moveInternal*/ true)) {
            drop.acceptProposedAction();
        } else {
            drop.ignore();
        }
        return true;
    }
    case QEvent::Resize:
        if (targeted_ && highlight_) {
            highlight_->setGeometry(widget_.rect());
        }
        return false;
    default:
        return false;
    }
}

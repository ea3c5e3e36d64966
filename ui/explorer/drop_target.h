#pragma once

#include <QObject>
#include <QPointer>
#include <functional>
#include <optional>
#include <string>

class AppModel;
class QDropEvent;
class QMimeData;
class QWidget;

/// Makes any widget accept drops into one library folder: entries dragged from the list move there,
/// outside files, links and text are copied there. While a drag hovers, a rounded highlight lies over
/// the widget.
class DropTarget : public QObject {
    Q_OBJECT

public:
    /// The folder a drop goes into, asked at drop time; none is the top level.
    using FolderID = std::function<std::optional<std::string>()>;
    /// Whether a drag that carries the library's entry type really comes from this program.
    using SourceCheck = std::function<bool(const QDropEvent&)>;

    /// Installs a target on `widget`, owned by it.
    static DropTarget* install(QWidget& widget, AppModel& model, FolderID folderID);

    /// Whether a drag the target would take hovers over the widget now.
    bool isTargeted() const { return targeted_; }

    /// Replaces the check that a drag of library entries started in this program (by default: the
    /// event names a source widget, which only drags of this process do).
    void setSourceCheck(SourceCheck check) { sourceCheck_ = std::move(check); }

signals:
    void targetedChanged(bool targeted);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    DropTarget(QWidget& widget, AppModel& model, FolderID folderID);

    /// Whether the drop can be handled here at all.
    bool accepts(const QDropEvent& event) const;
    void setTargeted(bool targeted);

    QWidget& widget_;
    AppModel& model_;
    FolderID folderID_;
    SourceCheck sourceCheck_;
    bool targeted_ = false;
    QPointer<QWidget> highlight_;
};

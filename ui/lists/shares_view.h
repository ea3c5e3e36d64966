#pragma once

#include <QTimer>
#include <QWidget>

class AppModel;
class NoticeView;
class QScrollArea;
class QVBoxLayout;

/// The explorer's content for "Shared links": every link ever made, the active ones first, each section
/// newest first; an invitation to share when there are none. Rebuilt from every library snapshot.
class SharesView : public QWidget {
    Q_OBJECT

public:
    SharesView(AppModel& model, QWidget* parent = nullptr);

    /// Rebuilds the list from the model now.
    void refresh();

protected:
    void changeEvent(QEvent* event) override;

private:
    /// Rebuilds once the current event is done: a row's own button may have started the change.
    void scheduleRefresh();

    AppModel& model_;
    NoticeView* empty_;
    QScrollArea* scroll_;
    QVBoxLayout* rows_;
    bool refreshQueued_ = false;
    /// Keeps the time left on live links current and moves ended links to "Earlier".
    QTimer tick_;
};

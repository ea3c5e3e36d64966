#pragma once

#include <QWidget>

class AppModel;
class BarButton;
class QLabel;
class QMenu;
class SendToPhoneMenu;

/// The bar under the list while rows are picked: how many, and what to do with them all.
class SelectionBar : public QWidget {
    Q_OBJECT

public:
    SelectionBar(AppModel& model, QWidget* parent = nullptr);

    QString countText() const;
    /// The buttons in order: Share link, Copy link, Move to, Send to, Delete, clear.
    std::vector<BarButton*> buttons() const;
    QMenu& moveMenu() const { return *moveMenu_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void refresh();
    void refreshMoveMenu();

    AppModel& model_;
    QLabel* count_;
    BarButton* shareLink_;
    BarButton* copyLink_;
    BarButton* moveTo_;
    QMenu* moveMenu_;
    SendToPhoneMenu* sendTo_;
    BarButton* delete_;
    BarButton* clear_;
};

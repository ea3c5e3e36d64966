#pragma once

#include <QWidget>

class AppModel;
class QLabel;

/// The card at the foot of the sidebar: whether phones can reach this computer, and at which address.
class StatusCard : public QWidget {
    Q_OBJECT

public:
    StatusCard(AppModel& model, QWidget* parent = nullptr);

    QString title() const;
    QString line() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void refresh();
    void applyTheme();

    AppModel& model_;
    QLabel* title_;
    QLabel* line_;
};

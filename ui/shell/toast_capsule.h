#pragma once

#include <QPointer>
#include <QWidget>

class AppModel;
class QGraphicsOpacityEffect;
class QLabel;
class QPropertyAnimation;

/// The status message in a rounded card near the bottom of the panel, with a chevron when tapping it
/// leads somewhere. Fades in and out.
class ToastCapsule : public QWidget {
    Q_OBJECT

public:
    explicit ToastCapsule(AppModel& model, QWidget* parent = nullptr);

    /// Places the capsule centred near the bottom of `area` (its parent's rectangle).
    void place(const QRect& area);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void refresh();
    void restyle();

    QPointer<AppModel> model_;
    QLabel* text_;
    QLabel* chevron_;
    QGraphicsOpacityEffect* opacity_;
    QPropertyAnimation* fade_;
    QRect area_;
};

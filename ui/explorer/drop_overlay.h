#pragma once

#include <QWidget>

class QLabel;

/// The translucent card over the list while outside files are dragged over it: how many, and where
/// they go. Never takes mouse input, so the drag keeps reaching the list.
class DropOverlay : public QWidget {
    Q_OBJECT

public:
    explicit DropOverlay(QWidget* parent = nullptr);

    /// Says that `count` files will go into `place`.
    void setDrop(int count, const QString& place);

    QString title() const;
    QString line() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* title_;
    QLabel* line_;
};

#pragma once

#include <QLabel>

/// One line of text that gives up width gracefully: when the room is short it ends in "…" instead of
/// pushing its neighbours out of view. `text()` stays the whole text.
class ElidedLabel : public QLabel {
    Q_OBJECT

public:
    explicit ElidedLabel(const QString& text = {}, QWidget* parent = nullptr,
                         Qt::TextElideMode mode = Qt::ElideRight);

    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Qt::TextElideMode mode_;
};

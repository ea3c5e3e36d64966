#pragma once

#include <QWidget>

class QLabel;

/// One step of the welcome view: a short title over a line of text, on a raised card.
class StepCard : public QWidget {
    Q_OBJECT

public:
    StepCard(const QString& title, const QString& text, QWidget* parent = nullptr);

    QString title() const;
    QString text() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* title_;
    QLabel* text_;
};

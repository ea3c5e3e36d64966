#pragma once

#include <QWidget>

class QLabel;
class QToolButton;

/// The top of the right-hand column: a small dimmed caption over a bold title, and the "xmark" button
/// that closes the column.
class ColumnHeading : public QWidget {
    Q_OBJECT

public:
    explicit ColumnHeading(QWidget* parent = nullptr);

    void setCaption(const QString& caption);
    void setTitle(const QString& title);
    /// Leaves caption and title empty.
    void clear();

signals:
    /// The close button was clicked.
    void closeClicked();

protected:
    void changeEvent(QEvent* event) override;

private:
    void applyTheme();

    QLabel* caption_;
    QLabel* title_;
    QToolButton* close_;
};

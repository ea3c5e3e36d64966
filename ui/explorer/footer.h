#pragma once

#include <QWidget>

class AppModel;
class QLabel;

/// The bar under the list while nothing is picked: how many rows and bytes, and the drop hint.
class Footer : public QWidget {
    Q_OBJECT

public:
    Footer(AppModel& model, QWidget* parent = nullptr);

    QString summary() const;
    /// Whether the drop hint shows (not while the inspector makes the list compact).
    bool showsHint() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void refresh();
    void applyTheme();

    AppModel& model_;
    QLabel* summary_;
    QLabel* hint_;
};

#pragma once

#include <QWidget>

class AppModel;
class QLabel;
class SymbolLabel;

/// What the list area shows when it has no rows: why, and what to do about it.
class EmptyListView : public QWidget {
    Q_OBJECT

public:
    EmptyListView(AppModel& model, QWidget* parent = nullptr);

    QString symbol() const;
    QString title() const;
    QString body() const;

private:
    void refresh();
    void showTexts();

    AppModel& model_;
    SymbolLabel* symbol_;
    QLabel* title_;
    QLabel* body_;
};

#pragma once

#include <QPointer>
#include <QWidget>

class AppModel;
class QAction;
class QHBoxLayout;
class QLineEdit;
class QPushButton;
class QToolButton;

/// The explorer's top bar: where the list is (breadcrumbs), the search field, the add menu and the
/// button that fits the selection. Also owns Ctrl+V, which pastes links and notes into the library.
class Toolbar : public QWidget {
    Q_OBJECT

public:
    explicit Toolbar(AppModel& model, QWidget* parent = nullptr);

    QLineEdit& searchField() const { return *search_; }

protected:
    void changeEvent(QEvent* event) override;

private:
    void refresh();
    void rebuildBreadcrumbs();
    void restyle();

    QPointer<AppModel> model_;
    QWidget* breadcrumbs_;
    QHBoxLayout* breadcrumbLayout_;
    QLineEdit* search_;
    QAction* searchIcon_;
    QAction* clearSearch_;
    QToolButton* addMenu_;
    QPushButton* primary_;
};

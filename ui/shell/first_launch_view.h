#pragma once

#include <QWidget>

/// The welcome shown while the library holds nothing at all: where to drop, and three steps.
class FirstLaunchView : public QWidget {
    Q_OBJECT

public:
    explicit FirstLaunchView(QWidget* parent = nullptr);
};

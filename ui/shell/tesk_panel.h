#pragma once

#include <QWidget>

/// The window that holds the panel's views. Under a tray icon it floats: frameless, above other windows,
/// out of the task bar, with rounded corners (radius 12) and a hairline rim. Without a tray it is an
/// ordinary window of the same size.
class TeskPanel : public QWidget {
    Q_OBJECT

public:
    static constexpr int width = 780;
    static constexpr int height = 540;
    static constexpr qreal radius = 12;

    /// Takes `content` as its only child, filling it.
    TeskPanel(QWidget* content, bool floating);

    bool isFloating() const { return floating_; }

signals:
    /// The window is about to hide, by whatever path.
    void hidden();
    /// An ordinary window was closed with its title bar's button.
    void closeRequested();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* content_;
    QWidget* rim_ = nullptr;
    bool floating_;
};

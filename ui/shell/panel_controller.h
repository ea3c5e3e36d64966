#pragma once

#include <QObject>
#include <QPoint>
#include <QRect>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

class QKeyEvent;
class QScreen;
class TeskPanel;

/// Opens, places and dismisses the panel, and handles Escape and Space while it is open.
///
/// A floating panel closes when the user clicks somewhere else. On X11 the pointer's buttons are
/// followed while another program is active: a press elsewhere arms the close, dragging disarms it (a file
/// may be on its way to the panel), the release closes. Where the buttons cannot be read, losing
/// activation closes the panel unless a drag is over it.
class PanelController : public QObject {
    Q_OBJECT

public:
    explicit PanelController(TeskPanel& panel, QObject* parent = nullptr);
    ~PanelController() override;

    /// Asked first when Escape is pressed; true means it dismissed something.
    std::function<bool()> onEscape;
    /// Asked when Space is pressed outside a text field; true means it acted.
    std::function<bool()> onSpace;
    /// The time the tray's click is judged by; tests set their own.
    std::function<std::chrono::steady_clock::time_point()> clock = &std::chrono::steady_clock::now;

    /// Opens the panel under a tray icon at `icon` (global coordinates) on `screen`.
    void show(const QRect& icon, QScreen* screen);
    /// Opens the panel at the top-right corner of the screen under the pointer (no icon geometry).
    void showInCorner();
    /// Opens an ordinary window (no tray at all).
    void showWindow();
    void close();
    bool isOpen() const;
    /// The tray icon's click: closes an open panel, else opens it with `open`. A click on the icon is also a
    /// click away from the panel, so it may have closed the panel just before the tray reports it; that
    /// report closes nothing more and opens nothing.
    void toggle(const std::function<void()>& open);

    /// Handles Escape or Space aimed at the panel; whether the key was consumed.
    bool handleKey(const QKeyEvent& event);
    /// One reading of the pointer while another program is active: a press away from the panel arms the
    /// close, moving while pressed disarms it, the release closes when armed.
    void pointerMoved(const QPoint& position, bool pressed, bool overPanel);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void open(const QPoint& origin);
    /// Closes the panel because the user turned to something else.
    void dismiss();
    void startMonitoring();
    void stopMonitoring();
    void activationChanged();
    void followPointer();
    static bool isProgramActive();
    bool belongsToPanel(QObject* object) const;

    TeskPanel& panel_;
    bool monitoring_ = false;
    bool closeOnMouseUp_ = false;
    bool dragInside_ = false;
    bool waitForRelease_ = false;
    std::optional<std::uint32_t> desktop_;
    int pointerTicks_ = 0;
    std::optional<QPoint> pressedAt_;
    /// When a click elsewhere last closed the panel.
    std::optional<std::chrono::steady_clock::time_point> dismissedAt_;
    QTimer pointerTimer_;
    QMetaObject::Connection focusConnection_;
};

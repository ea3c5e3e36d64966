#include "ui/shell/panel_controller.h"

#include "ui/shell/panel_placement.h"
#include "ui/shell/tesk_panel.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <xcb/xcb.h>

namespace {

/// Pointer position and whether the left or right button is down, over the whole X11 screen.
struct PointerState {
    QPoint position;
    bool pressed = false;
};

std::optional<PointerState> readPointer() {
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection()) {
        return std::nullopt;
    }
    xcb_connection_t* connection = x11->connection();
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    if (!screen) {
        return std::nullopt;
    }
    const std::unique_ptr<xcb_query_pointer_reply_t, decltype(&std::free)> reply(
        xcb_query_pointer_reply(connection, xcb_query_pointer(connection, screen->root), nullptr),
        &std::free);
    if (!reply) {
        return std::nullopt;
    }
    return PointerState{{reply->root_x, reply->root_y},
                        (reply->mask & (XCB_BUTTON_MASK_1 | XCB_BUTTON_MASK_3)) != 0};
}

/// The desktop (workspace) on show, from the window manager's root property; nothing without one.
std::optional<std::uint32_t> currentDesktop() {
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection()) {
        return std::nullopt;
    }
    xcb_connection_t* connection = x11->connection();
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    static const char name[] = "_NET_CURRENT_DESKTOP";
    const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 1, sizeof name - 1, name), nullptr),
        &std::free);
    if (!screen || !atom || atom->atom == XCB_ATOM_NONE) {
        return std::nullopt;
    }
    const std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> property(
        xcb_get_property_reply(
            connection, xcb_get_property(connection, 0, screen->root, atom->atom, XCB_ATOM_CARDINAL, 0, 1),
            nullptr),
        &std::free);
    if (!property || xcb_get_property_value_length(property.get()) < 4) {
        return std::nullopt;
    }
    return *static_cast<const std::uint32_t*>(xcb_get_property_value(property.get()));
}

/// How many pointer readings pass between two looks at the desktop number.
constexpr int desktopCheckEvery = 10;

/// A press that moves this far is a drag, not a click.
constexpr int dragDistance = 8;

/// How long after a click elsewhere closed the panel the tray may still report that same click: the
/// pointer reading and the tray's report of one release reach us in either order, tens of milliseconds
/// apart, and nobody clicks the icon again that fast.
constexpr std::chrono::milliseconds sameClick{400};

} // namespace

PanelController::PanelController(TeskPanel& panel, QObject* parent)
    : QObject(parent)
    , panel_(panel) {
    pointerTimer_.setInterval(20);
    connect(&pointerTimer_, &QTimer::timeout, this, &PanelController::followPointer);
    connect(&panel_, &TeskPanel::hidden, this, &PanelController::stopMonitoring);
}

PanelController::~PanelController() {
    stopMonitoring();
}

void PanelController::show(const QRect& icon, QScreen* screen) {
    if (!screen) {
        screen = QGuiApplication::screenAt(icon.center());
    }
    if (!screen) {
        screen = QGuiApplication::primaryScreen();
    }
    std::optional<QRect> area;
    int topBar = 0;
    if (screen) {
        area = screen->geometry();
        // What the desktop's own bars take at the top of the screen.
        topBar = screen->availableGeometry().top() - screen->geometry().top();
    }
    open(PanelPlacement::below(icon, panel_.size(), area, topBar));
}

void PanelController::showInCorner() {
    QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen) {
        screen = QGuiApplication::primaryScreen();
    }
    open(screen ? PanelPlacement::corner(panel_.size(), screen->availableGeometry()) : QPoint());
}

void PanelController::showWindow() {
    panel_.show();
    panel_.raise();
    panel_.activateWindow();
    startMonitoring();
}

void PanelController::open(const QPoint& origin) {
    panel_.move(origin);
    showWindow();
}

void PanelController::close() {
    stopMonitoring();
    if (panel_.isVisible()) {
        panel_.hide();
    }
}

bool PanelController::isOpen() const {
    return panel_.isVisible();
}

void PanelController::toggle(const std::function<void()>& open) {
    if (isOpen()) {
        close();
        return;
    }
    const bool justDismissed = dismissedAt_ && clock() - *dismissedAt_ < sameClick;
    dismissedAt_.reset();
    if (!justDismissed) {
        open();
    }
}

void PanelController::dismiss() {
    dismissedAt_ = clock();
    close();
}

void PanelController::startMonitoring() {
    stopMonitoring();
    monitoring_ = true;
    qApp->installEventFilter(this);
    if (!panel_.isFloating()) {
        return;
    }
    if (const auto pointer = readPointer()) {
        // The click that opened the panel is not a click elsewhere.
        waitForRelease_ = pointer->pressed;
        desktop_ = currentDesktop();
        pointerTicks_ = 0;
        pointerTimer_.start();
    } else {
        focusConnection_ = connect(qApp, &QGuiApplication::focusWindowChanged, this, [this] {
            QTimer::singleShot(0, this, &PanelController::activationChanged);
        });
    }
}

void PanelController::stopMonitoring() {
    if (!monitoring_) {
        return;
    }
    monitoring_ = false;
    qApp->removeEventFilter(this);
    disconnect(focusConnection_);
    pointerTimer_.stop();
    closeOnMouseUp_ = false;
    dragInside_ = false;
    pressedAt_.reset();
}

bool PanelController::isProgramActive() {
    return QApplication::activeWindow() || QApplication::activePopupWidget() ||
           QApplication::activeModalWidget();
}

void PanelController::activationChanged() {
    // Only where the pointer cannot be followed: losing activation to another program closes the panel,
    // unless something is being dragged over it.
    if (monitoring_ && !isProgramActive() && !dragInside_) {
        dismiss();
    }
}

void PanelController::followPointer() {
    const auto pointer = readPointer();
    if (!pointer) {
        pointerTimer_.stop();
        return;
    }
    // Switching to another desktop closes the panel, as it leaves the desktop it was opened on.
    if (desktop_ && ++pointerTicks_ % desktopCheckEvery == 0 && currentDesktop() != desktop_) {
        close();
        return;
    }
    if (waitForRelease_) {
        waitForRelease_ = pointer->pressed;
        return;
    }
    // Presses inside the program (the panel, its menus and dialogs) are its own business.
    if (isProgramActive() && QApplication::topLevelAt(pointer->position)) {
        pressedAt_.reset();
        closeOnMouseUp_ = false;
        return;
    }
    pointerMoved(pointer->position, pointer->pressed, panel_.frameGeometry().contains(pointer->position));
}

void PanelController::pointerMoved(const QPoint& position, bool pressed, bool overPanel) {
    if (pressed) {
        if (!pressedAt_) {
            pressedAt_ = position;
            closeOnMouseUp_ = !overPanel && !dragInside_;
        } else if ((position - *pressedAt_).manhattanLength() > dragDistance) {
            // A drag may be bringing something to the panel.
            closeOnMouseUp_ = false;
        }
        return;
    }
    const bool closing = pressedAt_ && closeOnMouseUp_ && !dragInside_;
    pressedAt_.reset();
    closeOnMouseUp_ = false;
    if (closing) {
        dismiss();
    }
}

bool PanelController::belongsToPanel(QObject* object) const {
    auto* widget = qobject_cast<QWidget*>(object);
    return widget && widget->window() == &panel_;
}

bool PanelController::handleKey(const QKeyEvent& event) {
    if (event.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) {
        return false;
    }
    if (event.key() == Qt::Key_Space) {
        // Typing in a field keeps its spaces.
        const QWidget* focus = QApplication::focusWidget();
        if (focus && focus->testAttribute(Qt::WA_InputMethodEnabled)) {
            return false;
        }
        return onSpace && onSpace();
    }
    if (event.key() == Qt::Key_Escape) {
        if (onEscape && onEscape()) {
            return true;
        }
        // An ordinary window stays: there is no tray icon to bring it back.
        if (panel_.isFloating()) {
            close();
        }
        return true;
    }
    return false;
}

bool PanelController::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::KeyPress:
        if (belongsToPanel(watched)) {
            return handleKey(static_cast<QKeyEvent&>(*event));
        }
        break;
    case QEvent::DragEnter:
    case QEvent::DragMove:
        if (belongsToPanel(watched)) {
            dragInside_ = true;
            closeOnMouseUp_ = false;
        }
        break;
    case QEvent::DragLeave:
    case QEvent::Drop:
        if (belongsToPanel(watched)) {
            dragInside_ = false;
        }
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

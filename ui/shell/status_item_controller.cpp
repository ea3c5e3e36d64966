#include "ui/shell/status_item_controller.h"

#include "app/model/app_model.h"
#include "ui/shell/panel_controller.h"
#include "ui/shell/popover_root.h"
#include "ui/shell/preview_window.h"
#include "ui/shell/tesk_panel.h"
#include "ui/widgets/tesk_mark.h"

#include <QApplication>
#include <QIcon>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QSystemTrayIcon>

StatusItemController::StatusItemController(AppModel& model, Platform& platform, QObject* parent)
    : QObject(parent)
    , model_(&model)
    , platform_(platform) {
    const bool tray = QSystemTrayIcon::isSystemTrayAvailable();
    panel_ = std::make_unique<TeskPanel>(new PopoverRoot(model), tray);
    controller_ = std::make_unique<PanelController>(*panel_);
    preview_ = std::make_unique<PreviewWindow>();

    controller_->onSpace = [this] { return model_ && model_->toggleQuickLook(); };
    controller_->onEscape = [this] { return model_ && dismissOne(*model_); };

    trayIcon_ = std::make_unique<QSystemTrayIcon>(menuBarImage(18));
    trayIcon_->setToolTip(QStringLiteral("Tesk"));
    connect(trayIcon_.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
                    togglePopover();
                }
            });
    // Some trays only offer a menu; it leads to the same panel.
    trayMenu_ = std::make_unique<QMenu>();
    trayMenu_->addAction(QStringLiteral("Open Tesk"), this, &StatusItemController::showPanel);
    trayMenu_->addAction(QStringLiteral("Quit Tesk"), qApp, &QCoreApplication::quit);
    trayIcon_->setContextMenu(trayMenu_.get());
    trayIcon_->show();

    // Without a tray the window is the only way in, so closing it quits.
    connect(panel_.get(), &TeskPanel::closeRequested, qApp, &QCoreApplication::quit);

    connect(&model, &AppModel::previewFileChanged, this, &StatusItemController::previewChanged);
    connect(preview_.get(), &PreviewWindow::closedByUser, this, [this] {
        shownPreview_.reset();
        if (model_ && model_->previewFile()) {
            model_->setPreviewFile(std::nullopt);
        }
    });
    connect(&model, &AppModel::revealRequestChanged, this, [this] {
        if (!isPanelVisible()) {
            showPanel();
        }
    });
    if (!tray) {
        showPanel();
    }
}

StatusItemController::~StatusItemController() = default;

void StatusItemController::togglePopover() {
    controller_->toggle([this] { showPanel(); });
}

void StatusItemController::showPanel() {
    if (!panel_->isFloating()) {
        controller_->showWindow();
        return;
    }
    const QRect icon = trayIcon_ ? trayIcon_->geometry() : QRect();
    if (icon.isValid() && !icon.isEmpty()) {
        controller_->show(icon, nullptr);
    } else {
        controller_->showInCorner();
    }
}

bool StatusItemController::isPanelVisible() const {
    return panel_->isVisible();
}

bool StatusItemController::dismissOne(AppModel& model) {
    if (model.renamingID()) {
        model.setRenamingID(std::nullopt);
        return true;
    }
    if (model.inspecting()) {
        model.setInspecting(std::nullopt);
        return true;
    }
    if (model.isPairingPanelOpen()) {
        model.closePairing();
        return true;
    }
    if (!model.picked().empty()) {
        model.clearPicks();
        return true;
    }
    return false;
}

QIcon StatusItemController::menuBarImage(int pointSize) {
    // Tray bars come light and dark and the desktop rarely says which: a light mark with a dark edge reads
    // on both.
    const QColor fill(0xf5, 0xf5, 0xf7);
    const QColor edge(0, 0, 0, 140);
    QIcon icon;
    for (const int scale : {1, 2}) {
        QPixmap pixmap(pointSize * scale, pointSize * scale);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        const QPainterPath mark = TeskMark::path(QRectF(pixmap.rect()).adjusted(1, 1, -1, -1), true);
        painter.setPen(QPen(edge, scale));
        painter.setBrush(fill);
        painter.drawPath(mark);
        painter.end();
        pixmap.setDevicePixelRatio(scale);
        icon.addPixmap(pixmap);
    }
    return icon;
}

void StatusItemController::previewChanged() {
    if (!model_) {
        return;
    }
    const auto& file = model_->previewFile();
    if (file == shownPreview_) {
        return;
    }
    shownPreview_ = file;
    if (!file) {
        if (preview_->isVisible()) {
            preview_->dismiss();
        }
        return;
    }
    if (!PreviewWindow::canShow(*file)) {
        // Nothing to draw here: the desktop's application opens it, and the preview is over at once.
        platform_.openFile(*file);
        shownPreview_.reset();
        model_->setPreviewFile(std::nullopt);
        return;
    }
    preview_->showFile(*file);
    // The panel stays the window that takes the keys, so Space closes the preview again.
    if (panel_->isVisible()) {
        panel_->activateWindow();
    }
}

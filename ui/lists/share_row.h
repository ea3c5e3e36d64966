#pragma once

#include "app/model/app_model.h"

#include <QString>
#include <QWidget>

class QMenu;

/// One link in the shares list: what it points at, what it held, how it stands, and what can be done
/// with it. A live row copies, shows and stops its link; an earlier one shares again or leaves history.
class ShareRow : public QWidget {
    Q_OBJECT

public:
    ShareRow(AppModel& model, Share share, bool live, QWidget* parent = nullptr);

    /// The symbol for what a share points at.
    static QString symbolName(ShareTarget::Kind kind);
    /// The target's name now for a live share; for an earlier one the title it was made with, else its
    /// first stored name, else "Link".
    static QString title(const Share& share, const Library& library, bool live);

    const Share& share() const { return share_; }
    bool live() const { return live_; }
    /// The row's context menu: "Show QR code", "Copy link", "Stop sharing" for a live link; "Share
    /// again" (when its files are still there) and "Remove from history" for an earlier one.
    void fillMenu(QMenu& menu);

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    AppModel& model_;
    Share share_;
    bool live_;
    bool hovering_ = false;
};

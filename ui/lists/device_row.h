#pragma once

#include "app/model/app_model.h"

#include <QString>
#include <QWidget>

class QGraphicsOpacityEffect;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class SymbolLabel;

/// One paired phone in the Phones view: its kind, its name (or the field that renames it), when it
/// paired and what it has sent, and the way to remove it.
class DeviceRow : public QWidget {
    Q_OBJECT

public:
    DeviceRow(AppModel& model, PairedDevice device, QWidget* parent = nullptr);

    /// "ipad" when the name mentions an iPad in any letter case, else "iphone".
    static QString symbolName(const QString& deviceName);

    const PairedDevice& device() const { return device_; }
    /// Shows the phone as the library now holds it; a rename in progress keeps its draft.
    void setDevice(const PairedDevice& device);
    /// The row's context menu: "Rename" and "Remove".
    void fillMenu(QMenu& menu);

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    /// Shows the name or the rename field, as `renamingID` says.
    void updateRenaming();
    void submitRename();
    void setHovering(bool hovering);
    void applyTheme();

    AppModel& model_;
    PairedDevice device_;
    SymbolLabel* symbol_;
    QLabel* name_;
    QLineEdit* field_;
    QLabel* subtitle_;
    QPushButton* remove_;
    QGraphicsOpacityEffect* removeOpacity_;
    bool hovering_ = false;
};

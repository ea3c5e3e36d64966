#include "ui/lists/device_row.h"

#include "app/model/app_model.h"
#include "app/model/wording.h"
#include "ui/widgets/context_menu.h"
#include "ui/widgets/elided_label.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/symbol_label.h"
#include "ui/widgets/theme.h"

#include <QContextMenuEvent>
#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr qreal restingOpacity = 0.7;

} // namespace

DeviceRow::DeviceRow(AppModel& model, PairedDevice device, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , device_(std::move(device)) {
    setObjectName(QStringLiteral("deviceRow"));
    setAttribute(Qt::WA_Hover);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 8, 12, 8);
    layout->setSpacing(10);

    symbol_ =
        new SymbolLabel(symbolName(QString::fromStdString(device_.name)), 24, SymbolLabel::Tone::text, this);
    symbol_->setObjectName(QStringLiteral("symbol"));
    layout->addWidget(symbol_, 0, Qt::AlignVCenter);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(1);
    name_ = new ElidedLabel({}, this);
    name_->setObjectName(QStringLiteral("name"));
    name_->setTextFormat(Qt::PlainText);
    texts->addWidget(name_);
    field_ = new QLineEdit(this);
    field_->setObjectName(QStringLiteral("nameField"));
    field_->setPlaceholderText(QStringLiteral("Phone name"));
    field_->setStyleSheet(QStringLiteral("QLineEdit { border-radius: 5px; padding: 1px 4px; }"));
    field_->hide();
    // Only Return submits: Escape reaches the panel, which ends the rename without saving.
    connect(field_, &QLineEdit::returnPressed, this, &DeviceRow::submitRename);
    texts->addWidget(field_);
    subtitle_ = new ElidedLabel({}, this);
    subtitle_->setObjectName(QStringLiteral("subtitle"));
    texts->addWidget(subtitle_);
    layout->addLayout(texts, 1);

    remove_ = new QPushButton(QStringLiteral("Remove"), this);
    remove_->setObjectName(QStringLiteral("remove"));
    remove_->setFlat(true);
    removeOpacity_ = new QGraphicsOpacityEffect(remove_);
    removeOpacity_->setOpacity(restingOpacity);
    remove_->setGraphicsEffect(removeOpacity_);
    connect(remove_, &QPushButton::clicked, this, [this] { model_.removeDevice(device_); });
    layout->addWidget(remove_, 0, Qt::AlignVCenter);

    connect(&model_, &AppModel::renamingIDChanged, this, &DeviceRow::updateRenaming);
    applyTheme();
    setDevice(device_);
    updateRenaming();
}

QString DeviceRow::symbolName(const QString& deviceName) {
    return deviceName.contains(QStringLiteral("ipad"), Qt::CaseInsensitive) ? QStringLiteral("ipad")
                                                                            : QStringLiteral("iphone");
}

void DeviceRow::setDevice(const PairedDevice& device) {
    device_ = device;
    const QString name = QString::fromStdString(device_.name);
    symbol_->setSymbol(symbolName(name));
    name_->setText(name);
    subtitle_->setText(QString::fromStdString(Wording::phoneSubtitle(device_, model_.now())));
}

void DeviceRow::fillMenu(QMenu& menu) {
    // By value: the phone, and this row with it, may go while the menu is open.
    AppModel* const model = &model_;
    const PairedDevice device = device_;
    menu.addAction(QStringLiteral("Rename"), [model, id = device.id] { model->setRenamingID(id); });
    menu.addAction(QStringLiteral("Remove"), [model, device] {
        if (model->library().device(device.token)) {
            model->removeDevice(device);
        }
    });
}

void DeviceRow::updateRenaming() {
    const bool renaming = model_.renamingID() == device_.id;
    if (renaming == field_->isVisibleTo(this)) {
        return;
    }
    if (renaming) {
        field_->setText(QString::fromStdString(device_.name));
        field_->selectAll();
    }
    name_->setVisible(!renaming);
    field_->setVisible(renaming);
    if (renaming) {
        field_->setFocus(Qt::OtherFocusReason);
    }
}

void DeviceRow::submitRename() {
    // The store trims and shortens the name, and ignores a blank one.
    model_.renameDevice(device_.id, field_->text().toStdString());
    model_.setRenamingID(std::nullopt);
}

void DeviceRow::setHovering(bool hovering) {
    hovering_ = hovering;
    removeOpacity_->setOpacity(hovering ? 1.0 : restingOpacity);
    update();
}

void DeviceRow::paintEvent(QPaintEvent*) {
    if (!hovering_) {
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Theme::current().hover);
    painter.drawRoundedRect(rect().adjusted(4, 1, -4, -1), 6, 6);
}

void DeviceRow::enterEvent(QEnterEvent* event) {
    setHovering(true);
    QWidget::enterEvent(event);
}

void DeviceRow::leaveEvent(QEvent* event) {
    setHovering(false);
    QWidget::leaveEvent(event);
}

void DeviceRow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ApplicationPaletteChange) {
        applyTheme();
    }
}

void DeviceRow::applyTheme() {
    const Theme theme = Theme::current();
    Labels::tint(*subtitle_, theme.dimmed);
    Labels::tint(*remove_, theme.danger);
}

void DeviceRow::contextMenuEvent(QContextMenuEvent* event) {
    ContextMenu::popup(*this, event->globalPos(), [this](QMenu& menu) { fillMenu(menu); });
}

#include "ui/explorer/file_row_delegate.h"

#include "app/model/app_model.h"
#include "ui/explorer/file_list_model.h"
#include "ui/explorer/thumbnail_cache.h"
#include "ui/widgets/symbols.h"
#include "ui/widgets/theme.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>
#include <algorithm>

namespace {

const QString sharedTag = QStringLiteral("Shared");

QRect centred(int x, int width, const QRect& bounds, int height) {
    return QRect(x, bounds.top() + (bounds.height() - height) / 2, width, height);
}

QFont smaller(QFont font) {
    font.setPointSizeF(font.pointSizeF() * 0.85);
    return font;
}

void drawSymbol(QPainter& painter, const QString& name, int size, const QColor& color, const QRect& box) {
    const QPixmap pixmap = Symbols::pixmap(name, size, color, painter.device()->devicePixelRatioF());
    if (pixmap.isNull()) {
        return;
    }
    const QRect target(box.center().x() - size / 2, box.center().y() - size / 2, size, size);
    painter.drawPixmap(target, pixmap);
}

/// The image fitted into `box`, keeping its shape, with rounded corners.
void drawThumbnail(QPainter& painter, const QImage& image, const QRect& box) {
    const QSizeF logical = image.deviceIndependentSize();
    const QSize fitted = logical.toSize().scaled(box.size(), Qt::KeepAspectRatio);
    const QRect target(box.center().x() - fitted.width() / 2 + 1, box.center().y() - fitted.height() / 2 + 1,
                       fitted.width(), fitted.height());
    QPainterPath clip;
    clip.addRoundedRect(target, 4, 4);
    painter.save();
    painter.setClipPath(clip);
    painter.drawImage(target, image);
    painter.restore();
}

} // namespace

RowGeometry::Rects RowGeometry::layout(const QRect& bounds, bool pickColumn, bool compact) {
    Rects rects;
    int left = bounds.left() + leading;
    if (pickColumn) {
        rects.pickBox = centred(left, pickBoxSide, bounds, pickBoxSide);
        left += pickBoxSide + spacing;
    }
    rects.icon = centred(left, iconSide, bounds, iconSide);
    left += iconSide + spacing;

    int right = bounds.right() + 1 - trailing;
    rects.qrButton = centred(right - qrButtonSide, qrButtonSide, bounds, qrButtonSide);
    right -= qrButtonSide + spacing;
    if (!compact) {
        rects.added = QRect(right - addedWidth, bounds.top(), addedWidth, bounds.height());
        right -= addedWidth;
    }
    rects.size = QRect(right - sizeWidth, bounds.top(), sizeWidth, bounds.height());
    right -= sizeWidth + spacing;
    rects.name = QRect(left, bounds.top(), std::max(0, right - left), bounds.height());
    return rects;
}

FileRowDelegate::FileRowDelegate(AppModel& model, QObject* parent)
    : QStyledItemDelegate(parent)
    , model_(model) {}

bool FileRowDelegate::compact() const {
    return model_.inspecting().has_value();
}

bool FileRowDelegate::anyPicked() const {
    return !model_.picked().empty();
}

RowGeometry::Rects FileRowDelegate::rects(const QRect& rowRect) const {
    return RowGeometry::layout(rowRect, RowGeometry::hasPickColumn(compact(), anyPicked()), compact());
}

FileRowDelegate::Part FileRowDelegate::partAt(const QRect& rowRect, const QPoint& point) const {
    const RowGeometry::Rects parts = rects(rowRect);
    // The boxes are small; a little slack makes them easier to hit.
    if (parts.pickBox && parts.pickBox->adjusted(-4, -6, 4, 6).contains(point)) {
        return Part::pickBox;
    }
    if (parts.qrButton.adjusted(-3, -3, 3, 3).contains(point)) {
        return Part::qrButton;
    }
    return Part::row;
}

QSize FileRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    return QSize(option.rect.width() > 0 ? option.rect.width() : 400, RowGeometry::rowHeight);
}

void FileRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const {
    const Theme theme = Theme::current();
    const QRect bounds = option.rect;
    const bool hovered = index.row() == hoveredRow_;
    const RowGeometry::Rects parts = rects(bounds);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);

    // RowHighlight, and the drop highlight of a folder row under a drag.
    const QRectF background = QRectF(bounds).adjusted(4, 1, -4, -1);
    if (index.data(FileListModel::selectedRole).toBool()) {
        painter->setPen(Qt::NoPen);
        painter->setBrush(theme.selected);
        painter->drawRoundedRect(background, 6, 6);
    } else if (hovered) {
        painter->setPen(Qt::NoPen);
        painter->setBrush(theme.hover);
        painter->drawRoundedRect(background, 6, 6);
    }
    if (index.row() == dropTargetRow_) {
        QColor fill = theme.accent;
        fill.setAlphaF(0.18f);
        painter->setBrush(fill);
        painter->setPen(QPen(theme.accent, 1.5));
        painter->drawRoundedRect(background.adjusted(0.75, 0.75, -0.75, -0.75), 6, 6);
    }

    // PickBox.
    const bool picked = index.data(FileListModel::pickedRole).toBool();
    if (parts.pickBox && (hovered || anyPicked())) {
        const QRectF box = QRectF(*parts.pickBox).adjusted(1, 1, -1, -1);
        if (picked) {
            painter->setPen(Qt::NoPen);
            painter->setBrush(theme.accent);
            painter->drawRoundedRect(box, 4, 4);
            drawSymbol(*painter, QStringLiteral("checkmark"), 12, theme.onAccent, *parts.pickBox);
        } else {
            painter->setPen(QPen(theme.dimmed, 1.2));
            painter->setBrush(Qt::NoBrush);
            painter->drawRoundedRect(box, 4, 4);
        }
    }

    // RowIcon: the thumbnail when there is one, else the symbol.
    const QVariant thumbnail = index.data(FileListModel::thumbnailRole);
    if (thumbnail.isValid()) {
        drawThumbnail(*painter, thumbnail.value<QImage>(), parts.icon);
    } else {
        const bool folder = index.data(FileListModel::isFolderRole).toBool();
        drawSymbol(*painter, index.data(FileListModel::symbolRole).toString(), folder ? 15 : 14,
                   folder ? theme.accent : theme.dimmed, parts.icon);
        const QString file = index.data(FileListModel::thumbnailFileRole).toString();
        if (!file.isEmpty()) {
            // Only rows on screen are painted, so only they ask for a thumbnail.
            ThumbnailCache::shared().request(index.data(FileListModel::idRole).toString(), file.toStdString(),
                                             painter->device()->devicePixelRatioF());
        }
    }

    // The "Shared" tag sits at the end of the name block.
    QRect nameBlock = parts.name;
    const QFont small = smaller(option.font);
    if (index.data(FileListModel::sharedTagRole).toBool()) {
        const QFontMetrics metrics(small);
        const int width = metrics.horizontalAdvance(sharedTag) + 12;
        const QRect tag(nameBlock.right() + 1 - width, bounds.center().y() - 9, width, 18);
        painter->setPen(Qt::NoPen);
        painter->setBrush(theme.tag);
        painter->drawRoundedRect(tag, 9, 9);
        painter->setFont(small);
        painter->setPen(theme.dimmed);
        painter->drawText(tag, Qt::AlignCenter, sharedTag);
        nameBlock.setRight(tag.left() - 8);
    }

    // The name and subtitle, unless the rename field covers them.
    const QString id = index.data(FileListModel::idRole).toString();
    const bool renaming = model_.renamingID() && QString::fromStdString(*model_.renamingID()) == id;
    if (!renaming) {
        const QString name = index.data(Qt::DisplayRole).toString();
        const QVariant subtitle = index.data(FileListModel::subtitleRole);
        const QFontMetrics nameMetrics(option.font);
        const QFontMetrics smallMetrics(small);
        painter->setFont(option.font);
        painter->setPen(theme.text);
        if (subtitle.isValid()) {
            const int total = nameMetrics.height() + 2 + smallMetrics.height();
            const int top = bounds.top() + (bounds.height() - total) / 2;
            const QRect nameLine(nameBlock.left(), top, nameBlock.width(), nameMetrics.height());
            const QRect subtitleLine(nameBlock.left(), nameLine.bottom() + 3, nameBlock.width(),
                                     smallMetrics.height());
            painter->drawText(nameLine, Qt::AlignLeft | Qt::AlignVCenter,
                              nameMetrics.elidedText(name, Qt::ElideMiddle, nameLine.width()));
            painter->setFont(small);
            painter->setPen(theme.dimmed);
            painter->drawText(
                subtitleLine, Qt::AlignLeft | Qt::AlignVCenter,
                smallMetrics.elidedText(subtitle.toString(), Qt::ElideRight, subtitleLine.width()));
        } else {
            painter->drawText(nameBlock, Qt::AlignLeft | Qt::AlignVCenter,
                              nameMetrics.elidedText(name, Qt::ElideMiddle, nameBlock.width()));
        }
    }

    // Size and added time.
    painter->setFont(small);
    painter->setPen(theme.dimmed);
    const QFontMetrics smallMetrics(small);
    painter->drawText(parts.size, Qt::AlignLeft | Qt::AlignVCenter,
                      smallMetrics.elidedText(index.data(FileListModel::sizeRole).toString(), Qt::ElideRight,
                                              parts.size.width() - 4));
    if (parts.added) {
        painter->drawText(*parts.added, Qt::AlignLeft | Qt::AlignVCenter,
                          smallMetrics.elidedText(index.data(FileListModel::addedRole).toString(),
                                                  Qt::ElideRight, parts.added->width() - 4));
    }

    // The QR button.
    drawSymbol(*painter, QStringLiteral("qrcode"), 14, hovered ? theme.text : theme.dimmed, parts.qrButton);
    painter->restore();
}

bool FileRowDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view,
                                const QStyleOptionViewItem& option, const QModelIndex& index) {
    if (!event || !view || !index.isValid() || event->type() != QEvent::ToolTip) {
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    }
    QString help;
    switch (partAt(option.rect, event->pos())) {
    case Part::pickBox:
        help = index.data(FileListModel::pickedRole).toBool() ? QStringLiteral("Unselect")
                                                              : QStringLiteral("Select");
        break;
    case Part::qrButton:
        help = QStringLiteral("Share with a link or QR code");
        break;
    case Part::row:
        break;
    }
    if (help.isEmpty()) {
        QToolTip::hideText();
    } else {
        QToolTip::showText(event->globalPos(), help, view->viewport());
    }
    event->accept();
    return true;
}

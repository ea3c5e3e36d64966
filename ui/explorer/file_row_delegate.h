#pragma once

#include <QRect>
#include <QStyledItemDelegate>
#include <optional>

class AppModel;

/// Where the parts of a list row sit, shared by the rows and the column titles so they line up.
struct RowGeometry {
    /// Every row is this tall, with or without a subtitle.
    static constexpr int rowHeight = 44;
    static constexpr int leading = 10;
    static constexpr int trailing = 8;
    static constexpr int pickBoxSide = 18;
    static constexpr int iconSide = 30;
    static constexpr int spacing = 10;
    static constexpr int sizeWidth = 76;
    static constexpr int addedWidth = 92;
    static constexpr int qrButtonSide = 26;
    /// The height of the column titles above the rows.
    static constexpr int headerHeight = 26;

    struct Rects {
        /// Absent when the row has no pick-box column.
        std::optional<QRect> pickBox;
        QRect icon;
        /// The name and subtitle, and the "Shared" tag at its end.
        QRect name;
        QRect size;
        /// Absent when compact.
        std::optional<QRect> added;
        QRect qrButton;
    };

    /// Whether rows keep a column for the pick box: always, except when compact with nothing picked.
    static bool hasPickColumn(bool compact, bool anyPicked) { return !compact || anyPicked; }

    /// The parts of a row (or of the title bar) occupying `bounds`.
    static Rects layout(const QRect& bounds, bool pickColumn, bool compact);
};

/// Paints one row of the explorer list from the list model's roles: the pick box, the icon or
/// thumbnail, the name and subtitle, the size, the added time, the "Shared" tag and the QR button, on
/// the row's highlight. The view tells it which row is hovered and which is a drop target.
class FileRowDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    /// What a point of a row is over.
    enum class Part { row, pickBox, qrButton };

    explicit FileRowDelegate(AppModel& model, QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

    /// The parts of a row drawn in `rowRect`, as the model's state now lays them out.
    RowGeometry::Rects rects(const QRect& rowRect) const;
    /// Which part of the row in `rowRect` the point is over.
    Part partAt(const QRect& rowRect, const QPoint& point) const;

    void setHoveredRow(int row) { hoveredRow_ = row; }
    int hoveredRow() const { return hoveredRow_; }
    /// The folder row a drag hovers over; -1 for none.
    void setDropTargetRow(int row) { dropTargetRow_ = row; }
    int dropTargetRow() const { return dropTargetRow_; }

private:
    bool compact() const;
    bool anyPicked() const;

    AppModel& model_;
    int hoveredRow_ = -1;
    int dropTargetRow_ = -1;
};

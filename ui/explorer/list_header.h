#pragma once

#include <QPointer>
#include <QRect>
#include <QString>
#include <QWidget>
#include <vector>

class AppModel;
class QAbstractScrollArea;

/// The column titles above the explorer list: "Name", "Size" and, unless the inspector is open,
/// "Added", placed where the rows draw those columns.
class ListHeader : public QWidget {
    Q_OBJECT

public:
    struct Column {
        QString title;
        QRect rect;
    };

    ListHeader(AppModel& model, QWidget* parent = nullptr);

    /// Keeps the right-hand titles over the rows' columns while `list` shows a vertical scroll bar.
    void alignWith(QAbstractScrollArea* list);

    /// The titles shown now and where.
    std::vector<Column> columns() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    /// The width the list's scroll bar takes from its rows.
    int trailingInset() const;

    AppModel& model_;
    QPointer<QAbstractScrollArea> list_;
};

#pragma once

#include <QString>
#include <QWidget>
#include <optional>

/// One fixed row of the sidebar: a symbol, a label and an optional count badge. Clicking it emits
/// `clicked`.
class SidebarRow : public QWidget {
    Q_OBJECT

public:
    SidebarRow(const QString& symbol, const QString& label, QWidget* parent = nullptr);

    const QString& symbol() const { return symbol_; }
    const QString& label() const { return label_; }
    bool isSelected() const { return selected_; }
    void setSelected(bool selected);
    const std::optional<QString>& badge() const { return badge_; }
    /// Whether the badge is drawn filled (in the accent colour) rather than plain.
    bool isBadgeFilled() const { return badgeFilled_; }
    void setBadge(const std::optional<QString>& badge, bool filled = false);

    QSize sizeHint() const override;

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QString symbol_;
    QString label_;
    bool selected_ = false;
    bool hovering_ = false;
    std::optional<QString> badge_;
    bool badgeFilled_ = false;
};

#pragma once

#include <QWidget>

class QLabel;
class QVBoxLayout;

/// What a view shows when it has nothing else to: a large dimmed symbol over a bold title and a dimmed
/// explanation, centred, with room for a button or a further note underneath. The labels are named
/// "noticeTitle" and "noticeText" unless the view renames them.
class NoticeView : public QWidget {
    Q_OBJECT

public:
    NoticeView(const QString& symbol, const QString& title, const QString& text, QWidget* parent = nullptr);

    QLabel* titleLabel() const { return title_; }
    QLabel* textLabel() const { return text_; }

    /// Puts `widget` under what the notice shows already.
    void addWidget(QWidget* widget, Qt::Alignment alignment = {});
    /// Keeps the explanation at most `width` wide, centred: in a wide view a long line is hard to read.
    void limitTextWidth(int width);
    /// Centres the notice; by default it sits a little above the middle.
    void centreVertically();

protected:
    void changeEvent(QEvent* event) override;

private:
    void applyTheme();

    QVBoxLayout* layout_;
    QLabel* title_;
    QLabel* text_;
};

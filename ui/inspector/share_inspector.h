#pragma once

#include <QString>
#include <QTimer>
#include <QWidget>
#include <array>
#include <string>

class AppModel;
struct Date;
struct Share;
class BundleContents;
class ColumnHeading;
class NoticeView;
class QButtonGroup;
class QCheckBox;
class QLabel;
class QPushButton;
class QRCard;
class QRCodeView;
class QStackedWidget;
class QToolButton;

/// The right-hand column while a share target is inspected: the target's live link as a QR code and
/// as text, how long it works, whether visitors may send files back, and the way to stop it. Without a
/// network it says how to get one; when the link has ended it offers a new one.
class ShareInspector : public QWidget {
    Q_OBJECT

public:
    ShareInspector(AppModel& model, QWidget* parent = nullptr);

    /// The link as shown beside "Copy": without "http://", which says nothing to a reader.
    static QString shownLink(const std::string& link);

    /// Shows what the model holds now for the inspected target.
    void refresh();

protected:
    void changeEvent(QEvent* event) override;

private:
    QWidget* makeDetails();
    NoticeView* makeNotice(const QString& symbol, const QString& title, const QString& text,
                           const QString& objectName);
    void applyTheme();

    AppModel& model_;
    ColumnHeading* heading_;
    QStackedWidget* body_;
    QWidget* nothing_;
    QWidget* details_;
    NoticeView* wifiNotice_;
    NoticeView* expiredNotice_;
    QPushButton* makeNewLink_;
    BundleContents* bundle_;
    QRCard* card_;
    QRCodeView* qr_;
    QLabel* qrCaption_;
    QLabel* link_;
    QPushButton* copy_;
    QLabel* durationTitle_;
    QButtonGroup* durations_;
    std::array<QToolButton*, 3> durationButtons_{};
    QLabel* status_;
    QCheckBox* uploads_;
    QLabel* inboxNote_;
    QLabel* sameWifi_;
    QPushButton* stop_;
    /// Keeps the status line current and shows the expired notice once the link has run out.
    QTimer tick_;
};

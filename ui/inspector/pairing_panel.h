#pragma once

#include <QColor>
#include <QString>
#include <QTimer>
#include <QWidget>

class AppModel;
class ColumnHeading;
class QLabel;
class QPushButton;
class QRCodeView;
class QStackedWidget;
struct Date;

/// The right-hand column while a phone is being paired: the code to scan with its countdown and the
/// steps, a hint when there is no network, and the confirmation once a phone has paired.
class PairingPanel : public QWidget {
    Q_OBJECT

public:
    PairingPanel(AppModel& model, QWidget* parent = nullptr);

    /// Shows what the model holds now.
    void refresh();

protected:
    void changeEvent(QEvent* event) override;

private:
    QWidget* makeJustPaired();
    QWidget* makeCode();
    QWidget* makeNoAddress();
    void updateCountdown();
    void applyTheme();

    AppModel& model_;
    ColumnHeading* heading_;
    QStackedWidget* body_;
    QWidget* nothing_;
    QWidget* justPaired_;
    QLabel* pairedName_;
    QWidget* code_;
    QRCodeView* qr_;
    QLabel* countdown_;
    QWidget* noAddress_;
    /// Redraws the countdown; a minute is the smallest unit it shows.
    QTimer tick_;
};

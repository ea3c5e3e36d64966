#pragma once

#include <QWidget>

class QRCodeView;

/// A QR code on a white card with rounded corners: scanners want dark modules on light ground in the
/// dark appearance too. The code is the child named "qr".
class QRCard : public QWidget {
    Q_OBJECT

public:
    explicit QRCard(QWidget* parent = nullptr);

    QRCodeView& code() const { return *code_; }

private:
    QRCodeView* code_;
};

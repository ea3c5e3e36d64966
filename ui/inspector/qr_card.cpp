#include "ui/inspector/qr_card.h"

#include "ui/widgets/qr_code_view.h"

#include <QVBoxLayout>

namespace {

constexpr int codeSide = 146;
constexpr int padding = 10;

} // namespace

QRCard::QRCard(QWidget* parent)
    : QWidget(parent)
    , code_(new QRCodeView(this)) {
    setObjectName(QStringLiteral("qrCard"));
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(QStringLiteral("#qrCard { background: white; border-radius: 12px; }"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(padding, padding, padding, padding);
    code_->setObjectName(QStringLiteral("qr"));
    code_->setFixedSize(codeSide, codeSide);
    layout->addWidget(code_);
}

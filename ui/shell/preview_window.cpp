#include "ui/shell/preview_window.h"

#include <QCloseEvent>
#include <QFile>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImageReader>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeDatabase>
#include <QPlainTextEdit>
#include <QScreen>
#include <QStackedLayout>
#include <QStringDecoder>

namespace {

/// Enough of a text file to read; the rest is left on disk.
constexpr qint64 textLimit = 1 << 20;

QString qtPath(const std::filesystem::path& file) {
    return QString::fromStdString(file.string());
}

bool isText(const std::filesystem::path& file) {
    const QMimeType type = QMimeDatabase().mimeTypeForFile(qtPath(file));
    return type.inherits(QStringLiteral("text/plain"));
}

} // namespace

PreviewWindow::PreviewWindow()
    : picture_(new QLabel)
    , text_(new QPlainTextEdit)
    , stack_(new QStackedLayout(this)) {
    setObjectName(QStringLiteral("PreviewWindow"));
    setWindowFlags(Qt::Window | Qt::WindowStaysOnTopHint);
    picture_->setAlignment(Qt::AlignCenter);
    picture_->setMinimumSize(1, 1);
    text_->setReadOnly(true);
    text_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    stack_->addWidget(picture_);
    stack_->addWidget(text_);
    resize(720, 540);
}

bool PreviewWindow::canShow(const std::filesystem::path& file) {
    return !QImageReader::imageFormat(qtPath(file)).isEmpty() || isText(file);
}

void PreviewWindow::showFile(const std::filesystem::path& file) {
    file_ = file;
    setWindowTitle(QString::fromStdString(file.filename().string()));
    QImageReader reader(qtPath(file));
    reader.setAutoTransform(true);
    if (!reader.format().isEmpty()) {
        // Large photos are read at most at the screen's size.
        const QScreen* screen = QGuiApplication::primaryScreen();
        const QSize limit = screen ? screen->availableSize() * screen->devicePixelRatio() : QSize(2560, 1600);
        const QSize size = reader.size();
        if (size.isValid() && (size.width() > limit.width() || size.height() > limit.height())) {
            reader.setScaledSize(size.scaled(limit, Qt::KeepAspectRatio));
        }
        image_ = reader.read();
        stack_->setCurrentWidget(picture_);
        fitImage();
    } else {
        image_ = QImage();
        QFile input(qtPath(file));
        QString contents;
        if (input.open(QIODevice::ReadOnly)) {
            QStringDecoder decoder(QStringDecoder::Utf8);
            contents = decoder(input.read(textLimit));
        }
        text_->setPlainText(contents);
        stack_->setCurrentWidget(text_);
    }
    show();
    raise();
}

void PreviewWindow::dismiss() {
    dismissing_ = true;
    close();
    dismissing_ = false;
}

void PreviewWindow::fitImage() {
    if (image_.isNull()) {
        picture_->clear();
        return;
    }
    const QSize area = picture_->size() * devicePixelRatioF();
    QPixmap pixmap =
        QPixmap::fromImage(image_.width() > area.width() || image_.height() > area.height()
                               ? image_.scaled(area, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                               : image_);
    pixmap.setDevicePixelRatio(devicePixelRatioF());
    picture_->setPixmap(pixmap);
}

void PreviewWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Space) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void PreviewWindow::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    if (!dismissing_) {
        emit closedByUser();
    }
}

void PreviewWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    fitImage();
}

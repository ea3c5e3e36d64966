#include "ui/shell/widgets_platform.h"

#include "app/system/child_process.h"
#include "app/system/notifier.h"
#include "ui/explorer/file_chooser.h"

#include <QApplication>
#include <QClipboard>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QMimeData>
#include <QPalette>
#include <QPushButton>
#include <QStyle>
#include <QStyleFactory>
#include <QUrl>
#include <QWidget>

namespace {

QString qt(const std::string& text) {
    return QString::fromStdString(text);
}

QUrl filePath(const std::filesystem::path& file) {
    return QUrl::fromLocalFile(QString::fromStdString(file.string()));
}

/// Opens `url` in the program the desktop chooses. xdg-open is what QDesktopServices would start here,
/// but Qt's start would hand it Tesk's blocked stop signals; started through ChildProcess, it and the
/// program it opens answer Ctrl+C and a stop as usual. Without xdg-open, Qt's own way is the fallback.
void launch(const QUrl& url) {
    if (!ChildProcess::startDetached(QStringLiteral("xdg-open"), {QString::fromUtf8(url.toEncoded())})) {
        QDesktopServices::openUrl(url);
    }
}

QPalette darkPalette() {
    QPalette palette;
    const QColor window(0x2b, 0x2b, 0x2d);
    const QColor base(0x1f, 0x1f, 0x21);
    const QColor text(0xf2, 0xf2, 0xf7);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, window);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, window);
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::ToolTipBase, base);
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::PlaceholderText, QColor(0x8e, 0x8e, 0x93));
    palette.setColor(QPalette::Highlight, QColor(0x0a, 0x84, 0xff));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::Link, QColor(0x0a, 0x84, 0xff));
    palette.setColor(QPalette::Disabled, QPalette::Text, QColor(0x63, 0x63, 0x66));
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x63, 0x63, 0x66));
    palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x63, 0x63, 0x66));
    return palette;
}

} // namespace

std::vector<std::filesystem::path> WidgetsPlatform::clipboardFiles() {
    std::vector<std::filesystem::path> files;
    if (const QMimeData* data = QApplication::clipboard()->mimeData()) {
        for (const QUrl& url : data->urls()) {
            if (url.isLocalFile()) {
                files.emplace_back(url.toLocalFile().toStdString());
            }
        }
    }
    return files;
}

std::optional<std::string> WidgetsPlatform::clipboardText() {
    const QMimeData* data = QApplication::clipboard()->mimeData();
    if (!data || !data->hasText()) {
        return std::nullopt;
    }
    return data->text().toStdString();
}

void WidgetsPlatform::setClipboardText(const std::string& text) {
    QApplication::clipboard()->setText(qt(text));
}

std::vector<std::filesystem::path> WidgetsPlatform::chooseFiles(const std::string& prompt) {
    FileChooser dialog(qt(prompt), QApplication::activeWindow());
    std::vector<std::filesystem::path> chosen;
    if (dialog.exec() == QDialog::Accepted) {
        for (const QString& file : dialog.chosen()) {
            chosen.emplace_back(file.toStdString());
        }
    }
    return chosen;
}

bool WidgetsPlatform::confirm(const Alert& alert) {
    QMessageBox box(QApplication::activeWindow());
    box.setIcon(QMessageBox::Warning);
    box.setText(qt(alert.message));
    box.setInformativeText(qt(alert.informativeText));
    QPushButton* confirmButton = box.addButton(qt(alert.confirmButton), QMessageBox::DestructiveRole);
    QPushButton* cancelButton = box.addButton(qt(alert.cancelButton), QMessageBox::RejectRole);
    // Return must not destroy anything: the safe choice is the default.
    box.setDefaultButton(cancelButton);
    box.setEscapeButton(cancelButton);
    box.exec();
    return box.clickedButton() == confirmButton;
}

void WidgetsPlatform::activate() {
    if (QWidget* window = QApplication::activeWindow()) {
        window->raise();
        window->activateWindow();
    }
}

void WidgetsPlatform::openFile(const std::filesystem::path& file) {
    launch(filePath(file));
}

void WidgetsPlatform::openURL(const std::string& url) {
    launch(QUrl(qt(url)));
}

void WidgetsPlatform::revealFile(const std::filesystem::path& file) {
    // File managers that implement FileManager1 open the folder with the file selected; elsewhere the
    // containing folder is the best we can do.
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{filePath(file).toString()} << QString();
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 2000);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        launch(filePath(file.parent_path()));
    }
}

void WidgetsPlatform::notify(const std::string& title, const std::string& body,
                             const Notifier::Target& target) {
    Notifier::post(title, body, target);
}

void WidgetsPlatform::applyAppearance(AppearanceSetting appearance) {
    // Qt 6.4 cannot ask the desktop for its colour scheme by name, so a forced look replaces the palette
    // under the Fusion style, and the desktop's look is its own style and palette.
    static const QString desktopStyle = QApplication::style()->name();
    switch (appearance) {
    case AppearanceSetting::dark:
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        QApplication::setPalette(darkPalette());
        break;
    case AppearanceSetting::light:
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        QApplication::setPalette(QApplication::style()->standardPalette());
        break;
    case AppearanceSetting::system:
        QApplication::setStyle(QStyleFactory::create(desktopStyle));
        QApplication::setPalette(QPalette());
        break;
    }
}

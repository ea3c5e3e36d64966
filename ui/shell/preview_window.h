#pragma once

#include <QWidget>
#include <filesystem>

class QLabel;
class QPlainTextEdit;
class QStackedLayout;

/// The in-app file preview: pictures scaled to fit, text files as text. Closing it by any means (its
/// close button, Escape, Space) is reported, so the model can forget what it previewed.
class PreviewWindow : public QWidget {
    Q_OBJECT

public:
    PreviewWindow();

    /// Whether the file is something this window can show; other files go to the desktop's application.
    static bool canShow(const std::filesystem::path& file);

    /// Shows the file, raising the window.
    void showFile(const std::filesystem::path& file);
    /// Hides the window without reporting it as closed by the user.
    void dismiss();
    const std::filesystem::path& file() const { return file_; }

signals:
    void closedByUser();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void fitImage();

    std::filesystem::path file_;
    QImage image_;
    QLabel* picture_;
    QPlainTextEdit* text_;
    QStackedLayout* stack_;
    bool dismissing_ = false;
};

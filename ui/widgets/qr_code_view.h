#pragma once

#include <QImage>
#include <QWidget>
#include <optional>
#include <string>

/// A QR code of a text, drawn as large as the widget allows with square, sharp modules. Shows nothing
/// when the text cannot be encoded.
class QRCodeView : public QWidget {
    Q_OBJECT

public:
    /// Pixels per module in the rendered image.
    static constexpr int moduleSize = 8;
    /// White modules around the code. Scanners need a quiet zone; the white card the view sits on adds
    /// more, so two modules are enough here and keep the code itself large.
    static constexpr int quietZone = 2;

    explicit QRCodeView(QWidget* parent = nullptr);

    /// The code of `text`'s UTF-8 bytes at error correction level M, `moduleSize` pixels per module,
    /// black on white with the quiet zone; nothing when the text does not fit in a QR code.
    static std::optional<QImage> render(const std::string& text);

    /// Shows the code of `text`; rendering happens only when the text changes.
    void setText(const std::string& text);
    const std::string& text() const { return text_; }
    /// The image on show; nothing when there is no text or it could not be encoded.
    const std::optional<QImage>& image() const { return image_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::string text_;
    std::optional<QImage> image_;
};

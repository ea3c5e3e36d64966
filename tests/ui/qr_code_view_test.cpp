// QR codes must scan: every rendered code is read back with zbarimg, a real decoder, and must give the
// very text it was made from. The view must keep modules sharp and show nothing for a failed code.
#include "ui/widgets/qr_code_view.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <string>

/// What zbarimg reads from the image, or a description of why it read nothing.
static std::string decode(const QImage& image, const QTemporaryDir& dir, const QString& name) {
    const QString file = dir.filePath(name + QStringLiteral(".png"));
    image.save(file, "PNG");
    QProcess zbar;
    zbar.start(QStringLiteral("zbarimg"), {QStringLiteral("--quiet"), QStringLiteral("--raw"), file});
    if (!zbar.waitForFinished(20'000) || zbar.exitCode() != 0) {
        return "<not decoded: " + zbar.readAllStandardError().toStdString() + ">";
    }
    // zbarimg ends the text with a newline; none of the texts here ends in white space.
    return QString::fromUtf8(zbar.readAllStandardOutput()).trimmed().toStdString();
}

TEST(QRCodeViewTest, EveryCodeAndTheViewScalingItDownDecodeBackToTheirText) {
    QTemporaryDir dir;
    const std::string texts[] = {
        "http://192.168.1.20:52731/s/a2b3c4d5e6/",
        "https://relay.example.org/l/0f3c9a7e5b1d4c2a8e6f/s/a2b3c4d5e6/",
        // Long text well into the larger versions, with letters from several scripts.
        "Grüße aus Köln – Ünïcödé “quotes” · 東京の写真 · Ελληνικά · emoji 📷 " + std::string(300, 'x') +
            " end",
    };
    for (const std::string& text : texts) {
        const auto image = QRCodeView::render(text);
        EXPECT_EQ(image ? decode(*image, dir, QString::number(&text - texts)) : "<not rendered>", text);
    }
    // Level M holds at most 2331 bytes.
    EXPECT_FALSE(QRCodeView::render(std::string(3000, 'a')).has_value());
    EXPECT_FALSE(QRCodeView::render("").has_value());

    // The view scales the code down without smoothing: every pixel stays pure black or pure white.
    QRCodeView view;
    view.resize(146, 146);
    view.setText(texts[0]);
    ASSERT_GT(view.image().value_or(QImage()).width(), 146);
    QImage shown(146, 146, QImage::Format_RGB32);
    shown.fill(Qt::white);
    view.QWidget::render(&shown);
    for (int i = 0; i < 146 * 146; ++i) {
        const int gray = qGray(shown.pixel(i % 146, i / 146));
        ASSERT_TRUE(gray == 0 || gray == 255) << i % 146 << "," << i / 146 << " is " << gray;
    }
    EXPECT_EQ(decode(shown, dir, QStringLiteral("view")), texts[0]);
    view.setText(std::string(3000, 'a'));
    EXPECT_FALSE(view.image().has_value());
}

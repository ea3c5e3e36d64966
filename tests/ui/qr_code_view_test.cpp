// QR codes must scan: every rendered code is read back with zbarimg, a real decoder, and must give the
// very text it was made from. The view must keep modules sharp and show nothing for a failed code.
#include "ui/widgets/qr_code_view.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <string>

namespace {

/// What zbarimg reads from the image, or a description of why it read nothing.
std::string decode(const QImage& image, const QTemporaryDir& dir, const QString& name) {
    const QString file = dir.filePath(name + QStringLiteral(".png"));
    if (!image.save(file, "PNG")) {
        return "<not saved>";
    }
    QProcess zbar;
    zbar.start(QStringLiteral("zbarimg"), {QStringLiteral("--quiet"), QStringLiteral("--raw"), file});
    if (!zbar.waitForFinished(20'000) || zbar.exitCode() != 0) {
        return "<not decoded: " + zbar.readAllStandardError().toStdString() + ">";
    }
    QByteArray text = zbar.readAllStandardOutput();
    if (text.endsWith('\n')) {
        text.chop(1);
    }
    return text.toStdString();
}

TEST(QRCodeViewTest, EveryRenderedCodeDecodesBackToItsText) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string texts[] = {
        "http://192.168.1.20:52731/p/Kq7wZp2mXv4R/",
        "http://192.168.1.20:52731/s/a2b3c4d5e6/",
        "https://relay.example.org/l/0f3c9a7e5b1d4c2a8e6f/s/a2b3c4d5e6/",
        // Long text well into the larger versions, with letters from several scripts.
        "Grüße aus Köln – Ünïcödé “quotes” · 東京の写真 · Ελληνικά · emoji 📷 " + std::string(300, 'x') +
            " end",
    };
    int index = 0;
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        const auto image = QRCodeView::render(text);
        ASSERT_TRUE(image.has_value());
        EXPECT_EQ(decode(*image, dir, QString::number(index++)), text);
    }
}

TEST(QRCodeViewTest, ModulesAreEightPixelsInsideAWhiteQuietZone) {
    const auto image = QRCodeView::render("http://192.168.1.20:52731/s/a2b3c4d5e6/");
    ASSERT_TRUE(image.has_value());
    constexpr int module = 8;
    ASSERT_EQ(image->width(), image->height());
    ASSERT_EQ(image->width() % module, 0);
    // The finder pattern's outer corner is the first black pixel on the diagonal; everything before it
    // is the quiet zone, which must be whole modules and at least two of them.
    int margin = 0;
    while (margin < image->width() && qGray(image->pixel(margin, margin)) == 255) {
        ++margin;
    }
    EXPECT_EQ(margin % module, 0);
    EXPECT_GE(margin, 2 * module);
    for (int i = 0; i < margin; ++i) {
        EXPECT_EQ(qGray(image->pixel(i, image->height() / 2)), 255);
        EXPECT_EQ(qGray(image->pixel(image->width() / 2, i)), 255);
        EXPECT_EQ(qGray(image->pixel(image->width() - 1 - i, image->height() / 2)), 255);
    }
    // A version 1 to 40 code is 21 to 177 modules wide, 4 more per version.
    const int modules = (image->width() - 2 * margin) / module;
    EXPECT_EQ((modules - 21) % 4, 0);
    // The finder pattern's dark ring is one module thick, then a light module follows.
    for (int x = margin; x < margin + module; ++x) {
        EXPECT_EQ(qGray(image->pixel(x, margin + module + module / 2)), 0);
    }
    EXPECT_EQ(qGray(image->pixel(margin + module + module / 2, margin + module + module / 2)), 255);
}

TEST(QRCodeViewTest, TextThatCannotBeEncodedShowsNothing) {
    // Level M holds at most 2331 bytes.
    const std::string tooLong(3000, 'a');
    EXPECT_FALSE(QRCodeView::render(tooLong).has_value());
    EXPECT_FALSE(QRCodeView::render("").has_value());

    QRCodeView view;
    view.resize(146, 146);
    view.setText(tooLong);
    EXPECT_FALSE(view.image().has_value());
    QImage shown(146, 146, QImage::Format_ARGB32);
    shown.fill(Qt::transparent);
    view.QWidget::render(&shown);
    for (int y = 0; y < shown.height(); y += 3) {
        for (int x = 0; x < shown.width(); x += 3) {
            ASSERT_NE(shown.pixel(x, y), qRgb(0, 0, 0));
        }
    }
}

TEST(QRCodeViewTest, ViewScalesWithoutSmoothingAndStillScans) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string link = "http://192.168.1.20:52731/s/a2b3c4d5e6/";
    QRCodeView view;
    view.resize(146, 146);
    view.setText(link);
    ASSERT_TRUE(view.image().has_value());
    // The image is larger than the view, so it is scaled down: without smoothing every pixel stays
    // pure black or pure white.
    ASSERT_GT(view.image()->width(), 146);
    QImage shown(146, 146, QImage::Format_RGB32);
    shown.fill(Qt::white);
    view.QWidget::render(&shown);
    int black = 0;
    for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x) {
            const int gray = qGray(shown.pixel(x, y));
            ASSERT_TRUE(gray == 0 || gray == 255) << x << "," << y << " is " << gray;
            black += gray == 0 ? 1 : 0;
        }
    }
    EXPECT_GT(black, 146 * 146 / 5);
    EXPECT_EQ(decode(shown, dir, QStringLiteral("view")), link);
}

} // namespace

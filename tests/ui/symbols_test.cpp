// The bundled symbol set: every name the interface asks for is there and draws something visible in the
// colour asked for, inside the square.
#include "ui/widgets/symbols.h"

#include <gtest/gtest.h>

#include <QImage>
#include <cstdlib>

namespace {

TEST(SymbolsTest, EveryInterfaceSymbolDrawsVisiblyInTheColourAskedForWithAMargin) {
    const QColor tint(10, 132, 255);
    const QStringList names = QStringLiteral("qrcode folder folder.fill link text.alignleft photo "
                                             "play.rectangle waveform doc.zipper doc.text doc "
                                             "chevron.right magnifyingglass xmark xmark.circle.fill plus "
                                             "iphone ipad iphone.and.arrow.forward tray "
                                             "tray.and.arrow.down arrow.down.to.line "
                                             "arrow.down.to.line.compact checkmark trash ellipsis.circle "
                                             "wifi.slash clock rectangle.stack")
                                  .split(' ');
    for (const QString& name : names) {
        const QImage image =
            Symbols::pixmap(name, 16, tint, 3.0).toImage().convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(image.size(), QSize(48, 48)) << name.toStdString();
        // Solid ink, all of it in the tint (antialiased edges round it a little), none on the outer ring.
        int ink = 0;
        int offColour = 0;
        int astray = 0;
        for (int y = 0; y < 48; ++y) {
            for (int x = 0; x < 48; ++x) {
                const QRgb pixel = image.pixel(x, y);
                astray += qAlpha(pixel) > 0 && (x % 47 == 0 || y % 47 == 0);
                if (qAlpha(pixel) >= 200) {
                    ++ink;
                    offColour += std::abs(qRed(pixel) - tint.red()) + std::abs(qGreen(pixel) - tint.green()) +
                                     std::abs(qBlue(pixel) - tint.blue()) >
                                 6;
                }
            }
        }
        EXPECT_GT(ink, 20) << name.toStdString();
        EXPECT_LT(ink, 48 * 48) << name.toStdString();
        EXPECT_EQ(offColour + astray, 0) << name.toStdString();
    }
    EXPECT_TRUE(Symbols::pixmap(QStringLiteral("no.such.symbol"), 16, Qt::black).isNull());
}

} // namespace

// The bundled symbol set: every name the interface asks for is there and draws something visible in the
// colour it is asked for.
#include "ui/widgets/symbols.h"

#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <array>
#include <cstdlib>

namespace {

// Every symbol name the panel's views use.
constexpr std::array kInterfaceSymbols = {
    "qrcode",
    "folder",
    "folder.fill",
    "link",
    "text.alignleft",
    "photo",
    "play.rectangle",
    "waveform",
    "doc.zipper",
    "doc.text",
    "doc",
    "chevron.right",
    "magnifyingglass",
    "xmark",
    "xmark.circle.fill",
    "plus",
    "iphone",
    "ipad",
    "iphone.and.arrow.forward",
    "tray",
    "tray.and.arrow.down",
    "arrow.down.to.line",
    "arrow.down.to.line.compact",
    "checkmark",
    "trash",
    "ellipsis.circle",
    "wifi.slash",
    "clock",
    "rectangle.stack",
};

struct Coverage {
    int drawn = 0;            // pixels with any coverage
    int inColour = 0;         // mostly covered pixels that carry the requested colour
    int offColour = 0;        // mostly covered pixels of any other colour
    int strongest = 0;        // the highest coverage (alpha) of any pixel
    bool touchesEdge = false; // something drawn on the outermost ring of pixels
};

// Antialiased edges round the colour a little once the alpha is taken out again.
bool near(QRgb pixel, const QColor& colour) {
    return std::abs(qRed(pixel) - colour.red()) <= 2 && std::abs(qGreen(pixel) - colour.green()) <= 2 &&
           std::abs(qBlue(pixel) - colour.blue()) <= 2;
}

Coverage measure(const QPixmap& pixmap, const QColor& colour) {
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    Coverage result;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            if (qAlpha(pixel) == 0) {
                continue;
            }
            ++result.drawn;
            result.strongest = std::max(result.strongest, qAlpha(pixel));
            if (x == 0 || y == 0 || x == image.width() - 1 || y == image.height() - 1) {
                result.touchesEdge = true;
            }
            if (qAlpha(pixel) >= 128) {
                ++(near(pixel, colour) ? result.inColour : result.offColour);
            }
        }
    }
    return result;
}

TEST(SymbolsTest, EveryInterfaceSymbolIsBundled) {
    const QStringList bundled = Symbols::names();
    for (const char* name : kInterfaceSymbols) {
        EXPECT_TRUE(Symbols::exists(QString::fromLatin1(name))) << name;
        EXPECT_TRUE(bundled.contains(QString::fromLatin1(name))) << name;
    }
}

TEST(SymbolsTest, EveryInterfaceSymbolDrawsVisiblyInTheRequestedColourAt16Points) {
    const QColor tint(10, 132, 255);
    for (const char* name : kInterfaceSymbols) {
        const QPixmap pixmap = Symbols::pixmap(QString::fromLatin1(name), 16, tint);
        ASSERT_FALSE(pixmap.isNull()) << name;
        EXPECT_EQ(pixmap.size(), QSize(16, 16)) << name;
        const Coverage coverage = measure(pixmap, tint);
        // A recognisable glyph covers a fair part of the square but never all of it.
        EXPECT_GE(coverage.drawn, 20) << name;
        EXPECT_LT(coverage.drawn, 16 * 16) << name;
        // Strokes at this size are mostly antialiased, but each glyph has some solid ink.
        EXPECT_GE(coverage.strongest, 200) << name;
        EXPECT_GT(coverage.inColour, 0) << name;
        EXPECT_EQ(coverage.offColour, 0) << name;
    }
}

TEST(SymbolsTest, EveryInterfaceSymbolKeepsAMarginSoNothingIsCut) {
    for (const char* name : kInterfaceSymbols) {
        const QPixmap pixmap = Symbols::pixmap(QString::fromLatin1(name), 48, Qt::black);
        EXPECT_FALSE(measure(pixmap, Qt::black).touchesEdge) << name;
    }
}

TEST(SymbolsTest, RendersAtTheDevicePixelRatio) {
    const QPixmap pixmap = Symbols::pixmap(QStringLiteral("qrcode"), 16, Qt::red, 2.0);
    EXPECT_EQ(pixmap.size(), QSize(32, 32));
    EXPECT_DOUBLE_EQ(pixmap.devicePixelRatio(), 2.0);
    EXPECT_GT(measure(pixmap, Qt::red).inColour, 0);
}

TEST(SymbolsTest, UnknownNameGivesNothing) {
    EXPECT_FALSE(Symbols::exists(QStringLiteral("no.such.symbol")));
    EXPECT_TRUE(Symbols::pixmap(QStringLiteral("no.such.symbol"), 16, Qt::black).isNull());
    EXPECT_FALSE(Symbols::names().contains(QStringLiteral("no.such.symbol")));
}

} // namespace

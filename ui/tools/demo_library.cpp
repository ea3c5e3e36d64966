#include "ui/tools/demo_library.h"

#include "core/library_store.h"

#include <QColor>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

constexpr double minute = 60;
constexpr double hour = 3600;
constexpr double day = 86400;

/// A landscape-like picture: a sky gradient, a sun and two hills, in the given colours.
fs::path photo(const fs::path& dir, const std::string& name, QColor sky, QColor ground, QColor sun) {
    QImage image(960, 640, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient skyGradient(0, 0, 0, 640);
    skyGradient.setColorAt(0, sky.lighter(130));
    skyGradient.setColorAt(1, sky.darker(110));
    painter.fillRect(image.rect(), skyGradient);
    QRadialGradient glow(QPointF(640, 220), 120);
    glow.setColorAt(0, sun);
    glow.setColorAt(1, Qt::transparent);
    painter.setBrush(glow);
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QPointF(640, 220), 120, 120);
    QPainterPath hills;
    hills.moveTo(0, 470);
    hills.cubicTo(220, 360, 420, 520, 960, 400);
    hills.lineTo(960, 640);
    hills.lineTo(0, 640);
    painter.fillPath(hills, ground);
    QPainterPath front;
    front.moveTo(0, 560);
    front.cubicTo(300, 480, 600, 620, 960, 540);
    front.lineTo(960, 640);
    front.lineTo(0, 640);
    painter.fillPath(front, ground.darker(130));
    painter.end();
    const fs::path file = dir / name;
    image.save(QString::fromStdString(file.string()), "JPEG", 85);
    return file;
}

fs::path textFile(const fs::path& dir, const std::string& name, const std::string& contents) {
    const fs::path file = dir / name;
    std::ofstream(file, std::ios::binary) << contents;
    return file;
}

/// A one-page PDF with a heading, valid enough for any viewer.
std::string pdf() {
    return "%PDF-1.4\n1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj\n"
           "2 0 obj<</Type/Pages/Kids[3 0 R]/Count 1>>endobj\n"
           "3 0 obj<</Type/Page/Parent 2 0 R/MediaBox[0 0 595 842]/Contents 4 0 R"
           "/Resources<</Font<</F1 5 0 R>>>>>>endobj\n"
           "4 0 obj<</Length 58>>stream\nBT /F1 24 Tf 72 760 Td (Quarterly report, Q4) Tj ET\n"
           "endstream endobj\n5 0 obj<</Type/Font/Subtype/Type1/BaseFont/Helvetica>>endobj\n"
           "trailer<</Root 1 0 R>>\n%%EOF\n" +
           std::string(1200, ' ');
}

} // namespace

namespace DemoLibrary {

Date fixedNow() {
    // A Monday morning, so "Yesterday" and "3 days ago" both occur.
    return Date::fromUnix(1796640600); // 2026-12-07 10:50 UTC
}

void fill(LibraryStore& store, Date today, const std::function<void(Date)>& setNow, const fs::path& scratch) {
    auto at = [&](double ago) { setNow(today.adding(-ago)); };
    fs::create_directories(scratch);

    at(9 * day);
    const std::string lisbon = store.addFolder("Lisbon trip", std::nullopt).id;
    store.addFile(photo(scratch, "Alfama rooftops.jpg", QColor(0x6f, 0xa8, 0xdc), QColor(0xc0, 0x7a, 0x4a),
                        QColor(255, 236, 179)),
                  lisbon);
    at(9 * day - 5 * minute);
    store.addFile(photo(scratch, "Tram 28.jpg", QColor(0x8e, 0xc5, 0xe8), QColor(0xe0, 0xb0, 0x3c),
                        QColor(255, 250, 220)),
                  lisbon);
    at(8 * day);
    store.addFile(photo(scratch, "Sunset at Belém.jpg", QColor(0xf2, 0x8c, 0x5a), QColor(0x4a, 0x3b, 0x5c),
                        QColor(255, 214, 120)),
                  lisbon);
    at(3 * day);
    const std::string work = store.addFolder("Work", std::nullopt).id;
    store.addFile(textFile(scratch, "Quarterly report.pdf", pdf()), work);
    at(3 * day - hour);
    store.addFile(textFile(scratch, "Budget 2027.csv", "Month,Plan,Actual\nJanuary,1200,1150\n"), work);
    at(2 * day);
    store.addFolder("Receipts", work);

    at(day + 2 * hour);
    store.addFile(textFile(scratch, "Boarding pass.pdf", pdf()), std::nullopt);
    at(5 * hour);
    store.addFile(textFile(scratch, "Product demo.mov", std::string(48'000, '\0')), std::nullopt);
    at(3 * hour);
    store.addText("https://www.example.com/concert-tickets", std::nullopt);
    at(40 * minute);
    store.addText("Wi-Fi at the flat: Miradouro-5G, password azulejo2026", std::nullopt);

    at(20 * day);
    const auto code = store.newPairingCode();
    const auto ann = store.claimPairing(code.code, "Ann's iPhone");
    at(6 * day);
    const auto ipadCode = store.newPairingCode();
    store.claimPairing(ipadCode.code, "Ben's iPad");
    if (ann) {
        at(2 * day);
        store.receiveText("Pick up the keys from Marta before 6", ann->token);
        at(12 * minute);
        store.receiveFromDevice(photo(scratch, "upload.tmp", QColor(0x9f, 0xd8, 0xcb),
                                      QColor(0x3f, 0x7d, 0x58), QColor(255, 255, 230)),
                                "IMG_2041.jpg", ann->token);
    }

    at(2 * day);
    const Share old = store.share(ShareTarget::folder(work), ShareDuration::hour, false);
    at(2 * day - 30 * minute);
    store.stopSharing(old.token);
    at(4 * hour);
    store.share(ShareTarget::folder(lisbon), ShareDuration::day, false);
    setNow(today);
}

} // namespace DemoLibrary

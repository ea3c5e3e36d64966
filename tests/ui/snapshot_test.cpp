// `tesk --snapshot DIR` draws every state of the panel without a display and without touching the
// user's library.
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QProcess>
#include <QSet>
#include <filesystem>
#include <fstream>

namespace {

/// Starts tesk with `arguments`, its data and settings under `dir`, without a display.
void start(QProcess& tesk, const TempDir& dir, const QStringList& arguments) {
    auto environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        environment.remove(QString::fromLatin1(name));
    }
    environment.insert(QStringLiteral("XDG_DATA_HOME"),
                       QString::fromStdString((dir.path() / "data").string()));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"),
                       QString::fromStdString((dir.path() / "config").string()));
    tesk.setProcessEnvironment(environment);
    tesk.start(QStringLiteral(TESK_EXECUTABLE), arguments);
}

TEST(SnapshotTest, WritesEveryStateAtThePanelsSizeAndNoneIsBlank) {
    TempDir dir;
    const auto out = dir.path() / "pictures";
    QProcess tesk;
    start(tesk, dir, {QStringLiteral("--snapshot"), QString::fromStdString(out.string())});
    ASSERT_TRUE(tesk.waitForFinished(60'000));
    EXPECT_EQ(tesk.exitCode(), 0) << tesk.readAllStandardError().toStdString();
    for (const char* state :
         {"welcome", "all-files", "folder-picked", "search", "received", "drop-overlay", "dark-all-files",
          "inspector-folder", "inspector-bundle", "inspector-inbox", "inspector-expired", "inspector-no-wifi",
          "shares", "phones", "pairing-code", "pairing-done"}) {
        const QImage image(QString::fromStdString((out / (std::string(state) + ".png")).string()));
        ASSERT_EQ(image.size(), QSize(780, 540)) << state;
        // A blank or single-colour picture means nothing was drawn.
        QSet<QRgb> colours;
        for (int y = 0; y < image.height(); y += 3) {
            for (int x = 0; x < image.width(); x += 3) {
                colours.insert(image.pixel(x, y));
            }
        }
        EXPECT_GT(colours.size(), 40) << state;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "data" / "Tesk"));

    // A folder that cannot be made fails the run.
    std::ofstream(dir.path() / "file") << "x";
    start(tesk, dir,
          {QStringLiteral("--snapshot"), QString::fromStdString((dir.path() / "file" / "sub").string())});
    ASSERT_TRUE(tesk.waitForFinished(60'000));
    EXPECT_EQ(tesk.exitCode(), 1);
}

} // namespace

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

TEST(SnapshotTest, WritesEveryStateAtThePanelsSizeAndNoneIsBlank) {
    TempDir dir;
    const auto out = dir.path() / "pictures";
    QProcess tesk;
    auto environment = QProcessEnvironment::systemEnvironment();
    // Pictures must not need a display nor reach the real library.
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    environment.insert(QStringLiteral("XDG_DATA_HOME"),
                       QString::fromStdString((dir.path() / "data").string()));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"),
                       QString::fromStdString((dir.path() / "config").string()));
    tesk.setProcessEnvironment(environment);
    tesk.start(QStringLiteral(TESK_EXECUTABLE),
               {QStringLiteral("--snapshot"), QString::fromStdString(out.string())});
    ASSERT_TRUE(tesk.waitForFinished(60'000));
    EXPECT_EQ(tesk.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(tesk.exitCode(), 0) << tesk.readAllStandardError().toStdString();

    for (const char* state :
         {"welcome", "all-files", "folder-picked", "search", "received", "drop-overlay", "dark-all-files",
          "inspector-folder", "inspector-bundle", "inspector-inbox", "inspector-expired", "inspector-no-wifi",
          "shares", "phones", "pairing-code", "pairing-done"}) {
        SCOPED_TRACE(state);
        const QImage image(QString::fromStdString((out / (std::string(state) + ".png")).string()));
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.size(), QSize(780, 540));
        // A blank or single-colour picture means nothing was drawn.
        QSet<QRgb> colours;
        for (int y = 0; y < image.height(); y += 3) {
            for (int x = 0; x < image.width(); x += 3) {
                colours.insert(image.pixel(x, y));
            }
        }
        EXPECT_GT(colours.size(), 40);
        // The rounded corners are cut out, the middle is opaque.
        EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
        EXPECT_EQ(qAlpha(image.pixel(390, 270)), 255);
    }
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "data" / "Tesk"));
}

TEST(SnapshotTest, AFolderThatCannotBeMadeFails) {
    TempDir dir;
    const auto blocker = dir.path() / "file";
    std::filesystem::create_directories(dir.path());
    { std::ofstream(blocker) << "x"; }
    QProcess tesk;
    tesk.start(QStringLiteral(TESK_EXECUTABLE),
               {QStringLiteral("--snapshot"), QString::fromStdString((blocker / "sub").string())});
    ASSERT_TRUE(tesk.waitForFinished(60'000));
    EXPECT_EQ(tesk.exitCode(), 1);
}

} // namespace

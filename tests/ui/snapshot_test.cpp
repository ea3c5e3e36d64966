// `tesk --snapshot DIR` draws every state of the panel without a display and without touching the
// user's library.
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QProcess>
#include <QSet>
#include <filesystem>

TEST(SnapshotTest, WritesEveryStateAtThePanelsSizeWithoutADisplayAndNoneIsBlank) {
    TempDir dir;
    const auto out = dir.path() / "pictures";
    auto environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        environment.remove(QString::fromLatin1(name));
    }
    // Nothing may reach the user's library.
    environment.insert("XDG_DATA_HOME", QString::fromStdString((dir.path() / "data").string()));
    QProcess tesk;
    tesk.setProcessEnvironment(environment);
    tesk.start(QStringLiteral(TESK_EXECUTABLE),
               {QStringLiteral("--snapshot"), QString::fromStdString(out.string())});
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
        for (int i = 0; i < 780 * 540; i += 7) {
            colours.insert(image.pixel(i % 780, i / 780));
        }
        EXPECT_GT(colours.size(), 40) << state;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "data" / "Tesk"));
}

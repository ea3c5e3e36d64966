// `tesk --demo-server` serves the sample library from a temporary folder and says where.
#include "support/raw_client.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QRegularExpression>
#include <csignal>
#include <filesystem>

namespace {

TEST(DemoServerTest, ServesTheSampleSharesAndStopsCleanly) {
    TempDir dir;
    QProcess tesk;
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DATA_HOME"),
                       QString::fromStdString((dir.path() / "data").string()));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"),
                       QString::fromStdString((dir.path() / "config").string()));
    environment.remove(QStringLiteral("TESK_RELAY_HOSTS"));
    tesk.setProcessEnvironment(environment);
    tesk.start(QStringLiteral(TESK_EXECUTABLE),
               {QStringLiteral("--demo-server"), QStringLiteral("--port"), QStringLiteral("0")});
    ASSERT_TRUE(tesk.waitForStarted());

    // The share line comes after the address line.
    QString output;
    const QRegularExpression shareLine(
        QStringLiteral("Shared: Lisbon trip at http://[^:]+:(\\d+)(/s/[^/]+/)"));
    QRegularExpressionMatch match;
    for (int i = 0; i < 100 && !match.hasMatch(); ++i) {
        tesk.waitForReadyRead(100);
        output += QString::fromUtf8(tesk.readAllStandardOutput());
        match = shareLine.match(output);
    }
    ASSERT_TRUE(match.hasMatch()) << output.toStdString() << tesk.readAllStandardError().toStdString();
    EXPECT_TRUE(output.startsWith(QStringLiteral("Tesk is sharing at http://")));

    const auto port = static_cast<std::uint16_t>(match.captured(1).toUInt());
    const std::string api =
        request(port, "GET " + match.captured(2).toStdString() + "api HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(api.rfind("HTTP/1.1 200", 0), 0u) << api.substr(0, 200);
    EXPECT_NE(api.find("\"title\":\"Lisbon trip\""), std::string::npos);
    EXPECT_NE(api.find("Tram 28.jpg"), std::string::npos);

    ::kill(static_cast<pid_t>(tesk.processId()), SIGTERM);
    ASSERT_TRUE(tesk.waitForFinished(10'000));
    EXPECT_EQ(tesk.exitCode(), 0);
    // The sample lived in a temporary folder, never in the user's library.
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "data" / "Tesk"));
}

} // namespace

// Start-up in one process: what launching wires together, once end to end. The login offer it makes is
// the model's test.
#include "app/startup/application.h"

#include "core/library_store.h"
#include "fake_platform.h"
#include "fake_relay.h"
#include "server/tesk_server.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <QSettings>
#include <thread>

namespace {

/// A tray whose panel opens when asked, recording what the program did with it.
class FakeShell : public Shell {
public:
    Platform& platform() override { return platform_; }
    void showFatal(const std::string& message, const std::string&) override { fatal.push_back(message); }
    std::optional<std::string> homeScreenIcon() override { return std::string("icon bytes"); }
    void createStatusItem(AppModel& model) override { statusItemModel = &model; }
    bool isPanelVisible() const override { return false; }
    void showPanel() override {}

    FakePlatform platform_;
    std::vector<std::string> fatal;
    AppModel* statusItemModel = nullptr;
};

} // namespace

TEST(ApplicationTest, LaunchGivesTheServerTheIconTheTrayTheModelAndTheModelTheServersEvents) {
    TempDir dir;
    const ScopedEnv configHome{"XDG_CONFIG_HOME", (dir.path() / "config").string()};
    QSettings settings(QString::fromStdString((dir.path() / "settings.ini").string()), QSettings::IniFormat);
    FakeShell shell;
    Application::Options options;
    options.root = dir.path() / "Tesk";
    options.ports = {};
    options.executable = "/home/ana/build/tesk";
    options.services.watchNetwork = false;
    options.services.address = [] { return std::optional<std::string>("192.168.1.20"); };
    options.services.ssid = [] { return std::string(); };
    Application application(shell, settings, options);
    ASSERT_EQ(application.launch(), std::nullopt);
    EXPECT_GT(application.server()->port(), 0);
    EXPECT_EQ(*application.server()->iconPNG(), "icon bytes");
    EXPECT_EQ(shell.statusItemModel, application.model());
    EXPECT_TRUE(shell.fatal.empty());

    // An event the server reports on its own thread reaches the model on this one.
    const auto item = application.store()->addText("hello", std::nullopt).value();
    std::thread([&] {
        application.server()->report(ServerEvent{ServerEvent::Received{item, "Ana's iPhone"}});
    }).join();
    ASSERT_TRUE(spinUntil([&] { return application.model()->toast().has_value(); }));
    EXPECT_EQ(shell.platform_.notifications.at(0).target, Notifier::Target::item(item.id));
}

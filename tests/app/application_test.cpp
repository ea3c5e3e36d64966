// Start-up in one process: what launching wires together, and the login offer.
#include "app/startup/application.h"

#include "app/system/login_item.h"
#include "core/library_store.h"
#include "fake_platform.h"
#include "fake_relay.h"
#include "server/tesk_server.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <QSettings>
#include <fstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

/// A tray whose panel opens when asked, recording what the program did with it.
class FakeShell : public Shell {
public:
    Platform& platform() override { return platform_; }
    void showFatal(const std::string& message, const std::string&) override { fatal.push_back(message); }
    std::optional<std::string> homeScreenIcon() override { return std::string("icon bytes"); }
    void createStatusItem(AppModel& model) override { statusItemModel = &model; }
    bool isPanelVisible() const override { return panelShows > 0; }
    void showPanel() override { ++panelShows; }

    FakePlatform platform_;
    std::vector<std::string> fatal;
    AppModel* statusItemModel = nullptr;
    int panelShows = 0;
};

class ApplicationTest : public testing::Test {
protected:
    ApplicationTest()
        : settings(QString::fromStdString((dir.path() / "settings.ini").string()), QSettings::IniFormat) {}

    Application::Options options(const fs::path& executable = "/home/ana/build/ui/tesk") {
        Application::Options options;
        options.root = dir.path() / "Tesk";
        options.ports = {};
        options.services.relayHosts = {};
        options.services.watchNetwork = false;
        options.services.address = [] { return std::optional<std::string>("192.168.1.20"); };
        options.services.ssid = [] { return std::string(); };
        options.executable = executable;
        return options;
    }

    TempDir dir;
    ScopedEnv configHome{"XDG_CONFIG_HOME", (dir.path() / "config").string()};
    QSettings settings;
    FakeShell shell;
};

} // namespace

TEST_F(ApplicationTest, LaunchGivesTheServerTheIconTheTrayTheModelAndTheModelTheServersEvents) {
    Application application(shell, settings, options());
    ASSERT_EQ(application.launch(), std::nullopt);
    EXPECT_GT(application.server()->port(), 0);
    EXPECT_EQ(*application.server()->iconPNG(), "icon bytes");
    EXPECT_EQ(shell.statusItemModel, application.model());
    EXPECT_TRUE(shell.fatal.empty());

    // The server-to-model wiring, once end to end: an event the server reports on its own thread
    // reaches the model on this one.
    const auto item = application.store()->addText("hello", std::nullopt).value();
    std::thread([&] {
        application.server()->report(ServerEvent{ServerEvent::Received{item, "Ana's iPhone"}});
    }).join();
    ASSERT_TRUE(spinUntil([&] { return application.model()->toast().has_value(); }));
    EXPECT_EQ(shell.platform_.notifications.at(0).target, Notifier::Target::item(item.id));
}

TEST_F(ApplicationTest, TheLoginOfferIsMadeOnceAndOnlyForAnInstalledCopy) {
    const auto launch = [&](const fs::path& executable, bool entryAfter) {
        Application application(shell, settings, options(executable));
        ASSERT_EQ(application.launch(), std::nullopt);
        EXPECT_EQ(fs::exists(LoginItem::autostartFile()), entryAfter) << executable;
        EXPECT_EQ(application.model()->opensAtLogin(), entryAfter);
        application.model()->setOpensAtLogin(false);
    };
    launch("/home/ana/src/tesk/build/ui/tesk", false);
    EXPECT_FALSE(settings.value("openAtLoginOffered", false).toBool()) << "not even recorded";
    launch("/usr/bin/tesk", true);
    EXPECT_FALSE(fs::exists(LoginItem::autostartFile()));
    launch("/usr/bin/tesk", false); // turned off by the user: not asked again
}

TEST_F(ApplicationTest, AFailedLoginRegistrationIsShownAndTheOfferStillCounts) {
    fs::create_directories(dir.path() / "config");
    std::ofstream(dir.path() / "config" / "autostart") << "a file where the autostart directory should be";
    Application application(shell, settings, options("/opt/tesk/tesk"));
    ASSERT_EQ(application.launch(), std::nullopt);
    EXPECT_EQ(application.model()->toast(), "Couldn't turn on Open at Login");
    EXPECT_TRUE(settings.value("openAtLoginOffered", false).toBool());
}

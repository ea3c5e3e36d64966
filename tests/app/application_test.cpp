// Start-up and wiring in one process: the order of things, the start-up flags and the login offer.
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
#include <cstdlib>
#include <fstream>

namespace fs = std::filesystem;

namespace {

/// A tray whose panel opens when asked, recording what the program did with it.
class FakeShell : public Shell {
public:
    Platform& platform() override { return platform_; }
    void showFatal(const std::string& message, const std::string& detail) override {
        fatal.push_back(message + " / " + detail);
    }
    std::optional<std::string> homeScreenIcon() override { return std::string("icon bytes"); }
    void createStatusItem(AppModel& model) override { statusItemModel = &model; }
    bool isPanelVisible() const override { return panelOpen; }
    void showPanel() override {
        ++panelShows;
        panelOpen = true;
    }

    FakePlatform platform_;
    std::vector<std::string> fatal;
    AppModel* statusItemModel = nullptr;
    bool panelOpen = false;
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

TEST_F(ApplicationTest, LaunchWiresIconModelTrayAndServerEvents) {
    Application application(shell, settings, options());
    ASSERT_EQ(application.launch(), std::nullopt);
    ASSERT_NE(application.server(), nullptr);
    EXPECT_GT(application.server()->port(), 0);
    EXPECT_EQ(*application.server()->iconPNG(), "icon bytes");
    EXPECT_EQ(shell.statusItemModel, application.model());

    // A phone's text arrives as a server event and reaches the model on this thread.
    const auto code = application.store()->newPairingCode();
    const auto phone = application.store()->claimPairing(code.code, "Ana's iPhone");
    ASSERT_TRUE(phone);
    const auto item = application.store()->receiveText("hello from the phone", phone->token);
    ASSERT_TRUE(item);
    application.server()->report(ServerEvent{ServerEvent::Received{*item, "Ana's iPhone"}});
    ASSERT_TRUE(spinUntil([&] { return application.model()->toast().has_value(); }));
    EXPECT_EQ(application.model()->toast(), "Received " + item->name);
    ASSERT_EQ(shell.platform_.notifications.size(), 1u);
    EXPECT_EQ(shell.platform_.notifications[0].title, "Received from Ana's iPhone");
    EXPECT_TRUE(shell.fatal.empty());
}

TEST_F(ApplicationTest, PhonesAreOfferedTheShareSheetOnlyWithASigner) {
    ScopedEnv path("PATH", dir.path().string());
    for (const bool withSigner : {false, true}) {
        SCOPED_TRACE(withSigner);
        ScopedEnv signer("TESK_SHORTCUT_SIGNER", withSigner ? "/opt/signer" : "");
        Application application(shell, settings, options());
        ASSERT_EQ(application.launch(), std::nullopt);
        EXPECT_EQ(application.server()->offersShareSheet(), withSigner);
    }
}

TEST_F(ApplicationTest, ALibraryThatCannotBeMadeEndsWithStatusOneBeforeAnyPort) {
    std::ofstream(dir.path() / "blocked") << "a file where a directory should be";
    auto blocked = options();
    blocked.root = dir.path() / "blocked" / "Tesk";
    Application application(shell, settings, blocked);
    EXPECT_EQ(application.launch(), 1);
    ASSERT_EQ(shell.fatal.size(), 1u);
    EXPECT_TRUE(
        shell.fatal[0].starts_with("Tesk couldn't open its library at " + blocked.root.string() + ". / "))
        << shell.fatal[0];
    EXPECT_EQ(application.server(), nullptr);
    EXPECT_EQ(application.model(), nullptr);
}

TEST_F(ApplicationTest, StartUpFlagsOpenThePanelOnceAndPreviewTheNewestFile) {
    {
        LibraryStore store(dir.path() / "Tesk");
        std::ofstream(dir.path() / "old.txt") << "old";
        std::ofstream(dir.path() / "new.txt") << "new";
        store.addFile(dir.path() / "old.txt", std::nullopt);
        store.addFile(dir.path() / "new.txt", std::nullopt);
        store.addText("https://example.com/newest-but-a-link", std::nullopt);
    }
    auto both = options();
    both.openPanel = true;
    both.previewFirst = true;
    Application application(shell, settings, both);
    ASSERT_EQ(application.launch(), std::nullopt);
    EXPECT_EQ(shell.panelShows, 0) << "the flags wait for the tray to settle";

    ASSERT_TRUE(spinUntil([&] { return application.model()->previewFile().has_value(); }, 2000));
    spinFor(600);
    EXPECT_EQ(shell.panelShows, 1);
    EXPECT_EQ(application.model()->previewFile()->filename(), "new.txt");
}

TEST_F(ApplicationTest, PreviewFirstWithoutFilesOpensThePanelOnly) {
    {
        LibraryStore store(dir.path() / "Tesk");
        store.addText("a note, not a file", std::nullopt);
    }
    auto flag = options();
    flag.previewFirst = true;
    Application application(shell, settings, flag);
    ASSERT_EQ(application.launch(), std::nullopt);
    ASSERT_TRUE(spinUntil([&] { return shell.panelShows == 1; }, 2000));
    spinFor(100);
    EXPECT_EQ(application.model()->previewFile(), std::nullopt);
}

TEST_F(ApplicationTest, TheLoginOfferIsMadeOnceAndOnlyForAnInstalledCopy) {
    {
        Application fromBuild(shell, settings, options("/home/ana/src/tesk/build/ui/tesk"));
        ASSERT_EQ(fromBuild.launch(), std::nullopt);
        EXPECT_FALSE(fs::exists(LoginItem::autostartFile()));
        EXPECT_FALSE(settings.value("openAtLoginOffered", false).toBool()) << "not even recorded";
    }
    {
        Application installed(shell, settings, options("/usr/bin/tesk"));
        ASSERT_EQ(installed.launch(), std::nullopt);
        EXPECT_TRUE(fs::exists(LoginItem::autostartFile()));
        EXPECT_TRUE(installed.model()->opensAtLogin());
        EXPECT_TRUE(settings.value("openAtLoginOffered", false).toBool());

        installed.model()->setOpensAtLogin(false);
        EXPECT_FALSE(fs::exists(LoginItem::autostartFile()));
        EXPECT_FALSE(installed.model()->opensAtLogin());
    }
    {
        // Turned off by the user: the next start does not ask again.
        Application again(shell, settings, options("/usr/bin/tesk"));
        ASSERT_EQ(again.launch(), std::nullopt);
        EXPECT_FALSE(fs::exists(LoginItem::autostartFile()));
    }
}

TEST_F(ApplicationTest, AFailedLoginRegistrationIsShownAndTheOfferStillCounts) {
    // A file where the autostart directory should be.
    fs::create_directories(dir.path() / "config");
    std::ofstream(dir.path() / "config" / "autostart") << "not a directory";
    Application application(shell, settings, options("/opt/tesk/tesk"));
    ASSERT_EQ(application.launch(), std::nullopt);
    EXPECT_EQ(application.model()->toast(), "Couldn't turn on Open at Login");
    EXPECT_TRUE(settings.value("openAtLoginOffered", false).toBool());
    application.model()->setOpensAtLogin(false);
    EXPECT_EQ(application.model()->toast(), "Couldn't turn on Open at Login")
        << "removing an entry that is not there is no failure";
}

#include "ui/tools/snapshot.h"

#include "app/model/app_model.h"
#include "core/library_store.h"
#include "server/server_event.h"
#include "ui/explorer/explorer_pane.h"
#include "ui/shell/popover_root.h"
#include "ui/shell/tesk_panel.h"
#include "ui/shell/widgets_platform.h"
#include "ui/tools/demo_library.h"
#include "ui/widgets/motion.h"

#include <QApplication>
#include <QPixmap>
#include <QSettings>
#include <QTemporaryDir>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

/// The desktop as far as pictures need it: appearance only; everything else does nothing.
class QuietPlatform : public Platform {
public:
    std::vector<fs::path> clipboardFiles() override { return {}; }
    std::optional<std::string> clipboardText() override { return std::nullopt; }
    void setClipboardText(const std::string&) override {}
    std::vector<fs::path> chooseFiles(const std::string&) override { return {}; }
    bool confirm(const Alert&) override { return false; }
    void activate() override {}
    void openFile(const fs::path&) override {}
    void openURL(const std::string&) override {}
    void revealFile(const fs::path&) override {}
    void notify(const std::string&, const std::string&, const Notifier::Target&) override {}
    void applyAppearance(AppearanceSetting appearance) override { desktop_.applyAppearance(appearance); }

private:
    WidgetsPlatform desktop_;
};

/// A server that is never started: links name the usual port, and nothing listens.
class PictureServer : public SharingServer {
public:
    std::string computerName() const override { return "Demo Mac"; }
    std::optional<std::string> localHostName() const override { return std::nullopt; }
    std::uint16_t port() const override { return 47470; }
    void setRelayBases(std::optional<std::string>, std::optional<std::string>) override {}
};

/// Pictures start nothing at login and make no shortcut files.
class NoLoginStart : public LoginStart {
public:
    bool isInstalled() const override { return false; }
    bool isEnabled() const override { return false; }
    void setEnabled(bool) override {}
};

class NoShortcuts : public PhoneShortcuts {
public:
    QFuture<void> ensure(std::vector<PairedDevice>, std::string, std::string, std::uint16_t,
                         std::stop_token) override {
        return {};
    }
};

/// Lets queued changes and layout settle before a picture is taken.
void settle() {
    for (int i = 0; i < 5; ++i) {
        QApplication::processEvents();
    }
}

} // namespace

namespace Snapshot {

int write(const fs::path& dir) {
    std::error_code error;
    fs::create_directories(dir, error);
    if (error) {
        std::cerr << "Tesk couldn't make " << dir << ": " << error.message() << "\n";
        return 1;
    }
    QTemporaryDir scratch;
    if (!scratch.isValid()) {
        std::cerr << "Tesk couldn't make a temporary folder.\n";
        return 1;
    }
    const fs::path root = scratch.path().toStdString();
    Motion::setEnabled(false);

    auto clock = std::make_shared<Date>(DemoLibrary::fixedNow());
    LibraryStore store(root / "library", [clock] { return *clock; });
    QSettings settings(QString::fromStdString((root / "settings.ini").string()), QSettings::IniFormat);
    // Received was last looked at before the phone's photo arrived, so its badge shows.
    settings.setValue("lastSeenReceived", clock->adding(-3600).unixSeconds());
    QuietPlatform platform;
    AppModel::Services services;
    services.relayHosts = {};
    services.ssid = [] { return std::string(); };
    auto address = std::make_shared<std::optional<std::string>>("192.168.1.20");
    services.address = [address] { return *address; };
    services.watchNetwork = false;
    PictureServer server;
    NoLoginStart login;
    NoShortcuts shortcuts;
    AppModel model(store, {platform, server, login, shortcuts}, settings, services);
    platform.applyAppearance(AppearanceSetting::light);

    auto* content = new PopoverRoot(model);
    TeskPanel panel(content, true);
    panel.show();
    ExplorerPane& explorer = content->explorer();

    int failures = 0;
    auto take = [&](const std::string& name) {
        settle();
        const fs::path file = dir / (name + ".png");
        if (!panel.grab().save(QString::fromStdString(file.string()), "PNG")) {
            std::cerr << "Tesk couldn't write " << file << "\n";
            ++failures;
        }
    };

    take("welcome");

    DemoLibrary::fill(
        store, *clock, [clock](Date at) { *clock = at; }, root / "sources");
    model.reload();
    model.setSelection(SidebarSelection::all());
    take("all-files");

    const Library& library = model.library();
    const auto lisbon = std::find_if(library.folders.begin(), library.folders.end(),
                                     [](const Folder& folder) { return folder.name == "Lisbon trip"; });
    if (lisbon != library.folders.end()) {
        model.setSelection(SidebarSelection::folder(lisbon->id));
        const auto rows = model.rows();
        std::vector<ShareTarget> picked;
        for (std::size_t i = 0; i < rows.size() && i < 2; ++i) {
            picked.push_back(rows[i].target());
        }
        model.setPicked(picked);
        take("folder-picked");
        model.setPicked({});
    }

    model.setSelection(SidebarSelection::all());
    model.setSearch("pdf");
    take("search");
    model.setSearch("");

    model.setSelection(SidebarSelection::received());
    take("received");

    model.setSelection(SidebarSelection::all());
    explorer.setDropCount(3);
    take("drop-overlay");
    explorer.setDropCount(std::nullopt);

    platform.applyAppearance(AppearanceSetting::dark);
    take("dark-all-files");
    platform.applyAppearance(AppearanceSetting::light);

    // The sharing side: the inspector for each kind of target, the shares list, phones and pairing.
    auto folderNamed = [&](const std::string& name) -> std::optional<std::string> {
        for (const Folder& folder : model.library().folders) {
            if (folder.name == name) {
                return folder.id;
            }
        }
        return std::nullopt;
    };
    const auto lisbonID = folderNamed("Lisbon trip");
    if (lisbonID) {
        model.setSelection(SidebarSelection::folder(*lisbonID));
        model.inspect(ShareTarget::folder(*lisbonID));
        take("inspector-folder");
    }
    model.setSelection(SidebarSelection::all());
    const auto rows = model.rows();
    std::vector<ShareTarget> several;
    for (const ListRow& row : rows) {
        if (several.size() < 6) {
            several.push_back(row.target());
        }
    }
    model.setPicked(several);
    model.sharePicked();
    model.setPicked({});
    take("inspector-bundle");

    model.setSelection(SidebarSelection::received());
    model.inspect(ShareTarget::inbox());
    take("inspector-inbox");

    model.setSelection(SidebarSelection::all());
    if (!rows.empty()) {
        const ShareTarget target = rows.front().target();
        model.inspect(target);
        const Library current = store.snapshot();
        if (const auto share = current.activeShare(target, *clock)) {
            store.stopSharing(share->token);
        }
        model.reload();
        take("inspector-expired");
        model.setInspecting(std::nullopt);

        *address = std::nullopt;
        model.refreshAddress();
        model.inspect(target);
        take("inspector-no-wifi");
        model.setInspecting(std::nullopt);
        *address = "192.168.1.20";
        model.refreshAddress();
    }
    model.setInspecting(std::nullopt);

    model.setSelection(SidebarSelection::shared());
    take("shares");

    model.setSelection(SidebarSelection::phones());
    take("phones");
    model.startPairing();
    take("pairing-code");
    const auto code = model.pairing();
    if (code) {
        if (const auto device = store.claimPairing(code->code, "Carla's iPhone")) {
            model.reload();
            model.handle(ServerEvent{ServerEvent::Paired{*device}});
        }
    }
    take("pairing-done");
    model.closePairing();

    return failures == 0 ? 0 : 1;
}

} // namespace Snapshot

#pragma once

#include "app/model/app_model.h"
#include "core/library_store.h"
#include "fake_platform.h"
#include "fake_relay.h"
#include "support/fake_clock.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <QSettings>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

/// The server as the model sees it, on port 47470, with no socket behind it.
class FakeServer : public SharingServer {
public:
    std::string computerName() const override { return "Ana's Mac"; }
    std::optional<std::string> localHostName() const override { return hostName_; }
    std::uint16_t port() const override { return 47470; }
    void setRelayBases(std::optional<std::string> follow, std::optional<std::string> device) override {
        followBase_ = std::move(follow);
        deviceBase_ = std::move(device);
    }

    void setLocalHostName(std::optional<std::string> name) { hostName_ = std::move(name); }
    const std::optional<std::string>& followBase() const { return followBase_; }
    const std::optional<std::string>& deviceBase() const { return deviceBase_; }

private:
    std::optional<std::string> hostName_;
    std::optional<std::string> followBase_;
    std::optional<std::string> deviceBase_;
};

/// A login start the test sets; `failing` makes every change throw.
struct FakeLogin : LoginStart {
    bool installed = false;
    bool enabled = false;
    bool failing = false;
    bool isInstalled() const override { return installed; }
    bool isEnabled() const override { return enabled; }
    void setEnabled(bool on) override {
        if (failing) {
            throw std::runtime_error("read-only autostart folder");
        }
        enabled = on;
    }
};

/// Records which phones' shortcut files were asked for, and for which host.
struct FakeShortcuts : PhoneShortcuts {
    std::vector<std::string> tokens;
    std::string host;
    std::stop_token stop;
    QFuture<void> ensure(std::vector<PairedDevice> devices, std::string, std::string atHost, std::uint16_t,
                         std::stop_token stop) override {
        for (const auto& device : devices) {
            tokens.push_back(device.token);
        }
        host = std::move(atHost);
        this->stop = std::move(stop);
        return {};
    }
};

/// A model over a real store on a temporary library, with a fake clock, a fake desktop, server, login
/// start and shortcut maker, settings in a temporary file and a LAN address the test sets. Timers are
/// short: status messages last `toastMs`, "Copied" `copiedMs`.
class ModelFixture : public ::testing::Test {
protected:
    static constexpr int toastMs = 300;
    static constexpr int copiedMs = 200;

    ModelFixture();
    ~ModelFixture() override;

    /// (Re)builds the model, with a relay at `relayHosts` when given.
    void makeModel(std::vector<QUrl> relayHosts = {});
    /// Runs the event loop until the queued store changes and server events have reached the model.
    void settle();
    /// A file outside the library.
    std::filesystem::path makeFile(const std::filesystem::path& relative,
                                   std::string_view contents = "hello");
    /// A file item in the library; the clock then moves on a second, so items differ in age.
    Item addItem(const std::string& name, const std::optional<std::string>& folderID = std::nullopt);

    TempDir dir;
    FakeClock clock;
    LibraryStore store;
    FakeServer server;
    FakeLogin login;
    FakeShortcuts shortcuts;
    FakePlatform platform;
    QSettings settings;
    /// What the model reads as the LAN address.
    std::optional<std::string> lanAddress = "192.168.1.20";
    std::unique_ptr<AppModel> model;
};

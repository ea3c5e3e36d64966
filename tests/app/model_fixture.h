#pragma once

#include "app/model/app_model.h"
#include "core/library_store.h"
#include "fake_platform.h"
#include "fake_relay.h"
#include "server/tesk_server.h"
#include "support/fake_clock.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <QSettings>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

/// A model over a real store and a running server on a temporary library, with a fake clock, a fake
/// desktop, settings in a temporary file and a LAN address the test sets. Timers are short: status
/// messages last `toastMs`, "Copied" `copiedMs`.
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
    TeskServer server;
    FakePlatform platform;
    QSettings settings;
    /// What the model reads as the LAN address; `addressReads` counts the reads.
    std::optional<std::string> lanAddress = "192.168.1.20";
    int addressReads = 0;
    std::unique_ptr<AppModel> model;
};

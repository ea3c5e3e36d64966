#include "model_fixture.h"

#include <QCoreApplication>
#include <fstream>

ModelFixture::ModelFixture()
    : store(dir.path() / "Tesk", clock.function())
    , settings(QString::fromStdString((dir.path() / "settings.ini").string()), QSettings::IniFormat) {
    makeModel();
}

ModelFixture::~ModelFixture() {
    model.reset();
}

void ModelFixture::makeModel(std::vector<QUrl> relayHosts) {
    model.reset();
    AppModel::Services services;
    services.relayHosts = std::move(relayHosts);
    services.relayTiming.checkInInterval = std::chrono::hours(1);
    services.relayTiming.healthTimeout = std::chrono::milliseconds(1000);
    services.relayTiming.requestIdle = std::chrono::milliseconds(1000);
    services.relayTiming.pingDelay = std::chrono::milliseconds(50);
    services.ssid = [] { return std::string(); };
    services.address = [this] { return lanAddress; };
    services.watchNetwork = false;
    services.timing.toast = std::chrono::milliseconds(toastMs);
    services.timing.linkCopied = std::chrono::milliseconds(copiedMs);
    model = std::make_unique<AppModel>(store, AppModel::Ports{platform, server, login, shortcuts}, settings,
                                       std::move(services));
}

void ModelFixture::settle() {
    // Posted calls may post further ones (a reload after a store change made by an event handler).
    for (int round = 0; round < 5; ++round) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
}

std::filesystem::path ModelFixture::makeFile(const std::filesystem::path& relative,
                                             std::string_view contents) {
    const auto path = dir.path() / "outside" / relative;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << contents;
    return path;
}

Item ModelFixture::addItem(const std::string& name, const std::optional<std::string>& folderID) {
    const auto items = store.addFile(makeFile(name, "contents of " + name), folderID, std::nullopt, false);
    clock.advance(1);
    settle();
    return items.at(0);
}

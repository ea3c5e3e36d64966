#include "app/model/app_model.h"

#include "app/model/main_thread.h"
#include "app/system/network_watcher.h"
#include "core/http.h"

#include <QSettings>
#include <algorithm>
#include <system_error>
#include <type_traits>

namespace {

std::set<std::string> itemIDs(const Library& library) {
    std::set<std::string> ids;
    for (const auto& item : library.items) {
        ids.insert(item.id);
    }
    return ids;
}

} // namespace

AppModel::AppModel(LibraryStore& store, Ports ports, QSettings& settings, Services services, QObject* parent)
    : QObject(parent)
    , store_(store)
    , platform_(ports.desktop)
    , server_(ports.server)
    , login_(ports.login)
    , shortcuts_(ports.shortcuts)
    , settings_(settings)
    , services_(std::move(services))
    , library_(store.snapshot())
    , knownItemIDs_(itemIDs(library_)) {
    relay_ = std::make_unique<RelayClient>(store_.root, services_.relayHosts, services_.relayTiming);
    if (services_.ssid) {
        relay_->setSsidProvider(services_.ssid);
    }
    address_ = services_.address();

    const double lastSeen = settings_.value("lastSeenReceived", 0.0).toDouble();
    lastSeenReceived_ = lastSeen > 0 ? Date::fromUnix(lastSeen) : now();
    appearance_ = Appearance::fromID(settings_.value("appearance").toString().toStdString());
    platform_.applyAppearance(appearance_);

    toastTimer_.setSingleShot(true);
    connect(&toastTimer_, &QTimer::timeout, this, [this] { setToast(std::nullopt); });
    copiedTimer_.setSingleShot(true);
    connect(&copiedTimer_, &QTimer::timeout, this, [this] { setLinkCopied(false); });

    // The store calls from any thread; changes reach the model through the event loop, and not at all
    // once it is gone.
    const QPointer<AppModel> weak(this);
    store_.setOnChange([weak] { MainThread::post(weak, [](AppModel& model) { model.reload(); }); });
    if (services_.watchNetwork) {
        networkWatcher_ = std::make_unique<NetworkWatcher>(this, [this] { refreshAddress(); });
    }

    relay_->setCheckInProvider(
        [weak]() -> RelayClient::CheckIn { return weak ? weak->relayCheckIn() : RelayClient::CheckIn{}; });
    connect(relay_.get(), &RelayClient::changed, this, [this] {
        emit relayChanged();
        server_.setRelayBases(relay_->followBase(), relay_->deviceBase());
    });
    relay_->start();

    std::vector<PairedDevice> missing;
    for (const auto& device : library_.devices) {
        if (!std::filesystem::exists(shortcutFile(device))) {
            missing.push_back(device);
        }
    }
    ensureShortcuts(std::move(missing));

    connect(&addressTimer_, &QTimer::timeout, this, &AppModel::refreshAddress);
    addressTimer_.start(services_.timing.addressRefresh);
}

AppModel::~AppModel() {
    store_.setOnChange({});
    // Asked before the jobs are waited for: a large copy or a hung signer ends within one step.
    stopBackground_.request_stop();
}

// ---- Published state ----

Date AppModel::now() const {
    return store_.currentDate();
}

void AppModel::setSelection(const SidebarSelection& selection) {
    if (selection == selection_) {
        return;
    }
    selection_ = selection;
    emit selectionChanged();
    setRenamingID(std::nullopt);
    if (selection_.kind() == SidebarSelection::Kind::received) {
        markReceivedSeen();
    }
}

void AppModel::setSearch(const std::string& search) {
    if (search != search_) {
        search_ = search;
        emit searchChanged();
    }
}

void AppModel::setInspecting(const std::optional<ShareTarget>& target) {
    if (target == inspecting_) {
        return;
    }
    inspecting_ = target;
    emit inspectingChanged();
    if (inspecting_) {
        setPairing(std::nullopt);
        setJustPaired(std::nullopt);
    }
}

void AppModel::setPicked(const std::vector<ShareTarget>& picked) {
    if (picked != picked_) {
        picked_ = picked;
        emit pickedChanged();
    }
}

void AppModel::setRenamingID(const std::optional<std::string>& id) {
    if (id != renamingID_) {
        renamingID_ = id;
        emit renamingIDChanged();
    }
}

void AppModel::setRevealedID(const std::optional<std::string>& id) {
    if (id != revealedID_) {
        revealedID_ = id;
        emit revealedIDChanged();
    }
}

void AppModel::setAppearance(AppearanceSetting appearance) {
    if (appearance == appearance_) {
        return;
    }
    appearance_ = appearance;
    emit appearanceChanged();
    platform_.applyAppearance(appearance_);
    settings_.setValue("appearance", QString::fromUtf8(Appearance::id(appearance_)));
}

void AppModel::setPreviewFile(const std::optional<std::filesystem::path>& file) {
    if (file != previewFile_) {
        previewFile_ = file;
        emit previewFileChanged();
    }
}

void AppModel::setLinkCopied(bool copied) {
    if (copied != linkCopied_) {
        linkCopied_ = copied;
        emit linkCopiedChanged();
    }
}

void AppModel::setToast(std::optional<std::string> toast) {
    if (toast != toast_) {
        toast_ = std::move(toast);
        emit toastChanged();
    }
}

void AppModel::setAddress(std::optional<std::string> address) {
    if (address != address_) {
        address_ = std::move(address);
        emit addressChanged();
    }
}

void AppModel::setPairing(std::optional<LibraryStore::PairingCode> pairing) {
    const bool same =
        pairing.has_value() == pairing_.has_value() &&
        (!pairing || (pairing->code == pairing_->code && pairing->expires == pairing_->expires));
    if (!same) {
        pairing_ = std::move(pairing);
        emit pairingChanged();
    }
}

void AppModel::setJustPaired(std::optional<PairedDevice> device) {
    if (device != justPaired_) {
        justPaired_ = std::move(device);
        emit justPairedChanged();
    }
}

void AppModel::requestReveal() {
    ++revealRequest_;
    emit revealRequestChanged();
}

// ---- Following the library ----

void AppModel::reload() {
    library_ = store_.snapshot();
    emit libraryChanged();
    pingFollowersAboutNewItems();
    relay_->checkInSoon(2);

    if (selection_.kind() == SidebarSelection::Kind::folder && !library_.folder(selection_.folderID())) {
        setSelection(SidebarSelection::all());
    }
    if (inspecting_ && !exists(*inspecting_)) {
        setInspecting(std::nullopt);
    }
    auto picked = picked_;
    std::erase_if(picked, [this](const ShareTarget& target) { return !exists(target); });
    setPicked(picked);
    if (selection_.kind() == SidebarSelection::Kind::received) {
        markReceivedSeen();
    }
}

bool AppModel::exists(const ShareTarget& target) const {
    switch (target.kind()) {
    case ShareTarget::Kind::folder:
        return !target.id() || library_.folder(target.id()).has_value();
    case ShareTarget::Kind::item:
        return library_.item(*target.id()).has_value();
    case ShareTarget::Kind::bundle:
        return library_.bundle(*target.id()).has_value();
    case ShareTarget::Kind::inbox:
        return true;
    }
    return false;
}

std::optional<std::string> AppModel::currentFolder() const {
    if (selection_.kind() == SidebarSelection::Kind::folder) {
        return selection_.folderID();
    }
    return std::nullopt;
}

std::optional<std::string> AppModel::resolve(const Destination& to) const {
    return to.isCurrent ? currentFolder() : to.folderID;
}

std::string AppModel::placeName(const std::optional<std::string>& folderID) const {
    if (folderID) {
        if (const auto folder = library_.folder(folderID)) {
            return folder->name;
        }
    }
    return "Tesk";
}

void AppModel::clearPicks() {
    setPicked({});
    pickAnchor_.reset();
}

void AppModel::openInspector(const ShareTarget& target) {
    setLinkCopied(false);
    setInspecting(target);
}

void AppModel::flashLinkCopied() {
    setLinkCopied(true);
    copiedTimer_.start(services_.timing.linkCopied);
}

// ---- Status messages ----

void AppModel::show(const std::string& message, std::function<void()> onTap) {
    toastTimer_.stop();
    // The action first: whoever follows the message also asks whether it can be tapped.
    toastAction_ = std::move(onTap);
    setToast(message);
    toastTimer_.start(services_.timing.toast);
}

void AppModel::tapToast() {
    auto action = std::move(toastAction_);
    toastAction_ = nullptr;
    toastTimer_.stop();
    setToast(std::nullopt);
    if (action) {
        action();
    }
}

// ---- Events and presence ----

void AppModel::handle(const ServerEvent& event) {
    if (const auto* received = std::get_if<ServerEvent::Received>(&event.value)) {
        const auto& item = received->item;
        platform_.notify("Received from " + received->from, item.name, Notifier::Target::item(item.id));
        const QPointer<AppModel> weak(this);
        show("Received " + item.name, [weak, id = item.id] {
            if (weak) {
                weak->showItem(id);
            }
        });
        emit itemReceived(item);
    } else if (const auto* paired = std::get_if<ServerEvent::Paired>(&event.value)) {
        const auto& device = paired->device;
        relay_->checkInSoon(0);
        if (!std::filesystem::exists(shortcutFile(device))) {
            ensureShortcuts({device});
        }
        setPairing(std::nullopt);
        // The pairing panel and the inspector never show together.
        setInspecting(std::nullopt);
        setJustPaired(device);
        setSelection(SidebarSelection::phones());
        platform_.notify(device.name + " is paired", "It can now send to this computer from its Home Screen.",
                         Notifier::Target::phones());
    }
    // A download was already counted by the store and arrives as a reload.
}

std::function<void(const ServerEvent&)> AppModel::serverEventHandler() {
    return [weak = QPointer<AppModel>(this)](const ServerEvent& event) {
        MainThread::post(weak, [event](AppModel& model) { model.handle(event); });
    };
}

void AppModel::refreshAddress() {
    auto address = services_.address();
    if (address != address_) {
        setAddress(std::move(address));
        relay_->checkInSoon(0);
    }
}

RelayClient::CheckIn AppModel::relayCheckIn() const {
    RelayClient::CheckIn checkIn;
    checkIn.name = server_.computerName();
    const std::uint16_t listening = port();
    if (address_) {
        checkIn.lan.push_back(HTTP::url(*address_, listening));
    }
    if (const auto host = server_.localHostName()) {
        checkIn.lan.push_back(HTTP::url(*host, listening));
    }
    const Date at = now();
    for (const auto& share : library_.shares) {
        if (share.isActive(at)) {
            checkIn.shares.push_back({share.token, library_.displayName(share.target)});
        }
    }
    for (const auto& device : library_.devices) {
        checkIn.deviceTokens.push_back(device.token);
    }
    return checkIn;
}

void AppModel::pingFollowersAboutNewItems() {
    std::vector<const Item*> fresh;
    for (const auto& item : library_.items) {
        if (!knownItemIDs_.contains(item.id)) {
            fresh.push_back(&item);
        }
    }
    knownItemIDs_ = itemIDs(library_);
    const Date at = now();
    for (const Item* item : fresh) {
        for (const auto& share : library_.followableShares(*item, at)) {
            if (followerCount(share) > 0) {
                relay_->ping(share.token, library_.displayName(share.target), item->name);
            }
        }
    }
}

// ---- Shortcut files ----

std::filesystem::path AppModel::shortcutFile(const PairedDevice& device) const {
    return store_.root / "shortcuts" / (device.token + ".shortcut");
}

void AppModel::ensureShortcuts(std::vector<PairedDevice> devices) {
    const auto host = server_.localHostName();
    if (devices.empty() || !host) {
        return;
    }
    background_.addFuture(shortcuts_.ensure(std::move(devices), server_.computerName(), *host, port(),
                                            stopBackground_.get_token()));
}

std::uint16_t AppModel::port() const {
    return server_.port();
}

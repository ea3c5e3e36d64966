// AppModel: share links and their texts, sending to a phone, pairing and removing phones.
#include "app/model/app_model.h"
#include "app/model/wording.h"
#include "core/http.h"

#include <QPointer>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <system_error>

namespace {

/// The share working now for the target, as the store has it. The published snapshot may lag a change
/// made a moment ago; asking the store keeps a second call from renewing (and so re-timing) a share the
/// first one has just made.
std::optional<Share> activeShareNow(const LibraryStore& store, const ShareTarget& target, Date at) {
    return store.read([&](const Library& library, auto) { return library.activeShare(target, at); });
}

bool isReceiveLink(const Share& share) {
    return share.target.kind() == ShareTarget::Kind::inbox;
}

} // namespace

// ---- Derived values ----

std::vector<Share> AppModel::activeShares() const {
    const Date at = now();
    std::vector<Share> active;
    for (const Share& share : library_.shares) {
        if (!isReceiveLink(share) && share.isActive(at)) {
            active.push_back(share);
        }
    }
    return active;
}

AppModel::ShareHistory AppModel::shareHistory() const {
    std::vector<Share> shares;
    std::copy_if(library_.shares.begin(), library_.shares.end(), std::back_inserter(shares),
                 [](const Share& share) { return !isReceiveLink(share); });
    std::stable_sort(shares.begin(), shares.end(),
                     [](const Share& a, const Share& b) { return a.created > b.created; });
    const Date at = now();
    ShareHistory history;
    for (Share& share : shares) {
        (share.isActive(at) ? history.active : history.earlier).push_back(std::move(share));
    }
    return history;
}

bool AppModel::isShared(const ShareTarget& target) const {
    return library_.activeShare(target, now()).has_value();
}

std::optional<std::string> AppModel::link(const Share& share) const {
    if (!address_) {
        return std::nullopt;
    }
    if (auto relayed = relay_->link(share.token)) {
        return relayed;
    }
    return HTTP::url(*address_, port(), "/s/" + share.token + "/");
}

std::optional<std::string> AppModel::pairingURL() const {
    if (!pairing_ || !address_) {
        return std::nullopt;
    }
    return HTTP::url(*address_, port(), "/p/" + pairing_->code + "/");
}

int AppModel::followerCount(const Share& share) const {
    const auto& followers = relay_->followers();
    const auto found = followers.find(share.token);
    return found == followers.end() ? 0 : found->second;
}

bool AppModel::canShareAgain(const Share& share) const {
    if (share.target.kind() == ShareTarget::Kind::bundle) {
        // An emptied bundle is still recorded, but there is nothing left in it to share.
        const auto bundle = library_.bundle(*share.target.id());
        return bundle && !(bundle->itemIDs.empty() && bundle->folderIDs.empty());
    }
    return exists(share.target);
}

// ---- Links ----

void AppModel::inspect(const ShareTarget& target) {
    setRenamingID(std::nullopt);
    if (!activeShareNow(store_, target, now())) {
        if (target.kind() == ShareTarget::Kind::bundle) {
            // A bundle is made only from picks; once its links have all ended it is renewed, never remade.
            const auto latest = store_.read([&](const Library& library, auto) {
                std::optional<Share> newest;
                for (const Share& share : library.shares) {
                    if (share.target == target && (!newest || share.created >= newest->created)) {
                        newest = share;
                    }
                }
                return newest;
            });
            if (!latest || !store_.reshare(latest->token)) {
                show("Those files have been deleted");
                return;
            }
        } else {
            // A receive link is for handing a phone something now; anything else may be wanted later.
            const bool receiving = target.kind() == ShareTarget::Kind::inbox;
            store_.share(target, receiving ? ShareDuration::hour : ShareDuration::day, true);
        }
    }
    openInspector(target);
}

void AppModel::copyLink(const ShareTarget& target) {
    auto active = activeShareNow(store_, target, now());
    const Share share = active ? std::move(*active) : store_.share(target, ShareDuration::day, true);
    const auto url = link(share);
    if (!url) {
        // The share stays: copying again once on a network gives this same link.
        show("Connect to Wi-Fi to share");
        return;
    }
    platform_.setClipboardText(*url);
    if (inspecting_ == target) {
        flashLinkCopied();
    }
    show("Link copied");
}

void AppModel::setAllowsUploads(bool allowsUploads, const ShareTarget& target) {
    if (const auto share = activeShareNow(store_, target, now())) {
        store_.setAllowsUploads(share->token, allowsUploads);
    }
}

void AppModel::renewShare(const ShareTarget& target, ShareDuration duration) {
    store_.share(target, duration, true);
}

void AppModel::forgetShare(const std::string& token) {
    store_.forgetShare(token);
}

void AppModel::stopSharing(const ShareTarget& target) {
    if (const auto share = activeShareNow(store_, target, now())) {
        store_.stopSharing(share->token);
    }
    setInspecting(std::nullopt);
    show("Link stopped");
}

void AppModel::stop(const Share& share) {
    store_.stopSharing(share.token);
    if (inspecting_ == share.target) {
        setInspecting(std::nullopt);
    }
    show("Link stopped");
}

void AppModel::shareAgain(const Share& share) {
    const auto renewed = store_.reshare(share.token);
    if (!renewed) {
        show("Those files have been deleted");
        return;
    }
    openInspector(renewed->target);
}

// ---- Picks ----

std::optional<Share> AppModel::sharePicks() {
    return store_.share(picked_, ShareDuration::day);
}

void AppModel::sharePicked() {
    const auto share = sharePicks();
    if (!share) {
        show("Nothing left to share");
        return;
    }
    clearPicks();
    openInspector(share->target);
}

void AppModel::copyPickedLink() {
    const auto share = sharePicks();
    if (!share) {
        show("Nothing left to share");
        return;
    }
    const auto url = link(*share);
    if (!url) {
        show("Connect to Wi-Fi to share");
        return;
    }
    platform_.setClipboardText(*url);
    const auto count = static_cast<std::int64_t>(picked_.size());
    show("Link copied for " + Wording::counted(static_cast<std::int64_t>(count), "item", "items"));
    clearPicks();
}

// ---- Phones ----

void AppModel::send(const std::vector<ShareTarget>& targets, const PairedDevice& device) {
    const auto share = store_.share(targets, ShareDuration::day);
    if (!share) {
        show("Nothing left to send");
        return;
    }
    clearPicks();
    const std::string name = device.name;
    show("Sending to " + name + "\u2026");
    const QPointer<AppModel> weak(this);
    relay_->send(device.token, share->token, share->title,
                 [weak, name, target = share->target](RelayClient::SendResult result) {
                     if (!weak) {
                         return;
                     }
                     switch (result) {
                     case RelayClient::SendResult::sent:
                         weak->show("Sent to " + name);
                         break;
                     case RelayClient::SendResult::waiting:
                         weak->show("Sent. Notifications are off on " + name +
                                    ", so it's waiting in Tesk there");
                         break;
                     case RelayClient::SendResult::failed:
                         // The link and its code are the way round a relay that cannot be reached.
                         weak->show("Couldn't reach " + name + ". Here's the link instead");
                         weak->openInspector(target);
                         break;
                     }
                 });
}

void AppModel::startPairing() {
    setInspecting(std::nullopt);
    setJustPaired(std::nullopt);
    setPairing(store_.newPairingCode());
}

void AppModel::closePairing() {
    store_.cancelPairing();
    setPairing(std::nullopt);
    setJustPaired(std::nullopt);
}

void AppModel::removeDevice(const PairedDevice& device) {
    platform_.activate();
    const bool confirmed = platform_.confirm({
        .message = "Remove " + device.name + "?",
        .informativeText = "Its Tesk icon stops working at once. Files it already sent stay in Tesk. You can "
                           "pair it again any time.",
        .confirmButton = "Remove",
        .cancelButton = "Cancel",
    });
    if (!confirmed) {
        return;
    }
    store_.removeDevice(device.id);
    // The phone is forgotten either way; a shortcut file left behind only wastes a little space.
    std::error_code ignored;
    std::filesystem::remove(shortcutFile(device), ignored);
    show(device.name + " removed");
}

void AppModel::renameDevice(const std::string& id, const std::string& name) {
    store_.renameDevice(id, name);
}

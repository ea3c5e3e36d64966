#pragma once

#include "app/model/model_ports.h"
#include "core/paired_device.h"

#include <QFuture>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <plist/plist.h>
#include <stop_token>
#include <string>
#include <vector>

/// Makes the signed Shortcuts-app file with which a paired iPhone sends files from any app's Share button
/// to this computer: root/"shortcuts"/<device token>.shortcut.
namespace ShortcutMaker {

/// Frees a property list node with everything under it.
struct PlistFree {
    void operator()(plist_t node) const { plist_free(node); }
};
/// An owned property list.
using Plist = std::unique_ptr<void, PlistFree>;

/// How long a signing command may run before it is killed and the shortcut counts as not made.
inline constexpr std::chrono::milliseconds signingLimit{60'000};

/// The address a phone's shortcut posts files to: "http://host:port/d/<token>/upload".
std::string uploadURL(const std::string& host, std::uint16_t port, const std::string& token);

/// The shortcut's workflow: for each shared item, post it to `uploadURL` with its name and the phone's
/// `deviceName` in headers, then tell the person it was sent to `macName`. Every call draws a new
/// grouping identifier for its repeat block.
Plist workflow(const std::string& uploadURL, const std::string& deviceName, const std::string& macName);

/// The command that signs shortcuts: $TESK_SHORTCUT_SIGNER when set and not empty, else `shortcuts` on
/// PATH, else nothing.
std::optional<std::filesystem::path> signer();

/// Writes the device's workflow unsigned beside its shortcut, has the signer turn it into the shortcut and
/// removes the unsigned file. True when a newly signed shortcut is in place. Without a signer nothing is
/// written. The signed file replaces the served one in one rename; when signing fails (cannot start,
/// fails, exceeds `limit`, writes nothing, or is killed because `stop` was requested) its output is removed
/// and the shortcut made before, if any, stays.
bool make(const PairedDevice& device, const std::filesystem::path& root, const std::string& macName,
          const std::string& host, std::uint16_t port, std::chrono::milliseconds limit = signingLimit,
          std::stop_token stop = {});

/// Makes the shortcut of each device in turn on the global thread pool; without a host, makes none. A
/// request on `stop` ends the job soon: the running signer is killed and the devices left are skipped.
QFuture<void> ensure(std::vector<PairedDevice> devices, std::filesystem::path root, std::string macName,
                     std::optional<std::string> host, std::uint16_t port, std::stop_token stop = {});

} // namespace ShortcutMaker

/// The shortcut files of one library, under root/shortcuts, as the model asks for them.
class ShortcutFiles : public PhoneShortcuts {
public:
    explicit ShortcutFiles(std::filesystem::path root)
        : root_(std::move(root)) {}

    QFuture<void> ensure(std::vector<PairedDevice> devices, std::string computerName, std::string host,
                         std::uint16_t port, std::stop_token stop) override {
        return ShortcutMaker::ensure(std::move(devices), root_, std::move(computerName), std::move(host),
                                     port, std::move(stop));
    }

private:
    std::filesystem::path root_;
};

#pragma once

#include "core/library.h"

#include <QFuture>
#include <cstdint>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

/// What the model needs of the server phones reach: the names and the port its links carry, and where
/// its pages send followers and paired phones.
class SharingServer {
public:
    virtual ~SharingServer() = default;
    /// The computer's name as phones see it.
    virtual std::string computerName() const = 0;
    /// The computer's name on the local network ("name.local"), when it has one.
    virtual std::optional<std::string> localHostName() const = 0;
    /// The port phones reach the server on.
    virtual std::uint16_t port() const = 0;
    /// The relay's addresses for followers and for paired phones; none while the relay is silent.
    virtual void setRelayBases(std::optional<std::string> follow, std::optional<std::string> device) = 0;
};

/// Starting Tesk when the user logs in.
class LoginStart {
public:
    virtual ~LoginStart() = default;
    /// Whether this copy is installed for good: a build tree's program may be gone tomorrow, so only
    /// an installed one is offered.
    virtual bool isInstalled() const = 0;
    virtual bool isEnabled() const = 0;
    /// Throws std::exception when the desktop's setting cannot be changed.
    virtual void setEnabled(bool enabled) = 0;
};

/// The file each paired phone installs to send from its share sheet, one per phone's token.
class PhoneShortcuts {
public:
    virtual ~PhoneShortcuts() = default;
    /// Makes the shortcut of each phone in the background, for a server at `host`:`port` named
    /// `computerName`. A request on `stop` ends the job soon.
    virtual QFuture<void> ensure(std::vector<PairedDevice> devices, std::string computerName,
                                 std::string host, std::uint16_t port, std::stop_token stop) = 0;
};

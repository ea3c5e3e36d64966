#pragma once

#include "support/http_reply.h"

#include <cstdint>
#include <string>
#include <utility>

/// A computer's requests to a tesk-relay on loopback, each on its own connection.
namespace RelayRequests {

/// A POST with the bearer `secret` when one is given; status 0 when the relay is not there.
HttpReply post(std::uint16_t port, const std::string& path, const std::string& body,
               const std::string& secret = "");
/// Signs up a Mac named "this computer"; its id and secret, both empty when refused.
std::pair<std::string, std::string> signUp(std::uint16_t port);
/// The status of a check-in of `mac` (id, secret) with `presence`.
int checkIn(std::uint16_t port, const std::pair<std::string, std::string>& mac,
            const std::string& presence = "{}");

} // namespace RelayRequests

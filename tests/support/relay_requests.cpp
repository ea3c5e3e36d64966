#include "support/relay_requests.h"

#include "support/raw_client.h"

#include <nlohmann/json.hpp>

#include <system_error>

namespace RelayRequests {

HttpReply post(std::uint16_t port, const std::string& path, const std::string& body,
               const std::string& secret) {
    try {
        return parseHttpReply(
            request(port, "POST " + path + " HTTP/1.1\r\n" +
                              (secret.empty() ? "" : "Authorization: Bearer " + secret + "\r\n") +
                              "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body));
    } catch (const std::system_error&) {
        return {};
    }
}

std::pair<std::string, std::string> signUp(std::uint16_t port) {
    const auto reply = nlohmann::json::parse(post(port, "/api/macs", "{}").body, nullptr, false);
    return reply.is_object() ? std::pair(reply.value("macId", ""), reply.value("secret", ""))
                             : std::pair<std::string, std::string>();
}

int checkIn(std::uint16_t port, const std::pair<std::string, std::string>& mac, const std::string& presence) {
    return post(port, "/api/macs/" + mac.first + "/presence", presence, mac.second).status;
}

} // namespace RelayRequests

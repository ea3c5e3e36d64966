#include "support/http_reply.h"

#include <algorithm>
#include <cctype>

namespace {

std::string lowerCased(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return lower;
}

} // namespace

std::string HttpReply::header(std::string_view name) const {
    const auto found = headers.find(lowerCased(name));
    return found == headers.end() ? std::string() : found->second;
}

HttpReply parseHttpReply(std::string_view raw) {
    HttpReply reply;
    reply.raw = std::string(raw);
    const auto headEnd = raw.find("\r\n\r\n");
    // "HTTP/1.1 200": the three digits must be there before anything else is believed.
    if (headEnd == std::string_view::npos || !raw.starts_with("HTTP/1.") || headEnd < 12 || raw[8] != ' ' ||
        raw.find_first_not_of("0123456789", 9) < 12) {
        return reply;
    }
    reply.status = (raw[9] - '0') * 100 + (raw[10] - '0') * 10 + (raw[11] - '0');
    std::size_t at = raw.find("\r\n") + 2;
    while (at < headEnd + 2) {
        const auto end = raw.find("\r\n", at);
        const std::string_view line = raw.substr(at, end - at);
        reply.headerLines.emplace_back(line);
        if (const auto colon = line.find(':'); colon != std::string_view::npos) {
            std::string_view value = line.substr(colon + 1);
            value = value.substr(std::min(value.find_first_not_of(" \t"), value.size()));
            value = value.substr(0, value.find_last_not_of(" \t") + 1);
            reply.headers[lowerCased(line.substr(0, colon))] = std::string(value);
        }
        at = end + 2;
    }
    reply.body = std::string(raw.substr(headEnd + 4));
    return reply;
}

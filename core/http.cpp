#include "http.h"

#include "ascii.h"
#include "utf8.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <limits>

namespace {

constexpr std::string_view headTerminator = "\r\n\r\n";
constexpr std::string_view lineBreak = "\r\n";

HTTPParseResult invalid() {
    return {HTTPParseResult::Invalid{}};
}

/// RFC 9110 section 5.6.2: the characters of a token (method, field name).
bool isTokenChar(char c) {
    constexpr std::string_view symbols = "!#$%&'*+-.^_`|~";
    return Ascii::isAlnum(c) || symbols.find(c) != std::string_view::npos;
}

bool isToken(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), isTokenChar);
}

/// U+0000 to U+001F and U+007F.
bool isControl(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7f;
}

/// RFC 9110 section 5.5: a field value holds visible characters, spaces, tabs and obs-text. CR, LF and
/// NUL in particular must never reach a route: they would end up in file names, events and replies.
bool isFieldValue(std::string_view text) {
    return std::none_of(text.begin(), text.end(), [](char c) { return c != '\t' && isControl(c); });
}

/// RFC 9112 section 2.3: "HTTP/" DIGIT "." DIGIT, and only major version 1 is spoken here.
bool isHTTP1Version(std::string_view text) {
    return text.size() == 8 && text.starts_with("HTTP/1.") && Ascii::isDigit(text.back());
}

/// RFC 3986 section 2.3.
bool isUnreserved(char c) {
    return Ascii::isAlnum(c) || c == '-' || c == '.' || c == '_' || c == '~';
}

/// RFC 3986 section 3.3: pchar without pct-encoded, which the caller handles.
bool isPlainPathChar(char c) {
    constexpr std::string_view subDelimsAndMore = "!$&'()*+,;=:@";
    return isUnreserved(c) || subDelimsAndMore.find(c) != std::string_view::npos;
}

/// Every character is a pchar, a complete percent escape, or one of `extra`.
bool isWellFormedURIPart(std::string_view part, std::string_view extra) {
    for (std::size_t index = 0; index < part.size(); ++index) {
        const char c = part[index];
        if (c == '%') {
            if (part.size() - index < 3 || !Ascii::isHexDigit(part[index + 1]) ||
                !Ascii::isHexDigit(part[index + 2])) {
                return false;
            }
            index += 2;
        } else if (!isPlainPathChar(c) && extra.find(c) == std::string_view::npos) {
            return false;
        }
    }
    return true;
}

/// The bytes behind the escapes; expects escapes already checked by isWellFormedURIPart.
std::string percentDecodedBytes(std::string_view raw) {
    std::string bytes;
    bytes.reserve(raw.size());
    for (std::size_t index = 0; index < raw.size(); ++index) {
        if (raw[index] == '%' && raw.size() - index >= 3) {
            const int high = Ascii::hexValue(raw[index + 1]);
            const int low = Ascii::hexValue(raw[index + 2]);
            if (high >= 0 && low >= 0) {
                bytes += static_cast<char>(high * 16 + low);
                index += 2;
                continue;
            }
        }
        bytes += raw[index];
    }
    return bytes;
}

/// Decoded text, or the raw form when the decoded bytes are not UTF-8.
std::string decodedOrRaw(std::string_view raw) {
    std::string decoded = percentDecodedBytes(raw);
    return UTF8::isValid(decoded) ? decoded : std::string(raw);
}

std::string_view trimmed(std::string_view text) {
    constexpr std::string_view blanks = " \t";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    const std::size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

std::vector<std::string_view> requestLinePieces(std::string_view line) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    while (start <= line.size()) {
        std::size_t end = line.find(' ', start);
        if (end == std::string_view::npos) {
            end = line.size();
        }
        if (end > start) {
            pieces.push_back(line.substr(start, end - start));
        }
        start = end + 1;
    }
    return pieces;
}

/// Fills segments, query and hasTrailingSlash from an origin-form target (RFC 9112 section 3.2.1);
/// false when the target is not one.
bool parseTarget(std::string_view target, HTTPRequest& request) {
    // Absolute-form and asterisk-form are for proxies and OPTIONS; this server answers neither.
    if (target.empty() || target.front() != '/') {
        return false;
    }
    const std::size_t pathEnd = std::min(target.find_first_of("?#"), target.size());
    const std::string_view path = target.substr(0, pathEnd);
    std::string_view query;
    std::string_view fragment;
    std::string_view rest = target.substr(pathEnd);
    if (!rest.empty() && rest.front() == '?') {
        const std::size_t queryEnd = std::min(rest.find('#'), rest.size());
        query = rest.substr(1, queryEnd - 1);
        rest = rest.substr(queryEnd);
    }
    if (!rest.empty()) {
        fragment = rest.substr(1);
    }
    if (!isWellFormedURIPart(path, "/") || !isWellFormedURIPart(query, "/?") ||
        !isWellFormedURIPart(fragment, "/?")) {
        return false;
    }

    for (std::size_t start = 0; start < path.size();) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        if (end > start) {
            const std::string_view raw = path.substr(start, end - start);
            const std::string bytes = percentDecodedBytes(raw);
            // ".." in any spelling would climb out of a share. A control character is never part of
            // an address we hand out, and routes echo segments into replies (a redirect's Location):
            // a CR or LF there would let the client write our header lines; a NUL would cut a file
            // name short in any C interface below us. Checked on the bytes, so a raw fallback cannot
            // hide one.
            if (bytes == ".." || std::any_of(bytes.begin(), bytes.end(), isControl)) {
                return false;
            }
            request.segments.push_back(UTF8::isValid(bytes) ? bytes : std::string(raw));
        }
        start = end + 1;
    }

    for (std::size_t start = 0; start < query.size();) {
        const std::size_t end = std::min(query.find('&', start), query.size());
        const std::string_view item = query.substr(start, end - start);
        if (!item.empty()) {
            const std::size_t equals = item.find('=');
            const std::string_view name = item.substr(0, equals);
            const std::string_view value =
                equals == std::string_view::npos ? std::string_view() : item.substr(equals + 1);
            request.query[decodedOrRaw(name)] = decodedOrRaw(value);
        }
        start = end + 1;
    }

    request.hasTrailingSlash = path.size() >= 2 && path.back() == '/';
    return true;
}

/// Strict decimal: one optional sign, then digits only; nothing on overflow or any other character.
std::optional<std::int64_t> strictInt64(std::string_view text, bool allowMinus) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || (allowMinus && text.front() == '-'))) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    constexpr auto maximum = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    const std::uint64_t limit = negative ? maximum + 1 : maximum;
    std::uint64_t magnitude = 0;
    for (const char c : text) {
        if (!Ascii::isDigit(c)) {
            return std::nullopt;
        }
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (magnitude > (limit - digit) / 10) {
            return std::nullopt;
        }
        magnitude = magnitude * 10 + digit;
    }
    if (!negative) {
        return static_cast<std::int64_t>(magnitude);
    }
    if (magnitude == maximum + 1) {
        return std::numeric_limits<std::int64_t>::min();
    }
    return -static_cast<std::int64_t>(magnitude);
}

} // namespace

std::optional<std::int64_t> HTTPRequest::contentLength() const {
    const auto found = headers.find("content-length");
    if (found == headers.end()) {
        return std::nullopt;
    }
    return strictInt64(found->second, true);
}

namespace HTTP {

HTTPParseResult parse(std::string_view buffer) {
    // A terminator starting past maxHeaderBytes makes the head too long anyway, so the search never
    // needs to look further: body bytes already in the buffer cost nothing on every call.
    const std::string_view searched = buffer.substr(0, maxHeaderBytes + headTerminator.size());
    const std::size_t end = searched.find(headTerminator);
    if (end == std::string_view::npos) {
        if (buffer.size() > maxHeaderBytes) {
            return invalid();
        }
        return {HTTPParseResult::Incomplete{}};
    }
    if (end > maxHeaderBytes) {
        return invalid();
    }
    const std::string_view text = buffer.substr(0, end);
    if (!UTF8::isValid(text)) {
        return invalid();
    }

    HTTPRequest request;
    const std::size_t lineEnd = std::min(text.find(lineBreak), text.size());
    const std::vector<std::string_view> pieces = requestLinePieces(text.substr(0, lineEnd));
    if (pieces.size() != 3 || !isToken(pieces[0]) || !isHTTP1Version(pieces[2])) {
        return invalid();
    }
    request.method = Ascii::uppercased(pieces[0]);
    const std::string_view target = pieces[1];

    // Empty, or a line break followed by the next field line.
    std::string_view rest = text.substr(lineEnd);
    while (!rest.empty()) {
        rest.remove_prefix(lineBreak.size());
        const std::string_view line = rest.substr(0, std::min(rest.find(lineBreak), rest.size()));
        rest.remove_prefix(line.size());
        // RFC 9112 section 5: the name is a token right up to the colon. That also refuses obsolete
        // line folding (a line starting with whitespace), whitespace before the colon and empty names,
        // each a way to make two parsers disagree about a field.
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || !isToken(line.substr(0, colon))) {
            return invalid();
        }
        const std::string_view value = trimmed(line.substr(colon + 1));
        if (!isFieldValue(value)) {
            return invalid();
        }
        std::string name = Ascii::lowercased(line.substr(0, colon));
        const auto [field, added] = request.headers.try_emplace(std::move(name), value);
        if (!added) {
            // RFC 9112 sections 3.2 and 6.3: two Host fields, or Content-Length fields that disagree,
            // leave the request ambiguous. Identical lengths are harmless.
            if (field->first == "host" || (field->first == "content-length" && field->second != value)) {
                return invalid();
            }
            field->second = value;
        }
    }
    // RFC 9112 section 6.3: both framings at once is a smuggling attempt more often than not. Chunked
    // bodies are never decoded here, so such a request can only be answered wrongly.
    if (request.headers.contains("transfer-encoding") && request.headers.contains("content-length")) {
        return invalid();
    }

    if (!parseTarget(target, request)) {
        return invalid();
    }
    return {HTTPParseResult::Request{std::move(request), end + headTerminator.size()}};
}

ByteRangeResult range(const std::optional<std::string>& value, std::int64_t size) {
    constexpr std::string_view unit = "bytes=";
    if (!value || !value->starts_with(unit)) {
        return ByteRangeResult::whole();
    }
    const std::string_view spec = std::string_view(*value).substr(unit.size());
    // Several ranges would need a multipart answer; serving the whole is allowed (RFC 9110 14.2).
    const std::size_t dash = spec.find('-');
    if (spec.find(',') != std::string_view::npos || dash == std::string_view::npos) {
        return ByteRangeResult::whole();
    }
    const std::string_view first = spec.substr(0, dash);
    const std::string_view last = spec.substr(dash + 1);

    if (!first.empty()) {
        // No minus sign is accepted, so a start is never negative and `size - 1` cannot overflow.
        const std::optional<std::int64_t> start = strictInt64(first, false);
        if (!start || *start >= size) {
            return ByteRangeResult::unsatisfiable();
        }
        if (last.empty()) {
            return ByteRangeResult::partial(*start, size - 1);
        }
        const std::int64_t end = std::min(strictInt64(last, false).value_or(-1), size - 1);
        if (end < *start) {
            return ByteRangeResult::unsatisfiable();
        }
        return ByteRangeResult::partial(*start, end);
    }

    const std::optional<std::int64_t> suffix = strictInt64(last, false);
    if (!suffix || *suffix < 1 || size < 1) {
        return ByteRangeResult::unsatisfiable();
    }
    return ByteRangeResult::partial(std::max<std::int64_t>(0, size - *suffix), size - 1);
}

std::string head(int status, const Headers& headers) {
    std::string text = "HTTP/1.1 " + std::to_string(status) + " " + std::string(reason(status)) + "\r\n";
    for (const auto& [name, value] : headers) {
        text += name;
        text += ": ";
        // The last line of defence should a route ever echo unchecked text: a value that could end its
        // line would let the client write the lines after it.
        std::copy_if(value.begin(), value.end(), std::back_inserter(text),
                     [](char c) { return c == '\t' || !isControl(c); });
        text += "\r\n";
    }
    text += "Connection: close\r\n\r\n";
    return text;
}

} // namespace HTTP

std::string HTTPResponse::serialized() const {
    HTTP::Headers all = headers;
    all.emplace_back("Content-Length", std::to_string(body.size()));
    std::string out = HTTP::head(status, all);
    if (!omitBody) {
        out += body;
    }
    return out;
}

HTTPResponse HTTPResponse::text(int status, std::string_view text) {
    return {status, {{"Content-Type", "text/plain; charset=utf-8"}}, std::string(text)};
}

HTTPResponse HTTPResponse::html(int status, std::string_view html) {
    return {status,
            {{"Content-Type", "text/html; charset=utf-8"}, {"Cache-Control", "no-store"}},
            std::string(html)};
}

HTTPResponse HTTPResponse::json(int status, std::string body) {
    return {status, {{"Content-Type", "application/json"}, {"Cache-Control", "no-store"}}, std::move(body)};
}

HTTPResponse HTTPResponse::redirect(std::string location) {
    return {301, {{"Location", std::move(location)}}, ""};
}

namespace HTTP {

std::string_view reason(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 201:
        return "Created";
    case 204:
        return "No Content";
    case 206:
        return "Partial Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 410:
        return "Gone";
    case 411:
        return "Length Required";
    case 413:
        return "Payload Too Large";
    case 416:
        return "Range Not Satisfiable";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Error";
    }
}

std::string contentDisposition(std::string_view name, bool isInline) {
    // RFC 6266 section 4.3: a plain quoted filename for old clients, filename* (RFC 8187) for the rest.
    std::string fallback;
    for (std::size_t index = 0; index < name.size();) {
        const std::size_t length = UTF8::sequenceLength(name, index);
        const auto byte = static_cast<unsigned char>(name[index]);
        // Anything that is not printable ASCII, or could end the quoted string, must not reach the
        // header: a CR or LF in a file name would otherwise inject header lines.
        const bool plain = length == 1 && byte >= 0x20 && byte < 0x7f && byte != '"' && byte != '\\';
        fallback += plain ? name[index] : '_';
        index += length == 0 ? 1 : length;
    }
    return std::string(isInline ? "inline" : "attachment") + "; filename=\"" + fallback +
           "\"; filename*=UTF-8''" + percentEncoded(name);
}

std::string percentEncoded(std::string_view text) {
    constexpr std::string_view hexDigits = "0123456789ABCDEF";
    std::string encoded;
    for (const char c : text) {
        if (isUnreserved(c)) {
            encoded += c;
        } else {
            const auto byte = static_cast<unsigned char>(c);
            encoded += '%';
            encoded += hexDigits[byte >> 4];
            encoded += hexDigits[byte & 0x0f];
        }
    }
    return encoded;
}

std::optional<std::string> percentDecoded(std::string_view text) {
    for (std::size_t index = 0; index < text.size(); ++index) {
        if (text[index] == '%' && (text.size() - index < 3 || !Ascii::isHexDigit(text[index + 1]) ||
                                   !Ascii::isHexDigit(text[index + 2]))) {
            return std::nullopt;
        }
    }
    std::string decoded = percentDecodedBytes(text);
    if (!UTF8::isValid(decoded)) {
        return std::nullopt;
    }
    return decoded;
}

std::string url(std::string_view host, std::uint16_t port, std::string_view path) {
    // Only an IPv6 literal holds a colon; a bare one would read as the start of the port.
    const bool bracketed = host.find(':') != std::string_view::npos && !host.starts_with('[');
    std::string result = "http://";
    if (bracketed) {
        result += '[';
    }
    result += host;
    if (bracketed) {
        result += ']';
    }
    result += ':';
    result += std::to_string(port);
    result += path;
    return result;
}

std::string_view mimeType(std::string_view name) {
    const std::size_t slash = name.rfind('/');
    const std::string_view component = slash == std::string_view::npos ? name : name.substr(slash + 1);
    const std::size_t dot = component.rfind('.');
    if (dot == std::string_view::npos || dot == 0) {
        return "application/octet-stream";
    }
    const std::string extension = Ascii::lowercased(component.substr(dot + 1));

    struct Entry {
        std::string_view extension;
        std::string_view type;
    };
    constexpr std::array<Entry, 15> table = {{
        {"jpg", "image/jpeg"},
        {"jpeg", "image/jpeg"},
        {"png", "image/png"},
        {"gif", "image/gif"},
        {"heic", "image/heic"},
        {"webp", "image/webp"},
        {"pdf", "application/pdf"},
        {"mp4", "video/mp4"},
        {"m4v", "video/mp4"},
        {"mov", "video/quicktime"},
        {"mp3", "audio/mpeg"},
        {"m4a", "audio/mp4"},
        {"txt", "text/plain; charset=utf-8"},
        {"md", "text/plain; charset=utf-8"},
        {"zip", "application/zip"},
    }};
    for (const auto& entry : table) {
        if (entry.extension == extension) {
            return entry.type;
        }
    }
    return "application/octet-stream";
}

} // namespace HTTP

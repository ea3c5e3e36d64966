#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

/// One parsed request head.
struct HTTPRequest {
    /// Upper-cased ("get" becomes "GET").
    std::string method;
    /// The path split at "/", empty pieces dropped, each piece percent-decoded.
    std::vector<std::string> segments;
    /// Query items by name; an item without "=" maps to ""; a later duplicate wins.
    std::map<std::string, std::string> query;
    /// Header fields by lower-cased name; values trimmed; a later duplicate wins (a second Host, or a
    /// Content-Length that differs from the first, makes the head invalid instead).
    std::map<std::string, std::string> headers;
    /// The raw path is longer than "/" and ends in "/".
    bool hasTrailingSlash = false;

    /// "content-length" as a signed decimal (one leading "+" or "-" allowed); nothing when missing,
    /// empty, malformed or out of range. Negative values come back as they are; callers refuse them.
    std::optional<std::int64_t> contentLength() const;

    friend bool operator==(const HTTPRequest&, const HTTPRequest&) = default;
};

/// One complete answer: a status, headers in order and a body.
struct HTTPResponse {
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    /// Answering HEAD: the head announces the body's length, but the body is not sent.
    bool omitBody = false;

    /// The bytes to send: the head with "Content-Length" added, then the body.
    std::string serialized() const;

    /// UTF-8 plain text.
    static HTTPResponse text(int status, std::string_view text);
    /// UTF-8 HTML that browsers must not cache.
    static HTTPResponse html(int status, std::string_view html);
    /// A JSON document that browsers must not cache.
    static HTTPResponse json(int status, std::string body);
    /// A permanent redirect to `location`, with an empty body.
    static HTTPResponse redirect(std::string location);

    friend bool operator==(const HTTPResponse&, const HTTPResponse&) = default;
};

/// What the bytes received so far amount to.
struct HTTPParseResult {
    /// A complete head; the body starts at `headerLength` (the blank line included).
    struct Request {
        HTTPRequest request;
        std::size_t headerLength = 0;
        friend bool operator==(const Request&, const Request&) = default;
    };
    /// No blank line yet, and the buffer is still small enough: read more.
    struct Incomplete {
        friend bool operator==(const Incomplete&, const Incomplete&) = default;
    };
    /// These bytes can never become an acceptable head.
    struct Invalid {
        friend bool operator==(const Invalid&, const Invalid&) = default;
    };

    std::variant<Incomplete, Invalid, Request> value;

    bool isIncomplete() const { return std::holds_alternative<Incomplete>(value); }
    bool isInvalid() const { return std::holds_alternative<Invalid>(value); }
    /// The request, when the head is complete.
    const Request* request() const { return std::get_if<Request>(&value); }

    friend bool operator==(const HTTPParseResult&, const HTTPParseResult&) = default;
};

/// How to answer a "range" header.
struct ByteRangeResult {
    /// Serve bytes `start` to `end`, both inclusive.
    struct Partial {
        std::int64_t start = 0;
        std::int64_t end = 0;
        friend bool operator==(const Partial&, const Partial&) = default;
    };
    /// Ignore the range and serve everything.
    struct Whole {
        friend bool operator==(const Whole&, const Whole&) = default;
    };
    /// Answer 416.
    struct Unsatisfiable {
        friend bool operator==(const Unsatisfiable&, const Unsatisfiable&) = default;
    };

    std::variant<Whole, Unsatisfiable, Partial> value;

    static ByteRangeResult partial(std::int64_t start, std::int64_t end) { return {Partial{start, end}}; }
    static ByteRangeResult whole() { return {Whole{}}; }
    static ByteRangeResult unsatisfiable() { return {Unsatisfiable{}}; }

    friend bool operator==(const ByteRangeResult&, const ByteRangeResult&) = default;
};

/// The HTTP/1.x codec: request heads in, response heads out, one request per connection. Pure
/// functions; safe from any thread; never throws on malformed input.
namespace HTTP {

/// The largest request head accepted: bytes before the blank line.
inline constexpr std::size_t maxHeaderBytes = 16384;

using Headers = std::vector<std::pair<std::string, std::string>>;

/// Parses the bytes received so far on a connection. Strict where RFC 9112 lets parsers disagree: a
/// method or field name that is not a token, whitespace before a colon, folded lines, control characters
/// in values, a version other than HTTP/1.x, and Transfer-Encoding together with Content-Length are all
/// invalid. So is a path segment that decodes to ".." or holds a control character (U+0000 to U+001F,
/// U+007F); query items keep theirs.
HTTPParseResult parse(std::string_view buffer);

/// Decides a byte range for the "range" header value (if any) and a representation of `size` bytes.
ByteRangeResult range(const std::optional<std::string>& value, std::int64_t size);

/// "HTTP/1.1 <status> <reason>", the headers in order, then "Connection: close" and the blank line.
/// Control characters other than tab are left out of values, so no value can end its line.
std::string head(int status, const Headers& headers);

/// The reason phrase of a status; "Error" for any status not in the table.
std::string_view reason(int status);

/// `inline` or `attachment` with an ASCII filename (non-ASCII, quotes, backslashes and control
/// characters as "_") and the UTF-8 filename* form.
std::string contentDisposition(std::string_view name, bool isInline);

/// `text` with every byte but the RFC 3986 unreserved characters (letters, digits, "-", ".", "_", "~")
/// escaped as "%XX" in upper-case hex: safe as one path segment or an RFC 8187 value.
std::string percentEncoded(std::string_view text);

/// `text` with its percent escapes decoded (encodeURIComponent's inverse; "+" stays "+"), or nothing
/// when an escape is malformed or the result is not UTF-8.
std::optional<std::string> percentDecoded(std::string_view text);

/// "http://host:port" followed by `path` (expected to start with "/", or be empty). An IPv6 literal
/// host is put in brackets unless it already is, so the result is a valid address.
std::string url(std::string_view host, std::uint16_t port, std::string_view path = "");

/// The MIME type for a file name's extension; "application/octet-stream" when unknown.
std::string_view mimeType(std::string_view name);

} // namespace HTTP

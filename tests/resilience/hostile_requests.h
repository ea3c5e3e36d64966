#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

/// What the hostile request generator aims at: the real addresses of a running server's library.
struct HostileTargets {
    std::uint16_t port = 0;
    /// A folder share that accepts uploads, the folder it shows and a folder inside it.
    std::string shareToken;
    std::string sharedFolderID;
    std::string innerFolderID;
    /// A file and a note inside the share, and a file outside it.
    std::string fileID;
    std::string noteID;
    std::string privateFileID;
    /// A receive-only share.
    std::string inboxToken;
    std::string pairingCode;
    std::string deviceToken;
    /// Names of sentinel files relative to the library's parent, and absolute sentinel paths.
    std::vector<std::string> nearbySentinels;
    std::vector<std::string> absoluteSentinels;
};

/// One request as bytes on the wire, with how the client behaves after sending it.
struct HostileRequest {
    /// The pieces to send, in order (several pieces make the server see a head in parts).
    std::vector<std::string> pieces;
    /// Half-close right after sending; otherwise wait briefly for an answer first.
    bool halfClose = true;
    /// What the request was made of, for reporting a failure.
    std::string label;
};

/// Real routes mutated with the broken and malicious shapes clients send: a deterministic function of
/// (seed, index), so a failure the test prints with both numbers comes back in the same shape.
class HostileRequestGenerator {
public:
    HostileRequestGenerator(HostileTargets targets, std::uint64_t seed)
        : t_(std::move(targets))
        , seed_(seed) {}

    HostileRequest make(std::uint64_t index) const {
        Random random(mix(seed_ ^ mix(index + 0x9e3779b97f4a7c15ull)));
        return Builder{t_, random, {}}.build();
    }

private:
    using Random = std::mt19937_64;

    static std::uint64_t mix(std::uint64_t x) {
        // splitmix64's finaliser: neighbouring indices give unrelated streams.
        x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
        x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
        return x ^ (x >> 31);
    }

    struct Route {
        std::string path;
        std::string method;
        bool hasBody = false;
    };

    struct Builder {
        const HostileTargets& t;
        Random& random;
        std::string label;

        std::size_t below(std::size_t n) {
            return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
        }
        bool chance(double p) { return std::bernoulli_distribution(p)(random); }
        template <typename T>
        const T& pick(const std::vector<T>& from) {
            return from[below(from.size())];
        }
        void note(const std::string& what) { label += label.empty() ? what : ", " + what; }
        /// Alternatives written as one string, separated by "|" (none holds one): long lists at a glance.
        static std::vector<std::string> alternatives(std::string_view all) {
            std::vector<std::string> items;
            std::size_t start = 0;
            for (std::size_t bar; (bar = all.find('|', start)) != std::string_view::npos; start = bar + 1) {
                items.emplace_back(all.substr(start, bar - start));
            }
            items.emplace_back(all.substr(start));
            return items;
        }

        std::vector<Route> routes() const {
            const std::string s = "/s/" + t.shareToken;
            const std::string b = "/s/" + t.inboxToken;
            const std::string p = "/p/" + t.pairingCode;
            const std::string d = "/d/" + t.deviceToken;
            const std::string file = "/f/" + t.fileID;
            std::vector<Route> all;
            // Each path under `base`, in order; a POST sends a body.
            const auto add = [&](const std::string& method, const std::string& base,
                                 const std::vector<std::string>& paths) {
                for (const auto& path : paths) {
                    all.push_back({base + path, method, method == "POST"});
                }
            };
            add("GET", "", {"/", "/icon.png"});
            add("GET", s,
                {"/", "", "/api", "/api?folder=" + t.innerFolderID, file, file, file + "?inline",
                 "/f/" + t.noteID, "/f/" + t.privateFileID});
            add("POST", s, {"/upload", "/upload?folder=" + t.innerFolderID});
            add("GET", b, {"/", "/api", file});
            add("POST", b, {"/upload"});
            add("GET", p, {"/", ""});
            add("POST", p, {"/claim"});
            add("GET", d, {"/", "", "/ping", "/api", "/manifest.json"});
            add("POST", d, {"/upload", "/text"});
            add("GET", "",
                {d + "/Send%20to%20Tesk.shortcut", "/s/unknowntoken0000/", "/d/unknowntoken0000/ping",
                 "/nowhere"});
            return all;
        }

        /// "../" in the spellings that have fooled servers: encoded, double-encoded, overlong, backslashed.
        std::string climb() {
            static const auto ups = alternatives(
                "../|%2e%2e/|%2E%2E%2F|..%2f|.%2e/|%252e%252e/|%252e%252e%252f|%c0%ae%c0%ae/|"
                "%c0%ae%c0%ae%c0%af|%e0%80%ae%e0%80%ae/|..\\|%5c..%5c|..%5c|....//|%2e%2e%5c|..;/|"
                "%u002e%u002e/|..%00/|..%c0%af");
            std::string path;
            const std::size_t depth = 1 + below(6);
            const std::string& up = pick(ups);
            for (std::size_t i = 0; i < depth; ++i) {
                path += up;
            }
            return path;
        }

        /// Control characters, percent-encoded, alone or carrying header lines of their own.
        std::string control() {
            return pick(std::vector<std::string>{
                "%0D%0A", "%0d%0aSet-Cookie:%20tesk=1", "%0D%0ALocation:%20http://evil.example/%0D%0A%0D%0A",
                "%0A", "%0D", "%00", "%1B", "%1B[31m", "%7F", "%09", "x%0D%0A%20folded"});
        }

        static std::string encodeSlashes(const std::string& path) {
            std::string encoded;
            for (const char c : path) {
                encoded += c == '/' ? std::string("%2F") : std::string(1, c);
            }
            return encoded;
        }

        std::string mutateTarget(const Route& route) {
            std::string target = route.path;
            switch (below(18)) {
            case 0: { // climb out of the route
                const std::size_t slash = target.rfind('/');
                target.insert(slash + 1, climb());
                note("climb");
                break;
            }
            case 1: // aim at a file beside the library
                target =
                    pick(std::vector<std::string>{"/s/" + t.shareToken + "/f/", "/s/" + t.shareToken + "/",
                                                  "/", "/d/" + t.deviceToken + "/", "/icon.png/"}) +
                    climb() + pick(t.nearbySentinels);
                note("aim nearby");
                break;
            case 2: { // aim at an absolute path
                const std::string& path = pick(t.absoluteSentinels);
                target =
                    pick(std::vector<std::string>{"/s/" + t.shareToken + "/f/" + encodeSlashes(path),
                                                  "/" + path, "/s/" + t.shareToken + "/f/" + climb() + path,
                                                  "/s/" + t.shareToken + "/api?folder=" + path,
                                                  "/s/" + t.shareToken + "/f/%2F" + encodeSlashes(path)});
                note("aim absolute");
                break;
            }
            case 3: // NUL, raw or escaped
                target.insert(1 + below(target.size()),
                              chance(0.5) ? std::string("\0", 1) : std::string("%00"));
                note("NUL");
                break;
            case 4: // backslashes for slashes
                for (char& c : target) {
                    if (c == '/' && chance(0.5)) {
                        c = '\\';
                    }
                }
                note("backslash");
                break;
            case 5: // overlong and invalid UTF-8
                target +=
                    pick(std::vector<std::string>{"%c0%ae", "%e0%80%ae", "%c0%af", "%ff", "%fe%ff", "\xff",
                                                  "\xc3(", "%ed%a0%80", "\xc0\xaf", "%f4%90%80%80"});
                note("bad UTF-8");
                break;
            case 6: // absolute form
                target = pick(std::vector<std::string>{"http://127.0.0.1:" + std::to_string(t.port),
                                                       "http://evil.example", "HTTP://x", "file://"}) +
                         target;
                note("absolute form");
                break;
            case 7:
                target = pick(std::vector<std::string>{"*", "", "/a b", "//", "/./", "?", "#", "%2F"});
                note("odd target");
                break;
            case 8: // very long targets, some past the head limit
                target += "/" + std::string(pick(std::vector<std::size_t>{900, 4000, 16000, 17000}), 'x');
                note("long target");
                break;
            case 9: // queries
                target += pick(std::vector<std::string>{
                    "?folder=..%2F..", "?folder=%00", "?inline&folder=", "?a=%zz", "#frag",
                    "?folder=" + t.sharedFolderID + "%2F..", "?folder=/etc", "?&&==&",
                    "?folder=" + t.innerFolderID + "&folder=x", "?inline=%ff"});
                note("query");
                break;
            case 10:
                target += pick(std::vector<std::string>{"/.", "/..", "/%2e", "/%2e%2e", "//", "/./.", "%2f"});
                note("dot tail");
                break;
            case 11:
                for (char& c : target) {
                    if (c >= 'a' && c <= 'z' && chance(0.3)) {
                        c = static_cast<char>(c - 'a' + 'A');
                    }
                }
                note("case");
                break;
            case 12: { // a control character in one of the route's segments, wherever it lies in it
                const std::size_t pathEnd = std::min(target.find('?'), target.size());
                std::vector<std::pair<std::size_t, std::size_t>> segments;
                for (std::size_t start = 1; start <= pathEnd;) {
                    const std::size_t end = std::min(target.find('/', start), pathEnd);
                    segments.emplace_back(start, end);
                    start = end + 1;
                }
                const auto [start, end] = pick(segments);
                const std::size_t at = pick(std::vector<std::size_t>{start, end, start + (end - start) / 2});
                target.insert(at, control());
                note("control in segment");
                break;
            }
            case 13: // and in a query value
                target += (target.find('?') == std::string::npos ? "?" : "&") +
                          pick(std::vector<std::string>{"folder=", "inline=", "x="}) + control();
                note("control in query");
                break;
            default:
                break; // most targets stay real
            }
            return target;
        }

        std::string method(const Route& route) {
            using namespace std::string_literals;
            static const auto methods = alternatives(
                "get|post|HEAD|PUT|DELETE|OPTIONS|TRACE|CONNECT|PATCH|PROPFIND|GETX|G ET|GET\0||\xff\xfe|"s +
                std::string(1000, 'G') + "|M-SEARCH|G(ET)|POST|GET");
            if (chance(0.8)) {
                return route.method;
            }
            note("method");
            return pick(methods);
        }

        std::string version() {
            if (chance(0.85)) {
                return "HTTP/1.1";
            }
            note("version");
            return pick(std::vector<std::string>{"HTTP/1.0", "HTTP/1.0", "HTTP/0.9", "HTTP/2.0", "HTTP/1.1x",
                                                 "", "http/1.1", "HTTP/1.", "HTTP/1.10", "HTTP/3",
                                                 "HTTP/1.1 extra", std::string("HTTP/1.1\0", 9), "HTTP/1.9"});
        }

        std::string uploadName() {
            static const auto plain = alternatives(
                "../../escape.txt|..%2F..%2Fescape.txt|%2e%2e%2f%2e%2e%2fescape.txt|a%2Fb%2Fc.txt|"
                "sub/dir/x.txt|%00evil.txt|evil%00.txt|evil.txt%00.jpg|..|.|%2e%2e|%2E||%2F|"
                "%2Fetc%2Fpasswd|/etc/passwd|..%5C..%5Cwin.txt|%c0%ae%c0%ae%2fx|%ff%fe.txt|%zz|CON|"
                "%0d%0aSet-Cookie:%20x=y.txt|%0a.txt|%1B[2J%7F.txt|tab%09and%0Dcr.txt|.hidden|....|"
                " spaced |library.json|..%2Flibrary.json|..%2F..%2F..%2Fsentinel.txt|incoming|files|"
                "~%2F.bashrc|\\..\\x.txt|caf%C3%A9.txt|%E2%80%AEtxt.exe|a:b.txt");
            switch (below(6)) {
            case 0:
                return std::string(300, 'n') + ".txt";
            case 1: {
                std::string snowmen;
                for (int i = 0; i < 400; ++i) {
                    snowmen += "%E2%98%83";
                }
                return snowmen + ".txt";
            }
            case 2:
                return std::string(5000, 'l');
            default:
                return pick(plain);
            }
        }

        std::string deviceName() {
            return pick(std::vector<std::string>{
                "", std::string(10000, 'd'), "../../", "%00", "\xff", "Ana\x01", "\xF0\x9F\x93\xB1 Phone",
                "<script>alert(1)</script>", "Phone\ttab", std::string(60, 'x'), "..%2F..%2F"});
        }

        std::string range() {
            static const auto ranges = alternatives(
                "bytes=0-0|bytes=0-|bytes=-1|bytes=-0|bytes=5-2|bytes=999999999-|bytes=0-1,2-3|bytes=--1|"
                "bytes=|bytes=abc|items=0-1|bytes=0-18446744073709551616|bytes=-9223372036854775808|"
                "bytes=9223372036854775807-|bytes= 0-1|bytes=1-1|bytes=100-199||bytes=0-0,-1|Bytes=0-1|"
                "bytes=-100000000|bytes=1000-2000");
            return pick(ranges);
        }

        std::string lengthValue(std::size_t actual) {
            return pick(std::vector<std::string>{"-1", "99999999999999999999", "18446744073709551615",
                                                 "9223372036854775807", "1e3", "abc", "0x10", "5 5",
                                                 "+" + std::to_string(actual), "", "5,5", "-0", "0",
                                                 std::to_string(actual) + ", " + std::to_string(actual)});
        }

        HostileRequest build() {
            HostileRequest request;
            const std::vector<Route> all = routes();
            const Route& route = all[below(all.size())];
            note(route.method + " " + route.path);
            const std::string target = mutateTarget(route);
            std::vector<std::string> lines;
            lines.push_back(method(route) + " " + target + " " + version());

            // Host: usually right, sometimes missing, doubled or odd.
            if (chance(0.88)) {
                lines.push_back("Host: 127.0.0.1:" + std::to_string(t.port));
            } else {
                note("host");
                const std::string odd = pick(std::vector<std::string>{
                    "", "Host:", "Host: a b", "Host: evil\r\nHost: other", "Host: " + std::string(3000, 'h'),
                    "host: x/y@z", "Host: mac%0D%0ASet-Cookie:%20tesk=1"});
                if (!odd.empty()) {
                    lines.push_back(odd);
                }
            }

            // The body: what the request says it sends and what it really sends.
            const bool withBody = route.hasBody ? chance(0.9) : chance(0.08);
            std::size_t bodySize = withBody ? (chance(0.06) ? 70000 + below(200000) : below(2000)) : 0;
            std::string body;
            body.reserve(bodySize);
            for (std::size_t i = 0; i < bodySize; ++i) {
                body += static_cast<char>(below(256));
            }
            if (route.path.ends_with("/claim") && chance(0.6)) {
                body = pick(std::vector<std::string>{R"({"name":"Hostile"})", R"({"name":"../../x"})", "{",
                                                     R"({"name":"\u0000"})", R"({"name":1})"});
            }
            if (route.path.ends_with("/text") && chance(0.6)) {
                body =
                    pick(std::vector<std::string>{"hello", "https://example.com/../../", "   ", "\xff\xfe"});
            }
            bool chunked = false;
            if (withBody) {
                std::string announced = std::to_string(body.size());
                switch (below(12)) {
                case 0: // shorter than announced
                    announced = std::to_string(body.size() + 1 + below(5000));
                    note("short body");
                    break;
                case 1: // longer than announced
                    body += std::string(1 + below(3000), 'z');
                    note("long body");
                    break;
                case 2:
                    announced = lengthValue(body.size());
                    note("length " + announced);
                    break;
                case 3:
                    lines.push_back("Content-Length: " + announced);
                    note("duplicate length");
                    break;
                case 4:
                    lines.push_back("Content-Length: " + std::to_string(body.size() + 7));
                    note("conflicting length");
                    break;
                case 5:
                    chunked = true;
                    note("chunked");
                    break;
                default:
                    break;
                }
                if (chunked) {
                    lines.push_back("Transfer-Encoding: chunked");
                    if (chance(0.3)) {
                        lines.push_back("Content-Length: " + announced);
                    }
                    char size[32];
                    std::snprintf(size, sizeof size, "%zx", body.size());
                    body = std::string(size) + "\r\n" + body + "\r\n0\r\n\r\n";
                } else if (!(withBody && chance(0.03))) {
                    lines.push_back("Content-Length: " + announced);
                }
            }

            // Uploads mostly come with a name to store them under: the hostile ones are the point.
            if (route.path.find("/upload") != std::string::npos && chance(0.7)) {
                lines.push_back("X-Tesk-Name: " + uploadName());
                note("name " + lines.back().substr(13, 40));
            }
            const std::size_t extras = below(5);
            for (std::size_t i = 0; i < extras; ++i) {
                switch (below(20)) {
                case 0:
                case 1:
                    lines.push_back("Range: " + range());
                    note("range");
                    break;
                case 2:
                case 3:
                case 4:
                    lines.push_back("X-Tesk-Name: " + uploadName());
                    note("name " + lines.back().substr(13, 40));
                    break;
                case 5:
                    lines.push_back("X-Tesk-Device: " + deviceName());
                    note("device");
                    break;
                case 6:
                    lines.push_back("Expect: 100-continue");
                    note("expect");
                    break;
                case 7:
                    lines.push_back(
                        "X-Big: " +
                        std::string(pick(std::vector<std::size_t>{100, 4000, 8000, 16500, 40000}), 'b'));
                    note("big header");
                    break;
                case 8: {
                    const std::size_t count = pick(std::vector<std::size_t>{100, 1000, 3000});
                    for (std::size_t n = 0; n < count; ++n) {
                        lines.push_back("X-N" + std::to_string(n) + ": v");
                    }
                    note("many headers");
                    break;
                }
                case 9:
                    lines.push_back(pick(std::vector<std::string>{
                        "X-A: a\rb", "X-A: a\nb", std::string("X-A: a\0b", 8), "X-A: a\x01", "X-A: \x7f"}));
                    note("control in value");
                    break;
                case 10:
                    lines.push_back(pick(std::vector<std::string>{
                        ": empty", " leading: space", "X-A : v", "X-A\t: v", "no colon at all",
                        "X-A: v\r\n  folded", "X-A: v\r\n\tfolded: too", "X\0A: v"}));
                    note("bad field line");
                    break;
                case 11:
                    lines.push_back(pick(std::vector<std::string>{
                        "Connection: keep-alive", "Connection: upgrade\r\nUpgrade: websocket", "Cookie: a=b",
                        "Content-Type: application/octet-stream", "Accept-Encoding: gzip", "If-Range: x",
                        "Referer: ../../"}));
                    break;
                case 12:
                    lines.push_back("Transfer-Encoding: " +
                                    pick(std::vector<std::string>{"chunked", "gzip, chunked", "identity",
                                                                  "chunked, chunked"}));
                    note("transfer-encoding");
                    break;
                case 13:
                    lines.push_back(pick(std::vector<std::string>{
                        "X-Tesk-Device: Ana%0D%0ASet-Cookie:%20tesk=1", "Range: bytes=0-0%0D%0AX-A:%20b",
                        "Referer: /%0D%0A%0D%0A", "Cookie: a=%1B%00", "If-Range: %0A"}));
                    note("control in value, encoded");
                    break;
                default:
                    break;
                }
            }

            // Line ends: CRLF as they should be, or bare LF, bare CR, or one odd line.
            std::string eol = "\r\n";
            std::size_t oddLine = lines.size();
            std::string oddEnd;
            switch (below(25)) {
            case 0:
                eol = "\n";
                note("LF lines");
                break;
            case 1:
                eol = "\r";
                note("CR lines");
                break;
            case 2:
                oddLine = below(lines.size());
                oddEnd = chance(0.5) ? "\n" : "\r";
                note("one odd line end");
                break;
            default:
                break;
            }
            std::string head;
            for (std::size_t i = 0; i < lines.size(); ++i) {
                head += lines[i] + (i == oddLine ? oddEnd : eol);
            }
            head += eol;

            // Most clients send everything at once; some dribble the head.
            const std::string wire = head + body;
            if (chance(0.08) && wire.size() > 4) {
                const std::size_t cut = 1 + below(wire.size() - 1);
                request.pieces = {wire.substr(0, cut), wire.substr(cut)};
                note("in two pieces");
            } else {
                request.pieces = {wire};
            }
            request.halfClose = chance(0.85);
            request.label = std::move(label);
            return request;
        }
    };

    HostileTargets t_;
    std::uint64_t seed_;
};

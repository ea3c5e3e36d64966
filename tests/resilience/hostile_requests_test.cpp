// Broken and malicious request heads: tens of thousands judged by the routes alone, then a smaller
// share sent over sockets to a running server. Each must get a status the routes define (or a close
// without one) in a head holding only the fields the server writes; nothing from outside the library
// may be served or written, and over sockets a phone keeps being answered all the while.
#include "core/http.h"
#include "core/names.h"
#include "resilience.h"
#include "server/routes.h"
#include "server_fixture.h"
#include "support/file_contents.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <regex>
#include <set>
#include <sstream>

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

/// Bytes as C-escaped text, cut short, for failure messages.
std::string printable(std::string_view bytes) {
    return testing::PrintToString(std::string(bytes.substr(0, 200)));
}

/// Why `raw` is not one well-formed answer the server could have written; empty when it is one (or
/// nothing, a close without an answer).
std::string problemWith(std::string_view raw, HttpReply& reply) {
    // An upload that failed after "100 Continue" may close without a final answer.
    constexpr std::string_view interim = "HTTP/1.1 100 Continue\r\n\r\n";
    raw.remove_prefix(raw.starts_with(interim) ? interim.size() : 0);
    reply = parseHttpReply(raw);
    // Only the fields the server writes, spelt as it spells them, with no control character but tab in a
    // value and no bare CR or LF: anything else was written by the request.
    static const std::regex head(
        "HTTP/1\\.1 \\d{3} [ -~]+(\r\n(Accept-Ranges|Access-Control-Allow-Origin|"
        "Cache-Control|Connection|Content-(Disposition|Length|Range|Type)|Location): "
        "[^\\x00-\\x08\\x0a-\\x1f\\x7f]*)*\r\n\r\n");
    std::set<std::string> names;
    for (const std::string& line : reply.headerLines) {
        names.insert(line.substr(0, line.find(':')));
    }
    const std::size_t end = raw.find("\r\n\r\n");
    if (raw.empty()) {
        return "";
    } else if (end == std::string_view::npos || !std::regex_match(raw.begin(), raw.begin() + end + 4, head)) {
        return "a malformed head, or a header line the server does not write";
    } else if (!raw.substr(9).starts_with(std::to_string(reply.status) + " " +
                                          std::string(HTTP::reason(reply.status)) + "\r\n")) {
        return "the reason phrase is not the status's";
    } else if (names.size() != reply.headerLines.size() || reply.header("Connection") != "close" ||
               reply.header("Content-Length") != std::to_string(reply.body.size())) {
        return "a field twice, no Connection: close, or a body other than the Content-Length announced";
    }
    return "";
}

/// Every path under `root` (relative) with what it is; file contents are fingerprinted outside
/// `library`, where nothing may change.
std::map<std::string, std::string> treeOf(const fs::path& root, const std::string& library) {
    std::map<std::string, std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string relative = entry.path().lexically_relative(root).generic_string();
        entries[relative] = entry.is_symlink()     ? "link to " + fs::read_symlink(entry.path()).string()
                            : entry.is_directory() ? "directory"
                            : relative.starts_with(library + "/")
                                ? "file"
                                : "file " + std::to_string(std::hash<std::string>{}(readFile(entry.path())));
    }
    return entries;
}

} // namespace

/// A library with something to steal, shares, a pairing code and a paired phone, sentinels around it,
/// and the checks every answer must pass however it was produced.
class HostileRequestsTest : public ServerFixture {
protected:
    HostileRequestsTest()
        : ServerFixture(ServerLimits{.headDeadline = 2s, .transferIdle = 2s, .lingerAfterResponse = 500ms}) {
        // Sentinels beside the library, above it, inside it where nothing is served, and at an absolute path.
        sentinels = {{dir.path() / "sentinel.txt", "SENTINEL beside the library " + tag},
                     {dir.path() / "secrets" / "passwd", "SENTINEL secrets " + tag},
                     {store.filesDir / "sentinel.txt", "SENTINEL loose in files " + tag},
                     {absoluteSentinel, "SENTINEL absolute " + tag}};
        for (const auto& [path, contents] : sentinels) {
            fs::create_directories(path.parent_path());
            std::ofstream(path, std::ios::binary) << contents;
            neverServed.push_back(contents);
        }
        neverServed.push_back(readFile(store.filePath(secret)));
        nearbySentinels = "sentinel.txt|secrets/passwd|files/sentinel.txt|" +
                          absoluteSentinel.lexically_relative(dir.path().parent_path()).string() + "|" +
                          libraryName + "/library.json";
        absoluteSentinels = sentinels[0].first.string() + "|" + absoluteSentinel.string() + "|/etc/passwd|" +
                            (store.root / "library.json").string();
        // Every kind of route the server has (the file thrice, to weight it); a POST sends a body.
        const std::string s = "|GET /s/" + shareToken, d = "|GET /d/" + deviceToken, file = "/f/" + photo.id;
        routes = "GET /|GET /icon.png" + s + s + "/" + s + "/api?folder=" + inner.id + s + file + s + file +
                 s + file + "?inline" + s + "/f/" + note.id + s + "/f/" + secret.id + "|POST /s/" +
                 shareToken + "/upload|POST /s/" + shareToken + "/upload?folder=" + inner.id + "|GET /s/" +
                 inboxToken + "/|POST /s/" + inboxToken + "/upload|GET /p/" + pairingCode + "/|POST /p/" +
                 pairingCode + "/claim" + d + "/" + d + "/ping|POST /d/" + deviceToken + "/upload|POST /d/" +
                 deviceToken + "/text" + d + "/Send%20to%20Tesk.shortcut|GET /d/unknowntoken0000/ping";
        // What a download may carry: every file a share can serve, by the name its disposition gives.
        servable = {{photo.name, photoBytes},
                    {notes.name, readFile(store.filePath(notes))},
                    {note.name + ".txt", *note.content}};
        treeBefore = treeOf(dir.path(), libraryName);
    }

    /// Real routes mutated with the broken and malicious shapes clients send: a deterministic function of
    /// (seed, index), so a failure the test prints with both numbers comes back in the same shape.
    std::string make(std::uint64_t index) const {
        using namespace std::string_literals;
        std::seed_seq sequence{seed, index};
        std::mt19937_64 random(sequence);
        const auto below = [&](std::size_t n) {
            return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
        };
        const auto chance = [&](double p) { return std::bernoulli_distribution(p)(random); };
        // One of the alternatives in `all`, separated by "|" (none holds one): long lists at a glance.
        const auto pick = [&](std::string_view all) {
            std::vector<std::string_view> items;
            for (std::size_t start = 0, bar = 0; bar != std::string_view::npos; start = bar + 1) {
                bar = all.find('|', start);
                items.push_back(all.substr(start, bar - start));
            }
            return std::string(items[below(items.size())]);
        };
        const auto times = [](const std::string& text, std::size_t count) {
            return std::regex_replace(std::string(count, '*'), std::regex("\\*"), text);
        };
        // "../" in the spellings that have fooled servers: encoded, double-encoded, overlong, backslashed.
        const auto climb = [&] {
            return times(pick("../|%2e%2e/|%2E%2E%2F|..%2f|%252e%252e%252f|%c0%ae%c0%ae/|..\\|..%5c|....//|"
                              "..;/|..%00/"),
                         1 + below(6));
        };
        // CR, LF, NUL, ESC, DEL and tab, percent-encoded, alone or carrying header lines of their own.
        const auto control = [&] {
            return pick(
                "%0D%0A|%0d%0aSet-Cookie:%20tesk=1|%0D%0ALocation:%20http://evil.example/%0D%0A%0D%0A|"
                "%0A|%0D|%00|%1B[31m|%7F|%09|x%0D%0A%20folded");
        };
        const std::string s = "/s/" + shareToken;
        // The route's target, mutated in one of these ways, or (a third of the time) left real.
        const std::function<std::string(std::string)> mutations[] = {
            [&](std::string t) { return t.insert(t.rfind('/') + 1, climb()); },
            [&](std::string) { // a file beside the library
                return pick(s + "/f/|" + s + "/|/|/d/" + deviceToken + "/") + climb() + pick(nearbySentinels);
            },
            [&](std::string) { // an absolute path, its slashes encoded or not
                const std::string absolute = pick(absoluteSentinels);
                const std::string encoded = std::regex_replace(absolute, std::regex("/"), "%2F");
                return pick(s + "/f/" + encoded + "|/" + absolute + "|" + s + "/api?folder=" + absolute);
            },
            [&](std::string t) { return t.insert(1 + below(t.size()), chance(0.5) ? "\0"s : "%00"); },
            [&](std::string t) { // in the path, at the start, middle or end of a segment
                return t.insert(1 + below(std::min(t.find('?'), t.size())), control());
            },
            [&](std::string t) { // in a query value
                return t + (t.find('?') == std::string::npos ? "?" : "&") + pick("folder=|inline=") +
                       control();
            },
        };
        const auto uploadName = [&] {
            return pick(
                std::string(300, 'n') + ".txt|" + times("%E2%98%83", 400) +
                ".txt|../../escape.txt|"
                "..%2F..%2Fescape.txt|a%2Fb%2Fc.txt|sub/dir/x.txt|%00evil.txt|evil.txt%00.jpg|..|.|"
                "%2e%2e||%2Fetc%2Fpasswd|%ff%fe.txt|%zz|%0d%0aSet-Cookie:%20x=y.txt|%1B[2J%7F.txt|"
                "tab%09and%0Dcr.txt|library.json|..%2F..%2F..%2Fsentinel.txt|incoming|%E2%80%AEtxt.exe");
        };
        // Header lines beside the route's own: hostile values, a huge line, and broken or odd ones.
        const std::function<std::string()> extraLines[] = {
            [&] {
                return "Range: " +
                       pick("bytes=0-0|bytes=-1|bytes=-0|bytes=5-2|bytes=999999999-|bytes=0-1,2-3|"
                            "bytes=abc|items=0-1|bytes=0-18446744073709551616|"
                            "bytes=-9223372036854775808|bytes=9223372036854775807-||bytes=100-199");
            },
            [&] {
                return pick("X-Tesk-Device|Range|Cookie") + ": " +
                       pick("Ana|bytes=0-0|" + std::string(10000, 'd')) + control();
            },
            [&] { return "X-Big: " + std::string(std::stoul(pick("4000|16500|40000")), 'b'); },
            [&] {
                return pick("X-A: a\rb|X-A: a\0b|X-A: \x7f|: empty|X-A : v|X-A: v\r\n  folded|no colon|"
                            "Expect: 100-continue|Transfer-Encoding: chunked|Connection: upgrade"s);
            },
        };

        const std::string route = pick(routes);
        const std::string path = route.substr(route.find(' ') + 1);
        const std::string method =
            chance(0.85) ? route.substr(0, route.find(' ')) : pick("get|HEAD|PUT|G ET|GET\0||POST|GET"s);
        const std::string version =
            chance(0.9) ? "HTTP/1.1" : pick("HTTP/1.0|HTTP/2.0|http/1.1||HTTP/1.1 extra");
        const std::size_t mutation = below(9);
        std::string head = method + " " + (mutation < 6 ? mutations[mutation](path) : path) + " " + version;
        // Host: usually right, sometimes missing, doubled or odd.
        head +=
            chance(0.9)
                ? "\r\nHost: 127.0.0.1:" + std::to_string(server.port())
                : pick(
                      "\r\nX-No: host|\r\nHost: evil\r\nHost: other|\r\nHost: mac%0D%0ASet-Cookie:%20tesk=1");

        // The body: what the request says it sends and what it really sends.
        const bool withBody = route.starts_with("POST") ? chance(0.9) : chance(0.08);
        std::string body = pattern(withBody ? (chance(0.06) ? 70000 + below(200000) : below(2000)) : 0,
                                   static_cast<std::uint32_t>(random()));
        // Texts and claims that can be taken, and hostile ones.
        if (path.ends_with("/claim") && chance(0.6)) {
            body = pick(R"({"name":"Hostile"}|{"name":"../../x"}|{|{"name":"\u0000"}|{"name":1})");
        } else if (path.ends_with("/text") && chance(0.6)) {
            body = pick("hello|https://example.com/../../|   |\xff\xfe");
        }
        if (withBody) {
            // Its length as it is, more or less than it is, odd, twice, or chunked with or without one.
            const std::string size = std::to_string(body.size());
            const std::string framings[] = {
                std::to_string(body.size() + 1 + below(5000)),
                pick("-1|99999999999999999999|18446744073709551615|9223372036854775807|1e3|abc|0x10|5 5|+" +
                     size + "||5,5|-0|0|" + size + ", " + size),
                size + "\r\nContent-Length: " + pick(size + "|" + std::to_string(body.size() + 7)),
                size + "\r\nTransfer-Encoding: chunked",
                size,
            };
            const std::size_t framing = std::min<std::size_t>(below(12), 4);
            head += framing == 3 && chance(0.7)
                        ? "\r\nTransfer-Encoding: chunked"
                        : (chance(0.1) ? "\r\nX-Length: " : "\r\nContent-Length: ") + framings[framing];
            std::ostringstream chunked;
            chunked << std::hex << body.size() << "\r\n" << body << "\r\n0\r\n\r\n";
            body =
                framing == 3 ? chunked.str() : body + (chance(0.1) ? std::string(1 + below(3000), 'z') : "");
        }
        // Uploads mostly come with a name to store them under: the hostile ones are the point.
        if (path.find("/upload") != std::string::npos && chance(0.7)) {
            head += "\r\nX-Tesk-Name: " + uploadName();
        }
        for (std::size_t extras = below(5); extras > 0; --extras) {
            head += "\r\n" + (chance(0.6) ? extraLines[std::min<std::size_t>(below(6), 3)]() : "Accept: */*");
        }
        // Line ends: CRLF as they should be, or bare LF or CR throughout.
        head += "\r\n\r\n";
        return (chance(0.08) ? std::regex_replace(head, std::regex("\r\n"), pick("\n|\r")) : head) + body;
    }

    /// Counts a fault; the first dozen are reported with the request that caused them.
    void fault(std::uint64_t index, const std::string& wire, const std::string& what, std::string_view raw) {
        std::lock_guard guard(lock);
        if (++faultCount <= 12) {
            ADD_FAILURE() << "#" << index << " (seed " << seed << ") " << what
                          << "\n  request: " << printable(wire) << "\n  answer: " << printable(raw);
        }
    }

    /// Checks one answer as the client receives it, and counts its status (0: closed without one).
    void judge(std::uint64_t index, const std::string& wire, std::string_view raw) {
        HttpReply answer;
        const std::string problem = problemWith(raw, answer);
        // Every status the routes answer with but 500, which stands for a failing disk: this one works.
        static const std::set<int> defined = {0, 200, 201, 204, 206, 301, 400, 403, 404, 410, 413, 416};
        const std::string disposition = answer.header("Content-Disposition");
        const std::size_t nameAt = disposition.find("''"); // filename*=UTF-8''<name>
        const auto served =
            nameAt == std::string::npos
                ? servable.end()
                : servable.find(HTTP::percentDecoded(disposition.substr(nameAt + 2)).value_or(""));
        long long first = 0, last = -1, size = -1;
        std::sscanf(answer.header("Content-Range").c_str(), "bytes %lld-%lld/%lld", &first, &last, &size);
        if (!problem.empty() || !defined.contains(answer.status)) {
            fault(index, wire, problem.empty() ? "a status the routes do not define" : problem, raw);
        } else if (std::any_of(neverServed.begin(), neverServed.end(), [&](const std::string& secret) {
                       return raw.find(secret) != std::string_view::npos;
                   })) {
            fault(index, wire, "served a file from outside the shares", raw);
        } else if (answer.status / 100 == 2 && !disposition.empty() &&
                   (served == servable.end() || (answer.status == 200 && answer.body != served->second) ||
                    (answer.status == 206 &&
                     (size != std::ssize(served->second) || first < 0 || last < first || last >= size ||
                      answer.body != served->second.substr(first, last - first + 1))))) {
            fault(index, wire, "a download that is not the stored bytes of a file in the share", raw);
        }
        std::lock_guard guard(lock);
        ++statuses[answer.status];
    }

    /// Nothing appeared or changed outside the library, and inside it only stored files are new.
    void expectNothingWrittenOutside() const {
        const auto treeAfter = treeOf(dir.path(), libraryName);
        for (const auto& [path, what] : treeAfter) {
            const auto before = treeBefore.find(path);
            EXPECT_TRUE(before != treeBefore.end()
                            ? what == before->second || path.starts_with(libraryName + "/")
                            : path.starts_with(libraryName + "/files/"))
                << "new or changed: " << printable(path);
        }
        for (const auto& [path, what] : treeBefore) {
            EXPECT_TRUE(treeAfter.contains(path)) << "gone: " << path;
        }
        for (const auto& [path, contents] : sentinels) {
            EXPECT_EQ(readFile(path), contents) << path;
        }
    }

    const std::uint64_t seed = fromEnvironment("TESK_HOSTILE_SEED", 20250611);
    const std::string tag = std::to_string(seed) + "-" + std::to_string(::getpid());
    const std::string libraryName = store.root.filename().string();
    const std::string photoBytes = pattern(300000, 1);
    /// Outside the directory the library lives in, for a sentinel reached by its absolute path or by
    /// climbing.
    const TempDir elsewhere;
    const fs::path absoluteSentinel = elsewhere.path() / ("sentinel-" + tag + ".txt");
    const Folder shared = store.addFolder("Shared", std::nullopt),
                 inner = store.addFolder("Inner", shared.id);
    const Item photo = addFile("photo.jpg", photoBytes, shared.id),
               notes = addFile("notes.txt", "shopping: eggs, milk\n", inner.id),
               note = store.addText("Remember the milk on the way home", shared.id).value(),
               secret = addFile("private.txt", "PRIVATE item outside every share " + tag, std::nullopt);
    const std::string deviceToken = store.claimPairing(store.newPairingCode().code, "Ana's iPhone")->token,
                      shareToken =
                          store.share(ShareTarget::folder(shared.id), ShareDuration::day, true).token,
                      inboxToken = store.share(ShareTarget::inbox(), ShareDuration::day, true).token,
                      pairingCode = store.newPairingCode().code;
    /// "|" between them: the routes, sentinel files relative to the library's parent, absolute sentinels.
    std::string routes, nearbySentinels, absoluteSentinels;
    std::vector<std::pair<fs::path, std::string>> sentinels;
    std::vector<std::string> neverServed;
    std::map<std::string, std::string> servable;
    std::map<std::string, std::string> treeBefore;

    std::mutex lock;
    std::size_t faultCount = 0;
    /// Statuses and how often they came; 0 is a close without an answer.
    std::map<int, std::size_t> statuses;
};

TEST_F(HostileRequestsTest, RoutesAnswerOnlyDefinedStatusesAndServeNothingOutsideTheLibrary) {
    const std::uint64_t count = fromEnvironment("TESK_HOSTILE_REQUESTS", sanitized ? 10000 : 20000);
    const ServerFacts facts = server.facts();
    DocumentCache documents;
    std::map<std::string, std::size_t> answers; // by the kind of answer the routes gave
    for (std::uint64_t index = 0; index < count; ++index) {
        const std::string wire = make(index);
        const HTTPParseResult parsed = HTTP::parse(wire);
        const auto* head = parsed.request();
        if (!head) {
            // The connection answers an invalid head with its fixed 400, and closes on one never ended.
            ++statuses[parsed.isInvalid() ? 400 : 0];
            continue;
        }
        const auto fail = [&](const std::string& what) { fault(index, wire, what, ""); };
        const Routes::Answer answer = Routes::answer(head->request, store, facts, documents);
        if (const auto* response = std::get_if<HTTPResponse>(&answer)) {
            judge(index, wire, response->serialized());
        } else if (const auto* download = std::get_if<Routes::Download>(&answer)) {
            // Streamed from where the store keeps the item, as the server streams it.
            ++answers["downloads"];
            const std::string bytes = readFile(store.filePath(download->item));
            const auto send = Routes::send(head->request, download->item, std::ssize(bytes));
            if (download->shareToken != shareToken) {
                fail("streams " + download->item.name + " through " + download->shareToken);
            } else if (const auto* refused = std::get_if<HTTPResponse>(&send)) {
                judge(index, wire, refused->serialized());
            } else if (const auto& plan = std::get<Routes::FileSend>(send);
                       plan.start < 0 || plan.count < 0 || plan.start + plan.count > std::ssize(bytes)) {
                fail("sends " + std::to_string(plan.count) + " bytes from " + std::to_string(plan.start));
            } else {
                judge(index, wire, plan.head + bytes.substr(plan.start, plan.count));
            }
        } else if (const auto* upload = std::get_if<Routes::Upload>(&answer)) {
            // Not received here: the route decides where it goes and how long it is, the store its name.
            ++answers["uploads judged without receiving them"];
            const auto* into = std::get_if<Routes::Upload::IntoShare>(&upload->destination);
            const auto* phone = std::get_if<Routes::Upload::FromPhone>(&upload->destination);
            const std::optional<std::string> folder = into ? into->folder : std::nullopt;
            const std::string name = Names::safeFileName(upload->name);
            if (head->request.contentLength() != upload->length || upload->length <= 0 ||
                (phone && phone->token != deviceToken) ||
                (into && !(into->share.allowsUploads &&
                           (into->share.token == inboxToken ||
                            (into->share.token == shareToken &&
                             (!folder || folder == shared.id || folder == inner.id)))))) {
                fail("takes an upload of " + std::to_string(upload->length) + " bytes it should not");
            }
            if (name.empty() || name == "." || name == ".." || name.size() > 255 ||
                name.find_first_of(std::string("/\0", 2)) != std::string::npos) {
                fail("would store an upload as " + printable(name));
            }
        } else {
            ++answers["small bodies settled"];
            const auto& small = std::get<Routes::SmallBody>(answer);
            const auto* claim = std::get_if<Routes::SmallBody::Claim>(&small.purpose);
            const auto* text = std::get_if<Routes::SmallBody::Text>(&small.purpose);
            // 64 KiB: the most the server holds in memory for one request's body.
            if (small.length > 65536 || (claim && claim->code != pairingCode) ||
                (text && text->token != deviceToken)) {
                fail("reads a body of " + std::to_string(small.length) + " bytes for no open code or phone");
            }
            // A client that sent less than it announced has left by the time the rest is due.
            const std::string body = wire.substr(head->headerLength);
            const auto received =
                body.size() >= small.length ? std::optional(body.substr(0, small.length)) : std::nullopt;
            judge(index, wire, Routes::settle(small, received, store, facts).response.serialized());
        }
    }
    EXPECT_EQ(faultCount, 0u);
    // The mix must really reach the routes: refusals, pages, downloads, ranges, uploads and texts.
    for (const int status : {200, 201, 206, 400, 404, 416}) {
        EXPECT_GT(statuses[status], 0u) << "no " << status << " among the answers";
    }
    EXPECT_EQ(answers.size(), 3u) << "no downloads, uploads or small bodies among the answers";
    expectNothingWrittenOutside();
    std::printf("[hostile requests] routes alone: statuses %s, %s\n",
                testing::PrintToString(statuses).c_str(), testing::PrintToString(answers).c_str());
}

TEST_F(HostileRequestsTest, ServerOverSocketsAnswersTheSameHeadsAndKeepsAnsweringAPhone) {
    const std::uint64_t count = fromEnvironment("TESK_HOSTILE_SOCKET_REQUESTS", sanitized ? 1000 : 1500);
    std::atomic<std::uint64_t> next{0};
    std::atomic<std::uint64_t> finished{0};
    std::vector<std::thread> workers;
    for (int i = 0; i < 8; ++i) {
        workers.emplace_back([&] {
            for (std::uint64_t index; (index = next++) < count; ++finished) {
                const std::string wire = make(index);
                // Most clients send everything at once and half-close; some dribble the head, some wait.
                const std::size_t cut = index % 12 == 5 ? 1 + index * 7919 % (wire.size() - 1) : wire.size();
                std::string raw;
                try {
                    RawClient client(server.port());
                    try {
                        client.send(wire.substr(0, cut));
                        std::this_thread::sleep_for(cut < wire.size() ? 2ms : 0ms);
                        client.send(wire.substr(cut));
                    } catch (const std::system_error&) {
                        // The server may refuse before everything was sent (a head already too long).
                    }
                    raw = index % 7 != 3 ? "" : client.readExactly(1, 300ms);
                    client.shutdownSend();
                    raw += client.readAll(8s);
                    if (!client.closedWithin(50ms)) {
                        fault(index, wire, "still open 8 s after the request ended", raw);
                    }
                } catch (const std::exception& error) {
                    fault(index, wire, std::string("connection failed: ") + error.what(), "");
                }
                judge(index, wire, raw);
            }
        });
    }
    // Meanwhile a phone keeps asking for the page and the photo, every 50 hostile requests.
    std::size_t probes = 0, probesAnswered = 0;
    for (std::uint64_t mark = 50; mark <= count; mark += 50, ++probes) {
        while (finished < mark) {
            std::this_thread::sleep_for(2ms);
        }
        const auto asked = Clock::now();
        probesAnswered += get("/").status == 200 &&
                          get("/s/" + shareToken + "/f/" + photo.id).body == photoBytes &&
                          Clock::now() - asked < 2s;
    }
    for (auto& worker : workers) {
        worker.join();
    }
    EXPECT_EQ(faultCount, 0u);
    // Through the connections too: refusals, pages, downloads and stored uploads.
    for (const int status : {200, 201, 400, 404}) {
        EXPECT_GT(statuses[status], 0u) << "no " << status << " among the answers";
    }
    EXPECT_EQ(probesAnswered, probes);
    // Everything settles: no connection left, nothing half-received, nothing written outside.
    EXPECT_TRUE(eventually([&] { return server.connectionCount() == 0; }));
    EXPECT_TRUE(eventually([&] { return fs::is_empty(server.uploadsDir()); }));
    expectNothingWrittenOutside();

    // Uploads with hostile names landed as items, each a plain file right in files/<id>/ (a name with "/"
    // or a NUL, or "." or "..", or past 255 bytes lands anywhere else or nowhere).
    std::size_t received = 0;
    std::set<std::string> inFiles{"sentinel.txt"};
    for (const Item& item : store.snapshot().items) {
        if (item.kind == ItemKind::file) {
            inFiles.insert(item.id);
            received += item.receivedFrom.has_value();
            EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(store.filePath(item))) &&
                        fs::canonical(store.filePath(item)).parent_path() ==
                            fs::canonical(store.filesDir) / item.id)
                << printable(item.name);
        }
    }
    for (const auto& entry : fs::directory_iterator(store.filesDir)) {
        EXPECT_TRUE(inFiles.contains(entry.path().filename().string()))
            << "stray entry in files/: " << printable(entry.path().filename().string());
    }
    EXPECT_GT(received, 0u);
    std::printf("[hostile requests] over sockets: statuses %s, %zu uploads filed\n",
                testing::PrintToString(statuses).c_str(), received);
}

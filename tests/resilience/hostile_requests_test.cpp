// Broken and malicious request heads: tens of thousands judged by the routes alone, then a smaller
// share sent over sockets to a running server. Each must get a status the routes define (or a close
// without one) in a head holding only the fields the server writes; nothing from outside the library
// may be served or written, and over sockets a phone keeps being answered all the while.
#include "hostile_requests.h"

#include "core/http.h"
#include "core/names.h"
#include "server/routes.h"
#include "server_fixture.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <map>
#include <mutex>
#include <numeric>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// The sanitizer build is several times slower: fewer heads keep it well under a minute.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool sanitized = true;
#else
constexpr bool sanitized = false;
#endif

std::uint64_t fromEnvironment(const char* name, std::uint64_t fallback) {
    const char* text = std::getenv(name);
    return text && *text ? std::strtoull(text, nullptr, 10) : fallback;
}

std::string fileContents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

/// Bytes as C-escaped text, cut to `limit`, for failure messages.
std::string printable(std::string_view bytes, std::size_t limit = 160) {
    std::string text;
    for (const char c : bytes.substr(0, limit)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7f) {
            text += c;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            text += escaped;
        }
    }
    return bytes.size() > limit ? text + "..." : text;
}

/// A response read strictly: anything but one well-formed answer is a problem.
struct Answer {
    /// 0 when nothing arrived.
    int status = 0;
    std::map<std::string, std::string> headers;
    std::string body;
    std::string problem;
};

Answer readAnswer(std::string_view raw) {
    Answer answer;
    const auto problem = [&](std::string what) {
        answer.problem = std::move(what);
        return answer;
    };
    // An upload that failed after "100 Continue" may close without a final answer.
    constexpr std::string_view interim = "HTTP/1.1 100 Continue\r\n\r\n";
    if (raw.starts_with(interim)) {
        raw.remove_prefix(interim.size());
    }
    if (raw.empty()) {
        return answer;
    }
    const std::size_t end = raw.find("\r\n\r\n");
    if (end == std::string_view::npos) {
        return problem("head never ended");
    }
    std::string_view head = raw.substr(0, end);
    answer.body = std::string(raw.substr(end + 4));
    for (std::size_t i = 0; i < head.size(); ++i) {
        if ((head[i] == '\r' && (i + 1 == head.size() || head[i + 1] != '\n')) ||
            (head[i] == '\n' && (i == 0 || head[i - 1] != '\r'))) {
            return problem("bare CR or LF in the head");
        }
    }
    const std::string_view line = head.substr(0, std::min(head.find("\r\n"), head.size()));
    const auto digit = [&](std::size_t i) { return line.size() > i && line[i] >= '0' && line[i] <= '9'; };
    if (!line.starts_with("HTTP/1.1 ") || !digit(9) || !digit(10) || !digit(11) || line.size() < 14 ||
        line[12] != ' ') {
        return problem("malformed status line");
    }
    answer.status = std::stoi(std::string(line.substr(9, 3)));
    if (line.substr(13) != HTTP::reason(answer.status)) {
        return problem("reason phrase does not match the status");
    }
    head.remove_prefix(line.size());
    while (!head.empty()) {
        head.remove_prefix(2);
        const std::string_view field = head.substr(0, std::min(head.find("\r\n"), head.size()));
        head.remove_prefix(field.size());
        const std::size_t colon = field.find(": ");
        if (colon == std::string_view::npos || colon == 0) {
            return problem("malformed header line");
        }
        // Only the fields the server writes, each once, spelt as it spells them: anything else was
        // written by the request.
        static const std::set<std::string, std::less<>> sent = {"Accept-Ranges",
                                                                "Access-Control-Allow-Origin",
                                                                "Cache-Control",
                                                                "Connection",
                                                                "Content-Disposition",
                                                                "Content-Length",
                                                                "Content-Range",
                                                                "Content-Type",
                                                                "Location"};
        const std::string_view value = field.substr(colon + 2);
        if (!sent.contains(field.substr(0, colon))) {
            return problem("header the server never sends");
        }
        if (std::any_of(value.begin(), value.end(), [](char c) {
                return c != '\t' && (static_cast<unsigned char>(c) < 0x20 || c == 0x7f);
            })) {
            return problem("control character in a header value");
        }
        std::string name(field.substr(0, colon));
        std::transform(name.begin(), name.end(), name.begin(), [](char c) { return std::tolower(c); });
        if (!answer.headers.emplace(name, value).second) {
            return problem("header sent twice");
        }
    }
    if (answer.headers["connection"] != "close") {
        return problem("no Connection: close");
    }
    if (answer.headers["content-length"] != std::to_string(answer.body.size())) {
        return problem("body of " + std::to_string(answer.body.size()) + " bytes, announced \"" +
                       answer.headers["content-length"] + "\"");
    }
    return answer;
}

/// Sends one request on its own connection and reads until the server closes; `hung` when it did not
/// close within a few seconds.
std::string exchange(std::uint16_t port, const HostileRequest& request, bool& hung) {
    RawClient client(port);
    try {
        for (std::size_t i = 0; i < request.pieces.size(); ++i) {
            if (i > 0) {
                std::this_thread::sleep_for(2ms);
            }
            client.send(request.pieces[i]);
        }
    } catch (const std::system_error&) {
        // The server may refuse before everything was sent (a head already too long); read its answer.
    }
    std::string raw;
    if (!request.halfClose) {
        raw = client.readExactly(1, 300ms);
    }
    client.shutdownSend();
    raw += client.readAll(8s);
    hung = !client.closedWithin(50ms);
    return raw;
}

/// Every path under `root` (relative, generic form) with what it is; file contents are fingerprinted
/// outside `library`, where nothing may change.
std::map<std::string, std::string> treeOf(const fs::path& root, const std::string& library) {
    std::map<std::string, std::string> entries;
    std::error_code error;
    for (fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, error), end;
         !error && it != end; it.increment(error)) {
        const std::string relative = it->path().lexically_relative(root).generic_string();
        const fs::file_status status = it->symlink_status(error);
        if (fs::is_symlink(status)) {
            entries[relative] = "link to " + fs::read_symlink(it->path(), error).string();
        } else if (fs::is_directory(status)) {
            entries[relative] = "directory";
        } else if (relative.starts_with(library + "/")) {
            entries[relative] = "file";
        } else {
            entries[relative] = "file " + std::to_string(std::hash<std::string>{}(fileContents(it->path())));
        }
    }
    return entries;
}

/// The name a download's Content-Disposition gives, decoded from its filename* form.
std::optional<std::string> dispositionName(const std::string& value) {
    const std::string marker = "filename*=UTF-8''";
    const std::size_t at = value.find(marker);
    if (at == std::string::npos) {
        return std::nullopt;
    }
    return HTTP::percentDecoded(std::string_view(value).substr(at + marker.size()));
}

/// "200: 12, 404: 3", with 0 as "no answer".
std::string histogram(const std::map<int, std::size_t>& statuses) {
    std::string text;
    for (const auto& [status, times] : statuses) {
        text += (text.empty() ? "" : ", ") + (status ? std::to_string(status) : "no answer") + ": " +
                std::to_string(times);
    }
    return text;
}

} // namespace

/// A library with something to steal, shares, a pairing code and a paired phone, sentinels around it,
/// and the checks every answer must pass however it was produced.
class HostileRequestsTest : public ServerFixture {
protected:
    HostileRequestsTest()
        : ServerFixture(ServerLimits{.headDeadline = 2s, .transferIdle = 2s, .lingerAfterResponse = 500ms}) {
        const Folder shared = store.addFolder("Shared", std::nullopt);
        const Folder inner = store.addFolder("Inner", shared.id);
        for (std::size_t i = 0; i < 300000; ++i) {
            photoBytes += static_cast<char>((i * 31 + 7) % 251);
        }
        const std::string notesText = "shopping: eggs, milk\n";
        const std::string privateText = "PRIVATE item outside every share " + tag;
        const Item photo = addFile("photo.jpg", photoBytes, shared.id);
        const Item notes = addFile("notes.txt", notesText, inner.id);
        const Item note = store.addText("Remember the milk on the way home", shared.id).value();
        const Item privateItem = addFile("private.txt", privateText, std::nullopt);
        const PairedDevice phone = store.claimPairing(store.newPairingCode().code, "Ana's iPhone").value();

        // Sentinels beside the library, above it, inside it where nothing is served, and at an absolute
        // path.
        const fs::path outside = dir.path();
        sentinels = {{outside / "sentinel.txt", "SENTINEL beside the library " + tag},
                     {outside / "secrets" / "passwd", "SENTINEL secrets " + tag},
                     {store.filesDir / "sentinel.txt", "SENTINEL loose in files " + tag},
                     {absoluteSentinel, "SENTINEL absolute " + tag}};
        for (const auto& [path, contents] : sentinels) {
            fs::create_directories(path.parent_path());
            std::ofstream(path, std::ios::binary) << contents;
            neverServed.push_back(contents);
        }
        neverServed.push_back(privateText);
        targets = {.port = server.port(),
                   .shareToken = store.share(ShareTarget::folder(shared.id), ShareDuration::day, true).token,
                   .sharedFolderID = shared.id,
                   .innerFolderID = inner.id,
                   .fileID = photo.id,
                   .noteID = note.id,
                   .privateFileID = privateItem.id,
                   .inboxToken = store.share(ShareTarget::inbox(), ShareDuration::day, true).token,
                   .pairingCode = store.newPairingCode().code,
                   .deviceToken = phone.token,
                   .nearbySentinels = {"sentinel.txt", "secrets/passwd", "files/sentinel.txt",
                                       absoluteSentinel.lexically_relative(dir.path().parent_path()).string(),
                                       libraryName + "/library.json"},
                   .absoluteSentinels = {sentinels[0].first.string(), absoluteSentinel.string(),
                                         "/etc/passwd", (store.root / "library.json").string()}};
        // What a download may carry: every file a share can serve, by the name its disposition gives.
        servable = {{photo.name, photoBytes}, {notes.name, notesText}, {note.name + ".txt", *note.content}};
        treeBefore = treeOf(outside, libraryName);
    }

    /// Counts a fault; the first dozen are reported with the request that caused them.
    void fault(std::uint64_t index, const HostileRequest& request, const std::string& what,
               std::string_view raw) {
        std::lock_guard guard(lock);
        if (++faultCount <= 12) {
            ADD_FAILURE() << "#" << index << " [" << printable(request.label, 200) << "]: " << what
                          << " | answer: " << printable(raw);
        }
    }

    /// Checks one answer as the client receives it, and counts its status (0: closed without one).
    void judge(std::uint64_t index, const HostileRequest& request, std::string_view raw) {
        // Every status the routes answer with, but 500: that one stands for a failing disk, and this one
        // works.
        static const std::set<int> defined = {200, 201, 204, 206, 301, 400, 403, 404, 410, 413, 416};
        Answer answer = readAnswer(raw);
        if (!answer.problem.empty()) {
            fault(index, request, answer.problem, raw);
        } else if (answer.status != 0 && !defined.contains(answer.status)) {
            fault(index, request, "status " + std::to_string(answer.status) + " is not one the routes define",
                  raw);
        }
        for (const auto& secret : neverServed) {
            if (raw.find(secret) != std::string::npos) {
                fault(index, request, "served a file from outside the shares: " + secret, raw);
            }
        }
        if ((answer.status == 200 || answer.status == 206) &&
            answer.headers.contains("content-disposition")) {
            const auto name = dispositionName(answer.headers.at("content-disposition"));
            const auto expected = name ? servable.find(*name) : servable.end();
            if (expected == servable.end()) {
                fault(index, request, "served something that is not in the share", raw);
            } else if (answer.status == 200 && answer.body != expected->second) {
                fault(index, request, "download differs from the stored file", raw);
            } else if (answer.status == 206) {
                long long first = -1;
                long long last = -1;
                long long size = -1;
                if (std::sscanf(answer.headers["content-range"].c_str(), "bytes %lld-%lld/%lld", &first,
                                &last, &size) != 3 ||
                    size != static_cast<long long>(expected->second.size()) || first < 0 || last < first ||
                    last >= size || answer.body != expected->second.substr(first, last - first + 1)) {
                    fault(index, request, "partial download differs from the stored bytes", raw);
                }
            }
        }
        std::lock_guard guard(lock);
        ++statuses[answer.status];
    }

    /// Nothing appeared or changed outside the library, every sentinel is whole, and inside the library
    /// only stored files are new.
    void expectNothingWrittenOutside() const {
        const auto treeAfter = treeOf(dir.path(), libraryName);
        for (const auto& [path, what] : treeAfter) {
            const auto before = treeBefore.find(path);
            if (before == treeBefore.end()) {
                EXPECT_TRUE(path.starts_with(libraryName + "/files/")) << "new: " << printable(path);
            } else if (!path.starts_with(libraryName + "/")) {
                EXPECT_EQ(what, before->second) << "changed: " << path;
            }
        }
        for (const auto& [path, what] : treeBefore) {
            EXPECT_TRUE(treeAfter.contains(path)) << "gone: " << path;
        }
        for (const auto& [path, contents] : sentinels) {
            EXPECT_EQ(fileContents(path), contents) << path;
        }
    }

    const std::uint64_t seed = fromEnvironment("TESK_HOSTILE_SEED", 20250611);
    const std::string tag = std::to_string(seed) + "-" + std::to_string(::getpid());
    const std::string libraryName = store.root.filename().string();
    /// Beside the directory the library lives in, for a sentinel reached by its absolute path or by climbing.
    const TempDir elsewhere;
    const fs::path absoluteSentinel = elsewhere.path() / ("sentinel-" + tag + ".txt");
    std::string photoBytes;
    HostileTargets targets;
    std::vector<std::pair<fs::path, std::string>> sentinels;
    std::vector<std::string> neverServed;
    std::map<std::string, std::string> servable;
    std::map<std::string, std::string> treeBefore;

    std::mutex lock;
    std::size_t faultCount = 0;
    std::map<int, std::size_t> statuses;
};

TEST_F(HostileRequestsTest, RoutesAnswerOnlyDefinedStatusesAndServeNothingOutsideTheLibrary) {
    const std::uint64_t count = fromEnvironment("TESK_HOSTILE_REQUESTS", sanitized ? 10000 : 20000);
    const HostileRequestGenerator generator(targets, seed);
    const ServerFacts facts = server.facts();
    DocumentCache documents;
    std::map<std::string, std::string> streamed;
    std::size_t downloads = 0;
    std::size_t uploads = 0;
    std::size_t settled = 0;
    const auto started = Clock::now();
    for (std::uint64_t index = 0; index < count; ++index) {
        const HostileRequest request = generator.make(index);
        const std::string wire = std::accumulate(request.pieces.begin(), request.pieces.end(), std::string());
        const HTTPParseResult parsed = HTTP::parse(wire);
        const auto* head = parsed.request();
        if (!head) {
            // The connection answers an invalid head with its fixed 400, and closes on one never ended.
            ++statuses[parsed.isInvalid() ? 400 : 0];
            continue;
        }
        const auto fail = [&](const std::string& what) { fault(index, request, what, ""); };
        const Routes::Answer answer = Routes::answer(head->request, store, facts, documents);
        if (const auto* response = std::get_if<HTTPResponse>(&answer)) {
            judge(index, request, response->serialized());
        } else if (const auto* download = std::get_if<Routes::Download>(&answer)) {
            if (++downloads; download->shareToken != targets.shareToken) {
                fail("streams " + download->item.name + " through " + download->shareToken);
            }
            // Streamed from where the store keeps the item, as the server streams it; read once.
            std::string& bytes = streamed[download->item.id];
            if (bytes.empty()) {
                bytes = fileContents(store.filePath(download->item));
            }
            const auto size = static_cast<std::int64_t>(bytes.size());
            const auto send = Routes::send(head->request, download->item, size);
            if (const auto* refused = std::get_if<HTTPResponse>(&send)) {
                judge(index, request, refused->serialized());
            } else if (const auto& plan = std::get<Routes::FileSend>(send);
                       plan.start < 0 || plan.count < 0 || plan.start + plan.count > size) {
                fail("sends " + std::to_string(plan.count) + " bytes from " + std::to_string(plan.start) +
                     " of a file of " + std::to_string(size));
            } else {
                judge(index, request, plan.head + bytes.substr(plan.start, plan.count));
            }
        } else if (const auto* upload = std::get_if<Routes::Upload>(&answer)) {
            // Not received here: the route decides where it goes and how long it is, the store its name.
            ++uploads;
            const auto announced = head->request.contentLength();
            if (!announced || *announced != upload->length || upload->length <= 0) {
                fail("takes an upload of " + std::to_string(upload->length) + " bytes");
            }
            if (const auto* into = std::get_if<Routes::Upload::IntoShare>(&upload->destination)) {
                const auto& folder = into->folder;
                const bool intoFolder =
                    into->share.token == targets.shareToken &&
                    (!folder || folder == targets.sharedFolderID || folder == targets.innerFolderID);
                if (!(intoFolder || into->share.token == targets.inboxToken) || !into->share.allowsUploads) {
                    fail("takes an upload through " + into->share.token + " into " + folder.value_or("-"));
                }
            } else if (std::get<Routes::Upload::FromPhone>(upload->destination).token !=
                       targets.deviceToken) {
                fail("takes an upload from a phone never paired");
            }
            const std::string name = Names::safeFileName(upload->name);
            if (name.empty() || name == "." || name == ".." || name.size() > 255 ||
                name.find_first_of(std::string("/\0", 2)) != std::string::npos) {
                fail("would store an upload as " + printable(name));
            }
        } else {
            ++settled;
            const auto& small = std::get<Routes::SmallBody>(answer);
            const auto* claim = std::get_if<Routes::SmallBody::Claim>(&small.purpose);
            const auto* text = std::get_if<Routes::SmallBody::Text>(&small.purpose);
            // The most the server holds in memory for one request's body.
            if (small.length > 65536 || (claim && claim->code != targets.pairingCode) ||
                (text && text->token != targets.deviceToken)) {
                fail("reads a body of " + std::to_string(small.length) + " bytes for no open code or phone");
            }
            // A client that sent less than it announced has left by the time the rest is due.
            const std::string_view body = std::string_view(wire).substr(head->headerLength);
            const auto received = body.size() >= small.length
                                      ? std::optional<std::string>(body.substr(0, small.length))
                                      : std::nullopt;
            judge(index, request, Routes::settle(small, received, store, facts).response.serialized());
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();

    EXPECT_EQ(faultCount, 0u) << "seed " << seed;
    // The mix must really reach the routes: refusals, pages, downloads, ranges, uploads and texts.
    for (const int status : {200, 201, 206, 400, 404, 416}) {
        EXPECT_GT(statuses[status], 0u) << "no " << status << " among the answers";
    }
    EXPECT_GT(uploads, 0u);
    EXPECT_GT(settled, 0u);
    expectNothingWrittenOutside();

    std::ostringstream summary;
    summary << "hostile requests, routes alone: " << count << " heads (seed " << seed << ") in " << std::fixed
            << std::setprecision(1) << seconds << " s, statuses {" << histogram(statuses) << "}, "
            << downloads << " downloads, " << uploads
            << " uploads judged by where they go and the name they get, " << settled
            << " small bodies settled, " << faultCount
            << " faults; no sentinel served, nothing new outside the library";
    std::cout << summary.str() << std::endl;
    RecordProperty("summary", summary.str());
}

TEST_F(HostileRequestsTest, ServerOverSocketsAnswersTheSameHeadsAndKeepsAnsweringAPhone) {
    const std::uint64_t count = fromEnvironment("TESK_HOSTILE_SOCKET_REQUESTS", sanitized ? 1000 : 1500);
    const HostileRequestGenerator generator(targets, seed);
    std::atomic<std::uint64_t> next{0};
    std::atomic<std::uint64_t> finished{0};
    // Meanwhile a phone keeps asking for the page and the photo: every `probeEvery` hostile requests.
    const std::uint64_t probeEvery = 50;
    const auto probeBound = 1000ms;
    std::size_t probes = 0;
    std::size_t probesAnswered = 0;
    Clock::duration slowestProbe{};
    std::atomic<bool> workersDone{false};
    std::thread prober([&] {
        for (std::uint64_t mark = probeEvery; mark <= count; mark += probeEvery) {
            while (finished.load() < mark && !workersDone.load()) {
                std::this_thread::sleep_for(2ms);
            }
            const auto started = Clock::now();
            const Response page = get("/");
            const auto between = Clock::now();
            const Response download = get("/s/" + targets.shareToken + "/f/" + targets.fileID);
            const auto ended = Clock::now();
            ++probes;
            slowestProbe = std::max({slowestProbe, between - started, ended - between});
            if (page.status == 200 && page.body.find("Tesk") != std::string::npos && download.status == 200 &&
                download.body == photoBytes && between - started < probeBound &&
                ended - between < probeBound) {
                ++probesAnswered;
            }
        }
    });

    const auto started = Clock::now();
    std::vector<std::thread> workers;
    for (int i = 0; i < 8; ++i) {
        workers.emplace_back([&] {
            for (std::uint64_t index; (index = next.fetch_add(1)) < count; finished.fetch_add(1)) {
                const HostileRequest request = generator.make(index);
                bool hung = false;
                std::string raw;
                try {
                    raw = exchange(server.port(), request, hung);
                } catch (const std::exception& error) {
                    fault(index, request, std::string("connection failed: ") + error.what(), "");
                    continue;
                }
                if (hung) {
                    fault(index, request, "still open 8 s after the request ended", raw);
                }
                judge(index, request, raw);
            }
        });
    }
    for (auto& worker : workers) {
        worker.join();
    }
    workersDone = true;
    prober.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();

    EXPECT_EQ(faultCount, 0u) << "seed " << seed;
    // Through the connections too: refusals, pages, downloads and stored uploads.
    for (const int status : {200, 201, 400, 404}) {
        EXPECT_GT(statuses[status], 0u) << "no " << status << " among the answers";
    }
    EXPECT_EQ(probesAnswered, probes);
    EXPECT_GE(probes, count / probeEvery);

    // Everything settles: no connection left, nothing half-received.
    EXPECT_TRUE(eventually([&] { return server.connectionCount() == 0; }));
    EXPECT_TRUE(eventually([&] { return fs::is_empty(server.uploadsDir()); }));
    expectNothingWrittenOutside();

    // Uploads with hostile names landed as items in the library, each a plain file right in files/<id>/
    // (a name with "/" or a NUL, or "." or "..", or past 255 bytes lands anywhere else or nowhere).
    const fs::path filesDir = fs::canonical(store.filesDir);
    std::size_t received = 0;
    std::set<std::string> fileIDs;
    for (const Item& item : store.snapshot().items) {
        if (item.kind == ItemKind::file) {
            fileIDs.insert(item.id);
            received += item.receivedFrom ? 1 : 0;
            const fs::path file = store.filePath(item);
            std::error_code error;
            EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(file))) << printable(item.name);
            EXPECT_EQ(fs::canonical(file, error).parent_path(), filesDir / item.id) << printable(item.name);
        }
    }
    for (const auto& entry : fs::directory_iterator(store.filesDir)) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name == "sentinel.txt" || (fileIDs.contains(name) && entry.is_directory()))
            << "stray entry in files: " << printable(name);
    }
    EXPECT_GT(received, 0u);

    std::ostringstream summary;
    summary << "hostile requests, over sockets: " << count << " heads (seed " << seed << ") in " << std::fixed
            << std::setprecision(1) << seconds << " s, statuses {" << histogram(statuses) << "}, "
            << faultCount << " faults; " << received
            << " uploads stored under plain names in files/<id>/, no sentinel served, nothing new outside "
               "the library; normal request answered "
            << probesAnswered << "/" << probes << " times, slowest "
            << std::chrono::duration_cast<std::chrono::milliseconds>(slowestProbe).count() << " ms";
    std::cout << summary.str() << std::endl;
    RecordProperty("summary", summary.str());
}

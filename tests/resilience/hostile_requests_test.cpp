// Twenty thousand broken and malicious request heads against a running server: it must answer each
// with a status its routes define (or close without one) in a head holding only the fields it writes,
// serve nothing from outside the library, write nothing outside it, and keep answering a phone all the
// while.
#include "hostile_requests.h"

#include "core/http.h"
#include "server_fixture.h"

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

// The sanitizer build is several times slower: half the requests keep it well under a minute.
#if defined(__SANITIZE_ADDRESS__)
constexpr std::uint64_t defaultCount = 10000;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr std::uint64_t defaultCount = 10000;
#else
constexpr std::uint64_t defaultCount = 20000;
#endif
#else
constexpr std::uint64_t defaultCount = 20000;
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

void writeFile(const fs::path& path, const std::string& contents) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << contents;
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
    bool interimContinue = false;
    std::map<std::string, std::string> headers;
    std::string body;
    std::string problem;
};

Answer readAnswer(std::string_view raw) {
    Answer answer;
    if (raw.empty()) {
        return answer;
    }
    constexpr std::string_view interim = "HTTP/1.1 100 Continue\r\n\r\n";
    if (raw.starts_with(interim)) {
        answer.interimContinue = true;
        raw.remove_prefix(interim.size());
        if (raw.empty()) {
            return answer; // the upload then failed; closing without a final answer is allowed
        }
    }
    const std::size_t end = raw.find("\r\n\r\n");
    if (end == std::string_view::npos) {
        answer.problem = "head never ended";
        return answer;
    }
    std::string_view head = raw.substr(0, end);
    answer.body = std::string(raw.substr(end + 4));
    for (std::size_t i = 0; i < head.size(); ++i) {
        if ((head[i] == '\r' && (i + 1 == head.size() || head[i + 1] != '\n')) ||
            (head[i] == '\n' && (i == 0 || head[i - 1] != '\r'))) {
            answer.problem = "bare CR or LF in the head";
            return answer;
        }
    }
    const std::string_view line = head.substr(0, std::min(head.find("\r\n"), head.size()));
    const auto digit = [&](std::size_t i) { return line.size() > i && line[i] >= '0' && line[i] <= '9'; };
    if (!line.starts_with("HTTP/1.1 ") || !digit(9) || !digit(10) || !digit(11) || line.size() < 14 ||
        line[12] != ' ') {
        answer.problem = "malformed status line";
        return answer;
    }
    answer.status = std::stoi(std::string(line.substr(9, 3)));
    if (line.substr(13) != HTTP::reason(answer.status)) {
        answer.problem = "reason phrase does not match the status";
        return answer;
    }
    head.remove_prefix(line.size());
    while (!head.empty()) {
        head.remove_prefix(2);
        const std::string_view field = head.substr(0, std::min(head.find("\r\n"), head.size()));
        head.remove_prefix(field.size());
        const std::size_t colon = field.find(": ");
        if (colon == std::string_view::npos || colon == 0) {
            answer.problem = "malformed header line";
            return answer;
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
            answer.problem = "header the server never sends";
            return answer;
        }
        if (std::any_of(value.begin(), value.end(), [](char c) {
                return c != '\t' && (static_cast<unsigned char>(c) < 0x20 || c == 0x7f);
            })) {
            answer.problem = "control character in a header value";
            return answer;
        }
        std::string name(field.substr(0, colon));
        std::transform(name.begin(), name.end(), name.begin(), [](char c) { return std::tolower(c); });
        if (!answer.headers.emplace(name, value).second) {
            answer.problem = "header sent twice";
            return answer;
        }
    }
    if (answer.headers["connection"] != "close") {
        answer.problem = "no Connection: close";
    } else if (!answer.headers.contains("content-length")) {
        answer.problem = "no Content-Length";
    } else if (answer.headers["content-length"] != std::to_string(answer.body.size())) {
        answer.problem = "body of " + std::to_string(answer.body.size()) + " bytes, announced " +
                         answer.headers["content-length"];
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

/// Removes a file when the test ends, however it ends.
struct RemovedAtEnd {
    fs::path path;
    ~RemovedAtEnd() {
        std::error_code ignored;
        fs::remove(path, ignored);
    }
};

} // namespace

class HostileRequestsTest : public ServerFixture {
protected:
    HostileRequestsTest()
        : ServerFixture(ServerLimits{.headDeadline = 2s, .transferIdle = 2s, .lingerAfterResponse = 500ms}) {}
};

TEST_F(HostileRequestsTest, AnswersOnlyDefinedStatusesServesAndWritesNothingOutsideTheLibrary) {
    const std::uint64_t count = fromEnvironment("TESK_HOSTILE_REQUESTS", defaultCount);
    const std::uint64_t seed = fromEnvironment("TESK_HOSTILE_SEED", 20250611);
    const std::string tag = std::to_string(seed) + "-" + std::to_string(::getpid());

    // A library with something to steal, shares, a pairing code and a paired phone.
    const Folder shared = store.addFolder("Shared", std::nullopt);
    const Folder inner = store.addFolder("Inner", shared.id);
    std::string photoBytes(300000, '\0');
    for (std::size_t i = 0; i < photoBytes.size(); ++i) {
        photoBytes[i] = static_cast<char>((i * 31 + 7) % 251);
    }
    const Item photo = addFile("photo.jpg", photoBytes, shared.id);
    const std::string notesText = "shopping: eggs, milk\n";
    const Item notes = addFile("notes.txt", notesText, inner.id);
    const Item note = store.addText("Remember the milk on the way home", shared.id).value();
    const std::string privateText = "PRIVATE item outside every share " + tag;
    const Item privateItem = addFile("private.txt", privateText, std::nullopt);
    const Share share = store.share(ShareTarget::folder(shared.id), ShareDuration::day, true);
    const Share inbox = store.share(ShareTarget::inbox(), ShareDuration::day, true);
    const PairedDevice phone = store.claimPairing(store.newPairingCode().code, "Ana's iPhone").value();
    const std::string code = store.newPairingCode().code;

    // Sentinels beside the library, above it, inside it where nothing is served, and at an absolute path.
    const fs::path library = store.root;
    const fs::path outside = dir.path();
    const fs::path absoluteSentinel = fs::temp_directory_path() / ("tesk-hostile-sentinel-" + tag + ".txt");
    const RemovedAtEnd removeAbsolute{absoluteSentinel};
    std::vector<std::pair<fs::path, std::string>> sentinels = {
        {outside / "sentinel.txt", "SENTINEL beside the library " + tag},
        {outside / "secrets" / "passwd", "SENTINEL secrets " + tag},
        {store.filesDir / "sentinel.txt", "SENTINEL loose in files " + tag},
        {absoluteSentinel, "SENTINEL absolute " + tag},
    };
    for (const auto& [path, contents] : sentinels) {
        writeFile(path, contents);
    }
    const std::vector<std::string> neverServed = {sentinels[0].second, sentinels[1].second,
                                                  sentinels[2].second, sentinels[3].second, privateText};

    HostileTargets targets;
    targets.port = server.port();
    targets.shareToken = share.token;
    targets.sharedFolderID = shared.id;
    targets.innerFolderID = inner.id;
    targets.fileID = photo.id;
    targets.noteID = note.id;
    targets.privateFileID = privateItem.id;
    targets.inboxToken = inbox.token;
    targets.pairingCode = code;
    targets.deviceToken = phone.token;
    targets.nearbySentinels = {"sentinel.txt", "secrets/passwd", "files/sentinel.txt",
                               absoluteSentinel.filename().string(),
                               library.filename().string() + "/library.json"};
    targets.absoluteSentinels = {sentinels[0].first.string(), absoluteSentinel.string(), "/etc/passwd",
                                 (library / "library.json").string()};
    const HostileRequestGenerator generator(targets, seed);

    // What a download may carry: every file a share can serve, by the name its disposition gives.
    const std::map<std::string, std::string> servable = {
        {photo.name, photoBytes}, {notes.name, notesText}, {note.name + ".txt", note.content.value_or("")}};
    // Every status the routes answer with, but 500: that one stands for a failing disk, and this one works.
    const std::set<int> defined = {200, 201, 204, 206, 301, 400, 403, 404, 410, 413, 416};
    const std::string libraryName = library.filename().string();
    const auto treeBefore = treeOf(outside, libraryName);

    std::mutex lock;
    std::map<int, std::size_t> statuses;
    std::size_t interims = 0;
    std::size_t failureCount = 0;
    std::vector<std::string> failures;
    std::atomic<std::uint64_t> next{0};
    std::atomic<std::uint64_t> finished{0};
    const auto fail = [&](std::uint64_t index, const HostileRequest& request, const std::string& what,
                          std::string_view raw) {
        std::lock_guard guard(lock);
        ++failureCount;
        if (failures.size() < 12) {
            failures.push_back("#" + std::to_string(index) + " [" + printable(request.label, 200) +
                               "]: " + what + " | answer: " + printable(raw));
        }
    };

    const auto check = [&](std::uint64_t index) {
        const HostileRequest request = generator.make(index);
        bool hung = false;
        std::string raw;
        try {
            raw = exchange(server.port(), request, hung);
        } catch (const std::exception& error) {
            fail(index, request, std::string("connection failed: ") + error.what(), "");
            return;
        }
        const Answer answer = readAnswer(raw);
        if (hung) {
            fail(index, request, "still open 8 s after the request ended", raw);
        }
        if (!answer.problem.empty()) {
            fail(index, request, answer.problem, raw);
        } else if (answer.status != 0 && !defined.contains(answer.status)) {
            fail(index, request, "status " + std::to_string(answer.status) + " is not one the routes define",
                 raw);
        }
        for (const auto& secret : neverServed) {
            if (raw.find(secret) != std::string::npos) {
                fail(index, request, "served a file from outside the shares: " + secret, raw);
            }
        }
        if ((answer.status == 200 || answer.status == 206) &&
            answer.headers.contains("content-disposition")) {
            const auto name = dispositionName(answer.headers.at("content-disposition"));
            const auto expected = name ? servable.find(*name) : servable.end();
            if (expected == servable.end()) {
                fail(index, request, "served something that is not in the share", raw);
            } else if (answer.status == 200 && answer.body != expected->second) {
                fail(index, request, "download differs from the stored file", raw);
            } else if (answer.status == 206) {
                long long first = -1;
                long long last = -1;
                long long size = -1;
                const auto range = answer.headers.find("content-range");
                const bool described =
                    range != answer.headers.end() &&
                    std::sscanf(range->second.c_str(), "bytes %lld-%lld/%lld", &first, &last, &size) == 3;
                if (!described || size != static_cast<long long>(expected->second.size()) || first < 0 ||
                    last < first || last >= size ||
                    answer.body != expected->second.substr(first, last - first + 1)) {
                    fail(index, request, "partial download differs from the stored bytes", raw);
                }
            }
        }
        std::lock_guard guard(lock);
        ++statuses[answer.status];
        interims += answer.interimContinue ? 1 : 0;
    };

    // Meanwhile a phone keeps asking for the page and the photo: every `probeEvery` hostile requests.
    const std::uint64_t probeEvery = 500;
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
            const Response download = get("/s/" + share.token + "/f/" + photo.id);
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
                check(index);
            }
        });
    }
    for (auto& worker : workers) {
        worker.join();
    }
    workersDone = true;
    prober.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();

    for (const auto& failure : failures) {
        ADD_FAILURE() << failure;
    }
    EXPECT_EQ(failureCount, 0u) << "seed " << seed;
    // The mix must really reach the routes: refusals, pages, downloads, ranges and stored uploads.
    for (const int status : {200, 201, 206, 400, 404, 416}) {
        EXPECT_GT(statuses[status], 0u) << "no " << status << " among the answers";
    }
    EXPECT_EQ(probesAnswered, probes);
    EXPECT_GE(probes, count / probeEvery);

    // Everything settles: no connection left, nothing half-received.
    EXPECT_TRUE(eventually([&] { return server.connectionCount() == 0; }));
    EXPECT_TRUE(eventually([&] { return fs::is_empty(server.uploadsDir()); }));

    // Nothing appeared or changed outside the library; inside it only stored files are new.
    const auto treeAfter = treeOf(outside, libraryName);
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

    // Uploads with hostile names landed as items in the library, each in files/<id>/ under a plain name.
    const Library after = store.snapshot();
    const fs::path filesDir = fs::canonical(store.filesDir);
    std::size_t received = 0;
    std::set<std::string> fileIDs;
    for (const Item& item : after.items) {
        if (item.kind != ItemKind::file) {
            continue;
        }
        fileIDs.insert(item.id);
        received += item.receivedFrom ? 1 : 0;
        SCOPED_TRACE(printable(item.name));
        EXPECT_FALSE(item.name.empty());
        EXPECT_EQ(item.name.find('/'), std::string::npos);
        EXPECT_EQ(item.name.find('\0'), std::string::npos);
        EXPECT_NE(item.name, ".");
        EXPECT_NE(item.name, "..");
        EXPECT_LE(item.name.size(), 255u);
        const fs::path stored = store.fileURL(item);
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(stored)));
        std::error_code error;
        EXPECT_EQ(fs::canonical(stored, error).parent_path(), filesDir / item.id);
    }
    for (const auto& entry : fs::directory_iterator(store.filesDir)) {
        const std::string name = entry.path().filename().string();
        if (name == "sentinel.txt") {
            continue;
        }
        EXPECT_TRUE(fileIDs.contains(name)) << "stray entry in files: " << printable(name);
        EXPECT_TRUE(entry.is_directory()) << name;
    }
    EXPECT_GT(received, 0u);

    std::ostringstream histogram;
    for (const auto& [status, times] : statuses) {
        histogram << (histogram.tellp() > 0 ? ", " : "") << (status ? std::to_string(status) : "no answer")
                  << ": " << times;
    }
    std::ostringstream summary;
    summary << "hostile requests: " << count << " heads (seed " << seed << ") in " << std::fixed
            << std::setprecision(1) << seconds << " s, statuses {" << histogram.str() << "}, " << interims
            << " after 100 Continue, " << failureCount << " faults; " << received
            << " uploads stored under plain names in files/<id>/, no sentinel served, nothing new outside "
               "the library; normal request answered "
            << probesAnswered << "/" << probes << " times, slowest "
            << std::chrono::duration_cast<std::chrono::milliseconds>(slowestProbe).count() << " ms";
    std::cout << summary.str() << std::endl;
    RecordProperty("summary", summary.str());
}

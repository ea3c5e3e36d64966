// Every route as a table: a request head in, the answer out. No sockets, no threads.
#include "server/routes.h"

#include "server/device_pages.h"
#include "server/receiver_page.h"
#include "support/store_fixture.h"

#include <nlohmann/json.hpp>

#include <fstream>
#include <functional>
#include <regex>

using nlohmann::json;
namespace fs = std::filesystem;

namespace {

/// The request whose head is `head` with "" after the path.
HTTPRequest parsed(std::string head) {
    head.insert(std::min(head.find("\r\n"), head.size()), " HTTP/1.1");
    const auto result = HTTP::parse(head + "\r\n\r\n");
    EXPECT_TRUE(result.request()) << head;
    return result.request() ? result.request()->request : HTTPRequest{};
}

} // namespace

class RoutesTest : public StoreFixture {
protected:
    RoutesTest() {
        facts.macName = "Ana's laptop";
        facts.port = 47470;
        top = store->addFolder("Top", std::nullopt);
        inner = store->addFolder("Inner", top.id);
        deep = store->addFolder("Deep", inner.id);
        outside = store->addFolder("Outside", std::nullopt);
        photo = store->addFile(makeFile("photo.jpg", "jpeg bytes"), inner.id).at(0);
        note = store->addText("a note", inner.id).value();
        secret = store->addFile(makeFile("secret.txt", "secret"), outside.id).at(0);
        shared = store->share(ShareTarget::folder(top.id), ShareDuration::day, true);
        phone = store->claimPairing(store->newPairingCode().code, "Ana's iPhone").value();
    }

    /// The response, or one with status 0 whose body names the work the route handed on.
    HTTPResponse reply(const std::string& head) {
        const auto answer = Routes::answer(parsed(head), *store, facts, documents);
        std::string work;
        if (const auto* response = std::get_if<HTTPResponse>(&answer)) {
            return *response;
        } else if (const auto* download = std::get_if<Routes::Download>(&answer)) {
            work = "download " + download->item.name;
        } else if (const auto* archive = std::get_if<Routes::Archive>(&answer)) {
            work = "archive " + archive->name + ":";
            for (const auto& entry : archive->entries) {
                work += " " + entry.name +
                        (entry.file.empty() ? "" : "@" + entry.file.parent_path().filename().string());
            }
        } else if (const auto* upload = std::get_if<Routes::Upload>(&answer)) {
            work = "upload " + upload->name + " from " + upload->sender + " (" +
                   std::to_string(upload->length) + (upload->expectsContinue ? ", continue)" : ")");
        } else {
            const auto& body = std::get<Routes::SmallBody>(answer);
            work = (body.purpose.index() == 0 ? "claim " : "text ") + std::to_string(body.length);
        }
        return {0, {}, work};
    }
    json document(const std::string& query = "") {
        return json::parse(reply("GET /s/" + shared.token + "/api" + query).body);
    }

    ServerFacts facts;
    DocumentCache documents;
    Folder top, inner, deep, outside;
    Item photo, note, secret;
    Share shared;
    PairedDevice phone;
};

TEST_F(RoutesTest, EveryPathAnswersWithItsStatusHeadAndBody) {
    const Share hourly = store->share(ShareTarget::item(photo.id), ShareDuration::hour, true);
    const std::array bundled{ShareTarget::folder(inner.id), ShareTarget::item(secret.id)};
    const Share bundle = store->share(bundled, ShareDuration::day).value();
    store->setAllowsUploads(bundle.token, true);
    const std::string code = store->newPairingCode().code;
    const std::string s = "/s/" + shared.token + "/";
    const std::string b = "POST /s/" + bundle.token + "/upload";
    const std::string d = "/d/" + phone.token + "/";
    const std::string up = s + "upload?folder=" + top.id;
    const std::string shortcut = "GET " + d + "Send%20to%20Tesk.shortcut";
    const std::string notFound = "Not found";
    const std::string html = "Content-Type: text/html; charset=utf-8\r\nCache-Control: no-store";
    const std::string gone = "Ask the person who shared it to send a new one.";
    // A row with `before` changes the fixture for every row after it.
    const struct {
        std::string request;
        int status;
        std::string body;      // exact, or "~" and a part the body holds
        std::string head = ""; // header lines the response holds, where they matter
        std::function<void()> before = [] {};
    } rows[] = {
        {"GET /", 200, "~Ask its owner for a link or a QR code.", html},
        {"GET /icon.png", 404, notFound},
        {"GET /icon.png", 200, "png", "Content-Type: image/png\r\nCache-Control: public, max-age=86400",
         [&] { facts.iconPNG = std::make_shared<const std::string>("png"); }},
        {"GET /x", 404, notFound, "Content-Type: text/plain; charset=utf-8"},
        {"GET " + s, 200, std::string(ReceiverPage::html()), html},
        {"GET /s/" + shared.token + "?x=1", 301, "", "Location: " + s + "\r\n"},
        {"GET /s/nosuch/api", 404, "~This link doesn't work"},
        {"GET /s/nosuch/f/x", 404, "~It may have been stopped. Ask the person who shared it for a new one."},
        {"GET " + s + "api", 200, "~\"mac\":\"Ana's laptop\"",
         "Content-Type: application/json\r\nCache-Control: no-store"},
        {"GET " + s + "api?folder=" + outside.id, 404, R"({"error":"not found"})"},
        {"GET " + s + "f/" + photo.id, 0, "download photo.jpg"},
        {"GET " + s + "f/" + note.id, 200, "a note",
         "Content-Disposition: attachment; filename=\"a note.txt\"; filename*=UTF-8''a%20note.txt"},
        {"GET " + s + "f/" + secret.id, 404, notFound},
        // What the page shows, folders with all they hold; files by their stored copies, notes as text.
        {"GET " + s + "zip", 0,
         "archive Top.zip: Inner/ Inner/Deep/ Inner/photo.jpg@" + photo.id + " Inner/a note.txt"},
        {"GET " + s + "zip?folder=" + inner.id, 0,
         "archive Inner.zip: Deep/ photo.jpg@" + photo.id + " a note.txt"},
        {"GET " + s + "zip?folder=" + outside.id, 404, notFound},
        {"GET /s/" + hourly.token + "/zip", 404, notFound},
        {"HEAD " + s + "f/" + photo.id, 404, notFound},
        // A folder share names the folder.
        {"POST " + s + "upload\r\nContent-Length: 1", 403, "Not allowed"},
        {"POST " + up, 400, "Missing Content-Length"},
        {"POST " + s + "upload?folder=" + outside.id + "\r\nContent-Length: 1", 403, "Not allowed"},
        {"POST " + s + "upload?folder=" + deep.id + "\r\nContent-Length: 4", 0,
         "upload file from a browser (4)"},
        {"POST " + up +
             "\r\nContent-Length: 9\r\nExpect: 100-Continue\r\nX-Tesk-Name: a%20b.jpg"
             "\r\nX-Tesk-Device: " +
             std::string(50, 'n'),
         0, "upload a b.jpg from " + std::string(40, 'n') + " (9, continue)"},
        {"POST " + up + "\r\nContent-Length: 1\r\nX-Tesk-Name: %ZZ", 0, "upload file from a browser (1)"},
        // A bundle share takes files only into its folders.
        {b + "\r\nContent-Length: 1", 0, "upload file from a browser (1)"},
        {b + "?folder=" + deep.id + "\r\nContent-Length: 1", 0, "upload file from a browser (1)"},
        {b + "?folder=" + top.id + "\r\nContent-Length: 1", 403, "Not allowed"},
        {b + "?folder=" + outside.id + "\r\nContent-Length: 1", 403, "Not allowed"},
        {"GET " + d + "ping", 204, "", "Access-Control-Allow-Origin: *"},
        {"GET " + d + "api", 200, R"({"device":"Ana's iPhone","mac":"Ana's laptop"})"},
        {shortcut, 404, "Not ready yet. Try again in a moment."},
        {shortcut, 200, "bplist00\x01", "Content-Disposition: attachment; filename=\"Send to Tesk.shortcut\"",
         [&] {
             fs::create_directories(store->root / "shortcuts");
             std::ofstream(store->root / "shortcuts" / (phone.token + ".shortcut"), std::ios::binary)
                 << "bplist00\x01";
         }},
        // The installed page opens at, and stays within, this phone's own page.
        {"GET " + d + "manifest.json", 200, "~\"start_url\":\"" + d + "\",\"scope\":\"" + d + "\"",
         "Content-Type: application/manifest+json"},
        {"PUT " + d + "text\r\nContent-Length: 1", 404, notFound},
        {"POST " + d + "upload", 400, "Missing Content-Length"},
        {"POST " + d + "upload\r\nContent-Length: 4\r\nX-Tesk-Name: IMG%201.jpg", 0,
         "upload IMG 1.jpg from Ana's iPhone (4)"},
        {"POST " + d + "text\r\nContent-Length: 5", 0, "text 5"},
        {"POST " + d + "text\r\nContent-Length: 65536", 0, "text 65536"},
        {"POST " + d + "text\r\nContent-Length: 65537", 400, "Nothing to send"},
        {"POST " + d + "text", 400, "Nothing to send"},
        {"GET /d/nosuch/", 404, "~This phone isn't paired anymore"},
        {"GET /d/nosuch/ping", 404, "", "Access-Control-Allow-Origin: *"},
        {"GET /d/nosuch/api", 404, "Not paired"},
        {"GET /p/" + code + "/", 200, DevicePages::pair("Ana's laptop")},
        {"GET " + d, 200, DevicePages::phone(phone.token, "", false)},
        {"GET " + d, 200, DevicePages::phone(phone.token, "https://relay.example" + d, true), "",
         [&] {
             facts.offersShareSheet = true;
             facts.deviceBase = "https://relay.example/d";
         }},
        {"POST /p/" + code + "/claim\r\nContent-Length: 17", 0, "claim 17"},
        // A claim without a readable body is not read at all.
        {"POST /p/" + code + "/claim", 0, "claim 0"},
        {"POST /p/" + code + "/claim\r\nContent-Length: 65537", 0, "claim 0"},
        {"GET /p/abc", 301, "", "Location: /p/abc/\r\n"},
        {"GET /p/nosuch/", 410, "~Make a new one in Tesk on the computer: Phones \u2192 Pair a phone."},
        {"POST /p/nosuch/claim", 410, R"({"error":"expired"})"},
        // A removed phone is paired nowhere, its shortcut included.
        {shortcut, 404, "Not paired", "", [&] { store->removeDevice(phone.id); }},
        // Gone shares, as a page or as JSON. Expiry is exclusive: at the instant the link is gone.
        {"GET /s/" + hourly.token + "/", 200, std::string(ReceiverPage::html())},
        {"GET " + s, 410, "~This link was turned off", "", [&] { store->stopSharing(shared.token); }},
        {"GET " + s + "f/" + photo.id, 410, "~" + gone},
        {"POST " + s + "api", 410, R"({"error":"expired"})"},
        {"GET /s/" + hourly.token + "/", 410, "~This link has expired", "", [&] { clock.advance(3600); }},
        {"GET /s/" + hourly.token + "/f/" + photo.id, 410, "~" + gone},
        {"GET /s/" + hourly.token + "/api", 410, R"({"error":"expired"})"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.request);
        row.before();
        const HTTPResponse response = reply(row.request);
        EXPECT_EQ(response.status, row.status);
        EXPECT_TRUE(row.body.starts_with("~") ? response.body.find(row.body.substr(1)) != std::string::npos
                                              : response.body == row.body)
            << response.body;
        const std::string serialized = response.serialized();
        EXPECT_NE(serialized.substr(0, serialized.find("\r\n\r\n")).find(row.head), std::string::npos)
            << serialized;
        // Pages are read on a phone about a Linux computer; a visitor's browser on a Mac is one ("Mac";).
        static const std::regex foreign("\\bMac\\b(?!\";)|Finder|\u2318|[Mm]enu[ -]bar");
        EXPECT_FALSE(std::regex_search(response.body, foreign)) << "a word from another desktop";
    }
}

TEST_F(RoutesTest, DocumentListsTheAskedFolderWithinTheShareAndFollowsEveryChange) {
    EXPECT_EQ(document("?folder=")["folderID"], top.id);
    const json innerDocument = document("?folder=" + inner.id);
    EXPECT_EQ(innerDocument["items"].size(), 2u);
    EXPECT_EQ(innerDocument["folders"][0]["name"], "Deep");
    EXPECT_FALSE(innerDocument.contains("followURL"));

    store->addText("another", top.id);
    EXPECT_EQ(document()["items"].size(), 1u);
    facts.macName = "Renamed";
    EXPECT_EQ(document()["mac"], "Renamed");
    store->setAllowsUploads(shared.token, false);
    EXPECT_EQ(document()["canUpload"], false);
    EXPECT_EQ(reply("POST /s/" + shared.token + "/upload\r\nContent-Length: 1").body,
              "This link doesn't accept files");

    // Only folder and bundle shares can be followed.
    facts.followBase = "https://relay.example/f";
    EXPECT_EQ(document()["followURL"], "https://relay.example/f/" + shared.token + "/follow");
    const Share item = store->share(ShareTarget::item(photo.id), ShareDuration::day, true);
    EXPECT_FALSE(json::parse(reply("GET /s/" + item.token + "/api").body).contains("followURL"));
}

// A document is cached under the library version it was built from. Here the uploads switch lands
// while the route reads the clock, between any two looks it might take at the library: the next request
// at the same version must still see the switch.
TEST(ShareDocumentTest, IsCachedOnlyUnderTheVersionItWasBuiltFrom) {
    TempDir dir;
    std::function<void()> onNextClockRead;
    LibraryStore store(dir.path() / "Tesk", [&] {
        if (auto hook = std::exchange(onNextClockRead, nullptr)) {
            hook();
        }
        return Date{786000000.0};
    });
    const Share share =
        store.share(ShareTarget::folder(store.addFolder("Top", std::nullopt).id), ShareDuration::day, true);
    DocumentCache documents;
    const auto canUpload = [&] {
        const auto answer =
            Routes::answer(parsed("GET /s/" + share.token + "/api"), store, ServerFacts{}, documents);
        return json::parse(std::get<HTTPResponse>(answer).body)["canUpload"].get<bool>();
    };
    for (const bool allows : {false, true}) {
        SCOPED_TRACE(allows);
        onNextClockRead = [&store, &share, allows] { store.setAllowsUploads(share.token, allows); };
        canUpload();
        EXPECT_EQ(canUpload(), allows);
    }
}

// Claims name the phone from their body and every address of its page; a code claimed once is used up.
// Texts and files from a phone land in its folder; unusable texts are refused.
TEST_F(RoutesTest, SmallBodiesSettleIntoAPairingOrAText) {
    const auto settled = [&](const Routes::SmallBody& body, const std::optional<std::string>& received) {
        const auto [response, event] = Routes::settle(body, received, *store, facts);
        std::string out = std::to_string(response.status) + " " + response.body;
        if (const auto* paired = event ? std::get_if<ServerEvent::Paired>(&event->value) : nullptr) {
            // The fresh token written as "T", so answers compare whole.
            out = std::regex_replace(out + ", paired " + paired->device.name,
                                     std::regex(paired->device.token), "T");
        } else if (const auto* got = event ? std::get_if<ServerEvent::Received>(&event->value) : nullptr) {
            out += ", " + std::string(toString(got->item.kind)) + " from " + got->from + " as " +
                   got->item.receivedFrom.value_or("?") + " in " +
                   store->snapshot().folder(got->item.folderID)->name;
        }
        return out;
    };
    const Routes::SmallBody text{Routes::SmallBody::Text{phone.token, phone.name}};
    const struct {
        bool claims;
        std::optional<std::string> received;
        std::string expected;
        std::function<void()> before = [] {};
    } rows[] = {
        {true, R"({"name":"Kitchen iPad"})",
         R"(200 {"ip":"http://mac:47470/d/T/","token":"T"}, paired Kitchen iPad)"},
        {true, std::nullopt, R"(200 {"ip":"http://mac:47470/d/T/","token":"T"}, paired Phone)"},
        {true, R"({"name":"B"})",
         R"(200 {"ip":"http://mac:47470/d/T/","launcher":"https://relay.example/d/T/",)"
         R"("local":"http://anas-laptop.local:47470/d/T/","token":"T"}, paired B)",
         [&] {
             facts.deviceBase = "https://relay.example/d";
             facts.localHostName = "anas-laptop.local";
         }},
        {false, std::nullopt, "400 Nothing to send"},
        {false, "https://example.com/recipe",
         R"(201 {"ok":true}, link from Ana's iPhone as Ana's iPhone in From Ana's iPhone)"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.received.value_or("(none)"));
        row.before();
        const Routes::SmallBody body =
            row.claims
                ? Routes::SmallBody{Routes::SmallBody::Claim{store->newPairingCode().code, "mac:47470"}}
                : text;
        EXPECT_EQ(settled(body, row.received), row.expected);
        EXPECT_TRUE(!row.claims || settled(body, "{}") == R"(410 {"error":"expired"})")
            << "a code claimed twice";
    }
    const Item file =
        Routes::file(Routes::Upload{Routes::Upload::FromPhone{phone.token}, "IMG 1.jpg", phone.name, 4},
                     makeFile("part", "jpeg"), *store);
    const Library library = store->snapshot();
    EXPECT_EQ(file.receivedFrom.value_or("") + " in " + library.folder(file.folderID)->name,
              "Ana's iPhone in From Ana's iPhone");
    EXPECT_EQ(library.device(phone.token)->sentCount, 2);
}

TEST_F(RoutesTest, DownloadsSendTheRangeAskedAndCountOnlyWholeAttachments) {
    const struct {
        std::string request;
        std::int64_t size;
        std::string plan;  // status, first byte + bytes sent, whether the send counts
        std::string field; // one field the head must hold
    } rows[] = {
        {"GET /x", 10, "200 0+10 counts",
         "Content-Type: image/jpeg\r\nContent-Disposition: attachment; "
         "filename=\"photo.jpg\"; filename*=UTF-8''photo.jpg\r\nAccept-Ranges: bytes"},
        {"GET /x", 0, "200 0+0 counts", "Content-Length: 0"},
        {"GET /x\r\nRange: bytes=0-3", 10, "206 0+4 counts", "Content-Range: bytes 0-3/10"},
        {"GET /x\r\nRange: bytes=4-", 10, "206 4+6", "Content-Range: bytes 4-9/10"},
        {"GET /x?inline", 10, "200 0+10", "Cache-Control: private, max-age=3600"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.request);
        const auto send = Routes::send(parsed(row.request), photo, row.size);
        const auto* plan = std::get_if<Routes::FileSend>(&send);
        ASSERT_TRUE(plan);
        EXPECT_EQ(plan->head.substr(9, 4) + std::to_string(plan->start) + "+" + std::to_string(plan->count) +
                      (plan->counts ? " counts" : ""),
                  row.plan);
        EXPECT_NE(plan->head.find(row.field), std::string::npos) << plan->head;
    }
    const auto refused =
        std::get<HTTPResponse>(Routes::send(parsed("GET /x\r\nRange: bytes=10-"), photo, 10));
    EXPECT_TRUE(refused.serialized().starts_with(
        "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */10\r\n"));
}

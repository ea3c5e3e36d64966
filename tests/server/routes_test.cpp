// Every route as a table: a request head in, the answer out. No sockets, no threads.
#include "server/routes.h"

#include "server/device_pages.h"
#include "server/receiver_page.h"
#include "support/store_fixture.h"

#include <nlohmann/json.hpp>

#include <fstream>
#include <regex>

using nlohmann::json;
namespace fs = std::filesystem;

namespace {

/// An answer's kind and what the table compares: the whole response, or the kind of work it names.
std::string describe(const Routes::Answer& answer) {
    if (const auto* response = std::get_if<HTTPResponse>(&answer)) {
        return response->serialized();
    }
    if (const auto* download = std::get_if<Routes::Download>(&answer)) {
        return "download " + download->item.name;
    }
    if (const auto* upload = std::get_if<Routes::Upload>(&answer)) {
        return "upload " + upload->name + " from " + upload->sender + " (" + std::to_string(upload->length) +
               (upload->expectsContinue ? ", continue)" : ")");
    }
    const auto& body = std::get<Routes::SmallBody>(answer);
    return (std::holds_alternative<Routes::SmallBody::Claim>(body.purpose) ? "claim " : "text ") +
           std::to_string(body.length);
}

/// The first word in `text` that belongs to another desktop, or "": pages are read on a phone about a
/// Linux computer.
std::string foreignWord(std::string text) {
    // A visitor whose browser runs on a Mac is one: the shared script names such a sender "Mac".
    const std::string senderKind = "return \"Mac\";";
    for (std::size_t at; (at = text.find(senderKind)) != std::string::npos;) {
        text.erase(at, senderKind.size());
    }
    static const std::regex words("\\bMac\\b|Finder|\u2318|[Mm]enu[ -]bar");
    std::smatch found;
    return std::regex_search(text, found, words) ? found.str() : std::string();
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
        code = store->newPairingCode().code;
    }

    Routes::Answer ask(const std::string& head) {
        const auto parsed = HTTP::parse(head + "\r\n\r\n");
        EXPECT_TRUE(parsed.request()) << head;
        return parsed.request() ? Routes::answer(parsed.request()->request, *store, facts, documents)
                                : Routes::Answer{};
    }
    /// The response, or an empty one with status 0 when the route named other work.
    HTTPResponse reply(const std::string& head) {
        auto answer = ask(head);
        auto* response = std::get_if<HTTPResponse>(&answer);
        return response ? *response : HTTPResponse{0, {}, describe(answer)};
    }
    json document(const std::string& query = "") {
        return json::parse(reply("GET /s/" + shared.token + "/api" + query + " HTTP/1.1\r\n").body);
    }

    ServerFacts facts;
    DocumentCache documents;
    Folder top, inner, deep, outside;
    Item photo, note, secret;
    Share shared;
    PairedDevice phone;
    std::string code;
};

TEST_F(RoutesTest, EveryPathAnswersWithItsStatusAndBody) {
    const std::string s = "/s/" + shared.token + "/";
    const std::string d = "/d/" + phone.token + "/";
    const std::string up = s + "upload?folder=" + top.id;
    const std::string notFound = "Not found";
    const struct {
        std::string head;
        int status;
        std::string body; // exact, or "~" and a part the body holds
    } rows[] = {
        {"GET / HTTP/1.1", 200,
         "~This computer shares files with Tesk. Ask its owner for a link or a QR code."},
        {"GET /icon.png HTTP/1.1", 404, notFound},
        {"GET /x HTTP/1.1", 404, notFound},
        {"GET " + s + " HTTP/1.1", 200, std::string(ReceiverPage::html())},
        {"GET /s/nosuch/api HTTP/1.1", 404, "~This link doesn't work"},
        {"GET /s/nosuch/f/x HTTP/1.1", 404,
         "~It may have been stopped. Ask the person who shared it for a new one."},
        {"GET " + s + "api?folder=" + outside.id + " HTTP/1.1", 404, R"({"error":"not found"})"},
        {"GET " + s + "api?folder=nosuch HTTP/1.1", 404, R"({"error":"not found"})"},
        {"GET " + s + "f/" + photo.id + " HTTP/1.1", 0, "download photo.jpg"},
        {"GET " + s + "f/" + note.id + " HTTP/1.1", 200, "a note"},
        {"GET " + s + "f/" + secret.id + " HTTP/1.1", 404, notFound},
        {"GET " + s + "f/" + photo.id + "/more HTTP/1.1", 404, notFound},
        {"HEAD " + s + "f/" + photo.id + " HTTP/1.1", 404, notFound},
        {"POST " + s + "api HTTP/1.1", 404, notFound},
        {"GET " + s + "nothing HTTP/1.1", 404, notFound},
        {"POST " + s + "upload HTTP/1.1\r\nContent-Length: 1", 403,
         "Not allowed"}, // a folder share names one
        {"POST " + up + " HTTP/1.1", 400, "Missing Content-Length"},
        {"POST " + s + "upload?folder=" + outside.id + " HTTP/1.1\r\nContent-Length: 1", 403, "Not allowed"},
        {"POST " + s + "upload?folder=" + deep.id + " HTTP/1.1\r\nContent-Length: 4", 0,
         "upload file from a browser (4)"},
        {"POST " + up +
             " HTTP/1.1\r\nContent-Length: 9\r\nExpect: 100-Continue\r\nX-Tesk-Name: a%20b.jpg"
             "\r\nX-Tesk-Device: " +
             std::string(50, 'n'),
         0, "upload a b.jpg from " + std::string(40, 'n') + " (9, continue)"},
        {"POST " + up + " HTTP/1.1\r\nContent-Length: 1\r\nX-Tesk-Name: %ZZ", 0,
         "upload file from a browser (1)"},
        {"GET " + d + "ping HTTP/1.1", 204, ""},
        {"GET " + d + "api HTTP/1.1", 200, R"({"device":"Ana's iPhone","mac":"Ana's laptop"})"},
        {"GET " + d + "Send%20to%20Tesk.shortcut HTTP/1.1", 404, "Not ready yet. Try again in a moment."},
        {"GET " + d + "manifest.json HTTP/1.1", 200, DevicePages::manifest(phone.token)},
        {"HEAD " + d + " HTTP/1.1", 404, notFound},
        {"PUT " + d + "text HTTP/1.1\r\nContent-Length: 1", 404, notFound},
        {"POST " + d + "upload HTTP/1.1", 400, "Missing Content-Length"},
        {"POST " + d + "upload HTTP/1.1\r\nContent-Length: 4\r\nX-Tesk-Name: IMG%201.jpg", 0,
         "upload IMG 1.jpg from Ana's iPhone (4)"},
        {"POST " + d + "text HTTP/1.1\r\nContent-Length: 5", 0, "text 5"},
        {"POST " + d + "text HTTP/1.1\r\nContent-Length: 65536", 0, "text 65536"},
        {"POST " + d + "text HTTP/1.1\r\nContent-Length: 65537", 400, "Nothing to send"},
        {"POST " + d + "text HTTP/1.1", 400, "Nothing to send"},
        {"GET /d/nosuch/ HTTP/1.1", 404, "~This phone isn't paired anymore"},
        {"GET /d/nosuch/ping HTTP/1.1", 404, ""},
        {"GET /d/nosuch/api HTTP/1.1", 404, "Not paired"},
        {"GET /p/" + code + "/ HTTP/1.1", 200, DevicePages::pair("Ana's laptop")},
        {"GET " + d + " HTTP/1.1", 200, DevicePages::phone(phone.token, "", false)},
        {"POST /p/" + code + "/claim HTTP/1.1\r\nContent-Length: 17", 0, "claim 17"},
        // A claim without a readable body is not read at all.
        {"POST /p/" + code + "/claim HTTP/1.1", 0, "claim 0"},
        {"POST /p/" + code + "/claim HTTP/1.1\r\nContent-Length: 65537", 0, "claim 0"},
        {"GET /p/nosuch/ HTTP/1.1", 410,
         "~Make a new one in Tesk on the computer: Phones \u2192 Pair a phone."},
        {"POST /p/nosuch/claim HTTP/1.1", 410, R"({"error":"expired"})"},
        {"GET /p/nosuch/claim HTTP/1.1", 404, notFound},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.head);
        const HTTPResponse response = reply(row.head);
        EXPECT_EQ(response.status, row.status);
        if (row.body.starts_with("~")) {
            EXPECT_NE(response.body.find(row.body.substr(1)), std::string::npos) << response.body;
        } else {
            EXPECT_EQ(response.body, row.body);
        }
        EXPECT_EQ(foreignWord(response.body), "");
    }
}

TEST_F(RoutesTest, HeadsCarryTheirFieldsInOrder) {
    facts.iconPNG = std::make_shared<const std::string>("png");
    const std::string html = "Content-Type: text/html; charset=utf-8\r\nCache-Control: no-store\r\n";
    const std::string json = "Content-Type: application/json\r\nCache-Control: no-store\r\n";
    const struct {
        std::string head;
        std::string expected; // the serialized head, up to the body
    } rows[] = {
        {"GET / HTTP/1.1", "HTTP/1.1 200 OK\r\n" + html},
        {"GET /icon.png HTTP/1.1", "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nCache-Control: public, "
                                   "max-age=86400\r\nContent-Length: 3"},
        {"GET /s/" + shared.token + "?x=1 HTTP/1.1",
         "HTTP/1.1 301 Moved Permanently\r\nLocation: /s/" + shared.token + "/\r\nContent-Length: 0"},
        {"GET /p/abc HTTP/1.1", "HTTP/1.1 301 Moved Permanently\r\nLocation: /p/abc/\r\n"},
        {"GET /s/" + shared.token + "/api HTTP/1.1", "HTTP/1.1 200 OK\r\n" + json},
        {"GET /s/" + shared.token + "/f/" + note.id + " HTTP/1.1",
         "HTTP/1.1 200 OK\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Disposition: attachment; "
         "filename=\"a note.txt\"; filename*=UTF-8''a%20note.txt\r\n"},
        {"GET /d/" + phone.token + "/ping HTTP/1.1",
         "HTTP/1.1 204 No Content\r\nAccess-Control-Allow-Origin: *\r\nContent-Length: 0\r\nConnection: "
         "close"},
        {"GET /d/nosuch/ping HTTP/1.1", "HTTP/1.1 404 Not Found\r\nAccess-Control-Allow-Origin: *\r\n"},
        {"GET /d/" + phone.token + "/manifest.json HTTP/1.1",
         "HTTP/1.1 200 OK\r\nContent-Type: application/manifest+json\r\n"},
        {"GET /x HTTP/1.1",
         "HTTP/1.1 404 Not Found\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: 9"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.head);
        EXPECT_TRUE(reply(row.head).serialized().starts_with(row.expected)) << reply(row.head).serialized();
    }
}

TEST_F(RoutesTest, StoppedAndExpiredSharesAreGoneAsPageOrJSON) {
    store->stopSharing(shared.token);
    const Share hourly = store->share(ShareTarget::item(photo.id), ShareDuration::hour, true);
    const auto gone = [&](const Share& share, const std::string& title) {
        SCOPED_TRACE(title);
        const HTTPResponse page = reply("GET /s/" + share.token + "/ HTTP/1.1");
        EXPECT_EQ(page.status, 410);
        EXPECT_NE(page.body.find(title), std::string::npos);
        EXPECT_NE(page.body.find("Ask the person who shared it to send a new one."), std::string::npos);
        EXPECT_EQ(reply("GET /s/" + share.token + "/f/" + photo.id + " HTTP/1.1").status, 410);
        const HTTPResponse api = reply("POST /s/" + share.token + "/api HTTP/1.1");
        EXPECT_EQ(api.serialized(), HTTPResponse::json(410, R"({"error":"expired"})").serialized());
    };
    gone(shared, "This link was turned off");
    EXPECT_EQ(reply("GET /s/" + hourly.token + "/ HTTP/1.1").status, 200);
    clock.advance(3600); // expiry is exclusive: at the instant the link is gone
    gone(hourly, "This link has expired");
}

TEST_F(RoutesTest, DocumentListsTheAskedFolderWithinTheShareAndFollowsEveryChange) {
    EXPECT_EQ(document()["folderID"], top.id);
    EXPECT_EQ(document("?folder=")["folderID"], top.id);
    const json innerDocument = document("?folder=" + inner.id);
    EXPECT_EQ(innerDocument["mac"], "Ana's laptop");
    EXPECT_EQ(innerDocument["items"].size(), 2u);
    EXPECT_EQ(innerDocument["folders"][0]["name"], "Deep");
    EXPECT_FALSE(innerDocument.contains("followURL"));

    store->addText("another", top.id);
    EXPECT_EQ(document()["items"].size(), 1u);
    facts.macName = "Renamed";
    EXPECT_EQ(document()["mac"], "Renamed");
    store->setAllowsUploads(shared.token, false);
    EXPECT_EQ(document()["canUpload"], false);
    EXPECT_EQ(reply("POST /s/" + shared.token + "/upload HTTP/1.1\r\nContent-Length: 1").body,
              "This link doesn't accept files");

    // Only folder and bundle shares can be followed.
    facts.followBase = "https://relay.example/f";
    EXPECT_EQ(document()["followURL"], "https://relay.example/f/" + shared.token + "/follow");
    const Share item = store->share(ShareTarget::item(photo.id), ShareDuration::day, true);
    EXPECT_FALSE(json::parse(reply("GET /s/" + item.token + "/api HTTP/1.1").body).contains("followURL"));
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
    const HTTPRequest request =
        HTTP::parse("GET /s/" + share.token + "/api HTTP/1.1\r\n\r\n").request()->request;
    DocumentCache documents;
    const auto canUpload = [&] {
        const auto answer = Routes::answer(request, store, ServerFacts{}, documents);
        return json::parse(std::get<HTTPResponse>(answer).body)["canUpload"].get<bool>();
    };
    for (const bool allows : {false, true}) {
        SCOPED_TRACE(allows);
        onNextClockRead = [&store, &share, allows] { store.setAllowsUploads(share.token, allows); };
        canUpload();
        EXPECT_EQ(canUpload(), allows);
    }
}

TEST_F(RoutesTest, BundleSharesTakeFilesOnlyIntoTheirFolders) {
    const std::array targets{ShareTarget::folder(inner.id), ShareTarget::item(secret.id)};
    const Share bundle = store->share(targets, ShareDuration::day).value();
    store->setAllowsUploads(bundle.token, true);
    const auto upload = [&](const std::string& folder) {
        return reply("POST /s/" + bundle.token + "/upload" + folder + " HTTP/1.1\r\nContent-Length: 1")
            .status;
    };
    EXPECT_EQ(upload(""), 0);
    EXPECT_EQ(upload("?folder=" + deep.id), 0);
    EXPECT_EQ(upload("?folder=" + top.id), 403);
    EXPECT_EQ(upload("?folder=" + outside.id), 403);
}

TEST_F(RoutesTest, ClaimsNameThePhoneFromTheirBodyAndNameEveryAddressOfItsPage) {
    const auto claim = [&](std::optional<std::string> body, std::string host = "mac:47470") {
        return Routes::settle(Routes::SmallBody{Routes::SmallBody::Claim{store->newPairingCode().code, host}},
                              body, *store, facts);
    };
    for (const auto& [body, name] : std::vector<std::pair<std::optional<std::string>, std::string>>{
             {R"({"name":"Kitchen iPad"})", "Kitchen iPad"}, {std::nullopt, "Phone"}}) {
        SCOPED_TRACE(body.value_or("(none)"));
        const auto settled = claim(body);
        ASSERT_EQ(settled.response.status, 200);
        const json reply = json::parse(settled.response.body);
        const std::string token = reply["token"];
        EXPECT_EQ(reply, (json{{"token", token}, {"ip", "http://mac:47470/d/" + token + "/"}}));
        ASSERT_TRUE(settled.event);
        EXPECT_EQ(std::get<ServerEvent::Paired>(settled.event->value).device.name, name);
    }
    facts.deviceBase = "https://relay.example/d";
    facts.localHostName = "anas-laptop.local";
    const json reply = json::parse(claim(R"({"name":"B"})").response.body);
    const std::string token = reply["token"];
    EXPECT_EQ(reply["launcher"], "https://relay.example/d/" + token + "/");
    EXPECT_EQ(reply["local"], "http://anas-laptop.local:47470/d/" + token + "/");

    // A code claimed once is used up.
    const std::string code = store->newPairingCode().code;
    const Routes::SmallBody twice{Routes::SmallBody::Claim{code, "mac"}};
    EXPECT_EQ(Routes::settle(twice, "{}", *store, facts).response.status, 200);
    const auto again = Routes::settle(twice, "{}", *store, facts);
    EXPECT_EQ(again.response.body, R"({"error":"expired"})");
    EXPECT_FALSE(again.event);
}

TEST_F(RoutesTest, PhoneTextsAndFilesLandInItsFolderUnusableTextsAreRefused) {
    const Routes::SmallBody text{Routes::SmallBody::Text{phone.token, phone.name}};
    for (const std::optional<std::string>& unusable :
         {std::optional<std::string>(), std::optional<std::string>("   "),
          std::optional<std::string>("\xff\xfe")}) {
        const auto settled = Routes::settle(text, unusable, *store, facts);
        EXPECT_EQ(settled.response.body, "Nothing to send");
        EXPECT_FALSE(settled.event);
    }
    const auto sent = Routes::settle(text, "https://example.com/recipe", *store, facts);
    EXPECT_EQ(sent.response.status, 201);
    EXPECT_EQ(sent.response.body, R"({"ok":true})");
    ASSERT_TRUE(sent.event);
    EXPECT_EQ(std::get<ServerEvent::Received>(sent.event->value).from, "Ana's iPhone");

    const Item file =
        Routes::file(Routes::Upload{Routes::Upload::FromPhone{phone.token}, "IMG 1.jpg", phone.name, 4},
                     makeFile("part", "jpeg"), *store);
    const Library library = store->snapshot();
    const Item link = std::get<ServerEvent::Received>(sent.event->value).item;
    for (const Item& item : {link, file}) {
        EXPECT_EQ(item.receivedFrom, "Ana's iPhone");
        EXPECT_EQ(library.folder(item.folderID)->name, "From Ana's iPhone");
    }
    EXPECT_EQ(link.kind, ItemKind::link);
    EXPECT_EQ(library.device(phone.token)->sentCount, 2);

    // A phone removed is paired nowhere, its shortcut served only once it exists.
    fs::create_directories(store->root / "shortcuts");
    std::ofstream(store->root / "shortcuts" / (phone.token + ".shortcut"), std::ios::binary)
        << "bplist00\x01";
    const HTTPResponse shortcut = reply("GET /d/" + phone.token + "/Send%20to%20Tesk.shortcut HTTP/1.1");
    EXPECT_EQ(shortcut.body, "bplist00\x01");
    EXPECT_EQ(shortcut.headers[1].second,
              "attachment; filename=\"Send to Tesk.shortcut\"; filename*=UTF-8''Send%20to%20Tesk.shortcut");
    store->removeDevice(phone.id);
    EXPECT_EQ(reply("GET /d/" + phone.token + "/Send%20to%20Tesk.shortcut HTTP/1.1").body, "Not paired");
}

TEST_F(RoutesTest, PhonePageOffersTheShareSheetAndLauncherAsTheFactsSay) {
    const std::string page = "GET /d/" + phone.token + "/ HTTP/1.1";
    facts.offersShareSheet = true;
    facts.deviceBase = "https://relay.example/d";
    EXPECT_EQ(reply(page).body,
              DevicePages::phone(phone.token, "https://relay.example/d/" + phone.token + "/", true));
}

TEST_F(RoutesTest, DownloadsSendTheRangeAskedAndCountOnlyWholeAttachments) {
    const auto parsed = [](const std::string& head) {
        return HTTP::parse(head + "\r\n\r\n").request()->request;
    };
    const struct {
        std::string head;
        std::int64_t size;
        int status;
        std::int64_t start, count;
        bool counts;
        std::string field; // one field the head must hold
    } rows[] = {
        {"GET /x HTTP/1.1", 10, 200, 0, 10, true,
         "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nContent-Disposition: attachment; "
         "filename=\"photo.jpg\"; "
         "filename*=UTF-8''photo.jpg\r\nAccept-Ranges: bytes\r\nCache-Control: no-store\r\nContent-Length: "
         "10\r\n"
         "Connection: close\r\n\r\n"},
        {"GET /x HTTP/1.1", 0, 200, 0, 0, true, "Content-Length: 0"},
        {"GET /x HTTP/1.1\r\nRange: bytes=0-3", 10, 206, 0, 4, true, "Content-Range: bytes 0-3/10"},
        {"GET /x HTTP/1.1\r\nRange: bytes=4-", 10, 206, 4, 6, false, "Content-Range: bytes 4-9/10"},
        {"GET /x HTTP/1.1\r\nRange: bytes=-3", 10, 206, 7, 3, false, "Content-Length: 3"},
        {"GET /x?inline HTTP/1.1", 10, 200, 0, 10, false, "Cache-Control: private, max-age=3600"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.head);
        const auto send = Routes::send(parsed(row.head), photo, row.size);
        const auto* plan = std::get_if<Routes::FileSend>(&send);
        ASSERT_TRUE(plan);
        EXPECT_TRUE(plan->head.starts_with("HTTP/1.1 " + std::to_string(row.status)));
        EXPECT_NE(plan->head.find(row.field), std::string::npos) << plan->head;
        EXPECT_EQ(plan->start, row.start);
        EXPECT_EQ(plan->count, row.count);
        EXPECT_EQ(plan->counts, row.counts);
    }
    const auto refused = Routes::send(parsed("GET /x HTTP/1.1\r\nRange: bytes=10-"), photo, 10);
    EXPECT_EQ(std::get<HTTPResponse>(refused).serialized(),
              "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */10\r\nContent-Length: 0\r\n"
              "Connection: close\r\n\r\n");
}

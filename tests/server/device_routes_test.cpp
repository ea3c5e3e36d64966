#include "server/device_pages.h"
#include "server_fixture.h"

#include <nlohmann/json.hpp>

#include <fstream>

using nlohmann::json;
namespace fs = std::filesystem;

namespace {

std::string claim(const std::string& code, const std::string& body,
                  const std::string& headers = "Host: mac:47470\r\n") {
    std::string request = "POST /p/" + code + "/claim HTTP/1.1\r\n" + headers;
    if (!body.empty()) {
        request +=
            "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
    }
    return request + "\r\n" + body;
}

} // namespace

class PairingRoutesTest : public ServerFixture {};

TEST_F(PairingRoutesTest, PageWhileTheCodeIsValidNoticeAfter) {
    const auto code = store.newPairingCode().code;
    const Response redirect = get("/p/" + code);
    EXPECT_EQ(redirect.status, 301);
    EXPECT_EQ(redirect.header("location"), "/p/" + code + "/");
    // The redirect echoes the code: one that would bring its own header lines is no request at all.
    const Response split = get("/p/" + code + "%0D%0ASet-Cookie:%20a=b");
    EXPECT_EQ(split.status, 400);
    EXPECT_EQ(split.headerLines, (std::vector<std::string>{"Content-Type: text/plain; charset=utf-8",
                                                           "Content-Length: 11", "Connection: close"}));
    EXPECT_EQ(split.body, "Bad request");
    const Response page = get("/p/" + code + "/");
    EXPECT_EQ(page.status, 200);
    EXPECT_NE(page.body.find("Pair this phone"), std::string::npos);

    clock.advance(LibraryStore::pairingCodeLifetime);
    const Response expired = get("/p/" + code + "/");
    EXPECT_EQ(expired.status, 410);
    EXPECT_NE(expired.body.find("This pairing code ran out"), std::string::npos);
    EXPECT_NE(expired.body.find("Make a new one in Tesk on the computer: Phones \u2192 Pair a phone."),
              std::string::npos);
    EXPECT_EQ(send(claim(code, R"({"name":"Late"})")).body, R"({"error":"expired"})");
}

TEST_F(PairingRoutesTest, ClaimNamesThePhoneFromItsBodyOrPhone) {
    const struct {
        std::string body;
        std::string name;
    } cases[] = {
        {R"({"name":"Kitchen iPad"})", "Kitchen iPad"},
        {"", "Phone"},
        {"{not json", "Phone"},
        {R"({"name":42})", "Phone"},
        {R"(["name"])", "Phone"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        const auto code = store.newPairingCode().code;
        const Response response = send(claim(code, c.body));
        ASSERT_EQ(response.status, 200);
        EXPECT_EQ(response.header("content-type"), "application/json");
        const json reply = json::parse(response.body);
        const auto device = store.snapshot().device(reply["token"].get<std::string>());
        ASSERT_TRUE(device);
        EXPECT_EQ(device->name, c.name);
        // Used up: a second claim is refused.
        EXPECT_EQ(send(claim(code, c.body)).status, 410);
    }
    const auto events = this->events(5);
    ASSERT_EQ(events.size(), 5u);
    EXPECT_TRUE(std::holds_alternative<ServerEvent::Paired>(events[0].value));
}

TEST_F(PairingRoutesTest, ClaimReplyNamesEveryAddressOfThePhonePage) {
    const auto first = store.newPairingCode().code;
    json reply = json::parse(send(claim(first, R"({"name":"A"})")).body);
    const std::string token = reply["token"];
    EXPECT_EQ(reply.size(), 2u);
    EXPECT_EQ(reply["ip"], "http://mac:47470/d/" + token + "/");

    server.setDeviceBase("https://relay.example/d");
    server.setLocalHostName("anas-laptop.local");
    const auto second = store.newPairingCode().code;
    reply = json::parse(send(claim(second, R"({"name":"B"})", "")).body);
    const std::string port = std::to_string(server.port());
    const std::string other = reply["token"];
    EXPECT_EQ(reply["ip"], "http://127.0.0.1:" + port + "/d/" + other + "/");
    EXPECT_EQ(reply["launcher"], "https://relay.example/d/" + other + "/");
    EXPECT_EQ(reply["local"], "http://anas-laptop.local:" + port + "/d/" + other + "/");
}

TEST_F(PairingRoutesTest, OtherMethodsAndPathsAreNotFound) {
    const auto code = store.newPairingCode().code;
    EXPECT_EQ(send("PUT /p/" + code + "/claim HTTP/1.1\r\n\r\n").body, "Not found");
    EXPECT_EQ(send("POST /p/" + code + "/other HTTP/1.1\r\n\r\n").body, "Not found");
    EXPECT_EQ(get("/p/" + code + "/claim").body, "Not found");
}

class DeviceRoutesTest : public ServerFixture {
protected:
    DeviceRoutesTest() {
        phone = store.claimPairing(store.newPairingCode().code, "Ana's iPhone").value();
        base = "/d/" + phone.token + "/";
    }

    PairedDevice phone;
    std::string base;
};

TEST_F(DeviceRoutesTest, PageProbeDocumentAndManifest) {
    EXPECT_EQ(get("/d/" + phone.token).header("location"), base);
    const Response page = get(base);
    EXPECT_EQ(page.status, 200);
    EXPECT_EQ(page.header("content-type"), "text/html; charset=utf-8");
    EXPECT_EQ(page.body, DevicePages::phone(phone.token, "", false)) << "no signer is known yet";
    server.setOffersShareSheet(true);
    EXPECT_EQ(get(base).body, DevicePages::phone(phone.token, "", true));
    const Response ping = get(base + "ping");
    EXPECT_EQ(ping.status, 204);
    EXPECT_EQ(ping.headerLines, (std::vector<std::string>{"Access-Control-Allow-Origin: *",
                                                          "Content-Length: 0", "Connection: close"}));
    const json api = json::parse(get(base + "api").body);
    EXPECT_EQ(api, (json{{"mac", "Ana's Mac"}, {"device", "Ana's iPhone"}}));
    const Response manifest = get(base + "manifest.json");
    EXPECT_EQ(manifest.header("content-type"), "application/manifest+json");
    EXPECT_TRUE(json::parse(manifest.body).is_object());
}

TEST_F(DeviceRoutesTest, ShortcutIsServedOnceItExists) {
    const std::string path = base + "Send%20to%20Tesk.shortcut";
    const Response missing = get(path);
    EXPECT_EQ(missing.status, 404);
    EXPECT_EQ(missing.body, "Not ready yet. Try again in a moment.");
    fs::create_directories(store.root / "shortcuts");
    std::ofstream(store.root / "shortcuts" / (phone.token + ".shortcut"), std::ios::binary) << "bplist00\x01";
    const Response ready = get(path);
    EXPECT_EQ(ready.status, 200);
    EXPECT_EQ(ready.header("content-disposition"),
              "attachment; filename=\"Send to Tesk.shortcut\"; filename*=UTF-8''Send%20to%20Tesk.shortcut");
    EXPECT_EQ(ready.body, "bplist00\x01");
}

TEST_F(DeviceRoutesTest, TextsAndFilesLandInThePhonesFolder) {
    const std::string text = "https://example.com/recipe";
    const Response sent =
        send("POST " + base + "text HTTP/1.1\r\nContent-Length: " + std::to_string(text.size()) + "\r\n\r\n" +
             text);
    EXPECT_EQ(sent.status, 201);
    EXPECT_EQ(sent.body, R"({"ok":true})");
    const Response file =
        send("POST " + base + "upload HTTP/1.1\r\nX-Tesk-Name: IMG%201.jpg\r\nContent-Length: 4\r\n\r\njpeg");
    EXPECT_EQ(file.status, 201);
    const Library library = store.snapshot();
    ASSERT_EQ(library.items.size(), 2u);
    EXPECT_EQ(library.items[0].kind, ItemKind::link);
    EXPECT_EQ(library.items[1].name, "IMG 1.jpg");
    for (const Item& item : library.items) {
        EXPECT_EQ(item.receivedFrom, "Ana's iPhone");
        EXPECT_EQ(library.folder(item.folderID)->name, "From Ana's iPhone");
    }
    EXPECT_EQ(library.devices[0].sentCount, 2);
    const auto events = this->events(2);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(std::get<ServerEvent::Received>(events[1].value).from, "Ana's iPhone");
}

TEST_F(DeviceRoutesTest, UnusableTextsAreRefused) {
    const std::string oversized(65537, 'x');
    const std::string requests[] = {
        "POST " + base + "text HTTP/1.1\r\nContent-Length: 0\r\n\r\n",
        "POST " + base + "text HTTP/1.1\r\n\r\n",
        "POST " + base + "text HTTP/1.1\r\nContent-Length: 65537\r\n\r\n" + oversized,
        "POST " + base + "text HTTP/1.1\r\nContent-Length: 3\r\n\r\n   ",
        "POST " + base + "text HTTP/1.1\r\nContent-Length: 2\r\n\r\n\xff\xfe",
    };
    for (const auto& request : requests) {
        const Response response = send(request);
        EXPECT_EQ(response.status, 400);
        EXPECT_EQ(response.body, "Nothing to send");
    }
    EXPECT_TRUE(store.snapshot().items.empty());
}

TEST_F(DeviceRoutesTest, OtherMethodsAreNotFound) {
    EXPECT_EQ(send("HEAD " + base + " HTTP/1.1\r\n\r\n").body, "Not found");
    EXPECT_EQ(send("PUT " + base + "text HTTP/1.1\r\nContent-Length: 1\r\n\r\nx").body, "Not found");
    EXPECT_EQ(get(base + "elsewhere").body, "Not found");
}

TEST_F(DeviceRoutesTest, RemovedPhoneIsNotPairedAnywhere) {
    store.removeDevice(phone.id);
    const Response page = get(base);
    EXPECT_EQ(page.status, 404);
    EXPECT_NE(page.body.find("This phone isn't paired anymore"), std::string::npos);
    const Response ping = get(base + "ping");
    EXPECT_EQ(ping.status, 404);
    EXPECT_EQ(ping.header("access-control-allow-origin"), "*");
    EXPECT_EQ(get(base + "api").body, "Not paired");
    EXPECT_EQ(send("POST " + base + "text HTTP/1.1\r\nContent-Length: 2\r\n\r\nhi").body, "Not paired");
}

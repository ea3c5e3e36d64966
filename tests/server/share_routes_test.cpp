#include "server_fixture.h"

#include <nlohmann/json.hpp>

using nlohmann::json;

class ShareRoutesTest : public ServerFixture {
protected:
    ShareRoutesTest() {
        top = store.addFolder("Top", std::nullopt);
        inner = store.addFolder("Inner", top.id);
        deep = store.addFolder("Deep", inner.id);
        outside = store.addFolder("Outside", std::nullopt);
        photo = addFile("photo.jpg", "jpeg bytes", inner.id);
    }

    std::string path(const Share& share, const std::string& rest = "") {
        return "/s/" + share.token + "/" + rest;
    }

    Folder top;
    Folder inner;
    Folder deep;
    Folder outside;
    Item photo;
};

TEST_F(ShareRoutesTest, ShareAddressWithoutSlashRedirectsAndWithSlashServesThePage) {
    const Share share = store.share(ShareTarget::folder(top.id), ShareDuration::day, true);
    const Response redirect = get("/s/" + share.token + "?x=1");
    EXPECT_EQ(redirect.status, 301);
    EXPECT_EQ(redirect.headerLines, (std::vector<std::string>{"Location: /s/" + share.token + "/",
                                                              "Content-Length: 0", "Connection: close"}));
    const Response page = get(path(share) + "?folder=" + inner.id);
    EXPECT_EQ(page.status, 200);
    EXPECT_EQ(page.header("content-type"), "text/html; charset=utf-8");
    EXPECT_EQ(page.header("cache-control"), "no-store");
    EXPECT_NE(page.body.find("id=\"content\""), std::string::npos);
}

TEST_F(ShareRoutesTest, UnknownTokenIsTheDoesntWorkPageEvenForTheDocument) {
    for (const char* rest : {"", "api", "f/x"}) {
        SCOPED_TRACE(rest);
        const Response response = get(std::string("/s/nosuchtoken/") + rest);
        EXPECT_EQ(response.status, 404);
        EXPECT_EQ(response.header("content-type"), "text/html; charset=utf-8");
        EXPECT_NE(response.body.find("This link doesn't work"), std::string::npos);
        EXPECT_NE(response.body.find("It may have been stopped. Ask the person who shared it for a new one."),
                  std::string::npos);
    }
}

TEST_F(ShareRoutesTest, StoppedAndExpiredSharesAreGoneAsPageOrJSON) {
    const Share stopped = store.share(ShareTarget::folder(top.id), ShareDuration::day, true);
    store.stopSharing(stopped.token);
    const Share expiring = store.share(ShareTarget::item(photo.id), ShareDuration::hour, true);
    clock.advance(3600);

    const Response api = get(path(stopped, "api"));
    EXPECT_EQ(api.status, 410);
    EXPECT_EQ(api.header("content-type"), "application/json");
    EXPECT_EQ(api.body, R"({"error":"expired"})");
    const Response page = get(path(stopped));
    EXPECT_EQ(page.status, 410);
    EXPECT_NE(page.body.find("This link was turned off"), std::string::npos);
    EXPECT_NE(page.body.find("Ask the person who shared it to send a new one."), std::string::npos);

    // Expiry is exclusive: at the expiry instant the link is gone.
    const Response expired = get(path(expiring));
    EXPECT_EQ(expired.status, 410);
    EXPECT_NE(expired.body.find("This link has expired"), std::string::npos);
    EXPECT_EQ(get(path(expiring, "api")).body, R"({"error":"expired"})");
    EXPECT_EQ(get(path(expiring, "f/" + photo.id)).status, 410);
}

TEST_F(ShareRoutesTest, OtherMethodsAndPathsAreNotFound) {
    const Share share = store.share(ShareTarget::folder(top.id), ShareDuration::day, true);
    const Response head = send("HEAD " + path(share, "f/" + photo.id) + " HTTP/1.1\r\n\r\n");
    EXPECT_EQ(head.status, 404);
    EXPECT_EQ(head.body, "Not found");
    EXPECT_EQ(send("OPTIONS " + path(share) + " HTTP/1.1\r\n\r\n").status, 404);
    EXPECT_EQ(get(path(share, "nothing")).body, "Not found");
    EXPECT_EQ(get(path(share, "f/" + photo.id + "/more")).status, 404);
    EXPECT_EQ(send("POST " + path(share, "api") + " HTTP/1.1\r\n\r\n").status, 404);
}

TEST_F(ShareRoutesTest, DocumentListsTheRequestedFolderWithinTheShare) {
    const Share share = store.share(ShareTarget::folder(top.id), ShareDuration::day, true);
    const Response response = get(path(share, "api?folder=" + inner.id));
    ASSERT_EQ(response.status, 200);
    EXPECT_EQ(response.header("content-type"), "application/json");
    EXPECT_EQ(response.header("cache-control"), "no-store");
    const json document = json::parse(response.body);
    EXPECT_EQ(document["mac"], "Ana's Mac");
    EXPECT_EQ(document["folderID"], inner.id);
    ASSERT_EQ(document["items"].size(), 1u);
    EXPECT_EQ(document["items"][0]["name"], "photo.jpg");
    ASSERT_EQ(document["folders"].size(), 1u);
    EXPECT_EQ(document["folders"][0]["name"], "Deep");
    EXPECT_FALSE(document.contains("followURL"));

    // The share's own level when no folder (or an empty one) is asked for.
    EXPECT_EQ(json::parse(get(path(share, "api?folder=")).body)["folderID"], top.id);
    EXPECT_EQ(json::parse(get(path(share, "api")).body)["folderID"], top.id);
}

TEST_F(ShareRoutesTest, FolderOutsideTheShareIsNotFoundJSON) {
    const Share share = store.share(ShareTarget::folder(inner.id), ShareDuration::day, true);
    for (const std::string& folder : {outside.id, top.id, std::string("no-such-folder")}) {
        const Response response = get(path(share, "api?folder=" + folder));
        EXPECT_EQ(response.status, 404);
        EXPECT_EQ(response.body, R"({"error":"not found"})");
    }
}

TEST_F(ShareRoutesTest, FollowAddressOnlyForFolderAndBundleShares) {
    server.setFollowBase("https://relay.example/f");
    const Share folderShare = store.share(ShareTarget::folder(top.id), ShareDuration::day, true);
    const Share itemShare = store.share(ShareTarget::item(photo.id), ShareDuration::day, true);
    const Share inbox = store.share(ShareTarget::inbox(), ShareDuration::hour, true);
    EXPECT_EQ(json::parse(get(path(folderShare, "api")).body)["followURL"],
              "https://relay.example/f/" + folderShare.token + "/follow");
    EXPECT_FALSE(json::parse(get(path(itemShare, "api")).body).contains("followURL"));
    EXPECT_FALSE(json::parse(get(path(inbox, "api")).body).contains("followURL"));
}

TEST_F(ShareRoutesTest, ItemsOutsideTheShareCannotBeDownloaded) {
    const Item elsewhere = addFile("secret.txt", "secret", outside.id);
    const Share share = store.share(ShareTarget::folder(top.id), ShareDuration::day, true);
    EXPECT_EQ(get(path(share, "f/" + elsewhere.id)).body, "Not found");
    EXPECT_EQ(get(path(share, "f/no-such-item")).status, 404);
    EXPECT_EQ(get(path(share, "f/" + photo.id)).status, 200);
}

TEST_F(ShareRoutesTest, RepeatedDocumentsFollowEveryChange) {
    const Share share = store.share(ShareTarget::folder(inner.id), ShareDuration::day, true);
    const std::string first = get(path(share, "api")).body;
    EXPECT_EQ(get(path(share, "api")).body, first);
    store.addText("a new note", inner.id);
    const json afterAdd = json::parse(get(path(share, "api")).body);
    EXPECT_EQ(afterAdd["items"].size(), 2u);
    server.setMacName("Renamed Mac");
    EXPECT_EQ(json::parse(get(path(share, "api")).body)["mac"], "Renamed Mac");
    store.setAllowsUploads(share.token, false);
    EXPECT_EQ(json::parse(get(path(share, "api")).body)["canUpload"], false);
    // Another folder of the same share is its own document.
    EXPECT_EQ(json::parse(get(path(share, "api?folder=" + deep.id)).body)["folderID"], deep.id);
}

// A document is cached under the library version it was built from. Here the uploads switch lands while
// a request is under way (when the server next asks the store's clock), between any two looks it might
// take at the library: the next request at the same version must still see the switch.
TEST(ShareDocumentTest, IsCachedOnlyUnderTheVersionItWasBuiltFrom) {
    TempDir dir;
    std::mutex lock;
    std::function<void()> onNextClockRead;
    LibraryStore store(dir.path() / "Tesk", [&] {
        std::function<void()> hook;
        {
            std::lock_guard guard(lock);
            hook = std::exchange(onNextClockRead, nullptr);
        }
        if (hook) {
            hook();
        }
        return Date{786000000.0};
    });
    TeskServer server(store, "Ana's Mac");
    server.start({});
    const Share share =
        store.share(ShareTarget::folder(store.addFolder("Top", std::nullopt).id), ShareDuration::day, true);
    const auto canUpload = [&] {
        const std::string raw = request(server.port(), "GET /s/" + share.token + "/api HTTP/1.1\r\n\r\n");
        return json::parse(parseResponse(raw).body)["canUpload"].get<bool>();
    };
    for (const bool allows : {false, true}) {
        SCOPED_TRACE(allows);
        {
            std::lock_guard guard(lock);
            onNextClockRead = [&store, &share, allows] { store.setAllowsUploads(share.token, allows); };
        }
        canUpload();
        EXPECT_EQ(canUpload(), allows);
    }
}

// Every document and message the server sends is read on a phone about a Linux computer: none may name
// another desktop's parts.
#include "server_fixture.h"

#include <regex>

namespace fs = std::filesystem;

namespace {

/// The first word in `text` that belongs to another desktop, or "" when there is none.
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

class PageWordsTest : public ServerFixture {};

TEST_F(PageWordsTest, NoPageOrNoticeNamesAnotherDesktop) {
    server.setMacName("Ana's laptop");
    const Item file = addFile("report.pdf", "pdf");
    const Share share = store.share(ShareTarget::folder(), ShareDuration::day, true);
    const Share stopped = store.share(ShareTarget::item(file.id), ShareDuration::day, true);
    store.stopSharing(stopped.token);
    const PairedDevice phone = store.claimPairing(store.newPairingCode().code, "Ana's iPhone").value();
    const std::string code = store.newPairingCode().code;

    std::vector<std::string> paths = {"/",
                                      "/p/" + code + "/",
                                      "/d/" + phone.token + "/",
                                      "/d/" + phone.token + "/manifest.json",
                                      "/d/unknowntoken/",
                                      "/s/" + share.token + "/",
                                      "/s/nosuchtoken/",
                                      "/s/" + stopped.token + "/"};
    std::vector<Response> responses;
    for (const auto& path : paths) {
        responses.push_back(get(path));
    }
    // The phone page with the relay's launcher carries its own tip.
    server.setDeviceBase("https://relay.example/d");
    paths.push_back("/d/" + phone.token + "/ (with a launcher)");
    responses.push_back(get("/d/" + phone.token + "/"));
    fs::remove(store.fileURL(file));
    paths.push_back("/s/" + share.token + "/f/" + file.id);
    responses.push_back(get(paths.back()));
    clock.advance(LibraryStore::pairingCodeLifetime);
    paths.push_back("/p/" + code + "/ (expired)");
    responses.push_back(get("/p/" + code + "/"));

    for (std::size_t i = 0; i < paths.size(); ++i) {
        SCOPED_TRACE(paths[i]);
        EXPECT_FALSE(responses[i].body.empty());
        EXPECT_EQ(foreignWord(responses[i].body), "");
    }
}

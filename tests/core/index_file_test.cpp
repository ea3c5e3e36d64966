#include "core/index_file.h"

#include "support/file_contents.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

const std::string f1 = "f0000000-0000-4000-8000-000000000001";
const std::string f2 = "f0000000-0000-4000-8000-000000000002";
const std::string i1 = "i0000000-0000-4000-8000-000000000001";
const std::string i2 = "i0000000-0000-4000-8000-000000000002";
const std::string b1 = "b0000000-0000-4000-8000-000000000001";
const std::string d1 = "d0000000-0000-4000-8000-000000000001";

/// Every target case, every optional once present and once absent, and values that stress the
/// number coding (2^53 + 1, INT64_MAX, negative and tiny dates).
Library everyCase() {
    Library library;
    library.folders = {
        {f1, "Received", std::nullopt, Date{0}},
        {f2, "Trips \u203A 2026", f1, Date{786000000.123456}},
    };
    library.items = {
        {.id = i1,
         .folderID = f2,
         .kind = ItemKind::file,
         .name = "Report \"final\".pdf",
         .size = 9007199254740993,
         .created = Date{786000100.25}},
        {.id = i2,
         .kind = ItemKind::link,
         .name = "example.com/a",
         .size = 25,
         .created = Date{786000200.5},
         .content = "https://example.com/a?b=c",
         .receivedFrom = "Ana\u2019s iPhone"},
        {.id = "i0000000-0000-4000-8000-000000000003",
         .kind = ItemKind::text,
         .name = "Line one",
         .size = 18,
         .created = Date{0.000001},
         .content = "Line one\n\tLine two"},
    };
    library.shares = {
        {.token = "aaaaaaaaaa",
         .target = ShareTarget::folder(f2),
         .created = Date{786000400},
         .duration = ShareDuration::hour,
         .expires = Date{786004000},
         .downloads = 2,
         .allowsUploads = true,
         .title = "Trips \u203A 2026",
         .contents = {"Report \"final\".pdf"},
         .itemCount = 1,
         .totalSize = 9007199254740993},
        {.token = "bbbbbbbbbb",
         .target = ShareTarget::folder(),
         .created = Date{786000401.5},
         .duration = ShareDuration::untilStopped,
         .allowsUploads = false,
         .stopped = Date{786000500.75},
         .title = "Library",
         .itemCount = 3},
        {.token = "cccccccccc",
         .target = ShareTarget::item(i2),
         .created = Date{786000402},
         .duration = ShareDuration::day,
         .expires = Date{786086802},
         .title = "example.com/a",
         .contents = {"example.com/a"},
         .itemCount = 1},
        {.token = "dddddddddd",
         .target = ShareTarget::bundle(b1),
         .created = Date{786000403},
         .duration = ShareDuration::day,
         .expires = Date{786086803},
         .downloads = INT64_MAX,
         .stopped = Date{786000404},
         .title = "Report.pdf and 2 more",
         .contents = {"Report \"final\".pdf", "example.com/a"},
         .itemCount = 2,
         .totalSize = 9007199254740993},
        {.token = "eeeeeeeeee",
         .target = ShareTarget::inbox(),
         .created = Date{786000405},
         .duration = ShareDuration::hour,
         .expires = Date{786004005},
         .title = "Receive files"},
    };
    library.bundles = {{b1, "Report.pdf and 2 more", {i1, i2}, {f2}, Date{786000300.5}}};
    library.devices = {
        {d1, "Ana\u2019s iPhone", "abcdefghjkmnpqrstuvwxyz2", Date{786000800}, Date{786000900.0625}, 3},
        {"d0000000-0000-4000-8000-000000000002", "Phone", "23456789abcdefghjkmnpqrs", Date{-12.75},
         std::nullopt, 0},
    };
    library.deviceFolders = {{d1, f1}, {"browser:Ana", f1}};
    return library;
}

Library decodeOrFail(const std::string& text) {
    try {
        return IndexFile::decode(text);
    } catch (const IndexFile::DecodeError& error) {
        ADD_FAILURE() << "decode failed: " << error.what() << "\n" << text;
        return {};
    }
}

} // namespace

TEST(IndexFileTest, WritesEveryCaseExactlyAsTheReferenceFile) {
    EXPECT_EQ(IndexFile::encode(everyCase()), readFile(TESK_TEST_DATA "/index_every_case.json"));
}

TEST(IndexFileTest, ReadsTheReferenceFileBackToTheSameLibrary) {
    EXPECT_EQ(decodeOrFail(readFile(TESK_TEST_DATA "/index_every_case.json")), everyCase());
}

TEST(IndexFileTest, InstantsRoundTripExactly) {
    // Values whose shortest decimal form is long, and one whose naive Unix conversion would drift.
    for (double seconds : {0.1, 1.0 / 3.0, 786000000.1234567, -978307200.000001, 1e-300, 4.4e15 + 0.5}) {
        SCOPED_TRACE(seconds);
        Library library;
        library.folders.push_back({"id", "name", std::nullopt, Date{seconds}});
        const Library back = decodeOrFail(IndexFile::encode(library));
        ASSERT_EQ(back.folders.size(), 1u);
        EXPECT_EQ(back.folders[0].created.sinceReferenceDate, seconds);
    }
}

TEST(IndexFileTest, EmptyLibraryWritesTheSixKeys) {
    EXPECT_EQ(IndexFile::encode(Library{}),
              "{\n  \"bundles\": [],\n  \"deviceFolders\": {},\n  \"devices\": [],\n"
              "  \"folders\": [],\n  \"items\": [],\n  \"shares\": []\n}\n");
}

TEST(IndexFileTest, InvalidUTF8IsWrittenAsReplacementCharacters) {
    Library library;
    library.folders.push_back({"id", "bad \xff name", std::nullopt, Date{1}});
    const Library back = decodeOrFail(IndexFile::encode(library));
    ASSERT_EQ(back.folders.size(), 1u);
    EXPECT_EQ(back.folders[0].name, "bad \xEF\xBF\xBD name");
}

TEST(IndexFileTest, NullsAndMissingOptionalsReadAsAbsent) {
    EXPECT_EQ(decodeOrFail(R"({"folders": null, "deviceFolders": null})"), Library{});
    const Library library = decodeOrFail(R"({
        "folders": [{"id": "f", "name": "F", "created": 1, "parentID": null}],
        "items": [{"id": "i", "kind": "text", "name": "N", "size": 1, "created": 2, "content": null}],
        "shares": [{"token": "s", "target": {"folder": {"_0": null}}, "created": 4, "duration": "day",
                    "downloads": 7, "expires": null, "allowsUploads": null}]
    })");
    ASSERT_EQ(library.folders.size(), 1u);
    EXPECT_FALSE(library.folders[0].parentID);
    ASSERT_EQ(library.items.size(), 1u);
    EXPECT_FALSE(library.items[0].content);
    ASSERT_EQ(library.shares.size(), 1u);
    const Share& share = library.shares[0];
    EXPECT_EQ(share.target, ShareTarget::folder());
    EXPECT_FALSE(share.expires);
    EXPECT_TRUE(share.allowsUploads);
    EXPECT_EQ(share.downloads, 7);
    EXPECT_EQ(share.title, "");
}

TEST(IndexFileTest, UnknownKeysAreIgnoredAndWholeFloatsReadAsIntegers) {
    const Library library = decodeOrFail(R"({"version": 9,
        "items": [{"id": "i", "kind": "file", "name": "n", "size": 2048.0, "created": 1, "colour": "red"}],
        "shares": [{"token": "s", "target": {"item": {"_0": "i", "_1": 2}, "future": {}}, "created": 1,
                    "duration": "day", "downloads": 0}]})");
    ASSERT_EQ(library.items.size(), 1u);
    EXPECT_EQ(library.items[0].size, 2048);
    ASSERT_EQ(library.shares.size(), 1u);
    EXPECT_EQ(library.shares[0].target, ShareTarget::item("i"));
}

TEST(IndexFileTest, UndecodableDocumentsFailAsAWhole) {
    const std::string share = R"("token": "s", "created": 1, "duration": "day", "downloads": 0)";
    const struct {
        const char* why;
        std::string text;
    } cases[] = {
        {"not JSON", "{\"folders\": ["},
        {"top level is an array", "[]"},
        {"unknown kind",
         R"({"items": [{"id": "i", "kind": "photo", "name": "n", "size": 1, "created": 1}]})"},
        {"unknown duration",
         R"({"shares": [{"token": "s", "target": {"inbox": {}}, "created": 1, "duration": "week", "downloads": 0}]})"},
        {"item target without _0", R"({"shares": [{"target": {"item": {}}, )" + share + "}]}"},
        {"target with two cases",
         R"({"shares": [{"target": {"item": {"_0": "i"}, "bundle": {"_0": "b"}}, )" + share + "}]}"},
        {"target with no case", R"({"shares": [{"target": {}, )" + share + "}]}"},
        {"target _0 not a string", R"({"shares": [{"target": {"item": {"_0": 5}}, )" + share + "}]}"},
        {"share without token",
         R"({"shares": [{"target": {"inbox": {}}, "created": 1, "duration": "day", "downloads": 0}]})"},
        {"allowsUploads as a string",
         R"({"shares": [{"target": {"inbox": {}}, "allowsUploads": "yes", )" + share + "}]}"},
        {"folder without name", R"({"folders": [{"id": "f", "created": 1}]})"},
        {"date as a string", R"({"folders": [{"id": "f", "name": "F", "created": "2001-01-01"}]})"},
        {"date beyond a double", R"({"folders": [{"id": "f", "name": "F", "created": 1e400}]})"},
        {"size with a fraction",
         R"({"items": [{"id": "i", "kind": "file", "name": "n", "size": 1.5, "created": 1}]})"},
        {"size beyond 64 bits",
         R"({"items": [{"id": "i", "kind": "file", "name": "n", "size": 18446744073709551615, "created": 1}]})"},
        {"bundle without folderIDs",
         R"({"bundles": [{"id": "b", "name": "B", "itemIDs": [], "created": 1}]})"},
        {"device without sentCount", R"({"devices": [{"id": "d", "name": "P", "token": "t", "paired": 1}]})"},
        {"deviceFolders value not a string", R"({"deviceFolders": {"d": 1}})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_THROW(IndexFile::decode(c.text), IndexFile::DecodeError);
    }
    try {
        IndexFile::decode(R"({"shares": [{"target": {"folder": {}, "inbox": {}}, )" + share + "}]}");
        ADD_FAILURE() << "decoded a target with two cases";
    } catch (const IndexFile::DecodeError& error) {
        EXPECT_STREQ(error.what(), "Invalid number of keys found, expected one.");
    }
}

TEST(IndexFileTest, EveryCharacterRoundTripsThroughEscaping) {
    std::string awkward;
    for (int c = 0; c < 0x80; ++c) {
        awkward += static_cast<char>(c);
    }
    awkward += "\u00e9\u2028\U0001F600/\\\"";
    Library library;
    library.items.push_back(
        {.id = "i", .kind = ItemKind::text, .name = awkward, .created = Date{1}, .content = awkward});
    library.deviceFolders[awkward] = "f";
    const std::string text = IndexFile::encode(library);
    EXPECT_EQ(decodeOrFail(text), library);
    // Control characters never reach the file raw.
    for (char c : text) {
        EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20) << static_cast<int>(c);
    }
}

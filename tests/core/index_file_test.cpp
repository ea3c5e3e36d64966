#include "core/index_file.h"

#include "support/file_contents.h"

#include <gtest/gtest.h>

#include <algorithm>

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
    using Names = std::vector<std::string>;
    Library library;
    library.folders = {Folder{f1, "Received", std::nullopt, Date{0}},
                       Folder{f2, "Trips \u203A 2026", f1, Date{786000000.123456}}};
    // id, folder, kind, name, size, created, content, received from
    library.items = {
        Item{i1, f2, ItemKind::file, "Report \"final\".pdf", 9007199254740993, Date{786000100.25}},
        Item{i2, std::nullopt, ItemKind::link, "example.com/a", 25, Date{786000200.5},
             "https://example.com/a?b=c", "Ana\u2019s iPhone"},
        Item{"i0000000-0000-4000-8000-000000000003", std::nullopt, ItemKind::text, "Line one", 18,
             Date{0.000001}, "Line one\n\tLine two"}};
    // token, target, created, duration, expires, downloads, uploads, stopped, title, contents, count, size
    library.shares = {
        Share{"aaaaaaaaaa", ShareTarget::folder(f2), Date{786000400}, ShareDuration::hour, Date{786004000}, 2,
              true, std::nullopt, "Trips \u203A 2026", Names{"Report \"final\".pdf"}, 1, 9007199254740993},
        Share{"bbbbbbbbbb", ShareTarget::folder(), Date{786000401.5}, ShareDuration::untilStopped,
              std::nullopt, 0, false, Date{786000500.75}, "Library", Names{}, 3, 0},
        Share{"cccccccccc", ShareTarget::item(i2), Date{786000402}, ShareDuration::day, Date{786086802}, 0,
              true, std::nullopt, "example.com/a", Names{"example.com/a"}, 1, 0},
        Share{"dddddddddd", ShareTarget::bundle(b1), Date{786000403}, ShareDuration::day, Date{786086803},
              INT64_MAX, true, Date{786000404}, "Report.pdf and 2 more",
              Names{"Report \"final\".pdf", "example.com/a"}, 2, 9007199254740993},
        Share{"eeeeeeeeee", ShareTarget::inbox(), Date{786000405}, ShareDuration::hour, Date{786004005}, 0,
              true, std::nullopt, "Receive files", Names{}, 0, 0}};
    library.bundles = {ShareBundle{b1, "Report.pdf and 2 more", Names{i1, i2}, Names{f2}, Date{786000300.5}}};
    library.devices = {PairedDevice{d1, "Ana\u2019s iPhone", "abcdefghjkmnpqrstuvwxyz2", Date{786000800},
                                    Date{786000900.0625}, 3},
                       PairedDevice{"d0000000-0000-4000-8000-000000000002", "Phone",
                                    "23456789abcdefghjkmnpqrs", Date{-12.75}, std::nullopt, 0}};
    library.deviceFolders = {{d1, f1}, {"browser:Ana", f1}};
    return library;
}

} // namespace

TEST(IndexFileTest, WritesAndReadsTheReferenceFile) {
    const std::string reference = readFile(TESK_TEST_DATA "/index_every_case.json");
    EXPECT_EQ(IndexFile::encode(everyCase()), reference);
    EXPECT_EQ(IndexFile::decode(reference), everyCase());
    EXPECT_EQ(IndexFile::encode(Library{}),
              "{\n  \"bundles\": [],\n  \"deviceFolders\": {},\n  \"devices\": [],\n"
              "  \"folders\": [],\n  \"items\": [],\n  \"shares\": []\n}\n");
}

// index_decode_fuzz round-trips whatever it decodes; this row adds an instant whose shortest decimal form is
// long, every ASCII byte, and a byte that is not UTF-8, which is written as a replacement character.
TEST(IndexFileTest, InstantsAndEveryCharacterRoundTripExactly) {
    std::string awkward = "\u00e9\u2028\U0001F600/\\\"";
    for (int c = 0; c < 0x80; ++c) {
        awkward += static_cast<char>(c);
    }
    Library library;
    library.items.push_back(
        Item{"i", std::nullopt, ItemKind::text, awkward, 0, Date{786000000.1234567}, awkward});
    library.folders.push_back({"id", "bad \xff name", std::nullopt, Date{1}});
    const std::string text = IndexFile::encode(library);
    EXPECT_TRUE(
        std::all_of(text.begin(), text.end(), [](char c) { return c == '\n' || (unsigned char)c >= 0x20; }));
    library.folders[0].name = "bad \uFFFD name";
    EXPECT_EQ(IndexFile::decode(text), library);
}

TEST(IndexFileTest, DocumentsAreReadWholeOrRefusedWhole) {
    const std::string share = R"("token": "s", "created": 1, "duration": "day", "downloads": 0)";
    const std::string shares = R"({"shares": [{"target": )";
    const std::string items = R"({"items": [{"id": "i", "kind": )";
    // Nulls, missing optionals, unknown keys and whole floats, as other versions may write them; each
    // read as the library given.
    const std::pair<std::string, Library> readable[] = {
        {R"({"folders": [{"id": "f", "name": "F", "created": 1, "parentID": null}], "deviceFolders": null})",
         Library{{Folder{"f", "F", std::nullopt, Date{1}}}, {}, {}, {}, {}, {}}},
        {items + R"("file", "name": "N", "size": 2048.0, "created": 2, "content": null, "colour": "red"}]})",
         Library{{}, {Item{"i", std::nullopt, ItemKind::file, "N", 2048, Date{2}}}, {}, {}, {}, {}}},
        {shares + R"({"folder": {"_0": null}}, "expires": null, "allowsUploads": null, )" + share + "}]}",
         Library{{}, {}, {Share{"s", ShareTarget::folder(), Date{1}}}, {}, {}, {}}},
        {shares + R"({"item": {"_0": "i", "_1": 2}, "future": {}}, )" + share + "}]}",
         Library{{}, {}, {Share{"s", ShareTarget::item("i"), Date{1}}}, {}, {}, {}}},
    };
    for (const auto& [text, library] : readable) {
        EXPECT_EQ(IndexFile::decode(text), library) << text;
    }
    const std::vector<std::string> cases = {
        "{\"folders\": [",
        "[]",
        items + R"("photo", "name": "n", "size": 1, "created": 1}]})",
        items + R"("file", "name": "n", "size": 1.5, "created": 1}]})",
        items + R"("file", "name": "n", "size": 18446744073709551615, "created": 1}]})",
        shares + R"({"inbox": {}}, "token": "s", "created": 1, "duration": "week", "downloads": 0}]})",
        shares + R"({"item": {}}, )" + share + "}]}",
        shares + R"({}, )" + share + "}]}",
        shares + R"({"folder": {}, "inbox": {}}, )" + share + "}]}",
        shares + R"({"item": {"_0": 5}}, )" + share + "}]}",
        shares + R"({"inbox": {}}, "created": 1, "duration": "day", "downloads": 0}]})",
        shares + R"({"inbox": {}}, "allowsUploads": "yes", )" + share + "}]}",
        R"({"folders": [{"id": "f", "created": 1}]})",
        R"({"folders": [{"id": "f", "name": "F", "created": "2001-01-01"}]})",
        R"({"folders": [{"id": "f", "name": "F", "created": 1e400}]})",
        R"({"bundles": [{"id": "b", "name": "B", "itemIDs": [], "created": 1}]})",
        R"({"devices": [{"id": "d", "name": "P", "token": "t", "paired": 1}]})",
        R"({"deviceFolders": {"d": 1}})"};
    for (const auto& text : cases) {
        EXPECT_THROW(IndexFile::decode(text), IndexFile::DecodeError) << text;
    }
}

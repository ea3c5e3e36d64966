// The phone's shortcut file: the workflow's key fields after a binary round trip, and signing that
// fails, hangs or has no signer leaving the last good file alone.
#include "app/system/shortcut_maker.h"

#include "support/file_contents.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QThread>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <plist/plist.h>
#include <set>

namespace fs = std::filesystem;

namespace {

/// The text at `path` (dictionary keys as text, array positions as unsigned numbers); empty when there is
/// none.
template <typename... Path>
std::string text(const ShortcutMaker::Plist& plist, Path... path) {
    const plist_t node = plist.get() ? plist_access_path(plist.get(), sizeof...(path), path...) : nullptr;
    uint64_t length = 0;
    const char* value =
        node && plist_get_node_type(node) == PLIST_STRING ? plist_get_string_ptr(node, &length) : "";
    return std::string(value, length);
}

// A stand-in for `shortcuts sign`: insists on exactly its arguments, then "signs" by copying.
constexpr const char* copyingSigner =
    "[ $# -eq 7 ] && [ \"$1 $2 $3 $4 $6\" = 'sign --mode anyone --input --output' ] || exit 3\n"
    "case \"$5\" in *.wflow) ;; *) exit 4 ;; esac\n"
    "cp \"$5\" \"$7\"\n";

class ShortcutMakerTest : public testing::Test {
protected:
    void useSigner(const std::string& body) {
        std::ofstream(tools.path() / "signer") << "#!/bin/sh\n" << body;
        fs::permissions(tools.path() / "signer", fs::perms::owner_all);
        signerVariable.set((tools.path() / "signer").string());
    }
    bool make(std::chrono::milliseconds limit = ShortcutMaker::signingLimit) {
        return ShortcutMaker::make(phone, library.path(), "Caf\u00e9 <Mac> & 'Co'", "myhost.local", 8080,
                                   limit);
    }
    std::set<std::string> files() const {
        std::set<std::string> names;
        std::error_code ignored;
        for (const auto& entry : fs::directory_iterator(library.path() / "shortcuts", ignored)) {
            names.insert(entry.path().filename().string());
        }
        return names;
    }
    /// The shortcut file, read as a binary property list.
    ShortcutMaker::Plist shortcut() const {
        const std::string bytes = readFile(library.path() / "shortcuts" / "tok1.shortcut");
        plist_t node = nullptr;
        plist_from_bin(bytes.data(), static_cast<uint32_t>(bytes.size()), &node);
        EXPECT_TRUE(node) << "not a binary property list";
        return ShortcutMaker::Plist(node);
    }

    TempDir library;
    TempDir tools;
    ScopedEnv signerVariable{"TESK_SHORTCUT_SIGNER"};
    inline static const PairedDevice phone{
        .id = "d1", .name = "Zo\u00eb's <\"iPhone\"> & \U0001F4F1", .token = "tok1"};
};

} // namespace

// The names come back as plain text through the binary property list, however they are spelled.
// The fields a phone acts on; the names come back as plain text through the binary property list,
// however they are spelled.
TEST_F(ShortcutMakerTest, TheSignedFileHoldsTheWorkflowAndEachMakingDrawsANewGroup) {
    useSigner(copyingSigner);
    ASSERT_TRUE(make());
    const ShortcutMaker::Plist workflow = shortcut();
    uint64_t version = 0;
    plist_get_uint_val(plist_dict_get_item(workflow.get(), "WFWorkflowMinimumClientVersion"), &version);
    EXPECT_EQ(version, 900u) << "a number, not text";
    EXPECT_EQ(text(workflow, "WFWorkflowTypes", 0u), "ActionExtension");
    const auto parameter = [&](uint32_t action, const char* key) {
        return text(workflow, "WFWorkflowActions", action, "WFWorkflowActionParameters", key);
    };
    EXPECT_EQ(text(workflow, "WFWorkflowActions", 1u, "WFWorkflowActionIdentifier"),
              "is.workflow.actions.downloadurl");
    EXPECT_EQ(parameter(1, "WFURL"), "http://myhost.local:8080/d/tok1/upload");
    EXPECT_EQ(parameter(1, "WFHTTPMethod") + " " + parameter(1, "WFHTTPBodyType"), "POST File");
    const auto header = [&](uint32_t index, const char* part) {
        return text(workflow, "WFWorkflowActions", 1u, "WFWorkflowActionParameters", "WFHTTPHeaders", "Value",
                    "WFDictionaryFieldValueItems", index, part, "Value", "string");
    };
    EXPECT_EQ(header(0, "WFKey") + ", " + header(1, "WFKey") + ": " + header(1, "WFValue"),
              "X-Tesk-Name, X-Tesk-Device: " + phone.name);
    EXPECT_EQ(parameter(3, "WFNotificationActionBody"), "Sent to Caf\u00e9 <Mac> & 'Co'");
    const std::string group = parameter(0, "GroupingIdentifier");
    EXPECT_EQ(parameter(2, "GroupingIdentifier"), group);
    const QRegularExpression uuid("^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$");
    EXPECT_TRUE(uuid.match(QString::fromStdString(group)).hasMatch()) << group;
    ASSERT_TRUE(make());
    EXPECT_EQ(files(), std::set<std::string>{"tok1.shortcut"});
    EXPECT_NE(text(shortcut(), "WFWorkflowActions", 0u, "WFWorkflowActionParameters", "GroupingIdentifier"),
              group);
}

TEST_F(ShortcutMakerTest, FailedSigningLeavesNoNewFileAndKeepsTheLastGoodShortcut) {
    const auto missing = (tools.path() / "missing-signer").string();
    // A signer dying midway, one that is not there, and one that ends well without an output.
    const std::vector<std::optional<std::string>> signers{"printf partial > \"$7\"\nexit 1\n", std::nullopt,
                                                          "exit 0\n"};
    for (const bool withGood : {false, true}) {
        fs::remove_all(library.path() / "shortcuts");
        useSigner(copyingSigner);
        ASSERT_EQ(withGood && make(), withGood);
        const auto before = files();
        const std::string good = readFile(library.path() / "shortcuts" / "tok1.shortcut");
        for (const auto& body : signers) {
            body ? useSigner(*body) : signerVariable.set(missing);
            EXPECT_FALSE(make()) << body.value_or("missing");
            EXPECT_EQ(files(), before);
            EXPECT_EQ(readFile(library.path() / "shortcuts" / "tok1.shortcut"), good);
        }
    }
}

TEST_F(ShortcutMakerTest, AHungSignerIsKilledAtTheLimitOrWhenStopped) {
    useSigner("printf partial > \"$7\"\nexec sleep 30\n");
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(make(std::chrono::milliseconds(300)));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_TRUE(files().empty());

    // Quitting asks the job to stop: the running signer is killed and the phones left are skipped.
    std::stop_source quitting;
    ShortcutFiles shortcuts(library.path());
    QFuture<void> job =
        shortcuts.ensure({phone, phone}, "Ana's Laptop", "myhost.local", 8080, quitting.get_token());
    QThread::msleep(300);
    start = std::chrono::steady_clock::now();
    quitting.request_stop();
    job.waitForFinished();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_TRUE(files().empty());
}

// The phone's shortcut file: the workflow's exact dictionary after a binary round trip, and signing that
// fails, hangs or has no signer leaving the last good file alone.
#include "app/system/shortcut_maker.h"

#include "support/file_contents.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <QRegularExpression>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <plist/plist.h>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

/// The property list as JSON, keeping strings, integers and booleans apart.
json toJson(plist_t node) {
    switch (plist_get_node_type(node)) {
    case PLIST_DICT: {
        json object = json::object();
        plist_dict_iter iter = nullptr;
        plist_dict_new_iter(node, &iter);
        for (char* key = nullptr;; free(key), key = nullptr) {
            plist_t value = nullptr;
            plist_dict_next_item(node, iter, &key, &value);
            if (!value) {
                free(key);
                break;
            }
            object[key] = toJson(value);
        }
        free(iter);
        return object;
    }
    case PLIST_ARRAY: {
        json list = json::array();
        for (uint32_t i = 0; i < plist_array_get_size(node); ++i) {
            list.push_back(toJson(plist_array_get_item(node, i)));
        }
        return list;
    }
    case PLIST_STRING: {
        uint64_t length = 0;
        const char* text = plist_get_string_ptr(node, &length);
        return std::string(text, length);
    }
    case PLIST_UINT: {
        uint64_t value = 0;
        return (plist_get_uint_val(node, &value), value);
    }
    case PLIST_BOOLEAN:
        return plist_bool_val_is_true(node) != 0;
    default:
        ADD_FAILURE() << "unexpected node type " << plist_get_node_type(node);
        return nullptr;
    }
}

json decode(const std::string& bytes) {
    plist_t node = nullptr;
    plist_from_bin(bytes.data(), static_cast<uint32_t>(bytes.size()), &node);
    const ShortcutMaker::Plist owned(node);
    EXPECT_TRUE(node) << "not a binary property list";
    return node ? toJson(node) : json();
}

json roundTrip(const ShortcutMaker::Plist& plist) {
    char* bytes = nullptr;
    uint32_t size = 0;
    plist_to_bin(plist.get(), &bytes, &size);
    const std::string copy(bytes, size);
    plist_to_bin_free(bytes);
    return decode(copy);
}

/// The workflow as a phone must receive it, written out by hand; "GROUP", "URL", "DEVICE" and "MAC" are
/// filled in.
json expectedWorkflow(const std::string& url, const std::string& device, const std::string& mac,
                      const std::string& group) {
    json workflow = json::parse(R"({
      "WFWorkflowMinimumClientVersion": 900, "WFWorkflowMinimumClientVersionString": "900",
      "WFWorkflowClientVersion": "2302.0.4",
      "WFWorkflowIcon": {"WFWorkflowIconStartColor": 463140863, "WFWorkflowIconGlyphNumber": 61440},
      "WFWorkflowTypes": ["ActionExtension"], "WFWorkflowHasShortcutInputVariables": true,
      "WFWorkflowInputContentItemClasses": ["WFImageContentItem", "WFGenericFileContentItem",
        "WFAVAssetContentItem", "WFPDFContentItem", "WFStringContentItem", "WFURLContentItem"],
      "WFWorkflowImportQuestions": [], "WFQuickActionSurfaces": [], "WFWorkflowHasOutputFallback": false,
      "WFWorkflowOutputContentItemClasses": [],
      "WFWorkflowActions": [
        {"WFWorkflowActionIdentifier": "is.workflow.actions.repeat.each",
         "WFWorkflowActionParameters": {"GroupingIdentifier": "GROUP", "WFControlFlowMode": 0,
           "WFInput": {"Value": {"Type": "ExtensionInput"}, "WFSerializationType": "WFTextTokenAttachment"}}},
        {"WFWorkflowActionIdentifier": "is.workflow.actions.downloadurl",
         "WFWorkflowActionParameters": {"WFURL": "URL", "WFHTTPMethod": "POST", "WFHTTPBodyType": "File",
           "ShowHeaders": true, "WFRequestVariable": {"Value": {"Type": "Variable", "VariableName": "Repeat Item"},
                                                      "WFSerializationType": "WFTextTokenAttachment"},
           "WFHTTPHeaders": {"WFSerializationType": "WFDictionaryFieldValue", "Value": {"WFDictionaryFieldValueItems": [
             {"WFItemType": 0, "WFKey": {"Value": {"string": "X-Tesk-Name"}, "WFSerializationType": "WFTextTokenString"},
              "WFValue": {"WFSerializationType": "WFTextTokenString", "Value": {"string": "\uFFFC",
                "attachmentsByRange": {"{0, 1}": {"Type": "Variable", "VariableName": "Repeat Item",
                  "Aggrandizements": [{"Type": "WFPropertyVariableAggrandizement", "PropertyName": "Name"}]}}}}},
             {"WFItemType": 0, "WFKey": {"Value": {"string": "X-Tesk-Device"}, "WFSerializationType": "WFTextTokenString"},
              "WFValue": {"Value": {"string": "DEVICE"}, "WFSerializationType": "WFTextTokenString"}}]}}}},
        {"WFWorkflowActionIdentifier": "is.workflow.actions.repeat.each",
         "WFWorkflowActionParameters": {"GroupingIdentifier": "GROUP", "WFControlFlowMode": 2}},
        {"WFWorkflowActionIdentifier": "is.workflow.actions.notification",
         "WFWorkflowActionParameters": {"WFNotificationActionTitle": "Tesk", "WFNotificationActionBody": "MAC",
                                        "WFNotificationActionSound": false}}]})");
    auto& actions = workflow["WFWorkflowActions"];
    actions[0]["WFWorkflowActionParameters"]["GroupingIdentifier"] = group;
    actions[2]["WFWorkflowActionParameters"]["GroupingIdentifier"] = group;
    auto& post = actions[1]["WFWorkflowActionParameters"];
    post["WFURL"] = url;
    post["WFHTTPHeaders"]["Value"]["WFDictionaryFieldValueItems"][1]["WFValue"]["Value"]["string"] = device;
    actions[3]["WFWorkflowActionParameters"]["WFNotificationActionBody"] = "Sent to " + mac;
    return workflow;
}

/// The repeat block's grouping identifier, after checking that both of its ends carry the same UUID.
std::string groupOf(const json& workflow) {
    const auto& actions = workflow.at("WFWorkflowActions");
    const std::string group = actions.at(0).at("WFWorkflowActionParameters").value("GroupingIdentifier", "");
    EXPECT_EQ(actions.at(2).at("WFWorkflowActionParameters").value("GroupingIdentifier", ""), group);
    const QRegularExpression uuid("^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$");
    EXPECT_TRUE(uuid.match(QString::fromStdString(group)).hasMatch()) << group;
    return group;
}

// A stand-in for `shortcuts sign`: insists on exactly its arguments, then "signs" by copying.
constexpr const char* copyingSigner =
    "[ $# -eq 7 ] && [ \"$1 $2 $3 $4 $6\" = 'sign --mode anyone --input --output' ] || exit 3\n"
    "case \"$5\" in *.wflow) ;; *) exit 4 ;; esac\n"
    "cp \"$5\" \"$7\"\n";
constexpr const char* dyingSigner = "printf partial > \"$7\"\nexit 1\n";

class ShortcutMakerTest : public testing::Test {
protected:
    void useSigner(const std::string& body) {
        std::ofstream(tools.path() / "signer") << "#!/bin/sh\n" << body;
        fs::permissions(tools.path() / "signer", fs::perms::owner_all);
        signerVariable.set((tools.path() / "signer").string());
    }
    bool make(std::chrono::milliseconds limit = ShortcutMaker::signingLimit) {
        return ShortcutMaker::make(phone, library.path(), "Ana's Laptop", "myhost.local", 8080, limit);
    }
    std::vector<std::string> files() const {
        std::vector<std::string> names;
        std::error_code ignored;
        for (const auto& entry : fs::directory_iterator(library.path() / "shortcuts", ignored)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    json shortcut(const std::string& token) const {
        return decode(readFile(library.path() / "shortcuts" / (token + ".shortcut")));
    }

    TempDir library;
    TempDir tools;
    ScopedEnv signerVariable{"TESK_SHORTCUT_SIGNER"};
    inline static const PairedDevice phone{.id = "d1", .name = "Ana's iPhone", .token = "tok1"};
};

} // namespace

TEST(ShortcutMakerWorkflowTest, IsTheExpectedDictionaryAndNamesStayPlainText) {
    EXPECT_EQ(ShortcutMaker::uploadURL("myhost.local", 8080, "tok1"),
              "http://myhost.local:8080/d/tok1/upload");
    for (const auto& [device, mac] : {std::pair<std::string, std::string>{"Ana's iPhone", "Ana's Laptop"},
                                      {"Zo\u00eb's <\"iPhone\"> & \U0001F4F1", "Caf\u00e9 <Mac> & 'Co'"}}) {
        const json workflow = roundTrip(ShortcutMaker::workflow("http://h.local:1/d/t/upload", device, mac));
        EXPECT_EQ(workflow, expectedWorkflow("http://h.local:1/d/t/upload", device, mac, groupOf(workflow)));
    }
}

TEST_F(ShortcutMakerTest, TheSignedFileHoldsTheWorkflowAndEachMakingDrawsANewGroup) {
    useSigner(copyingSigner);
    ASSERT_TRUE(make());
    const json first = shortcut("tok1");
    EXPECT_EQ(first, expectedWorkflow("http://myhost.local:8080/d/tok1/upload", "Ana's iPhone",
                                      "Ana's Laptop", groupOf(first)));
    ASSERT_TRUE(make());
    EXPECT_EQ(files(), std::vector<std::string>{"tok1.shortcut"});
    EXPECT_NE(groupOf(shortcut("tok1")), groupOf(first));
}

TEST_F(ShortcutMakerTest, FailedSigningLeavesNoNewFileAndKeepsTheLastGoodShortcut) {
    const auto missing = (tools.path() / "missing-signer").string();
    // A signer dying midway, one that is not there, and one that ends well without an output.
    const std::vector<std::optional<std::string>> signers{dyingSigner, std::nullopt, "exit 0\n"};
    for (const bool withGood : {false, true}) {
        fs::remove_all(library.path() / "shortcuts");
        useSigner(copyingSigner);
        ASSERT_EQ(withGood && make(), withGood);
        const std::vector<std::string> before = files();
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
    EXPECT_EQ(files(), std::vector<std::string>{});

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
    EXPECT_EQ(files(), std::vector<std::string>{});
}

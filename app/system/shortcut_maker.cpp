#include "app/system/shortcut_maker.h"

#include "app/system/child_process.h"
#include "core/http.h"

#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QThreadPool>
#include <QUuid>
#include <QtConcurrent/QtConcurrentRun>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <utility>

namespace ShortcutMaker {
namespace {

namespace fs = std::filesystem;

// Builders for the nested structure; each returns a node that the container it is put in takes over.
using Entry = std::pair<const char*, plist_t>;

plist_t dict(std::initializer_list<Entry> entries) {
    plist_t node = plist_new_dict();
    for (const auto& [key, value] : entries) {
        plist_dict_set_item(node, key, value);
    }
    return node;
}

plist_t array(std::initializer_list<plist_t> items) {
    plist_t node = plist_new_array();
    for (plist_t item : items) {
        plist_array_append_item(node, item);
    }
    return node;
}

plist_t string(const std::string& value) {
    return plist_new_string(value.c_str());
}
plist_t integer(std::uint64_t value) {
    return plist_new_uint(value);
}
plist_t boolean(bool value) {
    return plist_new_bool(value ? 1 : 0);
}

/// Literal text in a Shortcuts text field.
plist_t text(const std::string& value) {
    return dict(
        {{"Value", dict({{"string", string(value)}})}, {"WFSerializationType", string("WFTextTokenString")}});
}

/// The item the repeat block is at.
plist_t repeatItem() {
    return dict({{"Type", string("Variable")}, {"VariableName", string("Repeat Item")}});
}

plist_t action(const char* identifier, plist_t parameters) {
    return dict(
        {{"WFWorkflowActionIdentifier", string(identifier)}, {"WFWorkflowActionParameters", parameters}});
}

plist_t header(const std::string& name, plist_t value) {
    return dict({{"WFItemType", integer(0)}, {"WFKey", text(name)}, {"WFValue", value}});
}

/// The repeat item's name, as a text field holding one attachment: U+FFFC marks where it goes.
plist_t itemName() {
    plist_t attachment =
        dict({{"Type", string("Variable")},
              {"VariableName", string("Repeat Item")},
              {"Aggrandizements", array({dict({{"Type", string("WFPropertyVariableAggrandizement")},
                                               {"PropertyName", string("Name")}})})}});
    return dict({{"Value", dict({{"string", string("\xEF\xBF\xBC")},
                                 {"attachmentsByRange", dict({{"{0, 1}", attachment}})}})},
                 {"WFSerializationType", string("WFTextTokenString")}});
}

plist_t actions(const std::string& uploadURL, const std::string& deviceName, const std::string& macName) {
    // Shortcuts pairs the start and end of a repeat block by this identifier; it writes UUIDs upper case.
    const std::string group = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toStdString();
    plist_t repeatStart =
        action("is.workflow.actions.repeat.each",
               dict({{"GroupingIdentifier", string(group)},
                     {"WFControlFlowMode", integer(0)},
                     {"WFInput", dict({{"Value", dict({{"Type", string("ExtensionInput")}})},
                                       {"WFSerializationType", string("WFTextTokenAttachment")}})}}));
    plist_t post = action(
        "is.workflow.actions.downloadurl",
        dict({{"WFURL", string(uploadURL)},
              {"WFHTTPMethod", string("POST")},
              {"WFHTTPBodyType", string("File")},
              {"ShowHeaders", boolean(true)},
              {"WFRequestVariable",
               dict({{"Value", repeatItem()}, {"WFSerializationType", string("WFTextTokenAttachment")}})},
              {"WFHTTPHeaders", dict({{"Value", dict({{"WFDictionaryFieldValueItems",
                                                       array({header("X-Tesk-Name", itemName()),
                                                              header("X-Tesk-Device", text(deviceName))})}})},
                                      {"WFSerializationType", string("WFDictionaryFieldValue")}})}}));
    plist_t repeatEnd =
        action("is.workflow.actions.repeat.each",
               dict({{"GroupingIdentifier", string(group)}, {"WFControlFlowMode", integer(2)}}));
    plist_t notify = action("is.workflow.actions.notification",
                            dict({{"WFNotificationActionTitle", string("Tesk")},
                                  {"WFNotificationActionBody", string("Sent to " + macName)},
                                  {"WFNotificationActionSound", boolean(false)}}));
    return array({repeatStart, post, repeatEnd, notify});
}

void removeQuietly(const fs::path& path) {
    std::error_code ignored;
    fs::remove(path, ignored);
}

bool writeFile(const fs::path& path, const char* data, std::size_t size) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(data, static_cast<std::streamsize>(size));
    file.close();
    return static_cast<bool>(file);
}

/// Runs the signer to completion; true when it exited normally with status 0 before `limit` and before a
/// stop was requested.
bool sign(const fs::path& command, const fs::path& input, const fs::path& output,
          std::chrono::milliseconds limit, const std::stop_token& stop) {
    QProcess process;
    process.setProgram(QString::fromStdString(command.string()));
    process.setArguments({QStringLiteral("sign"), QStringLiteral("--mode"), QStringLiteral("anyone"),
                          QStringLiteral("--input"), QString::fromStdString(input.string()),
                          QStringLiteral("--output"), QString::fromStdString(output.string())});
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    ChildProcess::useDefaultSignals(process);
    process.start();
    if (!process.waitForStarted()) {
        return false;
    }
    // Waited for in short steps, so that quitting need not wait for a slow signer.
    constexpr std::chrono::milliseconds step{50};
    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool finished = false;
    while (!finished && !stop.stop_requested() && std::chrono::steady_clock::now() < deadline) {
        finished = process.waitForFinished(static_cast<int>(step.count()));
    }
    if (!finished) {
        // A hung signer must not hold the pool thread, nor leave a process behind.
        process.kill();
        process.waitForFinished();
        return false;
    }
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

} // namespace

std::string uploadURL(const std::string& host, std::uint16_t port, const std::string& token) {
    return HTTP::url(host, port, "/d/" + token + "/upload");
}

Plist workflow(const std::string& uploadURL, const std::string& deviceName, const std::string& macName) {
    return Plist(dict({
        {"WFWorkflowMinimumClientVersion", integer(900)},
        {"WFWorkflowMinimumClientVersionString", string("900")},
        {"WFWorkflowClientVersion", string("2302.0.4")},
        {"WFWorkflowIcon", dict({{"WFWorkflowIconStartColor", integer(463140863)},
                                 {"WFWorkflowIconGlyphNumber", integer(61440)}})},
        {"WFWorkflowTypes", array({string("ActionExtension")})},
        {"WFWorkflowHasShortcutInputVariables", boolean(true)},
        {"WFWorkflowInputContentItemClasses",
         array({string("WFImageContentItem"), string("WFGenericFileContentItem"),
                string("WFAVAssetContentItem"), string("WFPDFContentItem"), string("WFStringContentItem"),
                string("WFURLContentItem")})},
        {"WFWorkflowImportQuestions", array({})},
        {"WFWorkflowActions", actions(uploadURL, deviceName, macName)},
        {"WFQuickActionSurfaces", array({})},
        {"WFWorkflowHasOutputFallback", boolean(false)},
        {"WFWorkflowOutputContentItemClasses", array({})},
    }));
}

std::optional<fs::path> signer() {
    const char* configured = std::getenv("TESK_SHORTCUT_SIGNER");
    if (configured && configured[0] != '\0') {
        return fs::path(configured);
    }
    const QString found = QStandardPaths::findExecutable(QStringLiteral("shortcuts"));
    if (!found.isEmpty()) {
        return fs::path(found.toStdString());
    }
    return std::nullopt;
}

bool make(const PairedDevice& device, const fs::path& root, const std::string& macName,
          const std::string& host, std::uint16_t port, std::chrono::milliseconds limit,
          std::stop_token stop) {
    // Without a signer the unsigned file would be of no use to anyone: write nothing.
    const auto command = signer();
    if (!command) {
        return false;
    }
    const fs::path directory = root / "shortcuts";
    std::error_code error;
    fs::create_directories(directory, error);
    if (error) {
        return false;
    }
    const Plist plist = workflow(uploadURL(host, port, device.token), device.name, macName);
    char* bytes = nullptr;
    std::uint32_t size = 0;
    plist_to_bin(plist.get(), &bytes, &size);
    const std::unique_ptr<char, decltype(&plist_to_bin_free)> ownedBytes(bytes, &plist_to_bin_free);
    if (!bytes || size == 0) {
        return false;
    }
    const fs::path unsignedPath = directory / (device.token + ".wflow");
    const fs::path signedPath = directory / (device.token + ".shortcut");
    // The signer writes beside the served file, which is replaced in one rename only once signing
    // succeeded: a phone never downloads half a shortcut, and a failed signing keeps the last good one.
    // The name is unique so that two makes for the same phone cannot mix their output.
    const fs::path signingPath =
        directory /
        (device.token + "." + QUuid::createUuid().toString(QUuid::Id128).toStdString() + ".shortcut");
    if (!writeFile(unsignedPath, bytes, size)) {
        removeQuietly(unsignedPath);
        return false;
    }
    bool made =
        sign(*command, unsignedPath, signingPath, limit, stop) && fs::is_regular_file(signingPath, error);
    removeQuietly(unsignedPath);
    if (made) {
        fs::rename(signingPath, signedPath, error);
        made = !error;
    }
    removeQuietly(signingPath);
    return made;
}

QFuture<void> ensure(std::vector<PairedDevice> devices, std::filesystem::path root, std::string macName,
                     std::optional<std::string> host, std::uint16_t port, std::stop_token stop) {
    if (!host) {
        return QtFuture::makeReadyFuture();
    }
    return QtConcurrent::run(QThreadPool::globalInstance(),
                             [devices = std::move(devices), root = std::move(root),
                              macName = std::move(macName), host = *host, port, stop = std::move(stop)] {
                                 for (const PairedDevice& device : devices) {
                                     if (stop.stop_requested()) {
                                         return;
                                     }
                                     make(device, root, macName, host, port, signingLimit, stop);
                                 }
                             });
}

} // namespace ShortcutMaker

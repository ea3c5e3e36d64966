#pragma once

#include "app/model/appearance_setting.h"
#include "app/model/library_entry.h"
#include "app/model/list_row.h"
#include "app/model/model_ports.h"
#include "app/model/notifier_target.h"
#include "app/model/platform.h"
#include "app/model/sidebar_selection.h"
#include "app/system/local_network.h"
#include "app/system/relay_client.h"
#include "core/library.h"
#include "core/library_store.h"
#include "server/server_event.h"

#include <QFutureSynchronizer>
#include <QObject>
#include <QTimer>
#include <QUrl>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <vector>

class NetworkWatcher;
class QSettings;

/// The one controller between the views and the rest of the program. Views read its state and call its
/// operations; every change of the library comes back through the store's change callback as a
/// `reload()`. Lives on the main thread: everything that arrives on other threads (store changes, server
/// events, network changes) is posted here and holds the model weakly. No operation reports an error to
/// its caller; outcomes are shown as a short status message (`toast`).
class AppModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(Library library READ library NOTIFY libraryChanged)
    Q_PROPERTY(SidebarSelection selection READ selection WRITE setSelection NOTIFY selectionChanged)
    Q_PROPERTY(std::string search READ search WRITE setSearch NOTIFY searchChanged)
    Q_PROPERTY(
        std::optional<ShareTarget> inspecting READ inspecting WRITE setInspecting NOTIFY inspectingChanged)
    Q_PROPERTY(std::optional<LibraryStore::PairingCode> pairing READ pairing NOTIFY pairingChanged)
    Q_PROPERTY(std::optional<PairedDevice> justPaired READ justPaired NOTIFY justPairedChanged)
    Q_PROPERTY(std::vector<ShareTarget> picked READ picked WRITE setPicked NOTIFY pickedChanged)
    Q_PROPERTY(
        std::optional<std::string> renamingID READ renamingID WRITE setRenamingID NOTIFY renamingIDChanged)
    Q_PROPERTY(std::optional<std::string> address READ address NOTIFY addressChanged)
    Q_PROPERTY(std::optional<std::string> toast READ toast NOTIFY toastChanged)
    Q_PROPERTY(
        std::optional<std::string> revealedID READ revealedID WRITE setRevealedID NOTIFY revealedIDChanged)
    Q_PROPERTY(bool linkCopied READ linkCopied NOTIFY linkCopiedChanged)
    Q_PROPERTY(int revealRequest READ revealRequest NOTIFY revealRequestChanged)
    Q_PROPERTY(Date lastSeenReceived READ lastSeenReceived NOTIFY lastSeenReceivedChanged)
    Q_PROPERTY(AppearanceSetting appearance READ appearance WRITE setAppearance NOTIFY appearanceChanged)
    Q_PROPERTY(bool opensAtLogin READ opensAtLogin WRITE setOpensAtLogin NOTIFY opensAtLoginChanged)
    Q_PROPERTY(std::optional<std::filesystem::path> previewFile READ previewFile WRITE setPreviewFile NOTIFY
                   previewFileChanged)

public:
    /// The model's delays. Tests shorten them; the application keeps these.
    struct Timing {
        /// How long a status message stays.
        std::chrono::milliseconds toast{2'200};
        /// How long "Copied" shows after a link was copied from the inspector.
        std::chrono::milliseconds linkCopied{1'800};
        /// How often the LAN address is read again, whatever the network watcher reports.
        std::chrono::milliseconds addressRefresh{15'000};
    };

    /// Where the model's outside facts come from. The application takes the defaults; tests replace them.
    struct Services {
        /// The relay's base addresses; none keeps the relay silent.
        std::vector<QUrl> relayHosts = RelayClient::hostsFromEnvironment();
        RelayClient::Timing relayTiming{};
        /// The Wi-Fi name reported at check-in; unset asks NetworkManager.
        std::function<std::string()> ssid;
        /// The computer's LAN address now.
        std::function<std::optional<std::string>()> address = &LocalNetwork::address;
        /// Whether to follow the system's network changes (besides the periodic refresh).
        bool watchNetwork = true;
        Timing timing{};
    };

    /// What the model reaches beyond the library: the desktop, the server, the login start and the
    /// phones' shortcut files. The application passes the real ones; tests pass their own.
    struct Ports {
        Platform& desktop;
        SharingServer& server;
        LoginStart& login;
        PhoneShortcuts& shortcuts;
    };

    /// Where added things go: the folder on show, or a given folder (none is the top level).
    struct Destination {
        static Destination current() { return {}; }
        static Destination into(std::optional<std::string> folderID) { return {false, std::move(folderID)}; }

        bool isCurrent = true;
        std::optional<std::string> folderID;
    };

    /// One entry of the "Move to" choices: a folder (none for the top level) and its indented label.
    struct MoveDestination {
        std::optional<std::string> folderID;
        std::string label;

        friend bool operator==(const MoveDestination&, const MoveDestination&) = default;
    };

    /// The shares list: links working now and earlier ones, each newest first.
    struct ShareHistory {
        std::vector<Share> active;
        std::vector<Share> earlier;
    };

    /// Builds the model over a store and what it reaches beyond it, and starts what it owns: the relay
    /// client, the network watcher, the address timer and the missing shortcut files. Routes the
    /// store's changes to itself until destroyed.
    AppModel(LibraryStore& store, Ports ports, QSettings& settings, Services services,
             QObject* parent = nullptr);
    ~AppModel() override;

    AppModel(const AppModel&) = delete;
    AppModel& operator=(const AppModel&) = delete;

    // Published state.
    /// Now, by the library's clock.
    Date now() const;
    const Library& library() const { return library_; }
    const SidebarSelection& selection() const { return selection_; }
    void setSelection(const SidebarSelection& selection);
    const std::string& search() const { return search_; }
    void setSearch(const std::string& search);
    const std::optional<ShareTarget>& inspecting() const { return inspecting_; }
    void setInspecting(const std::optional<ShareTarget>& target);
    const std::optional<LibraryStore::PairingCode>& pairing() const { return pairing_; }
    const std::optional<PairedDevice>& justPaired() const { return justPaired_; }
    const std::vector<ShareTarget>& picked() const { return picked_; }
    void setPicked(const std::vector<ShareTarget>& picked);
    /// Clears the picks and the anchor, so a later Shift-click starts afresh.
    void clearPicks();
    const std::optional<ShareTarget>& pickAnchor() const { return pickAnchor_; }
    const std::optional<std::string>& renamingID() const { return renamingID_; }
    void setRenamingID(const std::optional<std::string>& id);
    const std::optional<std::string>& address() const { return address_; }
    const std::optional<std::string>& toast() const { return toast_; }
    bool hasToastAction() const { return static_cast<bool>(toastAction_); }
    const std::optional<std::string>& revealedID() const { return revealedID_; }
    void setRevealedID(const std::optional<std::string>& id);
    bool linkCopied() const { return linkCopied_; }
    int revealRequest() const { return revealRequest_; }
    Date lastSeenReceived() const { return lastSeenReceived_; }
    AppearanceSetting appearance() const { return appearance_; }
    void setAppearance(AppearanceSetting appearance);
    const std::optional<std::filesystem::path>& previewFile() const { return previewFile_; }
    /// The preview window calls this with nothing when it closes.
    void setPreviewFile(const std::optional<std::filesystem::path>& file);

    /// Whether the desktop starts Tesk at login.
    bool opensAtLogin() const;
    /// Registers or removes the login start; a failure is shown as a status message.
    void setOpensAtLogin(bool opens);
    /// The one offer, on the first run of an installed copy, to start at login.
    void openAtLoginOnFirstRun();

    // Following the library and status messages.
    /// Takes a fresh snapshot, tells followers about new items, asks the relay to check in soon, and
    /// repairs the selection, the inspector and the picks when what they name is gone.
    void reload();
    /// Shows `message` for a while; tapping it runs `onTap`.
    void show(const std::string& message, std::function<void()> onTap = {});
    /// Hides the message and runs its action.
    void tapToast();

    // What the explorer shows.
    /// The explorer's heading.
    std::string title() const;
    /// The selected folder's name, or "Tesk".
    std::string locationName() const;
    /// Items received from someone after Received was last looked at.
    int unseenReceived() const;
    /// The explorer's list for the selection, or the search results.
    std::vector<ListRow> rows() const;
    /// The grey line under an item's name: sender, location, a link's address, a note's text.
    static std::optional<std::string> itemSubtitle(const Library& library, const Item& item,
                                                   bool showLocation);
    /// "2 files, 1 folder".
    std::string pickedSummary() const;
    /// The top level, then every folder depth first with four spaces per level.
    std::vector<MoveDestination> moveDestinations() const;

    // Library actions.
    /// Picks rows as a click with the Command (Ctrl) and Shift keys does.
    void click(const ListRow& row, bool command, bool shift, const std::vector<ListRow>& rows);
    void togglePick(const ShareTarget& target);
    /// Enters a folder, or opens an item.
    void open(const ListRow& row);
    /// Opens a file or a link; copies a note.
    void openItem(const Item& item);
    /// Where a file item's copy is stored.
    std::filesystem::path storedFile(const Item& item) const;
    /// Shows a file's stored copy selected in the file manager.
    void showInFileManager(const Item& item);
    /// Previews a file.
    void quickLook(const Item& item);
    /// The space bar: closes the preview, or previews the last picked file. Whether it did anything.
    bool toggleQuickLook();
    /// Shows an item in the explorer, picked and scrolled to.
    void showItem(const std::string& id);
    void showPhones();
    /// Copies files and folders into the library on a worker thread, then reports on the main thread.
    void add(std::vector<std::filesystem::path> paths, Destination to = Destination::current(),
             bool reveal = false);
    /// Adds a link or a note.
    void addText(const std::string& text, Destination to = Destination::current());
    /// Adds the clipboard's files, else its text.
    void paste();
    /// Asks for files and folders, then adds them.
    void chooseFiles();
    /// Makes "New Folder" where the explorer is and starts renaming it.
    void newFolder();
    void rename(const std::string& id, const std::string& name);
    /// Moves one folder or item into a folder (none is the top level).
    void move(const LibraryEntry& entry, const std::optional<std::string>& folderID);
    void movePicked(const std::optional<std::string>& folderID);
    /// Asks, then deletes every picked entry.
    void deletePicked();
    /// Deletes one folder or item without asking, as its menu does; a failure is shown.
    void deleteEntry(const LibraryEntry& entry);
    /// Records that Received has been looked at.
    void markReceivedSeen();

    // Sharing.
    /// Shares working now, receive links left out, in library order.
    std::vector<Share> activeShares() const;
    ShareHistory shareHistory() const;
    bool isShared(const ShareTarget& target) const;
    /// The address a phone opens for the share: the relay's when it has one, else the LAN's; nothing off
    /// the network.
    std::optional<std::string> link(const Share& share) const;
    /// The address a phone scans to pair; nothing without an offer or an address.
    std::optional<std::string> pairingURL() const;
    bool isPairingPanelOpen() const { return pairing_ || justPaired_; }
    /// People following the share, as the relay last said; 0 when unknown.
    int followerCount(const Share& share) const;
    /// Whether what an earlier share pointed at is still there to share again.
    bool canShareAgain(const Share& share) const;

    /// Makes sure the target has a working share and opens the inspector on it.
    void inspect(const ShareTarget& target);
    /// Makes sure the target has a working share and copies its link.
    void copyLink(const ShareTarget& target);
    void setAllowsUploads(bool allowsUploads, const ShareTarget& target);
    /// Restarts the clock of the target's link for `duration`; the link and its uploads setting stay.
    void renewShare(const ShareTarget& target, ShareDuration duration);
    /// Removes an earlier link from the history.
    void forgetShare(const std::string& token);
    /// Stops the target's working share and closes the inspector.
    void stopSharing(const ShareTarget& target);
    void stop(const Share& share);
    /// Renews an earlier share and opens the inspector on it.
    void shareAgain(const Share& share);
    /// One share for everything picked, then the inspector on it.
    void sharePicked();
    /// One share for everything picked, its link copied.
    void copyPickedLink();
    /// Shares the targets and has the relay show the link on the phone.
    void send(const std::vector<ShareTarget>& targets, const PairedDevice& device);
    /// Offers a new pairing code.
    void startPairing();
    /// Withdraws the code and closes the pairing panel.
    void closePairing();
    /// Asks, then forgets the phone and deletes its shortcut file.
    void removeDevice(const PairedDevice& device);
    void renameDevice(const std::string& id, const std::string& name);

    // Events and presence.
    /// Reacts to what the server reports. Main thread only.
    void handle(const ServerEvent& event);
    /// A server event callback for any thread: hands each event to `handle` on the main thread while
    /// the model exists.
    std::function<void(const ServerEvent&)> serverEventHandler();
    /// Reads the LAN address again; a change asks the relay to check in at once.
    void refreshAddress();
    /// What the relay is told at check-in: names, addresses, working shares and phones.
    RelayClient::CheckIn relayCheckIn() const;
    /// Queues relay notifications about items that are new since the last look, for followed shares.
    void pingFollowersAboutNewItems();

signals:
    void libraryChanged();
    void selectionChanged();
    void searchChanged();
    void inspectingChanged();
    void pairingChanged();
    void justPairedChanged();
    void pickedChanged();
    void renamingIDChanged();
    void addressChanged();
    void toastChanged();
    void revealedIDChanged();
    void linkCopiedChanged();
    void revealRequestChanged();
    void lastSeenReceivedChanged();
    void appearanceChanged();
    void previewFileChanged();
    void opensAtLoginChanged();
    /// The relay's links or follower counts changed, so links and share status lines may read otherwise.
    void relayChanged();
    /// A phone or browser sent this item; after the notification went out.
    void itemReceived(const Item& item);

private:
    // Shared by the model's parts.
    /// The port phones reach the server on.
    std::uint16_t port() const;
    /// Whether what a target names is still in the library.
    bool exists(const ShareTarget& target) const;
    /// The folder on show: its id when a folder is selected, else the top level.
    std::optional<std::string> currentFolder() const;
    /// The folder a destination names.
    std::optional<std::string> resolve(const Destination& to) const;
    /// A folder's name for messages, "Tesk" for the top level.
    std::string placeName(const std::optional<std::string>& folderID) const;
    /// Opens the inspector on a target afresh, "Copied" reset.
    void openInspector(const ShareTarget& target);
    /// Shows "Copied" in the inspector for a moment.
    void flashLinkCopied();
    void setLinkCopied(bool copied);
    void setToast(std::optional<std::string> toast);
    void setAddress(std::optional<std::string> address);
    void setPairing(std::optional<LibraryStore::PairingCode> pairing);
    void setJustPaired(std::optional<PairedDevice> device);
    void requestReveal();
    /// Makes the shortcut files of these phones in the background, when the server has a host name.
    void ensureShortcuts(std::vector<PairedDevice> devices);
    /// root/shortcuts/<token>.shortcut.
    std::filesystem::path shortcutFile(const PairedDevice& device) const;
    /// One share for the picks, or nothing when everything picked is gone.
    std::optional<Share> sharePicks();

    LibraryStore& store_;
    Platform& platform_;
    SharingServer& server_;
    LoginStart& login_;
    PhoneShortcuts& shortcuts_;
    QSettings& settings_;
    Services services_;

    Library library_;
    SidebarSelection selection_;
    std::string search_;
    std::optional<ShareTarget> inspecting_;
    std::optional<LibraryStore::PairingCode> pairing_;
    std::optional<PairedDevice> justPaired_;
    std::vector<ShareTarget> picked_;
    std::optional<ShareTarget> pickAnchor_;
    std::optional<std::string> renamingID_;
    std::optional<std::string> address_;
    std::optional<std::string> toast_;
    std::function<void()> toastAction_;
    std::optional<std::string> revealedID_;
    bool linkCopied_ = false;
    int revealRequest_ = 0;
    Date lastSeenReceived_;
    AppearanceSetting appearance_ = AppearanceSetting::system;
    std::optional<std::filesystem::path> previewFile_;

    std::unique_ptr<RelayClient> relay_;
    std::set<std::string> knownItemIDs_;
    std::unique_ptr<NetworkWatcher> networkWatcher_;
    QTimer addressTimer_;
    QTimer toastTimer_;
    QTimer copiedTimer_;
    /// Stops the copies and shortcut files below when the model goes, so quitting never waits for them.
    std::stop_source stopBackground_;
    /// Copies and shortcut files still being made; waited for when the model goes, because they use the
    /// store. Last, so it is destroyed first.
    QFutureSynchronizer<void> background_;
};

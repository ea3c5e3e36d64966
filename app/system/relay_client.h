#pragma once

#include <nlohmann/json.hpp>

#include <QObject>
#include <QTimer>
#include <QUrl>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

class QNetworkAccessManager;
class QNetworkReply;

/// The client of the relay service: registers this computer once, checks in every minute and on
/// demand with its addresses, shares and phones, reads back follower counts, sends follow
/// notifications and send-to-phone requests, and derives the stable relay addresses. Lives on the main
/// thread; every request is asynchronous, so several check-ins may be in flight and the last reply wins.
class RelayClient : public QObject {
    Q_OBJECT

public:
    /// This computer's account at the relay, stored in "relay.json".
    struct Identity {
        std::string macId;
        std::string secret;

        friend bool operator==(const Identity&, const Identity&) = default;
    };

    /// One active share as the relay learns it.
    struct SharedLink {
        std::string token;
        std::string title;
    };

    /// What one check-in reports.
    struct CheckIn {
        std::string name = "this computer";
        /// Base addresses on the local network, "http://host:port", the numeric one first.
        std::vector<std::string> lan;
        std::vector<SharedLink> shares;
        /// Paired phones' tokens; only their SHA-256 leaves the computer.
        std::vector<std::string> deviceTokens;
    };

    /// How a send-to-phone request ended.
    enum class SendResult { sent, waiting, failed };

    /// The client's delays. Tests shorten them; the application keeps these.
    struct Timing {
        std::chrono::milliseconds checkInInterval{60'000};
        std::chrono::milliseconds healthTimeout{4'000};
        /// A request that receives nothing for this long fails like a network error.
        std::chrono::milliseconds requestIdle{8'000};
        /// Follow notifications wait this long after the last new item before going out.
        std::chrono::milliseconds pingDelay{3'000};
    };

    /// A client with the identity read from root/relay.json; `hosts` are the relay base addresses, tried
    /// in order. Without hosts it never makes a request.
    RelayClient(std::filesystem::path root, std::vector<QUrl> hosts, QObject* parent = nullptr);
    /// The same with other delays.
    RelayClient(std::filesystem::path root, std::vector<QUrl> hosts, Timing timing,
                QObject* parent = nullptr);
    ~RelayClient() override;

    /// The base addresses listed in TESK_RELAY_HOSTS (comma-separated http or https addresses), without
    /// trailing slashes; entries that are not such an address are reported on standard error and skipped.
    static std::vector<QUrl> hostsFromEnvironment();

    /// Supplies what a check-in reports. The default reports "this computer" and nothing else.
    void setCheckInProvider(std::function<CheckIn()> provider);
    /// Supplies the Wi-Fi network's name; the default asks NetworkManager.
    void setSsidProvider(std::function<std::string()> provider);

    /// Checks in now and then every minute.
    void start();
    /// One check-in after `seconds`, replacing one scheduled earlier: a burst of calls gives one.
    void checkInSoon(double seconds);
    /// Checks in now; `done` runs when this check-in has ended, whatever its outcome.
    void checkIn(std::function<void()> done = {});
    /// Queues a follow notification about `itemName` for the share's followers; sent after a quiet delay.
    void ping(const std::string& token, const std::string& shareTitle, const std::string& itemName);
    /// Asks the relay to show a share on a paired phone; `done` gets the outcome on the main thread.
    void send(const std::string& deviceToken, const std::string& shareToken, const std::string& title,
              std::function<void(SendResult)> done);

    /// The relay base that answered the last check-in, without a trailing slash.
    std::optional<std::string> base() const { return base_; }
    /// Follower count per share token, from the last successful check-in.
    const std::map<std::string, int>& followers() const { return followers_; }
    const std::optional<Identity>& identity() const { return identity_; }
    /// base + "/k/" + macId: follow addresses are this + "/" + token + "/follow".
    std::optional<std::string> followBase() const;
    /// base + "/d/" + macId: a phone's launcher is this + "/" + device token + "/".
    std::optional<std::string> deviceBase() const;
    /// The relay address of a share.
    std::optional<std::string> link(const std::string& token) const;

    /// SHA-256 of the UTF-8 bytes of `text`, as 64 lower-case hexadecimal digits.
    static std::string sha256(const std::string& text);

signals:
    /// `base` or `followers` changed.
    void changed();

private:
    using Json = nlohmann::json;
    /// A reply: the HTTP status (0 for a network failure) and the body when it is a JSON object.
    using Reply = std::function<void(int status, std::optional<Json> object)>;

    void get(const QString& url, std::chrono::milliseconds timeout, std::function<void(int status)> done);
    void post(const QString& url, const Json& body, const std::optional<std::string>& secret, Reply done);
    static void read(QNetworkReply* reply, const Reply& done);

    /// The first host whose "healthz" answers 200.
    void reachableHost(std::function<void(std::optional<std::string>)> done, std::size_t from = 0);
    /// Calls `done(true)` once an identity exists, signing up at `host` when there is none.
    void ensureIdentity(const std::string& host, std::function<void(bool)> done);
    void signUp(const std::string& host);
    void sendPresence(const std::string& host, std::function<void()> done);
    void sendPings();
    void postSend(const std::string& host, const Json& body, bool retried,
                  std::function<void(SendResult)> done);

    void setBase(std::optional<std::string> base);
    void setFollowers(std::map<std::string, int> followers);
    std::optional<Identity> loadIdentity() const;
    void saveIdentity(const Identity& identity) const;
    std::string apiURL(const std::string& host, const std::string& action) const;

    std::filesystem::path identityFile_;
    std::vector<std::string> hosts_;
    Timing timing_;
    QNetworkAccessManager* network_;

    std::optional<std::string> base_;
    std::map<std::string, int> followers_;
    std::optional<Identity> identity_;
    std::function<CheckIn()> checkInProvider_;
    std::function<std::string()> ssidProvider_;

    QTimer timer_;
    QTimer soon_;
    struct Pending {
        std::string title;
        std::vector<std::string> names;
    };
    std::map<std::string, Pending> pings_;
    QTimer pingTimer_;
    /// Callers waiting for a sign-up already in flight, so that concurrent check-ins make one account.
    std::optional<std::vector<std::function<void(bool)>>> signUpWaiters_;
};

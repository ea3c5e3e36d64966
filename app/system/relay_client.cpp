#include "app/system/relay_client.h"

#include "app/system/wifi_name.h"
#include "core/atomic_file.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <limits>
#include <sstream>
#include <utility>

namespace {

constexpr char identityFileName[] = "relay.json";

/// Compact JSON; text that is not UTF-8 is sent with replacement characters rather than not at all.
QByteArray compact(const nlohmann::json& value) {
    return QByteArray::fromStdString(value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

std::string withoutTrailingSlash(const QUrl& url) {
    std::string text = url.toString(QUrl::FullyEncoded).toStdString();
    while (text.ends_with('/')) {
        text.pop_back();
    }
    return text;
}

/// A JSON integer that fits an int; 2.0 and "2" are not counts.
std::optional<int> integer(const nlohmann::json& value) {
    if (value.is_number_integer() || value.is_number_unsigned()) {
        const auto number = value.get<std::int64_t>();
        if (value.is_number_unsigned() && value.get<std::uint64_t>() > std::uint64_t(INT64_MAX)) {
            return std::nullopt;
        }
        if (number >= std::numeric_limits<int>::min() && number <= std::numeric_limits<int>::max()) {
            return static_cast<int>(number);
        }
    }
    return std::nullopt;
}

} // namespace

RelayClient::RelayClient(std::filesystem::path root, std::vector<QUrl> hosts, QObject* parent)
    : RelayClient(std::move(root), std::move(hosts), Timing{}, parent) {}

RelayClient::RelayClient(std::filesystem::path root, std::vector<QUrl> hosts, Timing timing, QObject* parent)
    : QObject(parent)
    , identityFile_(std::move(root) / identityFileName)
    , timing_(timing)
    , network_(new QNetworkAccessManager(this))
    , checkInProvider_([] { return CheckIn{}; })
    , ssidProvider_([] { return WifiName::current(); }) {
    for (const auto& host : hosts) {
        hosts_.push_back(withoutTrailingSlash(host));
    }
    identity_ = loadIdentity();

    connect(&timer_, &QTimer::timeout, this, [this] { checkIn(); });
    soon_.setSingleShot(true);
    connect(&soon_, &QTimer::timeout, this, [this] { checkIn(); });
    pingTimer_.setSingleShot(true);
    connect(&pingTimer_, &QTimer::timeout, this, &RelayClient::sendPings);
}

RelayClient::~RelayClient() = default;

std::vector<QUrl> RelayClient::hostsFromEnvironment() {
    std::vector<QUrl> hosts;
    const char* value = std::getenv("TESK_RELAY_HOSTS");
    if (!value) {
        return hosts;
    }
    for (const QString& entry : QString::fromUtf8(value).split(u',', Qt::SkipEmptyParts)) {
        const QString trimmed = entry.trimmed();
        const QUrl url(trimmed, QUrl::StrictMode);
        if (trimmed.isEmpty()) {
            continue;
        }
        if (!url.isValid() || (url.scheme() != "http" && url.scheme() != "https") || url.host().isEmpty() ||
            url.hasQuery() || url.hasFragment()) {
            std::cerr << "Tesk: ignoring \"" << trimmed.toStdString()
                      << "\" in TESK_RELAY_HOSTS: an http or https address is expected.\n";
            continue;
        }
        hosts.push_back(url);
    }
    return hosts;
}

void RelayClient::setCheckInProvider(std::function<CheckIn()> provider) {
    checkInProvider_ = std::move(provider);
}

void RelayClient::setSsidProvider(std::function<std::string()> provider) {
    ssidProvider_ = std::move(provider);
}

// ---- Derived addresses ----

std::optional<std::string> RelayClient::followBase() const {
    if (!base_ || !identity_) {
        return std::nullopt;
    }
    return *base_ + "/k/" + identity_->macId;
}

std::optional<std::string> RelayClient::deviceBase() const {
    if (!base_ || !identity_) {
        return std::nullopt;
    }
    return *base_ + "/d/" + identity_->macId;
}

std::optional<std::string> RelayClient::link(const std::string& token) const {
    const auto follow = followBase();
    if (!follow) {
        return std::nullopt;
    }
    return *follow + "/" + QString::fromStdString(token).toUtf8().toPercentEncoding().toStdString();
}

std::string RelayClient::sha256(const std::string& text) {
    return QCryptographicHash::hash(QByteArray::fromStdString(text), QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

// ---- Scheduling ----

void RelayClient::start() {
    checkInSoon(0);
    timer_.start(timing_.checkInInterval);
}

void RelayClient::checkInSoon(double seconds) {
    // A zero delay still runs on the next turn of the event loop, after the caller has finished.
    const auto delay = std::chrono::milliseconds(seconds > 0 ? static_cast<long long>(seconds * 1000) : 0);
    soon_.start(delay);
}

void RelayClient::ping(const std::string& token, const std::string& shareTitle, const std::string& itemName) {
    auto [entry, inserted] = pings_.try_emplace(token, Pending{shareTitle, {}});
    entry->second.names.push_back(itemName);
    pingTimer_.start(timing_.pingDelay);
}

// ---- Requests ----

void RelayClient::get(const QString& url, std::chrono::milliseconds timeout, std::function<void(int)> done) {
    QNetworkRequest request{QUrl(url)};
    request.setTransferTimeout(static_cast<int>(timeout.count()));
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    QNetworkReply* reply = network_->get(request);
    connect(reply, &QNetworkReply::finished, this, [reply, done = std::move(done)] {
        reply->deleteLater();
        done(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt());
    });
}

void RelayClient::post(const QString& url, const Json& body, const std::optional<std::string>& secret,
                       Reply done) {
    QNetworkRequest request{QUrl(url)};
    request.setTransferTimeout(static_cast<int>(timing_.requestIdle.count()));
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    if (secret) {
        request.setRawHeader("Authorization", QByteArray::fromStdString("Bearer " + *secret));
    }
    QNetworkReply* reply = network_->post(request, compact(body));
    connect(reply, &QNetworkReply::finished, this, [reply, done = std::move(done)] { read(reply, done); });
}

void RelayClient::read(QNetworkReply* reply, const Reply& done) {
    reply->deleteLater();
    // An HTTP error status is still an answer; only a missing status means the network failed.
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    std::optional<Json> object;
    if (status != 0) {
        Json parsed = Json::parse(reply->readAll().toStdString(), nullptr, false);
        if (parsed.is_object()) {
            object = std::move(parsed);
        }
    }
    done(status, std::move(object));
}

std::string RelayClient::apiURL(const std::string& host, const std::string& action) const {
    return host + "/api/macs/" + identity_->macId + "/" + action;
}

void RelayClient::reachableHost(std::function<void(std::optional<std::string>)> done, std::size_t from) {
    if (from >= hosts_.size()) {
        done(std::nullopt);
        return;
    }
    get(QString::fromStdString(hosts_[from] + "/healthz"), timing_.healthTimeout,
        [this, done = std::move(done), from](int status) mutable {
            if (status == 200) {
                done(hosts_[from]);
            } else {
                reachableHost(std::move(done), from + 1);
            }
        });
}

// ---- Account ----

void RelayClient::ensureIdentity(const std::string& host, std::function<void(bool)> done) {
    if (identity_) {
        done(true);
        return;
    }
    if (signUpWaiters_) {
        signUpWaiters_->push_back(std::move(done));
        return;
    }
    signUpWaiters_.emplace().push_back(std::move(done));
    signUp(host);
}

void RelayClient::signUp(const std::string& host) {
    post(QString::fromStdString(host + "/api/macs"), Json{{"name", checkInProvider_().name}}, std::nullopt,
         [this](int status, std::optional<Json> reply) {
             if (status == 201 && reply && reply->contains("macId") && reply->contains("secret") &&
                 (*reply)["macId"].is_string() && (*reply)["secret"].is_string()) {
                 Identity identity{(*reply)["macId"].get<std::string>(),
                                   (*reply)["secret"].get<std::string>()};
                 saveIdentity(identity);
                 identity_ = std::move(identity);
             }
             auto waiters = std::move(*signUpWaiters_);
             signUpWaiters_.reset();
             for (auto& waiter : waiters) {
                 waiter(identity_.has_value());
             }
         });
}

std::optional<RelayClient::Identity> RelayClient::loadIdentity() const {
    std::ifstream file(identityFile_, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    std::stringstream text;
    text << file.rdbuf();
    const Json json = Json::parse(text.str(), nullptr, false);
    if (!json.is_object() || !json.contains("macId") || !json.contains("secret") ||
        !json["macId"].is_string() || !json["secret"].is_string()) {
        return std::nullopt;
    }
    return Identity{json["macId"].get<std::string>(), json["secret"].get<std::string>()};
}

void RelayClient::saveIdentity(const Identity& identity) const {
    // Written with mode 0600 from the start: the secret is the account.
    try {
        AtomicFile::write(identityFile_, Json{{"macId", identity.macId}, {"secret", identity.secret}}.dump(),
                          0600);
    } catch (const std::exception&) {
        // The identity still serves this run; the next start signs up again.
    }
}

// ---- Check-in ----

void RelayClient::checkIn(std::function<void()> done) {
    if (!done) {
        done = [] {};
    }
    reachableHost([this, done = std::move(done)](std::optional<std::string> host) mutable {
        if (!host) {
            setBase(std::nullopt);
            done();
            return;
        }
        ensureIdentity(*host, [this, host = *host, done = std::move(done)](bool ok) mutable {
            if (!ok) {
                setBase(std::nullopt);
                done();
                return;
            }
            sendPresence(host, std::move(done));
        });
    });
}

void RelayClient::sendPresence(const std::string& host, std::function<void()> done) {
    const CheckIn report = checkInProvider_();
    Json shares = Json::array();
    for (const auto& share : report.shares) {
        shares.push_back({{"token", share.token}, {"title", share.title}});
    }
    Json devices = Json::array();
    for (const auto& token : report.deviceTokens) {
        devices.push_back(sha256(token));
    }
    const Json body{{"name", report.name},
                    {"lan", report.lan},
                    {"shares", std::move(shares)},
                    {"ssid", ssidProvider_()},
                    {"devices", std::move(devices)}};
    const Identity used = *identity_;
    post(QString::fromStdString(apiURL(host, "presence")), body, used.secret,
         [this, host, used, done = std::move(done)](int status, std::optional<Json> reply) {
             if (status == 200) {
                 std::map<std::string, int> counts;
                 if (reply && reply->contains("followers") && (*reply)["followers"].is_object()) {
                     for (const auto& [token, count] : (*reply)["followers"].items()) {
                         const auto value = integer(count);
                         if (!value) {
                             counts.clear();
                             break;
                         }
                         counts[token] = *value;
                     }
                 }
                 setBase(host);
                 setFollowers(std::move(counts));
             } else if (status == 401 && identity_ == used) {
                 // The relay no longer knows this account: forget it, the next check-in signs up anew.
                 // A sign-up that finished meanwhile is newer and stays.
                 identity_.reset();
                 std::error_code ignored;
                 std::filesystem::remove(identityFile_, ignored);
                 emit changed();
             }
             done();
         });
}

void RelayClient::setBase(std::optional<std::string> base) {
    if (base_ != base) {
        base_ = std::move(base);
        emit changed();
    }
}

void RelayClient::setFollowers(std::map<std::string, int> followers) {
    if (followers_ != followers) {
        followers_ = std::move(followers);
        emit changed();
    }
}

// ---- Follow notifications ----

void RelayClient::sendPings() {
    auto taken = std::exchange(pings_, {});
    if (!base_ || !identity_ || taken.empty()) {
        return;
    }
    const std::string base = *base_;
    const Identity identity = *identity_;
    // The relay must know the shares before it can find their followers.
    checkIn([this, base, identity, taken = std::move(taken)] {
        for (const auto& [token, pending] : taken) {
            const std::string text =
                pending.names.size() == 1
                    ? pending.names.front()
                    : pending.names.front() + " and " + std::to_string(pending.names.size() - 1) + " more";
            post(QString::fromStdString(base + "/api/macs/" + identity.macId + "/notify"),
                 Json{{"token", token}, {"title", "New in " + pending.title}, {"body", text}},
                 identity.secret, [](int, std::optional<Json>) {});
        }
    });
}

// ---- Send to phone ----

void RelayClient::send(const std::string& deviceToken, const std::string& shareToken,
                       const std::string& title, std::function<void(SendResult)> done) {
    const Json body{{"device", sha256(deviceToken)}, {"token", shareToken}, {"title", title}};
    reachableHost([this, body, done = std::move(done)](std::optional<std::string> host) mutable {
        if (!host) {
            done(SendResult::failed);
            return;
        }
        ensureIdentity(*host, [this, host = *host, body, done = std::move(done)](bool ok) mutable {
            if (!ok) {
                done(SendResult::failed);
                return;
            }
            postSend(host, body, false, std::move(done));
        });
    });
}

void RelayClient::postSend(const std::string& host, const Json& body, bool retried,
                           std::function<void(SendResult)> done) {
    if (!identity_) {
        // A check-in before the retry found the account gone.
        done(SendResult::failed);
        return;
    }
    post(QString::fromStdString(apiURL(host, "send")), body, identity_->secret,
         [this, host, body, retried, done = std::move(done)](int status, std::optional<Json> reply) mutable {
             if (status == 404 && !retried) {
                 // The relay may not have heard of the phone yet: report it, then ask once more.
                 checkIn([this, host, body, done = std::move(done)]() mutable {
                     postSend(host, body, true, std::move(done));
                 });
                 return;
             }
             if (status != 200) {
                 done(SendResult::failed);
                 return;
             }
             const bool delivered =
                 reply && reply->contains("sent") && integer((*reply)["sent"]).value_or(0) > 0;
             done(delivered ? SendResult::sent : SendResult::waiting);
         });
}

#include "relay/push/push_delivery.h"

#include "relay/push/base64_url.h"
#include "relay/push/web_push_crypto.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <iostream>
#include <memory>

namespace {

std::int64_t unixNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

/// Counts the first attempts of one delivery and reports once the last is in.
struct FirstTries {
    std::atomic<std::size_t> left;
    std::atomic<std::size_t> accepted{0};
    std::function<void(std::size_t)> done;

    void count(bool took) {
        if (took) {
            ++accepted;
        }
        if (--left == 0) {
            done(accepted.load());
        }
    }
};

} // namespace

PushDelivery::PushDelivery(VapidKey key, std::string contact, PushSender::Options options, OnGone onGone)
    : key_(std::move(key))
    , publicKey_(key_.publicKey())
    , contact_(std::move(contact))
    , onGone_(std::move(onGone))
    , sender_(std::move(options)) {}

std::string PushDelivery::payload(const PushMessage& message) {
    const nlohmann::ordered_json object = {
        {"title", message.title}, {"body", message.body}, {"url", message.url}};
    return object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

void PushDelivery::deliver(const std::vector<RelaySubscription>& to, const PushMessage& message,
                           std::function<void(std::size_t)> firstTries) {
    if (to.empty()) {
        firstTries(0);
        return;
    }
    auto tries = std::make_shared<FirstTries>();
    tries->left = to.size();
    tries->done = std::move(firstTries);
    const std::string plaintext = payload(message);
    const std::int64_t now = unixNow();
    for (const auto& subscription : to) {
        PushRequest request{subscription.endpoint, {}, {}};
        try {
            const auto p256dh = Base64Url::decoded(subscription.p256dh);
            const auto auth = Base64Url::decoded(subscription.auth);
            if (!p256dh || !auth) {
                throw WebPushCrypto::WebPushError("keys are not base64url");
            }
            request.body = WebPushCrypto::encrypt(plaintext, *p256dh, *auth);
            request.headers = {
                {"Authorization", key_.authorization(subscription.endpoint, contact_, now)},
                {"Content-Encoding", "aes128gcm"},
                {"Content-Type", "application/octet-stream"},
                {"TTL", std::to_string(message.ttl.count())},
                {"Urgency", message.urgent ? "high" : "normal"},
            };
        } catch (const WebPushCrypto::WebPushError& error) {
            // Keys no browser would make, or an endpoint that is no address: nothing will ever reach it.
            std::cerr << "tesk-relay: dropping a subscription: " << error.what() << std::endl;
            onGone_(subscription.endpoint);
            tries->count(false);
            continue;
        }
        auto first = std::make_shared<std::atomic<bool>>(true);
        sender_.send(std::move(request), [this, tries, first, endpoint = subscription.endpoint](
                                             const PushSender::Attempt& attempt) {
            if (attempt.status == 404 || attempt.status == 410) {
                onGone_(endpoint);
            }
            if (first->exchange(false)) {
                tries->count(attempt.status == 201);
            }
        });
    }
}

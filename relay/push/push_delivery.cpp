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
    , sender_(std::move(options))
    , preparer_([this](std::stop_token stop) { prepare(std::move(stop)); }) {}

PushDelivery::~PushDelivery() {
    preparer_.request_stop();
    preparer_.join();
}

std::string PushDelivery::payload(const PushMessage& message) {
    const nlohmann::ordered_json object = {
        {"title", message.title}, {"body", message.body}, {"url", message.url}};
    return object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

void PushDelivery::deliver(std::vector<RelaySubscription> to, PushMessage message,
                           std::function<void(std::size_t)> firstTries) {
    if (to.empty()) {
        firstTries(0);
        return;
    }
    {
        const std::lock_guard guard(lock_);
        const bool urgent = message.urgent;
        Batch batch{std::move(to), std::move(message), std::move(firstTries)};
        if (urgent) {
            batches_.push_front(std::move(batch));
        } else {
            batches_.push_back(std::move(batch));
        }
    }
    wake_.notify_one();
}

void PushDelivery::prepare(std::stop_token stop) {
    std::unique_lock guard(lock_);
    while (wake_.wait(guard, stop, [this] { return !batches_.empty(); })) {
        Batch batch = std::move(batches_.front());
        batches_.pop_front();
        guard.unlock();
        send(std::move(batch));
        guard.lock();
    }
}

void PushDelivery::send(Batch batch) {
    auto tries = std::make_shared<FirstTries>();
    tries->left = batch.to.size();
    tries->done = std::move(batch.firstTries);
    const std::string plaintext = payload(batch.message);
    const std::int64_t now = unixNow();
    for (const auto& subscription : batch.to) {
        PushRequest request{subscription.endpoint, {}, {}, batch.message.urgent};
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
                {"TTL", std::to_string(batch.message.ttl.count())},
                {"Urgency", batch.message.urgent ? "high" : "normal"},
            };
        } catch (const WebPushCrypto::WebPushError& error) {
            // Keys no browser would make, or an endpoint that is no address: nothing will ever reach it.
            std::cerr << "tesk-relay: dropping a subscription: " << error.what() << std::endl;
            onGone_(subscription.endpoint);
            tries->count(false);
            continue;
        } catch (const std::exception& error) {
            // OpenSSL or memory failing: this message only.
            std::cerr << "tesk-relay: could not prepare a push: " << error.what() << std::endl;
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

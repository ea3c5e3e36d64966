#pragma once

#include "relay/push/push_message.h"
#include "relay/push/push_sender.h"
#include "relay/push/vapid_key.h"
#include "relay/store/relay_records.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

/// Turns notifications into Web Push requests: encrypted to each subscription's keys and signed with the
/// relay's key on a thread of its own, then handed to a `PushSender`, so whoever delivers waits neither
/// for the cryptography of a thousand followers nor for a push service.
class PushDelivery {
public:
    /// Called on the sender's thread with a subscription's endpoint once its push service said it is gone
    /// (404, 410), or when its keys cannot be encrypted to.
    using OnGone = std::function<void(const std::string& endpoint)>;

    /// Signs as `contact` (a "mailto:" or "https:" address the push services may use to reach whoever
    /// runs the relay).
    PushDelivery(VapidKey key, std::string contact, PushSender::Options options, OnGone onGone);

    /// The key browsers subscribe with (base64url).
    const std::string& publicKey() const { return publicKey_; }

    /// Stops both threads; what is not sent yet is dropped.
    ~PushDelivery();
    PushDelivery(const PushDelivery&) = delete;
    PushDelivery& operator=(const PushDelivery&) = delete;

    /// Pushes `message` to each of `to`; `firstTries(accepted)` runs once each had its first attempt (at
    /// once when `to` is empty), with how many push services took it (201). Later attempts go on. A
    /// message someone waits for (`PushMessage::urgent`) goes before the others.
    void deliver(std::vector<RelaySubscription> to, PushMessage message,
                 std::function<void(std::size_t accepted)> firstTries);

    /// The JSON a service worker receives.
    static std::string payload(const PushMessage& message);

private:
    struct Batch {
        std::vector<RelaySubscription> to;
        PushMessage message;
        std::function<void(std::size_t)> firstTries;
    };

    void prepare(std::stop_token stop);
    void send(Batch batch);

    const VapidKey key_;
    const std::string publicKey_;
    const std::string contact_;
    OnGone onGone_;
    PushSender sender_;
    std::mutex lock_;
    std::condition_variable_any wake_;
    std::deque<Batch> batches_;
    // Last: stopped and joined before anything it uses goes.
    std::jthread preparer_;
};

#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

/// One message for one push service: POSTed as it is.
struct PushRequest {
    std::string endpoint;                                     // https URL
    std::vector<std::pair<std::string, std::string>> headers; // name, value
    std::string body;
    /// Someone waits for its first answer: it starts at once, whatever else is under way.
    bool urgent = false;
};

/// Delivers push messages from its own thread, many at a time over libcurl, and tries again later when
/// a push service is busy or out of reach.
class PushSender {
public:
    struct Options {
        std::chrono::milliseconds timeout{5000};                // whole request, connect included
        int maxAttempts = 4;                                    // first try + 3 retries
        std::chrono::seconds firstBackOff{5};                   // 5 s, 20 s, 80 s (x4) when no Retry-After
        std::chrono::seconds maxBackOff{std::chrono::hours(1)}; // Retry-After is honoured up to this
        std::size_t maxWaiting = 10000;     // held at once (queued, sending, retrying); beyond it a new
                                            // request fails at once (status 0)
        std::string caFile;                 // when not empty: CURLOPT_CAINFO
        bool allowPrivateAddresses = false; // else loopback/private/link-local/ULA/multicast peers are
                                            // refused before connecting
    };
    /// What one attempt got: the HTTP status (0: no answer: network, TLS, timeout, refused address),
    /// and whether another attempt follows.
    struct Attempt {
        int status = 0;
        bool retrying = false;
    };

    explicit PushSender(Options options);
    /// Stops the thread; requests still waiting or under way are dropped without callback.
    ~PushSender();
    PushSender(const PushSender&) = delete;
    PushSender& operator=(const PushSender&) = delete;

    /// Queues `request`; `onAttempt` runs on the sender's thread after every attempt (never under the
    /// sender's lock, so it may send again). 429, 5xx and 0 are retried after Retry-After (capped at
    /// maxBackOff) or the back-off. A request beyond maxWaiting gets one attempt with status 0, also on
    /// the sender's thread. Safe from any thread.
    void send(PushRequest request, std::function<void(const Attempt&)> onAttempt);

private:
    class Engine;
    // Declared before the thread, so the thread has stopped before the engine goes.
    std::unique_ptr<Engine> engine_;
    std::jthread thread_;
};

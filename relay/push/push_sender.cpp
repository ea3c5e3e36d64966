#include "relay/push/push_sender.h"

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <cstdint>
#include <cstring>
#include <curl/curl.h>
#include <deque>
#include <iterator>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <new>
#include <stdexcept>
#include <sys/socket.h>
#include <unordered_map>

namespace {

using Clock = std::chrono::steady_clock;
using Callback = std::function<void(const PushSender::Attempt&)>;

struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using MultiHandle = std::unique_ptr<CURLM, MultiDeleter>;
using HeaderList = std::unique_ptr<curl_slist, ListDeleter>;

// Enough to keep many push services busy without a socket per queued message.
constexpr std::size_t maxConcurrent = 32;
// An idle sender still wakes now and then; nothing depends on it.
constexpr std::chrono::milliseconds longestSleep = std::chrono::hours(1);

void initialiseCurl() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
            throw std::runtime_error("libcurl could not be initialised");
        }
    });
}

void append(HeaderList& list, const std::string& line) {
    curl_slist* head = curl_slist_append(list.get(), line.c_str());
    if (!head) {
        throw std::bad_alloc();
    }
    if (!list) {
        list.reset(head);
    }
}

bool refusedIPv4(std::uint32_t address) {
    const auto within = [address](std::uint32_t network, int bits) {
        return (address >> (32 - bits)) == (network >> (32 - bits));
    };
    return within(0x00000000, 8)     // "this network", unspecified
           || within(0x0a000000, 8)  // 10/8
           || within(0x64400000, 10) // 100.64/10, carrier-grade NAT
           || within(0x7f000000, 8)  // loopback
           || within(0xa9fe0000, 16) // link-local
           || within(0xac100000, 12) // 172.16/12
           || within(0xc0000000, 24) // 192.0.0/24, protocol assignments
           || within(0xc0a80000, 16) // 192.168/16
           || within(0xc6120000, 15) // 198.18/15, benchmarking
           || within(0xe0000000, 4)  // multicast
           || within(0xf0000000, 4); // reserved, broadcast
}

bool refusedIPv6(const std::array<std::uint8_t, 16>& bytes) {
    const auto embeddedIPv4 = [&bytes](std::size_t at) {
        return refusedIPv4(std::uint32_t(bytes[at]) << 24 | std::uint32_t(bytes[at + 1]) << 16 |
                           std::uint32_t(bytes[at + 2]) << 8 | bytes[at + 3]);
    };
    const auto zeros = [&bytes](std::size_t from, std::size_t to) {
        return std::all_of(bytes.begin() + from, bytes.begin() + to, [](std::uint8_t b) { return b == 0; });
    };
    if (zeros(0, 10) && bytes[10] == 0xff && bytes[11] == 0xff) {
        return embeddedIPv4(12); // ::ffff:a.b.c.d, mapped
    }
    if (zeros(0, 12)) {
        return true; // ::, ::1 and the old IPv4-compatible form
    }
    const std::array<std::uint8_t, 12> nat64{0x00, 0x64, 0xff, 0x9b};
    if (std::equal(nat64.begin(), nat64.end(), bytes.begin())) {
        return embeddedIPv4(12); // 64:ff9b::/96 reaches IPv4 through a translator
    }
    if (bytes[0] == 0x20 && bytes[1] == 0x02) {
        return embeddedIPv4(2); // 6to4
    }
    if (bytes[0] == 0x20 && bytes[1] == 0x01 && bytes[2] == 0 && bytes[3] == 0) {
        return true; // 2001::/32, Teredo: a tunnel to an address it hides
    }
    if (bytes[0] == 0x01 && zeros(1, 8)) {
        return true; // 100::/64, discard
    }
    return (bytes[0] & 0xfe) == 0xfc                          // fc00::/7, unique local
           || (bytes[0] == 0xfe && (bytes[1] & 0xc0) == 0x80) // fe80::/10, link-local
           || (bytes[0] == 0xfe && (bytes[1] & 0xc0) == 0xc0) // fec0::/10, old site-local
           || bytes[0] == 0xff;                               // multicast
}

bool refused(const curl_sockaddr& peer) {
    if (peer.family == AF_INET && peer.addrlen >= sizeof(sockaddr_in)) {
        sockaddr_in address{};
        std::memcpy(&address, &peer.addr, sizeof address);
        return refusedIPv4(ntohl(address.sin_addr.s_addr));
    }
    if (peer.family == AF_INET6 && peer.addrlen >= sizeof(sockaddr_in6)) {
        sockaddr_in6 address{};
        std::memcpy(&address, &peer.addr, sizeof address);
        std::array<std::uint8_t, 16> bytes{};
        std::memcpy(bytes.data(), &address.sin6_addr, bytes.size());
        return refusedIPv6(bytes);
    }
    return true; // Unix sockets and anything else a push service has no use for
}

// Runs where libcurl would create its socket: a subscription's endpoint must not aim the relay at its
// own network. libcurl moves on to the host's next address, and fails the transfer when none is left.
curl_socket_t openPublicSocket(void*, curlsocktype, curl_sockaddr* peer) {
    if (refused(*peer)) {
        return CURL_SOCKET_BAD;
    }
    return socket(peer->family, peer->socktype | SOCK_CLOEXEC, peer->protocol);
}

std::size_t discard(char*, std::size_t size, std::size_t count, void*) {
    return size * count;
}

} // namespace

class PushSender::Engine {
public:
    explicit Engine(Options options)
        : options_(std::move(options)) {
        initialiseCurl();
        multi_.reset(curl_multi_init());
        if (!multi_) {
            throw std::runtime_error("libcurl could not make a multi handle");
        }
    }

    ~Engine() {
        for (const auto& [easy, transfer] : sending_) {
            curl_multi_remove_handle(multi_.get(), easy);
        }
    }

    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    void send(PushRequest request, Callback onAttempt) {
        {
            const std::scoped_lock lock(mutex_);
            if (held_ >= options_.maxWaiting) {
                overflow_.push_back(std::move(onAttempt));
            } else {
                ++held_;
                incoming_.push_back({std::move(request), std::move(onAttempt), 0});
            }
        }
        curl_multi_wakeup(multi_.get());
    }

    void run(std::stop_token stop) {
        const std::stop_callback wake(stop, [this] { curl_multi_wakeup(multi_.get()); });
        while (!stop.stop_requested()) {
            std::vector<Callback> overflow;
            {
                const std::scoped_lock lock(mutex_);
                std::move(incoming_.begin(), incoming_.end(), std::back_inserter(ready_));
                incoming_.clear();
                overflow.swap(overflow_);
            }
            for (const auto& onAttempt : overflow) {
                onAttempt(Attempt{0, false});
            }
            const auto now = Clock::now();
            while (!waiting_.empty() && waiting_.begin()->first <= now) {
                ready_.push_back(std::move(waiting_.begin()->second));
                waiting_.erase(waiting_.begin());
            }
            // A few at a time, each the first try of a message someone waits for: past the bound.
            for (auto job = ready_.begin(); job != ready_.end();) {
                if (job->request.urgent && job->attempts == 0) {
                    start(std::move(*job));
                    job = ready_.erase(job);
                } else {
                    ++job;
                }
            }
            while (sending_.size() < maxConcurrent && !ready_.empty()) {
                Job job = std::move(ready_.front());
                ready_.pop_front();
                start(std::move(job));
            }
            int running = 0;
            curl_multi_perform(multi_.get(), &running);
            finishTransfers();
            curl_multi_poll(multi_.get(), nullptr, 0, sleepMilliseconds(), nullptr);
        }
    }

private:
    struct Job {
        PushRequest request;
        Callback onAttempt;
        int attempts = 0;
    };
    struct Transfer {
        Job job;
        EasyHandle easy;
        HeaderList headers;
    };

    void start(Job job) {
        auto transfer = std::make_unique<Transfer>();
        transfer->job = std::move(job);
        try {
            prepare(*transfer);
        } catch (const std::exception&) {
            // Out of memory, most likely: an attempt that got no answer, tried again later.
            finish(std::move(transfer->job), 0, 0);
            return;
        }
        CURL* easy = transfer->easy.get();
        if (curl_multi_add_handle(multi_.get(), easy) != CURLM_OK) {
            finish(std::move(transfer->job), 0, 0);
            return;
        }
        sending_.emplace(easy, std::move(transfer));
    }

    void prepare(Transfer& transfer) {
        transfer.easy.reset(curl_easy_init());
        if (!transfer.easy) {
            throw std::bad_alloc();
        }
        bool contentType = false;
        for (const auto& [name, value] : transfer.job.request.headers) {
            contentType = contentType || curl_strequal(name.c_str(), "Content-Type");
            append(transfer.headers, name + ": " + value);
        }
        if (!contentType) {
            // Else libcurl announces a form.
            append(transfer.headers, "Content-Type: application/octet-stream");
        }
        append(transfer.headers, "Expect:"); // the body is small; no round trip before it
        CURL* easy = transfer.easy.get();
        const std::string& body = transfer.job.request.body;
        const bool set =
            curl_easy_setopt(easy, CURLOPT_URL, transfer.job.request.endpoint.c_str()) == CURLE_OK &&
            curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "https") == CURLE_OK &&
            curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L) == CURLE_OK &&
            // Straight to the push service: through a proxy the address check below would see the proxy.
            curl_easy_setopt(easy, CURLOPT_PROXY, "") == CURLE_OK &&
            curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
            // A stopping sender must not wait for a name lookup to end.
            curl_easy_setopt(easy, CURLOPT_QUICK_EXIT, 1L) == CURLE_OK &&
            curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(options_.timeout.count())) ==
                CURLE_OK &&
            curl_easy_setopt(easy, CURLOPT_POST, 1L) == CURLE_OK &&
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size())) ==
                CURLE_OK &&
            curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.data()) == CURLE_OK &&
            curl_easy_setopt(easy, CURLOPT_HTTPHEADER, transfer.headers.get()) == CURLE_OK &&
            curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, discard) == CURLE_OK &&
            (options_.caFile.empty() ||
             curl_easy_setopt(easy, CURLOPT_CAINFO, options_.caFile.c_str()) == CURLE_OK) &&
            (options_.allowPrivateAddresses ||
             curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, openPublicSocket) == CURLE_OK);
        if (!set) {
            throw std::runtime_error("libcurl refused an option");
        }
    }

    void finishTransfers() {
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi_.get(), &left)) {
            if (message->msg != CURLMSG_DONE) {
                continue;
            }
            const auto found = sending_.find(message->easy_handle);
            if (found == sending_.end()) {
                continue;
            }
            std::unique_ptr<Transfer> transfer = std::move(found->second);
            sending_.erase(found);
            const CURLcode result = message->data.result; // message is gone once the handle is removed
            CURL* easy = transfer->easy.get();
            curl_multi_remove_handle(multi_.get(), easy);
            long status = 0;
            curl_off_t retryAfter = 0;
            if (result == CURLE_OK) {
                curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
                curl_easy_getinfo(easy, CURLINFO_RETRY_AFTER, &retryAfter);
            }
            finish(std::move(transfer->job), static_cast<int>(status), retryAfter);
        }
    }

    /// After an attempt: schedules the next one when it may help, then tells the caller.
    void finish(Job job, int status, curl_off_t retryAfterSeconds) {
        ++job.attempts;
        const bool busy = status == 0 || status == 429 || (status >= 500 && status <= 599);
        const Attempt attempt{status, busy && job.attempts < options_.maxAttempts};
        if (attempt.retrying) {
            const auto due = Clock::now() + delayAfter(job.attempts, retryAfterSeconds);
            // Only this thread touches waiting_, and a callback can reach it only through send().
            waiting_.emplace(due, std::move(job))->second.onAttempt(attempt);
            return;
        }
        {
            const std::scoped_lock lock(mutex_);
            --held_;
        }
        job.onAttempt(attempt);
    }

    std::chrono::milliseconds delayAfter(int attempts, curl_off_t retryAfterSeconds) const {
        const auto cap = std::chrono::duration_cast<std::chrono::milliseconds>(options_.maxBackOff);
        if (retryAfterSeconds >= options_.maxBackOff.count()) {
            return cap;
        }
        if (retryAfterSeconds > 0) {
            return std::chrono::seconds(retryAfterSeconds);
        }
        std::chrono::milliseconds delay = options_.firstBackOff;
        for (int n = 1; n < attempts && delay < cap; ++n) {
            delay *= 4;
        }
        return std::min(delay, cap);
    }

    /// Until the next retry falls due; libcurl shortens it for its own timers, a send() or stop ends it.
    int sleepMilliseconds() const {
        if (!ready_.empty() && sending_.size() < maxConcurrent) {
            return 0;
        }
        std::chrono::milliseconds sleep = longestSleep;
        if (!waiting_.empty()) {
            const auto due =
                std::chrono::ceil<std::chrono::milliseconds>(waiting_.begin()->first - Clock::now());
            sleep = std::clamp(due, std::chrono::milliseconds(0), longestSleep);
        }
        return static_cast<int>(sleep.count());
    }

    const Options options_;
    MultiHandle multi_;

    std::mutex mutex_; // guards what send() shares with the thread: the three below
    std::deque<Job> incoming_;
    std::vector<Callback> overflow_;
    std::size_t held_ = 0;

    // The thread's own.
    std::deque<Job> ready_;
    std::multimap<Clock::time_point, Job> waiting_;
    std::unordered_map<CURL*, std::unique_ptr<Transfer>> sending_;
};

PushSender::PushSender(Options options)
    : engine_(std::make_unique<Engine>(std::move(options)))
    , thread_([engine = engine_.get()](std::stop_token stop) { engine->run(std::move(stop)); }) {}

PushSender::~PushSender() = default;

void PushSender::send(PushRequest request, std::function<void(const Attempt&)> onAttempt) {
    engine_->send(std::move(request), std::move(onAttempt));
}

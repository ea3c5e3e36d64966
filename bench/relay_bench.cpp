// tesk-relay under real clients: signs up N computers, checks each in once, then times M check-ins round
// robin over all of them. One request at a time, each on its own TCP connection to 127.0.0.1, as the
// desktop program makes them. Sign-ups may go to one relay and check-ins to another sharing its store.
// Prints one line per phase; any unexpected answer ends the run with a message and exit status 1.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using json = nlohmann::json;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::string_view usage =
    "usage: relay_bench --signup-port P [--checkin-port Q] --computers N [--checkins M]\n"
    "  --signup-port P   the relay that signs the computers up\n"
    "  --checkin-port Q  the relay that takes their check-ins (default: P)\n"
    "  --computers N     computers to sign up\n"
    "  --checkins M      timed check-ins, round robin over all computers (default: N)\n";

struct Options {
    std::uint16_t signupPort = 0;
    std::uint16_t checkinPort = 0;
    std::size_t computers = 0;
    std::size_t checkins = 0;
};

template <typename Number>
std::optional<Number> parseNumber(std::string_view text) {
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<Options> parseOptions(int argc, char** argv) {
    Options options;
    std::optional<std::size_t> checkins;
    for (int index = 1; index + 1 < argc; index += 2) {
        const std::string_view name = argv[index];
        const std::string_view value = argv[index + 1];
        if (name == "--signup-port" || name == "--checkin-port") {
            const auto port = parseNumber<std::uint16_t>(value);
            if (!port || *port == 0) {
                return std::nullopt;
            }
            (name == "--signup-port" ? options.signupPort : options.checkinPort) = *port;
        } else if (name == "--computers" || name == "--checkins") {
            const auto count = parseNumber<std::size_t>(value);
            if (!count || *count == 0) {
                return std::nullopt;
            }
            if (name == "--computers") {
                options.computers = *count;
            } else {
                checkins = *count;
            }
        } else {
            return std::nullopt;
        }
    }
    if (argc % 2 == 0 || options.signupPort == 0 || options.computers == 0) {
        return std::nullopt;
    }
    if (options.checkinPort == 0) {
        options.checkinPort = options.signupPort;
    }
    options.checkins = checkins.value_or(options.computers);
    return options;
}

struct Reply {
    int status = 0;
    std::string head;
    std::string body;
};

/// Closes the descriptor on every way out.
class Socket {
public:
    Socket()
        : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        if (fd_ < 0) {
            throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
        }
    }
    ~Socket() { ::close(fd_); }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int fd() const { return fd_; }

private:
    int fd_;
};

/// One request on a new connection to 127.0.0.1:`port`, read until the server closes, as every relay
/// answer does. A relay silent for 30 s counts as a failure rather than a slow answer.
Reply roundTrip(std::uint16_t port, std::string_view request) {
    Socket socket;
    const timeval timeout{30, 0};
    setsockopt(socket.fd(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    setsockopt(socket.fd(), SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    const int one = 1;
    setsockopt(socket.fd(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(socket.fd(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        throw std::runtime_error("connect to port " + std::to_string(port) + ": " + std::strerror(errno));
    }
    for (std::size_t sent = 0; sent < request.size();) {
        const ssize_t count = ::send(socket.fd(), request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (count < 0) {
            throw std::runtime_error(std::string("send: ") + std::strerror(errno));
        }
        sent += static_cast<std::size_t>(count);
    }
    std::string answer;
    char buffer[16384];
    for (;;) {
        const ssize_t count = ::recv(socket.fd(), buffer, sizeof buffer, 0);
        if (count < 0) {
            throw std::runtime_error(std::string("recv: ") + std::strerror(errno));
        }
        if (count == 0) {
            break;
        }
        answer.append(buffer, static_cast<std::size_t>(count));
    }
    const auto headEnd = answer.find("\r\n\r\n");
    Reply reply;
    if (headEnd == std::string::npos || !answer.starts_with("HTTP/1.1 ") || answer.size() < 12) {
        throw std::runtime_error("not an HTTP answer: \"" + answer.substr(0, 80) + "\"");
    }
    const auto status = parseNumber<int>(std::string_view(answer).substr(9, 3));
    if (!status) {
        throw std::runtime_error("no status in \"" + answer.substr(0, 80) + "\"");
    }
    reply.status = *status;
    reply.head = answer.substr(0, headEnd + 2);
    reply.body = answer.substr(headEnd + 4);
    return reply;
}

/// The value of header `name` (lowercase) in `head`, whatever case the server wrote it in.
std::optional<std::string> header(const std::string& head, std::string_view name) {
    std::size_t start = head.find("\r\n");
    while (start != std::string::npos && start + 2 < head.size()) {
        start += 2;
        const auto end = head.find("\r\n", start);
        const std::string_view line = std::string_view(head).substr(start, end - start);
        const auto colon = line.find(':');
        if (colon == name.size() && std::equal(name.begin(), name.end(), line.begin(), [](char a, char b) {
                return a == static_cast<char>(std::tolower(static_cast<unsigned char>(b)));
            })) {
            std::string_view value = line.substr(colon + 1);
            while (!value.empty() && value.front() == ' ') {
                value.remove_prefix(1);
            }
            return std::string(value);
        }
        start = end;
    }
    return std::nullopt;
}

std::string post(std::uint16_t port, std::string_view path, std::string_view body,
                 std::string_view secret = {}) {
    std::string request =
        "POST " + std::string(path) + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
        "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
        "\r\nConnection: close\r\n";
    if (!secret.empty()) {
        request += "Authorization: Bearer " + std::string(secret) + "\r\n";
    }
    request += "\r\n";
    request += body;
    return request;
}

/// Deterministic pseudo-random bits (splitmix64), so every run reports the same computers.
std::uint64_t mix(std::uint64_t value) {
    value += 0x9e3779b97f4a7c15ULL;
    value = (value ^ (value >> 30)) * 0xbf58476d1ce4e5b9ULL;
    value = (value ^ (value >> 27)) * 0x94d049bb133111ebULL;
    return value ^ (value >> 31);
}

struct Computer {
    std::string macId;
    std::string secret;
    std::string lan;
    std::vector<std::string> tokens;
    std::string checkIn; // the whole presence request, made once
};

/// Three shares with tokens no other computer has, one phone, one LAN address, a network name.
void describe(Computer& computer, std::size_t index, std::uint16_t port) {
    constexpr std::string_view alphabet = "abcdefghijklmnopqrstuvwxyz0123456789";
    constexpr const char* titles[] = {"Photos", "Documents", "Holiday"};
    json shares = json::array();
    for (std::size_t share = 0; share < 3; ++share) {
        // The index keeps tokens distinct; the random tail makes them as long as the program's own.
        std::string token = std::to_string(index) + "x" + std::to_string(share);
        for (std::uint64_t bits = mix(index * 3 + share); token.size() < 16; bits /= alphabet.size()) {
            token += alphabet[bits % alphabet.size()];
        }
        shares.push_back({{"token", token}, {"title", titles[share]}});
        computer.tokens.push_back(std::move(token));
    }
    char digest[65];
    for (std::size_t word = 0; word < 4; ++word) {
        std::snprintf(digest + word * 16, 17, "%016llx",
                      static_cast<unsigned long long>(mix(index * 4 + word + (1ULL << 40))));
    }
    computer.lan = "http://192.168.1." + std::to_string(2 + index % 250) + ":47470";
    const json presence = {{"name", "Bench computer " + std::to_string(index)},
                           {"lan", {computer.lan}},
                           {"shares", shares},
                           {"ssid", "Home"},
                           {"devices", {std::string(digest, 64)}}};
    computer.checkIn =
        post(port, "/api/macs/" + computer.macId + "/presence", presence.dump(), computer.secret);
}

[[noreturn]] void unexpected(std::string_view what, std::size_t index, const Reply& reply) {
    throw std::runtime_error(std::string(what) + " of computer " + std::to_string(index) + " answered " +
                             std::to_string(reply.status) + ": " + reply.body.substr(0, 200));
}

class Phase {
public:
    Phase(std::string name, std::size_t computers, std::size_t count)
        : name_(std::move(name))
        , computers_(computers)
        , count_(count)
        , start_(Clock::now()) {
        latencies_.reserve(count);
    }

    /// Times one request.
    template <typename Request>
    auto time(Request&& request) {
        const auto before = Clock::now();
        auto result = request();
        latencies_.push_back(std::chrono::duration<double, std::milli>(Clock::now() - before).count());
        return result;
    }

    void report() {
        const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
        std::sort(latencies_.begin(), latencies_.end());
        const auto percentile = [&](double fraction) {
            return latencies_[std::min(
                latencies_.size() - 1,
                static_cast<std::size_t>(fraction * static_cast<double>(latencies_.size())))];
        };
        std::printf("%s computers=%zu count=%zu seconds=%.3f per_second=%.1f p50_ms=%.3f p99_ms=%.3f "
                    "max_ms=%.3f\n",
                    name_.c_str(), computers_, count_, seconds, static_cast<double>(count_) / seconds,
                    percentile(0.50), percentile(0.99), latencies_.back());
        std::fflush(stdout);
    }

private:
    std::string name_;
    std::size_t computers_;
    std::size_t count_;
    Clock::time_point start_;
    std::vector<double> latencies_;
};

void run(const Options& options) {
    std::vector<Computer> computers(options.computers);

    Phase signups("signups", options.computers, options.computers);
    const std::string signup = post(options.signupPort, "/api/macs", R"({"name":"Bench computer"})");
    for (std::size_t index = 0; index < computers.size(); ++index) {
        const Reply reply = signups.time([&] { return roundTrip(options.signupPort, signup); });
        if (reply.status != 201) {
            unexpected("sign-up", index, reply);
        }
        const json body = json::parse(reply.body, nullptr, false);
        if (!body.is_object() || !body.contains("macId") || !body["macId"].is_string() ||
            !body.contains("secret") || !body["secret"].is_string()) {
            unexpected("sign-up", index, reply);
        }
        computers[index].macId = body["macId"].get<std::string>();
        computers[index].secret = body["secret"].get<std::string>();
        describe(computers[index], index, options.checkinPort);
    }
    signups.report();

    // A check-in answers with the followers of each share; none follow here, so every answer is the same.
    const auto checkIn = [&](Phase& phase, std::size_t index) {
        const Reply reply =
            phase.time([&] { return roundTrip(options.checkinPort, computers[index].checkIn); });
        if (reply.status != 200 || !reply.body.starts_with(R"({"followers":{)")) {
            unexpected("check-in", index, reply);
        }
    };
    Phase first("first-checkins", options.computers, options.computers);
    for (std::size_t index = 0; index < computers.size(); ++index) {
        checkIn(first, index);
    }
    first.report();

    Phase checkins("checkins", options.computers, options.checkins);
    for (std::size_t count = 0; count < options.checkins; ++count) {
        checkIn(checkins, count % computers.size());
    }
    checkins.report();

    // Every check-in above answered 200; this shows the relay also kept what they said: a share link of a
    // sample of computers leads to that computer's LAN address.
    const std::size_t step = std::max<std::size_t>(1, computers.size() / 10);
    std::size_t verified = 0;
    for (std::size_t index = 0; index < computers.size(); index += step) {
        const Computer& computer = computers[index];
        const std::string& token = computer.tokens[index % 3];
        const std::string request = "GET /k/" + computer.macId + "/" + token +
                                    " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
        const Reply reply = roundTrip(options.checkinPort, request);
        if (reply.status != 302 || header(reply.head, "location") != computer.lan + "/s/" + token + "/") {
            unexpected("share link", index, reply);
        }
        ++verified;
    }
    std::printf("verified share_links=%zu\n", verified);
}

} // namespace

int main(int argc, char** argv) {
    const auto options = parseOptions(argc, argv);
    if (!options) {
        std::cerr << usage;
        return 2;
    }
    try {
        run(*options);
    } catch (const std::exception& error) {
        std::cerr << "relay_bench: " << error.what() << "\n";
        return 1;
    }
    return 0;
}

#include "relay_test_support.h"

#include "support/raw_client.h"

#include <gtest/gtest.h>

#include <cctype>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

Reply parseReply(std::string_view raw) {
    Reply reply;
    const auto headEnd = raw.find("\r\n\r\n");
    if (headEnd == std::string_view::npos || !raw.starts_with("HTTP/1.1 ")) {
        return reply;
    }
    reply.status = std::stoi(std::string(raw.substr(9, 3)));
    std::size_t at = raw.find("\r\n") + 2;
    while (at < headEnd) {
        const auto end = raw.find("\r\n", at);
        const auto line = raw.substr(at, end - at);
        const auto colon = line.find(':');
        std::string name(line.substr(0, colon));
        for (char& c : name) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        reply.headers[name] = std::string(line.substr(colon + 2));
        at = end + 2;
    }
    reply.body = std::string(raw.substr(headEnd + 4));
    return reply;
}

Reply exchange(std::uint16_t port, std::string_view method, std::string_view target, std::string_view body,
               const HTTP::Headers& headers) {
    std::string bytes = std::string(method) + " " + std::string(target) + " HTTP/1.1\r\nHost: relay.test\r\n";
    for (const auto& [name, value] : headers) {
        bytes += name + ": " + value + "\r\n";
    }
    if (!body.empty()) {
        bytes += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    }
    bytes += "\r\n";
    bytes += body;
    return parseReply(request(port, bytes));
}

HTTPRequest parsedRequest(std::string_view method, std::string_view target, const HTTP::Headers& headers) {
    std::string bytes = std::string(method) + " " + std::string(target) + " HTTP/1.1\r\nHost: relay.test\r\n";
    for (const auto& [name, value] : headers) {
        bytes += name + ": " + value + "\r\n";
    }
    bytes += "\r\n";
    const auto parsed = HTTP::parse(bytes);
    if (!parsed.request()) {
        ADD_FAILURE() << "not a request head: " << bytes;
        return {};
    }
    return parsed.request()->request;
}

RelayProcess::RelayProcess(const std::filesystem::path& data, std::uint16_t port)
    : RelayProcess(std::vector<std::string>{"--port", std::to_string(port), "--data", data.string()}) {}

RelayProcess::RelayProcess(std::vector<std::string> arguments) {
    int out[2];
    int err[2];
    EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
    EXPECT_EQ(pipe2(err, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    arguments.insert(arguments.begin(), TESK_RELAY_EXECUTABLE);
    std::vector<char*> argv;
    for (auto& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    EXPECT_EQ(posix_spawn(&pid_, TESK_RELAY_EXECUTABLE, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    out_ = out[0];
    err_ = err[0];
}

RelayProcess::~RelayProcess() {
    if (pid_ > 0 && !exited_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    ::close(out_);
    ::close(err_);
}

std::uint16_t RelayProcess::port() {
    if (port_ != 0) {
        return port_;
    }
    std::string line;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < until) {
        pollfd p{out_, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) {
            continue;
        }
        char c;
        if (read(out_, &c, 1) != 1 || c == '\n') {
            break;
        }
        line += c;
    }
    constexpr std::string_view prefix = "tesk-relay listening on port ";
    if (line.starts_with(prefix)) {
        port_ = static_cast<std::uint16_t>(std::stoi(line.substr(prefix.size())));
    }
    return port_;
}

void RelayProcess::signal(int number) {
    kill(pid_, number);
}

int RelayProcess::wait(std::chrono::milliseconds timeout) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < until) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            exited_ = true;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return -1;
}

std::string RelayProcess::standardError() {
    std::string text;
    char buffer[4096];
    ssize_t got;
    while ((got = read(err_, buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<std::size_t>(got));
    }
    return text;
}

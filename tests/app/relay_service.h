#pragma once

#include "fake_relay.h"

#include <QProcess>
#include <cctype>
#include <filesystem>
#include <string>

/// tesk-relay on a free loopback port, stopped with the object.
class RelayService {
public:
    explicit RelayService(const std::filesystem::path& data) {
        process_.start(TESK_RELAY_EXECUTABLE,
                       {"--port", "0", "--data", QString::fromStdString(data.string())});
        process_.waitForStarted(5000);
        std::string line;
        spinUntil([&] {
            process_.waitForReadyRead(50);
            line += process_.readAllStandardOutput().toStdString();
            return line.find('\n') != std::string::npos;
        });
        const auto digits = line.find_last_of("0123456789");
        auto start = digits;
        while (start > 0 && std::isdigit(static_cast<unsigned char>(line[start - 1]))) {
            --start;
        }
        if (digits != std::string::npos) {
            base_ = "http://127.0.0.1:" + line.substr(start, digits - start + 1);
        }
    }
    ~RelayService() {
        process_.terminate();
        process_.waitForFinished(5000);
    }
    const std::string& base() const { return base_; }

private:
    QProcess process_;
    std::string base_;
};

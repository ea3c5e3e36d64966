#pragma once

#include "app/model/model_ports.h"
#include "server/tesk_server.h"

/// The running server as the model sees it.
class ServerAdapter : public SharingServer {
public:
    explicit ServerAdapter(TeskServer& server)
        : server_(server) {}

    std::string computerName() const override { return server_.macName(); }
    std::optional<std::string> localHostName() const override { return server_.localHostName(); }
    std::uint16_t port() const override { return server_.port(); }
    void setRelayBases(std::optional<std::string> follow, std::optional<std::string> device) override {
        server_.setFollowBase(std::move(follow));
        server_.setDeviceBase(std::move(device));
    }

private:
    TeskServer& server_;
};

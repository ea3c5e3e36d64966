#pragma once

#include "app/startup/command_output.h"

#include <nlohmann/json.hpp>

#include <QObject>
#include <filesystem>
#include <functional>
#include <memory>

class QLocalServer;

/// The running tesk's side of the single-instance socket: reads one JSON request a connection and hands
/// it on with an output that answers on that connection.
class InstanceServer : public QObject {
    Q_OBJECT

public:
    using Handler = std::function<void(const nlohmann::json& request, std::shared_ptr<CommandOutput> output)>;

    explicit InstanceServer(Handler handler, QObject* parent = nullptr);
    ~InstanceServer() override;

    /// Listens at `path`, replacing a socket an ended process left there; the caller holds the lock that
    /// makes this process the only one. Throws std::runtime_error when it cannot.
    void listen(const std::filesystem::path& path);

private:
    void accept();

    Handler handler_;
    std::unique_ptr<QLocalServer> server_;
};

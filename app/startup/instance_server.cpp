#include "app/startup/instance_server.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <stdexcept>

namespace {

/// A request larger than this is no command line.
constexpr qint64 maxRequestBytes = 1 << 20;

class SocketOutput : public CommandOutput {
public:
    explicit SocketOutput(QLocalSocket* socket)
        : socket_(socket) {}
    ~SocketOutput() override {
        // Dropped unfinished: the command can no longer answer.
        finish(1);
    }

    void print(const std::string& text) override { send({{"out", text}}); }
    void warn(const std::string& text) override { send({{"err", text}}); }
    void finish(int status) override {
        if (finished_) {
            return;
        }
        send({{"exit", status}});
        finished_ = true;
        if (socket_) {
            socket_->disconnectFromServer();
        }
    }
    bool isOpen() const override {
        return !finished_ && socket_ && socket_->state() == QLocalSocket::ConnectedState;
    }

private:
    void send(const nlohmann::json& message) {
        if (!isOpen()) {
            return;
        }
        // Invalid UTF-8 in a file name must not end the command.
        socket_->write(QByteArray::fromStdString(
            message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n"));
    }

    QPointer<QLocalSocket> socket_;
    bool finished_ = false;
};

} // namespace

InstanceServer::InstanceServer(Handler handler, QObject* parent)
    : QObject(parent)
    , handler_(std::move(handler))
    , server_(std::make_unique<QLocalServer>()) {
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_.get(), &QLocalServer::newConnection, this, &InstanceServer::accept);
}

InstanceServer::~InstanceServer() = default;

void InstanceServer::listen(const std::filesystem::path& path) {
    const QString name = QString::fromStdString(path.string());
    QLocalServer::removeServer(name);
    if (!server_->listen(name)) {
        throw std::runtime_error("cannot listen at " + path.string() + ": " +
                                 server_->errorString().toStdString());
    }
}

void InstanceServer::accept() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > maxRequestBytes) {
                    socket->abort();
                }
                return;
            }
            const QByteArray line = socket->readLine(maxRequestBytes);
            // One request a connection; later bytes are ignored.
            disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
            const auto request = nlohmann::json::parse(line.toStdString(), nullptr, false);
            auto output = std::make_shared<SocketOutput>(socket);
            if (!request.is_object()) {
                output->warn("tesk: the running Tesk could not read the request");
                output->finish(2);
                return;
            }
            handler_(request, std::move(output));
        });
    }
}

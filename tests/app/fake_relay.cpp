#include "fake_relay.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <QThread>
#include <memory>

FakeRelay::FakeRelay()
    : handler_(&FakeRelay::healthy) {
    server_.listen(QHostAddress::LocalHost, 0);
    connect(&server_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = server_.nextPendingConnection()) {
            socket->setParent(this);
            serve(socket);
        }
    });
}

std::string FakeRelay::base() const {
    return "http://127.0.0.1:" + std::to_string(server_.serverPort());
}

FakeRelay::Reply FakeRelay::healthy(const Request& request) {
    if (request.target == "/healthz") {
        return {200, "ok"};
    }
    if (request.target == "/api/macs") {
        return {201, R"({"macId":"mac1","secret":"s3cret"})"};
    }
    if (request.target.ends_with("/presence")) {
        return {200, R"({"followers":{}})"};
    }
    return {200, "{}"};
}

std::vector<FakeRelay::Request> FakeRelay::requestsTo(const std::string& suffix) const {
    std::vector<Request> matching;
    for (const auto& request : requests_) {
        if (request.target.ends_with(suffix)) {
            matching.push_back(request);
        }
    }
    return matching;
}

void FakeRelay::serve(QTcpSocket* socket) {
    auto buffer = std::make_shared<std::string>();
    connect(socket, &QTcpSocket::readyRead, this, [this, socket, buffer] {
        buffer->append(socket->readAll().toStdString());
        const auto headEnd = buffer->find("\r\n\r\n");
        if (headEnd == std::string::npos) {
            return;
        }
        Request request;
        const std::string head = buffer->substr(0, headEnd);
        std::size_t lineEnd = head.find("\r\n");
        const std::string requestLine = head.substr(0, lineEnd);
        const auto firstSpace = requestLine.find(' ');
        const auto secondSpace = requestLine.find(' ', firstSpace + 1);
        request.method = requestLine.substr(0, firstSpace);
        request.target = requestLine.substr(firstSpace + 1, secondSpace - firstSpace - 1);
        while (lineEnd != std::string::npos && lineEnd < head.size()) {
            const auto next = head.find("\r\n", lineEnd + 2);
            const std::string line =
                head.substr(lineEnd + 2, next == std::string::npos ? std::string::npos : next - lineEnd - 2);
            const auto colon = line.find(':');
            if (colon != std::string::npos) {
                std::string name = line.substr(0, colon);
                for (auto& c : name) {
                    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                }
                request.headers[name] =
                    QString::fromStdString(line.substr(colon + 1)).trimmed().toStdString();
            }
            lineEnd = next;
        }
        const std::size_t length =
            request.headers.contains("content-length") ? std::stoul(request.headers["content-length"]) : 0;
        if (buffer->size() < headEnd + 4 + length) {
            return;
        }
        request.body = buffer->substr(headEnd + 4, length);
        buffer->clear();
        requests_.push_back(request);
        const Reply reply = handler_(request);
        if (reply.hang) {
            return;
        }
        const std::string response = "HTTP/1.1 " + std::to_string(reply.status) +
                                     " Scripted\r\nContent-Type: application/json\r\nContent-Length: " +
                                     std::to_string(reply.body.size()) + "\r\nConnection: close\r\n\r\n" +
                                     reply.body;
        socket->write(response.data(), static_cast<qint64>(response.size()));
        socket->disconnectFromHost();
    });
}

bool spinUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return done();
}

void spinFor(int ms) {
    spinUntil([] { return false; }, ms);
}

#include "fake_relay.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <QThread>
#include <algorithm>
#include <iterator>
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
    return {200, request.target.ends_with("/presence") ? R"({"followers":{}})" : "{}"};
}

std::vector<FakeRelay::Request> FakeRelay::requestsTo(const std::string& suffix) const {
    std::vector<Request> matching;
    std::copy_if(requests_.begin(), requests_.end(), std::back_inserter(matching),
                 [&](const Request& request) { return request.target.ends_with(suffix); });
    return matching;
}

void FakeRelay::serve(QTcpSocket* socket) {
    connect(socket, &QTcpSocket::readyRead, this, [this, socket, buffer = std::make_shared<QByteArray>()] {
        buffer->append(socket->readAll());
        const auto headEnd = buffer->indexOf("\r\n\r\n");
        if (headEnd < 0) {
            return;
        }
        Request request;
        const QList<QByteArray> lines = buffer->left(headEnd).split('\n');
        const QList<QByteArray> requestLine = lines[0].trimmed().split(' ');
        request.method = requestLine.value(0).toStdString();
        request.target = requestLine.value(1).toStdString();
        for (const QByteArray& line : lines.mid(1)) {
            const auto colon = line.indexOf(':');
            request.headers[line.left(colon).toLower().toStdString()] =
                line.mid(colon + 1).trimmed().toStdString();
        }
        const auto length = QByteArray::fromStdString(request.headers["content-length"]).toLongLong();
        if (buffer->size() < headEnd + 4 + length) {
            return;
        }
        request.body = buffer->mid(headEnd + 4, length).toStdString();
        buffer->clear();
        requests_.push_back(request);
        const Reply reply = handler_(request);
        if (!reply.hang) {
            socket->write(QByteArray::fromStdString(
                "HTTP/1.1 " + std::to_string(reply.status) +
                " Scripted\r\nContent-Type: application/json\r\nContent-Length: " +
                std::to_string(reply.body.size()) + "\r\nConnection: close\r\n\r\n" + reply.body));
            socket->disconnectFromHost();
        }
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

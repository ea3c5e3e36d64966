#include "fake_relay.h"

#include <QCoreApplication>
#include <QTcpSocket>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <iterator>

FakeRelay::FakeRelay() {
    server_.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] {
        while (QTcpSocket* socket = server_.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { serve(*socket); });
        }
    });
}

void FakeRelay::serve(QTcpSocket& socket) {
    // Peeked until the whole request is there, so the socket holds what came so far.
    const QByteArray data = socket.peek(socket.bytesAvailable());
    const auto headEnd = data.indexOf("\r\n\r\n");
    const QList<QByteArray> lines = data.left(headEnd).split('\n');
    Request request;
    request.target = lines[0].split(' ').value(1).toStdString();
    for (const QByteArray& line : lines.mid(1)) {
        const auto at = line.indexOf(':');
        request.headers[line.left(at).toLower().toStdString()] = line.mid(at + 1).trimmed().toStdString();
    }
    const auto length = QByteArray::fromStdString(request.headers["content-length"]).toLongLong();
    if (headEnd < 0 || data.size() < headEnd + 4 + length) {
        return;
    }
    request.body = data.mid(headEnd + 4, length).toStdString();
    requests_.push_back(request);
    const Reply reply = handler_(request);
    if (!reply.hang) {
        socket.write(QByteArray::fromStdString(
            "HTTP/1.1 " + std::to_string(reply.status) + " Scripted\r\nContent-Length: " +
            std::to_string(reply.body.size()) + "\r\nConnection: close\r\n\r\n" + reply.body));
        socket.disconnectFromHost();
    }
}

FakeRelay::Reply FakeRelay::healthy(const Request& request) {
    return request.target == "/api/macs"
               ? Reply{201, R"({"macId":"mac1","secret":"s3cret"})"}
               : Reply{200, request.target.ends_with("/presence") ? R"({"followers":{}})" : "{}"};
}

std::vector<FakeRelay::Request> FakeRelay::requestsTo(const std::string& suffix) const {
    std::vector<Request> matching;
    std::ranges::copy_if(requests_, std::back_inserter(matching),
                         [&](const Request& request) { return request.target.ends_with(suffix); });
    return matching;
}

bool spinUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done() && std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return done();
}

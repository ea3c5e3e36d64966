#pragma once

#include <nlohmann/json.hpp>

#include <QObject>
#include <QTcpServer>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

/// A relay stand-in on loopback whose every answer the test scripts: for statuses and malformed replies
/// a real relay would never give. Records every request it receives.
class FakeRelay : public QObject {
    Q_OBJECT

public:
    struct Request {
        std::string method;
        std::string target;
        /// Header names in lower case.
        std::map<std::string, std::string> headers;
        std::string body;

        nlohmann::json json() const { return nlohmann::json::parse(body); }
    };
    struct Reply {
        int status = 200;
        std::string body = "{}";
        /// Never answer: the client's time-out must end the request.
        bool hang = false;
    };
    using Handler = std::function<Reply(const Request&)>;

    /// Listens on a free loopback port; answers like a healthy relay until `setHandler`.
    FakeRelay();

    /// "http://127.0.0.1:PORT".
    std::string base() const;
    void setHandler(Handler handler) { handler_ = std::move(handler); }
    /// The answer a healthy relay gives, for handlers that change only some routes.
    static Reply healthy(const Request& request);

    const std::vector<Request>& requests() const { return requests_; }
    /// The requests whose target ends with `suffix`.
    std::vector<Request> requestsTo(const std::string& suffix) const;

private:
    void serve(class QTcpSocket* socket);

    QTcpServer server_;
    Handler handler_;
    std::vector<Request> requests_;
};

/// Runs the Qt event loop until `done` holds or `timeoutMs` has passed; returns `done()`.
bool spinUntil(const std::function<bool()>& done, int timeoutMs = 5000);
/// Runs the Qt event loop for `ms`.
void spinFor(int ms);

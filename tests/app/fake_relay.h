#pragma once

#include <nlohmann/json.hpp>

#include <QTcpServer>
#include <QUrl>
#include <functional>
#include <map>
#include <string>
#include <vector>

/// A relay stand-in on loopback whose every answer the test scripts: for statuses and malformed replies
/// a real relay would never give. Records every request it receives.
class FakeRelay {
public:
    struct Request {
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
    std::string base() const { return "http://127.0.0.1:" + std::to_string(server_.serverPort()); }
    QUrl url(const std::string& path = "") const { return QUrl(QString::fromStdString(base() + path)); }
    void setHandler(Handler handler) { handler_ = std::move(handler); }
    /// The answer a healthy relay gives.
    static Reply healthy(const Request& request);
    /// Answers `reply` on routes ending with `suffix`, like a healthy relay elsewhere.
    static Handler on(std::string suffix, Reply reply) {
        return [=](const Request& request) {
            return request.target.ends_with(suffix) ? reply : healthy(request);
        };
    }
    /// The requests whose target ends with `suffix`.
    std::vector<Request> requestsTo(const std::string& suffix) const;

private:
    void serve(class QTcpSocket& socket);

    QTcpServer server_;
    Handler handler_ = &FakeRelay::healthy;
    std::vector<Request> requests_;
};

/// Runs the Qt event loop until `done` holds or `timeoutMs` has passed; returns `done()`.
bool spinUntil(const std::function<bool()>& done, int timeoutMs = 5000);
/// Runs the Qt event loop for `ms`.
inline void spinFor(int ms) {
    spinUntil([] { return false; }, ms);
}

#include "server_fixture.h"

#include <fstream>
#include <sstream>

Response parseResponse(const std::string& raw) {
    Response response;
    response.raw = raw;
    const auto end = raw.find("\r\n\r\n");
    if (end == std::string::npos) {
        return response;
    }
    std::istringstream head(raw.substr(0, end));
    std::string line;
    std::getline(head, line);
    if (line.size() >= 12) {
        response.status = std::stoi(line.substr(9, 3));
    }
    while (std::getline(head, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        response.headerLines.push_back(line);
        const auto colon = line.find(':');
        std::string name = line.substr(0, colon);
        for (char& c : name) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        response.headers[name] = line.substr(colon + 2);
    }
    response.body = raw.substr(end + 4);
    return response;
}

ServerFixture::ServerFixture(ServerLimits limits)
    : store(dir.path() / "Tesk", clock.function())
    , server(store, "Ana's Mac", limits) {
    server.setOnEvent([this](const ServerEvent& event) {
        std::lock_guard guard(lock_);
        events_.push_back(event);
    });
    server.start({});
}

Response ServerFixture::send(const std::string& rawRequest) {
    return parseResponse(request(server.port(), rawRequest));
}

Response ServerFixture::get(const std::string& path, const std::string& extraHeaders) {
    return send("GET " + path + " HTTP/1.1\r\nHost: test\r\n" + extraHeaders + "\r\n");
}

Item ServerFixture::addFile(const std::string& name, const std::string& contents,
                            const std::optional<std::string>& folderID) {
    const auto source = dir.path() / "sources" / name;
    std::filesystem::create_directories(source.parent_path());
    std::ofstream(source, std::ios::binary) << contents;
    return store.addFile(source, folderID).front();
}

std::vector<ServerEvent> ServerFixture::events(std::size_t count) {
    eventually(
        [&] {
            std::lock_guard guard(lock_);
            return events_.size() >= count;
        },
        std::chrono::seconds(count ? 3 : 0));
    std::lock_guard guard(lock_);
    return events_;
}

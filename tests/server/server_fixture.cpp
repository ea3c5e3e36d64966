#include "server_fixture.h"

#include <fstream>
#include <sstream>

ServerFixture::ServerFixture(ServerLimits limits)
    : store(dir.path() / "Tesk", clock.function())
    , server(store, "Ana's Mac", limits) {
    server.start({});
}

HttpReply ServerFixture::send(const std::string& rawRequest) {
    return parseHttpReply(request(server.port(), rawRequest));
}

HttpReply ServerFixture::get(const std::string& path, const std::string& extraHeaders) {
    return send("GET " + path + " HTTP/1.1\r\nHost: test\r\n" + extraHeaders + "\r\n");
}

Item ServerFixture::addFile(const std::string& name, const std::string& contents,
                            const std::optional<std::string>& folderID) {
    const auto source = dir.path() / "sources" / name;
    std::filesystem::create_directories(source.parent_path());
    std::ofstream(source, std::ios::binary) << contents;
    return store.addFile(source, folderID).front();
}

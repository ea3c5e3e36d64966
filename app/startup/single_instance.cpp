#include "app/startup/single_instance.h"

#include <QCryptographicHash>
#include <QString>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

/// The runtime folder, made when missing; refused unless it is this user's alone.
fs::path runtimeFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime == '/') {
        return runtime;
    }
    const fs::path folder = fs::temp_directory_path() / ("tesk-" + std::to_string(::getuid()));
    ::mkdir(folder.c_str(), 0700);
    struct stat status {};
    if (::lstat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) || status.st_uid != ::getuid() ||
        (status.st_mode & 077) != 0) {
        throw std::runtime_error(folder.string() + " is not a private folder of this user");
    }
    return folder;
}

bool sendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

} // namespace

SingleInstance::SingleInstance(const fs::path& libraryRoot) {
    // The same folder reached by two spellings is one library.
    std::error_code error;
    const fs::path canonical = fs::weakly_canonical(libraryRoot, error);
    const QByteArray digest =
        QCryptographicHash::hash(QByteArray::fromStdString((error ? libraryRoot : canonical).string()),
                                 QCryptographicHash::Sha256)
            .toHex()
            .left(16);
    const fs::path folder = runtimeFolder();
    socket_ = folder / ("tesk-" + digest.toStdString() + ".socket");
    lockFile_ = folder / ("tesk-" + digest.toStdString() + ".lock");
}

bool SingleInstance::tryLock() {
    if (lock_) {
        return true;
    }
    UniqueFd file(::open(lockFile_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!file || ::flock(file.get(), LOCK_EX | LOCK_NB) != 0) {
        return false;
    }
    lock_ = std::move(file);
    return true;
}

std::optional<int> SingleInstance::handOver(const nlohmann::json& request, std::ostream& out,
                                            std::ostream& err) const {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = socket_.string();
    if (path.size() >= sizeof(address.sun_path)) {
        return std::nullopt;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd || ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        return std::nullopt;
    }
    if (!sendAll(fd.get(), request.dump() + "\n")) {
        return std::nullopt;
    }
    // One JSON object a line: {"out": text}, {"err": text}, then {"exit": status}.
    std::string buffer;
    char chunk[4096];
    for (;;) {
        const ssize_t got = ::recv(fd.get(), chunk, sizeof(chunk), 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            err << "tesk: the running Tesk stopped before it answered" << std::endl;
            return 1;
        }
        buffer.append(chunk, static_cast<std::size_t>(got));
        for (std::size_t end; (end = buffer.find('\n')) != std::string::npos; buffer.erase(0, end + 1)) {
            const auto message = nlohmann::json::parse(buffer.substr(0, end), nullptr, false);
            if (!message.is_object()) {
                continue;
            }
            if (const auto text = message.find("out"); text != message.end() && text->is_string()) {
                out << text->get<std::string>() << std::endl;
            } else if (const auto text = message.find("err"); text != message.end() && text->is_string()) {
                err << text->get<std::string>() << std::endl;
            } else if (const auto status = message.find("exit");
                       status != message.end() && status->is_number_integer()) {
                return status->get<int>();
            }
        }
    }
}

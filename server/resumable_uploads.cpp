#include "server/resumable_uploads.h"

#include "core/ascii.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr std::string_view prefix = "piece.";

bool safePart(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(),
                                        [](char c) { return Ascii::isAlnum(c) || c == '-' || c == '_'; });
}

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

} // namespace

bool ResumableUploads::Upload::append(std::uint64_t by, const char* data, std::size_t size) {
    std::lock_guard guard(lock);
    if (ended || by != writer) {
        return false;
    }
    if (!writeAll(file.get(), data, size)) {
        writeFailed = true;
        return false;
    }
    held += static_cast<std::int64_t>(size);
    if (space) {
        space->landed(size);
    }
    return true;
}

std::string ResumableUploads::directoryName(const Key& key) {
    return std::string(prefix) + key.scope + "." + key.id + "." + std::to_string(key.size);
}

std::optional<ResumableUploads::Key> ResumableUploads::keyOf(const std::string& name) {
    if (!name.starts_with(prefix)) {
        return std::nullopt;
    }
    const std::string rest = name.substr(prefix.size());
    const auto first = rest.find('.');
    const auto second = rest.find('.', first == std::string::npos ? first : first + 1);
    const auto last = rest.rfind('.');
    if (first == std::string::npos || second == std::string::npos || second != last) {
        return std::nullopt;
    }
    Key key{rest.substr(0, first), rest.substr(first + 1, second - first - 1), 0};
    const std::string size = rest.substr(second + 1);
    const auto [end, error] = std::from_chars(size.data(), size.data() + size.size(), key.size);
    if (error != std::errc() || end != size.data() + size.size() || key.size < 1 || !safePart(key.id)) {
        return std::nullopt;
    }
    return key;
}

ResumableUploads::ResumableUploads(fs::path incoming, UploadSpace& space, std::uint64_t reserve)
    : incoming_(std::move(incoming))
    , space_(space)
    , reserve_(reserve) {
    std::error_code ignored;
    fs::create_directories(incoming_, ignored);
    const auto now = fs::file_time_type::clock::now();
    for (fs::directory_iterator it(incoming_, ignored), end; !ignored && it != end; it.increment(ignored)) {
        const std::string name = it->path().filename().string();
        const auto key = keyOf(name);
        auto upload = std::make_shared<Upload>();
        upload->directory = it->path();
        std::error_code error;
        const auto modified = fs::last_write_time(upload->path(), error);
        if (key && !error && now - modified < idleLimit) {
            upload->file.reset(::open(upload->path().c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
            const auto held = fs::file_size(upload->path(), error);
            if (upload->file && !error && static_cast<std::int64_t>(held) <= key->size) {
                upload->held = static_cast<std::int64_t>(held);
                upload->size = key->size;
                // Promised again as far as the disk can still hold it, the reserve aside: it was promised.
                upload->space =
                    space_.claim(incoming_, static_cast<std::uint64_t>(key->size - upload->held), 0);
                uploads_.emplace(name, std::move(upload));
                continue;
            }
        }
        // Whatever else an earlier run left half-received is garbage.
        fs::remove_all(it->path(), error);
    }
}

std::shared_ptr<ResumableUploads::Upload> ResumableUploads::find(const Key& key) {
    std::lock_guard guard(lock_);
    const auto found = uploads_.find(directoryName(key));
    return found == uploads_.end() ? nullptr : found->second;
}

std::shared_ptr<ResumableUploads::Upload> ResumableUploads::create(const Key& key) {
    auto claim = space_.claim(incoming_, static_cast<std::uint64_t>(key.size), reserve_);
    if (!claim) {
        return nullptr;
    }
    auto upload = std::make_shared<Upload>();
    upload->directory = incoming_ / directoryName(key);
    upload->size = key.size;
    upload->space = std::move(claim);
    std::lock_guard guard(lock_);
    // Two first pieces at once: the later one takes over, as it would from a hanging one. The earlier
    // stops writing before the file is made anew, so none of its bytes land in the new copy.
    if (const auto earlier = uploads_.find(directoryName(key)); earlier != uploads_.end()) {
        std::lock_guard ending(earlier->second->lock);
        earlier->second->ended = true;
        earlier->second->file.reset();
    }
    fs::create_directories(upload->directory);
    upload->file.reset(
        ::open(upload->path().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0600));
    if (!upload->file) {
        const std::error_code error(errno, std::generic_category());
        uploads_.erase(directoryName(key));
        fs::remove_all(upload->directory);
        throw fs::filesystem_error("open", upload->path(), error);
    }
    uploads_[directoryName(key)] = upload;
    return upload;
}

void ResumableUploads::end(Upload& upload) {
    std::lock_guard guard(upload.lock);
    upload.ended = true;
    upload.file.reset();
    upload.space.reset();
    std::error_code ignored;
    fs::remove_all(upload.directory, ignored);
}

void ResumableUploads::remove(const Key& key) {
    std::shared_ptr<Upload> upload;
    {
        std::lock_guard guard(lock_);
        const auto found = uploads_.find(directoryName(key));
        if (found == uploads_.end()) {
            return;
        }
        upload = found->second;
        uploads_.erase(found);
    }
    end(*upload);
}

void ResumableUploads::sweep(const std::function<bool(const std::string& scope)>& stillWanted) {
    std::vector<std::shared_ptr<Upload>> ended;
    {
        std::lock_guard guard(lock_);
        const auto now = fs::file_time_type::clock::now();
        for (auto it = uploads_.begin(); it != uploads_.end();) {
            std::error_code error;
            const auto modified = fs::last_write_time(it->second->path(), error);
            const auto key = keyOf(it->first);
            if (error || now - modified >= idleLimit || !key || !stillWanted(key->scope)) {
                ended.push_back(it->second);
                it = uploads_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (const auto& upload : ended) {
        end(*upload);
    }
}

std::size_t ResumableUploads::count() {
    std::lock_guard guard(lock_);
    return uploads_.size();
}

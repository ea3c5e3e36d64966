#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

/// The last JSON documents served, each valid for the library version it was built from. Phones poll
/// a share page every few seconds; while nothing changes they get the same bytes without rebuilding.
class DocumentCache {
public:
    explicit DocumentCache(std::size_t capacity = 256)
        : capacity_(capacity) {}

    /// The document stored under `key` for exactly this `version`, or nothing.
    std::shared_ptr<const std::string> find(const std::string& key, std::uint64_t version) const {
        std::lock_guard guard(lock_);
        const auto found = entries_.find(key);
        if (found == entries_.end() || found->second.version != version) {
            return nullptr;
        }
        return found->second.document;
    }

    void store(const std::string& key, std::uint64_t version, std::shared_ptr<const std::string> document) {
        std::lock_guard guard(lock_);
        // Bounded without bookkeeping: a full cache starts over.
        if (entries_.size() >= capacity_ && !entries_.contains(key)) {
            entries_.clear();
        }
        entries_[key] = Entry{version, std::move(document)};
    }

private:
    struct Entry {
        std::uint64_t version = 0;
        std::shared_ptr<const std::string> document;
    };

    const std::size_t capacity_;
    mutable std::mutex lock_;
    std::unordered_map<std::string, Entry> entries_;
};

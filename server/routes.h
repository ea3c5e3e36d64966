#pragma once

#include "core/http.h"
#include "core/library_store.h"
#include "server/document_cache.h"
#include "server/server_event.h"
#include "server/zip_stream.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <variant>

/// What the server knows besides the library, as the application set it: one consistent copy per request.
struct ServerFacts {
    std::string macName;
    std::optional<std::string> localHostName;
    /// The Home Screen icon served at "/icon.png".
    std::shared_ptr<const std::string> iconPNG;
    /// The relay's bases for a share's followers and for a phone's launcher page.
    std::optional<std::string> followBase;
    std::optional<std::string> deviceBase;
    /// Whether phone pages offer the share-sheet shortcut.
    bool offersShareSheet = false;
    std::uint16_t port = 0;
};

/// Which answer each request gets. The routes read the library and never touch a socket: they answer at
/// once, or say which file to stream, which body to store, or which small body to read before deciding.
namespace Routes {

/// One file item of a share, streamed from disk with byte ranges.
struct Download {
    Item item;
    std::string shareToken;
};

/// What a folder or bundle page shows, with everything inside its folders, as one .zip.
struct Archive {
    /// Files' sizes are the library's; the server reads them again before it starts.
    std::vector<ZipStream::Entry> entries;
    /// The archive's file name.
    std::string name;
    std::string shareToken;
};

/// A body streamed to disk, then filed as a new item.
struct Upload {
    /// Into a share that accepts files, at `folder` (the share's own place when empty).
    struct IntoShare {
        Share share;
        std::optional<std::string> folder;
    };
    /// From a paired phone, into its receiving folder.
    struct FromPhone {
        std::string token;
    };
    std::variant<IntoShare, FromPhone> destination;
    /// The file name the sender gave.
    std::string name;
    /// Who sent it, as the event names them.
    std::string sender;
    std::int64_t length = 0;
    /// The client waits for "100 Continue" before it sends the body.
    bool expectsContinue = false;
    /// One piece of an upload sent in pieces, which resumes where the server's copy ends.
    struct Piece {
        /// The upload's own id, made by the page: 8 to 64 letters, digits, "-" or "_".
        std::string id;
        /// Where in the file this piece starts.
        std::int64_t offset = 0;
        /// The whole file's length.
        std::int64_t size = 0;
    };
    std::optional<Piece> piece{};
};

/// The upload a POST asks for, to `destination`: a whole body, or one piece of an upload sent in pieces
/// ("X-Tesk-Upload", "X-Tesk-Offset", "X-Tesk-Size"); the refusal when its head does not say enough.
std::variant<HTTPResponse, Upload> upload(const HTTPRequest& request,
                                          std::variant<Upload::IntoShare, Upload::FromPhone> destination,
                                          std::string sender);

/// A small body read into memory, then `settle`d.
struct SmallBody {
    /// A phone claiming a pairing code; `address` is how the phone reached this computer.
    struct Claim {
        std::string code;
        std::string address;
    };
    /// A paired phone sending text.
    struct Text {
        std::string token;
        std::string sender;
    };
    std::variant<Claim, Text> purpose;
    std::size_t length = 0;
};

using Answer = std::variant<HTTPResponse, Download, Archive, Upload, SmallBody>;

/// The answer to `request`. Reads `store` (in place, under its lock) but changes nothing besides what
/// `documents` caches.
Answer answer(const HTTPRequest& request, const LibraryStore& store, const ServerFacts& facts,
              DocumentCache& documents);

/// What a small body comes to: the response, and the event to report when something changed.
struct Settled {
    HTTPResponse response;
    std::optional<ServerEvent> event;
};
/// Carries out `body` with what arrived (nothing when the client left before the end).
Settled settle(const SmallBody& body, const std::optional<std::string>& received, LibraryStore& store,
               const ServerFacts& facts);

/// Files a received upload from `file`; throws LibraryError or a file error.
Item file(const Upload& upload, const std::filesystem::path& file, LibraryStore& store);

/// The head of a download of `item`, whose file holds `size` bytes, and which bytes to send.
struct FileSend {
    std::string head;
    std::int64_t start = 0;
    std::int64_t count = 0;
    /// Only a whole attachment counts: thumbnails and resumed downloads are not new downloads.
    bool counts = false;
};
/// The send, or the answer when the range asked for cannot be satisfied.
std::variant<HTTPResponse, FileSend> send(const HTTPRequest& request, const Item& item, std::int64_t size);

// Each family of paths, for `answer`.
Answer share(const HTTPRequest& request, const std::string& token, const std::vector<std::string>& rest,
             const LibraryStore& store, const ServerFacts& facts, DocumentCache& documents);
Answer pairing(const HTTPRequest& request, const std::string& code, const std::vector<std::string>& rest,
               const LibraryStore& store, const ServerFacts& facts);
Answer device(const HTTPRequest& request, const std::string& token, const std::vector<std::string>& rest,
              const LibraryStore& store, const ServerFacts& facts);

} // namespace Routes

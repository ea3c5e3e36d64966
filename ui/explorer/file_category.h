#pragma once

#include <string_view>

/// What kind of file an item holds, judged by the extension of its name; picks the row's symbol and
/// whether a thumbnail is worth making.
enum class FileCategory { image, video, audio, archive, document };

/// The category of a file named `name`: the lower-cased extension's MIME type decides; no extension or
/// an unknown one is a document.
FileCategory fileCategory(std::string_view name);

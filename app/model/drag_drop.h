#pragma once

#include "app/model/library_entry.h"

#include <QMimeData>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

class AppModel;

/// What library rows carry when dragged, and what a drop onto the library does.
namespace DragDrop {

/// The format of a library entry dragged inside the application: one wire form per line.
inline constexpr char entryType[] = "app.tesk.entry";

/// The drag payload for a library entry: the stored file when there is one, else the text of a link or
/// note, and always the entry itself for drops inside the application.
std::unique_ptr<QMimeData> provider(const LibraryEntry& entry,
                                    const std::optional<std::filesystem::path>& file,
                                    const std::optional<std::string>& text);

/// Whether the payload was dragged from the library itself.
bool isInternal(const QMimeData& data);

/// Handles a drop into a folder (none for the top level): moves library entries when `moveInternal`
/// allows it, adds dropped files, links and text. Whether the drop was taken.
bool handle(const QMimeData& data, const std::optional<std::string>& folderID, AppModel& model,
            bool moveInternal);

} // namespace DragDrop

#pragma once

#include "app/model/library_entry.h"

class AppModel;
class QMenu;

/// The context menu of a library row or a sidebar folder.
namespace EntryMenu {

/// Adds the entry's actions to `menu`: open, preview and reveal for files, share, copy link, send to
/// each phone, move, rename and delete. Each action looks the entry up again when chosen, so a menu
/// left open across a library change acts on what is there then, or does nothing.
void fill(QMenu& menu, AppModel& model, const LibraryEntry& entry);

} // namespace EntryMenu

#pragma once

#include "core/date.h"

#include <filesystem>
#include <functional>

class LibraryStore;

/// Made-up contents for pictures of the panel and for trying the server: folders of photos, a report,
/// links, notes, a file a phone sent, shares and two paired phones.
namespace DemoLibrary {

/// A fixed instant for pictures that come out the same every time.
Date fixedNow();

/// Fills an empty library as it would be at `today`: `setNow` moves the store's clock back, so the
/// entries get different ages, and leaves it at `today`. `scratch` is a directory for the source files
/// (copied into the library).
void fill(LibraryStore& store, Date today, const std::function<void(Date)>& setNow,
          const std::filesystem::path& scratch);

} // namespace DemoLibrary

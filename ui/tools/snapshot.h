#pragma once

#include <filesystem>

/// `tesk --snapshot DIR`: the panel drawn offscreen in each of its main states over made-up data, one PNG
/// per state. Touches neither the user's library nor the network.
namespace Snapshot {

/// Writes the pictures; 0 on success, 1 when the folder or a picture could not be written (said on
/// standard error). Needs a QApplication.
int write(const std::filesystem::path& dir);

} // namespace Snapshot

#pragma once

/// Whether the interface animates its changes. Pictures of the panel and tests turn it off so they see
/// the end state at once.
namespace Motion {

bool enabled();
void setEnabled(bool enabled);

} // namespace Motion

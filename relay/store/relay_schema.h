#pragma once

#include "relay/store/relay_database.h"

/// The tables the relay keeps its state in, and the steps that bring an older database up to date.
namespace RelaySchema {

/// The version this build writes.
inline constexpr int currentVersion = 3;

/// Creates the tables in an empty database, or applies the steps an older one lacks, in one
/// transaction (two relays starting together on one PostgreSQL database take turns). Throws
/// RelayStoreError, also for a database of a newer version than this build knows.
void migrate(RelayDatabase& database);

} // namespace RelaySchema

#pragma once

#include "core/library.h"

#include <cstddef>

/// A made-up library of the given size: folders nested a few levels, items of every kind spread over
/// them, shares of every target kind (some stopped or expired), and paired phones.
Library sampleLibrary(std::size_t items, std::size_t folders, std::size_t shares, std::size_t devices);

#pragma once

#include <filesystem>
#include <string>

/// The whole contents of the file at `path`; empty when it cannot be read.
std::string readFile(const std::filesystem::path& path);

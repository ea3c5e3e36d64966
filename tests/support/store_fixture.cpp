#include "support/store_fixture.h"

#include <fstream>

std::filesystem::path StoreFixture::makeFile(const std::filesystem::path& relative,
                                             std::string_view contents) {
    const auto path = dir.path() / "outside" / relative;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out << contents;
    return path;
}

#include "ui/explorer/file_category.h"

#include <gtest/gtest.h>

#include <string>

TEST(FileCategoryTest, ExtensionDecidesWhateverItsCase) {
    const struct {
        std::string name;
        FileCategory category;
    } cases[] = {
        {"clip.MOV", FileCategory::video},     {"IMG.jpeg", FileCategory::image},
        {"photo.PNG", FileCategory::image},    {"song.mp3", FileCategory::audio},
        {"a.zip", FileCategory::archive},      {"a.tar.gz", FileCategory::archive},
        {"b.7z", FileCategory::archive},       {"report.pdf", FileCategory::document},
        {"notes.txt", FileCategory::document},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        EXPECT_EQ(fileCategory(test.name), test.category);
    }
}

TEST(FileCategoryTest, NamesWithoutAKnownExtensionAreDocuments) {
    for (const std::string name : {"README", "trailing.", ".jpg", "data.unknownext", ""}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(fileCategory(name), FileCategory::document);
    }
}

// What a drag carries and what a drop does to the library.
#include "app/model/drag_drop.h"

#include "model_fixture.h"

#include <gtest/gtest.h>

namespace {

QUrl fileURL(const std::filesystem::path& path) {
    return QUrl::fromLocalFile(QString::fromStdString(path.string()));
}

} // namespace

TEST(DragPayloadTest, CarriesTheFileOrTextAndAlwaysTheEntryInItsWireForm) {
    for (const auto& entry : {LibraryEntry::item("4f1c-aa"), LibraryEntry::folder("0b2e")}) {
        EXPECT_EQ(LibraryEntry::fromWire(entry.wire()), entry);
    }
    EXPECT_EQ(LibraryEntry::fromWire("item:a:b"), LibraryEntry::item("a:b"))
        << "only the first colon separates";
    for (const char* wire : {"item", "item:", "file:x", ":x", "", "Item:x"}) {
        EXPECT_EQ(LibraryEntry::fromWire(wire), std::nullopt) << wire;
    }

    const auto file = DragDrop::provider(LibraryEntry::item("i1"), std::filesystem::path("/tmp/x/a b.txt"),
                                         std::string("ignored"));
    EXPECT_EQ(file->urls(), QList<QUrl>{QUrl::fromLocalFile("/tmp/x/a b.txt")});
    EXPECT_FALSE(file->hasFormat("text/plain"));
    EXPECT_EQ(file->data(DragDrop::entryType), "item:i1");
    EXPECT_TRUE(DragDrop::isInternal(*file));
    const auto text =
        DragDrop::provider(LibraryEntry::item("i2"), std::nullopt, std::string("https://example.com/"));
    EXPECT_FALSE(text->hasUrls());
    EXPECT_EQ(text->text(), "https://example.com/");
    const auto folder = DragDrop::provider(LibraryEntry::folder("f1"), std::nullopt, std::nullopt);
    EXPECT_EQ(folder->formats(), QStringList{DragDrop::entryType});
    EXPECT_EQ(folder->data(DragDrop::entryType), "folder:f1");
}

using DragDropTest = ModelFixture;

TEST_F(DragDropTest, InternalDropsMoveOnlyWhereAllowedAndAddNothing) {
    const auto dest = store.addFolder("Dest", std::nullopt);
    const auto sub = store.addFolder("Sub", std::nullopt);
    const Item a = addItem("a.txt");
    const Item b = addItem("b.txt");
    const auto single = DragDrop::provider(LibraryEntry::item(a.id), store.fileURL(a), std::nullopt);
    EXPECT_FALSE(DragDrop::handle(*single, dest.id, *model, false));
    // A drag of several rows: one wire form per line.
    QMimeData several;
    several.setData(DragDrop::entryType, QByteArray::fromStdString("item:" + a.id + "\nfolder:" + sub.id +
                                                                   "\r\nitem:" + b.id + "\nnonsense"));
    EXPECT_TRUE(DragDrop::handle(several, dest.id, *model, true));
    settle();
    EXPECT_EQ(model->library().item(a.id)->folderID, dest.id);
    EXPECT_EQ(model->library().item(b.id)->folderID, dest.id);
    EXPECT_EQ(model->library().folder(sub.id)->parentID, dest.id);
    EXPECT_EQ(model->library().items.size(), 2u) << "the stored files the drags carry are not added again";
}

TEST_F(DragDropTest, OutsideDropsAddFilesElseAnAddressElseText) {
    const auto dest = store.addFolder("Dest", std::nullopt);
    settle();
    QMimeData files;
    files.setUrls({fileURL(makeFile("one.txt")), QUrl("https://example.com/")});
    QMimeData link;
    link.setUrls({QUrl("https://example.com/a?b=c")});
    link.setText("text that loses to the address");
    QMimeData text;
    text.setText("a note\nof two lines");
    QMimeData image;
    image.setData("image/png", QByteArray("\x89PNG", 4));
    EXPECT_TRUE(DragDrop::handle(files, dest.id, *model, false));
    ASSERT_TRUE(spinUntil([&] { return store.snapshot().items.size() == 1; }));
    EXPECT_TRUE(DragDrop::handle(link, dest.id, *model, true));
    EXPECT_TRUE(DragDrop::handle(text, std::nullopt, *model, true));
    EXPECT_FALSE(DragDrop::handle(image, std::nullopt, *model, true));
    EXPECT_FALSE(DragDrop::handle(QMimeData(), std::nullopt, *model, true));

    const auto items = store.snapshot().items;
    ASSERT_EQ(items.size(), 3u);
    const std::vector<std::tuple<ItemKind, std::string, std::optional<std::string>>> expected{
        {ItemKind::file, "one.txt", dest.id},
        {ItemKind::link, "https://example.com/a?b=c", dest.id},
        {ItemKind::text, "a note\nof two lines", std::nullopt}};
    for (std::size_t i = 0; i < items.size(); ++i) {
        const auto& [kind, what, folder] = expected[i];
        EXPECT_EQ(items[i].kind, kind);
        EXPECT_EQ(kind == ItemKind::file ? items[i].name : items[i].content, what);
        EXPECT_EQ(items[i].folderID, folder);
    }
}

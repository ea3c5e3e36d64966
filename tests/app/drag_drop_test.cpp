#include "app/model/drag_drop.h"

#include "model_fixture.h"

#include <gtest/gtest.h>

#include <QList>
#include <QUrl>
#include <filesystem>
#include <optional>
#include <string>

namespace {

QUrl filePath(const std::filesystem::path& path) {
    return QUrl::fromLocalFile(QString::fromStdString(path.string()));
}

} // namespace

TEST(LibraryEntryWireTest, RoundTripsAndRejectsWhatIsNoEntry) {
    for (const auto& entry : {LibraryEntry::item("4f1c-aa"), LibraryEntry::folder("0b2e")}) {
        EXPECT_EQ(LibraryEntry::fromWire(entry.wire()), entry);
    }
    EXPECT_EQ(LibraryEntry::item("x").wire(), "item:x");
    EXPECT_EQ(LibraryEntry::folder("y").wire(), "folder:y");
    // Only the first colon separates.
    EXPECT_EQ(LibraryEntry::fromWire("item:a:b"), LibraryEntry::item("a:b"));
    for (const char* wire : {"item", "item:", "file:x", ":x", "", "Item:x"}) {
        EXPECT_EQ(LibraryEntry::fromWire(wire), std::nullopt) << wire;
    }
}

TEST(DragPayloadTest, CarriesTheFileOrTextAndAlwaysTheEntry) {
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
    EXPECT_EQ(text->data(DragDrop::entryType), "item:i2");

    const auto folder = DragDrop::provider(LibraryEntry::folder("f1"), std::nullopt, std::nullopt);
    EXPECT_EQ(folder->formats(), QStringList{DragDrop::entryType});
    EXPECT_EQ(folder->data(DragDrop::entryType), "folder:f1");

    QMimeData outside;
    outside.setText("hello");
    EXPECT_FALSE(DragDrop::isInternal(outside));
}

using DragDropTest = ModelFixture;

TEST_F(DragDropTest, InternalDropsMoveOnlyWhereAllowed) {
    const auto dest = store.addFolder("Dest", std::nullopt);
    const auto sub = store.addFolder("Sub", std::nullopt);
    const Item a = addItem("a.txt");
    const Item b = addItem("b.txt");

    const auto single = DragDrop::provider(LibraryEntry::item(a.id), store.filePath(a), std::nullopt);
    EXPECT_FALSE(DragDrop::handle(*single, dest.id, *model, false));
    settle();
    EXPECT_EQ(model->library().item(a.id)->folderID, std::nullopt);
    // The stored file it also carries is not added again either.
    EXPECT_EQ(model->library().items.size(), 2u);

    // A drag of several rows: one wire form per line.
    QMimeData several;
    several.setData(DragDrop::entryType,
                    QByteArray::fromStdString(LibraryEntry::item(a.id).wire() + "\n" +
                                              LibraryEntry::folder(sub.id).wire() + "\r\n" +
                                              LibraryEntry::item(b.id).wire() + "\nnonsense"));
    EXPECT_TRUE(DragDrop::handle(several, dest.id, *model, true));
    settle();
    EXPECT_EQ(model->library().item(a.id)->folderID, dest.id);
    EXPECT_EQ(model->library().item(b.id)->folderID, dest.id);
    EXPECT_EQ(model->library().folder(sub.id)->parentID, dest.id);
    EXPECT_EQ(model->library().items.size(), 2u);
}

TEST_F(DragDropTest, DroppedFilesAreAddedIntoTheFolder) {
    const auto dest = store.addFolder("Dest", std::nullopt);
    settle();
    QMimeData data;
    data.setUrls(
        {filePath(makeFile("one.txt")), filePath(makeFile("two.txt")), QUrl("https://example.com/")});
    EXPECT_TRUE(DragDrop::handle(data, dest.id, *model, false));
    ASSERT_TRUE(spinUntil([&] { return model->toast().has_value(); }));
    EXPECT_EQ(model->toast(), "Added 2 files to Dest");
    settle();
    ASSERT_EQ(model->library().items.size(), 2u);
    for (const auto& item : model->library().items) {
        EXPECT_EQ(item.folderID, dest.id);
        EXPECT_EQ(item.kind, ItemKind::file);
    }
}

TEST_F(DragDropTest, AWebAddressAndPlainTextBecomeALinkAndANote) {
    const auto dest = store.addFolder("Dest", std::nullopt);
    settle();
    QMimeData link;
    link.setUrls({QUrl("https://example.com/a?b=c")});
    link.setText("text that loses to the address");
    EXPECT_TRUE(DragDrop::handle(link, dest.id, *model, true));
    EXPECT_EQ(model->toast(), "Added link");

    QMimeData text;
    text.setText("a note\nof two lines");
    EXPECT_TRUE(DragDrop::handle(text, std::nullopt, *model, true));
    EXPECT_EQ(model->toast(), "Added note");

    settle();
    const auto& items = model->library().items;
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].kind, ItemKind::link);
    EXPECT_EQ(items[0].content, "https://example.com/a?b=c");
    EXPECT_EQ(items[0].folderID, dest.id);
    EXPECT_EQ(items[1].kind, ItemKind::text);
    EXPECT_EQ(items[1].content, "a note\nof two lines");
    EXPECT_EQ(items[1].folderID, std::nullopt);
}

TEST_F(DragDropTest, NothingUsableIsRefused) {
    QMimeData empty;
    EXPECT_FALSE(DragDrop::handle(empty, std::nullopt, *model, true));
    QMimeData image;
    image.setData("image/png", QByteArray("\x89PNG", 4));
    EXPECT_FALSE(DragDrop::handle(image, std::nullopt, *model, true));
    settle();
    EXPECT_TRUE(model->library().items.empty());
}

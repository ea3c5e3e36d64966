// What a drop onto the library does with each kind of payload. A drag of stored rows also carries their
// files for other programs; inside the library those must move the rows, never add the files again.
#include "app/model/drag_drop.h"

#include "model_fixture.h"

#include <QMimeData>
#include <QUrl>

using DragDropTest = ModelFixture;

TEST_F(DragDropTest, EachPayloadLandsAsWhatItHolds) {
    const auto dest = store.addFolder("Dest", std::nullopt);
    const auto sub = store.addFolder("Sub", std::nullopt);
    const Item a = addItem("a.txt");
    const Item b = addItem("b.txt");
    const auto single = DragDrop::provider(LibraryEntry::item(a.id), store.filePath(a), std::nullopt);
    QMimeData several; // one wire form per line, whatever the line end; nonsense lines are skipped
    several.setData(DragDrop::entryType,
                    QByteArray::fromStdString(LibraryEntry::item(a.id).wire() + "\n" +
                                              LibraryEntry::folder(sub.id).wire() + "\r\n" +
                                              LibraryEntry::item(b.id).wire() + "\nnonsense"));
    QMimeData files, link, note, image, empty;
    files.setUrls({QUrl::fromLocalFile(QString::fromStdString(makeFile("one.txt").string())),
                   QUrl("https://example.com/")});
    link.setUrls({QUrl("https://example.com/a?b=c")});
    link.setText("text that loses to the address");
    note.setText("a note\nof two lines");
    image.setData("image/png", QByteArray("\x89PNG", 4));
    // What is dropped, whether rows may move, whether it is taken, and the items afterwards.
    const std::tuple<const QMimeData&, bool, bool, std::size_t> drops[] = {
        {*single, false, false, 2}, {several, true, true, 2}, {files, false, true, 3}, {link, true, true, 4},
        {note, true, true, 5},      {image, true, false, 5},  {empty, true, false, 5}};
    for (const auto& [data, moveInternal, taken, items] : drops) {
        EXPECT_EQ(DragDrop::handle(data, dest.id, *model, moveInternal), taken);
        ASSERT_TRUE(spinUntil([&] { return store.snapshot().items.size() == items; }));
    }
    const Library library = store.snapshot();
    EXPECT_EQ(library.folder(sub.id)->parentID, dest.id);
    for (const Item& item : library.items) { // a and b moved, the rest added there
        EXPECT_EQ(item.folderID, dest.id) << item.name;
    }
    EXPECT_EQ(library.items[3].kind, ItemKind::link);
    EXPECT_EQ(library.items[3].content, "https://example.com/a?b=c");
    EXPECT_EQ(library.items[4].content, "a note\nof two lines");
}

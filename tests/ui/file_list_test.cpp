#include "app/model/drag_drop.h"
#include "core/index_file.h"
#include "core/names.h"
#include "model_fixture.h"
#include "ui/explorer/file_list_model.h"
#include "ui/explorer/file_list_view.h"
#include "ui/explorer/file_row_delegate.h"
#include "ui/explorer/list_drop_delegate.h"
#include "ui/explorer/list_header.h"
#include "ui/explorer/thumbnail_cache.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QElapsedTimer>
#include <QImage>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <chrono>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

std::vector<std::string> pickedIDs(const AppModel& model) {
    std::vector<std::string> ids;
    for (const auto& target : model.picked()) {
        ids.push_back(target.id().value_or(""));
    }
    return ids;
}

std::string text(const QVariant& value) {
    return value.toString().toStdString();
}

} // namespace

/// A list of the library on screen, over a real model, with the list area's drop rules recording the
/// counts they report.
class FileListTest : public ModelFixture {
protected:
    FileListTest() { makeView(); }

    void makeView() {
        view.reset();
        view = std::make_unique<FileListView>(*model, drops);
        view->resize(700, 400);
        view->show();
        QApplication::processEvents();
    }

    FileListModel& rows() const { return view->fileModel(); }
    QRect rowRect(int row) const { return view->visualRect(rows().index(row)); }
    RowGeometry::Rects parts(int row) const { return view->rowDelegate().rects(rowRect(row)); }
    QPoint nameOf(int row) const { return parts(row).name.center(); }
    std::string cell(int row, int role) const { return text(rows().index(row).data(role)); }

    void click(QPoint point, Qt::KeyboardModifiers modifiers = {}) {
        QTest::mouseClick(view->viewport(), Qt::LeftButton, modifiers, point);
        settle();
    }

    /// Sends a drag's enter and, when given, a move to another point; whether the last was accepted.
    bool drag(const QMimeData& data, QPoint at) {
        QDragEnterEvent enter(at, offered, &data, Qt::LeftButton, {});
        QApplication::sendEvent(view->viewport(), &enter);
        return enter.isAccepted();
    }
    bool dragMove(const QMimeData& data, QPoint to, Qt::DropAction* action = nullptr) {
        QDragMoveEvent move(to, offered, &data, Qt::LeftButton, {});
        QApplication::sendEvent(view->viewport(), &move);
        if (action) {
            *action = move.dropAction();
        }
        return move.isAccepted();
    }
    bool drop(const QMimeData& data, QPoint at) {
        QDropEvent event(QPointF(at), offered, &data, Qt::LeftButton, {});
        QApplication::sendEvent(view->viewport(), &event);
        return event.isAccepted();
    }
    /// What the drags offer: by default what file managers do.
    Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction;
    /// A point of the list below every row.
    QPoint background() const { return QPoint(300, view->viewport()->height() - 5); }

    std::vector<std::optional<int>> counts;
    ListDropDelegate drops{*model, [this](std::optional<int> count) { counts.push_back(count); }};
    std::unique_ptr<FileListView> view;
};

// ---- What the rows show ----

TEST_F(FileListTest, FolderRowsCountWhatTheyHoldAndItemsShowTheirSize) {
    const auto top = store.addFolder("Projects", std::nullopt);
    const auto many = store.addFolder("Many", top.id);
    const auto one = store.addFolder("One", top.id);
    store.addFolder("Zero", top.id);
    addItem("inside.txt", one.id);
    store.addFolder("Sub", many.id);
    addItem("a.txt", many.id);
    addItem("b.txt", many.id);
    const Item report = addItem("report.pdf", top.id);
    store.addText("https://example.com/page", top.id);
    clock.advance(1);
    store.addText("first line\n\nsecond line", top.id);
    settle();
    model->setSelection(SidebarSelection::folder(top.id));

    ASSERT_EQ(rows().rowCount(), 6);
    const std::vector<std::vector<std::string>> expected = {
        // name, size, subtitle
        {"Many", "3 items", ""},
        {"One", "1 item", ""},
        {"Zero", "0 items", ""},
        {"first line", "—", "first line second line"},
        {"example.com", "—", "https://example.com/page"},
        {"report.pdf", Names::size(report.size), ""},
    };
    for (int row = 0; row < 6; ++row) {
        SCOPED_TRACE(row);
        const auto& want = expected[static_cast<std::size_t>(row)];
        EXPECT_EQ(cell(row, Qt::DisplayRole).substr(0, want[0].size()), want[0]);
        EXPECT_EQ(cell(row, FileListModel::sizeRole), want[1]);
        EXPECT_EQ(cell(row, FileListModel::subtitleRole), want[2]);
    }
    EXPECT_EQ(Names::size(report.size), "22 bytes");
}

TEST_F(FileListTest, AddedColumnReadsAgainstTheStoreClock) {
    addItem("old.txt");
    clock.advance(12 * 60);
    addItem("new.txt");
    ASSERT_EQ(rows().rowCount(), 2);
    EXPECT_EQ(cell(0, FileListModel::addedRole), "Just now");
    EXPECT_EQ(cell(1, FileListModel::addedRole), "12 min ago");
    clock.advance(3 * 86400);
    EXPECT_EQ(cell(0, FileListModel::addedRole), "3 days ago");
    // In "All files" the grey line says where an item lives.
    const auto work = store.addFolder("Work", std::nullopt);
    addItem("filed.txt", work.id);
    EXPECT_EQ(cell(0, FileListModel::subtitleRole), "Work");
}

TEST_F(FileListTest, SymbolsFollowKindAndCategory) {
    const auto folder = store.addFolder("Box", std::nullopt);
    const auto link = store.addText("https://example.com", folder.id);
    const auto note = store.addText("a note", folder.id);
    const Item clip = addItem("clip.MOV", folder.id);
    const Item readme = addItem("README", folder.id);
    const Item song = addItem("song.mp3", folder.id);
    const Item zip = addItem("a.tar.gz", folder.id);
    const Item photo = addItem("IMG.jpeg", folder.id);
    model->setSelection(SidebarSelection::folder(folder.id));
    const std::vector<std::pair<std::string, std::string>> expected = {
        {link->id, "link"},      {note->id, "text.alignleft"}, {clip.id, "play.rectangle"},
        {readme.id, "doc.text"}, {song.id, "waveform"},        {zip.id, "doc.zipper"},
        {photo.id, "photo"},
    };
    for (const auto& [id, symbol] : expected) {
        SCOPED_TRACE(symbol);
        const auto row = rows().rowOf(id);
        ASSERT_TRUE(row);
        EXPECT_EQ(cell(*row, FileListModel::symbolRole), symbol);
        // Only images get thumbnails; a video keeps its symbol.
        EXPECT_EQ(cell(*row, FileListModel::thumbnailFileRole).empty(), symbol != "photo");
    }
    model->setSelection(SidebarSelection::all());
    model->setSearch("Box");
    ASSERT_EQ(rows().rowCount(), 1);
    EXPECT_EQ(cell(0, FileListModel::symbolRole), "folder.fill");
}

TEST_F(FileListTest, SharedTagShowsOutsideTheSharedLinksView) {
    const Item item = addItem("a.txt");
    addItem("b.txt");
    model->copyLink(ShareTarget::item(item.id));
    settle();
    const auto row = rows().rowOf(item.id);
    ASSERT_TRUE(row);
    EXPECT_TRUE(rows().index(*row).data(FileListModel::sharedTagRole).toBool());
    EXPECT_FALSE(rows().index(1 - *row).data(FileListModel::sharedTagRole).toBool());
    model->setSelection(SidebarSelection::shared());
    model->setSearch("a.txt");
    ASSERT_EQ(rows().rowCount(), 1);
    EXPECT_FALSE(rows().index(0).data(FileListModel::sharedTagRole).toBool());
}

// ---- Gestures ----

TEST_F(FileListTest, DoubleClickOnFolderOpensIt) {
    const auto top = store.addFolder("Top", std::nullopt);
    const auto inner = store.addFolder("Inner", top.id);
    settle();
    model->setSelection(SidebarSelection::folder(top.id));
    model->setSearch("");
    ASSERT_EQ(rows().rowCount(), 1);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, nameOf(0));
    settle();
    EXPECT_EQ(model->selection(), SidebarSelection::folder(inner.id));
}

TEST_F(FileListTest, DoubleClickOnFileOpensItsStoredCopy) {
    const Item item = addItem("a.txt");
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, nameOf(0));
    settle();
    ASSERT_EQ(platform.openedFiles.size(), 1u);
    EXPECT_EQ(platform.openedFiles[0], store.filePath(item));
}

TEST_F(FileListTest, CtrlAndShiftClicksPickAsTheModelSays) {
    const Item d = addItem("d.txt");
    const Item c = addItem("c.txt");
    const Item b = addItem("b.txt");
    const Item a = addItem("a.txt"); // newest first: a b c d
    click(nameOf(0));
    EXPECT_EQ(pickedIDs(*model), (std::vector<std::string>{a.id}));
    click(nameOf(2), Qt::ControlModifier);
    EXPECT_EQ(pickedIDs(*model), (std::vector<std::string>{a.id, c.id}));
    click(nameOf(3), Qt::ShiftModifier);
    EXPECT_EQ(pickedIDs(*model), (std::vector<std::string>{a.id, c.id, d.id}));
    click(nameOf(0), Qt::ControlModifier);
    EXPECT_EQ(pickedIDs(*model), (std::vector<std::string>{c.id, d.id}));
    click(nameOf(1));
    EXPECT_EQ(pickedIDs(*model), (std::vector<std::string>{b.id}));
    EXPECT_TRUE(rows().index(1).data(FileListModel::selectedRole).toBool());
    EXPECT_FALSE(rows().index(0).data(FileListModel::selectedRole).toBool());
}

TEST_F(FileListTest, PickBoxTogglesWithoutReplacingThePicks) {
    addItem("b.txt");
    addItem("a.txt");
    click(nameOf(0));
    ASSERT_EQ(model->picked().size(), 1u);
    ASSERT_TRUE(parts(1).pickBox);
    click(parts(1).pickBox->center());
    EXPECT_EQ(model->picked().size(), 2u);
    click(parts(1).pickBox->center());
    EXPECT_EQ(model->picked().size(), 1u);
}

TEST_F(FileListTest, QrButtonOpensTheInspectorWithoutPicking) {
    const Item item = addItem("a.txt");
    click(parts(0).qrButton.center());
    EXPECT_EQ(model->inspecting(), ShareTarget::item(item.id));
    EXPECT_TRUE(model->picked().empty());
    // The inspected row shows as selected; compact rows lose the pick box and the Added column.
    EXPECT_TRUE(rows().index(0).data(FileListModel::selectedRole).toBool());
    EXPECT_FALSE(parts(0).pickBox);
    EXPECT_FALSE(parts(0).added);
}

TEST_F(FileListTest, RenameThroughTheNameField) {
    const Item item = addItem("draft.txt");
    QLineEdit* field = view->renameField();
    EXPECT_FALSE(field->isVisible());
    model->setRenamingID(item.id);
    ASSERT_TRUE(field->isVisible());
    EXPECT_EQ(field->text(), "draft.txt");
    EXPECT_EQ(field->placeholderText(), "Name");
    EXPECT_EQ(field->selectedText(), "draft.txt");
    QTest::keyClicks(field, "final.txt");
    QTest::keyClick(field, Qt::Key_Return);
    settle();
    EXPECT_FALSE(field->isVisible());
    EXPECT_EQ(store.snapshot().item(item.id)->name, "final.txt");

    // A double click on the row being renamed does not open it.
    model->setRenamingID(item.id);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, parts(0).size.center());
    settle();
    EXPECT_TRUE(platform.openedFiles.empty());
}

TEST_F(FileListTest, EscapeInTheNameFieldCancels) {
    const Item item = addItem("keep.txt");
    model->setRenamingID(item.id);
    QLineEdit* field = view->renameField();
    QTest::keyClicks(field, "other");
    QTest::keyClick(field, Qt::Key_Escape);
    settle();
    EXPECT_FALSE(model->renamingID());
    EXPECT_FALSE(field->isVisible());
    EXPECT_EQ(store.snapshot().item(item.id)->name, "keep.txt");
}

TEST_F(FileListTest, NewFolderOpensItsNameFieldOnceItArrives) {
    const auto top = store.addFolder("Top", std::nullopt);
    settle();
    model->setSelection(SidebarSelection::folder(top.id));
    model->newFolder();
    settle();
    QLineEdit* field = view->renameField();
    ASSERT_TRUE(field->isVisible());
    EXPECT_EQ(field->text(), "New Folder");
    const auto row = rows().rowOf(*model->renamingID());
    ASSERT_TRUE(row);
    EXPECT_TRUE(rowRect(*row).contains(field->geometry().center()));
}

// ---- Revealing and size ----

TEST_F(FileListTest, RevealedItemScrollsToTheMiddle) {
    std::vector<Item> items;
    for (int i = 0; i < 60; ++i) {
        items.push_back(store.addFile(makeFile("f" + std::to_string(i) + ".txt"), std::nullopt).at(0));
        clock.advance(1);
    }
    settle();
    ASSERT_EQ(rows().rowCount(), 60);
    EXPECT_EQ(view->verticalScrollBar()->value(), 0);
    model->showItem(items[30].id); // row 29, far below the first screen
    settle();
    const int middle = view->viewport()->height() / 2;
    EXPECT_LE(std::abs(rowRect(29).center().y() - middle), RowGeometry::rowHeight);
}

TEST_F(FileListTest, TenThousandRowsBuildQuickly) {
    // Written as an index rather than added one by one, which would rewrite the index 10 000 times.
    Library big;
    for (int i = 0; i < 10'000; ++i) {
        big.items.push_back(Item{.id = "item" + std::to_string(i),
                                 .name = "file " + std::to_string(i) + ".txt",
                                 .size = i,
                                 .created = clock.now().adding(-i)});
    }
    const auto root = dir.path() / "Big";
    std::filesystem::create_directories(root);
    std::ofstream(root / "library.json") << IndexFile::encode(big);
    LibraryStore bigStore(root, clock.function());
    TeskServer bigServer(bigStore, "Big Mac");
    AppModel::Services services;
    services.relayHosts = {};
    services.ssid = [] { return std::string(); };
    services.address = [] { return std::optional<std::string>(); };
    services.watchNetwork = false;
    AppModel bigModel(bigStore, bigServer, platform, settings, std::move(services));

    QElapsedTimer timer;
    timer.start();
    FileListView bigView(bigModel, drops);
    bigView.resize(700, 400);
    bigView.show();
    QApplication::processEvents();
    bigModel.reload();
    QApplication::processEvents();
    bigView.scrollToBottom();
    QApplication::processEvents();
    const qint64 elapsed = timer.elapsed();
    ASSERT_EQ(bigView.fileModel().rowCount(), 10'000);
    EXPECT_TRUE(bigView.viewport()->rect().intersects(bigView.visualRect(bigView.fileModel().index(9'999))));
    EXPECT_LT(elapsed, 3000);
    RecordProperty("milliseconds", static_cast<int>(elapsed));
}

// ---- Drops ----

TEST_F(FileListTest, DroppingFilesCopiesThemIntoTheSelectedFolder) {
    const auto inbox = store.addFolder("Inbox", std::nullopt);
    settle();
    model->setSelection(SidebarSelection::folder(inbox.id));
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(makeFile("1.txt").string())),
                  QUrl::fromLocalFile(QString::fromStdString(makeFile("2.txt").string())),
                  QUrl::fromLocalFile(QString::fromStdString(makeFile("3.txt").string()))});
    EXPECT_TRUE(drag(data, background()));
    EXPECT_TRUE(dragMove(data, background()));
    ASSERT_FALSE(counts.empty());
    EXPECT_EQ(counts.back(), 3);
    EXPECT_TRUE(drop(data, background()));
    EXPECT_EQ(counts.back(), std::nullopt);
    EXPECT_TRUE(spinUntil([&] { return rows().rowCount() == 3; }));
    EXPECT_EQ(store.snapshot().itemsIn(inbox.id).size(), 3u);
}

TEST_F(FileListTest, RowDraggedOntoAFolderRowMovesThere) {
    const auto top = store.addFolder("Top", std::nullopt);
    const auto target = store.addFolder("Target", top.id);
    const Item item = addItem("a.txt", top.id);
    model->setSelection(SidebarSelection::folder(top.id));
    ASSERT_EQ(rows().rowCount(), 2);
    view->setDragSourceCheck([](const QDropEvent&) { return true; });
    const auto data = DragDrop::provider(LibraryEntry::item(item.id), store.filePath(item), std::nullopt);
    // A copy, as the list's own drags offer; the entry type is what makes it a move.
    offered = Qt::CopyAction;

    EXPECT_TRUE(drag(*data, nameOf(0)));
    Qt::DropAction action = Qt::IgnoreAction;
    EXPECT_TRUE(dragMove(*data, nameOf(0), &action));
    EXPECT_EQ(action, Qt::CopyAction);
    EXPECT_EQ(view->rowDelegate().dropTargetRow(), 0);
    // Over the item row itself (not a folder) the list refuses a row.
    EXPECT_FALSE(dragMove(*data, nameOf(1)));
    EXPECT_EQ(view->rowDelegate().dropTargetRow(), -1);
    EXPECT_TRUE(dragMove(*data, nameOf(0)));
    EXPECT_TRUE(drop(*data, nameOf(0)));
    settle();
    EXPECT_EQ(store.snapshot().item(item.id)->folderID, target.id);
    EXPECT_EQ(view->rowDelegate().dropTargetRow(), -1);
    EXPECT_TRUE(counts.empty() || counts.back() == std::nullopt);
}

TEST_F(FileListTest, RowDragOffersOtherProgramsACopyOnly) {
    const Item item = addItem("a.txt");
    ASSERT_EQ(rows().rowCount(), 1);
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, nameOf(0));
    const QPoint away = nameOf(0) + QPoint(0, QApplication::startDragDistance() + 1);
    QMouseEvent move(QEvent::MouseMove, away, view->viewport()->mapToGlobal(away), Qt::NoButton,
                     Qt::LeftButton, {});
    QApplication::sendEvent(view->viewport(), &move);
    // The offscreen platform ends the drag at once; the drag object goes only once events run again.
    const QDrag* dragged = view->findChild<QDrag*>();
    ASSERT_NE(dragged, nullptr);
    // A file manager that honours a move would otherwise delete the stored file.
    EXPECT_EQ(dragged->supportedActions(), Qt::CopyAction);
    EXPECT_EQ(dragged->mimeData()->urls(),
              QList<QUrl>({QUrl::fromLocalFile(QString::fromStdString(store.filePath(item).string()))}));
    EXPECT_TRUE(DragDrop::isInternal(*dragged->mimeData()));
}

TEST_F(FileListTest, RowDraggedOntoTheBackgroundIsRefused) {
    const auto top = store.addFolder("Top", std::nullopt);
    const Item item = addItem("a.txt", top.id);
    model->setSelection(SidebarSelection::folder(top.id));
    view->setDragSourceCheck([](const QDropEvent&) { return true; });
    const auto data = DragDrop::provider(LibraryEntry::item(item.id), store.filePath(item), std::nullopt);
    drag(*data, background());
    EXPECT_FALSE(dragMove(*data, background()));
    EXPECT_FALSE(drop(*data, background()));
    settle();
    EXPECT_EQ(store.snapshot().item(item.id)->folderID, top.id);
    EXPECT_EQ(store.snapshot().items.size(), 1u);
}

TEST_F(FileListTest, LibraryEntryOfferedByAnotherProgramIsRefused) {
    const auto top = store.addFolder("Top", std::nullopt);
    store.addFolder("Target", top.id);
    const Item item = addItem("a.txt", top.id);
    model->setSelection(SidebarSelection::folder(top.id));
    // No running drag here, so the event names no source: as when another program offers the type.
    const auto data = DragDrop::provider(LibraryEntry::item(item.id), store.filePath(item), std::nullopt);
    EXPECT_FALSE(drag(*data, nameOf(0)));
    EXPECT_FALSE(dragMove(*data, nameOf(0)));
    EXPECT_FALSE(drop(*data, nameOf(0)));
    settle();
    EXPECT_EQ(store.snapshot().item(item.id)->folderID, top.id);
}

TEST_F(FileListTest, OutsideFileOverAFolderRowGoesIntoThatFolder) {
    const auto top = store.addFolder("Top", std::nullopt);
    const auto target = store.addFolder("Target", top.id);
    settle();
    model->setSelection(SidebarSelection::folder(top.id));
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(makeFile("x.txt").string()))});
    // Entering over the list counts the file for the overlay; moving onto the folder row withdraws it.
    EXPECT_TRUE(drag(data, background()));
    EXPECT_EQ(counts.back(), 1);
    Qt::DropAction action = Qt::IgnoreAction;
    EXPECT_TRUE(dragMove(data, nameOf(0), &action));
    EXPECT_EQ(action, Qt::CopyAction);
    EXPECT_EQ(counts.back(), std::nullopt);
    EXPECT_TRUE(drop(data, nameOf(0)));
    ASSERT_TRUE(spinUntil([&] { return store.snapshot().itemsIn(target.id).size() == 1; }));
    EXPECT_TRUE(store.snapshot().itemsIn(top.id).empty());
}

// ---- Thumbnails ----

TEST_F(FileListTest, VisibleImageRowsGetThumbnailsAndBrokenOnesKeepTheSymbol) {
    const auto picture = makeFile("wide.png");
    QImage image(200, 100, QImage::Format_RGB32);
    image.fill(Qt::red);
    ASSERT_TRUE(image.save(QString::fromStdString(picture.string()), "PNG"));
    const Item broken = addItem("broken.png"); // text contents under an image name
    const Item wide = store.addFile(picture, std::nullopt).at(0);
    settle();
    view->viewport()->repaint();
    ASSERT_TRUE(spinUntil([&] {
        QCoreApplication::processEvents();
        return ThumbnailCache::shared().lookup(QString::fromStdString(wide.id)).has_value() &&
               ThumbnailCache::shared().failed(QString::fromStdString(broken.id));
    }));
    const auto row = rows().rowOf(wide.id);
    ASSERT_TRUE(row);
    const QImage thumbnail = rows().index(*row).data(FileListModel::thumbnailRole).value<QImage>();
    EXPECT_EQ(thumbnail.deviceIndependentSize().toSize(), QSize(60, 30));
    EXPECT_FALSE(rows().index(*rows().rowOf(broken.id)).data(FileListModel::thumbnailRole).isValid());
}

TEST_F(FileListTest, RowsOffScreenAskForNoThumbnail) {
    QImage image(20, 20, QImage::Format_RGB32);
    image.fill(Qt::blue);
    std::vector<Item> items;
    for (int i = 0; i < 40; ++i) {
        const auto file = makeFile("p" + std::to_string(i) + ".png");
        image.save(QString::fromStdString(file.string()), "PNG");
        items.push_back(store.addFile(file, std::nullopt).at(0));
        clock.advance(1);
    }
    settle();
    view->viewport()->repaint();
    const QString first = QString::fromStdString(items.back().id); // newest, the top row
    ASSERT_TRUE(spinUntil([&] {
        QCoreApplication::processEvents();
        return ThumbnailCache::shared().lookup(first).has_value();
    }));
    spinFor(100);
    const QString last = QString::fromStdString(items.front().id); // the bottom row, never painted
    EXPECT_FALSE(ThumbnailCache::shared().lookup(last).has_value());
    EXPECT_FALSE(ThumbnailCache::shared().failed(last));
}

TEST(ThumbnailCacheTest, ResultForACacheAlreadyGoneIsDropped) {
    TempDir dir;
    const auto file = dir.path() / "big.png";
    QImage image(2000, 1000, QImage::Format_RGB32);
    image.fill(Qt::green);
    ASSERT_TRUE(image.save(QString::fromStdString(file.string()), "PNG"));
    {
        ThumbnailCache kept;
        QSignalSpy ready(&kept, &ThumbnailCache::ready);
        kept.request("kept", file, 2.0);
        ASSERT_TRUE(ready.wait(5000));
        EXPECT_EQ(kept.lookup("kept")->size(), QSize(120, 60));
    }
    auto gone = std::make_unique<ThumbnailCache>();
    gone->request("gone", file, 1.0);
    gone.reset();
    spinFor(500);
    SUCCEED() << "no crash when the result arrived after the cache";
}

// ---- Column titles ----

TEST_F(FileListTest, ColumnTitlesLineUpWithTheRows) {
    addItem("a.txt");
    ListHeader header(*model);
    header.resize(view->viewport()->width(), RowGeometry::headerHeight);
    auto columns = header.columns();
    ASSERT_EQ(columns.size(), 3u);
    EXPECT_EQ(columns[0].title, "Name");
    EXPECT_EQ(columns[1].title, "Size");
    EXPECT_EQ(columns[2].title, "Added");
    EXPECT_EQ(columns[1].rect.left(), parts(0).size.left());
    EXPECT_EQ(columns[2].rect.left(), parts(0).added->left());
    const int nameWithoutPicks = columns[0].rect.left();

    model->togglePick(ShareTarget::item(model->rows()[0].id()));
    columns = header.columns();
    EXPECT_EQ(columns[0].rect.left(), parts(0).icon.left());
    EXPECT_GT(columns[0].rect.left(), nameWithoutPicks);

    model->setInspecting(ShareTarget::item(model->rows()[0].id()));
    columns = header.columns();
    ASSERT_EQ(columns.size(), 2u);
    EXPECT_EQ(columns[1].title, "Size");
    EXPECT_EQ(columns[1].rect.left(), parts(0).size.left());
}

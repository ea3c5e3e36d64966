// The list of the library: what each gesture on a row does, drops, drags out to other programs, ten
// thousand rows, and thumbnails that arrive after their cache is gone.
#include "app/model/drag_drop.h"
#include "core/index_file.h"
#include "model_fixture.h"
#include "ui/explorer/file_list_model.h"
#include "ui/explorer/file_list_view.h"
#include "ui/explorer/file_row_delegate.h"
#include "ui/explorer/list_drop_delegate.h"
#include "ui/explorer/thumbnail_cache.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDrag>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QImage>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <ranges>
#include <set>
#include <tuple>

class FileListTest : public ModelFixture {
protected:
    FileListTest() {
        view.resize(700, 400);
        view.show();
        QApplication::processEvents();
    }

    RowGeometry::Rects parts(int row) {
        return view.rowDelegate().rects(view.visualRect(view.fileModel().index(row)));
    }
    QPoint nameOf(int row) { return parts(row).name.center(); }
    QPoint background() const { return QPoint(300, view.viewport()->height() - 5); }
    std::set<std::string> picked() const {
        const auto ids = model->picked() | std::views::transform([](auto& t) { return *t.id(); });
        return {ids.begin(), ids.end()};
    }
    /// Drags `data` in at `at` and lets go there; whether the list took the drop.
    bool dropAt(const QMimeData& data, QPoint at) {
        const auto offered = Qt::CopyAction | Qt::MoveAction;
        QDragEnterEvent enter(at, offered, &data, Qt::LeftButton, {});
        QApplication::sendEvent(view.viewport(), &enter);
        QDragMoveEvent move(at, offered, &data, Qt::LeftButton, {});
        QApplication::sendEvent(view.viewport(), &move);
        QDropEvent drop(QPointF(at), offered, &data, Qt::LeftButton, {});
        QApplication::sendEvent(view.viewport(), &drop);
        settle();
        return drop.isAccepted();
    }

    std::vector<std::optional<int>> counts;
    ListDropDelegate drops{*model, [this](std::optional<int> count) { counts.push_back(count); }};
    FileListView view{*model, drops};
};

TEST_F(FileListTest, EachGestureOnARowDoesWhatItSaysAndDropsGoIntoTheFolderUnderThemFromThisProgramOnly) {
    const Folder top = store.addFolder("Top", std::nullopt);
    const Folder inner = store.addFolder("Inner", top.id);
    const Item d = addItem("d.txt", top.id), c = addItem("c.txt", top.id), b = addItem("b.txt", top.id),
               a = addItem("a.txt", top.id);
    model->setSelection(SidebarSelection::folder(top.id));
    ASSERT_EQ(view.fileModel().rowCount(), 5); // Inner, then the items newest first: a b c d
    const auto clickAt = [&](QPoint point, Qt::KeyboardModifiers modifiers = {}) {
        QTest::mouseClick(view.viewport(), Qt::LeftButton, modifiers, point);
        settle();
    };
    // The row clicked, with which keys held, and what is picked then.
    const std::tuple<int, Qt::KeyboardModifiers, std::set<std::string>> clicks[] = {
        {1, {}, {a.id}},
        {3, Qt::ControlModifier, {a.id, c.id}},
        {4, Qt::ShiftModifier, {a.id, c.id, d.id}},
        {1, Qt::ControlModifier, {c.id, d.id}},
        {2, {}, {b.id}}};
    for (const auto& [row, modifiers, picks] : clicks) {
        clickAt(nameOf(row), modifiers);
        EXPECT_EQ(picked(), picks) << "row " << row;
    }
    clickAt(parts(1).pickBox->center());
    EXPECT_EQ(picked(), (std::set{a.id, b.id})) << "the pick box adds";
    QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, nameOf(1));
    settle();
    EXPECT_EQ(platform.openedFiles, std::vector{store.filePath(a)});
    model->setRenamingID(a.id);
    QTest::keyClicks(view.renameField(), "final.txt\r");
    settle();
    EXPECT_EQ(store.snapshot().item(a.id)->name, "final.txt");
    clickAt(parts(2).qrButton.center());
    EXPECT_EQ(model->inspecting(), ShareTarget::item(b.id));
    QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, nameOf(0));
    settle();
    EXPECT_EQ(model->selection(), SidebarSelection::folder(inner.id));

    model->setSelection(SidebarSelection::folder(top.id));
    const auto entry = DragDrop::provider(LibraryEntry::item(d.id), store.filePath(d), std::nullopt);
    QMimeData outside;
    outside.setUrls({QUrl::fromLocalFile(QString::fromStdString(makeFile("x.txt").string()))});
    const auto filed = [&](const Folder& folder) { return store.snapshot().itemsIn(folder.id).size(); };
    // What is dragged, whether from this program, where it is let go, whether the list takes it.
    const std::tuple<const char*, const QMimeData*, bool, QPoint, bool> cases[] = {
        // First, with the list's own check: no drag of this program is running, so the event names no source.
        {"another program's library entry", entry.get(), false, nameOf(0), false},
        {"an entry over the background", entry.get(), true, background(), false},
        {"an entry over a folder row", entry.get(), true, nameOf(0), true},
        {"an outside file over a folder row", &outside, false, nameOf(0), true},
        {"an outside file over the background", &outside, false, background(), true},
    };
    for (const auto& [what, data, fromThisProgram, at, taken] : cases) {
        if (fromThisProgram) {
            view.setDragSourceCheck([](const QDropEvent&) { return true; });
        }
        EXPECT_EQ(dropAt(*data, at), taken) << what;
    }
    ASSERT_TRUE(spinUntil([&] { return filed(inner) == 2 && filed(top) == 4; }));
    EXPECT_EQ(counts.back(), std::nullopt) << "the drop overlay is withdrawn";
}

TEST_F(FileListTest, RowDragOffersOtherProgramsACopyOnly) {
    const Item item = addItem("a.txt");
    QTest::mousePress(view.viewport(), Qt::LeftButton, {}, nameOf(0));
    const QPoint away = nameOf(0) + QPoint(0, QApplication::startDragDistance() + 1);
    QMouseEvent move(QEvent::MouseMove, away, view.viewport()->mapToGlobal(away), Qt::NoButton,
                     Qt::LeftButton, {});
    QApplication::sendEvent(view.viewport(), &move);
    // The offscreen platform ends the drag at once; the drag object goes only once events run again.
    const QDrag* dragged = view.findChild<QDrag*>();
    ASSERT_NE(dragged, nullptr);
    // A file manager that honours a move would otherwise delete the stored file.
    EXPECT_EQ(dragged->supportedActions(), Qt::CopyAction);
    EXPECT_EQ(dragged->mimeData()->urls(),
              QList{QUrl::fromLocalFile(QString::fromStdString(store.filePath(item).string()))});
}

TEST_F(FileListTest, TenThousandRowsBuildQuickly) {
    // Written as an index rather than added one by one, which would rewrite the index 10 000 times.
    Library big;
    for (int i = 0; i < 10'000; ++i) {
        big.items.push_back(
            Item{.id = "item" + std::to_string(i), .name = "a.txt", .created = clock.now().adding(-i)});
    }
    LibraryStore bigStore(makeFile("Big/library.json", IndexFile::encode(big)).parent_path(),
                          clock.function());
    AppModel::Services quiet;
    quiet.relayHosts = {};
    quiet.watchNetwork = false;
    AppModel bigModel(bigStore, {platform, server, login, shortcuts}, settings, quiet);

    QElapsedTimer timer;
    timer.start();
    FileListView bigView(bigModel, drops);
    bigView.resize(700, 400);
    bigView.show();
    bigModel.reload();
    QApplication::processEvents();
    bigView.scrollToBottom();
    QApplication::processEvents();
    ASSERT_EQ(bigView.fileModel().rowCount(), 10'000);
    EXPECT_TRUE(bigView.viewport()->rect().intersects(bigView.visualRect(bigView.fileModel().index(9'999))));
    EXPECT_LT(timer.elapsed(), 3000);
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
        EXPECT_TRUE(kept.lookup("kept"));
    }
    auto gone = std::make_unique<ThumbnailCache>();
    gone->request("gone", file, 1.0);
    gone.reset();
    // A result delivered to the deleted cache would crash here.
    spinFor(500);
}

// The add dialog takes files and folders in one choice.
#include "ui/explorer/file_chooser.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QFileSystemModel>
#include <QItemSelectionModel>
#include <QTest>
#include <filesystem>
#include <fstream>

namespace {

TEST(FileChooserTest, AFileAndAFolderPickedTogetherAreBothChosen) {
    TempDir dir;
    std::filesystem::create_directories(dir.path() / "Photos");
    std::ofstream(dir.path() / "notes.txt") << "x";
    std::ofstream(dir.path() / "left out.txt") << "y";

    FileChooser chooser(QStringLiteral("Add to Tesk"));
    auto* model = chooser.findChild<QFileSystemModel*>();
    ASSERT_TRUE(model);
    const QString root = QString::fromStdString(dir.path().string());
    chooser.setDirectory(root);
    chooser.show();

    QAbstractItemView* view = nullptr;
    for (QAbstractItemView* candidate : chooser.findChildren<QAbstractItemView*>()) {
        if ((candidate->objectName() == "listView" || candidate->objectName() == "treeView") &&
            candidate->isVisible()) {
            view = candidate;
        }
    }
    ASSERT_TRUE(view);
    // The dialog lists the directory on a thread of its own, and may report another directory loaded
    // first: wait for this one's three entries to reach the view.
    const auto rows = [view] { return view->model()->rowCount(view->rootIndex()); };
    ASSERT_TRUE(QTest::qWaitFor([&] { return rows() >= 3; }, 5000)) << rows() << " entries listed";
    EXPECT_EQ(view->selectionMode(), QAbstractItemView::ExtendedSelection);
    // No "Directories" type filter on offer: files are chosen here as well.
    auto* types = chooser.findChild<QWidget*>(QStringLiteral("fileTypeCombo"));
    ASSERT_TRUE(types);
    EXPECT_FALSE(types->isVisible());
    QItemSelectionModel* selection = view->selectionModel();
    const QModelIndex parent = view->rootIndex();
    int picked = 0;
    for (int row = 0; row < view->model()->rowCount(parent); ++row) {
        const QModelIndex index = view->model()->index(row, 0, parent);
        const QString name = index.data().toString();
        if (name == "Photos" || name == "notes.txt") {
            selection->select(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
            ++picked;
        }
    }
    ASSERT_EQ(picked, 2);
    chooser.accept();
    EXPECT_EQ(chooser.result(), QDialog::Accepted);
    QStringList chosen = chooser.chosen();
    chosen.sort();
    EXPECT_EQ(chosen, QStringList({root + "/Photos", root + "/notes.txt"}));
}

} // namespace

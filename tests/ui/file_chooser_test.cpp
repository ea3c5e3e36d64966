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
    for (const QString name : {QStringLiteral("Photos"), QStringLiteral("notes.txt")}) {
        const auto found = view->model()->match(view->model()->index(0, 0, view->rootIndex()),
                                                Qt::DisplayRole, name, 1, Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1) << name.toStdString();
        view->selectionModel()->select(found[0], QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    chooser.accept();
    QStringList chosen = chooser.chosen();
    chosen.sort();
    EXPECT_EQ(chosen, QStringList({root + "/Photos", root + "/notes.txt"}));
}

} // namespace

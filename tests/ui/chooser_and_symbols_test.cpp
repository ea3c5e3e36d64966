// Two faults a picture does not show: the add dialog once took folders only, and a symbol missing from
// the bundle draws as nothing.
#include "support/temp_dir.h"
#include "ui/explorer/file_chooser.h"
#include "ui/widgets/symbols.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QFileSystemModel>
#include <QImage>
#include <QItemSelectionModel>
#include <QTest>
#include <filesystem>
#include <fstream>

TEST(FileChooserTest, AFileAndAFolderPickedTogetherAreBothChosen) {
    TempDir dir;
    std::filesystem::create_directories(dir.path() / "Photos");
    std::ofstream(dir.path() / "notes.txt") << "x";
    std::ofstream(dir.path() / "left out.txt") << "y";
    FileChooser chooser(QStringLiteral("Add to Tesk"));
    const QString root = QString::fromStdString(dir.path().string());
    chooser.setDirectory(root);
    chooser.show();
    chooser.setViewMode(QFileDialog::Detail);
    const auto* view = chooser.findChild<QAbstractItemView*>("treeView");
    ASSERT_TRUE(view && view->isVisible());
    // The dialog lists the directory on a thread of its own.
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->model()->rowCount(view->rootIndex()) >= 3; }, 5000));
    const auto* files = qobject_cast<const QFileSystemModel*>(view->model());
    for (const QString& name : {root + "/Photos", root + "/notes.txt"}) {
        view->selectionModel()->select(files->index(name),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    chooser.accept();
    QStringList chosen = chooser.chosen();
    chosen.sort();
    EXPECT_EQ(chosen, QStringList({root + "/Photos", root + "/notes.txt"}));
}

TEST(SymbolsTest, EveryInterfaceSymbolIsBundledAndDrawsInsideItsSquare) {
    const QStringList names =
        QString("qrcode folder folder.fill link text.alignleft photo play.rectangle waveform doc.zipper "
                "doc.text doc chevron.right magnifyingglass xmark xmark.circle.fill plus iphone ipad "
                "iphone.and.arrow.forward tray tray.and.arrow.down arrow.down.to.line "
                "arrow.down.to.line.compact checkmark trash ellipsis.circle wifi.slash clock rectangle.stack")
            .split(' ');
    for (const QString& name : names) {
        const QImage image =
            Symbols::pixmap(name, 48, Qt::red).toImage().convertToFormat(QImage::Format_ARGB32);
        int ink = 0;
        bool edge = false;
        for (int i = 0, w = image.width(); i < w * image.height(); ++i) {
            const int x = i % w, y = i / w;
            const QRgb pixel = image.pixel(x, y);
            ink += qAlpha(pixel) >= 200 && qRed(pixel) >= 250 && qGreen(pixel) <= 5;
            edge |= qAlpha(pixel) > 0 && (x == 0 || y == 0 || x == w - 1 || y == image.height() - 1);
        }
        EXPECT_GE(ink, 20) << qPrintable(name) << " draws too little in the colour asked for";
        EXPECT_FALSE(edge) << qPrintable(name) << " is cut at its edge";
    }
    EXPECT_TRUE(Symbols::pixmap("no.such.symbol", 16, Qt::black).isNull());
}

#include "ui/explorer/file_chooser.h"

#include <QAbstractItemView>
#include <QFileSystemModel>
#include <QItemSelectionModel>

namespace {

bool isEntryView(const QAbstractItemView* view) {
    return view->objectName() == QLatin1String("listView") || view->objectName() == QLatin1String("treeView");
}

} // namespace

FileChooser::FileChooser(const QString& prompt, QWidget* parent)
    : QFileDialog(parent, prompt) {
    setObjectName(QStringLiteral("FileChooser"));
    // Directory mode with files shown lets the accept button take folders; the views then allow picking
    // several entries of either kind.
    setOption(QFileDialog::DontUseNativeDialog);
    setFileMode(QFileDialog::Directory);
    setOption(QFileDialog::ShowDirsOnly, false);
    setLabelText(QFileDialog::Accept, prompt);
    setLabelText(QFileDialog::FileName, QStringLiteral("Name:"));
    // Directory mode would offer a "Directories" type filter; files and folders are both taken here.
    for (const char* name : {"fileTypeCombo", "fileTypeLabel"}) {
        if (auto* widget = findChild<QWidget*>(QLatin1String(name))) {
            widget->hide();
        }
    }
    for (QAbstractItemView* view : findChildren<QAbstractItemView*>()) {
        if (isEntryView(view)) {
            view->setSelectionMode(QAbstractItemView::ExtendedSelection);
        }
    }
}

QStringList FileChooser::selectedInView() const {
    QStringList paths;
    for (const QAbstractItemView* view : findChildren<QAbstractItemView*>()) {
        if (!isEntryView(view) || !view->isVisible() || !view->selectionModel()) {
            continue;
        }
        for (const QModelIndex& index : view->selectionModel()->selectedRows()) {
            const QString path = index.data(QFileSystemModel::FilePathRole).toString();
            if (!path.isEmpty() && !paths.contains(path)) {
                paths << path;
            }
        }
    }
    return paths;
}

void FileChooser::accept() {
    const QStringList picked = selectedInView();
    if (picked.isEmpty()) {
        // A path typed into the name field: the dialog's own rules apply.
        QFileDialog::accept();
        chosen_ = selectedFiles();
        return;
    }
    chosen_ = picked;
    QDialog::accept();
}

#include "app/model/drag_drop.h"

#include "app/model/app_model.h"

#include <QByteArray>
#include <QList>
#include <QUrl>
#include <algorithm>
#include <vector>

namespace DragDrop {

std::unique_ptr<QMimeData> provider(const LibraryEntry& entry,
                                    const std::optional<std::filesystem::path>& file,
                                    const std::optional<std::string>& text) {
    auto data = std::make_unique<QMimeData>();
    if (file) {
        data->setUrls({QUrl::fromLocalFile(QString::fromStdString(file->string()))});
    } else if (text) {
        data->setText(QString::fromStdString(*text));
    }
    data->setData(entryType, QByteArray::fromStdString(entry.wire()));
    return data;
}

bool isInternal(const QMimeData& data) {
    return data.hasFormat(entryType);
}

// QMimeData hands over every representation at once, on the thread that delivers the drop, so there is
// nothing to load in the background and nothing to join before acting on the main thread.
bool handle(const QMimeData& data, const std::optional<std::string>& folderID, AppModel& model,
            bool moveInternal) {
    if (isInternal(data)) {
        if (!moveInternal) {
            return false;
        }
        for (const QByteArray& line : data.data(entryType).split('\n')) {
            if (const auto entry = LibraryEntry::fromWire(line.trimmed().toStdString())) {
                model.move(*entry, folderID);
            }
        }
        return true;
    }

    const QList<QUrl> urls = data.urls();
    std::vector<std::filesystem::path> files;
    for (const QUrl& url : urls) {
        if (url.isLocalFile()) {
            files.emplace_back(url.toLocalFile().toStdString());
        }
    }
    if (!files.empty()) {
        model.add(std::move(files), AppModel::Destination::into(folderID), false);
        return true;
    }
    const auto link =
        std::find_if(urls.begin(), urls.end(), [](const QUrl& url) { return !url.isLocalFile(); });
    if (link != urls.end()) {
        model.addText(link->toString(QUrl::FullyEncoded).toStdString(),
                      AppModel::Destination::into(folderID));
        return true;
    }
    if (data.hasText()) {
        model.addText(data.text().toStdString(), AppModel::Destination::into(folderID));
        return true;
    }
    return false;
}

} // namespace DragDrop

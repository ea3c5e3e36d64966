#include "ui/explorer/file_list_model.h"

#include "app/model/app_model.h"
#include "app/model/wording.h"
#include "core/names.h"
#include "ui/explorer/file_category.h"
#include "ui/explorer/thumbnail_cache.h"

#include <QImage>
#include <algorithm>

namespace {

QString text(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

} // namespace

FileListModel::FileListModel(AppModel& model, QObject* parent)
    : QAbstractListModel(parent)
    , model_(model) {
    connect(&model_, &AppModel::libraryChanged, this, [this] { reload(true); });
    connect(&model_, &AppModel::selectionChanged, this, [this] { reload(false); });
    connect(&model_, &AppModel::searchChanged, this, [this] { reload(false); });
    connect(&model_, &AppModel::pickedChanged, this, &FileListModel::repaintAll);
    connect(&model_, &AppModel::inspectingChanged, this, &FileListModel::repaintAll);
    connect(&ThumbnailCache::shared(), &ThumbnailCache::ready, this, [this](const QString& itemID) {
        if (const auto row = rowOf(itemID.toStdString())) {
            const QModelIndex changed = index(*row);
            emit dataChanged(changed, changed, {thumbnailRole});
        }
    });
    reload(false);
}

FileListModel::~FileListModel() = default;

int FileListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

std::optional<int> FileListModel::rowOf(const std::string& id) const {
    const auto found = rowOfID_.find(id);
    if (found == rowOfID_.end()) {
        return std::nullopt;
    }
    return found->second;
}

void FileListModel::reload(bool sameList) {
    beginResetModel();
    lastResetKeptList_ = sameList;
    rows_ = model_.rows();
    rowOfID_.clear();
    rowOfID_.reserve(rows_.size());
    for (std::size_t row = 0; row < rows_.size(); ++row) {
        rowOfID_.emplace(rows_[row].id(), static_cast<int>(row));
    }
    endResetModel();
}

void FileListModel::repaintAll() {
    if (!rows_.empty()) {
        emit dataChanged(index(0), index(static_cast<int>(rows_.size()) - 1));
    }
}

QVariant FileListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() < 0 || index.row() >= static_cast<int>(rows_.size())) {
        return {};
    }
    const ListRow& row = rows_[static_cast<std::size_t>(index.row())];
    const Item* item = row.isFolder() ? nullptr : &std::get<Item>(row.content);
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return text(row.name());
    case subtitleRole:
        return row.subtitle ? QVariant(text(*row.subtitle)) : QVariant();
    case sizeRole:
        return sizeText(row);
    case addedRole: {
        const Date added = item ? item->created : std::get<Folder>(row.content).created;
        return QString::fromStdString(Wording::added(added, model_.now()));
    }
    case symbolRole:
        return symbolName(row);
    case thumbnailRole: {
        if (const auto image = ThumbnailCache::shared().lookup(text(row.id()))) {
            return *image;
        }
        return {};
    }
    case thumbnailFileRole:
        // Video rows keep their symbol: there is no thumbnailer for them here.
        if (item && item->kind == ItemKind::file && fileCategory(item->name) == FileCategory::image) {
            return QString::fromStdString(model_.storedFile(*item).string());
        }
        return QString();
    case idRole:
        return text(row.id());
    case isFolderRole:
        return row.isFolder();
    case pickedRole:
    case selectedRole: {
        const ShareTarget target = row.target();
        const auto& picked = model_.picked();
        const bool isPicked = std::find(picked.begin(), picked.end(), target) != picked.end();
        if (role == pickedRole) {
            return isPicked;
        }
        return isPicked || model_.inspecting() == target;
    }
    case sharedTagRole:
        return model_.selection().kind() != SidebarSelection::Kind::shared && model_.isShared(row.target());
    default:
        return {};
    }
}

QString FileListModel::sizeText(const ListRow& row) const {
    if (row.isFolder()) {
        const std::size_t count = model_.library().childCount(row.id());
        return QString::fromStdString(Wording::counted(static_cast<std::int64_t>(count), "item", "items"));
    }
    const Item& item = std::get<Item>(row.content);
    if (item.kind != ItemKind::file) {
        return QStringLiteral("—");
    }
    return text(Names::size(item.size));
}

QString FileListModel::symbolName(const ListRow& row) {
    if (row.isFolder()) {
        return QStringLiteral("folder.fill");
    }
    const Item& item = std::get<Item>(row.content);
    switch (item.kind) {
    case ItemKind::link:
        return QStringLiteral("link");
    case ItemKind::text:
        return QStringLiteral("text.alignleft");
    case ItemKind::file:
        break;
    }
    switch (fileCategory(item.name)) {
    case FileCategory::image:
        return QStringLiteral("photo");
    case FileCategory::video:
        return QStringLiteral("play.rectangle");
    case FileCategory::audio:
        return QStringLiteral("waveform");
    case FileCategory::archive:
        return QStringLiteral("doc.zipper");
    case FileCategory::document:
        break;
    }
    return QStringLiteral("doc.text");
}

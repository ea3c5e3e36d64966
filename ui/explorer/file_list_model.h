#pragma once

#include <QAbstractListModel>
#include <QString>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

class AppModel;
/// Declared only: moc cannot read the standard headers the library types bring in.
struct ListRow;

/// The explorer's rows (`AppModel::rows()`) as a Qt list model, with the texts and flags each row is
/// painted from. Rebuilt when the library, the selection or the search changes; picks, the inspector
/// and thumbnails only repaint.
class FileListModel : public QAbstractListModel {
    Q_OBJECT

public:
    enum Role {
        /// The name is Qt::DisplayRole; the grey line under it, or nothing.
        subtitleRole = Qt::UserRole + 1,
        /// "1.2 kB", "—", "3 items".
        sizeRole,
        /// "12 min ago"; always given, the view leaves it out when compact.
        addedRole,
        /// The symbol name shown when there is no thumbnail.
        symbolRole,
        /// The thumbnail as a QImage once made; nothing otherwise.
        thumbnailRole,
        /// The stored file of an image item, whose thumbnail is worth making; empty otherwise.
        thumbnailFileRole,
        idRole,
        isFolderRole,
        /// Whether the row's target is picked.
        pickedRole,
        /// Whether the row shows as selected: picked, or the target the inspector shows.
        selectedRole,
        /// Whether the "Shared" tag shows.
        sharedTagRole,
    };

    explicit FileListModel(AppModel& model, QObject* parent = nullptr);
    ~FileListModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    const std::vector<ListRow>& rows() const { return rows_; }
    /// The row with that folder or item id.
    std::optional<int> rowOf(const std::string& id) const;

    /// Whether the latest rebuild showed the same list as before (a library change) rather than another
    /// folder or search, so the view can keep its place.
    bool lastResetKeptList() const { return lastResetKeptList_; }

    /// Takes the rows afresh from the model.
    void reload(bool sameList = true);

private:
    /// Every row may paint differently (picks, inspector); nothing moved.
    void repaintAll();
    QString sizeText(const ListRow& row) const;
    static QString symbolName(const ListRow& row);

    AppModel& model_;
    std::vector<ListRow> rows_;
    std::unordered_map<std::string, int> rowOfID_;
    bool lastResetKeptList_ = true;
};

#pragma once

#include <QCache>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QSize>
#include <QString>
#include <filesystem>
#include <optional>

/// Small pictures of image items for the list, made on worker threads and kept for the life of the
/// process under the item's id. Item ids are never reused and stored files never change, so nothing is
/// ever invalidated.
class ThumbnailCache : public QObject {
    Q_OBJECT

public:
    /// The edge of the square a thumbnail fits in, in device-independent pixels.
    static constexpr int side = 60;

    /// The one cache the views share.
    static ThumbnailCache& shared();

    explicit ThumbnailCache(QObject* parent = nullptr);

    /// The item's thumbnail when it has been made.
    std::optional<QImage> lookup(const QString& itemID) const;

    /// Starts making the item's thumbnail from its stored file, fitted into `side` × `side` at
    /// `devicePixelRatio`, unless it is made, being made, or failed before. Never waits for the file.
    void request(const QString& itemID, const std::filesystem::path& file, qreal devicePixelRatio);

    /// Whether the item's file could not be read as an image (the row keeps its symbol).
    bool failed(const QString& itemID) const { return failed_.contains(itemID); }

signals:
    /// The item's thumbnail is in the cache.
    void ready(const QString& itemID);

private:
    /// Back on the main thread with a worker's result; a null image is a failure.
    void finish(const QString& itemID, const QImage& image);

    QCache<QString, QImage> images_;
    QSet<QString> pending_;
    QSet<QString> failed_;
};

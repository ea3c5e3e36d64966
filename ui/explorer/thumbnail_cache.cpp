#include "ui/explorer/thumbnail_cache.h"

#include <QCoreApplication>
#include <QImageReader>
#include <QMetaObject>
#include <QPointer>
#include <QThreadPool>
#include <algorithm>
#include <cmath>

namespace {

/// Reads the image already scaled down, so a large photo is never decoded at full size.
QImage readScaled(const std::filesystem::path& file, qreal devicePixelRatio) {
    QImageReader reader(QString::fromStdString(file.string()));
    reader.setAutoTransform(true);
    const int edge = static_cast<int>(std::lround(ThumbnailCache::side * devicePixelRatio));
    const QSize size = reader.size();
    if (size.isValid()) {
        QSize fitted = size.scaled(edge, edge, Qt::KeepAspectRatio);
        fitted = fitted.expandedTo(QSize(1, 1));
        if (fitted.width() < size.width() || fitted.height() < size.height()) {
            reader.setScaledSize(fitted);
        }
    }
    QImage image = reader.read();
    if (!image.isNull() && (image.width() > edge || image.height() > edge)) {
        // Some formats ignore the scaled size.
        image = image.scaled(edge, edge, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
    if (!image.isNull()) {
        image.setDevicePixelRatio(devicePixelRatio);
    }
    return image;
}

} // namespace

ThumbnailCache& ThumbnailCache::shared() {
    static ThumbnailCache cache;
    return cache;
}

ThumbnailCache::ThumbnailCache(QObject* parent)
    : QObject(parent)
    // Costs are kilobytes: about 64 MB of thumbnails before the least used go.
    , images_(64 * 1024) {}

std::optional<QImage> ThumbnailCache::lookup(const QString& itemID) const {
    if (const QImage* image = images_.object(itemID)) {
        return *image;
    }
    return std::nullopt;
}

void ThumbnailCache::request(const QString& itemID, const std::filesystem::path& file,
                             qreal devicePixelRatio) {
    if (images_.contains(itemID) || pending_.contains(itemID) || failed_.contains(itemID)) {
        return;
    }
    pending_.insert(itemID);
    QPointer<ThumbnailCache> self(this);
    QThreadPool::globalInstance()->start([self, itemID, file, devicePixelRatio] {
        const QImage image = readScaled(file, devicePixelRatio);
        // The application outlives every worker (it waits for the pool when it goes), while the cache
        // may not (a test's own cache), so the result travels through the application and the cache is
        // looked for only on arrival, on the main thread.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, itemID, image] {
                if (self) {
                    self->finish(itemID, image);
                }
            },
            Qt::QueuedConnection);
    });
}

void ThumbnailCache::finish(const QString& itemID, const QImage& image) {
    pending_.remove(itemID);
    if (image.isNull()) {
        failed_.insert(itemID);
        return;
    }
    const qsizetype kilobytes = std::max<qsizetype>(1, image.sizeInBytes() / 1024);
    // QCache owns what it is given and deletes it when it evicts it.
    images_.insert(itemID, new QImage(image), kilobytes);
    emit ready(itemID);
}

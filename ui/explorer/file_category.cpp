#include "ui/explorer/file_category.h"

#include <QHash>
#include <QMimeDatabase>
#include <QMimeType>
#include <QString>
#include <mutex>

namespace {

/// Types that mean "an archive"; compressed tarballs and the like inherit one of them.
const char* const archiveTypes[] = {
    "application/zip",
    "application/x-tar",
    "application/gzip",
    "application/x-7z-compressed",
    "application/vnd.rar",
    "application/x-rar",
    "application/x-bzip2",
    "application/x-xz",
    "application/x-archive",
    "application/x-compressed-tar",
    "application/x-bzip",
    "application/zstd",
    "application/x-lzma",
    "application/x-cpio",
    "application/x-java-archive",
    "application/x-lzip",
};

bool isArchive(const QMimeType& type) {
    for (const char* archive : archiveTypes) {
        if (type.inherits(QString::fromLatin1(archive))) {
            return true;
        }
    }
    return false;
}

FileCategory categoryOf(const QString& extension) {
    // A dummy name, so only the extension counts: the stored file's contents are never read here.
    const QMimeType type =
        QMimeDatabase().mimeTypeForFile(QStringLiteral("x.") + extension, QMimeDatabase::MatchExtension);
    if (!type.isValid() || type.isDefault()) {
        return FileCategory::document;
    }
    const QString name = type.name();
    if (name.startsWith(QLatin1String("image/"))) {
        return FileCategory::image;
    }
    if (name.startsWith(QLatin1String("video/"))) {
        return FileCategory::video;
    }
    if (name.startsWith(QLatin1String("audio/"))) {
        return FileCategory::audio;
    }
    return isArchive(type) ? FileCategory::archive : FileCategory::document;
}

} // namespace

FileCategory fileCategory(std::string_view name) {
    const QString text = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    const qsizetype dot = text.lastIndexOf(QLatin1Char('.'));
    // ".profile" is a hidden name without an extension, as file managers read it.
    if (dot <= 0 || dot == text.size() - 1) {
        return FileCategory::document;
    }
    const QString extension = text.mid(dot + 1).toLower();

    // Rows are painted often; the MIME lookup is answered once per extension.
    static std::mutex lock;
    static QHash<QString, FileCategory> known;
    std::lock_guard guard(lock);
    const auto found = known.constFind(extension);
    if (found != known.constEnd()) {
        return *found;
    }
    const FileCategory category = categoryOf(extension);
    known.insert(extension, category);
    return category;
}

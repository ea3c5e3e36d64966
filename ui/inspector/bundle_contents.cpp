#include "ui/inspector/bundle_contents.h"

#include "app/model/app_model.h"
#include "ui/widgets/elided_label.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/symbols.h"
#include "ui/widgets/theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <algorithm>

BundleContents::BundleContents(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , rows_(new QVBoxLayout) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    auto* title = new QLabel(QStringLiteral("In this link"), this);
    title->setObjectName(QStringLiteral("bundleTitle"));
    Labels::embolden(*title);
    layout->addWidget(title);
    rows_->setSpacing(4);
    layout->addLayout(rows_);
}

std::vector<BundleContents::Entry> BundleContents::entries(const Library& library,
                                                           const ShareBundle& bundle) {
    std::vector<Entry> result;
    for (const std::string& id : bundle.folderIDs) {
        if (const auto folder = library.folder(id)) {
            result.push_back({QString::fromStdString(folder->name), true});
        }
    }
    for (const std::string& id : bundle.itemIDs) {
        if (const auto item = library.item(id)) {
            result.push_back({QString::fromStdString(item->name), false});
        }
    }
    return result;
}

QString BundleContents::moreLine(int count) {
    if (count <= shownEntries) {
        return {};
    }
    return QStringLiteral("and %1 more").arg(count - shownEntries);
}

void BundleContents::setBundle(const ShareBundle& bundle) {
    // Rows hold only labels, but they may still be painting; let the event loop drop them.
    while (QLayoutItem* row = rows_->takeAt(0)) {
        if (row->widget()) {
            row->widget()->hide();
            row->widget()->deleteLater();
        }
        delete row;
    }
    const Theme theme = Theme::current();
    const std::vector<Entry> all = entries(model_.library(), bundle);
    const int shown = std::min<int>(static_cast<int>(all.size()), shownEntries);
    for (int i = 0; i < shown; ++i) {
        auto* row = new QWidget(this);
        row->setObjectName(QStringLiteral("bundleEntry"));
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(6);
        auto* symbol = new QLabel(row);
        symbol->setPixmap(
            Symbols::pixmap(all[i].isFolder ? QStringLiteral("folder.fill") : QStringLiteral("doc"), 14,
                            all[i].isFolder ? theme.accent : theme.dimmed, devicePixelRatioF()));
        symbol->setFixedSize(16, 16);
        layout->addWidget(symbol);
        auto* name = new ElidedLabel(all[i].name, row, Qt::ElideMiddle);
        name->setObjectName(QStringLiteral("entryName"));
        name->setTextFormat(Qt::PlainText);
        layout->addWidget(name, 1);
        rows_->addWidget(row);
    }
    if (const QString more = moreLine(static_cast<int>(all.size())); !more.isEmpty()) {
        auto* line = new QLabel(more, this);
        line->setObjectName(QStringLiteral("bundleMore"));
        Labels::tint(*line, theme.dimmed);
        rows_->addWidget(line);
    }
}

#include "ui/lists/phones_view.h"

#include "app/model/app_model.h"
#include "ui/lists/device_row.h"
#include "ui/widgets/notice_view.h"
#include "ui/widgets/scroll_areas.h"

#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>
#include <algorithm>
#include <set>

PhonesView::PhonesView(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , model_(model) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    empty_ = new NoticeView(
        QStringLiteral("iphone"), QStringLiteral("No phones paired"),
        QStringLiteral("Pair your phone once. After that you send to this computer from a Tesk icon "
                       "on its Home Screen, with no scanning."),
        this);
    empty_->setObjectName(QStringLiteral("emptyState"));
    empty_->titleLabel()->setObjectName(QStringLiteral("emptyTitle"));
    empty_->textLabel()->setObjectName(QStringLiteral("emptyText"));
    empty_->limitTextWidth(360);
    auto* pair = new QPushButton(QStringLiteral("Pair a phone"), empty_);
    pair->setObjectName(QStringLiteral("pairPhone"));
    connect(pair, &QPushButton::clicked, this, [this] { model_.startPairing(); });
    empty_->addWidget(pair, Qt::AlignHCenter);
    layout->addWidget(empty_);

    scroll_ = ScrollAreas::vertical(this);
    rows_ = ScrollAreas::makeRowList(*scroll_, QStringLiteral("phonesList"), 6);
    layout->addWidget(scroll_);

    connect(&model_, &AppModel::libraryChanged, this, &PhonesView::refresh);
    tick_.setInterval(60'000);
    connect(&tick_, &QTimer::timeout, this, &PhonesView::refresh);
    tick_.start();
    refresh();
}

std::vector<PairedDevice> PhonesView::ordered(std::vector<PairedDevice> devices) {
    std::stable_sort(devices.begin(), devices.end(), [](const PairedDevice& a, const PairedDevice& b) {
        return a.lastSent.value_or(a.paired) > b.lastSent.value_or(b.paired);
    });
    return devices;
}

void PhonesView::refresh() {
    const std::vector<PairedDevice> devices = ordered(model_.library().devices);
    empty_->setVisible(devices.empty());
    scroll_->setVisible(!devices.empty());

    std::set<std::string> present;
    for (const PairedDevice& device : devices) {
        present.insert(device.id);
    }
    for (auto it = rowsByID_.begin(); it != rowsByID_.end();) {
        if (present.contains(it->first)) {
            ++it;
            continue;
        }
        // Deleted later: the phone may have gone through this very row's "Remove" button.
        rows_->removeWidget(it->second);
        it->second->hide();
        it->second->deleteLater();
        it = rowsByID_.erase(it);
    }
    QWidget* list = scroll_->widget();
    for (int index = 0; index < static_cast<int>(devices.size()); ++index) {
        const PairedDevice& device = devices[static_cast<std::size_t>(index)];
        DeviceRow*& row = rowsByID_[device.id];
        if (row) {
            row->setDevice(device);
            rows_->removeWidget(row);
        } else {
            row = new DeviceRow(model_, device, list);
        }
        rows_->insertWidget(index, row);
    }
}

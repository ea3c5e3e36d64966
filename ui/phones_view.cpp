#include "ui/phones_view.h"

#include "app/app_model.h"
#include "ui/device_row.h"
#include "ui/scroll_areas.h"
#include "ui/symbol_label.h"
#include "ui/theme.h"

#include <QEvent>
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

    empty_ = new QWidget(this);
    empty_->setObjectName(QStringLiteral("emptyState"));
    auto* emptyLayout = new QVBoxLayout(empty_);
    emptyLayout->setSpacing(8);
    emptyLayout->addStretch(1);
    emptyLayout->addWidget(new SymbolLabel(QStringLiteral("iphone"), 40, SymbolLabel::Tone::dimmed, empty_),
                           0, Qt::AlignHCenter);
    auto* title = new QLabel(QStringLiteral("No phones paired"), empty_);
    title->setObjectName(QStringLiteral("emptyTitle"));
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    title->setAlignment(Qt::AlignHCenter);
    emptyLayout->addWidget(title);
    auto* text =
        new QLabel(QStringLiteral("Pair your phone once. After that you send to this Mac from a Tesk icon "
                                  "on its Home Screen, with no scanning."),
                   empty_);
    text->setObjectName(QStringLiteral("emptyText"));
    text->setWordWrap(true);
    text->setAlignment(Qt::AlignHCenter);
    text->setMaximumWidth(360);
    emptyLayout->addWidget(text, 0, Qt::AlignHCenter);
    auto* pair = new QPushButton(QStringLiteral("Pair a phone"), empty_);
    pair->setObjectName(QStringLiteral("pairPhone"));
    connect(pair, &QPushButton::clicked, this, [this] { model_.startPairing(); });
    emptyLayout->addWidget(pair, 0, Qt::AlignHCenter);
    emptyLayout->addStretch(2);
    layout->addWidget(empty_);

    scroll_ = new QScrollArea(this);
    scroll_->setWidgetResizable(true);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* list = new QWidget(scroll_);
    list->setObjectName(QStringLiteral("phonesList"));
    auto* listLayout = new QVBoxLayout(list);
    listLayout->setContentsMargins(0, 6, 0, 8);
    listLayout->setSpacing(0);
    rows_ = new QVBoxLayout;
    rows_->setSpacing(0);
    listLayout->addLayout(rows_);
    listLayout->addStretch(1);
    scroll_->setWidget(list);
    ScrollAreas::makeTransparent(*scroll_);
    layout->addWidget(scroll_);

    tintEmptyText();
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

void PhonesView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ApplicationPaletteChange) {
        tintEmptyText();
    }
}

void PhonesView::tintEmptyText() {
    auto* text = empty_->findChild<QLabel*>(QStringLiteral("emptyText"));
    QPalette palette = text->palette();
    palette.setColor(QPalette::WindowText, Theme::current().dimmed);
    text->setPalette(palette);
}

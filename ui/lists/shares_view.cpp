#include "ui/lists/shares_view.h"

#include "app/model/app_model.h"
#include "ui/lists/share_row.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/notice_view.h"
#include "ui/widgets/scroll_areas.h"
#include "ui/widgets/theme.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QVBoxLayout>

namespace {

/// "Active" or "Earlier" above its rows, with how many there are.
class SectionHeader : public QWidget {
public:
    SectionHeader(const QString& title, int count, QWidget* parent)
        : QWidget(parent) {
        setObjectName(QStringLiteral("sectionHeader"));
        auto* layout = new QHBoxLayout(this);
        layout->setContentsMargins(14, 10, 14, 2);
        layout->setSpacing(6);
        auto* titleLabel = new QLabel(title, this);
        titleLabel->setObjectName(QStringLiteral("sectionTitle"));
        Labels::embolden(*titleLabel);
        layout->addWidget(titleLabel);
        auto* countLabel = new QLabel(QString::number(count), this);
        countLabel->setObjectName(QStringLiteral("sectionCount"));
        Labels::tint(*countLabel, Theme::current().dimmed);
        layout->addWidget(countLabel);
        layout->addStretch(1);
    }
};

} // namespace

SharesView::SharesView(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , model_(model) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    empty_ =
        new NoticeView(QStringLiteral("link"), QStringLiteral("No links yet"),
                       QStringLiteral("Select files anywhere and click Share link, or use the QR button on a "
                                      "row. Everything you share is listed here."),
                       this);
    empty_->setObjectName(QStringLiteral("emptyState"));
    empty_->titleLabel()->setObjectName(QStringLiteral("emptyTitle"));
    empty_->textLabel()->setObjectName(QStringLiteral("emptyText"));
    empty_->limitTextWidth(360);
    layout->addWidget(empty_);

    scroll_ = ScrollAreas::vertical(this);
    scroll_->setObjectName(QStringLiteral("sharesScroll"));
    rows_ = ScrollAreas::makeRowList(*scroll_, QStringLiteral("sharesList"), 4);
    layout->addWidget(scroll_);

    connect(&model_, &AppModel::libraryChanged, this, &SharesView::scheduleRefresh);
    connect(&model_, &AppModel::relayChanged, this, &SharesView::scheduleRefresh);
    tick_.setInterval(30'000);
    connect(&tick_, &QTimer::timeout, this, &SharesView::scheduleRefresh);
    tick_.start();
    refresh();
}

void SharesView::scheduleRefresh() {
    if (refreshQueued_) {
        return;
    }
    refreshQueued_ = true;
    QMetaObject::invokeMethod(this, &SharesView::refresh, Qt::QueuedConnection);
}

void SharesView::refresh() {
    refreshQueued_ = false;
    while (QLayoutItem* old = rows_->takeAt(0)) {
        if (QWidget* widget = old->widget()) {
            // Deleted later: the click that led here may still be on its way out of a row's button.
            widget->hide();
            widget->deleteLater();
        }
        delete old;
    }
    const AppModel::ShareHistory history = model_.shareHistory();
    const bool empty = history.active.empty() && history.earlier.empty();
    empty_->setVisible(empty);
    scroll_->setVisible(!empty);
    QWidget* list = scroll_->widget();
    const auto addSection = [&](const QString& title, const std::vector<Share>& shares, bool live) {
        if (shares.empty()) {
            return;
        }
        rows_->addWidget(new SectionHeader(title, static_cast<int>(shares.size()), list));
        for (const Share& share : shares) {
            rows_->addWidget(new ShareRow(model_, share, live, list));
        }
    };
    addSection(QStringLiteral("Active"), history.active, true);
    addSection(QStringLiteral("Earlier"), history.earlier, false);
}

void SharesView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ApplicationPaletteChange) {
        // Rows take their colours when made.
        scheduleRefresh();
    }
}

#include "ui/shares_view.h"

#include "app/app_model.h"
#include "ui/scroll_areas.h"
#include "ui/share_row.h"
#include "ui/symbol_label.h"
#include "ui/theme.h"

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
        QFont bold = titleLabel->font();
        bold.setBold(true);
        titleLabel->setFont(bold);
        layout->addWidget(titleLabel);
        auto* countLabel = new QLabel(QString::number(count), this);
        countLabel->setObjectName(QStringLiteral("sectionCount"));
        QPalette palette = countLabel->palette();
        palette.setColor(QPalette::WindowText, Theme::current().dimmed);
        countLabel->setPalette(palette);
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

    empty_ = new QWidget(this);
    empty_->setObjectName(QStringLiteral("emptyState"));
    auto* emptyLayout = new QVBoxLayout(empty_);
    emptyLayout->setSpacing(8);
    emptyLayout->addStretch(1);
    auto* symbol = new SymbolLabel(QStringLiteral("link"), 40, SymbolLabel::Tone::dimmed, empty_);
    emptyLayout->addWidget(symbol, 0, Qt::AlignHCenter);
    auto* title = new QLabel(QStringLiteral("No links yet"), empty_);
    title->setObjectName(QStringLiteral("emptyTitle"));
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    title->setAlignment(Qt::AlignHCenter);
    emptyLayout->addWidget(title);
    auto* text =
        new QLabel(QStringLiteral("Select files anywhere and click Share link, or use the QR button on a "
                                  "row. Everything you share is listed here."),
                   empty_);
    text->setObjectName(QStringLiteral("emptyText"));
    text->setWordWrap(true);
    text->setAlignment(Qt::AlignHCenter);
    text->setMaximumWidth(360);
    emptyLayout->addWidget(text, 0, Qt::AlignHCenter);
    emptyLayout->addStretch(2);
    layout->addWidget(empty_);

    scroll_ = new QScrollArea(this);
    scroll_->setObjectName(QStringLiteral("sharesScroll"));
    scroll_->setWidgetResizable(true);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* list = new QWidget(scroll_);
    list->setObjectName(QStringLiteral("sharesList"));
    auto* listLayout = new QVBoxLayout(list);
    listLayout->setContentsMargins(0, 4, 0, 8);
    listLayout->setSpacing(0);
    rows_ = new QVBoxLayout;
    rows_->setSpacing(0);
    listLayout->addLayout(rows_);
    listLayout->addStretch(1);
    scroll_->setWidget(list);
    ScrollAreas::makeTransparent(*scroll_);
    layout->addWidget(scroll_);

    tintEmptyText();
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
        tintEmptyText();
        // Rows take their colours when made.
        scheduleRefresh();
    }
}

void SharesView::tintEmptyText() {
    auto* text = empty_->findChild<QLabel*>(QStringLiteral("emptyText"));
    QPalette palette = text->palette();
    palette.setColor(QPalette::WindowText, Theme::current().dimmed);
    text->setPalette(palette);
}

#include "ui/explorer/footer.h"

#include "app/model/app_model.h"
#include "app/model/wording.h"
#include "core/names.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/theme.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <cstdint>

Footer::Footer(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , summary_(new QLabel(this))
    , hint_(new QLabel("Drop files anywhere · Ctrl+V pastes links and notes", this)) {
    setObjectName("footer");
    summary_->setObjectName("footerSummary");
    hint_->setObjectName("footerHint");
    setFixedHeight(30);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 0, 12, 0);
    layout->addWidget(summary_);
    layout->addStretch(1);
    layout->addWidget(hint_);

    // rows() depends on the library, the selection and the search.
    connect(&model_, &AppModel::libraryChanged, this, &Footer::refresh);
    connect(&model_, &AppModel::selectionChanged, this, &Footer::refresh);
    connect(&model_, &AppModel::searchChanged, this, &Footer::refresh);
    connect(&model_, &AppModel::inspectingChanged, this, &Footer::refresh);
    applyTheme();
    refresh();
}

QString Footer::summary() const {
    return summary_->text();
}

bool Footer::showsHint() const {
    return !hint_->isHidden();
}

void Footer::refresh() {
    const std::vector<ListRow> rows = model_.rows();
    QString text = rows.empty() ? QString("Empty")
                                : QString::fromStdString(Wording::counted(
                                      static_cast<std::int64_t>(rows.size()), "item", "items"));
    std::int64_t bytes = 0;
    for (const ListRow& row : rows) {
        if (const auto* item = std::get_if<Item>(&row.content); item && item->kind == ItemKind::file) {
            bytes += item->size;
        }
    }
    if (bytes > 0) {
        text += " · " + QString::fromStdString(Names::size(bytes));
    }
    summary_->setText(text);
    hint_->setHidden(model_.inspecting().has_value());
}

void Footer::applyTheme() {
    for (QLabel* label : {summary_, hint_}) {
        Labels::tint(*label, Theme::current().dimmed);
    }
}

void Footer::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ApplicationPaletteChange) {
        applyTheme();
    }
    QWidget::changeEvent(event);
}

void Footer::paintEvent(QPaintEvent*) {
    const Theme theme = Theme::current();
    QPainter painter(this);
    painter.fillRect(rect(), theme.window);
    painter.fillRect(QRect(0, 0, width(), 1), theme.line);
}

#include "ui/shell/popover_root.h"

#include "ui/explorer/explorer_pane.h"
#include "ui/shell/toast_capsule.h"
#include "ui/sidebar/sidebar.h"
#include "ui/widgets/theme.h"

#include <QHBoxLayout>
#include <QPainter>

namespace {

class Divider : public QWidget {
public:
    explicit Divider(QWidget* parent)
        : QWidget(parent) {
        setFixedWidth(1);
    }

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), Theme::current().line); }
};

} // namespace

PopoverRoot::PopoverRoot(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , sidebar_(new Sidebar(model, this))
    , explorer_(new ExplorerPane(model, this))
    , toast_(new ToastCapsule(model, this)) {
    setObjectName(QStringLiteral("PopoverRoot"));
    sidebar_->setFixedWidth(sidebarWidth);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(sidebar_);
    layout->addWidget(new Divider(this));
    layout->addWidget(explorer_, 1);
    resize(780, 540);
}

void PopoverRoot::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    toast_->place(rect());
}

#include "ui/explorer/empty_list_view.h"

#include "app/model/app_model.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/symbol_label.h"

#include <QLabel>
#include <QVBoxLayout>

EmptyListView::EmptyListView(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , symbol_(new SymbolLabel("tray.and.arrow.down", 34, SymbolLabel::Tone::dimmed, this))
    , title_(new QLabel(this))
    , body_(new QLabel(this)) {
    setObjectName("emptyListView");
    title_->setObjectName("emptyTitle");
    body_->setObjectName("emptyBody");
    Labels::embolden(*title_, 1.15);
    title_->setAlignment(Qt::AlignCenter);
    body_->setAlignment(Qt::AlignCenter);
    body_->setWordWrap(true);
    body_->setFixedWidth(320);
    body_->setForegroundRole(QPalette::PlaceholderText);

    auto* layout = new QVBoxLayout(this);
    layout->addStretch(1);
    layout->addWidget(symbol_, 0, Qt::AlignHCenter);
    layout->addSpacing(8);
    layout->addWidget(title_, 0, Qt::AlignHCenter);
    layout->addWidget(body_, 0, Qt::AlignHCenter);
    layout->addStretch(1);

    connect(&model_, &AppModel::searchChanged, this, &EmptyListView::refresh);
    connect(&model_, &AppModel::selectionChanged, this, &EmptyListView::refresh);
    refresh();
}

QString EmptyListView::symbol() const {
    return symbol_->symbol();
}

QString EmptyListView::title() const {
    return title_->text();
}

QString EmptyListView::body() const {
    return body_->text();
}

void EmptyListView::refresh() {
    showTexts();
    // A wrapped label centred in a layout is given one line unless it asks for the height of all of them.
    body_->setMinimumHeight(body_->heightForWidth(body_->width()));
}

void EmptyListView::showTexts() {
    static const QString dropBody = "Drop files here, or paste links and notes with Ctrl+V.";
    if (!model_.search().empty()) {
        symbol_->setSymbol("magnifyingglass");
        title_->setText("Nothing called “" + QString::fromStdString(model_.search()) + "”");
        body_->setText("Search looks at every folder.");
        return;
    }
    switch (model_.selection().kind()) {
    case SidebarSelection::Kind::received:
        symbol_->setSymbol("arrow.down.to.line");
        title_->setText("Nothing received yet");
        body_->setText("Pair your phone under Phones to send with one tap, or click Receive from phone for a "
                       "one-off QR code.");
        break;
    case SidebarSelection::Kind::folder:
        symbol_->setSymbol("tray.and.arrow.down");
        title_->setText("This folder is empty");
        body_->setText(dropBody);
        break;
    // Shared links and Phones show their own views instead of this one; All files' wording fits them.
    case SidebarSelection::Kind::all:
    case SidebarSelection::Kind::shared:
    case SidebarSelection::Kind::phones:
        symbol_->setSymbol("tray.and.arrow.down");
        title_->setText("No files yet");
        body_->setText(dropBody);
        break;
    }
}

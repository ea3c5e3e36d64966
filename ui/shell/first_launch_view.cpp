#include "ui/shell/first_launch_view.h"

#include "ui/shell/step_card.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/symbol_label.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

FirstLaunchView::FirstLaunchView(QWidget* parent)
    : QWidget(parent) {
    setObjectName("firstLaunchView");
    auto* title = new QLabel("Drop files here", this);
    title->setObjectName("welcomeTitle");
    Labels::embolden(*title, 1.5);
    auto* line = new QLabel("Or add them with +. Paste links and notes with Ctrl+V.", this);
    line->setObjectName("welcomeLine");
    line->setForegroundRole(QPalette::PlaceholderText);
    line->setWordWrap(true);
    line->setAlignment(Qt::AlignCenter);
    // A wrapped label centred in a layout gets no room for its second line unless its width is fixed.
    line->setFixedWidth(440);
    line->setMinimumHeight(line->heightForWidth(440));

    auto* steps = new QHBoxLayout;
    steps->setSpacing(12);
    steps->addStretch(1);
    const std::pair<const char*, const char*> cards[] = {
        {"1 · Add", "Files, folders, links and notes. Make folders for each project."},
        {"2 · Share", "Every item and folder gets a QR code and a link."},
        {"3 · Open anywhere", "iPhone, Android, Windows. Just a browser on the same Wi‑Fi."},
    };
    for (const auto& [cardTitle, cardText] : cards) {
        steps->addWidget(new StepCard(cardTitle, cardText, this));
    }
    steps->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->addStretch(1);
    layout->addWidget(new SymbolLabel("arrow.down.to.line.compact", 44, SymbolLabel::Tone::accent, this), 0,
                      Qt::AlignHCenter);
    layout->addSpacing(10);
    layout->addWidget(title, 0, Qt::AlignHCenter);
    layout->addWidget(line, 0, Qt::AlignHCenter);
    layout->addSpacing(22);
    layout->addLayout(steps);
    layout->addStretch(1);
}

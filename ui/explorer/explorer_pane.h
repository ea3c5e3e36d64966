#pragma once

#include "ui/explorer/list_drop_delegate.h"

#include <QPointer>
#include <QWidget>
#include <optional>

class AppModel;
class ListHeader;
class DropOverlay;
class EmptyListView;
class FileListView;
class FirstLaunchView;
class Footer;
class PairingPanel;
class PhonesView;
class QPropertyAnimation;
class QStackedLayout;
class QStackedWidget;
class SelectionBar;
class ShareInspector;
class SharesView;
class Toolbar;

/// Everything right of the sidebar: the toolbar, the content the selection calls for (the list, the
/// shares, the phones or the welcome view), the bar under the list, the drop overlay, and the column on
/// the right that holds the share inspector or the pairing panel.
class ExplorerPane : public QWidget {
    Q_OBJECT

public:
    /// The right-hand column's width, its divider included.
    static constexpr int columnWidth = 269;

    explicit ExplorerPane(AppModel& model, QWidget* parent = nullptr);

    /// Set while an outside drag hovers over the content: the number of files it carries.
    void setDropCount(std::optional<int> count);
    std::optional<int> dropCount() const { return dropCount_; }

    Toolbar& toolbar() const { return *toolbar_; }
    FileListView& list() const { return *list_; }
    ListDropDelegate& drops() { return drops_; }

private:
    void chooseContent();
    void updateColumn();

    QPointer<AppModel> model_;
    std::optional<int> dropCount_;
    ListDropDelegate drops_;
    Toolbar* toolbar_;
    QWidget* content_;
    QStackedLayout* contentStack_;
    SharesView* shares_;
    PhonesView* phones_;
    FirstLaunchView* welcome_;
    QWidget* listColumn_;
    QStackedWidget* listOrEmpty_;
    EmptyListView* empty_;
    QWidget* listArea_;
    ListHeader* header_;
    FileListView* list_;
    SelectionBar* selectionBar_;
    Footer* footer_;
    DropOverlay* overlay_;
    QWidget* column_;
    QStackedWidget* columnStack_;
    ShareInspector* inspector_;
    PairingPanel* pairing_;
    QPropertyAnimation* slide_;
};

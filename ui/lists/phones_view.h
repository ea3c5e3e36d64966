#pragma once

#include "app/model/app_model.h"

#include <QTimer>
#include <QWidget>
#include <map>
#include <string>
#include <vector>

class DeviceRow;
class NoticeView;
class QScrollArea;
class QVBoxLayout;

/// The explorer's content for "Phones": the paired phones, most recently active first, or an invitation
/// to pair one.
class PhonesView : public QWidget {
    Q_OBJECT

public:
    PhonesView(AppModel& model, QWidget* parent = nullptr);

    /// Newest first by last send, or by pairing time for a phone that never sent anything; phones with
    /// equal times keep their order.
    static std::vector<PairedDevice> ordered(std::vector<PairedDevice> devices);

    /// Shows the phones the library holds now. Rows are kept per phone, so a rename in progress
    /// survives changes to other phones.
    void refresh();

private:
    AppModel& model_;
    NoticeView* empty_;
    QScrollArea* scroll_;
    QVBoxLayout* rows_;
    std::map<std::string, DeviceRow*> rowsByID_;
    /// Keeps "5 min ago" and the like current.
    QTimer tick_;
};

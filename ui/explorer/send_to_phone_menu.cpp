#include "ui/explorer/send_to_phone_menu.h"

#include "app/model/app_model.h"

#include <QMenu>

SendToPhoneMenu::SendToPhoneMenu(AppModel& model, std::function<std::vector<ShareTarget>()> targets,
                                 QWidget* parent)
    : BarButton("iphone", "Send to", SymbolLabel::Tone::accent, parent)
    , model_(model)
    , targets_(std::move(targets))
    , menu_(new QMenu(this)) {
    setObjectName("sendToButton");
    setToolTip("Send to a paired phone");
    setPopupMode(QToolButton::InstantPopup);
    setMenu(menu_);
    connect(&model_, &AppModel::libraryChanged, this, &SendToPhoneMenu::refresh);
    refresh();
}

void SendToPhoneMenu::refresh() {
    menu_->clear();
    for (const PairedDevice& device : model_.library().devices) {
        const std::string token = device.token;
        menu_->addAction("Send to " + QString::fromStdString(device.name), this, [this, token] {
            if (const auto phone = model_.library().device(token)) {
                model_.send(targets_(), *phone);
            }
        });
    }
    setVisible(!model_.library().devices.empty());
}

#include "app/startup/headless_shell.h"

#include "app/system/notifier.h"
#include "server/server_event.h"

#include <iostream>

HeadlessShell::HeadlessShell(std::optional<std::string> iconPNG, bool printEvents)
    : iconPNG_(std::move(iconPNG))
    , printEvents_(printEvents) {}

void HeadlessShell::observe(const ServerEvent& event) {
    if (!printEvents_) {
        return;
    }
    // Events come from connection threads; one whole line each.
    std::lock_guard guard(printLock_);
    if (const auto* paired = std::get_if<ServerEvent::Paired>(&event.value)) {
        std::cout << "Paired: " << paired->device.name << std::endl;
    } else if (const auto* received = std::get_if<ServerEvent::Received>(&event.value)) {
        std::cout << "Received \"" << received->item.name << "\" from " << received->from << std::endl;
    }
}

void HeadlessShell::notify(const std::string& title, const std::string& body,
                           const Notifier::Target& target) {
    Notifier::post(title, body, target);
}

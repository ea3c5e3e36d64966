#pragma once

#include "support/temp_dir.h"

#include <QProcess>
#include <QString>
#include <fstream>
#include <map>
#include <string>

/// A private message bus, so tests can stand in for system and session services without touching the
/// machine's own buses. Only the services given here can be started on demand, never the machine's, so
/// what a test finds on the bus does not depend on what is installed.
class PrivateBus {
public:
    /// `activatable` maps a bus name to the command the bus runs when something calls that name.
    explicit PrivateBus(const std::map<std::string, std::string>& activatable = {}) {
        const auto services = dir_.path() / "services";
        std::filesystem::create_directories(services);
        for (const auto& [name, command] : activatable) {
            std::ofstream(services / (name + ".service"))
                << "[D-BUS Service]\nName=" << name << "\nExec=" << command << "\n";
        }
        const auto config = dir_.path() / "bus.conf";
        std::ofstream(config) << "<busconfig>\n"
                                 "  <type>session</type>\n"
                                 "  <listen>unix:path="
                              << (dir_.path() / "bus").string()
                              << "</listen>\n"
                                 "  <auth>EXTERNAL</auth>\n"
                                 "  <servicedir>"
                              << services.string()
                              << "</servicedir>\n"
                                 "  <policy context=\"default\">\n"
                                 "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                                 "    <allow eavesdrop=\"true\"/>\n"
                                 "    <allow own=\"*\"/>\n"
                                 "  </policy>\n"
                                 "</busconfig>\n";
        daemon_.start(QStringLiteral("dbus-daemon"),
                      {QStringLiteral("--config-file=") + QString::fromStdString(config.string()),
                       QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
                       QStringLiteral("--print-address=1")});
        if (daemon_.waitForStarted() && daemon_.waitForReadyRead(5000)) {
            address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
        }
    }
    ~PrivateBus() {
        daemon_.kill();
        daemon_.waitForFinished();
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    /// Empty when the daemon did not start.
    const QString& address() const { return address_; }

private:
    TempDir dir_;
    QProcess daemon_;
    QString address_;
};

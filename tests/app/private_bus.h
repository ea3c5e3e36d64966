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
                << "[D-BUS Service]\nName=" << name << "\nExec=" << command;
        }
        std::ofstream(dir_.path() / "bus.conf")
            << "<busconfig><type>session</type><listen>unix:path=" << (dir_.path() / "bus").string()
            << "</listen><auth>EXTERNAL</auth><servicedir>" << services.string()
            << R"(</servicedir><policy context="default"><allow send_destination="*" eavesdrop="true"/>)"
            << R"(<allow eavesdrop="true"/><allow own="*"/></policy></busconfig>)";
        daemon_.start("dbus-daemon",
                      {"--config-file=" + QString::fromStdString((dir_.path() / "bus.conf").string()),
                       "--nofork", "--nopidfile", "--print-address=1"});
        if (daemon_.waitForStarted() && daemon_.waitForReadyRead(5000)) {
            address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
        }
    }
    ~PrivateBus() {
        daemon_.kill();
        daemon_.waitForFinished();
    }

    /// Empty when the daemon did not start.
    const QString& address() const { return address_; }

private:
    TempDir dir_;
    QProcess daemon_;
    QString address_;
};

#pragma once

#include <QString>
#include <QStringList>

class QProcess;

/// Starting other programs. Tesk blocks its stop signals in every thread and ignores SIGPIPE, and a
/// program inherits both from the thread that starts it; so every program Tesk starts goes through here
/// and begins with no signal blocked and every signal at its default action, as a program expects.
namespace ChildProcess {

/// Makes `process` start its program with the default signal mask and actions.
void useDefaultSignals(QProcess& process);

/// Starts `program`, looked up on PATH, with `arguments` in a session of its own, with the default
/// signal mask and actions; it outlives Tesk and is never waited for. False when it cannot be found or
/// started.
bool startDetached(const QString& program, const QStringList& arguments);

} // namespace ChildProcess

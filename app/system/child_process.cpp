#include "app/system/child_process.h"

#include <QProcess>
#include <QStandardPaths>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <linux/close_range.h>
#include <string>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace ChildProcess {
namespace {

/// Runs in the child between fork and exec, so it calls only async-signal-safe functions.
void resetSignals() {
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    for (int signal = 1; signal < NSIG; ++signal) {
        // SIGKILL and SIGSTOP refuse, which is fine: they cannot be changed anyway.
        ::sigaction(signal, &fallback, nullptr);
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

} // namespace

void useDefaultSignals(QProcess& process) {
    process.setChildProcessModifier(&resetSignals);
}

bool startDetached(const QString& program, const QStringList& arguments) {
    const QString found = QStandardPaths::findExecutable(program);
    if (found.isEmpty()) {
        return false;
    }
    // Everything the children need is made before forking: between fork and exec only async-signal-safe
    // calls are allowed.
    std::vector<std::string> words{found.toStdString()};
    for (const QString& argument : arguments) {
        words.push_back(argument.toStdString());
    }
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    // A failed start is reported through this pipe; a successful exec closes it silently.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        return false;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(report[0]);
        resetSignals();
        ::setsid();
        // The middle process exits at once, so the program is adopted by init and never left a zombie.
        const pid_t grandchild = ::fork();
        if (grandchild == 0) {
            // Asio's sockets are not close-on-exec: a browser or file manager started here would otherwise
            // hold the server's port after Tesk quits. A kernel without close_range leaves them as before.
            ::syscall(SYS_close_range, 3U, ~0U, CLOSE_RANGE_CLOEXEC);
            ::execve(argv[0], argv.data(), environ);
        }
        if (grandchild > 0) {
            ::_exit(0);
        }
        // A failed exec in the grandchild, or a failed fork here: either way the pipe carries why.
        const int error = errno;
        [[maybe_unused]] const auto written = ::write(report[1], &error, sizeof error);
        ::_exit(127);
    }
    ::close(report[1]);
    if (child < 0) {
        ::close(report[0]);
        return false;
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t got = 0;
    do {
        got = ::read(report[0], &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    ::close(report[0]);
    return got == 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace ChildProcess

// The process the crash-safety test kills: it applies the crash sequence to a library from a given
// operation on, for ever, writing the count of operations done to stdout after each one returned.
//
// Usage: resilience_crash_child LIBRARY SCRATCH FIRST-OPERATION
#include "crash_sequence.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/prctl.h>
#include <unistd.h>

int main(int argc, char** argv) {
    // Never outlive the test, whatever happens to it.
    if (argc != 4 || ::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() == 1) {
        return 2;
    }
    try {
        LibraryStore store(argv[1]);
        for (int k = std::atoi(argv[3]);; ++k) {
            CrashSequence::apply(store, k, argv[2]);
            // One write per report: the line is in the pipe, whole, before the next operation starts.
            const std::string line = std::to_string(k + 1) + "\n";
            if (::write(STDOUT_FILENO, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
                return 1;
            }
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "crash child: %s\n", error.what());
        return 1;
    }
}

// The process the crash-safety test kills: it opens a library and applies the crash sequence from a
// given operation on, for ever, writing the number of operations done to stdout after each one returned.
//
// Usage: resilience_crash_child LIBRARY SCRATCH FIRST-OPERATION
#include "crash_sequence.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <sys/prctl.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s LIBRARY SCRATCH FIRST-OPERATION\n", argv[0]);
        return 2;
    }
    // Never outlive the test, whatever happens to it.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() == 1) {
        return 1;
    }
    try {
        LibraryStore store(argv[1]);
        const std::filesystem::path scratch = argv[2];
        for (int k = std::atoi(argv[3]);; ++k) {
            CrashSequence::apply(store, k, scratch);
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

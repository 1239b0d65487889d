#include "cli/signals.h"

#include <signal.h>
#include <unistd.h>

#include "cli/cli.h"
#include "core/file/atomic_write.h"

namespace qm::cli {

namespace {

// Async-signal-safe only: unlink and _exit. Output still buffered is dropped, as a stopped
// tool's output must be anyway; the files it has written are whole, the one it was writing
// is not there.
extern "C" void onStopSignal(int signal) {
    removePendingTemporaries();
    _exit(signal == SIGINT ? kExitInterrupted : kExitTerminated);
}

}  // namespace

void installStopHandlers() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    // Both signals wait while one is handled, so the handler runs once.
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    for (const int signal : {SIGINT, SIGTERM}) {
        struct sigaction previous {};
        // A signal ignored by the caller (nohup, a shell's background job) stays ignored.
        if (sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
        sigaction(signal, &action, nullptr);
    }
}

}  // namespace qm::cli

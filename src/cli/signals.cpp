#include "cli/signals.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "cli/cli.h"
#include "core/file/atomic_write.h"

namespace qm::cli {

namespace {

// The extra file to remove: the path, then the flag that publishes it.
char gCleanupPath[4096];
std::atomic<bool> gCleanupSet{false};
static_assert(std::atomic<bool>::is_always_lock_free);

// Async-signal-safe only: unlink and _exit. Output still buffered is dropped, as a stopped
// tool's output must be anyway; the files it has written are whole, the one it was writing
// is not there.
extern "C" void onStopSignal(int signal) {
    removePendingTemporaries();
    if (gCleanupSet.load()) unlink(gCleanupPath);
    _exit(signal == SIGINT ? kExitInterrupted : kExitTerminated);
}

// The signal that asked a render to stop, and the stop request it sets. Both are lock-free
// atomics, which a signal handler may store to.
std::atomic<int> gStopSignal{0};
std::atomic<std::atomic<bool>*> gStopRequest{nullptr};
// The handlers before ours, which a second signal reaches.
struct sigaction gPreviousInt {};
struct sigaction gPreviousTerm {};
static_assert(std::atomic<int>::is_always_lock_free &&
              std::atomic<std::atomic<bool>*>::is_always_lock_free);

extern "C" void onStopRequestSignal(int signal) {
    gStopSignal.store(signal);
    if (std::atomic<bool>* stop = gStopRequest.load()) stop->store(true);
    // sigaction is async-signal-safe: from now on the tool's own handling applies.
    sigaction(SIGINT, &gPreviousInt, nullptr);
    sigaction(SIGTERM, &gPreviousTerm, nullptr);
}

}  // namespace

StopRequestSignals::StopRequestSignals(std::atomic<bool>& stopRequest) {
    gStopSignal.store(0);
    gStopRequest.store(&stopRequest);
    struct sigaction action {};
    action.sa_handler = onStopRequestSignal;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, nullptr, &gPreviousInt);
    sigaction(SIGTERM, nullptr, &gPreviousTerm);
    // A signal ignored by the caller (nohup, a shell's background job) stays ignored.
    if (gPreviousInt.sa_handler != SIG_IGN) sigaction(SIGINT, &action, nullptr);
    if (gPreviousTerm.sa_handler != SIG_IGN) sigaction(SIGTERM, &action, nullptr);
}

StopRequestSignals::~StopRequestSignals() {
    sigaction(SIGINT, &gPreviousInt, nullptr);
    sigaction(SIGTERM, &gPreviousTerm, nullptr);
    gStopRequest.store(nullptr);
}

int StopRequestSignals::received() {
    return gStopSignal.load();
}

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

void setStopCleanupPath(const char* path) {
    gCleanupSet.store(false);
    if (path == nullptr || std::strlen(path) >= sizeof gCleanupPath) return;
    std::strcpy(gCleanupPath, path);
    gCleanupSet.store(true);
}

}  // namespace qm::cli

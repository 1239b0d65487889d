// The tool's answer to SIGINT and SIGTERM: the temporary file of a write in progress is
// removed (and the file set with setStopCleanupPath), and the tool exits at once with 130 or
// 143.
#pragma once

#include <atomic>

namespace qm::cli {

void installStopHandlers();

// A file the stop handlers remove too while it is set (a video an encoder is writing); none
// (nullptr) clears it. The path is copied; one longer than 4095 bytes is not kept.
void setStopCleanupPath(const char* path);

// While it lives, the first SIGINT or SIGTERM sets the stop request instead of ending the tool,
// so that a render can stop between two steps and say where it goes on; a second signal
// reaches the handling the tool had before. A signal ignored by the caller stays ignored.
class StopRequestSignals {
public:
    explicit StopRequestSignals(std::atomic<bool>& stopRequest);
    ~StopRequestSignals();
    StopRequestSignals(const StopRequestSignals&) = delete;
    StopRequestSignals& operator=(const StopRequestSignals&) = delete;

    // The signal that set the request since the last one was made, 0 for none; still known
    // after it has ended.
    static int received();
};

}  // namespace qm::cli

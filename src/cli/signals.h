// The tool's answer to SIGINT and SIGTERM: the temporary file of a write in progress is
// removed (and the file set with setStopCleanupPath), and the tool exits at once with 130 or
// 143.
#pragma once

namespace qm::cli {

void installStopHandlers();

// A file the stop handlers remove too while it is set (a video an encoder is writing); none
// (nullptr) clears it. The path is copied; one longer than 4095 bytes is not kept.
void setStopCleanupPath(const char* path);

}  // namespace qm::cli

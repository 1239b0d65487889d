// The tool's answer to SIGINT and SIGTERM: the temporary file of a write in progress is
// removed, and the tool exits at once with 130 or 143.
#pragma once

namespace qm::cli {

void installStopHandlers();

}  // namespace qm::cli

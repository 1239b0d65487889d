// The tool's inputs: files named on the command line, standard input for "-", each read
// within the limits of its kind, and the reasons given when one cannot be read.
#include <unistd.h>

#include <cstring>

#include "cli/commands.h"

namespace qm::cli {

std::string describe(ReadStatus status, const TextLimits& limits, int systemError) {
    std::string text;
    switch (status) {
        case ReadStatus::Ok:
            return "no error";
        case ReadStatus::CannotOpen:
            text = "cannot open the file";
            break;
        case ReadStatus::NotRegular:
            text = "not a regular file (a folder, a device, a pipe or a socket)";
            break;
        case ReadStatus::TooLarge:
            text = "larger than " + std::to_string(limits.maxBytes) + " bytes";
            break;
        case ReadStatus::TooManyLines:
            text = "more than " + std::to_string(limits.maxLines) + " lines";
            break;
        case ReadStatus::NotText:
            text = "not a text file";
            break;
        case ReadStatus::ReadFailed:
            text = "reading failed";
            break;
    }
    if (systemError != 0) text += std::string(" (") + std::strerror(systemError) + ")";
    return text;
}

ReadStatus readInputText(const std::string& name, const TextLimits& limits, std::string& text,
                         int* systemError) {
    if (isStandardStream(name)) return readTextDescriptor(STDIN_FILENO, limits, text, systemError);
    return readTextFile(name, limits, text, systemError);
}

LoadResult loadAttractorInput(Parser& parser, const std::string& name, int* systemError) {
    std::string text;
    const ReadStatus status = readInputText(
        name, TextLimits{kMaxAttractorFileBytes, kMaxAttractorFileLines}, text, systemError);
    return loadAttractorText(parser, status, text);
}

}  // namespace qm::cli

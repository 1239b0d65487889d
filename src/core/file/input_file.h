// Reading input files without trusting them: every reader of the programs (attractor files,
// colour maps, language modules, scenes, render states) opens its file here. A file is opened
// without blocking, must be a regular file (a folder, a device, a pipe or a socket is refused at
// once, before anything is read from it), and costs bounded memory and time: a text by a cap in
// bytes and in lines, a binary file by its size, known before the first byte is read.
//
//   std::string text;
//   switch (readTextFile(path, TextLimits{1 << 20}, text)) { ... }
//
//   InputFile file;
//   if (file.open(path) == ReadStatus::Ok && declared <= file.size()) file.read(buffer, declared);
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <string>
#include <string_view>

namespace qm {

// What reading an input found.
enum class ReadStatus : std::uint8_t {
    Ok,
    CannotOpen,    // missing, no permission, ... (the system error says which)
    NotRegular,    // a folder, a device, a pipe or a socket: never read
    TooLarge,      // more bytes than allowed
    TooManyLines,  // more lines than allowed
    NotText,       // a NUL byte: no text file has one
    ReadFailed,    // the system failed while reading, or the file is shorter than it said
};
using TextStatus = ReadStatus;

inline constexpr std::size_t kDefaultMaxTextLines = std::size_t{1} << 16;

struct TextLimits {
    std::size_t maxBytes = std::size_t{1} << 20;
    std::size_t maxLines = kDefaultMaxTextLines;  // lines end in '\n'; a last unended line counts
    bool allowNul = false;  // a reader that scans lines itself may take NUL bytes as data
};

// Reads a whole stream into text, consuming at most maxBytes + 1 bytes, so that an endless
// or huge input costs bounded memory and time. No line cap: the caller's stream.
ReadStatus readText(std::istream& in, std::size_t maxBytes, std::string& text);

// Reads a regular file into text within the limits. Nothing is read from anything else, and
// opening never blocks (a pipe with no writer is refused at once). On CannotOpen and
// ReadFailed, systemError (when given) receives the errno of the failing step.
ReadStatus readTextFile(const std::filesystem::path& path, const TextLimits& limits,
                        std::string& text, int* systemError = nullptr);
// With the default line cap.
ReadStatus readTextFile(const std::filesystem::path& path, std::size_t maxBytes, std::string& text);

// Reads an already open descriptor to its end within the limits: standard input given as
// "-", which may be a pipe or a terminal as well as a file. Blocks while the writer is silent,
// as reading a pipe must, but never reads more than maxBytes + 1 bytes.
ReadStatus readTextDescriptor(int fd, const TextLimits& limits, std::string& text,
                              int* systemError = nullptr);

// Whether text holds more than maxLines lines (see TextLimits).
bool exceedsLines(std::string_view text, std::size_t maxLines);

// A binary input: a regular file opened for reading, its size known before reading, so that a
// reader checks what a header declares against the file before it allocates anything.
class InputFile {
public:
    InputFile() = default;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile();

    // Opens a regular file as readTextFile does; any other kind of file is refused unread.
    ReadStatus open(const std::filesystem::path& path);
    // The file's size when it was opened.
    std::uint64_t size() const { return size_; }
    // Bytes read so far.
    std::uint64_t position() const { return position_; }
    // Exactly n bytes, or ReadFailed (a file shorter than its size said, an I/O error). A read
    // beyond the size the file had when opened fails without reading.
    ReadStatus read(void* buffer, std::size_t n);
    // The rest of the file, when it holds at most maxBytes; TooLarge otherwise.
    ReadStatus readRest(std::string& bytes, std::size_t maxBytes);
    int systemError() const { return systemError_; }
    void close();

private:
    int fd_ = -1;
    std::uint64_t size_ = 0;
    std::uint64_t position_ = 0;
    int systemError_ = 0;
};

}  // namespace qm

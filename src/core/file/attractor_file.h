// The attractor parameter file (.qmattr): the Parser template that describes it, and saving
// and loading an attractor through that template.
//
//   attractor {
//       type lorenz                          (lines inside the block start with a tab)
//       parameters <10, 14.5, 2.5, 0.01>
//   }
//
// The keywords are string-table texts. A file is text: a NUL byte anywhere, or more than
// kMaxAttractorFileBytes, makes it unreadable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <memory>

#include "core/attractor/attractor.h"
#include "core/file/parser.h"

namespace qm {

inline constexpr std::size_t kMaxAttractorFileBytes = std::size_t{1} << 20;
inline constexpr std::size_t kMaxAttractorFileLines = kDefaultMaxTextLines;

enum class FileStatus : std::uint8_t {
    Ok,
    CannotOpen,    // the file is missing or cannot be opened for reading
    ReadError,     // not text, truncated, or not as the template describes
    TooLarge,      // more than kMaxAttractorFileBytes
    TooManyLines,  // more than kMaxAttractorFileLines
    NotRegular,    // a folder, a device, a pipe or a socket: never read, never replaced
    WriteFailed,   // the file or stream could not be written completely
    InvalidValue,  // a parameter is not finite: no file could carry it and read back
    NewerVersion,  // a scene file of a later format than this program reads
    NoScene,       // an image that carries no scene
};

struct FileResult {
    FileStatus status = FileStatus::Ok;
    int systemError = 0;  // errno of a failed write, when the system gave one

    explicit operator bool() const { return status == FileStatus::Ok; }
};

// A load makes a new attractor or gives the reason why it could not.
struct LoadResult {
    std::unique_ptr<Attractor> attractor;  // set exactly when status is Ok
    FileStatus status = FileStatus::ReadError;
    // For a ReadError: what was wrong, and the line (from 1) where the reading stopped; 0 when
    // no line applies.
    ParseError reason = ParseError::None;
    std::int32_t line = 0;

    explicit operator bool() const { return attractor != nullptr; }
};

// The template: an "attractor" block (once) with "type", "order", "matrices",
// "coefficients" and "parameters" (four values per line), in the order they are written.
std::unique_ptr<Parser> makeAttractorParser();

// Writes the attractor's kind, its count (IFS maps, Sprott order), the IFS coefficient mode
// and every parameter value in list order. The file is replaced only once it is complete.
FileResult saveAttractor(Parser& parser, const Attractor& attractor,
                         const std::filesystem::path& path);
FileResult writeAttractor(Parser& parser, const Attractor& attractor, std::ostream& out);

// The "attractor" block of a parser that holds the template: fillAttractor resets the whole
// parser and fills the block from the attractor; buildAttractor makes the attractor that a
// block read describes (as loadAttractor does).
FileStatus fillAttractor(Parser& parser, const Attractor& attractor);
LoadResult buildAttractor(const Parser& parser);

// Reads a file into a new attractor. Counts and integer parameters are clamped to their
// ranges; a missing count gives 4 IFS maps or order 2; missing parameters keep their
// defaults and extra values are ignored. Nothing but the parser changes on failure.
LoadResult loadAttractor(Parser& parser, const std::filesystem::path& path);
// As loadAttractor; consumes at most kMaxAttractorFileBytes + 1 bytes of the stream.
LoadResult readAttractor(Parser& parser, std::istream& in);
// As loadAttractor, for text already read (readTextFile, readTextDescriptor) with status.
LoadResult loadAttractorText(Parser& parser, ReadStatus status, const std::string& text);
// The file status of a text reader's status.
FileStatus fileStatusOf(ReadStatus status);

}  // namespace qm

// Folders of numbered files (0001.qmattr, 0002.qmattr, ...), as a search or a gallery writes
// its finds: numbering goes on after the highest number present, and no file is ever replaced.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "core/file/atomic_write.h"

namespace qm {

// The largest number of a file named as numberedFileName names them (any count of digits,
// then extension, e.g. ".qmattr") in folder; 0 when there is none or the folder cannot be
// listed.
std::int64_t highestFileNumber(const std::filesystem::path& folder, std::string_view extension);

// The name of file number n: at least four digits, then extension ("0042.qmattr").
std::string numberedFileName(std::int64_t n, std::string_view extension);

// Writes bytes as file number n in folder, or, when that name is taken (another program
// writing into the same folder), under the next free number. Never replaces a file. n is
// left at the number used; path at the file written.
WriteResult writeNumberedFile(const std::filesystem::path& folder, std::int64_t& n,
                              std::string_view extension, std::string_view bytes,
                              std::filesystem::path& path);

// The numbers of the files named as numberedFileName names them with that extension, in
// increasing order; empty when the folder cannot be listed.
std::vector<std::int64_t> fileNumbers(const std::filesystem::path& folder,
                                      std::string_view extension);

// A find kept as two files of one number (0007.qmscene beside its thumbnail 0007.png).
struct NumberedPair {
    std::string_view extension;
    std::string_view bytes;
};

// Writes first and second under the first number from n on that is free for both, so that
// a pair never shares its number with another file of either extension; a name taken meanwhile
// passes the pair on to the next number, and no file is ever replaced. n is left at the number
// used, the paths at the files written; on failure firstPath names the file that failed, and
// nothing of the pair is left behind.
WriteResult writeNumberedPair(const std::filesystem::path& folder, std::int64_t& n,
                              const NumberedPair& first, const NumberedPair& second,
                              std::filesystem::path& firstPath, std::filesystem::path& secondPath);

}  // namespace qm

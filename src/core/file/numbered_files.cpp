#include "core/file/numbered_files.h"

#include <algorithm>
#include <charconv>
#include <system_error>

namespace qm {

namespace {

// Beyond this a name is not one of ours (and no count of finds gets there).
constexpr std::size_t kMaxDigits = 12;
// Names tried after a taken one before giving up.
constexpr int kMaxSkips = 10000;

}  // namespace

std::int64_t highestFileNumber(const std::filesystem::path& folder, std::string_view extension) {
    const std::vector<std::int64_t> numbers = fileNumbers(folder, extension);
    return numbers.empty() ? 0 : numbers.back();
}

std::vector<std::int64_t> fileNumbers(const std::filesystem::path& folder,
                                      std::string_view extension) {
    std::vector<std::int64_t> numbers;
    std::error_code ec;
    std::filesystem::directory_iterator it(folder, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() <= extension.size() || !name.ends_with(extension)) continue;
        const std::string_view digits(name.data(), name.size() - extension.size());
        if (digits.size() > kMaxDigits ||
            !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        if (digits.empty()) continue;
        std::int64_t n = 0;
        std::from_chars(digits.data(), digits.data() + digits.size(), n);
        numbers.push_back(n);
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

std::string numberedFileName(std::int64_t n, std::string_view extension) {
    std::string digits = std::to_string(n);
    if (digits.size() < 4) digits.insert(0, 4 - digits.size(), '0');
    digits.append(extension);
    return digits;
}

WriteResult writeNumberedFile(const std::filesystem::path& folder, std::int64_t& n,
                              std::string_view extension, std::string_view bytes,
                              std::filesystem::path& path) {
    WriteResult result;
    for (int skip = 0; skip <= kMaxSkips; ++skip, ++n) {
        path = folder / numberedFileName(n, extension);
        result = writeFileAtomically(path, bytes, Replace::Never);
        // Whatever stands under a name (a file, a folder, ...) makes it taken.
        if (result.status != WriteStatus::Exists && result.status != WriteStatus::NotRegular)
            return result;
    }
    return result;
}

WriteResult writeNumberedPair(const std::filesystem::path& folder, std::int64_t& n,
                              const NumberedPair& first, const NumberedPair& second,
                              std::filesystem::path& firstPath, std::filesystem::path& secondPath) {
    WriteResult result;
    for (int skip = 0; skip <= kMaxSkips; ++skip) {
        result = writeNumberedFile(folder, n, first.extension, first.bytes, firstPath);
        if (!result) return result;
        secondPath = folder / numberedFileName(n, second.extension);
        result = writeFileAtomically(secondPath, second.bytes, Replace::Never);
        if (result) return result;
        // The first file goes again: a pair is written whole or not at all.
        std::error_code ec;
        std::filesystem::remove(firstPath, ec);
        if (result.status != WriteStatus::Exists && result.status != WriteStatus::NotRegular) {
            firstPath = secondPath;  // the file that failed
            return result;
        }
        ++n;
    }
    return result;
}

}  // namespace qm

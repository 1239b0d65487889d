#include "core/strings/language_module.h"

#include <charconv>

#include "core/file/parser.h"
#include "core/strings/string_table.h"

namespace qm {

namespace {

std::string_view trimmedLine(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

bool isBlankOrComment(std::string_view line) {
    const auto first = line.find_first_not_of(" \t");
    return first == std::string_view::npos || line[first] == '#';
}

std::string unescaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\\' || i + 1 == text.size()) {
            out += c;
            continue;
        }
        switch (text[i + 1]) {
            case 't':
                out += '\t';
                break;
            case 'n':
                out += '\n';
                break;
            case '\\':
                out += '\\';
                break;
            default:
                out += c;
                continue;  // not an escape: the backslash stands as it is
        }
        ++i;
    }
    return out;
}

void setError(std::string* error, std::string message) {
    if (error) *error = std::move(message);
}

}  // namespace

bool isUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t length;
        char32_t value;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            length = 2, value = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            length = 3, value = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            length = 4, value = c & 0x07;
        } else {
            return false;
        }
        if (text.size() - i < length) return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            value = (value << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and values beyond U+10FFFF are not UTF-8.
        static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (value < kSmallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

std::optional<LanguageModule> parseLanguageModule(std::string_view content, std::string* error) {
    if (content.size() > kMaxLanguageModuleBytes) {
        setError(error, "larger than 1 MiB");
        return std::nullopt;
    }
    if (content.starts_with("\xEF\xBB\xBF")) content.remove_prefix(3);  // a byte-order mark

    LanguageModule module;
    bool headerSeen = false;
    int lineNumber = 0;
    while (!content.empty()) {
        const auto end = content.find('\n');
        const std::string_view line = trimmedLine(content.substr(0, end));
        content.remove_prefix(end == std::string_view::npos ? content.size() : end + 1);
        ++lineNumber;
        if (isBlankOrComment(line)) continue;

        if (!headerSeen) {
            if (line != kLanguageModuleHeader) {
                setError(error, "line " + std::to_string(lineNumber) +
                                    ": not a language module (\"" +
                                    std::string(kLanguageModuleHeader) + "\" expected)");
                return std::nullopt;
            }
            headerSeen = true;
            continue;
        }

        const auto problem = [&](const std::string& what) {
            module.problems.push_back("line " + std::to_string(lineNumber) + ": " + what);
        };
        const auto tab = line.find('\t');
        if (tab == std::string_view::npos) {
            problem("no tab between the id and the text");
            continue;
        }
        int id = 0;
        const std::string_view idText = line.substr(0, tab);
        const auto [rest, status] =
            std::from_chars(idText.data(), idText.data() + idText.size(), id);
        if (status != std::errc() || rest != idText.data() + idText.size() || idText.empty()) {
            std::string what(1, '"');  // built up piecewise: g++ 12 warns wrongly on a + chain here
            what.append(idText).append("\" is not a text id");
            problem(what);
            continue;
        }
        if (!StringTable::hasBuiltinText(id)) {
            problem("no text has the id " + std::to_string(id));
            continue;
        }
        const std::string_view text = line.substr(tab + 1);
        if (!isUtf8(text)) {
            problem("the text is not UTF-8");
            continue;
        }
        std::string value = unescaped(text);
        if (StringTable::isFileKeyword(id) && value != StringTable::builtinText(id)) {
            problem("the file keyword " + std::to_string(id) + " keeps its text \"" +
                    StringTable::builtinText(id) + "\"");
            continue;
        }
        if (!module.texts.emplace(id, std::move(value)).second)
            problem("the id " + std::to_string(id) + " is given twice; the first text stands");
    }
    if (!headerSeen) {
        setError(error, "empty, not a language module");
        return std::nullopt;
    }
    return module;
}

std::optional<LanguageModule> readLanguageModule(const std::filesystem::path& file,
                                                 std::string* error) {
    std::string content;
    switch (readTextFile(file, kMaxLanguageModuleBytes, content)) {
        case TextStatus::Ok:
            return parseLanguageModule(content, error);
        case TextStatus::CannotOpen:
            setError(error, "cannot be opened");
            break;
        case TextStatus::NotRegular:
            setError(error, "not a regular file (a folder, a device, a pipe or a socket)");
            break;
        case TextStatus::TooLarge:
            setError(error, "larger than 1 MiB");
            break;
        case TextStatus::TooManyLines:
            setError(error, "more than " + std::to_string(kDefaultMaxTextLines) + " lines");
            break;
        case TextStatus::NotText:
            setError(error, "not a text file");
            break;
        case TextStatus::ReadFailed:
            setError(error, "cannot be read");
            break;
    }
    return std::nullopt;
}

}  // namespace qm

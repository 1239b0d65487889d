// quillmere-cli info: what a file holds, and how chaotic its parameters are.
#include <cstring>
#include <ctime>

#include "cli/arguments.h"
#include "cli/cli.h"
#include "cli/commands.h"
#include "core/attractor/attractor.h"
#include "core/attractor/ifs.h"
#include "core/attractor/polynomial.h"
#include "core/file/attractor_file.h"
#include "core/strings/string_table.h"

namespace qm::cli {

int parseKind(const std::string& text) {
    for (int k = 0; k < kAttractorKindCount; ++k)
        if (text == StringTable::builtinText(TextId::kKindKeywordFirst + k)) return k;
    if (const auto code = parseInteger(text, 0, kAttractorKindCount - 1)) return static_cast<int>(*code);
    return -1;
}

std::string describe(FileStatus status, int systemError) {
    std::string text;
    switch (status) {
        case FileStatus::Ok: return "no error";
        case FileStatus::CannotOpen: text = "cannot open the file"; break;
        case FileStatus::ReadError: text = "not a valid attractor file"; break;
        case FileStatus::TooLarge: text = "too large for an attractor file"; break;
        case FileStatus::TooManyLines:
            text = "more than " + std::to_string(kMaxAttractorFileLines) +
                   " lines: too long for an attractor file";
            break;
        case FileStatus::NotRegular:
            text = "not a regular file (a folder, a device, a pipe or a socket)";
            break;
        case FileStatus::WriteFailed: text = "cannot write the file"; break;
        case FileStatus::InvalidValue: text = "a parameter is not a finite number"; break;
    }
    if (systemError != 0) text += std::string(" (") + std::strerror(systemError) + ")";
    return text;
}

namespace {

// The option the file carries: the map count of an IFS, the order of a Sprott polynomial.
int kindOption(const Attractor& a) {
    if (a.kind() == AttractorKind::IFS) return static_cast<const IFS&>(a).count();
    if (a.kind() == AttractorKind::PolynomialSprott)
        return static_cast<const Polynomial_Sprott&>(a).order();
    return -1;
}

std::string formatValue(const ParamEntry& e) {
    if (e.type == ParamType::Int8) return std::to_string(static_cast<int>(e.get()));
    return formatNumber(e.get());
}

}  // namespace

int runInfo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    Arguments arguments;
    if (const auto problem = arguments.parse(args, {"seed"}, {})) {
        err << "quillmere-cli info: " << *problem << '\n';
        return kExitUsage;
    }
    if (arguments.positional().size() != 1) {
        err << "quillmere-cli info: give exactly one FILE.qmattr\n";
        return kExitUsage;
    }
    std::uint32_t seed = static_cast<std::uint32_t>(std::time(nullptr));
    if (const auto text = arguments.value("seed")) {
        const auto s = parseInteger(*text, 0, 0xFFFFFFFFll);
        if (!s) {
            err << "quillmere-cli info: --seed takes a whole number from 0 to 4294967295\n";
            return kExitUsage;
        }
        seed = static_cast<std::uint32_t>(*s);
    }
    seedRandom31(seed);

    const std::string& path = arguments.positional().front();
    auto parser = makeAttractorParser();
    int systemError = 0;
    LoadResult loaded = loadAttractorInput(*parser, path, &systemError);
    if (!loaded) {
        err << "quillmere-cli info: " << path << ": " << describe(loaded.status, systemError)
            << '\n';
        return kExitUsage;
    }
    Attractor& a = *loaded.attractor;

    out << "seed: " << seed << '\n';
    out << "kind: " << StringTable::builtinText(TextId::kKindKeywordFirst + a.kindCode()) << '\n';
    out << "name: " << a.displayName() << '\n';
    if (const int option = kindOption(a); option >= 0) out << "option: " << option << '\n';
    out << "parameters: " << a.params().count() << '\n';
    for (const ParamEntry& e : a.params()) out << "param." << e.name << ": " << formatValue(e) << '\n';

    // The estimators of a search trial, on the file's own values.
    a.params().pushValues();
    a.measure();
    a.params().popValues();
    out << "iterations: " << a.iterationCount() << '\n';
    out << "diverged: " << (a.diverged() ? "yes" : "no") << '\n';
    out << "lyapunov: " << formatNumber(a.lyapunov()) << '\n';
    out << "dimension: " << formatNumber(a.dimension()) << '\n';
    out << "chaotic: " << (a.measuredChaotic() ? "yes" : "no") << '\n';
    return kExitOk;
}

}  // namespace qm::cli

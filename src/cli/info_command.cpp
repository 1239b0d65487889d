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
#include "core/render/bitmap3d.h"
#include "core/scene/scene_file.h"
#include "core/strings/string_table.h"
#include "png/png_image.h"

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
        case FileStatus::ReadError:
            text = "not a valid attractor or scene file";
            break;
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
        case FileStatus::NewerVersion:
            text = "written by a later version of Quillmere";
            break;
        case FileStatus::NoScene:
            text = "the image carries no scene";
            break;
    }
    if (systemError != 0) text += std::string(" (") + std::strerror(systemError) + ")";
    return text;
}

std::string describe(const LoadResult& loaded, int systemError) {
    std::string text = describe(loaded.status, systemError);
    if (loaded.status != FileStatus::ReadError) return text;
    const char* why = nullptr;
    switch (loaded.reason) {
        case ParseError::None:
            break;
        case ParseError::UnknownKeyword:
            why = "unknown keyword";
            break;
        case ParseError::BadValue:
            why = "a value that cannot be read";
            break;
        case ParseError::Repeated:
            why = "a keyword given twice";
            break;
        case ParseError::MissingBrace:
            why = "\"{\" expected after the block's keyword";
            break;
        case ParseError::UnexpectedEnd:
            why = "the file ends too early";
            break;
        case ParseError::MissingKeyword:
            why = "a required keyword is missing";
            break;
        case ParseError::NotText:
            why = "a NUL byte, not text";
            break;
        case ParseError::ReadFailed:
            why = "the file cannot be read";
            break;
    }
    if (loaded.line > 0) text += ": line " + std::to_string(loaded.line);
    if (why) text += std::string(": ") + why;
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
    if (const auto problem = arguments.parse(args, {"seed"}, {"scene"})) {
        err << "quillmere-cli info: " << *problem << '\n';
        return kExitUsage;
    }
    if (arguments.positional().size() != 1) {
        err << "quillmere-cli info: give exactly one FILE.qmattr, FILE.qmscene or IMAGE.png\n";
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

    const std::filesystem::path path = arguments.positional().front();
    const bool png = isPngFile(path);
    const bool scene = png || path.extension() == kSceneExtension;
    std::unique_ptr<Attractor> attractor;
    RenderScene render;
    if (scene) {
        SceneLoad loaded = loadSceneOrImage(path);
        if (!loaded) {
            err << "quillmere-cli info: " << path.string();
            if (loaded.line > 0) err << ", line " << loaded.line;
            err << ": " << describe(loaded.status) << '\n';
            return kExitUsage;
        }
        attractor = std::move(loaded.attractor);
        render = loaded.render;
    } else {
        auto parser = makeAttractorParser();
        int systemError = 0;
        LoadResult loaded = loadAttractorInput(*parser, path.string(), &systemError);
        if (!loaded) {
            err << "quillmere-cli info: " << path.string() << ": " << describe(loaded, systemError)
                << '\n';
            return kExitUsage;
        }
        attractor = std::move(loaded.attractor);
    }
    Attractor& a = *attractor;

    // The scene as it stands in the file, to keep as a scene file of its own.
    if (arguments.has("scene")) {
        if (!scene) {
            err << "quillmere-cli info: --scene needs a scene file or an image that carries one\n";
            return kExitUsage;
        }
        PngTexts texts;
        if (png) readPngTexts(path, texts);
        out << (png ? texts.scene : sceneText(a, render));
        return kExitOk;
    }
    if (png) {
        PngTexts texts;
        std::string software;
        readPngTexts(path, texts, &software);
        out << "software: " << software << '\n';
        out << "description: " << texts.description << '\n';
    }
    if (scene) {
        out << "render.mode: " << StringTable::builtinText(TextId::kModeNameFirst + render.mode)
            << '\n';
        out << "render.width: " << render.width << '\n';
        out << "render.height: " << render.height << '\n';
        out << "render.iterations: " << render.iterations << '\n';
        out << "render.updates: " << render.updates << '\n';
        out << "render.framed: " << (render.camera ? "yes" : "no") << '\n';
    }

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

#include "core/file/attractor_file.h"

#include <algorithm>
#include <cmath>
#include <istream>
#include <locale>
#include <ostream>
#include <sstream>

#include "core/attractor/ifs.h"
#include "core/attractor/polynomial.h"
#include "core/strings/string_table.h"

namespace qm {

namespace {

constexpr std::int8_t kDefaultMatrices = 4;
constexpr std::int8_t kDefaultOrder = 2;

// The tokens of an attractor template, found by their keywords.
struct AttractorTokens {
    TokenBlock* block = nullptr;
    TokenEnum* type = nullptr;
    TokenFloat* order = nullptr;
    TokenFloat* matrices = nullptr;
    Token* coefficients = nullptr;
    TokenDoubleArray* parameters = nullptr;

    explicit AttractorTokens(const Parser& parser) {
        block = parser.findAs<TokenBlock>(text(TextId::kFileAttractor));
        if (block == nullptr) return;
        type = block->findAs<TokenEnum>(text(TextId::kFileType));
        order = block->findAs<TokenFloat>(text(TextId::kFileOrder));
        matrices = block->findAs<TokenFloat>(text(TextId::kFileMatrices));
        coefficients = block->find(text(TextId::kFileCoefficients));
        parameters = block->findAs<TokenDoubleArray>(text(TextId::kFileParameters));
    }
    // False for a parser that was not built by makeAttractorParser.
    bool complete() const {
        return block && type && order && matrices && coefficients && parameters;
    }
};

bool isInteger(ParamType type) {
    return type != ParamType::Float && type != ParamType::Double;
}

// A count from the file: clamped as a number first, so that no value (260, -1e30) can wrap
// around in the conversion to an integer.
std::int8_t countFrom(const TokenFloat& token, std::int8_t lo, std::int8_t hi,
                      std::int8_t missing) {
    if (!token.present() || !std::isfinite(token.value())) return missing;
    return static_cast<std::int8_t>(std::clamp(static_cast<double>(token.value()),
                                               static_cast<double>(lo), static_cast<double>(hi)));
}

}  // namespace

FileStatus fillAttractor(Parser& parser, const Attractor& attractor) {
    const AttractorTokens t(parser);
    if (!t.complete()) return FileStatus::WriteFailed;
    parser.reset();
    t.type->setIndex(attractor.kindCode());
    if (const auto* ifs = dynamic_cast<const IFS*>(&attractor)) {
        t.matrices->setValue(ifs->count());
        if (ifs->coefficientMode()) t.coefficients->setPresent();
    } else if (const auto* sprott = dynamic_cast<const Polynomial_Sprott*>(&attractor)) {
        t.order->setValue(sprott->order());
    }
    for (const ParamEntry& entry : attractor.params()) {
        const double v = entry.get();
        if (!std::isfinite(v)) return FileStatus::InvalidValue;
        t.parameters->append(v);
    }
    t.block->setPresent();
    return FileStatus::Ok;
}

LoadResult buildAttractor(const Parser& parser) {
    const AttractorTokens t(parser);
    if (!t.complete() || !t.block->present()) return {};

    const auto kind = static_cast<std::int8_t>(t.type->index());
    std::int8_t count = 0;
    if (kind == static_cast<std::int8_t>(AttractorKind::IFS))
        count = countFrom(*t.matrices, IFS::kMinCount, IFS::kMaxCount, kDefaultMatrices);
    else if (kind == static_cast<std::int8_t>(AttractorKind::PolynomialSprott))
        count = countFrom(*t.order, Polynomial_Sprott::kMinOrder, Polynomial_Sprott::kMaxOrder,
                          kDefaultOrder);

    std::unique_ptr<Attractor> attractor = createAttractor(kind, count);
    if (!attractor) return {};
    // Coefficient mode rebuilds the parameter list, so it comes before the values.
    if (auto* ifs = dynamic_cast<IFS*>(attractor.get()); ifs && t.coefficients->present())
        ifs->setCoefficientMode(true);

    ParamList& params = attractor->params();
    const std::size_t n = std::min(t.parameters->size(), static_cast<std::size_t>(params.count()));
    for (std::size_t i = 0; i < n; ++i) {
        const ParamEntry& entry = params[static_cast<std::int32_t>(i)];
        double v = (*t.parameters)[i];
        // An integer parameter may index or size something (the Julia level sizes a stack):
        // keep it in its range before it becomes an integer.
        if (isInteger(entry.type)) v = std::clamp(v, entry.min(), entry.max());
        entry.set(v);
    }
    return {std::move(attractor), FileStatus::Ok};
}

std::unique_ptr<Parser> makeAttractorParser() {
    auto parser = std::make_unique<Parser>();
    TokenBlock& block = parser->addBlock(text(TextId::kFileAttractor), false);
    block.setMaxOccurrences(1);
    TokenEnum& type = block.addEnum(text(TextId::kFileType), false);
    for (int id = TextId::kKindKeywordFirst; id <= TextId::kKindKeywordLast; ++id)
        type.addValue(text(id));
    block.addFloat(text(TextId::kFileOrder), true);
    block.addFloat(text(TextId::kFileMatrices), true);
    block.addToken(text(TextId::kFileCoefficients), true);
    block.addDoubleArray(text(TextId::kFileParameters), false).setValuesPerLine(4);
    return parser;
}

FileResult writeAttractor(Parser& parser, const Attractor& attractor, std::ostream& out) {
    if (const FileStatus filled = fillAttractor(parser, attractor); filled != FileStatus::Ok)
        return {filled};
    if (!parser.save(out)) return {FileStatus::WriteFailed};
    return {};
}

FileResult saveAttractor(Parser& parser, const Attractor& attractor,
                         const std::filesystem::path& path) {
    if (const FileStatus filled = fillAttractor(parser, attractor); filled != FileStatus::Ok)
        return {filled};
    const WriteResult written = parser.save(path);
    if (written.status == WriteStatus::NotRegular) return {FileStatus::NotRegular};
    if (!written) return {FileStatus::WriteFailed, written.systemError};
    return {};
}

FileStatus fileStatusOf(ReadStatus status) {
    switch (status) {
        case ReadStatus::Ok:
            return FileStatus::Ok;
        case ReadStatus::CannotOpen:
            return FileStatus::CannotOpen;
        case ReadStatus::NotRegular:
            return FileStatus::NotRegular;
        case ReadStatus::TooLarge:
            return FileStatus::TooLarge;
        case ReadStatus::TooManyLines:
            return FileStatus::TooManyLines;
        case ReadStatus::NotText:
        case ReadStatus::ReadFailed:
            break;
    }
    return FileStatus::ReadError;
}

LoadResult loadAttractorText(Parser& parser, ReadStatus status, const std::string& text) {
    if (status == ReadStatus::NotText) {
        // The line of the first NUL byte (the readers keep the text they refuse for it).
        const auto nul = std::min(text.find('\0'), text.size());
        const auto line = static_cast<std::int32_t>(
            1 + std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(nul), '\n'));
        return {nullptr, FileStatus::ReadError, ParseError::NotText, line};
    }
    if (status == ReadStatus::ReadFailed)
        return {nullptr, FileStatus::ReadError, ParseError::ReadFailed, 0};
    if (status != ReadStatus::Ok) return {nullptr, fileStatusOf(status)};
    std::istringstream in(text);
    in.imbue(std::locale::classic());
    if (!parser.load(in)) {
        const std::int64_t at = parser.errorOffset();
        return {nullptr, FileStatus::ReadError, parser.errorReason(), at >= 0 ? lineAt(text, at) : 0};
    }
    return buildAttractor(parser);
}

LoadResult loadAttractor(Parser& parser, const std::filesystem::path& path) {
    std::string bytes;
    const ReadStatus status =
        readTextFile(path, TextLimits{kMaxAttractorFileBytes, kMaxAttractorFileLines}, bytes);
    return loadAttractorText(parser, status, bytes);
}

LoadResult readAttractor(Parser& parser, std::istream& in) {
    std::string bytes;
    const ReadStatus status = readText(in, kMaxAttractorFileBytes, bytes);
    return loadAttractorText(parser, status, bytes);
}

}  // namespace qm

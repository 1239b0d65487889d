#include "core/file/parser.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <istream>
#include <locale>
#include <ostream>
#include <sstream>
#include <system_error>

namespace qm {

namespace {

// Every character the reader reads goes through these, never through the stream's locale:
// a program that switched the C or C++ locale to the user's must read the same files.
bool isSpace(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}
bool isDigit(int c) {
    return c >= '0' && c <= '9';
}

void skipSpace(std::istream& in) {
    while (isSpace(in.peek())) in.get();
}

// A run of non-whitespace characters after whitespace; false when there is none.
bool readWord(std::istream& in, std::string& word) {
    word.clear();
    skipSpace(in);
    for (int c = in.peek(); c != std::char_traits<char>::eof() && !isSpace(c); c = in.peek())
        word.push_back(static_cast<char>(in.get()));
    return !word.empty();
}

// The next non-whitespace character; false at the end of the input.
bool readChar(std::istream& in, char& c) {
    skipSpace(in);
    const int got = in.get();
    if (got == std::char_traits<char>::eof()) return false;
    c = static_cast<char>(got);
    return true;
}

// The longest run that follows the grammar of a number, as stream extraction collects it:
// [sign] digits [. digits] [(e|E) [sign] digits]. The character after it stays unread.
std::string scanNumber(std::istream& in) {
    std::string t;
    skipSpace(in);
    auto take = [&](auto accept) {
        const int c = in.peek();
        if (c == std::char_traits<char>::eof() || !accept(c)) return false;
        t.push_back(static_cast<char>(in.get()));
        return true;
    };
    auto sign = [](int c) { return c == '+' || c == '-'; };
    auto exponent = [](int c) { return c == 'e' || c == 'E'; };
    auto point = [](int c) { return c == '.'; };
    take(sign);
    bool hasPoint = false;
    for (;;) {
        if (take(isDigit)) continue;
        if (!hasPoint && take(point)) {
            hasPoint = true;
            continue;
        }
        break;
    }
    if (take(exponent)) {
        take(sign);
        while (take(isDigit)) continue;
    }
    return t;
}

// True when the number in t (already known out of range) is too small rather than too
// large: the decimal exponent of its leading digit is negative.
bool isUnderflow(std::string_view t) {
    std::size_t i = 0;
    if (i < t.size() && t[i] == '-') ++i;
    long long lead = 0;  // power of ten of the first non-zero digit
    bool found = false;
    for (; i < t.size() && isDigit(t[i]); ++i) {
        if (!found && t[i] != '0') {
            found = true;
            lead = 0;
        } else if (found) {
            ++lead;
        }
    }
    if (i < t.size() && t[i] == '.') {
        ++i;
        long long position = 0;
        for (; i < t.size() && isDigit(t[i]); ++i) {
            --position;
            if (!found && t[i] != '0') {
                found = true;
                lead = position;
            }
        }
    }
    long long exp = 0;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        ++i;
        bool negative = false;
        if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
        for (; i < t.size() && isDigit(t[i]); ++i)
            if (exp < 1000000) exp = exp * 10 + (t[i] - '0');
        if (negative) exp = -exp;
    }
    return lead + exp < 0;
}

enum class Conversion { Whole, Prefix };

// Converts text to a finite number without looking at any locale. Whole needs the entire
// text to be one number; Prefix takes the longest leading number, as C's strtod does, and
// gives 0 for text without one. An overflow fails; an underflow gives a zero of the sign.
template <class T>
bool toNumber(std::string_view text, Conversion mode, T& out) {
    std::string_view t = text;
    // from_chars refuses the plus sign that strtod and stream extraction accept.
    if (!t.empty() && t.front() == '+') {
        if (t.size() > 1 && (t[1] == '+' || t[1] == '-')) {
            if (mode == Conversion::Whole) return false;
            out = 0;
            return true;
        }
        t.remove_prefix(1);
    }
    T v = 0;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
    if (ec == std::errc::invalid_argument) {
        if (mode == Conversion::Whole) return false;
        out = 0;
        return true;
    }
    if (mode == Conversion::Whole && end != t.data() + t.size()) return false;
    if (ec == std::errc::result_out_of_range) {
        const std::string_view used(t.data(), static_cast<std::size_t>(end - t.data()));
        if (!isUnderflow(used)) return false;
        out = used.front() == '-' ? -T(0) : T(0);
        return true;
    }
    if (!std::isfinite(v)) return false;
    out = v;
    return true;
}

// General notation with at most 15 significant digits: 4, 0.25, 1e-05, 1.5e+20.
void appendNumber(std::string& s, double v) {
    char buffer[32];
    auto r = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::general, 15);
    // The largest doubles round up past the largest double at 15 digits, and such a text
    // would read back as an overflow: those are written in their shortest exact form.
    double back;
    if (std::from_chars(buffer, r.ptr, back).ec == std::errc::result_out_of_range)
        r = std::to_chars(buffer, buffer + sizeof buffer, v);
    s.append(buffer, r.ptr);
}

// The shortest text that reads back to exactly v.
template <class T>
void appendExact(std::string& s, T v) {
    char buffer[64];
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, v);
    s.append(buffer, r.ptr);
}

template <class T>
void appendValue(std::string& s, T v, bool exact) {
    if (exact)
        appendExact(s, v);
    else
        appendNumber(s, v);
}

// Where the stream stands, or -1 when it cannot tell.
std::int64_t positionOf(std::istream& in) {
    if (!in) return -1;
    return static_cast<std::int64_t>(in.tellg());
}

void appendIndent(std::string& s, int depth) {
    s.append(static_cast<std::size_t>(depth), '\t');
}

void put(std::ostream& out, const std::string& s) {
    out.write(s.data(), static_cast<std::streamsize>(s.size()));
}

}  // namespace

// Token

Token::Token(std::string name, bool optional) : Token(TokenKind::Flag, std::move(name), optional) {}

Token::Token(TokenKind kind, std::string name, bool optional)
    : name_(std::move(name)), kind_(kind), optional_(optional) {}

void Token::read(std::istream&) {
    setPresent();
}

void Token::write(std::ostream& out, int depth) const {
    if (!present_) return;
    std::string s;
    appendIndent(s, depth);
    s += name_;
    s += '\n';
    put(out, s);
}

void Token::reset() {
    present_ = false;
    error_ = false;
    offset_ = -1;
}

std::unique_ptr<Token> Token::clone() const {
    return std::unique_ptr<Token>(new Token(*this));
}

// TokenList

Token* TokenList::find(std::string_view name) const {
    for (const auto& t : tokens_)
        if (t->name() == name) return t.get();
    return nullptr;
}

TokenList TokenList::clone() const {
    TokenList copy;
    for (const auto& t : tokens_) copy.tokens_.push_back(t->clone());
    return copy;
}

void TokenList::reset() {
    for (const auto& t : tokens_) t->reset();
}

ParseError TokenList::readNamed(std::string_view keyword, std::istream& in) const {
    Token* token = find(keyword);
    if (token == nullptr) return ParseError::UnknownKeyword;
    token->setOffset(positionOf(in));
    token->read(in);
    return token->errorReason();
}

bool TokenList::complete() const {
    for (const auto& token : tokens_)
        if (!token->present() && !token->optional()) return false;
    return true;
}

// TokenEnum

void TokenEnum::read(std::istream& in) {
    std::string word;
    if (!readWord(in, word)) {
        setError(ParseError::UnexpectedEnd);
        return;
    }
    // A second value for the same keyword matches nothing.
    if (present()) {
        setError(ParseError::Repeated);
        return;
    }
    for (std::size_t i = 0; i < valueNames_.size(); ++i) {
        if (valueNames_[i] != word) continue;
        setIndex(static_cast<std::int32_t>(i));
        return;
    }
    setError(ParseError::BadValue);
}

void TokenEnum::write(std::ostream& out, int depth) const {
    if (!present() || error() || index_ < 0 ||
        static_cast<std::size_t>(index_) >= valueNames_.size())
        return;
    std::string s;
    appendIndent(s, depth);
    s += name();
    s += ' ';
    s += valueNames_[static_cast<std::size_t>(index_)];
    s += '\n';
    put(out, s);
}

std::unique_ptr<Token> TokenEnum::clone() const {
    return std::make_unique<TokenEnum>(*this);
}

// TokenNumber

template <class T>
TokenNumber<T>::TokenNumber(std::string name, bool optional)
    : Token(std::is_same_v<T, float> ? TokenKind::Float : TokenKind::Double, std::move(name),
            optional) {}

template <class T>
void TokenNumber<T>::read(std::istream& in) {
    T v;
    if (present()) {
        setError(ParseError::Repeated);
        return;
    }
    if (!toNumber(scanNumber(in), Conversion::Whole, v)) {
        setError(ParseError::BadValue);
        return;
    }
    setValue(v);
}

template <class T>
void TokenNumber<T>::write(std::ostream& out, int depth) const {
    if (!present() || error()) return;
    std::string s;
    appendIndent(s, depth);
    s += name();
    s += ' ';
    appendValue(s, value_, exact_);
    s += '\n';
    put(out, s);
}

template <class T>
std::unique_ptr<Token> TokenNumber<T>::clone() const {
    return std::make_unique<TokenNumber<T>>(*this);
}

template class TokenNumber<float>;
template class TokenNumber<double>;

// TokenArray

template <class T>
TokenArray<T>::TokenArray(std::string name, bool optional)
    : Token(std::is_same_v<T, float> ? TokenKind::FloatArray : TokenKind::DoubleArray,
            std::move(name), optional) {}

template <class T>
void TokenArray<T>::read(std::istream& in) {
    char c;
    if (!readChar(in, c) || c != '<') {
        setError();
        return;
    }
    std::string text;
    while (c != '>') {
        // The input ends before the closing bracket: the array is incomplete.
        if (!readChar(in, c)) {
            setError(ParseError::UnexpectedEnd);
            return;
        }
        if (c == ',' || c == '>') {
            T v;
            if (text.empty() || !toNumber(text, Conversion::Prefix, v)) {
                setError();
                return;
            }
            append(v);
            text.clear();
        } else if (isDigit(c) || c == '-' || c == '.' || c == 'e' || c == 'E' || c == '+') {
            text.push_back(c);
        } else {
            setError();
            return;
        }
    }
}

template <class T>
void TokenArray<T>::write(std::ostream& out, int depth) const {
    if (!present() || error()) return;
    std::string s;
    appendIndent(s, depth);
    s += name();
    s += " <";
    for (std::size_t i = 0; i < values_.size(); ++i) {
        if (i > 0) {
            s += ',';
            if (valuesPerLine_ > 0 && i % static_cast<std::size_t>(valuesPerLine_) == 0) {
                // Continuation values line up under the first one.
                s += '\n';
                appendIndent(s, depth);
                s.append(name().size() + 2, ' ');
            } else {
                s += ' ';
            }
        }
        appendValue(s, values_[i], exact_);
    }
    s += ">\n";
    put(out, s);
}

template <class T>
void TokenArray<T>::reset() {
    Token::reset();
    values_.clear();
}

template <class T>
std::unique_ptr<Token> TokenArray<T>::clone() const {
    return std::make_unique<TokenArray<T>>(*this);
}

template class TokenArray<float>;
template class TokenArray<double>;

// TokenInteger

void TokenInteger::read(std::istream& in) {
    skipSpace(in);
    std::string digits;
    while (isDigit(in.peek())) digits.push_back(static_cast<char>(in.get()));
    std::uint64_t v = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v);
    // Digits only, all of them, and followed by whitespace or the end.
    const int next = in.peek();
    if (present() || digits.empty() || ec != std::errc() || end != digits.data() + digits.size() ||
        (next != std::char_traits<char>::eof() && !isSpace(next))) {
        setError();
        return;
    }
    setValue(v);
}

void TokenInteger::write(std::ostream& out, int depth) const {
    if (!present() || error()) return;
    std::string s;
    appendIndent(s, depth);
    s += name();
    s += ' ';
    s += std::to_string(value_);
    s += '\n';
    put(out, s);
}

std::unique_ptr<Token> TokenInteger::clone() const {
    return std::make_unique<TokenInteger>(*this);
}

// TokenBlock

TokenBlock::TokenBlock(std::string name, bool optional, std::int32_t maxOccurrences)
    : Token(TokenKind::Block, std::move(name), optional), maxOccurrences_(maxOccurrences) {
    occurrences_.emplace_back();
}

TokenBlock::TokenBlock(const TokenBlock& other)
    : Token(other), maxOccurrences_(other.maxOccurrences_) {
    for (const TokenList& list : other.occurrences_) occurrences_.push_back(list.clone());
}

Token& TokenBlock::addToken(std::string name, bool optional) {
    return occurrences_.front().append(std::make_unique<Token>(std::move(name), optional));
}
TokenEnum& TokenBlock::addEnum(std::string name, bool optional) {
    return occurrences_.front().append(std::make_unique<TokenEnum>(std::move(name), optional));
}
TokenFloat& TokenBlock::addFloat(std::string name, bool optional) {
    return occurrences_.front().append(std::make_unique<TokenFloat>(std::move(name), optional));
}
TokenDouble& TokenBlock::addDouble(std::string name, bool optional) {
    return occurrences_.front().append(std::make_unique<TokenDouble>(std::move(name), optional));
}
TokenFloatArray& TokenBlock::addFloatArray(std::string name, bool optional) {
    return occurrences_.front().append(
        std::make_unique<TokenFloatArray>(std::move(name), optional));
}
TokenDoubleArray& TokenBlock::addDoubleArray(std::string name, bool optional) {
    return occurrences_.front().append(
        std::make_unique<TokenDoubleArray>(std::move(name), optional));
}

TokenInteger& TokenBlock::addInteger(std::string name, bool optional) {
    return occurrences_.front().append(std::make_unique<TokenInteger>(std::move(name), optional));
}

Token* TokenBlock::find(std::string_view name, std::int32_t occurrence) const {
    if (occurrence < 0 || occurrence >= occurrenceCount()) return nullptr;
    return occurrences_[static_cast<std::size_t>(occurrence)].find(name);
}

void TokenBlock::read(std::istream& in) {
    TokenList* list = &occurrences_.front();
    if (present()) {
        if (occurrenceCount() >= maxOccurrences_) {
            setError(ParseError::Repeated);
            return;
        }
        // A further occurrence starts from the template's tokens with their flags cleared,
        // so that its own keywords are checked as the first occurrence's were.
        TokenList& added = occurrences_.emplace_back(occurrences_.front().clone());
        added.reset();
        list = &added;
    }
    std::string word;
    if (!readWord(in, word)) {
        setError(ParseError::UnexpectedEnd);
        return;
    }
    if (word != "{") {
        setError(ParseError::MissingBrace);
        return;
    }
    for (;;) {
        // The input ends before the closing brace: the block is incomplete.
        if (!readWord(in, word)) {
            setError(ParseError::UnexpectedEnd);
            return;
        }
        if (word == "}") break;
        if (const ParseError e = list->readNamed(word, in); e != ParseError::None) {
            setError(e);
            return;
        }
    }
    if (!list->complete()) {
        setError(ParseError::MissingKeyword);
        return;
    }
    setPresent();
}

void TokenBlock::write(std::ostream& out, int depth) const {
    if (!present()) return;
    for (const TokenList& list : occurrences_) {
        std::string s;
        appendIndent(s, depth);
        s += name();
        s += " {\n";
        put(out, s);
        for (const auto& token : list) token->write(out, depth + 1);
        s.clear();
        appendIndent(s, depth);
        s += "}\n";
        put(out, s);
    }
}

void TokenBlock::reset() {
    Token::reset();
    occurrences_.resize(1);
    occurrences_.front().reset();
}

std::unique_ptr<Token> TokenBlock::clone() const {
    return std::unique_ptr<Token>(new TokenBlock(*this));
}

// Parser

Parser::Parser() : Token(TokenKind::Root, std::string(), false) {
    setPresent();
}

Parser::Parser(const Parser& other) : Token(other), tokens_(other.tokens_.clone()) {}

TokenBlock& Parser::addBlock(std::string name, bool optional) {
    return tokens_.append(std::make_unique<TokenBlock>(std::move(name), optional));
}

void Parser::read(std::istream& in) {
    std::string word;
    errorOffset_ = -1;
    // The place of an error: where the stream stands, or its end once it is exhausted.
    const auto failAt = [&](ParseError reason) {
        setError(reason);
        if (in.bad()) return;
        in.clear();
        errorOffset_ = static_cast<std::int64_t>(in.tellg());
    };
    for (;;) {
        if (!readWord(in, word)) {
            if (in.bad()) setError(ParseError::ReadFailed);
            break;
        }
        if (const ParseError e = tokens_.readNamed(word, in); e != ParseError::None) {
            failAt(e);
            return;
        }
    }
    if (!tokens_.complete()) failAt(ParseError::MissingKeyword);
}

void Parser::write(std::ostream& out, int depth) const {
    for (const auto& token : tokens_) token->write(out, depth);
}

void Parser::reset() {
    Token::reset();
    setPresent();
    tokens_.reset();
}

std::unique_ptr<Token> Parser::clone() const {
    return std::unique_ptr<Token>(new Parser(*this));
}

bool Parser::load(std::istream& in) {
    reset();
    read(in);
    return !error();
}

bool Parser::load(const std::filesystem::path& path) {
    reset();
    std::string bytes;
    if (readTextFile(path, kMaxFileBytes, bytes) != TextStatus::Ok) {
        setError(ParseError::ReadFailed);
        return false;
    }
    std::istringstream in(bytes);
    in.imbue(std::locale::classic());
    return load(in);
}

bool Parser::save(std::ostream& out) const {
    write(out, 0);
    out.flush();
    return static_cast<bool>(out);
}

WriteResult Parser::save(const std::filesystem::path& path) const {
    return writeFileAtomically(path, text());
}

std::int32_t lineAt(std::string_view text, std::int64_t offset) {
    const auto end = static_cast<std::size_t>(
        std::clamp<std::int64_t>(offset, 0, static_cast<std::int64_t>(text.size())));
    std::int32_t line = 1;
    for (std::size_t i = 0; i < end; ++i)
        if (text[i] == '\n') ++line;
    return line;
}

std::string Parser::text() const {
    std::ostringstream out;
    out.imbue(std::locale::classic());
    write(out, 0);
    return std::move(out).str();
}

}  // namespace qm

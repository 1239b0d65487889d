// Parser: a small engine for nested keyword files. A tree of named tokens is the template of
// a file; reading fills the tokens' values and presence flags, writing prints the present ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/file/atomic_write.h"
#include "core/file/input_file.h"

namespace qm {

enum class TokenKind : std::uint8_t {
    Root,
    Flag,
    Block,
    Enum,
    Float,
    Double,
    FloatArray,
    DoubleArray,
    Integer,
};

// Why a read failed. The parser keeps the first failure with the line it was found on.
enum class ParseError : std::uint8_t {
    None,
    UnknownKeyword,  // a word that is no keyword of the template at its place
    BadValue,        // a value that is not a number, not an allowed word, or absent
    Repeated,        // a keyword given twice, or a block more often than allowed
    MissingBrace,    // a block's keyword without "{"
    UnexpectedEnd,   // the input ends inside a block or an array
    MissingKeyword,  // a keyword the template requires is absent
    NotText,         // a NUL byte: no text file has one
    ReadFailed,      // the stream failed
};

// A keyword of the file. A plain Token has no value: its presence is its whole meaning.
class Token {
public:
    Token(std::string name, bool optional);
    virtual ~Token() = default;
    Token& operator=(const Token&) = delete;

    // Consumes the text that follows the keyword; sets present, or sets error.
    virtual void read(std::istream& in);
    // Prints the token at the given depth (in tabs) when it is present.
    virtual void write(std::ostream& out, int depth) const;
    // Clears present and error and empties containers. Scalar values are kept.
    virtual void reset();
    // A copy with the same name, flags and values: a block builds its further occurrences
    // from copies of its template.
    virtual std::unique_ptr<Token> clone() const;

    const std::string& name() const { return name_; }
    TokenKind kind() const { return kind_; }
    // Where in the input the token's text began (just after its keyword), or -1 when it was
    // not read: the place a message about its value points to.
    std::int64_t offset() const { return offset_; }
    void setOffset(std::int64_t offset) { offset_ = offset; }
    bool optional() const { return optional_; }
    bool present() const { return present_; }
    bool error() const { return error_; }
    // Why the last read failed; None without an error.
    ParseError errorReason() const { return error_ ? reason_ : ParseError::None; }
    // Marks the token present (and clears its error), as storing a value does.
    void setPresent() {
        present_ = true;
        error_ = false;
    }

protected:
    Token(TokenKind kind, std::string name, bool optional);
    Token(const Token&) = default;
    void setError(ParseError reason = ParseError::BadValue) {
        error_ = true;
        reason_ = reason;
    }

private:
    std::string name_;
    TokenKind kind_;
    bool optional_;
    bool present_ = false;
    bool error_ = false;
    std::int64_t offset_ = -1;
    ParseError reason_ = ParseError::None;
};

// An ordered list of owned tokens; its order is the order of writing.
class TokenList {
public:
    TokenList() = default;
    TokenList(TokenList&&) = default;
    TokenList& operator=(TokenList&&) = default;

    template <class T>
    T& append(std::unique_ptr<T> token) {
        T& ref = *token;
        tokens_.push_back(std::move(token));
        return ref;
    }
    // The first token with exactly this name, or none.
    Token* find(std::string_view name) const;
    // Deep copies of every token.
    TokenList clone() const;
    void reset();
    // Reads the token named by the keyword just read: None, UnknownKeyword when no token has
    // that name, or why the token's text is wrong.
    ParseError readNamed(std::string_view keyword, std::istream& in) const;
    // Whether every token that is not optional was read.
    bool complete() const;

    std::size_t size() const { return tokens_.size(); }
    Token& operator[](std::size_t i) const { return *tokens_[i]; }
    auto begin() const { return tokens_.begin(); }
    auto end() const { return tokens_.end(); }

private:
    std::vector<std::unique_ptr<Token>> tokens_;
};

// One word out of an ordered list of value names; the file holds the name, the program the
// index.
class TokenEnum final : public Token {
public:
    TokenEnum(std::string name, bool optional)
        : Token(TokenKind::Enum, std::move(name), optional) {}

    void addValue(std::string name) { valueNames_.push_back(std::move(name)); }
    const std::vector<std::string>& valueNames() const { return valueNames_; }
    std::int32_t index() const { return index_; }
    void setIndex(std::int32_t index) {
        index_ = index;
        setPresent();
    }

    void read(std::istream& in) override;
    // Writes nothing for an index outside the value names.
    void write(std::ostream& out, int depth) const override;
    std::unique_ptr<Token> clone() const override;

private:
    std::vector<std::string> valueNames_;
    std::int32_t index_ = 0;
};

// One number after the keyword. Given twice, it is an error. Numbers are written with 15
// significant digits and read back to the same text, or, when exact, in the shortest form that
// reads back to the same value; only finite values can be read.
template <class T>
class TokenNumber final : public Token {
public:
    TokenNumber(std::string name, bool optional);

    T value() const { return value_; }
    void setValue(T v) {
        value_ = v;
        setPresent();
    }
    bool exact() const { return exact_; }
    void setExact(bool exact) { exact_ = exact; }

    void read(std::istream& in) override;
    void write(std::ostream& out, int depth) const override;
    std::unique_ptr<Token> clone() const override;

private:
    T value_ = 0;
    bool exact_ = false;
};
using TokenFloat = TokenNumber<float>;
using TokenDouble = TokenNumber<double>;

// Numbers between "<" and ">", separated by commas. Whitespace may stand anywhere between
// the brackets, so long arrays are written over several lines. As with TokenNumber, only
// finite values read back. Read twice, the values of both arrays are kept, in file order.
template <class T>
class TokenArray final : public Token {
public:
    TokenArray(std::string name, bool optional);

    void append(T v) {
        values_.push_back(v);
        setPresent();
    }
    T operator[](std::size_t i) const { return values_[i]; }
    std::size_t size() const { return values_.size(); }
    const std::vector<T>& values() const { return values_; }
    // Values per written line; 0 writes them all on one line.
    std::int32_t valuesPerLine() const { return valuesPerLine_; }
    void setValuesPerLine(std::int32_t n) { valuesPerLine_ = n; }
    // Exact arrays write each value in the shortest form that reads back to it.
    bool exact() const { return exact_; }
    void setExact(bool exact) { exact_ = exact; }

    void read(std::istream& in) override;
    void write(std::ostream& out, int depth) const override;
    void reset() override;
    std::unique_ptr<Token> clone() const override;

private:
    std::vector<T> values_;
    std::int32_t valuesPerLine_ = 0;
    bool exact_ = false;
};
using TokenFloatArray = TokenArray<float>;
using TokenDoubleArray = TokenArray<double>;

// One whole number from 0 to 2^64 - 1 after the keyword, digits only. Given twice, it is an
// error. It holds what a double cannot carry exactly, such as a generator's 64-bit state.
class TokenInteger final : public Token {
public:
    TokenInteger(std::string name, bool optional)
        : Token(TokenKind::Integer, std::move(name), optional) {}

    std::uint64_t value() const { return value_; }
    void setValue(std::uint64_t v) {
        value_ = v;
        setPresent();
    }

    void read(std::istream& in) override;
    void write(std::ostream& out, int depth) const override;
    std::unique_ptr<Token> clone() const override;

private:
    std::uint64_t value_ = 0;
};

// A keyword followed by "{", tokens, "}". Each occurrence in the file has its own token list;
// the first is the template of the others.
class TokenBlock final : public Token {
public:
    TokenBlock(std::string name, bool optional, std::int32_t maxOccurrences = 1);

    // Each appends a token to the template occurrence.
    Token& addToken(std::string name, bool optional);
    TokenEnum& addEnum(std::string name, bool optional);
    TokenFloat& addFloat(std::string name, bool optional);
    TokenDouble& addDouble(std::string name, bool optional);
    TokenFloatArray& addFloatArray(std::string name, bool optional);
    TokenDoubleArray& addDoubleArray(std::string name, bool optional);
    TokenInteger& addInteger(std::string name, bool optional);

    // The token of that name in the given occurrence, or none.
    Token* find(std::string_view name, std::int32_t occurrence = 0) const;
    template <class T>
    T* findAs(std::string_view name, std::int32_t occurrence = 0) const {
        return dynamic_cast<T*>(find(name, occurrence));
    }

    std::int32_t occurrenceCount() const { return static_cast<std::int32_t>(occurrences_.size()); }
    std::int32_t maxOccurrences() const { return maxOccurrences_; }
    void setMaxOccurrences(std::int32_t n) { maxOccurrences_ = n; }

    void read(std::istream& in) override;
    void write(std::ostream& out, int depth) const override;
    // Also drops every occurrence after the first.
    void reset() override;
    std::unique_ptr<Token> clone() const override;

private:
    TokenBlock(const TokenBlock& other);

    std::vector<TokenList> occurrences_;
    std::int32_t maxOccurrences_;
};

// The root of a template: its top-level tokens, and the whole-file read and write.
class Parser final : public Token {
public:
    // The largest file load(path) accepts.
    static constexpr std::size_t kMaxFileBytes = std::size_t{1} << 20;

    Parser();

    TokenBlock& addBlock(std::string name, bool optional);
    Token* find(std::string_view name) const { return tokens_.find(name); }
    template <class T>
    T* findAs(std::string_view name) const {
        return dynamic_cast<T*>(find(name));
    }
    const TokenList& tokens() const { return tokens_; }

    // Reads top-level tokens up to the end of the input. The parser's error flag tells the
    // outcome, errorReason why and errorOffset where; call reset first.
    void read(std::istream& in) override;
    // Every top-level token at depth 0.
    void write(std::ostream& out, int depth) const override;
    // Resets every top-level token. The root itself stays present.
    void reset() override;
    std::unique_ptr<Token> clone() const override;

    // reset, read, and true when no error was found.
    bool load(std::istream& in);
    // Where the last read stopped on an error: the input offset just after the text found
    // wrong, or -1.
    std::int64_t errorOffset() const { return errorOffset_; }
    // As above from a file of at most kMaxFileBytes without NUL bytes.
    bool load(const std::filesystem::path& path);
    // write, and true when the stream took everything.
    bool save(std::ostream& out) const;
    // Replaces the file only once the whole text is written (writeFileAtomically).
    WriteResult save(const std::filesystem::path& path) const;
    // The text that write produces.
    std::string text() const;

private:
    Parser(const Parser& other);

    TokenList tokens_;
    std::int64_t errorOffset_ = -1;
};

// The 1-based line of text that holds the character at offset (the last line for an offset
// past the end).
std::int32_t lineAt(std::string_view text, std::int64_t offset);

}  // namespace qm

#include "png/png_image.h"

#include <QByteArray>
#include <QIODevice>
#include <QImage>
#include <QString>

#include <cstring>
#include <fstream>
#include <utility>

#include "core/file/input_file.h"
#include "core/scene/scene_file.h"

namespace qm {

namespace {

QImage deepImage(TBitmap3D& target) {
    QImage image(target.imageWidth, target.imageHeight, QImage::Format_RGBX64);
    if (image.isNull()) return image;
    // Rows of 64-bit pixels: four 16-bit values each.
    const auto stride = static_cast<std::ptrdiff_t>(image.bytesPerLine() / 2);
    target.BuildImage16(reinterpret_cast<std::uint16_t*>(image.bits()), stride);
    return image;
}

// A write-only, sequential device that hands each write on to an output as it comes.
class OutputDevice final : public QIODevice {
public:
    explicit OutputDevice(const PngOutput& output) : output_(output) {
        open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }
    // False once the output has refused a write.
    bool ok() const { return ok_; }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override {
        if (!ok_ || size < 0) return -1;
        ok_ = output_(std::string_view(data, static_cast<std::size_t>(size)));
        return ok_ ? size : -1;
    }

private:
    const PngOutput& output_;
    bool ok_ = true;
};

}  // namespace

bool writePng(const PngOutput& output, TBitmap3D& target, int depth, const PngTexts& texts) {
    const ImageView view = target.imageView();
    if (view.bits == nullptr || view.width <= 0 || view.height <= 0) return false;
    // At 8 bits the image wraps the target's rows; a read-only QImage shares them, and its
    // texts are metadata, which do not copy the pixels.
    QImage image = depth == 16 ? deepImage(target)
                               : QImage(view.bits, view.width, view.height, view.bytesPerLine,
                                        QImage::Format_BGR888);
    if (image.isNull()) return false;
    // QImage picks tEXt, zTXt or iTXt for each text from its length and characters.
    if (!texts.scene.empty())
        image.setText(QString::fromUtf8(kPngSceneKeyword.data(),
                                        static_cast<qsizetype>(kPngSceneKeyword.size())),
                      QString::fromStdString(texts.scene));
    image.setText(QStringLiteral("Software"), QString::fromStdString(softwareName()));
    if (!texts.description.empty())
        image.setText(QStringLiteral("Description"), QString::fromStdString(texts.description));
    OutputDevice device(output);
    return image.save(&device, "PNG") && device.ok();
}

WriteResult writePng(const std::filesystem::path& path, TBitmap3D& target, int depth,
                     const PngTexts& texts) {
    return writeFileInPieces(path, [&](FileSink& sink) {
        return writePng([&sink](std::string_view bytes) { return sink.write(bytes); }, target,
                        depth, texts);
    });
}

bool isPngFile(const std::filesystem::path& path) {
    static constexpr unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    // Only a regular file is opened: a pipe or a device would block or never end.
    InputFile file;
    unsigned char head[8] = {};
    if (file.open(path) != ReadStatus::Ok || file.read(head, sizeof head) != ReadStatus::Ok)
        return false;
    return std::memcmp(head, kSignature, sizeof head) == 0;
}

namespace {

std::uint32_t bigEndian(const unsigned char* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           p[3];
}

// A zlib stream, as zTXt and compressed iTXt chunks hold it; none when it does not inflate to
// at most kMaxText bytes.
constexpr std::uint32_t kMaxText = std::uint32_t{1} << 21;
std::optional<QByteArray> inflate(const QByteArray& data) {
    // qUncompress wants the expected size first; it grows its buffer when the data needs more.
    QByteArray framed(4, '\0');
    const std::uint32_t hint = static_cast<std::uint32_t>(data.size()) * 4 + 64;
    for (int i = 0; i < 4; ++i) framed[i] = static_cast<char>((hint >> (24 - 8 * i)) & 0xFF);
    framed += data;
    QByteArray out = qUncompress(framed);
    if (out.isEmpty() && !data.isEmpty()) return std::nullopt;
    if (static_cast<std::uint32_t>(out.size()) > kMaxText) return std::nullopt;
    return out;
}

// The keyword and text of a tEXt, zTXt or iTXt chunk, as UTF-8.
std::optional<std::pair<std::string, std::string>> textChunk(const char type[4],
                                                             const QByteArray& data) {
    const qsizetype nul = data.indexOf('\0');
    if (nul <= 0) return std::nullopt;
    std::string keyword = QString::fromLatin1(data.left(nul)).toStdString();
    const QByteArray rest = data.mid(nul + 1);
    if (std::memcmp(type, "tEXt", 4) == 0)
        return std::pair{keyword, QString::fromLatin1(rest).toStdString()};
    if (std::memcmp(type, "zTXt", 4) == 0) {
        if (rest.isEmpty() || rest[0] != 0) return std::nullopt;  // method 0, deflate
        const auto text = inflate(rest.mid(1));
        if (!text) return std::nullopt;
        return std::pair{keyword, QString::fromLatin1(*text).toStdString()};
    }
    // iTXt: compression flag, method, language tag, translated keyword, then UTF-8 text.
    if (rest.size() < 2) return std::nullopt;
    const bool compressed = rest[0] != 0;
    const qsizetype language = rest.indexOf('\0', 2);
    if (language < 0) return std::nullopt;
    const qsizetype translated = rest.indexOf('\0', language + 1);
    if (translated < 0) return std::nullopt;
    QByteArray text = rest.mid(translated + 1);
    if (compressed) {
        const auto inflated = inflate(text);
        if (!inflated) return std::nullopt;
        text = *inflated;
    }
    return std::pair{keyword, text.toStdString()};
}

}  // namespace

PngSceneStatus readPngTexts(const std::filesystem::path& path, PngTexts& texts,
                            std::string* software) {
    texts = {};
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return PngSceneStatus::CannotOpen;
    if (!isPngFile(path)) return PngSceneStatus::NotPng;
    std::ifstream in(path, std::ios::binary);
    if (!in) return PngSceneStatus::CannotOpen;
    in.seekg(8);
    // The chunks one after the other; only the text chunks are read, the pixels skipped.
    unsigned char head[8];
    while (in.read(reinterpret_cast<char*>(head), sizeof head)) {
        const std::uint32_t length = bigEndian(head);
        const char type[4] = {static_cast<char>(head[4]), static_cast<char>(head[5]),
                              static_cast<char>(head[6]), static_cast<char>(head[7])};
        if (std::memcmp(type, "IEND", 4) == 0 || length > 0x7FFFFFFFu) break;
        const bool text = std::memcmp(type, "tEXt", 4) == 0 || std::memcmp(type, "zTXt", 4) == 0 ||
                          std::memcmp(type, "iTXt", 4) == 0;
        if (!text || length > kMaxText) {
            in.seekg(static_cast<std::streamoff>(length) + 4, std::ios::cur);
            continue;
        }
        QByteArray data(static_cast<qsizetype>(length), '\0');
        if (!in.read(data.data(), length)) break;
        in.seekg(4, std::ios::cur);  // the CRC
        const auto chunk = textChunk(type, data);
        if (!chunk) continue;
        if (chunk->first == kPngSceneKeyword)
            texts.scene = chunk->second;
        else if (chunk->first == "Description")
            texts.description = chunk->second;
        else if (chunk->first == "Software" && software)
            *software = chunk->second;
    }
    return texts.scene.empty() ? PngSceneStatus::NoScene : PngSceneStatus::Ok;
}

SceneLoad loadSceneOrImage(const std::filesystem::path& path) {
    if (!isPngFile(path)) return loadScene(path);
    PngTexts texts;
    SceneLoad result;
    switch (readPngTexts(path, texts)) {
        case PngSceneStatus::Ok:
            return readScene(texts.scene);
        case PngSceneStatus::CannotOpen:
            result.status = FileStatus::CannotOpen;
            break;
        case PngSceneStatus::NotPng:
            result.status = FileStatus::ReadError;
            break;
        case PngSceneStatus::NoScene:
            result.status = FileStatus::NoScene;
            break;
    }
    return result;
}

}  // namespace qm

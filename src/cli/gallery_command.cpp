// quillmere-cli gallery: the gallery's search, headless. Finds go into a folder as numbered
// scene files (the attractor framed and drawn as its thumbnail shows it) with their
// thumbnails, and a contact sheet (sheet.png) and a web page (index.html) show every find in
// the folder, parameter files of earlier searches included.
#include <QBuffer>
#include <QByteArray>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <deque>
#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <sstream>
#include <thread>
#include <variant>

#include "cli/arguments.h"
#include "cli/cli.h"
#include "cli/commands.h"
#include "cli/search_options.h"
#include "core/discover/lane_search.h"
#include "core/discover/thumbnail.h"
#include "core/discover/worker_pool.h"
#include "core/file/atomic_write.h"
#include "core/file/attractor_file.h"
#include "core/file/data_location.h"
#include "core/file/numbered_files.h"
#include "core/property/color_map.h"
#include "core/render/bitmap3d.h"
#include "core/scene/scene_file.h"
#include "core/strings/string_table.h"

namespace qm::cli {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kFindExtension = kSceneExtension;
constexpr std::string_view kParameterExtension = ".qmattr";  // finds of searches, older galleries
constexpr std::string_view kThumbExtension = ".png";
constexpr int kSheetColumns = 6;
constexpr int kCaptionHeight = 34;  // two lines of text under each thumbnail

struct GalleryOptions : SearchBasics {
    int mode = static_cast<int>(RenderMode::Light);
    std::int32_t thumbWidth = 200;
    std::int32_t thumbHeight = 150;
    std::int32_t iterations = 300000;
    double minScore = 0;
};

std::variant<GalleryOptions, std::string> parseOptions(const std::vector<std::string>& args) {
    Arguments a;
    if (auto problem = a.parse(args,
                               {"kind", "option", "count", "out", "mode", "thumb", "min-score",
                                "seed", "threads", "randomness", "iterations", "max-trials"},
                               {}))
        return *problem;
    if (!a.positional().empty()) return "unexpected argument '" + a.positional().front() + "'";

    GalleryOptions o;
    o.maxTrials = 1'000'000;
    o.threads = static_cast<int>(std::max<unsigned>(1, std::thread::hardware_concurrency()));
    std::int64_t iterations = o.iterations;
    const RangedOption more[] = {{"iterations", 1000, 100'000'000, &iterations}};
    if (auto problem = readSearchOptions(a, o, true, more)) return *problem;
    o.iterations = static_cast<std::int32_t>(iterations);
    if (const auto text = a.value("mode")) {
        o.mode = parseMode(*text);
        if (o.mode < 0)
            return "unknown mode '" + *text + "' (Gaz, Liquide, Lumière, Plasma, Solide or 0 to 4)";
    }
    if (const auto text = a.value("thumb")) {
        const auto x = text->find('x');
        const auto w =
            x == std::string::npos ? std::nullopt : parseInteger(text->substr(0, x), 16, 2048);
        const auto h =
            x == std::string::npos ? std::nullopt : parseInteger(text->substr(x + 1), 16, 2048);
        if (!w || !h) return std::string("--thumb takes WxH with each side from 16 to 2048");
        o.thumbWidth = static_cast<std::int32_t>(*w);
        o.thumbHeight = static_cast<std::int32_t>(*h);
    }
    if (const auto text = a.value("min-score")) {
        const auto v = parseReal(*text);
        if (!v || *v < 0 || *v > 1) return std::string("--min-score takes a number from 0 to 1");
        o.minScore = *v;
    }
    return o;
}

// Fixed decimals, independent of the locale (the Qt application sets the user's).
std::string fixed(double v, int decimals) {
    std::array<char, 64> buffer;
    const auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), v,
                                         std::chars_format::fixed, decimals);
    return ec == std::errc() ? std::string(buffer.data(), end) : std::string("?");
}

std::string kindKeyword(int kind) {
    if (kind < 0 || kind >= kAttractorKindCount) return "?";
    return StringTable::builtinText(TextId::kKindKeywordFirst + kind);
}

// What the sheet and the page show of one find; its thumbnail carries it as PNG text.
struct FindFacts {
    std::string kind;
    double lyapunov = 0;
    double dimension = 0;
    double score = 0;
};

std::optional<std::string> encodePng(const QImage& image) {
    QByteArray encoded;
    QBuffer buffer(&encoded);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG")) return std::nullopt;
    return std::string(encoded.constData(), static_cast<std::size_t>(encoded.size()));
}

// The thumbnail with what the sheet shows of it, and, as every image of the programs, the
// scene it shows (the one beside it), so that opening or rendering it gives the find again.
std::optional<std::string> thumbnailPng(const Thumbnail& thumb, const FindFacts& facts,
                                        const std::string& scene) {
    QImage image(thumb.pixels.data(), thumb.width, thumb.height, thumb.bytesPerLine(),
                 QImage::Format_BGR888);
    QImage copy = image.convertToFormat(QImage::Format_RGB888);
    copy.setText("Kind", QString::fromStdString(facts.kind));
    copy.setText("Lyapunov", QString::fromStdString(formatNumber(facts.lyapunov)));
    copy.setText("Dimension", QString::fromStdString(formatNumber(facts.dimension)));
    copy.setText("Score", QString::fromStdString(formatNumber(facts.score)));
    if (!scene.empty()) {
        copy.setText(QString::fromLatin1(kPngSceneKeyword.data(), kPngSceneKeyword.size()),
                     QString::fromStdString(scene));
        copy.setText("Software", QString::fromStdString(softwareName()));
    }
    return encodePng(copy);
}

std::optional<double> readNumberText(const QImage& image, const char* key) {
    return parseReal(image.text(key).toStdString());
}

// A find of the folder, for the sheet and the page.
struct FolderFind {
    std::int64_t number = 0;
    std::string file;  // its name: a scene, or an earlier parameter file
    FindFacts facts;
    QImage thumb;
};

// A thumbnail and the scene that shows the find as the thumbnail does.
struct Rendered {
    std::optional<Thumbnail> thumb;
    std::string scene;
};

std::string describeWrite(const WriteResult& written) {
    return describe(written.status == WriteStatus::NotRegular ? FileStatus::NotRegular
                                                              : FileStatus::WriteFailed,
                    written.systemError);
}

// The finds in the folder by number: NNNN.qmscene, or NNNN.qmattr that a search or an
// earlier gallery wrote; a scene wins where both stand under one number.
std::map<std::int64_t, std::string> folderFinds(const fs::path& folder) {
    std::map<std::int64_t, std::string> finds;
    for (std::int64_t n : fileNumbers(folder, kParameterExtension))
        finds[n] = numberedFileName(n, kParameterExtension);
    for (std::int64_t n : fileNumbers(folder, kFindExtension))
        finds[n] = numberedFileName(n, kFindExtension);
    return finds;
}

// A find ready to be written: its scene, its encoded thumbnail and what the sheet shows.
struct Prepared {
    bool rendered = false;  // false where the orbit diverged or the thumbnail did not encode
    std::string scene;
    std::string png;
    FindFacts facts;
};

// Writes the finds, in the order given, on a thread of its own: each file is synced to the
// disk, and the search goes on meanwhile instead of waiting for the disk.
class FindWriter {
public:
    // Writes each find as NNNN.qmscene and NNNN.png, NNNN the first number free for both from
    // next on; after a failure, the message is out and the later finds are dropped.
    FindWriter(const fs::path& folder, std::int64_t next, std::ostream& out, std::ostream& err)
        : folder_(folder), next_(next), out_(out), err_(err), thread_([this] { work(); }) {}
    ~FindWriter() { finish(); }

    void push(Prepared find) {
        {
            std::lock_guard guard(lock_);
            queue_.push_back(std::move(find));
        }
        wake_.notify_one();
    }
    // Waits until every find pushed is written or dropped.
    void finish() {
        {
            std::lock_guard guard(lock_);
            closing_ = true;
        }
        wake_.notify_one();
        if (thread_.joinable()) thread_.join();
    }
    bool failed() const { return failed_.load(); }
    std::int64_t written() const { return written_.load(); }

private:
    void work() {
        std::unique_lock guard(lock_);
        for (;;) {
            wake_.wait(guard, [this] { return closing_ || !queue_.empty(); });
            if (queue_.empty()) return;
            Prepared find = std::move(queue_.front());
            queue_.pop_front();
            guard.unlock();
            if (!failed_.load()) write(find);
            guard.lock();
        }
    }
    void write(const Prepared& find);

    const fs::path folder_;
    std::int64_t next_;
    std::ostream& out_;
    std::ostream& err_;
    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<Prepared> queue_;
    bool closing_ = false;
    std::atomic<bool> failed_{false};
    std::atomic<std::int64_t> written_{0};
    std::thread thread_;  // last: starts once the rest is built
};

class Gallery {
public:
    Gallery(const GalleryOptions& o, std::ostream& out, std::ostream& err)
        : o_(o), out_(out), err_(err), pool_(o.threads) {
        thumbSettings_.mode = o.mode;
        thumbSettings_.width = o.thumbWidth;
        thumbSettings_.height = o.thumbHeight;
        thumbSettings_.iterations = o.iterations;
        loadDefaultGradients(dataFolders(programFolder(), DataEnvironment::current()),
                             thumbSettings_.speedGradient, thumbSettings_.angleGradient);
    }

    int run();

private:
    // Thumbnails of the parameter files' texts and their scenes, rendered on the pool; no
    // thumbnail where the orbit diverges.
    std::vector<Rendered> renderThumbnails(const std::vector<std::string>& files,
                                           std::vector<FindFacts>* measured);
    // A find's thumbnail, scene and encoded PNG, on a pool thread.
    Prepared prepare(const Find& find) const;
    // How many rounds the next batch searches: about what the missing finds need, going by the
    // finds per round so far, and within the trials left.
    int roundsFor(std::int64_t missing, const LaneSearch& search, std::int64_t found) const;
    // Reads every find of the folder; a find without a readable thumbnail gets one.
    std::vector<FolderFind> readFolder();
    bool writeSheet(const std::vector<FolderFind>& finds);
    bool writePage(const std::vector<FolderFind>& finds);

    const GalleryOptions& o_;
    std::ostream& out_;
    std::ostream& err_;
    WorkerPool pool_;
    ThumbnailSettings thumbSettings_;
};

std::vector<Rendered> Gallery::renderThumbnails(const std::vector<std::string>& files,
                                                std::vector<FindFacts>* measured) {
    std::vector<Rendered> thumbs(files.size());
    if (measured) measured->assign(files.size(), {});
    pool_.run(static_cast<std::int64_t>(files.size()), [&](std::int64_t i) {
        const auto index = static_cast<std::size_t>(i);
        auto parser = makeAttractorParser();
        LoadResult loaded = loadAttractorText(*parser, ReadStatus::Ok, files[index]);
        if (!loaded) return;
        if (measured) {
            // The estimates of a file found elsewhere: measured as "info" does, from state 0.
            threadRandom31().state = 0;
            loaded.attractor->measure();
            (*measured)[index] = {kindKeyword(loaded.attractor->kindCode()),
                                  loaded.attractor->lyapunov(), loaded.attractor->dimension(), 0};
        }
        Rendered& r = thumbs[index];
        r.thumb = renderThumbnail(*loaded.attractor, thumbSettings_);
        if (r.thumb) r.scene = sceneText(*loaded.attractor, thumbnailScene(*r.thumb));
    });
    return thumbs;
}

void FindWriter::write(const Prepared& find) {
    // Both names must be free: a name that another program took meanwhile passes the find on
    // to the next number, and no file is ever replaced.
    fs::path path, thumbPath;
    const WriteResult written = writeNumberedPair(folder_, next_, {kFindExtension, find.scene},
                                                  {kThumbExtension, find.png}, path, thumbPath);
    if (!written) {
        err_ << "quillmere-cli gallery: cannot write " << path.string() << ": "
             << describeWrite(written) << '\n';
        failed_ = true;
        return;
    }
    out_ << "found: " << path.string() << '\n'
         << "thumbnail: " << thumbPath.string() << '\n'
         << "score: " << formatNumber(find.facts.score) << '\n'
         << std::flush;
    ++next_;
    ++written_;
}

std::vector<FolderFind> Gallery::readFolder() {
    std::vector<FolderFind> finds;
    std::vector<std::string> missingFiles;
    std::vector<std::size_t> missingAt;
    const std::map<std::int64_t, std::string> names = folderFinds(o_.out);
    // The thumbnails are decoded on the pool: a few hundred of them take a while on one core.
    std::vector<std::pair<std::int64_t, std::string>> listed(names.begin(), names.end());
    std::vector<QImage> images(listed.size());
    pool_.run(static_cast<std::int64_t>(listed.size()), [&](std::int64_t i) {
        const auto at = static_cast<std::size_t>(i);
        const fs::path thumbPath = o_.out / numberedFileName(listed[at].first, kThumbExtension);
        if (!images[at].load(QString::fromStdString(thumbPath.string()), "PNG"))
            images[at] = QImage();
    });
    for (std::size_t at = 0; at < listed.size(); ++at) {
        const auto& [n, name] = listed[at];
        FolderFind f;
        f.number = n;
        f.file = name;
        const QImage& image = images[at];
        std::optional<double> l, d, s;
        if (!image.isNull()) {
            l = readNumberText(image, "Lyapunov");
            d = readNumberText(image, "Dimension");
            s = readNumberText(image, "Score");
        }
        if (l && d && s) {
            f.facts = {image.text("Kind").toStdString(), *l, *d, *s};
            f.thumb = image;
        } else {
            std::string text;
            if (name.ends_with(kFindExtension)) {
                // The scene's attractor, as a parameter file, to measure and draw.
                SceneLoad scene = loadScene(o_.out / name);
                std::ostringstream params;
                if (!scene || !writeAttractor(*makeAttractorParser(), *scene.attractor, params))
                    continue;
                text = params.str();
            } else if (readTextFile(o_.out / name,
                                    TextLimits{kMaxAttractorFileBytes, kMaxAttractorFileLines},
                                    text) != ReadStatus::Ok) {
                continue;
            }
            missingFiles.push_back(std::move(text));
            missingAt.push_back(finds.size());
        }
        finds.push_back(std::move(f));
    }
    if (missingFiles.empty()) return finds;

    // Finds of other programs (a search, an older gallery): measured and drawn now; their
    // thumbnail is written where the name is free.
    std::vector<FindFacts> measured;
    const auto thumbs = renderThumbnails(missingFiles, &measured);
    std::vector<FolderFind> complete;
    for (std::size_t i = 0; i < missingFiles.size(); ++i) {
        FolderFind& f = finds[missingAt[i]];
        f.facts = measured[i];
        if (!thumbs[i].thumb) {
            f.facts.kind += " (diverges)";
            f.thumb = QImage(o_.thumbWidth, o_.thumbHeight, QImage::Format_RGB888);
            f.thumb.fill(Qt::black);
            continue;
        }
        f.facts.score = thumbs[i].thumb->score.score;
        if (const auto png = thumbnailPng(*thumbs[i].thumb, f.facts, thumbs[i].scene)) {
            writeFileAtomically(o_.out / numberedFileName(f.number, kThumbExtension), *png,
                                Replace::Never);
            f.thumb.loadFromData(reinterpret_cast<const uchar*>(png->data()),
                                 static_cast<int>(png->size()), "PNG");
        }
    }
    return finds;
}

bool Gallery::writeSheet(const std::vector<FolderFind>& finds) {
    const int columns = std::clamp(static_cast<int>(finds.size()), 1, kSheetColumns);
    const int rows =
        std::max(1, static_cast<int>((finds.size() + kSheetColumns - 1) / kSheetColumns));
    const int cellWidth = o_.thumbWidth + 8, cellHeight = o_.thumbHeight + kCaptionHeight + 8;
    QImage sheet(columns * cellWidth, rows * cellHeight, QImage::Format_RGB888);
    sheet.fill(QColor(24, 24, 28));
    {
        QPainter painter(&sheet);
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(11);
        font.setHintingPreference(QFont::PreferFullHinting);
        painter.setFont(font);
        painter.setPen(QColor(220, 220, 220));
        for (std::size_t i = 0; i < finds.size(); ++i) {
            const FolderFind& f = finds[i];
            const int x = static_cast<int>(i % kSheetColumns) * cellWidth + 4;
            const int y = static_cast<int>(i / kSheetColumns) * cellHeight + 4;
            painter.drawImage(QRect(x, y, o_.thumbWidth, o_.thumbHeight), f.thumb);
            const std::string first = numberedFileName(f.number, "") + "  " + f.facts.kind;
            const std::string second = "L " + fixed(f.facts.lyapunov, 3) + "  D " +
                                       fixed(f.facts.dimension, 2) + "  score " +
                                       fixed(f.facts.score, 2);
            painter.drawText(QRect(x, y + o_.thumbHeight + 2, o_.thumbWidth, 15),
                             Qt::AlignLeft | Qt::AlignVCenter, QString::fromStdString(first));
            painter.drawText(QRect(x, y + o_.thumbHeight + 17, o_.thumbWidth, 15),
                             Qt::AlignLeft | Qt::AlignVCenter, QString::fromStdString(second));
        }
    }
    const auto png = encodePng(sheet);
    const fs::path path = o_.out / "sheet.png";
    const WriteResult written =
        png ? writeFileAtomically(path, *png) : WriteResult{WriteStatus::WriteFailed, 0};
    if (!written) {
        err_ << "quillmere-cli gallery: cannot write " << path.string() << ": "
             << describeWrite(written) << '\n';
        return false;
    }
    out_ << "sheet: " << path.string() << '\n';
    return true;
}

bool Gallery::writePage(const std::vector<FolderFind>& finds) {
    std::ostringstream html;
    html << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
         << "<title>Quillmere gallery</title>\n<style>\n"
         << "body { background: #18181c; color: #dcdcdc; font-family: sans-serif; }\n"
         << "main { display: grid; grid-template-columns: repeat(auto-fill, minmax("
         << o_.thumbWidth + 8 << "px, 1fr)); gap: 12px; }\n"
         << "figure { margin: 0; } figcaption { font-size: 12px; } a { color: #9cc3ff; }\n"
         << "</style>\n</head>\n<body>\n<h1>Quillmere gallery</h1>\n<main>\n";
    for (const FolderFind& f : finds) {
        const std::string& params = f.file;
        const std::string thumb = numberedFileName(f.number, kThumbExtension);
        html << "<figure><a href=\"" << params << "\"><img src=\"" << thumb << "\" width=\""
             << f.thumb.width() << "\" height=\"" << f.thumb.height() << "\" alt=\"" << f.facts.kind
             << "\"></a>\n<figcaption><a href=\"" << params << "\">" << params << "</a> "
             << f.facts.kind << "<br>Lyapunov " << fixed(f.facts.lyapunov, 3) << " · dimension "
             << fixed(f.facts.dimension, 2) << " · score " << fixed(f.facts.score, 2)
             << "</figcaption></figure>\n";
    }
    html << "</main>\n</body>\n</html>\n";
    const fs::path path = o_.out / "index.html";
    const WriteResult written = writeFileAtomically(path, html.str());
    if (!written) {
        err_ << "quillmere-cli gallery: cannot write " << path.string() << ": "
             << describeWrite(written) << '\n';
        return false;
    }
    out_ << "page: " << path.string() << '\n';
    return true;
}

Prepared Gallery::prepare(const Find& find) const {
    Prepared p;
    auto parser = makeAttractorParser();
    LoadResult loaded = loadAttractorText(*parser, ReadStatus::Ok, find.file);
    if (!loaded) return p;
    const std::optional<Thumbnail> thumb = renderThumbnail(*loaded.attractor, thumbSettings_);
    if (!thumb) return p;
    p.scene = sceneText(*loaded.attractor, thumbnailScene(*thumb));
    p.facts = {kindKeyword(find.kind), find.lyapunov, find.dimension, thumb->score.score};
    // Encoded here, on the pool: the sheet's fonts stay on the main thread, images need none.
    if (thumb->score.score < o_.minScore) return p;
    auto png = thumbnailPng(*thumb, p.facts, p.scene);
    if (!png || p.scene.empty()) return p;
    p.png = std::move(*png);
    p.rendered = true;
    return p;
}

int Gallery::roundsFor(std::int64_t missing, const LaneSearch& search, std::int64_t found) const {
    constexpr int kMaxRounds = 16;
    const std::int64_t done = static_cast<std::int64_t>(search.rounds());
    std::int64_t rounds = kMaxRounds;
    // Half the expected need, so that a batch seldom searches much beyond the last find.
    if (found > 0)
        rounds = (missing * done + 2 * found - 1) / (2 * found);
    else if (done < kMaxRounds)
        rounds = std::max<std::int64_t>(done, 1);
    const std::int64_t perRound =
        std::int64_t{search.settings().lanes} * search.settings().trialsPerRound;
    const std::int64_t left = (o_.maxTrials - search.trials() + perRound - 1) / perRound;
    return static_cast<int>(std::clamp<std::int64_t>(std::min(rounds, left), 1, kMaxRounds));
}

int Gallery::run() {
    const std::int64_t next = std::max({highestFileNumber(o_.out, kFindExtension),
                                        highestFileNumber(o_.out, kParameterExtension),
                                        highestFileNumber(o_.out, kThumbExtension)}) +
                              1;
    DiscoverySettings settings;
    settings.kind = o_.kind;
    settings.option = o_.option.value_or(0);
    settings.percent = o_.percent;
    settings.seed = o_.seed;
    LaneSearch search(settings);
    const std::atomic<bool> never{false};
    const auto start = std::chrono::steady_clock::now();
    FindWriter writer(o_.out, next, out_, err_);

    // The finds come out in a fixed order and are taken in it, so the folder depends on the
    // seed alone. Each batch on the pool draws the thumbnails of the finds waiting (no more
    // than can still be taken) and, while finds are still missing, searches further rounds;
    // the writer thread meanwhile writes what passed.
    std::deque<Find> waiting;
    std::int64_t taken = 0, found = 0;
    while (taken < o_.count && !writer.failed()) {
        const auto draw =
            static_cast<std::size_t>(std::min<std::int64_t>(o_.count - taken, waiting.size()));
        std::vector<Find> drawing(std::make_move_iterator(waiting.begin()),
                                  std::make_move_iterator(waiting.begin() + draw));
        waiting.erase(waiting.begin(), waiting.begin() + draw);
        std::vector<Prepared> prepared(draw);
        const auto thumbnail = [&](std::int64_t i) {
            const auto at = static_cast<std::size_t>(i);
            prepared[at] = prepare(drawing[at]);
        };
        const std::int64_t inHand = taken + static_cast<std::int64_t>(draw + waiting.size());
        const bool searching = inHand < o_.count && search.trials() < o_.maxTrials;
        if (searching) {
            std::vector<Find> finds =
                search.runRounds(pool_, never, roundsFor(o_.count - inHand, search, found),
                                 static_cast<std::int64_t>(draw), thumbnail);
            found += static_cast<std::int64_t>(finds.size());
            for (Find& f : finds) waiting.push_back(std::move(f));
        } else if (draw > 0) {
            pool_.run(static_cast<std::int64_t>(draw), thumbnail);
        } else {
            break;  // no find waits, and the trials are spent
        }
        for (Prepared& p : prepared) {
            if (!p.rendered) continue;
            writer.push(std::move(p));
            ++taken;
        }
    }
    writer.finish();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::int64_t written = writer.written();

    // The sheet and the page cover every find in the folder, this run's and earlier ones.
    const std::vector<FolderFind> all = readFolder();
    const bool sheet = writeSheet(all);
    const bool page = writePage(all);
    out_ << "trials: " << search.trials() << '\n';
    out_ << "found: " << written << '\n';
    out_ << "seconds: " << formatNumber(seconds) << '\n';
    out_ << "trials_per_second: " << formatNumber(seconds > 0 ? search.trials() / seconds : 0.0)
         << '\n';
    if (writer.failed() || !sheet || !page) return kExitWriteFailed;
    if (written < o_.count) {
        err_ << "quillmere-cli gallery: " << written << " of " << o_.count << " finds within "
             << o_.maxTrials << " trials\n";
        return kExitNotReached;
    }
    return kExitOk;
}

}  // namespace

int runGallery(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    auto parsed = parseOptions(args);
    if (auto* problem = std::get_if<std::string>(&parsed)) {
        err << "quillmere-cli gallery: " << *problem << '\n';
        return kExitUsage;
    }
    const GalleryOptions& o = std::get<GalleryOptions>(parsed);
    std::error_code ec;
    fs::create_directories(o.out, ec);
    if (ec || !fs::is_directory(o.out)) {
        err << "quillmere-cli gallery: cannot use " << o.out.string() << " as the output folder\n";
        return kExitWriteFailed;
    }

    // The sheet's captions need fonts, which need a GUI application; the offscreen platform
    // gives one without a display.
    std::optional<QGuiApplication> application;
    static int argc = 1;
    static char name[] = "quillmere-cli";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        application.emplace(argc, argv);
    }
    // Qt's notes on its own set-up (no runtime folder, ...) are not the tool's messages.
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext&, const QString& message) {
            if (type == QtCriticalMsg || type == QtFatalMsg)
                std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
        });
    struct Restore {
        QtMessageHandler handler;
        ~Restore() { qInstallMessageHandler(handler); }
    } restore{previous};
    try {
        Gallery gallery(o, out, err);
        return gallery.run();
    } catch (const std::bad_alloc&) {
        err << "quillmere-cli gallery: not enough memory\n";
        return kExitNoMemory;
    }
}

}  // namespace qm::cli

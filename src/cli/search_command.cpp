// quillmere-cli search: the document's search command, headless, on one or more threads.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <string_view>
#include <thread>
#include <variant>
#include <vector>

#include "cli/arguments.h"
#include "cli/cli.h"
#include "cli/commands.h"
#include "cli/search_options.h"
#include "core/attractor/attractor.h"
#include "core/file/attractor_file.h"
#include "core/file/numbered_files.h"

namespace qm::cli {

namespace {

using SearchOptions = SearchBasics;

// The options, or an error text.
std::variant<SearchOptions, std::string> parseOptions(const std::vector<std::string>& args) {
    Arguments a;
    if (auto problem = a.parse(
            args, {"kind", "option", "count", "randomness", "max-trials", "seed", "threads", "out"},
            {}))
        return *problem;
    if (!a.positional().empty()) return "unexpected argument '" + a.positional().front() + "'";

    SearchOptions o;
    if (auto problem = readSearchOptions(a, o, false)) return *problem;
    const bool ifs = o.kind == static_cast<int>(AttractorKind::IFS);
    const bool sprott = o.kind == static_cast<int>(AttractorKind::PolynomialSprott);
    if (!o.option) o.option = ifs ? 4 : sprott ? 2 : 0;
    return o;
}

// Restarts the attractor and runs the document's preview sampling (500 iterations dropped,
// 20000 kept); true when the orbit stayed bounded throughout.
bool sampleStaysBounded(Attractor& a) {
    constexpr std::int32_t kSampling = 20500;
    std::array<Vecd, 512> block;
    a.restart();
    for (std::int32_t done = 0; done < kSampling && !a.diverged();)
        done += a.iterateBlock(block.data(), std::min<std::int32_t>(512, kSampling - done));
    return !a.diverged();
}

constexpr std::string_view kFindExtension = ".qmattr";

struct Shared {
    std::int64_t firstNumber = 1;  // after the highest find already in the folder
    std::mutex outputLock;
    std::atomic<std::int64_t> trials{0};
    std::atomic<std::int64_t> found{0};
    std::atomic<bool> failed{false};
    std::string failure;
};

// Thread i's share of T trials on J threads: T / J, and one more for the first T mod J threads,
// so that every trial of the budget runs and a thread's share does not depend on the others'.
std::int64_t trialBudget(std::int64_t total, int threads, int i) {
    return total / threads + (i < total % threads ? 1 : 0);
}

// Thread i: finds i + 1, i + 1 + J, ... up to K, within its share of the trials. They are
// numbered from the first number free in the folder on, and a name another program took
// meanwhile passes to the next free number: no find ever replaces a file.
void searchThread(const SearchOptions& o, int i, Shared& shared, std::ostream& out) {
    seedRandom31(o.seed + static_cast<std::uint32_t>(i));
    auto attractor =
        createAttractor(static_cast<std::int8_t>(o.kind), static_cast<std::int8_t>(*o.option));
    auto parser = makeAttractorParser();
    const double amount = o.percent / 100.0;
    const std::int64_t budget = trialBudget(o.maxTrials, o.threads, i);
    std::int64_t trials = 0;
    for (std::int64_t number = i + 1; number <= o.count && !shared.failed.load();) {
        if (trials >= budget) break;
        ++trials;
        shared.trials.fetch_add(1, std::memory_order_relaxed);
        if (!attractor->search(amount)) continue;
        if (!sampleStaysBounded(*attractor)) continue;  // not counted; the search goes on
        std::ostringstream text;
        const FileResult filled = writeAttractor(*parser, *attractor, text);
        std::int64_t fileNumber = shared.firstNumber + number - 1;
        std::filesystem::path path = o.out / numberedFileName(fileNumber, kFindExtension);
        const WriteResult written =
            filled ? writeNumberedFile(o.out, fileNumber, kFindExtension, text.str(), path)
                   : WriteResult{};
        std::lock_guard lock(shared.outputLock);
        if (!filled || !written) {
            shared.failure = path.string() + ": " +
                             (filled ? describe(written.status == WriteStatus::NotRegular
                                                    ? FileStatus::NotRegular
                                                    : FileStatus::WriteFailed,
                                                written.systemError)
                                     : describe(filled.status, filled.systemError));
            shared.failed = true;
            return;
        }
        out << "found: " << path.string() << '\n' << std::flush;
        shared.found.fetch_add(1, std::memory_order_relaxed);
        number += o.threads;
    }
}

}  // namespace

int runSearch(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    auto parsed = parseOptions(args);
    if (auto* problem = std::get_if<std::string>(&parsed)) {
        err << "quillmere-cli search: " << *problem << '\n';
        return kExitUsage;
    }
    const SearchOptions& o = std::get<SearchOptions>(parsed);
    std::error_code ec;
    std::filesystem::create_directories(o.out, ec);
    if (ec || !std::filesystem::is_directory(o.out)) {
        err << "quillmere-cli search: cannot use " << o.out.string() << " as the output folder";
        if (ec) err << " (" << ec.message() << ")";
        err << '\n';
        return kExitWriteFailed;
    }

    // The seed first: any run can be repeated with it.
    out << "seed: " << o.seed << '\n' << std::flush;
    Shared shared;
    shared.firstNumber = highestFileNumber(o.out, kFindExtension) + 1;
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (int i = 0; i < o.threads; ++i)
        threads.emplace_back(searchThread, std::cref(o), i, std::ref(shared), std::ref(out));

    // Progress on a terminal only; the output stays machine-readable.
    std::atomic<bool> done{false};
    std::thread progress;
    if (isatty(STDERR_FILENO)) {
        progress = std::thread([&] {
            while (!done.load()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(250));
                std::lock_guard lock(shared.outputLock);
                err << "\rtrials: " << shared.trials.load() << ", found " << shared.found.load()
                    << " of " << o.count << std::flush;
            }
            err << '\n';
        });
    }
    for (std::thread& t : threads) t.join();
    done = true;
    if (progress.joinable()) progress.join();

    if (shared.failed) {
        err << "quillmere-cli search: cannot write " << shared.failure << '\n';
        return kExitWriteFailed;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::int64_t trials = shared.trials.load();
    out << "trials: " << trials << '\n';
    out << "accepted: " << shared.found.load() << '\n';
    out << "seconds: " << formatNumber(seconds) << '\n';
    out << "trials_per_second: " << formatNumber(seconds > 0 ? trials / seconds : 0.0) << '\n';
    if (shared.found.load() < o.count) {
        err << "quillmere-cli search: the budget of " << o.maxTrials << " trials ran out: found "
            << shared.found.load() << " of " << o.count << " sets\n";
        return kExitNotReached;
    }
    return kExitOk;
}

}  // namespace qm::cli

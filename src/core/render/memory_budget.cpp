#include "core/render/memory_budget.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "core/render/bitmap3d.h"
#include "core/render/render_engine.h"

namespace qm {

namespace {

constexpr std::uint64_t kUnlimited = ~std::uint64_t{0};

std::uint64_t physicalMemory() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0) return kUnlimited;
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
}

std::uint64_t parseCount(std::string_view text) {
    std::uint64_t v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    return ec == std::errc() && end != text.data() ? v : kUnlimited;
}

// A "Name:   1234 kB" field of /proc/self/status in bytes; 0 when it is missing.
std::uint64_t statusBytes(std::string_view field) {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);) {
        if (!line.starts_with(field) || line.size() <= field.size() || line[field.size()] != ':')
            continue;
        const auto digits = line.find_first_of("0123456789");
        if (digits == std::string::npos) return 0;
        const std::uint64_t kb = parseCount(std::string_view(line).substr(digits));
        return kb == kUnlimited ? 0 : kb * 1024;
    }
    return 0;
}

// What a resource limit leaves above the current use; unlimited when there is no limit.
std::uint64_t rlimitRoom(int resource, std::string_view statusField) {
    rlimit limit{};
    if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kUnlimited;
    const std::uint64_t used = statusBytes(statusField);
    return limit.rlim_cur > used ? limit.rlim_cur - used : 0;
}

std::uint64_t readCount(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string word;
    if (!(in >> word)) return kUnlimited;  // "max", or no such file
    return parseCount(word);
}

// A "key value" line of a control group's memory.stat; unlimited when it is missing.
std::uint64_t statCount(const std::filesystem::path& file, std::string_view key) {
    std::ifstream in(file);
    std::string name;
    std::uint64_t value = 0;
    while (in >> name >> value)
        if (name == key) return value;
    return kUnlimited;
}

// The least room that the memory limits of a control group and its ancestors leave above the
// group's anonymous memory (its page cache gives way to a render, so it does not count).
std::uint64_t groupRoom(const std::filesystem::path& root, const std::string& group,
                        const char* limitFile, std::string_view anonKey) {
    std::filesystem::path dir = root;
    if (group.size() > 1) dir /= group.substr(1);
    std::uint64_t room = kUnlimited;
    for (;;) {
        const std::uint64_t max = readCount(dir / limitFile);
        const std::uint64_t used = statCount(dir / "memory.stat", anonKey);
        if (max != kUnlimited && used != kUnlimited)
            room = std::min(room, max > used ? max - used : 0);
        if (dir == root || !dir.has_relative_path()) break;
        dir = dir.parent_path();
    }
    return room;
}

// The room under the process's control group: memory.max in the unified hierarchy (v2), or
// memory.limit_in_bytes in the memory controller's (v1, where "no limit" is a huge number).
std::uint64_t controlGroupRoom() {
    std::ifstream in("/proc/self/cgroup");
    std::uint64_t room = kUnlimited;
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("0::/")) {
            room =
                std::min(room, groupRoom("/sys/fs/cgroup", line.substr(3), "memory.max", "anon"));
        } else if (const auto at = line.find(":memory:/"); at != std::string::npos) {
            room = std::min(room, groupRoom("/sys/fs/cgroup/memory", line.substr(at + 8),
                                            "memory.limit_in_bytes", "total_rss"));
        }
    }
    return room;
}

}  // namespace

std::uint64_t imageEncoderBytes(std::int32_t width, std::int32_t height) {
    return 3 * static_cast<std::uint64_t>(width & 0xFFFC) *
           static_cast<std::uint64_t>(std::max(height, 0));
}

std::uint64_t gasThreadSumBytes(std::int32_t width, std::int32_t height) {
    return 8 * static_cast<std::uint64_t>(width & 0xFFFC) *
           static_cast<std::uint64_t>(std::max(height, 0));
}

bool gasThreadSumsFit(std::uint64_t perThreadBytes, std::int32_t threads,
                      std::uint64_t budgetBytes) {
    const auto n = static_cast<std::uint64_t>(std::max(threads, 1));
    return perThreadBytes <= budgetBytes / 2 / n;
}

std::uint64_t renderMemoryNeed(int mode, std::int32_t width, std::int32_t height,
                               std::int32_t streams, std::int32_t threads,
                               std::uint64_t budgetBytes) {
    const bool fixed = static_cast<RenderMode>(mode) == RenderMode::Gas && streams > 1;
    std::uint64_t need = renderTargetBytes(mode, width, height, fixed);
    if (fixed) {
        // The engine's own rule (render_engine.cpp), for the threads it would start.
        const std::int32_t n =
            std::clamp(threads <= 0 ? defaultThreadCount() : threads, 1, kMaxThreads);
        const std::uint64_t perThread = gasThreadSumBytes(width, height);
        if (gasThreadSumsFit(perThread, n, budgetBytes))
            need += static_cast<std::uint64_t>(n) * perThread;
    }
    return need;
}

std::uint64_t imageMemoryNeed(int mode, std::int32_t width, std::int32_t height,
                              std::int32_t streams, std::int32_t threads) {
    return renderMemoryNeed(mode, width, height, streams, threads, memoryBudget().bytes) +
           imageEncoderBytes(width, height);
}

MemoryBudget memoryBudget() {
    const std::uint64_t physical = physicalMemory();
    MemoryBudget budget{physical == kUnlimited ? kUnlimited : physical / 2,
                        MemoryLimit::HalfPhysical};
    const auto tighten = [&budget](std::uint64_t room, MemoryLimit limit) {
        if (room < budget.bytes) budget = {room, limit};
    };
    tighten(rlimitRoom(RLIMIT_AS, "VmSize"), MemoryLimit::AddressSpace);
    tighten(rlimitRoom(RLIMIT_DATA, "VmData"), MemoryLimit::DataSegment);
    tighten(controlGroupRoom(), MemoryLimit::ControlGroup);
    return budget;
}

}  // namespace qm

#include "core/render/state/render_state_file.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <limits>
#include <new>
#include <span>
#include <string>

#include "core/file/input_file.h"

namespace qm {

namespace {

static_assert(std::endian::native == std::endian::little,
              "the state file stores floats and doubles in the machine's byte order");

// Bounds of what a state can declare; anything beyond is a damaged file, not a big one.
constexpr std::uint64_t kMaxTextBytes = 64ull << 20;
constexpr std::uint64_t kMaxValuesBytes = 16ull << 20;
constexpr std::uint32_t kMaxStreamRecords = 65536;
constexpr std::uint32_t kMaxBuffers = 256;
constexpr std::uint32_t kMaxNameBytes = 64;
// 2^52 floats: 256 such buffers still add up to less than 2^64 bytes.
constexpr std::uint64_t kMaxBufferElements = std::uint64_t{1} << 52;

constexpr std::size_t kChunk = std::size_t{1} << 18;     // compressed bytes per write or read
constexpr std::size_t kZlibStep = std::size_t{1} << 30;  // bytes per zlib call (uInt counts)
constexpr int kCompressionLevel = Z_BEST_SPEED;

// Header field offsets.
enum : std::size_t {
    kAtVersion = 8,
    kAtHeaderSize = 12,
    kAtFileSize = 16,
    kAtIterations = 24,
    kAtDevelopments = 32,
    kAtTextSize = 40,
    kAtStreamSize = 48,
    kAtRecordSize = 56,
    kAtStreamCount = 60,
    kAtValuesSize = 64,
    kAtDirectorySize = 72,
    kAtDataSize = 80,
    kAtBufferCount = 88,
    kAtTextCrc = 92,
    kAtStreamCrc = 96,
    kAtValuesCrc = 100,
    kAtDirectoryCrc = 104,
    kAtHeaderCrc = 108,
};

std::uint32_t crc(std::uint32_t running, const void* data, std::size_t size) {
    return static_cast<std::uint32_t>(
        crc32_z(running, static_cast<const Bytef*>(data), static_cast<z_size_t>(size)));
}

std::uint32_t crcOf(std::string_view bytes) {
    return crc(crc32_z(0, nullptr, 0), bytes.data(), bytes.size());
}

// ---------------------------------------------------------------------------------------------
// Little-endian encoding

class Bytes {
public:
    void u32(std::uint32_t v) { raw(&v, 4); }
    void u64(std::uint64_t v) { raw(&v, 8); }
    void f32(float v) { raw(&v, 4); }
    void f64(double v) { raw(&v, 8); }
    void vec(const Vecd& v) {
        f64(v.x);
        f64(v.y);
        f64(v.z);
    }
    void text(std::string_view s) {
        u32(static_cast<std::uint32_t>(s.size()));
        out.append(s);
    }
    void raw(const void* p, std::size_t n) { out.append(static_cast<const char*>(p), n); }
    void put32(std::size_t at, std::uint32_t v) { std::memcpy(&out[at], &v, 4); }
    void put64(std::size_t at, std::uint64_t v) { std::memcpy(&out[at], &v, 8); }

    std::string out;
};

class Reader {
public:
    explicit Reader(std::string_view bytes) : rest_(bytes) {}
    bool u32(std::uint32_t& v) { return raw(&v, 4); }
    bool u64(std::uint64_t& v) { return raw(&v, 8); }
    bool f32(float& v) { return raw(&v, 4); }
    bool f64(double& v) { return raw(&v, 8); }
    bool vec(Vecd& v) { return f64(v.x) && f64(v.y) && f64(v.z); }
    bool text(std::string& s, std::uint64_t maxBytes) {
        std::uint32_t n = 0;
        if (!u32(n) || n > maxBytes || n > rest_.size()) return false;
        s.assign(rest_.substr(0, n));
        rest_.remove_prefix(n);
        return true;
    }
    bool raw(void* p, std::size_t n) {
        if (rest_.size() < n) return false;
        std::memcpy(p, rest_.data(), n);
        rest_.remove_prefix(n);
        return true;
    }
    bool done() const { return rest_.empty(); }

private:
    std::string_view rest_;
};

std::uint32_t get32(const char* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

std::uint64_t get64(const char* p) {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

// ---------------------------------------------------------------------------------------------
// Sections

std::string textSection(const RenderState& s) {
    Bytes b;
    b.text(s.scene);
    b.u32(static_cast<std::uint32_t>(s.settings.size()));
    for (const auto& [key, value] : s.settings) {
        b.text(key);
        b.text(value);
    }
    return std::move(b.out);
}

bool parseTextSection(std::string_view bytes, RenderState& s) {
    Reader r(bytes);
    std::uint32_t count = 0;
    if (!r.text(s.scene, kMaxTextBytes) || !r.u32(count) || count > bytes.size() / 8) return false;
    s.settings.resize(count);
    for (auto& [key, value] : s.settings)
        if (!r.text(key, kMaxTextBytes) || !r.text(value, kMaxTextBytes)) return false;
    return r.done();
}

bool streamsFit(const RenderState& s) {
    return s.streams.size() <= kMaxStreamRecords &&
           std::all_of(s.streams.begin(), s.streams.end(), [](const StreamState& r) {
               return r.orbitMemory.size() <= kMaxOrbitMemory;
           });
}

std::string streamSection(const RenderState& s) {
    Bytes b;
    for (const StreamState& r : s.streams) {
        b.vec(r.point);
        b.u64(r.random);
        b.u64(r.count);
        b.u32(r.diverged ? 1u : 0u);
        b.u32(static_cast<std::uint32_t>(r.orbitMemory.size()));
        b.vec(r.before);
        b.vec(r.last);
        b.f32(r.plotColor.r);
        b.f32(r.plotColor.g);
        b.f32(r.plotColor.b);
        b.u32(0);
        for (std::size_t i = 0; i < kMaxOrbitMemory; ++i)
            b.f64(i < r.orbitMemory.size() ? r.orbitMemory[i] : 0.0);
    }
    return std::move(b.out);
}

bool parseStreamSection(std::string_view bytes, std::uint32_t count, RenderState& s) {
    Reader r(bytes);
    s.streams.resize(count);
    for (StreamState& record : s.streams) {
        std::uint32_t flags = 0, memorySize = 0, padding = 0;
        if (!r.vec(record.point) || !r.u64(record.random) || !r.u64(record.count) ||
            !r.u32(flags) || !r.u32(memorySize) || !r.vec(record.before) || !r.vec(record.last) ||
            !r.f32(record.plotColor.r) || !r.f32(record.plotColor.g) ||
            !r.f32(record.plotColor.b) || !r.u32(padding))
            return false;
        if (flags > 1 || memorySize > kMaxOrbitMemory) return false;
        record.orbitMemory.resize(kMaxOrbitMemory);
        for (double& v : record.orbitMemory)
            if (!r.f64(v)) return false;
        record.orbitMemory.resize(memorySize);
        record.diverged = flags == 1;
    }
    return r.done();
}

std::string valuesSection(const RenderState& s) {
    Bytes b;
    b.u32(static_cast<std::uint32_t>(s.values.size()));
    for (const StateValues& v : s.values) {
        b.text(v.name);
        b.u32(static_cast<std::uint32_t>(v.values.size()));
        for (double x : v.values) b.f64(x);
    }
    return std::move(b.out);
}

bool parseValuesSection(std::string_view bytes, RenderState& s) {
    Reader r(bytes);
    std::uint32_t count = 0;
    if (!r.u32(count) || count > bytes.size() / 8) return false;
    s.values.resize(count);
    for (StateValues& v : s.values) {
        std::uint32_t n = 0;
        if (!r.text(v.name, kMaxNameBytes) || !r.u32(n) || n > bytes.size() / 8) return false;
        v.values.resize(n);
        for (double& x : v.values)
            if (!r.f64(x)) return false;
    }
    return r.done();
}

struct DirectoryEntry {
    std::string name;
    std::uint64_t elements = 0;
    std::uint64_t compressedSize = 0;
    std::uint32_t crc = 0;
};

std::string directorySection(const std::vector<DirectoryEntry>& entries) {
    Bytes b;
    for (const DirectoryEntry& e : entries) {
        b.text(e.name);
        b.u64(e.elements);
        b.u64(e.compressedSize);
        b.u32(e.crc);
    }
    return std::move(b.out);
}

bool parseDirectory(std::string_view bytes, std::uint32_t count, std::vector<DirectoryEntry>& out) {
    Reader r(bytes);
    out.resize(count);
    for (DirectoryEntry& e : out)
        if (!r.text(e.name, kMaxNameBytes) || !r.u64(e.elements) || !r.u64(e.compressedSize) ||
            !r.u32(e.crc) || e.elements > kMaxBufferElements)
            return false;
    return r.done();
}

// Compresses one buffer into the writer; fills the entry's compressed size and checksum.
bool writeCompressed(FileSink& writer, const StateBuffer& buffer, DirectoryEntry& entry) {
    z_stream z{};
    if (deflateInit(&z, kCompressionLevel) != Z_OK) return false;
    std::string out(kChunk, '\0');
    // A buffer kept interleaved with another in the target goes through a run of its own
    // floats, gathered a piece at a time.
    const bool strided = !buffer.borrowed.empty() && buffer.stride > 1;
    std::vector<float> gathered;
    std::size_t next = 0;
    const auto* in = strided ? nullptr : reinterpret_cast<const Bytef*>(buffer.data().data());
    std::size_t left = buffer.size() * sizeof(float);
    std::uint32_t running = crc32_z(0, nullptr, 0);
    bool ok = true;
    for (;;) {
        if (z.avail_in == 0 && left > 0) {
            if (strided) {
                const std::size_t count = std::min(left / sizeof(float), kChunk / sizeof(float));
                gathered.resize(count);
                for (std::size_t i = 0; i < count; ++i) gathered[i] = buffer[next + i];
                next += count;
                in = reinterpret_cast<const Bytef*>(gathered.data());
            }
            const std::size_t step =
                strided ? gathered.size() * sizeof(float) : std::min(left, kZlibStep);
            z.next_in = const_cast<Bytef*>(in);
            z.avail_in = static_cast<uInt>(step);
            in += step;
            left -= step;
        }
        z.next_out = reinterpret_cast<Bytef*>(out.data());
        z.avail_out = static_cast<uInt>(out.size());
        const int rc = deflate(&z, left == 0 ? Z_FINISH : Z_NO_FLUSH);
        if (rc == Z_STREAM_ERROR) {
            ok = false;
            break;
        }
        const std::size_t produced = out.size() - z.avail_out;
        running = crc(running, out.data(), produced);
        if (produced > 0 && !writer.write(std::string_view(out.data(), produced))) {
            ok = false;
            break;
        }
        entry.compressedSize += produced;
        if (rc == Z_STREAM_END) break;
    }
    deflateEnd(&z);
    entry.crc = running;
    return ok;
}

// ---------------------------------------------------------------------------------------------
// Reading

// The outcome of reading n bytes of an input file, as a state read's status.
StateReadStatus readFrom(InputFile& file, void* into, std::size_t n, int& error) {
    if (file.read(into, n) == ReadStatus::Ok) return StateReadStatus::Ok;
    error = file.systemError();
    return StateReadStatus::ReadFailed;  // shrunk since it was opened, or failed
}

// Inflates the next entry.compressedSize bytes into exactly entry.elements floats.
StateReadStatus readCompressed(InputFile& file, const DirectoryEntry& entry,
                               std::vector<float>& values, int& error) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return StateReadStatus::TooLarge;
    std::string in(kChunk, '\0');
    auto* out = reinterpret_cast<Bytef*>(values.data());
    std::size_t outLeft = values.size() * sizeof(float);
    Bytef spill[16];  // takes any output past the declared size
    bool overflow = false, ended = false;
    std::uint64_t inLeft = entry.compressedSize;
    std::uint32_t running = crc32_z(0, nullptr, 0);
    StateReadStatus status = StateReadStatus::Ok;
    while (inLeft > 0 && status == StateReadStatus::Ok) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(inLeft, in.size()));
        status = readFrom(file, in.data(), n, error);
        if (status != StateReadStatus::Ok) break;
        inLeft -= n;
        running = crc(running, in.data(), n);
        if (ended) {  // bytes after the end of the stream
            status = StateReadStatus::Corrupt;
            break;
        }
        z.next_in = reinterpret_cast<Bytef*>(in.data());
        z.avail_in = static_cast<uInt>(n);
        while (z.avail_in > 0) {
            if (outLeft > 0) {
                const std::size_t step = std::min(outLeft, kZlibStep);
                z.next_out = out;
                z.avail_out = static_cast<uInt>(step);
            } else {
                z.next_out = spill;
                z.avail_out = sizeof spill;
            }
            const bool spilling = outLeft == 0;
            const uInt before = z.avail_out, inBefore = z.avail_in;
            const int rc = inflate(&z, Z_NO_FLUSH);
            const std::size_t produced = before - z.avail_out;
            const bool stuck = produced == 0 && inBefore == z.avail_in;
            if (spilling && produced > 0) overflow = true;
            if (!spilling) {
                out += produced;
                outLeft -= produced;
            }
            if (rc == Z_STREAM_END) {
                ended = true;
                if (z.avail_in > 0) overflow = true;  // trailing bytes
                break;
            }
            if (rc == Z_MEM_ERROR) {
                inflateEnd(&z);
                return StateReadStatus::TooLarge;
            }
            if (rc != Z_OK && rc != Z_BUF_ERROR) {
                overflow = true;
                break;
            }
            if (stuck) overflow = true;
            if (overflow) break;
        }
        if (overflow) status = StateReadStatus::Corrupt;
    }
    inflateEnd(&z);
    if (status != StateReadStatus::Ok) return status;
    if (running != entry.crc || !ended || outLeft != 0) return StateReadStatus::Corrupt;
    return StateReadStatus::Ok;
}

std::uint64_t readMemAvailable() {
    std::ifstream in("/proc/meminfo");
    std::string key;
    std::uint64_t kib = 0;
    std::string unit;
    while (in >> key >> kib >> unit)
        if (key == "MemAvailable:") return kib * 1024;
    return 0;
}

}  // namespace

std::uint64_t availableMemoryBytes() {
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    // The kernel's estimate of what can be allocated without swapping counts reclaimable cache;
    // the free pages alone would refuse a state on any machine that has been up a while.
    std::uint64_t available = readMemAvailable();
    if (available == 0) {
        const long pages = sysconf(_SC_AVPHYS_PAGES);
        available = pages > 0 && pageSize > 0
                        ? static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize)
                        : std::numeric_limits<std::uint64_t>::max();
    }
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        std::uint64_t used = 0;
        std::ifstream statm("/proc/self/statm");
        if (statm >> used) used *= static_cast<std::uint64_t>(pageSize > 0 ? pageSize : 4096);
        const std::uint64_t cap = limit.rlim_cur > used ? limit.rlim_cur - used : 0;
        available = std::min(available, cap);
    }
    return available;
}

WriteResult writeRenderState(const std::filesystem::path& path, const RenderState& state) {
    // What no reader would take back is not written.
    if (!streamsFit(state) || state.buffers.size() > kMaxBuffers)
        return {WriteStatus::WriteFailed, EINVAL};
    const std::string text = textSection(state);
    const std::string streams = streamSection(state);
    const std::string values = valuesSection(state);
    std::vector<DirectoryEntry> entries;
    for (const StateBuffer& b : state.buffers) entries.push_back({b.name, b.size(), 0, 0});
    const std::uint64_t directorySize = directorySection(entries).size();

    // The file goes out piece by piece: each buffer is compressed straight into it, and the
    // directory and the header, whose sizes and checksums are known only then, are written
    // over their placeholders at the end.
    bool compressed = true;
    const WriteResult written = writeFileInPieces(path, [&](FileSink& out) {
        out.write(std::string(kRenderStateHeaderSize, '\0'));
        out.write(text);
        out.write(streams);
        out.write(values);
        const std::uint64_t directoryAt = out.size();
        out.write(std::string(directorySize, '\0'));
        std::uint64_t dataSize = 0;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            entries[i].compressedSize = 0;
            if (!writeCompressed(out, state.buffers[i], entries[i])) {
                compressed = out.error() != 0;
                return false;
            }
            dataSize += entries[i].compressedSize;
        }
        const std::string directory = directorySection(entries);

        Bytes h;
        h.raw(kRenderStateMagic, 8);
        h.u32(state.version);
        h.u32(kRenderStateHeaderSize);
        h.u64(out.size());
        h.u64(state.iterationsDone);
        h.u64(state.developmentsDone);
        h.u64(text.size());
        h.u64(streams.size());
        h.u32(kStreamRecordSize);
        h.u32(static_cast<std::uint32_t>(state.streams.size()));
        h.u64(values.size());
        h.u64(directory.size());
        h.u64(dataSize);
        h.u32(static_cast<std::uint32_t>(entries.size()));
        h.u32(crcOf(text));
        h.u32(crcOf(streams));
        h.u32(crcOf(values));
        h.u32(crcOf(directory));
        h.u32(crcOf(h.out));
        return out.writeAt(directoryAt, directory) && out.writeAt(0, h.out);
    });
    // zlib failing by itself can only be a lack of memory.
    if (!written && !compressed) return {WriteStatus::WriteFailed, ENOMEM};
    return written;
}

StateReadResult readRenderState(const std::filesystem::path& path, RenderState& state,
                                const StateReadOptions& options) {
    auto fail = [](StateReadStatus status, int error = 0) {
        StateReadResult r;
        r.status = status;
        r.systemError = error;
        return r;
    };

    // Open without waiting on a pipe or a device, and read only a regular file.
    InputFile file;
    switch (file.open(path)) {
        case ReadStatus::Ok:
            break;
        case ReadStatus::NotRegular:
            return fail(StateReadStatus::NotRegularFile);
        case ReadStatus::CannotOpen:
            return fail(StateReadStatus::CannotOpen, file.systemError());
        default:
            return fail(StateReadStatus::ReadFailed, file.systemError());
    }
    const std::uint64_t fileSize = file.size();

    // Header: magic, version, then the rest under its checksum.
    char header[kRenderStateHeaderSize];
    const auto headerBytes =
        static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, sizeof header));
    int error = 0;
    if (auto s = readFrom(file, header, headerBytes, error); s != StateReadStatus::Ok)
        return fail(s, error);
    if (std::memcmp(header, kRenderStateMagic, std::min<std::size_t>(headerBytes, 8)) != 0)
        return fail(StateReadStatus::NotAState);
    if (headerBytes < kAtHeaderSize) return fail(StateReadStatus::Truncated);
    if (const std::uint32_t version = get32(header + kAtVersion); version != kRenderStateVersion) {
        StateReadResult r = fail(StateReadStatus::OtherVersion);
        r.version = version;
        return r;
    }
    if (headerBytes < sizeof header) return fail(StateReadStatus::Truncated);
    if (get32(header + kAtHeaderSize) != kRenderStateHeaderSize ||
        get32(header + kAtHeaderCrc) != crcOf(std::string_view(header, kAtHeaderCrc)))
        return fail(StateReadStatus::Corrupt);
    const std::uint64_t declaredSize = get64(header + kAtFileSize);
    if (fileSize < declaredSize) return fail(StateReadStatus::Truncated);
    if (fileSize > declaredSize) return fail(StateReadStatus::Corrupt);

    // Declared sizes: each within its bounds, and together exactly the file.
    const std::uint64_t textSize = get64(header + kAtTextSize);
    const std::uint64_t streamSize = get64(header + kAtStreamSize);
    const std::uint32_t streamCount = get32(header + kAtStreamCount);
    const std::uint64_t valuesSize = get64(header + kAtValuesSize);
    const std::uint64_t directorySize = get64(header + kAtDirectorySize);
    const std::uint64_t dataSize = get64(header + kAtDataSize);
    const std::uint32_t bufferCount = get32(header + kAtBufferCount);
    if (get32(header + kAtRecordSize) != kStreamRecordSize || streamCount > kMaxStreamRecords ||
        streamSize != std::uint64_t{streamCount} * kStreamRecordSize || textSize > kMaxTextBytes ||
        valuesSize > kMaxValuesBytes || bufferCount > kMaxBuffers ||
        directorySize > std::uint64_t{bufferCount} * (4 + kMaxNameBytes + 20))
        return fail(StateReadStatus::Corrupt);
    const std::uint64_t sectionsEnd =
        kRenderStateHeaderSize + textSize + streamSize + valuesSize + directorySize;
    if (sectionsEnd > fileSize || fileSize - sectionsEnd != dataSize)
        return fail(StateReadStatus::Corrupt);

    // The small sections, each under its checksum.
    std::string sections(static_cast<std::size_t>(sectionsEnd - kRenderStateHeaderSize), '\0');
    if (auto s = readFrom(file, sections.data(), sections.size(), error); s != StateReadStatus::Ok)
        return fail(s, error);
    const std::string_view all(sections);
    const std::string_view textBytes = all.substr(0, textSize);
    const std::string_view streamBytes = all.substr(textSize, streamSize);
    const std::string_view valuesBytes = all.substr(textSize + streamSize, valuesSize);
    const std::string_view directoryBytes = all.substr(textSize + streamSize + valuesSize);
    if (crcOf(textBytes) != get32(header + kAtTextCrc) ||
        crcOf(streamBytes) != get32(header + kAtStreamCrc) ||
        crcOf(valuesBytes) != get32(header + kAtValuesCrc) ||
        crcOf(directoryBytes) != get32(header + kAtDirectoryCrc))
        return fail(StateReadStatus::Corrupt);

    RenderState read;
    read.version = kRenderStateVersion;
    read.iterationsDone = get64(header + kAtIterations);
    read.developmentsDone = get64(header + kAtDevelopments);
    std::vector<DirectoryEntry> entries;
    if (!parseTextSection(textBytes, read) || !parseStreamSection(streamBytes, streamCount, read) ||
        !parseValuesSection(valuesBytes, read) ||
        !parseDirectory(directoryBytes, bufferCount, entries))
        return fail(StateReadStatus::Corrupt);

    // The buffers: their compressed sizes add up to the data, their plain sizes fit in memory.
    std::uint64_t compressed = 0, needed = sections.size();
    for (const DirectoryEntry& e : entries) {
        if (e.compressedSize > dataSize - compressed) return fail(StateReadStatus::Corrupt);
        compressed += e.compressedSize;
        needed += e.elements * sizeof(float);  // at most 256 * 2^54: no overflow
    }
    if (compressed != dataSize) return fail(StateReadStatus::Corrupt);
    const std::uint64_t limit = options.memoryLimit ? options.memoryLimit : availableMemoryBytes();
    if (needed > limit) {
        StateReadResult r = fail(StateReadStatus::TooLarge);
        r.neededBytes = needed;
        return r;
    }

    read.buffers.reserve(entries.size());
    for (const DirectoryEntry& e : entries) {
        StateBuffer* buffer = nullptr;
        try {
            buffer =
                &read.addBuffer(e.name, std::vector<float>(static_cast<std::size_t>(e.elements)));
        } catch (const std::bad_alloc&) {
            StateReadResult r = fail(StateReadStatus::TooLarge);
            r.neededBytes = needed;
            return r;
        }
        if (auto s = readCompressed(file, e, buffer->values, error); s != StateReadStatus::Ok)
            return fail(s, error);
    }
    state = std::move(read);
    return {};
}

}  // namespace qm

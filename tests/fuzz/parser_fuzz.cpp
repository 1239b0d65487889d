// Fuzz target of the attractor-file reader. Any input must either fail cleanly or load an
// attractor that runs, that writes a file which loads again, and whose second writing is
// the same text as its first (the round trip is stable). The same input read as a scene must
// fail cleanly or give a scene whose text reads back to the same scene and text.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <locale>
#include <sstream>
#include <string>

#include "core/attractor/attractor.h"
#include "core/file/attractor_file.h"
#include "core/scene/scene_file.h"

namespace {

#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (false)

std::string write(qm::Parser& parser, const qm::Attractor& attractor) {
    std::ostringstream out;
    out.imbue(std::locale::classic());
    FUZZ_CHECK(qm::writeAttractor(parser, attractor, out));
    return std::move(out).str();
}

qm::LoadResult read(qm::Parser& parser, const std::string& text) {
    std::istringstream in(text);
    in.imbue(std::locale::classic());
    return qm::readAttractor(parser, in);
}

void checkScene(const std::string& input) {
    const qm::SceneLoad scene = qm::readScene(input);
    if (!scene) {
        FUZZ_CHECK(scene.status != qm::FileStatus::Ok);
        return;
    }
    const std::string first = qm::sceneText(*scene.attractor, scene.render);
    FUZZ_CHECK(!first.empty());
    const qm::SceneLoad again = qm::readScene(first);
    FUZZ_CHECK(again.attractor != nullptr);
    FUZZ_CHECK(again.render == scene.render);
    FUZZ_CHECK(qm::sceneText(*again.attractor, again.render) == first);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    checkScene(std::string(reinterpret_cast<const char*>(data), size));
    // One parser for every input, as a document keeps one for its whole life: nothing left
    // from an earlier file may leak into the next.
    static const std::unique_ptr<qm::Parser> parser = qm::makeAttractorParser();

    const std::string input(reinterpret_cast<const char*>(data), size);
    qm::LoadResult loaded = read(*parser, input);
    if (!loaded) {
        FUZZ_CHECK(loaded.status != qm::FileStatus::Ok);
        return 0;
    }
    qm::Attractor& a = *loaded.attractor;
    for (const qm::ParamEntry& e : a.params()) {
        if (e.type != qm::ParamType::Double) FUZZ_CHECK(e.get() >= e.min() && e.get() <= e.max());
    }

    const std::string first = write(*parser, a);
    qm::LoadResult again = read(*parser, first);
    FUZZ_CHECK(again.attractor != nullptr);
    qm::Attractor& b = *again.attractor;
    FUZZ_CHECK(b.kindCode() == a.kindCode());
    FUZZ_CHECK(b.params().count() == a.params().count());
    const std::string second = write(*parser, b);
    FUZZ_CHECK(second == first);

    // Whatever the values, a loaded attractor must run without faults.
    a.restart();
    for (int i = 0; i < 200 && !a.diverged(); ++i) a.iterate();
    return 0;
}

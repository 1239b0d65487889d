#include "gui/render_autosave.h"

#include <signal.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <string>

namespace qm::gui {

namespace fs = std::filesystem;

namespace {
const std::string kPrefix = "render-";
const std::string kExtension = ".qmrender";
}  // namespace

fs::path autosaveFolder() {
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && state[0] == '/')
        return fs::path(state) / "quillmere";
    const char* home = std::getenv("HOME");
    const fs::path base =
        home && home[0] ? fs::path(home) : fs::path(QDir::homePath().toStdString());
    return base / ".local" / "state" / "quillmere";
}

fs::path autosavePath(std::int64_t document) {
    return autosaveFolder() /
           (kPrefix + std::to_string(::getpid()) + "-" + std::to_string(document) + kExtension);
}

std::int64_t autosaveOwner(const fs::path& file) {
    const std::string name = file.filename().string();
    if (name.size() <= kPrefix.size() + kExtension.size() || !name.starts_with(kPrefix) ||
        !name.ends_with(kExtension))
        return 0;
    const char* first = name.data() + kPrefix.size();
    const char* last = name.data() + name.size() - kExtension.size();
    std::int64_t pid = 0;
    const auto [end, error] = std::from_chars(first, last, pid);
    if (error != std::errc() || end == last || *end != '-' || pid <= 0 || pid > 0x7fffffff)
        return 0;
    std::int64_t document = 0;
    const auto [end2, error2] = std::from_chars(end + 1, last, document);
    if (error2 != std::errc() || end2 != last) return 0;
    return pid;
}

QStringList orphanedAutosaves() {
    QDir folder(QString::fromStdString(autosaveFolder().string()));
    const QFileInfoList files = folder.entryInfoList({QStringLiteral("render-*.qmrender")},
                                                     QDir::Files, QDir::Time | QDir::Reversed);
    QStringList orphans;
    for (const QFileInfo& info : files) {
        const std::int64_t pid = autosaveOwner(info.fileName().toStdString());
        if (pid == 0) continue;
        // Alive (or someone else's, which EPERM says): not ours to take.
        if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
        orphans.append(info.absoluteFilePath());
    }
    return orphans;
}

double storedAutosaveSeconds() {
    const QSettings settings(QSettings::NativeFormat, QSettings::UserScope,
                             QStringLiteral("Quillmere"), QStringLiteral("Quillmere"));
    bool ok = false;
    const double minutes = settings.value(QStringLiteral("Render/autosave_minutes")).toDouble(&ok);
    if (!ok) return kDefaultAutosaveMinutes * 60;
    return minutes > 0 ? minutes * 60 : 0;
}

}  // namespace qm::gui

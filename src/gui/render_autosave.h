// The program's autosaved renders: while a render runs, its worker writes the render's state
// every few minutes into a per-user folder, one file per document render, named after the
// process and the document so that two instances never share one. A file whose process is no
// longer alive is what a crash left: the program offers to resume it at its next start.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <filesystem>

namespace qm::gui {

// Minutes between autosaves unless the settings say otherwise.
inline constexpr double kDefaultAutosaveMinutes = 5;

// $XDG_STATE_HOME/quillmere, else ~/.local/state/quillmere (not created here).
std::filesystem::path autosaveFolder();
// The file of a render of document `document` in this process.
std::filesystem::path autosavePath(std::int64_t document);
// The process that wrote an autosave file, from its name; 0 when the name is not one.
std::int64_t autosaveOwner(const std::filesystem::path& file);
// The autosave files in the folder whose owner is not alive, oldest first.
QStringList orphanedAutosaves();

// The interval between autosaves, in seconds, from the program's settings
// ("Render/autosave_minutes"; 0 or less turns autosave off).
double storedAutosaveSeconds();

}  // namespace qm::gui

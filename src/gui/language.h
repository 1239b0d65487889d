// The interface language: which module of texts the program loads, and the user's choice.
//
// French is built in. Another language is a module file named after the program file with the
// language's code as extension: "quillmere.ENU", else "quillmere.EN", beside the program or in
// the installed data folders (core/file/data_location.h).
// The choice is stored per program file, under "Locales" in the user's settings, by the full
// path of the program (percent-encoded, since a settings key may not hold a slash).
#pragma once

#include <QLocale>
#include <QString>

#include <memory>
#include <optional>

class QSettings;

namespace qm::gui {

class LanguageSettings {
public:
    // The user's settings file in the configuration folder ($XDG_CONFIG_HOME, else ~/.config).
    // Where a settings file is not a regular file (a pipe would block the program as it
    // starts), nothing is read and nothing can be stored.
    LanguageSettings();
    // Another settings file.
    explicit LanguageSettings(const QString& fileName);
    ~LanguageSettings();
    LanguageSettings(const LanguageSettings&) = delete;
    LanguageSettings& operator=(const LanguageSettings&) = delete;

    std::optional<QString> stored(const QString& programPath) const;
    // False when the settings file could not be written.
    bool store(const QString& programPath, const QString& code);
    QString fileName() const;

private:
    std::unique_ptr<QSettings> settings_;  // none when a file is not a regular file
    QString fileName_;
};

// Two or three ASCII letters: anything else would name some other file than a module.
bool isLanguageCode(const QString& code);
// The locale's abbreviated language name: "ENU" for English, "FRA" for French, else the ISO
// 639-2 code in capitals ("DEU"); empty for the C locale.
QString abbreviatedLanguageName(const QLocale& locale);
// The program file with its extension replaced by the code, taken from the first data folder
// that holds it (beside the program first); the path beside the program when none does.
QString languageModulePath(const QString& programPath, const QString& code);

// Loads the module of a language into the string table: the three-letter name, then its first
// two letters ("EN" tries ENU then EN; "ENU" the same). Returns the module loaded; when none
// loads, or for an invalid code, the built-in French texts are restored and the result is empty.
QString loadLanguage(const QString& programPath, const QString& code);
// At start, before any window: the stored language, or the locale's when none is stored.
// A stored language without a module gives French.
QString loadStartLanguage(const LanguageSettings& settings, const QString& programPath,
                          const QLocale& locale);
// Whether the language dialog is shown at start: nothing stored, or a stored "FRA" or "ENU".
bool languageCheckNeeded(const LanguageSettings& settings, const QString& programPath);

}  // namespace qm::gui

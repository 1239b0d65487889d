#include "gui/language.h"

#include <sys/stat.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QTranslator>
#include <QUrl>

#include <algorithm>

#include "core/file/data_location.h"
#include "core/strings/language_module.h"
#include "core/strings/string_table.h"

namespace qm::gui {

namespace {

const QString kGroup = QStringLiteral("Locales");

// Something other than a regular file stands at path (a missing file is not special).
bool isSpecialFile(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && !S_ISREG(st.st_mode);
}

// The program's path percent-encoded once: the file reads "%2Fusr%2Fbin%2Fquillmere=EN".
QString settingsKey(const QString& programPath) {
    return kGroup + QLatin1Char('/') + QString::fromLatin1(QUrl::toPercentEncoding(programPath));
}

// The key as earlier versions wrote it: the toolkit's own settings format encoded the
// percent signs again ("%252Fusr...").
QString oldSettingsKey(const QString& programPath) {
    return kGroup + QLatin1Char('/') +
           QString::fromLatin1(QUrl::toPercentEncoding(QUrl::toPercentEncoding(programPath)));
}

// The settings file: sections and "key=value" lines, keys written as they are given (they are
// already percent-encoded, which the toolkit's own format would encode a second time).
bool readSettings(QIODevice& device, QSettings::SettingsMap& map) {
    QString section;
    while (!device.atEnd()) {
        const QString line = QString::fromUtf8(device.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) ||
            line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            section = line.mid(1, line.size() - 2).trimmed();
            if (section.compare(QLatin1String("General"), Qt::CaseInsensitive) == 0)
                section.clear();
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0) continue;
        QString key = line.left(equals).trimmed();
        key.replace(QLatin1Char('\\'), QLatin1Char('/'));
        QString value = line.mid(equals + 1).trimmed();
        if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) &&
            value.endsWith(QLatin1Char('"')))
            value = value.mid(1, value.size() - 2);
        map.insert(section.isEmpty() ? key : section + QLatin1Char('/') + key, value);
    }
    return true;
}

bool writeSettings(QIODevice& device, const QSettings::SettingsMap& map) {
    // Grouped by section (the key's first part); the map is sorted, so sections stay together.
    QString current;
    bool first = true;
    QByteArray out;
    for (auto it = map.constBegin(); it != map.constEnd(); ++it) {
        const qsizetype slash = it.key().indexOf(QLatin1Char('/'));
        const QString section = slash < 0 ? QStringLiteral("General") : it.key().left(slash);
        QString key = slash < 0 ? it.key() : it.key().mid(slash + 1);
        key.replace(QLatin1Char('/'), QLatin1Char('\\'));
        if (first || section != current) {
            if (!first) out += '\n';
            out += '[' + section.toUtf8() + "]\n";
            current = section;
            first = false;
        }
        QString value = it.value().toString();
        if (value != value.trimmed() || value.contains(QLatin1Char(';')) ||
            value.contains(QLatin1Char('\n')))
            value = QLatin1Char('"') + value.remove(QLatin1Char('\n')) + QLatin1Char('"');
        out += key.toUtf8() + '=' + value.toUtf8() + '\n';
    }
    return device.write(out) == out.size();
}

QSettings::Format settingsFormat() {
    static const QSettings::Format format =
        QSettings::registerFormat(QStringLiteral("conf"), readSettings, writeSettings);
    return format;
}

// The module of one code, when the file is there and is a module.
bool loadModule(const QString& path) {
    std::string error;
    auto module = readLanguageModule(std::filesystem::path(path.toStdString()), &error);
    if (!module) {
        if (QFileInfo::exists(path)) qWarning("%s: %s", qPrintable(path), error.c_str());
        return false;
    }
    for (const std::string& problem : module->problems)
        qWarning("%s: %s", qPrintable(path), problem.c_str());
    strings().setOverrides(std::move(module->texts));
    return true;
}

// The texts of the toolkit that its French catalogue lacks: the file type column of the file
// dialogs ("Folder") comes from a context the catalogue does not have.
class MissingToolkitTexts final : public QTranslator {
public:
    QString translate(const char* context, const char* source, const char* = nullptr,
                      int = -1) const override {
        if (qstrcmp(context, "QAbstractFileIconProvider") != 0) return {};
        static const std::pair<const char*, int> texts[] = {{"Folder", TextId::kToolkitFolder},
                                                            {"File Folder", TextId::kToolkitFolder},
                                                            {"Drive", TextId::kToolkitDrive},
                                                            {"Shortcut", TextId::kToolkitShortcut},
                                                            {"Unknown", TextId::kToolkitUnknown}};
        for (const auto& [english, id] : texts)
            if (qstrcmp(source, english) == 0) return QString::fromStdString(text(id));
        return {};
    }
    bool isEmpty() const override { return false; }
};

// The toolkit's own texts (the file dialogs, the buttons of message boxes) follow the
// program's: French with the built-in texts, the toolkit's English otherwise.
void followToolkitLanguage() {
    static QTranslator* installed = nullptr;
    static QTranslator* missing = nullptr;
    if (!QCoreApplication::instance()) return;
    for (QTranslator** t : {&installed, &missing}) {
        if (!*t) continue;
        QCoreApplication::removeTranslator(*t);
        delete *t;
        *t = nullptr;
    }
    if (!strings().isFrench()) return;
    auto translator = std::make_unique<QTranslator>();
    if (translator->load(QStringLiteral("qtbase_fr"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)) &&
        QCoreApplication::installTranslator(translator.get()))
        installed = translator.release();
    auto extra = std::make_unique<MissingToolkitTexts>();
    if (QCoreApplication::installTranslator(extra.get())) missing = extra.release();
}

QString loadModuleOrFrench(const QString& programPath, const QString& code) {
    if (isLanguageCode(code)) {
        QString threeLetters = code.toUpper();
        if (threeLetters.size() == 2)
            threeLetters = abbreviatedLanguageName(QLocale(code.toLower()));
        QStringList tried;
        for (const QString& name : {threeLetters, threeLetters.left(2), code.toUpper()}) {
            if (name.size() < 2 || tried.contains(name)) continue;
            tried.append(name);
            const QString path = languageModulePath(programPath, name);
            if (loadModule(path)) return path;
        }
    }
    strings().clearOverrides();
    return {};
}

}  // namespace

LanguageSettings::LanguageSettings() {
    // The files QSettings reads for this organisation and application, user's then system's;
    // it opens them as it is built, so they are looked at first.
    QStringList files;
    for (const QString& folder : QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation)) {
        files << folder + QStringLiteral("/Quillmere/Quillmere.conf") << folder + QStringLiteral("/Quillmere.conf");
    }
    fileName_ = files.value(0);
    if (std::any_of(files.begin(), files.end(), isSpecialFile)) return;
    settings_ =
        std::make_unique<QSettings>(settingsFormat(), QSettings::UserScope,
                                    QStringLiteral("Quillmere"), QStringLiteral("Quillmere"));
    fileName_ = settings_->fileName();
}

LanguageSettings::LanguageSettings(const QString& fileName) : fileName_(fileName) {
    if (!isSpecialFile(fileName))
        settings_ = std::make_unique<QSettings>(fileName, settingsFormat());
}

LanguageSettings::~LanguageSettings() = default;

std::optional<QString> LanguageSettings::stored(const QString& programPath) const {
    if (!settings_) return std::nullopt;
    QVariant value = settings_->value(settingsKey(programPath));
    if (!value.isValid()) value = settings_->value(oldSettingsKey(programPath));
    if (!value.isValid()) return std::nullopt;
    return value.toString();
}

bool LanguageSettings::store(const QString& programPath, const QString& code) {
    if (!settings_) return false;
    settings_->setValue(settingsKey(programPath), code);
    settings_->remove(oldSettingsKey(programPath));
    settings_->sync();
    return settings_->status() == QSettings::NoError;
}

QString LanguageSettings::fileName() const {
    return fileName_;
}

bool isLanguageCode(const QString& code) {
    if (code.size() < 2 || code.size() > 3) return false;
    return std::all_of(code.begin(), code.end(), [](QChar c) {
        return (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
               (c >= QLatin1Char('a') && c <= QLatin1Char('z'));
    });
}

QString abbreviatedLanguageName(const QLocale& locale) {
    switch (locale.language()) {
        case QLocale::C:
        case QLocale::AnyLanguage:
            return {};
        case QLocale::English:
            return QStringLiteral("ENU");
        case QLocale::French:
            return QStringLiteral("FRA");
        default:
            return QLocale::languageToCode(locale.language(), QLocale::ISO639Part2T).toUpper();
    }
}

QString languageModulePath(const QString& programPath, const QString& code) {
    const QFileInfo program(programPath);
    const QString base =
        program.suffix().isEmpty() ? program.fileName() : program.completeBaseName();
    const std::filesystem::path module =
        locateDataFile(std::filesystem::path(program.path().toStdString()),
                       (base + QLatin1Char('.') + code).toStdString());
    return QString::fromStdString(module.string());
}

QString loadLanguage(const QString& programPath, const QString& code) {
    QString module = loadModuleOrFrench(programPath, code);
    followToolkitLanguage();
    return module;
}

QString loadStartLanguage(const LanguageSettings& settings, const QString& programPath,
                          const QLocale& locale) {
    if (const auto code = settings.stored(programPath)) return loadLanguage(programPath, *code);
    const QString name = abbreviatedLanguageName(locale);
    return loadLanguage(programPath, name.isEmpty() ? QStringLiteral("FR") : name);
}

bool languageCheckNeeded(const LanguageSettings& settings, const QString& programPath) {
    const auto code = settings.stored(programPath);
    return !code || *code == QLatin1String("FRA") || *code == QLatin1String("ENU");
}

}  // namespace qm::gui

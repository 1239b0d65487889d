#include "core/strings/language_module.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "core/strings/string_table.h"

namespace qm {
namespace {

std::vector<std::string> placeholders(const std::string& text) {
    static const std::regex placeholder("%[sud]");
    std::vector<std::string> found;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), placeholder);
         it != std::sregex_iterator(); ++it)
        found.push_back(it->str());
    return found;
}

// The module the build puts beside the programs must be whole: every text, the same
// placeholders and accelerators as the French, and the file keywords untouched.
TEST(LanguageModule, EnglishModuleCarriesEveryTextAndKeepsTheKeywords) {
    std::string error;
    const auto module = readLanguageModule(std::string(QM_DATA_DIR) + "/quillmere.ENU", &error);
    ASSERT_TRUE(module) << error;
    EXPECT_TRUE(module->problems.empty()) << module->problems.front();
    for (const int id : StringTable::builtinIds()) {
        SCOPED_TRACE(id);
        const auto it = module->texts.find(id);
        ASSERT_NE(it, module->texts.end());
        const std::string& french = StringTable::builtinText(id);
        EXPECT_EQ(placeholders(it->second), placeholders(french));
        EXPECT_EQ(std::count(it->second.begin(), it->second.end(), '&'),
                  std::count(french.begin(), french.end(), '&'));
        EXPECT_EQ(it->second.find('|') != std::string::npos, french.find('|') != std::string::npos);
        if (StringTable::isFileKeyword(id)) {
            EXPECT_EQ(it->second, french);
        }
    }
    EXPECT_EQ(module->texts.size(), StringTable::builtinIds().size());
    EXPECT_EQ(module->texts.at(1801), "Level");
    EXPECT_EQ(module->texts.at(2100), "");
    EXPECT_EQ(module->texts.at(3110), "Untitled ");
}

TEST(LanguageModule, HeaderComesFirstAfterCommentsBlankLinesAndAByteOrderMark) {
    const auto module =
        parseLanguageModule("\xEF\xBB\xBF# English\r\n\r\nquillmere-language 1\r\n1801\tLevel\r\n");
    ASSERT_TRUE(module);
    EXPECT_EQ(module->texts.at(1801), "Level");
    EXPECT_TRUE(module->problems.empty());

    std::string error;
    EXPECT_FALSE(parseLanguageModule("1801\tLevel\nquillmere-language 1\n", &error));
    EXPECT_EQ(error, "line 1: not a language module (\"quillmere-language 1\" expected)");
    EXPECT_FALSE(parseLanguageModule("quillmere-language 2\n1801\tLevel\n"));
    EXPECT_FALSE(
        parseLanguageModule("\x7f"
                            "ELF\x02\x01\x01",
                            &error));
    EXPECT_FALSE(parseLanguageModule("", &error));
    EXPECT_EQ(error, "empty, not a language module");
    EXPECT_FALSE(parseLanguageModule(std::string(kMaxLanguageModuleBytes + 1, '#'), &error));
    EXPECT_EQ(error, "larger than 1 MiB");
}

TEST(LanguageModule, DamagedLinesAreSkippedAndReportedWhileTheRestStands) {
    const auto module = parseLanguageModule(
        "quillmere-language 1\n"
        "1003\tLorenz\n"
        "1801 Level\n"        // no tab
        "18O1\tLevel\n"       // not a number
        "\tLevel\n"           // no id
        "99999\tNobody\n"     // an id no text has
        "2000\tG\xE1z\n"      // Latin-1, not UTF-8
        "2400\tattracteur\n"  // a file keyword
        "1401\tifs\n"         // a file keyword, unchanged
        "2001\tLiquid\n"
        "2001\tFluid\n"                  // twice
        "3110\tUntitled \n"              // a trailing space belongs to the text
        "3021\ta\\tb\\nc\\\\d\\x\\\n");  // escapes; an unknown one and a last backslash stand
    ASSERT_TRUE(module);
    EXPECT_EQ(module->texts.at(1003), "Lorenz");
    EXPECT_EQ(module->texts.at(1401), "ifs");
    EXPECT_EQ(module->texts.at(2001), "Liquid");
    EXPECT_EQ(module->texts.at(3110), "Untitled ");
    EXPECT_EQ(module->texts.at(3021), "a\tb\nc\\d\\x\\");
    EXPECT_FALSE(module->texts.contains(1801));
    EXPECT_FALSE(module->texts.contains(2000));
    EXPECT_FALSE(module->texts.contains(2400));
    EXPECT_EQ(module->problems, (std::vector<std::string>{
                                    "line 3: no tab between the id and the text",
                                    "line 4: \"18O1\" is not a text id",
                                    "line 5: \"\" is not a text id",
                                    "line 6: no text has the id 99999",
                                    "line 7: the text is not UTF-8",
                                    "line 8: the file keyword 2400 keeps its text \"attractor\"",
                                    "line 11: the id 2001 is given twice; the first text stands",
                                }));
}

TEST(LanguageModule, ReadingRefusesWhatIsNotAModuleFile) {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("qm_language_module_test_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    std::string error;
    EXPECT_FALSE(readLanguageModule(dir / "missing.ENU", &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(readLanguageModule(dir, &error));
    EXPECT_EQ(error, "not a regular file (a folder, a device, a pipe or a socket)");
    // A pipe without a writer is refused at once rather than waited on.
    const auto fifo = dir / "fifo.ENU";
    std::filesystem::remove(fifo);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(readLanguageModule(fifo, &error));
    EXPECT_EQ(error, "not a regular file (a folder, a device, a pipe or a socket)");
    {
        std::ofstream big(dir / "big.ENU", std::ios::binary);
        big << kLanguageModuleHeader << '\n' << std::string(kMaxLanguageModuleBytes, '#');
    }
    EXPECT_FALSE(readLanguageModule(dir / "big.ENU", &error));
    EXPECT_EQ(error, "larger than 1 MiB");
    {
        std::ofstream small(dir / "small.ENU", std::ios::binary);
        small << kLanguageModuleHeader << "\n1003\tLorenz\n";
    }
    const auto module = readLanguageModule(dir / "small.ENU");
    ASSERT_TRUE(module);
    EXPECT_EQ(module->texts.size(), 1u);
    std::filesystem::remove_all(dir);
}

TEST(LanguageModule, Utf8Validation) {
    EXPECT_TRUE(isUtf8(""));
    EXPECT_TRUE(isUtf8("Dégr. Vitesse × « » \xF0\x9F\x98\x80"));
    EXPECT_FALSE(isUtf8("\xC3"));              // cut short
    EXPECT_FALSE(isUtf8("\xC3\x28"));          // bad continuation
    EXPECT_FALSE(isUtf8("\xC0\xAF"));          // overlong
    EXPECT_FALSE(isUtf8("\xED\xA0\x80"));      // a surrogate
    EXPECT_FALSE(isUtf8("\xF4\x90\x80\x80"));  // beyond U+10FFFF
    EXPECT_FALSE(isUtf8("\xFF"));
}

}  // namespace
}  // namespace qm

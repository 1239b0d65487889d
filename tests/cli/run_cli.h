// What the tool's tests share: a run of quillmere-cli through its entry point with its output
// captured, its "key: value" lines, a file's bytes, and a fresh temporary folder.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli.h"

namespace qm::cli {

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

// Runs the tool in this process with args after the program name.
inline Outcome runCli(std::vector<std::string> args) {
    args.insert(args.begin(), "quillmere-cli");
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    std::ostringstream out, err;
    const int status = run(static_cast<int>(argv.size()), argv.data(), out, err);
    return {status, out.str(), err.str()};
}

// "key: value" lines; a key given twice keeps its last value.
inline std::map<std::string, std::string> keyValues(const std::string& text) {
    std::map<std::string, std::string> kv;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const auto colon = line.find(": ");
        if (colon != std::string::npos) kv[line.substr(0, colon)] = line.substr(colon + 2);
    }
    return kv;
}

// The whole file; empty when it cannot be read.
inline std::string slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A new, empty folder under the system's temporary folder, named prefix-XXXXXX; the test fails
// when it cannot be made.
inline std::filesystem::path makeTemporaryFolder(std::string_view prefix) {
    // Appended, not added: g++ 12 warns falsely (-Wrestrict) on std::string + "...".
    std::string name(prefix);
    name += "-XXXXXX";
    std::string pattern = (std::filesystem::temp_directory_path() / name).string();
    EXPECT_NE(mkdtemp(pattern.data()), nullptr) << pattern;
    return pattern;
}

}  // namespace qm::cli

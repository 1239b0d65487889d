#include <exception>
#include <iostream>

#include "cli/cli.h"

int main(int argc, char** argv) {
    try {
        return qm::cli::run(argc, argv, std::cout, std::cerr);
    } catch (const std::exception& e) {
        std::cerr << "quillmere-cli: " << e.what() << '\n';
        return 3;
    }
}

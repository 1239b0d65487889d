#include <exception>
#include <iostream>

#include "cli/cli.h"
#include "cli/signals.h"

int main(int argc, char** argv) {
    qm::cli::installStopHandlers();
    try {
        return qm::cli::run(argc, argv, std::cout, std::cerr);
    } catch (const std::exception& e) {
        std::cerr << "quillmere-cli: " << e.what() << '\n';
        return 3;
    }
}

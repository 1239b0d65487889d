#include <cstdio>
#include <exception>
#include <iostream>
#include <new>

#include "cli/cli.h"
#include "cli/signals.h"

int main(int argc, char** argv) {
    qm::cli::installStopHandlers();
    int status = qm::cli::kExitNotReached;
    try {
        status = qm::cli::run(argc, argv, std::cout, std::cerr);
    } catch (const std::bad_alloc&) {
        std::cerr << "quillmere-cli: not enough memory\n";
        return qm::cli::kExitNoMemory;
    } catch (const std::exception& e) {
        std::cerr << "quillmere-cli: " << e.what() << '\n';
        return qm::cli::kExitNotReached;
    }
    // run flushed std::cout through stdout; a failure that stdio kept to itself shows here.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        if (status != qm::cli::kExitWriteFailed)
            std::cerr << "quillmere-cli: cannot write to standard output\n";
        return qm::cli::kExitWriteFailed;
    }
    return status;
}

// Vintrix: packs a folder of sprites into sheets and their atlas data.
#include <csignal>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <iostream>
#include <string>
#include <vector>

#include "error.h"
#include "PackerContract.h"
#include "options.h"
#include "run.h"
#include "watch.h"

int main(int argc, char** argv)
{
    using namespace vintrix;
    // A reader of the progress lines that goes away fails the writes to it
    // and leaves the run to finish, instead of ending it halfway.
    std::signal(SIGPIPE, SIG_IGN);
#if defined(__GLIBC__)
    // One heap for every thread: the threads that decode and compress take
    // few, large blocks, and an arena of their own each would keep its freed
    // mebibytes apart from the others'.
    mallopt(M_ARENA_MAX, 1);
#endif
    const std::vector<std::string> args(argv + 1, argv + argc);
    ParsedCommandLine parsed;
    try {
        parsed = parseCommandLine(args);
    } catch (const Error& e) {
        std::cerr << "error: " << e.what() << '\n';
        return toInt(e.code());
    }
    if (std::holds_alternative<ShowHelp>(parsed)) {
        std::cout << usageText();
        return toInt(ExitCode::Ok);
    }
    if (std::holds_alternative<ShowVersion>(parsed)) {
        std::cout << "Vintrix " << VINTRIX_VERSION << '\n';
        return toInt(ExitCode::Ok);
    }
    const Options& options = std::get<Options>(parsed);
    return toInt(options.watch ? watch(args, options, std::cout, std::cerr) : run(options, std::cout, std::cerr));
}

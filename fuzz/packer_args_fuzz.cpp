// Vintrix's command line: the input is split at NUL bytes into arguments.
// Every list either parses into options, the seven arguments alone
// carrying the name, folder, sizes and margin through unchanged, or gives
// one error line.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "error.h"
#include "fuzz_check.h"
#include "options.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace vintrix;
    using fuzz::check;
    if (size > 4096)
        return 0;
    std::vector<std::string> args = fuzz::split(data, size, std::string_view("\0", 1), 12);
    if (size == 0)
        args.clear();

    ParsedCommandLine parsed;
    try {
        parsed = parseCommandLine(args);
    } catch (const ArgumentError& e) {
        const std::string message = e.what();
        check(!message.empty());
        for (const char c : message)  // one printable line, whatever the arguments held
            check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
        return 0;
    }
    // Without anything that looks like an option, the seven arguments are all there is.
    const bool plain =
        std::none_of(args.begin(), args.end(), [](const std::string& a) { return a.size() > 1 && a[0] == '-'; });
    // The range of each argument is the CLI test's message table.
    if (const auto* o = std::get_if<Options>(&parsed)) {
        check(args.size() >= 7 && o->extrude >= 0);
        if (plain) {
            check(args.size() == 7);
            check(o->name == args[2] && o->folder == args[6]);
            check(std::stoll(args[0]) == o->width && std::stoll(args[1]) == o->height);
            check(std::stoll(args[5]) == o->margin);
        }
    } else {
        check(std::any_of(
            args.begin(), args.end(),
            [](const std::string& a) { return a == "-h" || a == "--help" || a == "--version"; }));
    }
    return 0;
}

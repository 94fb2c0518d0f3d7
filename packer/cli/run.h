#pragma once
// One run of Vintrix: list and decode the images folder, fold duplicates,
// pack, then write each sheet and its atlas data into Output/ under
// temporary names and rename them into place together.

#include <iosfwd>

#include "exit_codes.h"
#include "options.h"

namespace vintrix {

// Writes the summary line to `out` and one "error: " line per failure to `err`.
ExitCode run(const Options& options, std::ostream& out, std::ostream& err);

}  // namespace vintrix

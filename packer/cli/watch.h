#pragma once
// --watch: run, then watch the images folder (its subfolders with
// --recursive, and the settings file) with inotify and run again once
// changes have settled, until SIGINT or SIGTERM ends it, or the folder goes.

#include <iosfwd>

#include "exit_codes.h"
#include "options.h"

namespace vintrix {

// Each run writes its summary line to `out`, or its error lines to `err`; a
// run that fails leaves the earlier output and the watch goes on. Returns
// when the images folder disappears (BadInput), when the first run's
// arguments are refused, or when inotify cannot be set up.
ExitCode watch(const Options& options, std::ostream& out, std::ostream& err);

}  // namespace vintrix

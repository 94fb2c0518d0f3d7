#pragma once
// --watch: run, then watch the images folder (its subfolders with
// --recursive, and the settings file) with inotify and run again once
// changes have settled, until SIGINT or SIGTERM ends it, or the folder goes.

#include <iosfwd>
#include <string>
#include <vector>

#include "PackerContract.h"
#include "options.h"

namespace vintrix {

// `options` are those `args` gave; each later run reads `args` again, so
// that a changed settings file counts. Each run writes its summary line to
// `out`, or its error lines to `err`; a run that fails, or a settings file
// that is refused, leaves the earlier output and the watch goes on. Returns
// when the images folder disappears (BadInput) or when inotify cannot be
// set up.
ExitCode watch(const std::vector<std::string>& args, Options options, std::ostream& out, std::ostream& err);

}  // namespace vintrix

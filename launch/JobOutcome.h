// What the job's window makes of the way the job's shell ended. The progress
// lines Vintrix prints for a pipe are read with ParseProgressLine
// (PackerContract.h). Plain C++; the window only shows what these return.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "PackerContract.h"

namespace vintrix {

// How the job's shell ended: its exit status, or the signal that ended it.
struct ShellEnd {
    bool signaled = false;
    int code = 0;
};

bool Succeeded(ShellEnd end);

// The signal that stopped the job, if it was stopped: the shell itself ended
// by a signal, or reported one that ended Vintrix as a status above 128.
std::optional<int> StoppingSignal(ShellEnd end);

// One plain sentence for the end of the job. `searchPath` is the PATH the
// shell looked for Vintrix in, listed when it was not found.
std::string EndSentence(ShellEnd end, std::string_view searchPath);

}  // namespace vintrix

#pragma once

namespace vintrix {

// The exit status of Vintrix. Scripts and the window rely on these numbers.
enum class ExitCode : int {
    Ok = 0,
    BadArguments = 2,  // an argument is missing or out of range, or the folder can't be read
    BadInput = 3,      // no images, an image can't be decoded, or one can't fit on a sheet
    OutputFailed = 4,  // Output or a file in it could not be written
    Superseded = 5,    // a run of the same name started later put its output in place first; this one's is dropped
};
// A run stopped by SIGINT, SIGTERM or SIGHUP removes its temporary files and
// then ends by that signal, as shells expect.

constexpr int toInt(ExitCode code)
{
    return static_cast<int>(code);
}

}  // namespace vintrix

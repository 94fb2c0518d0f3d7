// Carries a composed command line to the packer: the line is written to the
// script "temp.sh" in the current directory, the job's own window
// (vintrix-job, beside this program) is started detached with that same open
// file as its standard input and runs it with /bin/sh, the user is told where
// the results will appear, and the script's name is removed once the notice
// is closed. The shell reads the very bytes written here: the script is
// created fresh, never through a link nor into a file of another user, and
// the shell does not reopen it by name. This program does not watch the job;
// its window does. Where vintrix-job is missing, /bin/sh is started on the
// script directly, and the job runs without a window.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include <QByteArray>
#include <QString>

namespace vintrix {

inline constexpr char kScriptName[] = "temp.sh";
inline constexpr char kNoticeText[] = "Please see output in /Output folder";

// Shows the notice and returns once the user has closed it.
using ShowNotice = std::function<void(const QString& text)>;

struct LaunchFailure {
    QString reason;
};

// Returns a failure when the script cannot be written, started or deleted;
// the steps after a failed one do not run. `jobName` titles the job's window.
std::optional<LaunchFailure> RunPackJob(
    const std::u16string& line, const ShowNotice& showNotice, const QString& jobName = {});

// Where the job's window program is looked for: beside this program.
QString JobWindowProgram();

// The search path the script runs with: the shell's current directory
// (written ".", so that no folder name can break the list), then the folder
// of this program, where Vintrix is installed beside it, then the inherited
// PATH. A program folder whose name holds ':' cannot be listed and is left
// out.
QByteArray PackerSearchPath();

}  // namespace vintrix

// Carries a composed command line to the packer: the line is written to the
// script "temp.sh" in the current directory, a detached /bin/sh is started on
// it, the user is told where the results will appear, and the script is
// deleted once the notice is closed. The shell holds the script open from the
// moment it starts, so deleting it never races the job; the job's outcome is
// not watched.
#pragma once

#include <functional>
#include <optional>
#include <string>

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
// the steps after a failed one do not run.
std::optional<LaunchFailure> RunPackJob(const std::u16string& line, const ShowNotice& showNotice);

// The search path the script runs with: the current directory, then the
// folder of this program (where Vintrix is installed beside it), then the
// inherited PATH.
QString PackerSearchPath();

}  // namespace vintrix

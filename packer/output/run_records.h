#pragma once
// What a run leaves in the output folder for the runs after it, and the
// formats it is written in: the run's ticket, ".vintrix-sets" (the record of
// which files each NAME wrote last, and the ticket of the run that wrote
// them) and the commit journal (the renames and removals that put a run's
// files in place). Both files begin with a magic line and hold records of
// one letter and NUL-terminated fields; a field is a path inside the output
// folder. output_files.h says how runs use them.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vintrix {

// A run's place in line: the time it started on the monotonic clock, which
// all processes of the machine share, and the boot that clock counts from.
// Taken before the output folder is looked at, so that a run that fails
// early leaves no folder behind.
struct RunTicket {
    std::string boot;  // the kernel's boot id; empty when unknown
    std::uint64_t nanoseconds = 0;

    static RunTicket take();
    // Whether this run started after `other`. A ticket of another boot (or
    // an unknown one) is no later and no earlier than any.
    bool laterThan(const RunTicket& other) const;
};

struct Journal {
    std::vector<std::pair<std::string, std::string>> renames;  // in the run's folder, in the output folder
    std::vector<std::string> removals;
};

// The files a name wrote last, and the ticket of the run that wrote them.
struct NameSet {
    std::vector<std::string> files;
    RunTicket ticket;
};
using Sets = std::map<std::string, NameSet>;

std::string encode(const Journal& j);
// Nothing when the text is not a whole journal: its writer died before the
// rename that makes it one, so it never is.
std::optional<Journal> decodeJournal(const std::string& text);

std::string encode(const Sets& sets);
// Also reads the record written before runs had tickets. Nothing when the
// text is damaged.
std::optional<Sets> decodeSets(const std::string& text);

// The whole of the file at `path`, not through a link; nothing when it
// cannot be read, with errno saying why.
std::optional<std::string> readWhole(const std::string& path);

}  // namespace vintrix

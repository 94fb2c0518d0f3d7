#pragma once
// All files of a run are written into a folder of the run's own inside the
// output folder (".vintrix-run-XXXXXX/") and renamed into place together
// once every one is complete. Until then the earlier output stays as it was;
// on failure, or on SIGINT, SIGTERM or SIGHUP, the run's folder is removed.
//
// Runs that share an output folder take turns through a lock on
// ".vintrix.lock" in it: a run holds it while it sets up its folder, and from
// the moment it decides what to replace and remove until its renames are
// done. Each run holds a lock on a file in its own folder for as long as it
// lives; a run folder whose lock nobody holds was left by a run that died.
//
// A file may lie in folders below the output folder (Godot's NAME/): the
// renames create them, a removal takes a folder with its last file, and no
// file goes into or out of a folder that is a link.
//
// ".vintrix-sets" records which files each NAME wrote last, and the ticket
// of the run that wrote them. A run replaces and removes only the files
// recorded for its own NAME, and refuses when a file it would write is
// recorded for another NAME.
//
// Runs of one NAME take their place in line when they start, by a ticket. A
// run that finds its NAME's output written by a run with a later ticket
// leaves that output alone: it removes its own files and ends superseded.
// So the runs of a NAME put their output in place in the order they started,
// skipping those overtaken.
//
// The renames are made durable as one step by a commit journal: before the
// first rename, the list of renames and removals is written into the run's
// folder under a temporary name and renamed to "commit". A run killed after
// that point (SIGKILL, power cut) left a complete new output behind: the
// next run in the same folder finishes the list (rolls forward) under the
// lock, before it decides anything of its own. A run killed before left only
// its folder, which the next run removes.
//
// A file identical byte for byte to the one it would replace is not renamed:
// the file in place keeps its inode and its time, so that a build system
// that looks at times (Ninja's restat) skips what depends on it.

#include <functional>
#include <string>
#include <vector>

#include <sys/types.h>

#include "file.h"
#include "run_records.h"

namespace vintrix {

class OutputFiles {
public:
    // Creates `folder` when missing and a folder for this run inside it.
    // `waiting` is called each time before this run waits for another one
    // that holds the lock. Throws OutputError, also when `folder` is a
    // symbolic link or another user's folder in a folder others can write.
    OutputFiles(std::string folder, std::string name, RunTicket ticket, std::function<void()> waiting);
    ~OutputFiles();
    OutputFiles(const OutputFiles&) = delete;
    OutputFiles& operator=(const OutputFiles&) = delete;

    // Where to write the file that will be called `fileName`.
    std::string add(const std::string& fileName);

    // Throws SupersededError when a run of this name with a later ticket
    // has put its output in place, and OutputError when a file added would
    // replace one that another name wrote.
    void checkOwnership() const;

    // A file outside the output folder, such as a depfile, put in place right
    // after the output's files: written at commit under a temporary name
    // beside `path`, so that a run that fails leaves the earlier one.
    void addCompanion(std::string path, std::string text);

    // Renames every file into place in the order added, but those identical
    // to the file in place, then removes the files this name wrote last time
    // and not this time, then puts the companion in place. Returns whether
    // nothing changed. Throws SupersededError or OutputError as
    // checkOwnership() does, and OutputError; nothing is renamed when the
    // journal cannot be written.
    bool commit();

    // Installs the signal handlers that remove the run's files, and ignores
    // SIGXFSZ so that a file size limit fails a write instead of the run.
    // Throws OutputError.
    static void installSignalHandlers();

private:
    struct Entry {
        std::string temp, final;  // file names inside the run's folder and the output folder
    };
    class FolderLock;

    std::string folder_, name_, runFolder_;  // runFolder_: the name inside folder_
    RunTicket ticket_;
    std::function<void()> waiting_;
    dev_t device_ = 0;  // of the folder as checked
    ino_t inode_ = 0;
    UniqueFd runLock_;
    std::vector<Entry> entries_;
    std::string companion_, companionText_;
    bool committed_ = false;
};

// Writes `text` as the whole of the file at `path`; on failure removes it and
// throws OutputError.
void writeWhole(const std::string& path, const std::string& text);

}  // namespace vintrix

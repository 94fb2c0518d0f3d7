#pragma once
// All files of a run are written under temporary names in the output folder
// (".FILE.PID.tmp") and renamed into place together once every one is
// complete. Until then the earlier output stays as it was; on failure, or on
// SIGINT, SIGTERM or SIGHUP, the temporary files are removed.
//
// The renames are made durable as one step by a commit journal: before the
// first rename, the list of renames and removals is written under a
// temporary name and renamed to ".vintrix-PID.commit". A run killed after
// that point (SIGKILL, power cut) left a complete new output behind: the
// next run in the same folder finishes the list (rolls forward) before it
// writes anything. A run killed before it left only temporary files, which
// the next run removes once their process is gone.

#include <string>
#include <vector>

namespace vintrix {

class OutputFiles {
public:
    // Creates `folder` when missing, finishes what killed runs left half
    // committed and removes their temporary files. Throws OutputError.
    explicit OutputFiles(std::string folder);
    ~OutputFiles();
    OutputFiles(const OutputFiles&) = delete;
    OutputFiles& operator=(const OutputFiles&) = delete;

    // Where to write the file that will be called `fileName`.
    std::string add(const std::string& fileName);

    // Renames every file into place in the order added, then removes the
    // files of `name` an earlier run left that this run did not write
    // (NAME.ext and NAME-N.ext for png, bmp and json). Throws OutputError;
    // nothing is renamed when the journal cannot be written.
    void commit(const std::string& name);

    // Installs the signal handlers that remove temporary files, and ignores
    // SIGXFSZ so that a file size limit fails a write instead of the run.
    static void installSignalHandlers();

private:
    struct Entry {
        std::string temp, final;  // file names inside the folder
    };
    std::string folder_;
    std::vector<Entry> entries_;
    bool committed_ = false;
};

// Writes `text` as the whole of the file at `path`; on failure removes it and
// throws OutputError.
void writeWhole(const std::string& path, const std::string& text);

// Whether `file` is one of the files a run named `name` writes.
bool isOutputOf(const std::string& file, const std::string& name);

}  // namespace vintrix

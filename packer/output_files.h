#pragma once
// All files of a run are written under temporary names in the output folder
// and renamed into place together once every one is complete. Until then
// the earlier output stays as it was; on failure, or on SIGINT, SIGTERM or
// SIGHUP, the temporary files are removed.

#include <string>
#include <vector>

namespace vintrix {

class OutputFiles {
public:
    // Creates `folder` when missing. Throws OutputError.
    explicit OutputFiles(std::string folder);
    ~OutputFiles();
    OutputFiles(const OutputFiles&) = delete;
    OutputFiles& operator=(const OutputFiles&) = delete;

    // Where to write the file that will be called `fileName`.
    std::string add(const std::string& fileName);

    // Renames every file into place in the order added, then removes the
    // files of `name` an earlier run left that this run did not write
    // (NAME.ext and NAME-N.ext for png, bmp and json). Throws OutputError.
    void commit(const std::string& name);

    // Installs the signal handlers that remove temporary files.
    static void installSignalHandlers();

private:
    struct Entry {
        std::string temp, final;
    };
    std::string folder_;
    std::vector<Entry> entries_;
    bool committed_ = false;
};

// Whether `file` is one of the files a run named `name` writes.
bool isOutputOf(const std::string& file, const std::string& name);

}  // namespace vintrix

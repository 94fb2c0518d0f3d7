#pragma once
// Which files of the images folder count as images: by extension, regular
// files only.

#include <compare>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vintrix {

// The lower-case extension of `file` without its dot, or an empty string.
std::string extensionOf(const std::filesystem::path& file);

// Names of the image files in `folder`, sorted by their bytes so the order
// never depends on the locale or the file system. With `recursive`, the
// files of its subfolders too, named with their path from `folder`
// ("sub/x.png"); links to folders are not followed, so no loop is walked,
// and the folder `skip` (the output folder, say) is passed over. Entries
// that look like images but cannot be read as files, subfolders not read, and subfolders that cannot be
// listed go to `skipped` when given, each as its quoted name and the reason;
// `listed`, when given, gets the subfolders listed, by their path from
// `folder` ("sub", "sub/deeper").
struct FolderId {
    std::uintmax_t device = 0, inode = 0;
    friend auto operator<=>(const FolderId&, const FolderId&) = default;
};
std::vector<std::string> listImageFiles(const std::string& folder, std::vector<std::string>* skipped = nullptr,
    bool recursive = false, std::optional<FolderId> skip = std::nullopt, std::vector<std::string>* listed = nullptr);

// The identity of the folder at `path`, when there is one.
std::optional<FolderId> folderId(const std::string& path);

}  // namespace vintrix

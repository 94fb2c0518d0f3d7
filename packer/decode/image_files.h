#pragma once
// Which files of the images folder count as images: by extension, regular
// files only, and of a format a reader here knows.

#include <filesystem>
#include <string>
#include <vector>

namespace vintrix {

// The lower-case extension of `file` without its dot, or an empty string.
std::string extensionOf(const std::filesystem::path& file);

// Names (not paths) of the image files directly in `folder`, sorted by their
// bytes so the order never depends on the locale or the file system. Entries
// that look like images but cannot be read as files, files of formats no
// reader here knows, and subfolders go to `skipped` when given, each as its
// quoted name and the reason.
std::vector<std::string> listImageFiles(const std::string& folder, std::vector<std::string>* skipped = nullptr);

}  // namespace vintrix

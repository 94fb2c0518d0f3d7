#include "image_files.h"

#include <algorithm>
#include <set>
#include <utility>

#include <sys/stat.h>

#include "decoders.h"
#include "utf8.h"

namespace vintrix {
namespace {

std::string lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string kindOf(const std::filesystem::file_status& status)
{
    namespace fs = std::filesystem;
    switch (status.type()) {
    case fs::file_type::not_found:
        return "a link to nothing";
    case fs::file_type::directory:
        return "a folder";
    case fs::file_type::fifo:
        return "a FIFO";
    case fs::file_type::socket:
        return "a socket";
    case fs::file_type::block:
    case fs::file_type::character:
        return "a device";
    default:
        return "not a regular file";
    }
}

}  // namespace

std::string extensionOf(const std::filesystem::path& file)
{
    const std::string ext = file.extension().string();
    return ext.size() < 2 ? std::string() : lower(ext.substr(1));
}

std::optional<FolderId> folderId(const std::string& path)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return std::nullopt;
    return FolderId{static_cast<std::uintmax_t>(st.st_dev), static_cast<std::uintmax_t>(st.st_ino)};
}

std::vector<std::string> listImageFiles(const std::string& folder, std::vector<std::string>* skipped, bool recursive,
    std::optional<FolderId> skip, std::vector<std::string>* listed)
{
    namespace fs = std::filesystem;
    std::vector<std::string> names;
    std::vector<std::pair<std::string, std::string>> passed;  // names and why
    std::vector<std::string> pending{""};                     // folders to list, as paths from `folder` ending in "/"
    std::set<FolderId> seen;  // also a folder reached twice through a bind mount is listed once
    if (const auto id = folderId(folder))
        seen.insert(*id);
    while (!pending.empty()) {
        const std::string prefix = std::move(pending.back());
        pending.pop_back();
        std::error_code listing;
        fs::directory_iterator it(prefix.empty() ? fs::path(folder) : fs::path(folder) / prefix, listing);
        if (listing) {
            if (prefix.empty())
                throw fs::filesystem_error("cannot list", folder, listing);
            passed.emplace_back(prefix.substr(0, prefix.size() - 1), "cannot be listed: " + listing.message());
            continue;
        }
        if (listed && !prefix.empty())
            listed->push_back(prefix.substr(0, prefix.size() - 1));
        for (; it != fs::directory_iterator(); it.increment(listing)) {
            const fs::directory_entry& entry = *it;
            std::error_code ec;
            const fs::file_status status = entry.status(ec);
            std::string name = prefix + entry.path().filename().string();
            const std::string ext = extensionOf(entry.path());
            // A path too long, or a folder that may be listed but not searched:
            // with --recursive, any such entry may be a folder of images.
            if (ec && status.type() != fs::file_type::not_found) {
                if (recursive || isImageExtension(ext))
                    passed.emplace_back(std::move(name), "cannot be read: " + ec.message());
                continue;
            }
            if (status.type() == fs::file_type::directory) {
                if (!recursive)
                    passed.emplace_back(std::move(name), "a folder: subfolders are not read");
                else if (entry.is_symlink(ec))
                    passed.emplace_back(std::move(name), "a link to a folder: not followed");
                else if (const auto id = folderId(entry.path().string()); id && skip && *id == *skip)
                    passed.emplace_back(std::move(name), "the output folder");
                else if (!id || seen.insert(*id).second)
                    pending.push_back(name + "/");
                continue;
            }
            if (!isImageExtension(ext))
                continue;
            if (status.type() != fs::file_type::regular) {
                passed.emplace_back(std::move(name), kindOf(status));
                continue;
            }
            names.push_back(std::move(name));
        }
        if (listing)
            throw fs::filesystem_error("cannot list", fs::path(folder) / prefix, listing);
    }
    std::sort(names.begin(), names.end());
    if (listed)
        std::sort(listed->begin(), listed->end());
    if (skipped) {
        std::sort(passed.begin(), passed.end());
        for (const auto& [name, why] : passed)
            skipped->push_back(quoted(name) + " (" + why + ")");
    }
    return names;
}

}  // namespace vintrix

#include "watch.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include "decoders.h"
#include "error.h"
#include "file.h"
#include "image_files.h"
#include "output_files.h"
#include "run.h"
#include "settings_file.h"
#include "utf8.h"

namespace vintrix {
namespace {

// Changes closer together than this are one change: an editor's save, a
// copy of many sprites.
constexpr int kSettleMilliseconds = 200;

constexpr std::uint32_t kFolderEvents = IN_CREATE | IN_DELETE | IN_CLOSE_WRITE | IN_MOVED_FROM | IN_MOVED_TO |
    IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

class Watcher {
public:
    explicit Watcher(const Options& o) : o_(o)
    {
        fd_.reset(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
        if (!fd_)
            throw InputError(errno == EMFILE ? "cannot watch " + quoted(o.folder) +
                        ": the limit of inotify instances is reached (sysctl fs.inotify.max_user_instances)"
                                             : "cannot watch " + quoted(o.folder) + ": " + std::strerror(errno));
        root_ = add(o.folder);
        if (o.recursive)
            addSubfolders();
        // A settings file elsewhere (--config) is watched in its folder.
        if (!o.settingsFile.empty()) {
            const std::filesystem::path file(o.settingsFile);
            settingsName_ = file.filename().string();
            const std::string folder = file.parent_path().empty() ? "." : file.parent_path().string();
            if (folderId(folder) != folderId(o.folder))
                settingsFolder_ = add(folder);
        }
    }

    // Waits for a change that matters and for the changes after it to
    // settle; false when the images folder is gone.
    bool waitForChange()
    {
        bool changed = false;
        for (;;) {
            pollfd p{fd_.get(), POLLIN, 0};
            const int ready = ::poll(&p, 1, changed ? kSettleMilliseconds : -1);
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0)
                return true;  // settled
            alignas(inotify_event) char buf[16384];
            const ssize_t n = ::read(fd_.get(), buf, sizeof buf);
            for (ssize_t at = 0; at < n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(buf + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
                if (e->wd == root_ && (e->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)))
                    return false;
                changed |= matters(*e);
            }
        }
    }

private:
    int add(const std::string& folder)
    {
        const int wd = ::inotify_add_watch(fd_.get(), folder.c_str(), kFolderEvents);
        if (wd < 0 && errno == ENOSPC)
            throw InputError("cannot watch " + quoted(folder) +
                ": the limit of inotify watches is reached (sysctl fs.inotify.max_user_watches)");
        if (wd < 0)
            throw InputError("cannot watch " + quoted(folder) + ": " + std::strerror(errno));
        return wd;
    }

    // The subfolders a run with --recursive reads: not links, not the output folder.
    void addSubfolders()
    {
        namespace fs = std::filesystem;
        const auto output = folderId(o_.outputFolder);
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(o_.folder, ec); !ec && it != fs::recursive_directory_iterator();
             it.increment(ec)) {
            std::error_code type;
            if (!it->is_directory(type) || it->is_symlink(type))
                continue;
            if (output && folderId(it->path().string()) == output) {
                it.disable_recursion_pending();
                continue;
            }
            const int wd = ::inotify_add_watch(fd_.get(), it->path().c_str(), kFolderEvents);
            if (wd < 0 && errno == ENOSPC)
                add(it->path().string());  // throws, naming the limit
        }
    }

    // An image, a subfolder or the settings file; not the files Vintrix
    // writes, such as a depfile beside the images.
    bool matters(const inotify_event& e) const
    {
        if (e.len == 0)
            return e.wd != settingsFolder_;
        const std::string name = e.name;
        if (e.wd == settingsFolder_)
            return name == settingsName_;
        if (e.mask & IN_ISDIR)
            return o_.recursive || (e.mask & (IN_MOVED_FROM | IN_MOVED_TO | IN_CREATE | IN_DELETE)) == 0;
        return name == settingsName_ || name == kSettingsFileName ||
            isImageExtension(extensionOf(std::filesystem::path(name)));
    }

    const Options& o_;
    UniqueFd fd_;
    int root_ = -1, settingsFolder_ = -1;
    std::string settingsName_;
};

}  // namespace

ExitCode watch(const std::vector<std::string>& args, Options o, std::ostream& out, std::ostream& err)
{
    for (bool first = true;; first = false) {
        try {
            // The settings file may have changed: the command line is read
            // again, and while it is refused the last good one is watched.
            std::optional<Options> now;
            if (!first) {
                try {
                    now = std::get<Options>(parseCommandLine(args));
                } catch (const Error& e) {
                    err << "error: " << e.what() << '\n' << std::flush;
                }
            }
            if (now)
                o = std::move(*now);
            Watcher watcher(o);
            if (first || now) {
                const ExitCode code = run(o, out, err);
                out << std::flush;
                err << std::flush;
                // Only a settings file could set right what the command line got wrong.
                if (first && code == ExitCode::BadArguments && o.settingsFile.empty())
                    return code;
            }
            if (!watcher.waitForChange()) {
                err << "error: the images folder " << quoted(o.folder) << " is gone; the watch ends\n";
                return ExitCode::BadInput;
            }
        } catch (const Error& e) {
            err << "error: " << e.what() << '\n';
            return e.code();
        }
    }
}

}  // namespace vintrix

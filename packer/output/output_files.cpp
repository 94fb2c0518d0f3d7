#include "output_files.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "error.h"
#include "file.h"
#include "run_records.h"
#include "utf8.h"

namespace vintrix {
namespace {

constexpr char kLockFile[] = ".vintrix.lock";
constexpr char kSetsFile[] = ".vintrix-sets";
constexpr char kRunPrefix[] = ".vintrix-run-";
constexpr char kRunLock[] = "lock";
constexpr char kJournal[] = "commit";

// The run's folder, for the signal handler, which may only call
// async-signal-safe functions: fixed storage, no allocation.
constexpr std::size_t kMaxPath = 4096;
char g_runFolder[kMaxPath];
char g_companionTemp[kMaxPath];

bool isDotOrDotDot(const char* name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Empties and removes the run's folder with system calls alone, so that the
// signal handler can call it. Every file of a run is made in its folder, so
// none is missed however many sheets it writes. A thread still writing may
// create a file meanwhile; it fails once the folder is gone, and until then
// the next round removes its file.
void removeRunFolder()
{
    if (g_companionTemp[0] != '\0')
        ::unlink(g_companionTemp);
    if (g_runFolder[0] == '\0')
        return;
    for (int round = 0; round < 100; ++round) {
        const int dir = ::open(g_runFolder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir < 0)
            return;
        alignas(dirent64) char entries[8192];
        for (ssize_t n; (n = ::getdents64(dir, entries, sizeof entries)) > 0;)
            for (ssize_t at = 0; at < n;) {
                const auto* entry = reinterpret_cast<const dirent64*>(entries + at);
                at += entry->d_reclen;
                if (!isDotOrDotDot(entry->d_name))
                    ::unlinkat(dir, entry->d_name, 0);
            }
        ::close(dir);
        if (::rmdir(g_runFolder) == 0 || errno == ENOENT)
            return;
    }
}

void forgetRunFolder()
{
    g_runFolder[0] = '\0';
    g_companionTemp[0] = '\0';
}

// Ends the run by the signal that stopped it, as shells expect; with the
// usual status for it should the default action not come back.
void onSignal(int sig)
{
    removeRunFolder();
    if (std::signal(sig, SIG_DFL) == SIG_ERR || std::raise(sig) != 0)
        ::_exit(128 + sig);
}

std::string errnoText()
{
    return std::strerror(errno);
}

class SignalsBlocked {
public:
    SignalsBlocked()
    {
        sigset_t all;
        if (sigfillset(&all) != 0 || sigprocmask(SIG_BLOCK, &all, &previous_) != 0)
            throw OutputError("cannot block signals: " + errnoText());
    }
    // Setting back a mask that sigprocmask gave can fail only on a broken
    // system; going on then would leave the run deaf to SIGTERM.
    ~SignalsBlocked()
    {
        if (sigprocmask(SIG_SETMASK, &previous_, nullptr) != 0)
            std::abort();
    }
    SignalsBlocked(const SignalsBlocked&) = delete;
    SignalsBlocked& operator=(const SignalsBlocked&) = delete;

private:
    sigset_t previous_;
};

bool startsWith(const std::string& s, const std::string& head)
{
    return s.compare(0, head.size(), head) == 0;
}

// The folders a file of the output folder lies in below it, outermost first:
// "a/b/c.tres" -> "a", "a/b".
std::vector<std::string> foldersOf(const std::string& file)
{
    std::vector<std::string> folders;
    for (std::size_t slash = file.find('/'); slash != std::string::npos; slash = file.find('/', slash + 1))
        folders.push_back(file.substr(0, slash));
    return folders;
}

// Whether the folders `file` lies in below `folder` are folders, not links
// that would take a removal elsewhere.
bool inRealFolders(const std::string& folder, const std::string& file)
{
    std::error_code ec;
    for (const std::string& sub : foldersOf(file))
        if (!std::filesystem::is_directory(std::filesystem::symlink_status(folder + "/" + sub, ec)))
            return false;
    return true;
}

// Flushes a file's data, or a folder's entries, to the disk.
void syncToDisk(const std::string& path)
{
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd || ::fsync(fd.get()) != 0)
        throw OutputError("cannot write " + path + " to the disk: " + errnoText());
}

// Whether `path` is a regular file (not a link) with the bytes of the file `temp`.
bool sameContents(const std::string& temp, const std::string& path)
{
    struct stat a, b;
    if (::lstat(path.c_str(), &b) != 0 || !S_ISREG(b.st_mode) || ::stat(temp.c_str(), &a) != 0 ||
        a.st_size != b.st_size)
        return false;
    const UniqueFd one(::open(temp.c_str(), O_RDONLY | O_CLOEXEC)),
        other(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!one || !other)
        return false;
    const auto readFull = [](int fd, char* buf, std::size_t size) {
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = ::read(fd, buf + done, size - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += static_cast<std::size_t>(n);
        }
        return done;
    };
    static constexpr std::size_t kChunk = 1 << 16;
    std::vector<char> x(kChunk), y(kChunk);
    for (;;) {
        const std::size_t n = readFull(one.get(), x.data(), kChunk);
        if (readFull(other.get(), y.data(), kChunk) != n || std::memcmp(x.data(), y.data(), n) != 0)
            return false;
        if (n < kChunk)
            return true;
    }
}

bool exists(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

Sets readSets(const std::string& folder)
{
    const std::string path = folder + "/" + kSetsFile;
    const auto text = readWhole(path);
    if (!text) {
        if (errno == ENOENT)
            return {};
        throw OutputError("cannot read " + path + ": " + errnoText());
    }
    auto sets = decodeSets(*text);
    if (!sets)
        throw OutputError(path + " is damaged: remove it (Vintrix then forgets which files each name wrote)");
    return *sets;
}

// The first file of `files` that `sets` records for another name, and that name.
std::optional<std::pair<std::string, std::string>> claimedByOthers(
    const std::string& folder, const Sets& sets, const std::string& name, const std::vector<std::string>& files)
{
    std::map<std::string, std::string> owner;
    for (const auto& [other, theirs] : sets)
        if (other != name)
            for (const std::string& file : theirs.files)
                owner.emplace(file, other);
    for (const std::string& file : files)
        if (auto it = owner.find(file); it != owner.end() && exists(folder + "/" + file))
            return std::pair{file, it->second};
    return std::nullopt;
}

void refuseClaimed(
    const std::string& folder, const Sets& sets, const std::string& name, const std::vector<std::string>& files)
{
    if (auto claim = claimedByOthers(folder, sets, name, files))
        throw OutputError("cannot write the output named " + vintrix::quoted(name) + ": " + folder + "/" +
            vintrix::quoted(claim->first) + " belongs to the output named " + vintrix::quoted(claim->second) +
            "; choose another name or remove that output");
}

void refuseSuperseded(const std::string& folder, const Sets& sets, const std::string& name, const RunTicket& mine)
{
    if (const auto it = sets.find(name); it != sets.end() && it->second.ticket.laterThan(mine))
        throw SupersededError("superseded: a run of the output named " + vintrix::quoted(name) +
            " started after this one and has already put its files into " + folder +
            "; they stay, and this run's files are removed");
}

// Carries out a journal; safe to repeat, in part or in whole, since a rename
// whose source is gone was already made.
void apply(const std::string& folder, const std::string& runFolder, const Journal& j)
{
    std::set<std::string> subfolders;  // whose entries change
    for (const auto& [temp, final] : j.renames) {
        for (const std::string& sub : foldersOf(final)) {
            const std::string path = folder + "/" + sub;
            if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST)
                throw OutputError("cannot create the folder " + path + ": " + errnoText() +
                    " (the next run in this folder finishes it)");
            subfolders.insert(sub);
        }
        const std::string from = folder + "/" + runFolder + "/" + temp, to = folder + "/" + final;
        if (std::rename(from.c_str(), to.c_str()) != 0 && errno != ENOENT)
            throw OutputError("cannot rename " + from + " to " + to + ": " + errnoText() +
                " (the next run in this folder finishes it)");
    }
    for (const std::string& file : j.removals) {
        const std::string path = folder + "/" + file;
        if (::unlink(path.c_str()) != 0 && errno != ENOENT)
            throw OutputError(
                "cannot remove the old " + path + ": " + errnoText() + " (the next run in this folder finishes it)");
        // A folder of the output's files goes with the last of them, and
        // stays while it holds anything else.
        const std::vector<std::string> subs = foldersOf(file);
        subfolders.insert(subs.begin(), subs.end());
        for (auto sub = subs.rbegin(); sub != subs.rend() && ::rmdir((folder + "/" + *sub).c_str()) == 0;)
            ++sub;
    }
    for (const std::string& sub : subfolders)
        if (exists(folder + "/" + sub))
            syncToDisk(folder + "/" + sub);
    syncToDisk(folder);
}

void removeFolder(const std::string& path)
{
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

// Finishes the commits of runs that died while committing and removes the
// folders of every run that died. Called with the folder's lock held, so no
// run is setting up its folder meanwhile.
void recoverLeftovers(const std::string& folder)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    std::vector<std::string> runs;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        const std::string file = entry.path().filename().string();
        if (startsWith(file, kRunPrefix) && entry.is_directory(ec) && !entry.is_symlink(ec))
            runs.push_back(file);
    }
    if (ec)
        throw OutputError("cannot list " + folder + ": " + ec.message());
    for (const std::string& run : runs) {
        const std::string path = folder + "/" + run;
        const UniqueFd lock(::open((path + "/" + kRunLock).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (!lock && errno != ENOENT)
            continue;
        if (lock && ::flock(lock.get(), LOCK_EX | LOCK_NB) != 0)
            continue;  // its run is alive
        const std::string journalPath = path + "/" + kJournal;
        if (const auto text = readWhole(journalPath)) {
            const auto journal = decodeJournal(*text);
            if (!journal)
                throw OutputError(journalPath + " is damaged: remove it and check the files it names");
            apply(folder, run, *journal);
        }
        removeFolder(path);
    }
}

// What stands at `folder` when it is not a folder this run may write into.
std::optional<std::string> unusable(const std::string& folder, struct stat& st)
{
    if (::lstat(folder.c_str(), &st) != 0)
        return "cannot read it: " + errnoText();
    if (S_ISLNK(st.st_mode)) {
        std::error_code ec;
        const std::string target = std::filesystem::read_symlink(folder, ec).string();
        struct stat to;
        const bool dangling = ::stat(folder.c_str(), &to) != 0;
        return "it is a symbolic link to " + vintrix::quoted(target) + (dangling ? ", which does not exist" : "") +
            ", and Vintrix writes only into a real folder";
    }
    if (S_ISREG(st.st_mode))
        return std::string("it is a file, not a folder");
    if (!S_ISDIR(st.st_mode))
        return std::string(S_ISFIFO(st.st_mode) ? "it is a named pipe"
                       : S_ISSOCK(st.st_mode)   ? "it is a socket"
                                                : "it is a device") +
            ", not a folder";
    if (st.st_uid != ::geteuid()) {
        const std::filesystem::path parent = std::filesystem::path(folder).parent_path();
        struct stat up;
        if (::stat(parent.empty() ? "." : parent.c_str(), &up) == 0 && (up.st_mode & (S_IWGRP | S_IWOTH)))
            return "it belongs to another user (uid " + std::to_string(st.st_uid) +
                ") and the folder it is in can be written by others";
    }
    return std::nullopt;
}

}  // namespace

class OutputFiles::FolderLock {
public:
    explicit FolderLock(OutputFiles& files)
    {
        const std::string path = files.folder_ + "/" + kLockFile;
        fd_.reset(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644));
        if (!fd_ && errno == EACCES)
            fd_.reset(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (!fd_)
            throw OutputError("cannot create " + path + ": " + errnoText());
        if (::flock(fd_.get(), LOCK_EX | LOCK_NB) == 0)
            return;
        if (files.waiting_)
            files.waiting_();
        while (::flock(fd_.get(), LOCK_EX) != 0)
            if (errno != EINTR)
                throw OutputError("cannot lock " + path + ": " + errnoText());
    }

private:
    UniqueFd fd_;
};

void writeWhole(const std::string& path, const std::string& text)
{
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd)
        throw OutputError("cannot create " + path + ": " + errnoText());
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd.get(), text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const std::string why = n < 0 ? errnoText() : "nothing written";
            fd.reset();
            ::unlink(path.c_str());
            throw OutputError("cannot write " + path + ": " + why);
        }
        done += static_cast<std::size_t>(n);
    }
    if (fd.close() != 0) {
        const std::string why = errnoText();
        ::unlink(path.c_str());
        throw OutputError("cannot write " + path + ": " + why);
    }
}

void OutputFiles::installSignalHandlers()
{
    auto handle = [](int sig, void (*handler)(int)) {
        struct sigaction sa {};
        sa.sa_handler = handler;
        if (sigemptyset(&sa.sa_mask) != 0 || sigaction(sig, &sa, nullptr) != 0)
            throw OutputError(std::string("cannot set up the handling of ") + strsignal(sig) + ": " + errnoText());
    };
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        handle(sig, onSignal);
    handle(SIGXFSZ, SIG_IGN);
}

OutputFiles::OutputFiles(std::string folder, std::string name, RunTicket ticket, std::function<void()> waiting)
    : folder_(std::move(folder)), name_(std::move(name)), ticket_(std::move(ticket)), waiting_(std::move(waiting))
{
    struct stat st;
    // Missing folders above it are created too, as for mkdir -p.
    const std::filesystem::path parent = std::filesystem::path(folder_).parent_path();
    std::error_code ec;
    if (!parent.empty() && !exists(parent))
        std::filesystem::create_directories(parent, ec);
    if (ec)
        throw OutputError("cannot create the folder " + folder_ + ": " + ec.message());
    if (::mkdir(folder_.c_str(), 0777) != 0 && errno != EEXIST)
        throw OutputError("cannot create the folder " + folder_ + ": " + errnoText());
    if (auto why = unusable(folder_, st))
        throw OutputError("cannot use " + folder_ + " as the output folder: " + *why);
    device_ = st.st_dev;
    inode_ = st.st_ino;

    FolderLock lock(*this);
    std::string path = folder_ + "/" + kRunPrefix + "XXXXXX";
    {
        SignalsBlocked blocked;  // no folder of this run without its name in g_runFolder
        if (path.size() >= kMaxPath || !::mkdtemp(path.data()))
            throw OutputError("cannot create a folder in " + folder_ + ": " + errnoText());
        std::memcpy(g_runFolder, path.c_str(), path.size() + 1);
    }
    runFolder_ = path.substr(folder_.size() + 1);
    const std::string lockPath = path + "/" + kRunLock;
    runLock_.reset(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!runLock_ || ::flock(runLock_.get(), LOCK_EX) != 0) {
        const std::string why = errnoText();
        removeRunFolder();
        forgetRunFolder();
        throw OutputError("cannot create " + lockPath + ": " + why);
    }
}

OutputFiles::~OutputFiles()
{
    if (!committed_)
        removeRunFolder();
    forgetRunFolder();
}

std::string OutputFiles::add(const std::string& fileName)
{
    // A file bound for a folder below the output folder waits in the run's
    // folder under a name no output file has: they all end in an extension.
    Entry e{fileName.find('/') == std::string::npos ? fileName : "sub-" + std::to_string(entries_.size()), fileName};
    const std::string path = folder_ + "/" + runFolder_ + "/" + e.temp;
    entries_.push_back(e);
    return path;
}

void OutputFiles::checkOwnership() const
{
    std::vector<std::string> files;
    for (const Entry& e : entries_)
        files.push_back(e.final);
    const Sets sets = readSets(folder_);
    refuseSuperseded(folder_, sets, name_, ticket_);
    refuseClaimed(folder_, sets, name_, files);
}

void OutputFiles::addCompanion(std::string path, std::string text)
{
    companion_ = std::move(path);
    companionText_ = std::move(text);
}

bool OutputFiles::commit()
{
    namespace fs = std::filesystem;
    const std::string run = folder_ + "/" + runFolder_;
    // Every file's data reaches the disk before any name changes, so that not
    // even a power cut can leave a name on a file without its data.
    for (const Entry& e : entries_)
        syncToDisk(run + "/" + e.temp);
    std::string companionTemp;
    if (!companion_.empty()) {
        const std::filesystem::path at(companion_);
        companionTemp = (at.parent_path() / ("." + at.filename().string() + ".vintrix-XXXXXX")).string();
        if (companionTemp.size() >= kMaxPath)
            throw OutputError("cannot write " + companion_ + ": its path is too long");
        {
            SignalsBlocked blocked;  // no temporary file without its name in g_companionTemp
            const UniqueFd fd(::mkostemp(companionTemp.data(), O_CLOEXEC));
            if (!fd)
                throw OutputError("cannot write " + companion_ + ": " + errnoText());
            // As the output's files are made, not private as mkstemp makes them.
            const mode_t mask = ::umask(0);
            ::umask(mask);
            ::fchmod(fd.get(), 0644 & ~mask);
            std::memcpy(g_companionTemp, companionTemp.c_str(), companionTemp.size() + 1);
        }
        writeWhole(companionTemp, companionText_);
        syncToDisk(companionTemp);
    }

    FolderLock lock(*this);
    struct stat st;
    if (::lstat(folder_.c_str(), &st) != 0 || st.st_dev != device_ || st.st_ino != inode_)
        throw OutputError(folder_ + " was replaced while Vintrix was writing into it");
    recoverLeftovers(folder_);

    Sets sets = readSets(folder_);
    refuseSuperseded(folder_, sets, name_, ticket_);
    std::vector<std::string> written;
    Journal journal;
    for (const Entry& e : entries_) {
        written.push_back(e.final);
        std::error_code ec;
        if (fs::is_directory(fs::symlink_status(folder_ + "/" + e.final, ec)))
            throw OutputError("cannot replace " + folder_ + "/" + e.final + ": it is a folder");
        for (const std::string& sub : foldersOf(e.final))
            if (const auto status = fs::symlink_status(folder_ + "/" + sub, ec);
                fs::exists(status) && !fs::is_directory(status))
                throw OutputError(
                    "cannot write " + folder_ + "/" + e.final + ": " + folder_ + "/" + sub + " is not a folder");
        if (!sameContents(run + "/" + e.temp, folder_ + "/" + e.final))
            journal.renames.emplace_back(e.temp, e.final);
    }
    refuseClaimed(folder_, sets, name_, written);
    const std::set<std::string> mine(written.begin(), written.end());
    for (const std::string& file : sets[name_].files)
        if (!mine.count(file) && inRealFolders(folder_, file))
            journal.removals.push_back(file);
    const bool unchanged = journal.renames.empty() && journal.removals.empty();

    // Other names keep the files that are still there; this one has what it wrote.
    for (auto it = sets.begin(); it != sets.end();) {
        std::erase_if(it->second.files, [&](const std::string& file) { return !exists(folder_ + "/" + file); });
        it = it->second.files.empty() ? sets.erase(it) : std::next(it);
    }
    sets[name_] = {written, ticket_};
    const std::string setsTemp = run + "/sets";
    writeWhole(setsTemp, encode(sets));
    syncToDisk(setsTemp);
    journal.renames.emplace_back("sets", kSetsFile);

    // Complete under a temporary name first: a journal under its own name is
    // whole, and every file it names is complete.
    const std::string journalPath = run + "/" + kJournal;
    const std::string journalTemp = journalPath + ".tmp";
    writeWhole(journalTemp, encode(journal));
    syncToDisk(journalTemp);

    // No signal may cut the renames short and leave two runs mixed.
    SignalsBlocked blocked;
    if (std::rename(journalTemp.c_str(), journalPath.c_str()) != 0)
        throw OutputError("cannot rename " + journalTemp + " into place: " + errnoText());
    committed_ = true;  // the run's folder belongs to the journal now, even if a rename fails
    forgetRunFolder();
    syncToDisk(run);  // the journal's name before the renames it lists
    try {
        apply(folder_, runFolder_, journal);
    } catch (const OutputError&) {
        if (!companionTemp.empty())
            ::unlink(companionTemp.c_str());
        throw;
    }
    removeFolder(run);
    if (companionTemp.empty())
        return unchanged;
    if (sameContents(companionTemp, companion_)) {
        ::unlink(companionTemp.c_str());
        return unchanged;
    }
    if (std::rename(companionTemp.c_str(), companion_.c_str()) != 0) {
        const std::string why = errnoText();
        ::unlink(companionTemp.c_str());
        throw OutputError("the output is in place, but " + companion_ + " cannot be: " + why);
    }
    return unchanged;
}

}  // namespace vintrix

#include "output_files.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <optional>
#include <set>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "sheet.h"

namespace vintrix {
namespace {

// Temporary paths for the signal handler, which may only call
// async-signal-safe functions: fixed storage, no allocation.
constexpr int kMaxTemps = 4096;
constexpr std::size_t kMaxPath = 4096;
char g_temps[kMaxTemps][kMaxPath];
std::atomic<int> g_tempCount{0};

constexpr char kJournalMagic[] = "vintrix-commit-1";

void registerTemp(const std::string& path) {
    const int n = g_tempCount.load();
    if (n >= kMaxTemps || path.size() >= kMaxPath)
        throw OutputError("too many output files");
    std::memcpy(g_temps[n], path.c_str(), path.size() + 1);
    g_tempCount.store(n + 1);
}

void onSignal(int sig) {
    const int n = g_tempCount.load();
    for (int i = 0; i < n; ++i)
        ::unlink(g_temps[i]);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

std::string errnoText() { return std::strerror(errno); }

std::string tempName(const std::string& fileName) {
    return "." + fileName + "." + std::to_string(::getpid()) + ".tmp";
}

std::string journalName() { return ".vintrix-" + std::to_string(::getpid()) + ".commit"; }

std::optional<pid_t> parsePid(const std::string& digits) {
    if (digits.empty() || digits.size() > 9 || digits[0] == '0')
        return std::nullopt;
    pid_t pid = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        pid = pid * 10 + (c - '0');
    }
    return pid;
}

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The process a temporary file or journal belongs to, if `file` is one.
std::optional<pid_t> ownerOfTemp(const std::string& file) {
    if (file.size() < 2 || file[0] != '.' || !endsWith(file, ".tmp"))
        return std::nullopt;
    const std::string inner = file.substr(1, file.size() - 5);  // FILE.PID
    const auto dot = inner.rfind('.');
    if (dot == std::string::npos)
        return std::nullopt;
    const std::string of = inner.substr(0, dot);
    if (!endsWith(of, ".png") && !endsWith(of, ".bmp") && !endsWith(of, ".json") && !endsWith(of, ".commit"))
        return std::nullopt;
    return parsePid(inner.substr(dot + 1));
}

std::optional<pid_t> ownerOfJournal(const std::string& file) {
    const std::string head = ".vintrix-", tail = ".commit";
    if (file.size() <= head.size() + tail.size() || file.compare(0, head.size(), head) != 0 || !endsWith(file, tail))
        return std::nullopt;
    return parsePid(file.substr(head.size(), file.size() - head.size() - tail.size()));
}

// This process has written nothing yet when it looks for leftovers, so files
// that carry its own number are left by an earlier process of that number.
bool alive(pid_t pid) { return pid != ::getpid() && (::kill(pid, 0) == 0 || errno == EPERM); }

struct Journal {
    std::vector<std::pair<std::string, std::string>> renames;  // temp, final
    std::vector<std::string> removals;
};

std::string encode(const Journal& j) {
    std::string text(kJournalMagic, sizeof kJournalMagic);  // with its NUL
    for (const auto& [temp, final] : j.renames)
        text += "R" + temp + '\0' + final + '\0';
    for (const std::string& file : j.removals)
        text += "D" + file + '\0';
    return text;
}

// Nothing when the text is not a whole journal: its writer died before the
// rename that makes it one, so it never is.
std::optional<Journal> decode(const std::string& text) {
    if (text.compare(0, sizeof kJournalMagic, std::string(kJournalMagic, sizeof kJournalMagic)) != 0)
        return std::nullopt;
    Journal j;
    std::size_t at = sizeof kJournalMagic;
    auto field = [&](std::string& out) {
        const auto end = text.find('\0', at);
        if (end == std::string::npos || end == at)
            return false;
        out = text.substr(at, end - at);
        at = end + 1;
        return out.find('/') == std::string::npos && out != "." && out != "..";
    };
    while (at < text.size()) {
        const char kind = text[at++];
        std::string a, b;
        if (kind == 'R' && field(a) && field(b))
            j.renames.emplace_back(a, b);
        else if (kind == 'D' && field(a))
            j.removals.push_back(a);
        else
            return std::nullopt;
    }
    return j;
}

// Flushes a file's data, or a folder's entries, to the disk.
void syncToDisk(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) {
        const std::string why = errnoText();
        if (fd >= 0)
            ::close(fd);
        throw OutputError("cannot write " + path + " to the disk: " + why);
    }
    ::close(fd);
}

std::optional<std::string> readWhole(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::string text;
    char buf[65536];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) != 0) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        text.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return text;
}

// Carries out a journal; safe to repeat, in part or in whole, since a rename
// whose temporary file is gone was already made.
void apply(const std::string& folder, const Journal& j, const std::string& journalFile) {
    for (const auto& [temp, final] : j.renames) {
        const std::string from = folder + "/" + temp, to = folder + "/" + final;
        if (std::rename(from.c_str(), to.c_str()) != 0 && errno != ENOENT)
            throw OutputError("cannot rename " + from + " to " + to + ": " + errnoText() +
                              " (the next run in this folder finishes it)");
    }
    for (const std::string& file : j.removals) {
        const std::string path = folder + "/" + file;
        if (::unlink(path.c_str()) != 0 && errno != ENOENT)
            throw OutputError("cannot remove the old " + path + ": " + errnoText() +
                              " (the next run in this folder finishes it)");
    }
    syncToDisk(folder);
    const std::string path = folder + "/" + journalFile;
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
        throw OutputError("cannot remove " + path + ": " + errnoText());
}

void recoverLeftovers(const std::string& folder) {
    namespace fs = std::filesystem;
    std::error_code ec;
    std::vector<std::string> journals, temps;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        const std::string file = entry.path().filename().string();
        if (auto pid = ownerOfJournal(file); pid && !alive(*pid))
            journals.push_back(file);
        else if (auto owner = ownerOfTemp(file); owner && !alive(*owner))
            temps.push_back(file);
    }
    if (ec)
        throw OutputError("cannot list " + folder + ": " + ec.message());
    for (const std::string& file : journals) {
        const auto text = readWhole(folder + "/" + file);
        if (!text)
            throw OutputError("cannot read " + folder + "/" + file + ": " + errnoText());
        const auto journal = decode(*text);
        if (!journal)
            throw OutputError(folder + "/" + file + " is damaged: remove it and check the files it names");
        apply(folder, *journal, file);
    }
    for (const std::string& file : temps)
        ::unlink((folder + "/" + file).c_str());
}

}  // namespace

void writeWhole(const std::string& path, const std::string& text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        throw OutputError("cannot create " + path + ": " + errnoText());
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const std::string why = n < 0 ? errnoText() : "nothing written";
            ::close(fd);
            ::unlink(path.c_str());
            throw OutputError("cannot write " + path + ": " + why);
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0) {
        const std::string why = errnoText();
        ::unlink(path.c_str());
        throw OutputError("cannot write " + path + ": " + why);
    }
}

bool isOutputOf(const std::string& file, const std::string& name) {
    if (file.size() <= name.size() || file.compare(0, name.size(), name) != 0)
        return false;
    std::string rest = file.substr(name.size());
    const auto dot = rest.rfind('.');
    if (dot == std::string::npos)
        return false;
    const std::string ext = rest.substr(dot + 1);
    if (ext != "png" && ext != "bmp" && ext != "json")
        return false;
    rest.resize(dot);
    if (rest.empty())
        return true;
    // "-N" with N >= 2 and no leading zero
    if (rest.size() < 2 || rest[0] != '-' || rest[1] == '0')
        return false;
    for (std::size_t i = 1; i < rest.size(); ++i)
        if (rest[i] < '0' || rest[i] > '9')
            return false;
    return rest != "-1";
}

void OutputFiles::installSignalHandlers() {
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction sa {};
        sa.sa_handler = onSignal;
        sigemptyset(&sa.sa_mask);
        sigaction(sig, &sa, nullptr);
    }
    std::signal(SIGXFSZ, SIG_IGN);
}

OutputFiles::OutputFiles(std::string folder) : folder_(std::move(folder)) {
    std::error_code ec;
    std::filesystem::create_directory(folder_, ec);
    if (ec)
        throw OutputError("cannot create the folder " + folder_ + ": " + ec.message());
    if (!std::filesystem::is_directory(folder_, ec))
        throw OutputError("cannot write into " + folder_ + ": it is not a folder");
    recoverLeftovers(folder_);
}

OutputFiles::~OutputFiles() {
    if (committed_)
        return;
    for (const Entry& e : entries_)
        ::unlink((folder_ + "/" + e.temp).c_str());
    g_tempCount.store(0);
}

std::string OutputFiles::add(const std::string& fileName) {
    Entry e{tempName(fileName), fileName};
    const std::string path = folder_ + "/" + e.temp;
    registerTemp(path);
    entries_.push_back(e);
    return path;
}

void OutputFiles::commit(const std::string& name) {
    namespace fs = std::filesystem;
    Journal journal;
    std::set<std::string> written;
    for (const Entry& e : entries_) {
        journal.renames.emplace_back(e.temp, e.final);
        written.insert(e.final);
        std::error_code ec;
        if (fs::is_directory(fs::symlink_status(folder_ + "/" + e.final, ec)))
            throw OutputError("cannot replace " + folder_ + "/" + e.final + ": it is a folder");
    }
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder_, ec)) {
        const std::string file = entry.path().filename().string();
        if (isOutputOf(file, name) && !written.count(file))
            journal.removals.push_back(file);
    }
    if (ec)
        throw OutputError("cannot list " + folder_ + ": " + ec.message());

    // Every file's data reaches the disk before any name changes, so that not
    // even a power cut can leave a name on a file without its data.
    for (const Entry& e : entries_)
        syncToDisk(folder_ + "/" + e.temp);

    // Complete under a temporary name first: a journal under its own name is
    // whole, and every file it names is complete.
    const std::string journalFile = journalName();
    const std::string journalTemp = folder_ + "/" + tempName(journalFile);
    registerTemp(journalTemp);
    writeWhole(journalTemp, encode(journal));
    syncToDisk(journalTemp);

    // No signal may cut the renames short and leave two runs mixed.
    sigset_t all, previous;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &previous);
    std::optional<OutputError> failure;
    if (std::rename(journalTemp.c_str(), (folder_ + "/" + journalFile).c_str()) != 0) {
        failure = OutputError("cannot rename " + journalTemp + " into place: " + errnoText());
        ::unlink(journalTemp.c_str());
    } else {
        committed_ = true;  // the temporary files belong to the journal now
        g_tempCount.store(0);
        try {
            syncToDisk(folder_);  // the journal's name before the renames it lists
            apply(folder_, journal, journalFile);
        } catch (const OutputError& e) {
            failure = e;
        }
    }
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    if (failure)
        throw *failure;
}

}  // namespace vintrix

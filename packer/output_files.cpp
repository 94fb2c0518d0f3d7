#include "output_files.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <set>

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

}  // namespace

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
}

OutputFiles::OutputFiles(std::string folder) : folder_(std::move(folder)) {
    std::error_code ec;
    std::filesystem::create_directory(folder_, ec);
    if (ec)
        throw OutputError("cannot create the folder " + folder_ + ": " + ec.message());
    if (!std::filesystem::is_directory(folder_, ec))
        throw OutputError("cannot write into " + folder_ + ": it is not a folder");
}

OutputFiles::~OutputFiles() {
    if (committed_)
        return;
    for (const Entry& e : entries_)
        ::unlink(e.temp.c_str());
    g_tempCount.store(0);
}

std::string OutputFiles::add(const std::string& fileName) {
    Entry e{folder_ + "/." + fileName + "." + std::to_string(::getpid()) + ".tmp", folder_ + "/" + fileName};
    registerTemp(e.temp);
    entries_.push_back(e);
    return e.temp;
}

void OutputFiles::commit(const std::string& name) {
    // No signal may cut the renames short and leave two runs mixed.
    sigset_t all, previous;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &previous);
    std::string failure;
    std::size_t renamed = 0;
    for (; renamed < entries_.size(); ++renamed) {
        if (std::rename(entries_[renamed].temp.c_str(), entries_[renamed].final.c_str()) != 0) {
            failure = "cannot rename " + entries_[renamed].temp + " to " + entries_[renamed].final + ": " + errnoText();
            break;
        }
    }
    if (failure.empty()) {
        committed_ = true;
        g_tempCount.store(0);
        std::set<std::string> written;
        for (const Entry& e : entries_)
            written.insert(std::filesystem::path(e.final).filename().string());
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(folder_, ec)) {
            const std::string file = entry.path().filename().string();
            if (isOutputOf(file, name) && !written.count(file) && ::unlink(entry.path().c_str()) != 0 &&
                failure.empty())
                failure = "cannot remove the old " + entry.path().string() + ": " + errnoText();
        }
        if (ec && failure.empty())
            failure = "cannot list " + folder_ + ": " + ec.message();
    }
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    if (!failure.empty())
        throw OutputError(failure);
}

}  // namespace vintrix

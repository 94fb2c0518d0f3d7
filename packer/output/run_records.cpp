#include "run_records.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <unistd.h>

#include "file.h"

namespace vintrix {
namespace {

constexpr char kJournalMagic[] = "vintrix-commit-2";
constexpr char kSetsMagic[] = "vintrix-sets-2";
constexpr char kSetsMagicWithoutTickets[] = "vintrix-sets-1";  // written before runs had tickets
constexpr char kBootId[] = "/proc/sys/kernel/random/boot_id";

bool plainName(const std::string& s)
{
    return !s.empty() && s.find('/') == std::string::npos && s != "." && s != "..";
}

// A file of the output folder, directly in it or in folders of its own
// below it: "hero.png", "hero/sub/walk_1.tres".
bool relativePath(const std::string& s)
{
    for (std::size_t start = 0;;) {
        const std::size_t slash = s.find('/', start);
        if (!plainName(s.substr(start, slash - start)))
            return false;
        if (slash == std::string::npos)
            return true;
        start = slash + 1;
    }
}

std::string withMagic(const char* magic)
{
    return std::string(magic, std::strlen(magic) + 1);
}

// Records of one letter and NUL-terminated fields after a magic line.
class Reader {
public:
    Reader(const std::string& text, const char* magic) : text_(text), ok_(text.starts_with(withMagic(magic)))
    {
        at_ = withMagic(magic).size();
    }
    bool ok() const { return ok_; }
    bool done() const { return at_ >= text_.size(); }
    char kind() { return text_[at_++]; }
    bool field(std::string& out)
    {
        const auto end = text_.find('\0', at_);
        if (end == std::string::npos)
            return false;
        out = text_.substr(at_, end - at_);
        at_ = end + 1;
        return relativePath(out);
    }

private:
    const std::string& text_;
    bool ok_;
    std::size_t at_ = 0;
};

bool parseNumber(const std::string& text, std::uint64_t& out)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc{} && end == text.data() + text.size();
}

}  // namespace

std::string encode(const Journal& j)
{
    std::string text = withMagic(kJournalMagic);
    for (const auto& [temp, final] : j.renames)
        text += "R" + temp + '\0' + final + '\0';
    for (const std::string& file : j.removals)
        text += "D" + file + '\0';
    return text;
}

std::optional<Journal> decodeJournal(const std::string& text)
{
    Reader r(text, kJournalMagic);
    if (!r.ok())
        return std::nullopt;
    Journal j;
    while (!r.done()) {
        const char kind = r.kind();
        std::string a, b;
        if (kind == 'R' && r.field(a) && r.field(b))
            j.renames.emplace_back(a, b);
        else if (kind == 'D' && r.field(a))
            j.removals.push_back(a);
        else
            return std::nullopt;
    }
    return j;
}

std::string encode(const Sets& sets)
{
    std::string text = withMagic(kSetsMagic);
    for (const auto& [name, set] : sets) {
        text += "S" + name + '\0';
        if (!set.ticket.boot.empty())
            text += "T" + set.ticket.boot + '\0' + std::to_string(set.ticket.nanoseconds) + '\0';
        for (const std::string& file : set.files)
            text += "F" + file + '\0';
    }
    return text;
}

std::optional<Sets> decodeSets(const std::string& text)
{
    Reader r(text, text.starts_with(withMagic(kSetsMagic)) ? kSetsMagic : kSetsMagicWithoutTickets);
    if (!r.ok())
        return std::nullopt;
    Sets sets;
    NameSet* current = nullptr;
    while (!r.done()) {
        const char kind = r.kind();
        std::string field, number;
        if (kind == 'S' && r.field(field))
            current = &sets[field];
        else if (kind == 'T' && current && r.field(field) && r.field(number) &&
            parseNumber(number, current->ticket.nanoseconds))
            current->ticket.boot = field;
        else if (kind == 'F' && current && r.field(field))
            current->files.push_back(field);
        else
            return std::nullopt;
    }
    return sets;
}

std::optional<std::string> readWhole(const std::string& path)
{
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!fd)
        return std::nullopt;
    std::string text;
    char buf[65536];
    ssize_t n;
    while ((n = ::read(fd.get(), buf, sizeof buf)) != 0) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return std::nullopt;
        text.append(buf, static_cast<std::size_t>(n));
    }
    return text;
}

RunTicket RunTicket::take()
{
    RunTicket ticket;
    timespec now{};
    auto boot = readWhole(kBootId);
    if (!boot || ::clock_gettime(CLOCK_MONOTONIC, &now) != 0)
        return ticket;
    while (!boot->empty() && boot->back() == '\n')
        boot->pop_back();
    if (plainName(*boot) && boot->find('\0') == std::string::npos) {
        ticket.boot = *boot;
        ticket.nanoseconds = std::uint64_t(now.tv_sec) * 1000000000u + std::uint64_t(now.tv_nsec);
    }
    return ticket;
}

bool RunTicket::laterThan(const RunTicket& other) const
{
    return !boot.empty() && boot == other.boot && nanoseconds > other.nanoseconds;
}

}  // namespace vintrix

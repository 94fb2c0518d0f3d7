#include "atlas_data.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <optional>
#include <set>
#include <string_view>

namespace vintrix {
namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

}  // namespace

std::optional<Numbered> numberedName(const std::string& name, bool extensions)
{
    const std::string stem = extensions ? withoutExtension(name) : name;
    std::size_t digits = stem.size();
    while (digits > 0 && isDigit(stem[digits - 1]))
        --digits;
    if (digits == stem.size() || stem.size() - digits > 9)
        return std::nullopt;
    std::string group = stem.substr(0, digits);
    if (!group.empty() && std::string_view("_-. ").find(group.back()) != std::string_view::npos)
        group.pop_back();
    if (group.empty() || group.back() == '/')
        return std::nullopt;
    return Numbered{group, stem.substr(digits)};
}

std::vector<Animation> animationsOn(const AtlasSheet& sheet, const std::vector<Animation>& animations)
{
    std::set<std::string_view> here;
    for (const AtlasFrame& f : sheet.frames)
        here.insert(f.name);
    std::vector<Animation> whole;
    for (const Animation& a : animations)
        if (std::all_of(a.frames.begin(), a.frames.end(), [&](const std::string& f) { return here.count(f) > 0; }))
            whole.push_back(a);
    return whole;
}

std::string sheetBase(const std::string& name, int sheet)
{
    return sheet == 0 ? name : name + "-" + std::to_string(sheet + 1);
}

std::string decimal(double value)
{
    char buffer[32];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return ec == std::errc{} ? std::string(buffer, end) : std::string("0");
}

std::string withoutExtension(const std::string& name)
{
    const std::size_t dot = name.rfind('.');
    const std::size_t slash = name.rfind('/');
    if (dot == std::string::npos || dot == 0 || (slash != std::string::npos && dot <= slash + 1))
        return name;
    return name.substr(0, dot);
}

bool naturalLess(const std::string& a, const std::string& b)
{
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            std::size_t ei = i, ej = j;
            while (ei < a.size() && isDigit(a[ei]))
                ++ei;
            while (ej < b.size() && isDigit(b[ej]))
                ++ej;
            std::size_t zi = i, zj = j;  // skip leading zeros
            while (zi + 1 < ei && a[zi] == '0')
                ++zi;
            while (zj + 1 < ej && b[zj] == '0')
                ++zj;
            if (ei - zi != ej - zj)
                return ei - zi < ej - zj;
            const int c = a.compare(zi, ei - zi, b, zj, ej - zj);
            if (c != 0)
                return c < 0;
            i = ei;
            j = ej;
            continue;
        }
        if (a[i] != b[j])
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size())
        return j < b.size();
    return a < b;
}

std::vector<Animation> animationsOf(const std::vector<std::string>& names, bool extensions)
{
    struct Frame {
        long number;
        std::string name;
    };
    std::map<std::string, std::vector<Frame>> groups;
    for (const std::string& name : names)
        if (const auto n = numberedName(name, extensions))
            groups[n->group].push_back({std::stol(n->number), name});
    std::vector<Animation> out;
    for (auto& [group, frames] : groups) {
        if (frames.size() < 2)
            continue;
        // By number, whatever comes between the name and the number:
        // walk_1, walk2, walk-3.
        std::sort(frames.begin(), frames.end(), [](const Frame& a, const Frame& b) {
            return a.number != b.number ? a.number < b.number : naturalLess(a.name, b.name);
        });
        Animation& a = out.emplace_back(Animation{group, {}});
        for (Frame& f : frames)
            a.frames.push_back(std::move(f.name));
    }
    std::sort(
        out.begin(), out.end(), [](const Animation& a, const Animation& b) { return naturalLess(a.name, b.name); });
    return out;
}

}  // namespace vintrix

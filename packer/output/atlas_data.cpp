#include "atlas_data.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <string_view>

#include "atlas_json.h"
#include "error.h"
#include "utf8.h"

namespace vintrix {
namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

struct Numbered {
    std::string group;
    std::string number;  // the digits as written
};

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

// Frames in natural order, as every format lists them.
std::vector<AtlasFrame> naturallySorted(std::vector<AtlasFrame> frames)
{
    std::stable_sort(frames.begin(), frames.end(),
        [](const AtlasFrame& a, const AtlasFrame& b) { return naturalLess(a.name, b.name); });
    return frames;
}

std::string libgdxAtlas(
    const std::vector<AtlasSheet>& sheets, const std::vector<Animation>& animations, AnimationNaming naming)
{
    // A frame of an animation goes by its group's name and its number, and
    // comes after the frames before it, as a loader that keeps the order
    // of the file plays them.
    struct Region {
        std::string name;
        long index = -1;
    };
    std::map<std::string, Region> regions;  // by frame name
    for (const Animation& a : animations)
        for (const std::string& frame : a.frames) {
            const Numbered n = *numberedName(frame, naming.extensions);
            regions[frame] = {n.group, std::stol(n.number)};
        }
    const auto region = [&](const std::string& frame) {
        const auto it = regions.find(frame);
        return it != regions.end() ? it->second : Region{frame};
    };
    std::string out;
    for (std::size_t s = 0; s < sheets.size(); ++s) {
        const AtlasMeta& meta = sheets[s].meta;
        out += (s ? "\n" : "") + meta.image + "\n";
        out += "size: " + std::to_string(meta.w) + ", " + std::to_string(meta.h) + "\n";
        // The format in which the loader keeps the texture: an 8-bit sheet loads as RGBA too.
        out += "format: RGBA8888\nfilter: Nearest, Nearest\nrepeat: none\n";
        if (meta.premultipliedAlpha)
            out += "pma: true\n";
        std::vector<std::pair<Region, const AtlasFrame*>> frames;
        for (const AtlasFrame& f : sheets[s].frames)
            frames.emplace_back(region(f.name), &f);
        std::stable_sort(frames.begin(), frames.end(), [](const auto& a, const auto& b) {
            if (a.first.name != b.first.name)
                return naturalLess(a.first.name, b.first.name);
            return a.first.index < b.first.index;
        });
        for (const auto& [r, frame] : frames) {
            const AtlasFrame& f = *frame;
            const int sourceW = f.trimmed ? f.sourceW : f.w, sourceH = f.trimmed ? f.sourceH : f.h;
            const int offsetX = f.trimmed ? f.sourceX : 0;
            const int offsetY = f.trimmed ? f.sourceH - f.sourceY - f.h : 0;  // from the bottom
            out += r.name + "\n";
            out += std::string("  rotate: ") + (f.rotated ? "true" : "false") + "\n";
            out += "  xy: " + std::to_string(f.x) + ", " + std::to_string(f.y) + "\n";
            out += "  size: " + std::to_string(f.w) + ", " + std::to_string(f.h) + "\n";
            out += "  orig: " + std::to_string(sourceW) + ", " + std::to_string(sourceH) + "\n";
            out += "  offset: " + std::to_string(offsetX) + ", " + std::to_string(offsetY) + "\n";
            out += "  index: " + std::to_string(r.index) + "\n";
        }
    }
    return out;
}

// The animations whose frames are all on `sheet`: a data file per sheet can
// name only its own frames, and one that lists part of an animation would
// play it cut short.
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

}  // namespace

std::string sheetBase(const std::string& name, int sheet)
{
    return sheet == 0 ? name : name + "-" + std::to_string(sheet + 1);
}

std::string withoutExtension(const std::string& name)
{
    const std::size_t dot = name.rfind('.');
    const std::size_t slash = name.rfind('/');
    if (dot == std::string::npos || dot == 0 || (slash != std::string::npos && dot <= slash + 1))
        return name;
    return name.substr(0, dot);
}

bool rotatesClockwise(DataFormat format)
{
    return format != DataFormat::Libgdx;
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

void checkDataNames(DataFormat format, const std::string& name, const std::vector<std::string>& frameNames)
{
    if (format != DataFormat::Libgdx)
        return;
    const auto unwritable = [](const std::string& text) {
        return text.empty() || text.front() == ' ' || text.back() == ' ' ||
            std::any_of(text.begin(), text.end(),
                [](char c) { return c == ':' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
    };
    if (unwritable(name))
        throw ArgumentError("the libGDX atlas cannot name the sheets of " + quoted(name) +
            ": choose a name without \":\" and without blanks at its ends");
    for (const std::string& frame : frameNames)
        if (unwritable(frame))
            throw InputError("the libGDX atlas cannot name " + quoted(frame) +
                ": its lines cannot hold a \":\", a control character or blanks at the ends of a name, so rename "
                "the file");
}

std::vector<std::string> atlasDataFiles(DataFormat format, const std::string& name, int sheets)
{
    if (format == DataFormat::Phaser3)
        return {name + ".json"};
    if (format == DataFormat::Libgdx)
        return {name + ".atlas"};
    std::vector<std::string> files;
    for (int s = sheets - 1; s >= 0; --s)
        files.push_back(sheetBase(name, s) + ".json");
    return files;
}

std::vector<std::string> atlasData(
    DataFormat format, const std::string& name, std::vector<AtlasSheet> sheets, AnimationNaming naming)
{
    if (sheets.empty())
        return {};
    std::vector<std::string> names;
    for (AtlasSheet& sheet : sheets) {
        sheet.frames = naturallySorted(std::move(sheet.frames));
        for (const AtlasFrame& f : sheet.frames)
            names.push_back(f.name);
    }
    const std::vector<Animation> animations =
        naming.group ? animationsOf(names, naming.extensions) : std::vector<Animation>{};
    if (format == DataFormat::Phaser3)
        return {phaserMultiAtlas(sheets, sheets[0].meta.version)};
    if (format == DataFormat::Libgdx)
        return {libgdxAtlas(sheets, animations, naming)};

    for (std::size_t s = 1; s < sheets.size(); ++s)
        sheets[0].meta.relatedMultiPacks.push_back(sheetBase(name, static_cast<int>(s)) + ".json");
    std::vector<std::string> texts;
    for (std::size_t s = sheets.size(); s-- > 0;) {
        const AtlasSheet& sheet = sheets[s];
        const std::vector<Animation> groups = animationsOn(sheet, animations);
        texts.push_back(format == DataFormat::JsonArray ? atlasJsonArray(sheet.frames, sheet.meta, groups)
                                                        : atlasJson(sheet.frames, sheet.meta, groups));
    }
    return texts;
}

}  // namespace vintrix

#include "libgdx_atlas.h"

#include <algorithm>
#include <map>

#include "error.h"
#include "utf8.h"

namespace vintrix {

std::vector<std::string> libgdxData(const AtlasInput& input)
{
    const std::vector<AtlasSheet>& sheets = input.sheets;
    // A frame of an animation goes by its group's name and its number, and
    // comes after the frames before it, as a loader that keeps the order
    // of the file plays them.
    struct Region {
        std::string name;
        long index = -1;
    };
    std::map<std::string, Region> regions;  // by frame name
    for (const Animation& a : input.animations)
        for (const std::string& frame : a.frames) {
            const Numbered n = *numberedName(frame, input.naming.extensions);
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
            // A nine-slice and a nine-patch's padding, left, right, top,
            // bottom, before orig as loaders that read the fields in order
            // expect them.
            const auto borders = [](const Borders& b) {
                return std::to_string(b.left) + ", " + std::to_string(b.right) + ", " + std::to_string(b.top) + ", " +
                    std::to_string(b.bottom) + "\n";
            };
            if (f.nineSlice) {
                out += "  split: " + borders(*f.nineSlice);
                if (f.padding)
                    out += "  pad: " + borders(*f.padding);
            }
            out += "  orig: " + std::to_string(sourceW) + ", " + std::to_string(sourceH) + "\n";
            out += "  offset: " + std::to_string(offsetX) + ", " + std::to_string(offsetY) + "\n";
            out += "  index: " + std::to_string(r.index) + "\n";
        }
    }
    return {out};
}

void checkLibgdxNames(const std::string& name, const std::vector<std::string>& frames, AnimationNaming)
{
    const auto unwritable = [](const std::string& text) {
        return text.empty() || text.front() == ' ' || text.back() == ' ' ||
            std::any_of(text.begin(), text.end(),
                [](char c) { return c == ':' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
    };
    if (unwritable(name))
        throw ArgumentError("the libGDX atlas cannot name the sheets of " + quoted(name) +
            ": choose a name without \":\" and without blanks at its ends");
    for (const std::string& frame : frames)
        if (unwritable(frame))
            throw InputError("the libGDX atlas cannot name " + quoted(frame) +
                ": its lines cannot hold a \":\", a control character or blanks at the ends of a name, so rename "
                "the file");
}

}  // namespace vintrix

#include "data_formats.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>

#include "atlas_json.h"
#include "css_sprites.h"
#include "godot_resources.h"
#include "libgdx_atlas.h"
#include "starling_xml.h"

namespace vintrix {
namespace {

const DataFormat kDataFormats[] = {
    {.name = "json-hash",
        .help = "the default: NAME.json, NAME-2.json, ..., frames keyed by name",
        .files = DataFiles::EachSheet,
        .extensions = {".json"},
        .write = jsonHashData,
        .holdsAnimations = true},
    {.name = "json-array",
        .help = "the same files with the frames in an array",
        .files = DataFiles::EachSheet,
        .extensions = {".json"},
        .write = jsonArrayData,
        .holdsAnimations = true},
    {.name = "phaser3",
        .help = "one NAME.json listing every sheet (Phaser 3 multi-atlas)",
        .files = DataFiles::OneForAll,
        .extensions = {".json"},
        .write = phaser3Data},
    {.name = "libgdx",
        .help = "one NAME.atlas listing every sheet (libGDX TextureAtlas)",
        .files = DataFiles::OneForAll,
        .extensions = {".atlas"},
        .write = libgdxData,
        .turnsClockwise = false,
        .holdsAnimations = true,
        .checkNames = checkLibgdxNames},
    {.name = "starling",
        .help = "NAME.xml, NAME-2.xml, ... (Starling, Sparrow, Phaser's atlasXML)",
        .files = DataFiles::EachSheet,
        .extensions = {".xml"},
        .write = starlingData,
        .checkNames = checkStarlingNames},
    {.name = "css",
        .help = "NAME.css, a class a frame, and NAME.html showing every frame",
        .files = DataFiles::OneForAll,
        .extensions = {".html", ".css"},
        .write = cssData,
        .withoutTrim = "a CSS background shows a frame as its region of the sheet, without the trimmed borders",
        .withoutRotation = "a CSS background shows a frame as its region of the sheet, and cannot turn it back",
        .withoutPremultiplied = "browsers take a sheet's colours as not premultiplied, and would darken its edges",
        .withoutColourKey =
            "browsers would show its colour key, magenta, where the sprites are transparent; choose PNG "
            "(format 1) or 32 bits per pixel",
        .checkNames = checkCssNames},
    {.name = "godot",
        .help = "a folder NAME/ of Godot 4 AtlasTextures, NAME.tres the animations",
        .files = DataFiles::Named,
        .extensions = {".tres"},
        .write = godotData,
        .names = godotFiles,
        .withoutRotation = "Godot's AtlasTexture cannot turn a region back",
        .holdsAnimations = true,
        .checkNames = checkGodotNames},
};

}  // namespace

std::span<const DataFormat> dataFormats()
{
    return kDataFormats;
}

const DataFormat* dataFormatNamed(std::string_view name)
{
    for (const DataFormat& f : kDataFormats)
        if (f.name == name)
            return &f;
    return nullptr;
}

const DataFormat& defaultDataFormat()
{
    return kDataFormats[0];
}

std::string dataFormatNames()
{
    std::string names;
    for (std::size_t i = 0; i < std::size(kDataFormats); ++i) {
        if (i > 0)
            names += i + 1 == std::size(kDataFormats) ? " or " : ", ";
        names += kDataFormats[i].name;
    }
    return names;
}

bool isDataExtension(std::string_view extension)
{
    return !extension.empty() &&
        std::any_of(
            std::begin(kDataFormats), std::end(kDataFormats),
            [&](const auto& f) {
                return std::find(f.extensions.begin(), f.extensions.end(), extension) != f.extensions.end();
            });
}

AtlasData atlasData(
    const DataFormat& format, const std::string& name, std::vector<AtlasSheet> sheets, AnimationNaming naming)
{
    if (sheets.empty())
        return {};
    AtlasInput input{name, std::move(sheets), {}, naming};
    std::vector<std::string> names;
    for (AtlasSheet& sheet : input.sheets) {
        std::stable_sort(sheet.frames.begin(), sheet.frames.end(),
            [](const AtlasFrame& a, const AtlasFrame& b) { return naturalLess(a.name, b.name); });
        for (const AtlasFrame& f : sheet.frames)
            names.push_back(f.name);
    }
    if (naming.group && format.holdsAnimations)
        input.animations = animationsOf(names, naming.extensions);

    std::vector<std::string> texts = format.write(input);
    AtlasData data;
    std::vector<DataFile>& files = data.files;
    if (format.files == DataFiles::EachSheet) {
        std::unordered_map<std::string_view, std::size_t> sheetOf;
        for (std::size_t s = 0; s < input.sheets.size(); ++s)
            for (const AtlasFrame& f : input.sheets[s].frames)
                sheetOf.emplace(f.name, s);
        for (const Animation& a : input.animations)
            if (std::any_of(a.frames.begin(), a.frames.end(),
                    [&](const std::string& f) { return sheetOf.at(f) != sheetOf.at(a.frames.front()); }))
                data.splitAnimations.push_back(a.name);
        // The first sheet's file, which names the others, last.
        for (std::size_t s = texts.size(); s-- > 0;)
            files.push_back(
                {sheetBase(name, static_cast<int>(s)) + std::string(format.extensions[0]), std::move(texts[s])});
    } else if (format.files == DataFiles::OneForAll) {
        for (std::size_t i = 0; i < texts.size(); ++i)
            files.push_back({name + std::string(format.extensions[i]), std::move(texts[i])});
    } else {
        std::vector<std::string> paths = format.names(input);
        for (std::size_t i = 0; i < texts.size(); ++i)
            files.push_back({std::move(paths[i]), std::move(texts[i])});
    }
    return data;
}

}  // namespace vintrix

#include "atlas_json.h"

#include "utf8.h"

#include <cstdio>

namespace vintrix {
namespace {

std::string rect(int x, int y, int w, int h)
{
    return "{\"x\":" + std::to_string(x) + ",\"y\":" + std::to_string(y) + ",\"w\":" + std::to_string(w) +
        ",\"h\":" + std::to_string(h) + "}";
}

std::string size(int w, int h)
{
    return "{\"w\":" + std::to_string(w) + ",\"h\":" + std::to_string(h) + "}";
}

}  // namespace

std::string jsonString(std::string_view text)
{
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            const std::size_t n = utf8Length(text.substr(i));
            if (n == 0) {
                out += "\\ufffd";
                ++i;
            } else {
                out.append(text.substr(i, n));
                i += n;
            }
            continue;
        }
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
        ++i;
    }
    out += '"';
    return out;
}

namespace {

// The fields of one frame, a tab more indented than `indent`, without the
// braces around them.
std::string frameFields(const AtlasFrame& f, const std::string& indent)
{
    const std::string in = indent + "\t";
    std::string out = in + "\"frame\": " + rect(f.x, f.y, f.w, f.h) + ",\n";
    out += in + "\"rotated\": " + (f.rotated ? "true" : "false") + ",\n";
    out += in + "\"trimmed\": " + (f.trimmed ? "true" : "false") + ",\n";
    if (f.trimmed) {
        out += in + "\"spriteSourceSize\": " + rect(f.sourceX, f.sourceY, f.w, f.h) + ",\n";
        out += in + "\"sourceSize\": " + size(f.sourceW, f.sourceH);
    } else {
        out += in + "\"spriteSourceSize\": " + rect(0, 0, f.w, f.h) + ",\n";
        out += in + "\"sourceSize\": " + size(f.w, f.h);
    }
    // As PixiJS reads them: the anchor in fractions of the original image,
    // the borders of a nine-slice in its pixels.
    if (f.pivot)
        out += ",\n" + in + "\"anchor\": {\"x\":" + decimal(f.pivot->x) + ",\"y\":" + decimal(f.pivot->y) + "}";
    if (const auto& b = f.nineSlice)
        out += ",\n" + in + "\"borders\": {\"left\":" + std::to_string(b->left) + ",\"top\":" + std::to_string(b->top) +
            ",\"right\":" + std::to_string(b->right) + ",\"bottom\":" + std::to_string(b->bottom) + "}";
    return out + "\n";
}

std::string metaFields(const AtlasMeta& meta)
{
    std::string out = "\t\"app\": \"Vintrix\",\n";
    out += "\t\"version\": " + jsonString(meta.version) + ",\n";
    out += "\t\"image\": " + jsonString(meta.image) + ",\n";
    out += "\t\"format\": " + jsonString(meta.format) + ",\n";
    out += "\t\"size\": " + size(meta.w, meta.h) + ",\n";
    out += "\t\"scale\": " + jsonString(meta.scale);
    if (!meta.relatedMultiPacks.empty()) {
        out += ",\n\t\"related_multi_packs\": [";
        for (std::size_t i = 0; i < meta.relatedMultiPacks.size(); ++i)
            out += (i ? ", " : "") + jsonString(meta.relatedMultiPacks[i]);
        out += "]";
    }
    return out;
}

std::string animationsField(const std::vector<Animation>& animations)
{
    if (animations.empty())
        return {};
    std::string out = "\"animations\": {";
    for (std::size_t a = 0; a < animations.size(); ++a) {
        out += (a ? ",\n\t" : "\n\t") + jsonString(animations[a].name) + ": [";
        for (std::size_t i = 0; i < animations[a].frames.size(); ++i)
            out += (i ? ", " : "") + jsonString(animations[a].frames[i]);
        out += "]";
    }
    return out + "\n},\n";
}

// One sheet's JSON: frames keyed by name (the hash), or listed in an array,
// each with its "filename".
std::string jsonSheet(
    bool keyed, const std::vector<AtlasFrame>& frames, const AtlasMeta& meta, const std::vector<Animation>& animations)
{
    std::string out = keyed ? "{\"frames\": {" : "{\"frames\": [";
    for (std::size_t i = 0; i < frames.size(); ++i) {
        out += i == 0 ? "\n" : ",\n";
        out += keyed ? "\t" + jsonString(frames[i].name) + ": {\n"
                     : "\t{\n\t\t\"filename\": " + jsonString(frames[i].name) + ",\n";
        out += frameFields(frames[i], "\t") + "\t}";
    }
    out += keyed ? "\n},\n" : "\n],\n";
    out += animationsField(animations) + "\"meta\": {\n" + metaFields(meta) + "\n}\n}\n";
    return out;
}

}  // namespace

std::string atlasJson(
    const std::vector<AtlasFrame>& frames, const AtlasMeta& meta, const std::vector<Animation>& animations)
{
    return jsonSheet(true, frames, meta, animations);
}

std::string atlasJsonArray(
    const std::vector<AtlasFrame>& frames, const AtlasMeta& meta, const std::vector<Animation>& animations)
{
    return jsonSheet(false, frames, meta, animations);
}

namespace {

std::vector<std::string> jsonSheets(bool keyed, const AtlasInput& input)
{
    std::vector<std::string> texts;
    for (std::size_t s = 0; s < input.sheets.size(); ++s) {
        const AtlasSheet& sheet = input.sheets[s];
        AtlasMeta meta = sheet.meta;
        if (s == 0)
            for (std::size_t other = 1; other < input.sheets.size(); ++other)
                meta.relatedMultiPacks.push_back(sheetBase(input.name, static_cast<int>(other)) + ".json");
        texts.push_back(jsonSheet(keyed, sheet.frames, meta, animationsOn(sheet, input.animations)));
    }
    return texts;
}

}  // namespace

std::vector<std::string> jsonHashData(const AtlasInput& input)
{
    return jsonSheets(true, input);
}

std::vector<std::string> jsonArrayData(const AtlasInput& input)
{
    return jsonSheets(false, input);
}

std::vector<std::string> phaser3Data(const AtlasInput& input)
{
    return {phaserMultiAtlas(input.sheets, input.sheets[0].meta.version)};
}

std::string phaserMultiAtlas(const std::vector<AtlasSheet>& sheets, const std::string& version)
{
    std::string out = "{\"textures\": [";
    for (std::size_t s = 0; s < sheets.size(); ++s) {
        const AtlasMeta& meta = sheets[s].meta;
        out += s == 0 ? "\n" : ",\n";
        out += "\t{\n\t\t\"image\": " + jsonString(meta.image) + ",\n";
        out += "\t\t\"format\": " + jsonString(meta.format) + ",\n";
        out += "\t\t\"size\": " + size(meta.w, meta.h) + ",\n";
        out += "\t\t\"scale\": " + meta.scale + ",\n";
        out += "\t\t\"frames\": [";
        const std::vector<AtlasFrame>& frames = sheets[s].frames;
        for (std::size_t i = 0; i < frames.size(); ++i) {
            out += i == 0 ? "\n" : ",\n";
            out += "\t\t\t{\n\t\t\t\t\"filename\": " + jsonString(frames[i].name) + ",\n" +
                frameFields(frames[i], "\t\t\t") + "\t\t\t}";
        }
        out += frames.empty() ? "]\n\t}" : "\n\t\t]\n\t}";
    }
    out += "\n],\n\"meta\": {\n\t\"app\": \"Vintrix\",\n\t\"version\": " + jsonString(version) + "\n}\n}\n";
    return out;
}

}  // namespace vintrix

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

std::string atlasJson(const std::vector<AtlasFrame>& frames, const AtlasMeta& meta)
{
    std::string out = "{\"frames\": {";
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const AtlasFrame& f = frames[i];
        out += i == 0 ? "\n" : ",\n";
        out += "\t" + jsonString(f.name) + ": {\n";
        out += "\t\t\"frame\": " + rect(f.x, f.y, f.w, f.h) + ",\n";
        out += std::string("\t\t\"rotated\": ") + (f.rotated ? "true" : "false") + ",\n";
        out += std::string("\t\t\"trimmed\": ") + (f.trimmed ? "true" : "false") + ",\n";
        out +=
            "\t\t\"spriteSourceSize\": " + (f.trimmed ? rect(f.sourceX, f.sourceY, f.w, f.h) : rect(0, 0, f.w, f.h)) +
            ",\n";
        out += "\t\t\"sourceSize\": " + (f.trimmed ? size(f.sourceW, f.sourceH) : size(f.w, f.h)) + "\n";
        out += "\t}";
    }
    out += "\n},\n\"meta\": {\n";
    out += "\t\"app\": \"Vintrix\",\n";
    out += "\t\"version\": " + jsonString(meta.version) + ",\n";
    out += "\t\"image\": " + jsonString(meta.image) + ",\n";
    out += "\t\"format\": " + jsonString(meta.format) + ",\n";
    out += "\t\"size\": " + size(meta.w, meta.h) + ",\n";
    out += "\t\"scale\": \"1\"";
    if (!meta.relatedMultiPacks.empty()) {
        out += ",\n\t\"related_multi_packs\": [";
        for (std::size_t i = 0; i < meta.relatedMultiPacks.size(); ++i)
            out += (i ? ", " : "") + jsonString(meta.relatedMultiPacks[i]);
        out += "]";
    }
    out += "\n}\n}\n";
    return out;
}

}  // namespace vintrix

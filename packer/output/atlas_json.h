#pragma once
// Atlas data in the JSON-hash layout: "frames" keyed by file name, then
// "meta". Output is byte for byte the same for the same input.

#include <string>
#include <string_view>
#include <vector>

namespace vintrix {

struct AtlasFrame {
    std::string name;                // UTF-8 file name
    int x = 0, y = 0, w = 0, h = 0;  // the region's top left on the sheet; the sprite's unrotated (trimmed) size
    bool rotated = false;            // stored on the sheet turned 90 degrees clockwise (region is h wide, w high)
    bool trimmed = false;
    int sourceX = 0, sourceY = 0;  // where the stored (trimmed) pixels sit in the original image
    int sourceW = 0, sourceH = 0;  // the original image's size
};

struct AtlasMeta {
    std::string version;
    std::string image;   // the sheet's file name
    std::string format;  // "RGBA8888" or "INDEXED8"
    int w = 0, h = 0;
    std::vector<std::string> relatedMultiPacks;  // only on the first sheet
    bool premultipliedAlpha = false;
};

// Frames are written in the order given.
std::string atlasJson(const std::vector<AtlasFrame>& frames, const AtlasMeta& meta);

// A JSON string literal. Bytes that are not valid UTF-8 become U+FFFD, so
// two such names could share a key: Vintrix refuses them before packing.
std::string jsonString(std::string_view text);

}  // namespace vintrix

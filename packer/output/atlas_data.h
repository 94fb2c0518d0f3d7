#pragma once
// The atlas data formats Vintrix writes beside its sheets.

namespace vintrix {

enum class DataFormat {
    JsonHash,   // one JSON file a sheet, frames keyed by name (PixiJS, TexturePacker's hash)
    JsonArray,  // the same, frames as an array with a "filename" each
    Phaser3,    // one JSON file listing every sheet under "textures" (Phaser 3 multi-atlas)
    Libgdx,     // one .atlas text file listing every sheet (libGDX TextureAtlas)
};

}  // namespace vintrix

#pragma once
// Atlas data in the common JSON layouts of sprite packers: a hash of
// frames keyed by name (PixiJS), an array of frames (Phaser's atlas), and
// Phaser 3's multi-atlas of every sheet in one file. Output is byte for byte
// the same for the same input.

#include <string>
#include <string_view>
#include <vector>

#include "atlas_data.h"

namespace vintrix {

// Frames and animations are written in the order given; "animations" (as
// PixiJS reads it) only when there are any.
std::string atlasJson(
    const std::vector<AtlasFrame>& frames, const AtlasMeta& meta, const std::vector<Animation>& animations = {});
std::string atlasJsonArray(
    const std::vector<AtlasFrame>& frames, const AtlasMeta& meta, const std::vector<Animation>& animations = {});

// Every sheet in one file, as Phaser 3's multi-atlas loader reads it.
std::string phaserMultiAtlas(const std::vector<AtlasSheet>& sheets, const std::string& version);

// The writers of the table: a text a sheet, the first naming the others
// under "related_multi_packs", each with the animations whose frames are
// all on its sheet; or Phaser 3's one text.
std::vector<std::string> jsonHashData(const AtlasInput& input);
std::vector<std::string> jsonArrayData(const AtlasInput& input);
std::vector<std::string> phaser3Data(const AtlasInput& input);

// A JSON string literal. Bytes that are not valid UTF-8 become U+FFFD, so
// two such names could share a key: Vintrix refuses them before packing.
std::string jsonString(std::string_view text);

}  // namespace vintrix

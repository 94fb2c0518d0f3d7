#pragma once
// Godot 4's own resources, which it loads with no plugin: a folder NAME/
// beside the sheets with an AtlasTexture KEY.tres a frame, and with
// animations NAME.tres, a SpriteFrames that plays them.

#include <string>
#include <vector>

#include "atlas_data.h"

namespace vintrix {

// The files, in the output folder: NAME/KEY.tres for each frame in the
// order of the sheets, KEY its name without the extension (a --recursive
// name in the folders of its path), then NAME.tres with animations.
std::vector<std::string> godotFiles(const AtlasInput& input);

// Their texts, in the same order.
std::vector<std::string> godotData(const AtlasInput& input);

// Two frames of one file, and names Godot's text cannot hold.
void checkGodotNames(const std::string& name, const std::vector<std::string>& frames, AnimationNaming naming);

}  // namespace vintrix

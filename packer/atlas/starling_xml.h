#pragma once
// Sparrow's and Starling's texture atlas XML, which Phaser's atlasXML loader
// reads too: a NAME.xml a sheet, one SubTexture a frame.

#include <string>
#include <vector>

#include "atlas_data.h"

namespace vintrix {

std::vector<std::string> starlingData(const AtlasInput& input);

// XML 1.0 cannot hold most control characters, nor U+FFFE and U+FFFF, and
// Starling's reader drops blanks at the ends of a name.
void checkStarlingNames(const std::string& name, const std::vector<std::string>& frames, AnimationNaming naming);

}  // namespace vintrix

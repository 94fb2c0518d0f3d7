#pragma once
// libGDX's TextureAtlas text format: one NAME.atlas with a page for every
// sheet, each region a name and indented "key: value" lines.

#include <string>
#include <vector>

#include "atlas_data.h"

namespace vintrix {

// One text: every sheet's page. An animation's frames are one name with an
// index each, listed in the order of their indices.
std::vector<std::string> libgdxData(const AtlasInput& input);

// The text format has no quoting for a ":", a line break or blanks at the
// ends of a name.
void checkLibgdxNames(const std::string& name, const std::vector<std::string>& frames, AnimationNaming naming);

}  // namespace vintrix

#pragma once
// CSS sprites: NAME.css with a rule a frame, which shows its region of the
// sheet as the element's background, and NAME.html, a page that shows every
// frame by its class.

#include <string>
#include <vector>

#include "atlas_data.h"

namespace vintrix {

// The page, then the style sheet.
std::vector<std::string> cssData(const AtlasInput& input);

// The class of the frame `frame` of the output `name`, as an HTML class
// attribute gives it: NAME-KEY, KEY the frame's name without its extension,
// blanks and "/" made "-".
std::string cssClass(const std::string& name, const std::string& frame, AnimationNaming naming);

// Two frames of one class would share one rule.
void checkCssNames(const std::string& name, const std::vector<std::string>& frames, AnimationNaming naming);

}  // namespace vintrix

#pragma once
// Text inside XML or HTML markup, written by the Starling and CSS writers.

#include <string>
#include <string_view>

namespace vintrix {

// `text` fit for an attribute's double quotes or for the text between tags:
// the characters that would end or start markup as entities, and the
// blanks that a reader would turn into spaces as references.
std::string markupText(std::string_view text);

}  // namespace vintrix
